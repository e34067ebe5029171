#include "net/LogReceiver.h"

#include <QUdpSocket>
#include <QVariant>

#include <algorithm>
#include <cstring>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace velth {
namespace {

constexpr std::string_view kHeader("\xFF\xFF\xFF\xFF", 4);

bool startsWith(std::string_view s, std::string_view prefix)
{
    return s.substr(0, prefix.size()) == prefix;
}

} // namespace

LogDatagram readLogDatagram(std::string_view datagram, std::string_view secret)
{
    if (datagram.size() > kMaxLogDatagram)
        return { LogDatagramKind::TooLong, {} };
    if (!startsWith(datagram, kHeader))
        return { LogDatagramKind::Malformed, {} };
    std::string_view rest = datagram.substr(kHeader.size());
    if (startsWith(rest, "log ")) {
        // A server with a secret never sends this form: it is somebody else's.
        if (!secret.empty())
            return { LogDatagramKind::WrongSecret, {} };
        rest.remove_prefix(4);
    } else if (startsWith(rest, "S")) {
        rest.remove_prefix(1);
        if (secret.empty() || !startsWith(rest, secret))
            return { LogDatagramKind::WrongSecret, {} };
        rest.remove_prefix(secret.size());
    } else {
        return { LogDatagramKind::Malformed, {} };
    }
    if (!rest.empty() && rest.back() == '\0')
        rest.remove_suffix(1);
    if (!rest.empty() && rest.back() == '\n')
        rest.remove_suffix(1);
    if (!rest.empty() && rest.back() == '\r')
        rest.remove_suffix(1);
    // One search per character (find_first_of would call memchr per byte).
    constexpr auto npos = std::string_view::npos;
    if (!startsWith(rest, "L ") || rest.find('\n') != npos || rest.find('\r') != npos || rest.find('\0') != npos)
        return { LogDatagramKind::Malformed, {} };
    return { LogDatagramKind::Line, rest };
}

void LogLineBatch::add(std::string_view line)
{
    m_bytes.append(line);
    m_ends.push_back(m_bytes.size());
}

void LogLineBatch::clear()
{
    m_bytes.clear();
    m_ends.clear();
}

std::optional<QHostAddress> localAddressToward(const QHostAddress& remote, quint16 port)
{
    sockaddr_storage to{};
    socklen_t toLength = 0;
    bool ok = false;
    const quint32 v4 = remote.toIPv4Address(&ok);
    if (ok) {
        auto* in = reinterpret_cast<sockaddr_in*>(&to);
        in->sin_family = AF_INET;
        in->sin_port = htons(port);
        in->sin_addr.s_addr = htonl(v4);
        toLength = sizeof(sockaddr_in);
    } else if (remote.protocol() == QAbstractSocket::IPv6Protocol) {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&to);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(port);
        const Q_IPV6ADDR bytes = remote.toIPv6Address();
        std::memcpy(&in6->sin6_addr, bytes.c, sizeof(bytes.c));
        toLength = sizeof(sockaddr_in6);
    } else {
        return std::nullopt;
    }
    // Connecting a UDP socket only picks the route: nothing is sent, nothing waits.
    const int fd = ::socket(to.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return std::nullopt;
    std::optional<QHostAddress> out;
    sockaddr_storage own{};
    socklen_t ownLength = sizeof(own);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), toLength) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr*>(&own), &ownLength) == 0) {
        QHostAddress address(reinterpret_cast<const sockaddr*>(&own));
        if (!address.isNull() && address != QHostAddress::AnyIPv4 && address != QHostAddress::AnyIPv6)
            out = address;
    }
    ::close(fd);
    return out;
}

LogReceiver::LogReceiver(QObject* parent)
    : QObject(parent)
    , m_buffer(kMaxLogDatagram + 1)
{ }

LogReceiver::~LogReceiver() = default;

std::optional<std::string> LogReceiver::listen(quint16 port, const QHostAddress& address)
{
    close();
    m_socket = new QUdpSocket(this);
    // A port another program holds is refused rather than shared.
    if (!m_socket->bind(address, port, QAbstractSocket::DontShareAddress)) {
        std::string error = m_socket->errorString().toStdString();
        delete m_socket;
        m_socket = nullptr;
        return "Cannot listen on UDP port " + std::to_string(port) + ": " + error;
    }
    // Room for a burst while the window is busy (the system may give less).
    m_socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, QVariant(4 << 20));
    connect(m_socket, &QUdpSocket::readyRead, this, &LogReceiver::readPending);
    return std::nullopt;
}

void LogReceiver::close()
{
    delete m_socket;
    m_socket = nullptr;
    m_queue.clear();
}

bool LogReceiver::isListening() const
{
    return m_socket != nullptr;
}

quint16 LogReceiver::port() const
{
    return m_socket ? m_socket->localPort() : 0;
}

void LogReceiver::setSources(const QList<QHostAddress>& addresses)
{
    m_sources = addresses;
}

void LogReceiver::setSecret(std::string secret)
{
    m_secret = std::move(secret);
}

void LogReceiver::setQueueLimit(std::size_t lines)
{
    m_queueLimit = std::min(lines, kMaxQueuedLines);
}

LogLineBatch LogReceiver::takeLines()
{
    LogLineBatch out;
    std::swap(out, m_queue);
    return out;
}

bool LogReceiver::fromSource(const QHostAddress& sender) const
{
    for (const QHostAddress& source : m_sources)
        if (source.isEqual(sender, QHostAddress::TolerantConversion))
            return true;
    return false;
}

std::uint64_t LogReceiver::droppedCount() const
{
    const Counts& c = m_counts;
    return c.foreign + c.malformed + c.wrongSecret + c.tooLong + c.overflow;
}

void LogReceiver::readPending()
{
    const bool wasEmpty = m_queue.empty();
    const std::uint64_t droppedBefore = droppedCount();
    while (m_socket && m_socket->hasPendingDatagrams()) {
        const qint64 pending = m_socket->pendingDatagramSize();
        QHostAddress sender;
        // One byte more than the longest datagram taken tells a longer one.
        const qint64 size = m_socket->readDatagram(m_buffer.data(), static_cast<qint64>(m_buffer.size()), &sender);
        if (size < 0)
            continue;
        if (!fromSource(sender)) {
            ++m_counts.foreign;
            continue;
        }
        const std::size_t length = pending > size ? m_buffer.size() : static_cast<std::size_t>(size);
        const LogDatagram datagram = readLogDatagram(std::string_view(m_buffer.data(), length), m_secret);
        switch (datagram.kind) {
        case LogDatagramKind::Line:
            if (m_queue.size() >= m_queueLimit || m_queue.bytes() + datagram.line.size() > kMaxQueuedBytes) {
                ++m_counts.overflow;
                break;
            }
            m_queue.add(datagram.line);
            ++m_counts.lines;
            break;
        case LogDatagramKind::Malformed:
            ++m_counts.malformed;
            break;
        case LogDatagramKind::WrongSecret:
            ++m_counts.wrongSecret;
            break;
        case LogDatagramKind::TooLong:
            ++m_counts.tooLong;
            break;
        }
    }
    if (wasEmpty && !m_queue.empty())
        Q_EMIT linesReady();
    if (droppedCount() != droppedBefore)
        Q_EMIT dropped();
}

} // namespace velth
