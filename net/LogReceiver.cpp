#include "net/LogReceiver.h"

#include <QTimer>
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

std::optional<LoggedRequest> readLoggedRequest(std::string_view line)
{
    // "L MM/DD/YYYY - hh:mm:ss: ": the first colon and space ends the stamp.
    const std::size_t stamp = line.find(": ");
    if (!startsWith(line, "L ") || stamp == std::string_view::npos)
        return std::nullopt;
    std::string_view event = line.substr(stamp + 2);
    LoggedRequest out;
    if (startsWith(event, "Bad Rcon: \"rcon ")) {
        out.refused = true;
        event.remove_prefix(16);
    } else if (startsWith(event, "Rcon: \"rcon ")) {
        event.remove_prefix(12);
    } else {
        return std::nullopt;
    }
    // The challenge, then the password in quotes, as the program sends it.
    const std::size_t challengeEnd = event.find(' ');
    if (challengeEnd == 0 || challengeEnd == std::string_view::npos)
        return std::nullopt;
    event.remove_prefix(challengeEnd + 1);
    if (!startsWith(event, "\""))
        return std::nullopt;
    const std::size_t passwordEnd = event.find('"', 1);
    if (passwordEnd == std::string_view::npos)
        return std::nullopt;
    out.password = event.substr(1, passwordEnd - 1);
    event.remove_prefix(passwordEnd + 1);
    // A command may hold quotes of its own: the sender is after the last " from ".
    constexpr std::string_view kFrom = "\" from \"";
    const std::size_t from = event.rfind(kFrom);
    if (from == std::string_view::npos || event.size() < from + kFrom.size() + 1 || event.back() != '"')
        return std::nullopt;
    out.command = event.substr(0, from);
    if (startsWith(out.command, " "))
        out.command.remove_prefix(1);
    out.from = event.substr(from + kFrom.size(), event.size() - from - kFrom.size() - 1);
    return out;
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

bool reachedThroughInternet(const QHostAddress& address)
{
    if (address.isNull() || address.isLoopback() || address.isLinkLocal() || address.isUniqueLocalUnicast()
        || address.isSiteLocal() || address.isMulticast() || address.isBroadcast())
        return false;
    bool v4 = false;
    const quint32 ip = address.toIPv4Address(&v4);
    if (v4) {
        const auto in = [ip](quint32 net, int bits) { return (ip >> (32 - bits)) == (net >> (32 - bits)); };
        return !(
            in(0x0A000000, 8) || in(0xAC100000, 12) || in(0xC0A80000, 16) || in(0x64400000, 10) || in(0x00000000, 8));
    }
    return true;
}

bool logAddressTaken(std::string_view output)
{
    for (const char* refusal : { "usage", "must specify", "unparseable", "unable to resolve", "error allocating" })
        if (output.find(refusal) != std::string_view::npos)
            return false;
    return true;
}

LogReceiver::LogReceiver(QObject* parent)
    : QObject(parent)
    , m_keepAliveTimer(new QTimer(this))
    , m_stunTimer(new QTimer(this))
    , m_buffer(kMaxLogDatagram + 1)
{
    connect(m_keepAliveTimer, &QTimer::timeout, this, &LogReceiver::sendKeepAlive);
    m_stunTimer->setSingleShot(true);
    connect(m_stunTimer, &QTimer::timeout, this, &LogReceiver::sendStunRequest);
}

LogReceiver::~LogReceiver() = default;

std::optional<std::string> LogReceiver::listen(quint16 port, const QHostAddress& address)
{
    close();
    // Every session counts afresh: the bar shows this session's refusals.
    m_counts = {};
    m_keepAlivesSent = 0;
    m_stunPort = 0;
    m_mapped.reset();
    m_checkSeen = false;
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
    m_keepAliveTimer->stop();
    m_stunTimer->stop();
    ++m_generation;
    // A binding cut short ends without an address; no signal from a close.
    m_stunPending = false;
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

void LogReceiver::setSource(const QHostAddress& address, quint16 port)
{
    m_source = address;
    m_sourcePort = port;
}

void LogReceiver::startKeepAlive(std::chrono::milliseconds interval)
{
    m_keepAliveTimer->start(interval);
    sendKeepAlive();
}

void LogReceiver::stopKeepAlive()
{
    m_keepAliveTimer->stop();
}

void LogReceiver::sendKeepAlive()
{
    if (!m_socket || m_source.isNull() || m_sourcePort == 0)
        return;
    if (m_socket->writeDatagram(kKeepAlive.data(), static_cast<qint64>(kKeepAlive.size()), m_source, m_sourcePort) >= 0)
        ++m_keepAlivesSent;
}

void LogReceiver::findMappedAddress(const QHostAddress& address, quint16 port, std::chrono::milliseconds timeout)
{
    m_mapped.reset();
    m_stunAddress = address;
    m_stunPort = port;
    m_stunId = newStunTransactionId();
    m_stunSends = 0;
    m_stunEnd = std::chrono::steady_clock::now() + timeout;
    m_stunPending = true;
    if (!m_socket) {
        endStun();
        return;
    }
    sendStunRequest();
}

void LogReceiver::sendStunRequest()
{
    if (!m_stunPending)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (now >= m_stunEnd || !m_socket) {
        endStun();
        return;
    }
    const std::string request = stunBindingRequest(m_stunId);
    m_socket->writeDatagram(request.data(), static_cast<qint64>(request.size()), m_stunAddress, m_stunPort);
    // RFC 8489's retransmission: 500 ms, then doubling, within the time allowed.
    const auto wait = std::chrono::milliseconds(500) * (1 << std::min(m_stunSends, 4));
    ++m_stunSends;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(m_stunEnd - now);
    m_stunTimer->start(std::max(std::chrono::milliseconds(1), std::min(wait, left)));
}

void LogReceiver::endStun()
{
    if (!m_stunPending)
        return;
    m_stunPending = false;
    m_stunTimer->stop();
    // From the event loop: the owner may close the socket in its handler,
    // which must not happen inside the socket's own readyRead.
    emitLater(&LogReceiver::stunDone);
}

void LogReceiver::emitLater(void (LogReceiver::*signal)())
{
    const std::uint64_t generation = m_generation;
    QTimer::singleShot(0, this, [this, generation, signal] {
        if (generation == m_generation)
            Q_EMIT(this->*signal)();
    });
}

void LogReceiver::setOwnRequests(std::string password, const QHostAddress& ownAddress)
{
    m_password = std::move(password);
    m_ownAddress = ownAddress;
}

void LogReceiver::setCheckCommand(std::string command)
{
    m_checkCommand = std::move(command);
    m_checkSeen = false;
}

bool LogReceiver::isOwnRequest(std::string_view line)
{
    if (m_password.empty())
        return false;
    const auto request = readLoggedRequest(line);
    if (!request || request->password != m_password)
        return false;
    bool own = startsWith(request->command, "echo velth-");
    if (!own && !m_ownAddress.isNull()) {
        const std::size_t colon = request->from.rfind(':');
        const QHostAddress from(QString::fromLatin1(
            request->from.substr(0, colon).data(), static_cast<qsizetype>(std::min(colon, request->from.size()))));
        own = from.isEqual(m_ownAddress, QHostAddress::TolerantConversion);
    }
    if (own && !request->refused && !m_checkCommand.empty() && request->command == m_checkCommand && !m_checkSeen) {
        m_checkSeen = true;
        emitLater(&LogReceiver::checkArrived);
    }
    return own;
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

bool LogReceiver::fromSource(const QHostAddress& sender, quint16 port) const
{
    return port == m_sourcePort && !m_source.isNull() && m_source.isEqual(sender, QHostAddress::TolerantConversion);
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
        quint16 senderPort = 0;
        // One byte more than the longest datagram taken tells a longer one.
        const qint64 size
            = m_socket->readDatagram(m_buffer.data(), static_cast<qint64>(m_buffer.size()), &sender, &senderPort);
        if (size < 0)
            continue;
        if (m_stunPort != 0 && senderPort == m_stunPort
            && sender.isEqual(m_stunAddress, QHostAddress::TolerantConversion)) {
            const auto length = pending > size ? m_buffer.size() : static_cast<std::size_t>(size);
            auto mapped = readStunBindingResponse(std::string_view(m_buffer.data(), length), m_stunId);
            if (mapped && m_stunPending) {
                m_mapped = std::move(mapped);
                endStun();
            }
            // The answer to a request sent again is no refused log datagram.
            if (mapped || m_stunPending)
                continue;
        }
        if (!fromSource(sender, senderPort)) {
            ++m_counts.foreign;
            continue;
        }
        const std::size_t length = pending > size ? m_buffer.size() : static_cast<std::size_t>(size);
        const LogDatagram datagram = readLogDatagram(std::string_view(m_buffer.data(), length), m_secret);
        switch (datagram.kind) {
        case LogDatagramKind::Line:
            if (isOwnRequest(datagram.line)) {
                ++m_counts.own;
                break;
            }
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
