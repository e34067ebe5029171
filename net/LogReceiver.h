#pragma once

#include <QHostAddress>
#include <QList>
#include <QObject>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class QUdpSocket;

namespace velth {

// The engine formats a log line into 1,024 bytes and sends it with four 0xFF
// bytes, "log " (or 'S' and the log secret) and a zero byte in front of and
// after it; a datagram longer than this comes from no server.
inline constexpr std::size_t kMaxLogDatagram = 2048;

// What a datagram on the log port turned out to be.
enum class LogDatagramKind {
    Line, // one log line
    Malformed, // not the engine's log form (header, "log ", "L ", a line end inside)
    WrongSecret, // the 'S' form with another secret, or a form that does not fit the secret expected
    TooLong,
};

struct LogDatagram
{
    LogDatagramKind kind = LogDatagramKind::Malformed;
    // For a Line: the line, "L MM/DD/YYYY - hh:mm:ss: <event>", without its
    // zero byte and line end; a view into the datagram.
    std::string_view line;
};

// Reads one datagram as the engine sends a log line: FF FF FF FF "log L ..."
// when `secret` is empty, FF FF FF FF 'S' <secret> "L ..." otherwise (the
// server's sv_logsecret). The trailing zero byte and line end are taken off;
// a line that still holds a CR, LF or zero byte is Malformed, so that one
// datagram is always exactly one line of the log.
LogDatagram readLogDatagram(std::string_view datagram, std::string_view secret);

// Lines held in one buffer (one allocation for many lines).
class LogLineBatch
{
public:
    void add(std::string_view line);
    std::size_t size() const { return m_ends.size(); }
    bool empty() const { return m_ends.empty(); }
    std::size_t bytes() const { return m_bytes.size(); }
    std::string_view operator[](std::size_t i) const
    {
        const std::size_t begin = i == 0 ? 0 : m_ends[i - 1];
        return std::string_view(m_bytes).substr(begin, m_ends[i] - begin);
    }
    void clear();

private:
    std::string m_bytes;
    std::vector<std::size_t> m_ends;
};

// The local address on the route to `remote`: where a server there would
// reach this computer. Found without sending anything and without waiting
// (a connected UDP socket's own address); nothing when there is no route.
std::optional<QHostAddress> localAddressToward(const QHostAddress& remote, quint16 port);

// Receives the log lines a game server sends to a UDP port (after
// `logaddress_add`). Only datagrams from the server's own addresses are read;
// the others, and every datagram that is not a log line in the form
// expected, are counted and dropped. Lines wait in a bounded queue until the
// owner takes them.
class LogReceiver final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LogReceiver)

public:
    // Lines waiting beyond these are dropped (and counted) until taken.
    static constexpr std::size_t kMaxQueuedLines = 50000;
    static constexpr std::size_t kMaxQueuedBytes = 8 << 20;

    struct Counts
    {
        std::uint64_t lines = 0; // taken into the queue
        std::uint64_t foreign = 0; // from another address
        std::uint64_t malformed = 0;
        std::uint64_t wrongSecret = 0;
        std::uint64_t tooLong = 0;
        std::uint64_t overflow = 0; // dropped because the queue was full
    };

    explicit LogReceiver(QObject* parent = nullptr);
    ~LogReceiver() override;

    // Listens on `port` of every local address (0: one the system picks).
    // Returns what went wrong for the user, or nothing.
    std::optional<std::string> listen(quint16 port, const QHostAddress& address = QHostAddress::Any);
    void close();
    bool isListening() const;
    quint16 port() const;

    // Where the server sends from; until set, nothing is taken.
    void setSources(const QList<QHostAddress>& addresses);
    // The server's sv_logsecret; empty when it has none.
    void setSecret(std::string secret);

    // Fewer lines may wait (a flood's bound; never more than kMaxQueuedLines).
    void setQueueLimit(std::size_t lines);

    // The lines received since the last call, oldest first.
    LogLineBatch takeLines();
    std::size_t queued() const { return m_queue.size(); }
    const Counts& counts() const { return m_counts; }

Q_SIGNALS:
    // Lines wait in the queue that was empty.
    void linesReady();
    // Datagrams were dropped (see counts()).
    void dropped();

private:
    void readPending();
    bool fromSource(const QHostAddress& sender) const;
    std::uint64_t droppedCount() const;

    QUdpSocket* m_socket = nullptr;
    QList<QHostAddress> m_sources;
    std::string m_secret;
    LogLineBatch m_queue;
    std::size_t m_queueLimit = kMaxQueuedLines;
    Counts m_counts;
    std::vector<char> m_buffer;
};

} // namespace velth
