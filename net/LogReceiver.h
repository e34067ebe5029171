#pragma once

#include "net/StunBinding.h"

#include <QHostAddress>
#include <QObject>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class QTimer;
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

// A console request as the server's log records it:
// `Rcon: "rcon <challenge> "<password>" <command>" from "<ip>:<port>"`, or
// `Bad Rcon: ...` for one the server refused. Views into the line.
struct LoggedRequest
{
    bool refused = false; // "Bad Rcon"
    std::string_view password;
    std::string_view command;
    std::string_view from; // "<ip>:<port>"
};

// Reads a log line ("L MM/DD/YYYY - hh:mm:ss: <event>") as a logged console
// request; nothing for any other line, or for a request in another form.
std::optional<LoggedRequest> readLoggedRequest(std::string_view line);

// The local address on the route to `remote`: where a server there would
// reach this computer. Found without sending anything and without waiting
// (a connected UDP socket's own address); nothing when there is no route.
std::optional<QHostAddress> localAddressToward(const QHostAddress& remote, quint16 port);

// Whether a server at `address` is reached through the internet, so that a
// STUN server's view of this computer is the server's view too: not for a
// loopback, private (RFC 1918, unique local), link-local or shared (RFC
// 6598) address, which the server reaches without the public address.
bool reachedThroughInternet(const QHostAddress& address);

// Whether the console's answer to `logaddress_add` took the address:
// "logaddress_add:  <address>" and "... already in list" do; the engine's
// other answers ("must specify a valid port", "unable to resolve ...") do not.
bool logAddressTaken(std::string_view output);

// Receives the log lines a game server sends to a UDP port (after
// `logaddress_add`). Only datagrams from the server's address and game port
// (the engine sends its log from its game socket) are read; the others, and
// every datagram that is not a log line in the form expected, are counted
// and dropped. Lines wait in a bounded queue until the owner takes them.
//
// Behind a router that translates addresses, the log gets in only on the
// router's memory of a datagram this socket sent to the server: the keep-
// alive sends one to the game port now and again. The STUN binding asks a
// STUN server, from this same socket, which address and port the router gave
// it: that is where the server is to send. The program's own console
// requests come back over the log (the server logs each one, password
// included): they are held out of the lines, and the one the owner names as
// its check tells that the log arrives.
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
        std::uint64_t foreign = 0; // from another address or port
        std::uint64_t malformed = 0;
        std::uint64_t wrongSecret = 0;
        std::uint64_t tooLong = 0;
        std::uint64_t overflow = 0; // dropped because the queue was full
        std::uint64_t own = 0; // the program's own console requests, held out
    };

    // The keep-alive: far below the time a router keeps an idle UDP mapping
    // (30 s and more).
    static constexpr std::chrono::milliseconds kKeepAliveInterval{ 20000 };
    // The datagram: one zero byte, which the engine drops without a word (it
    // is no connectionless request and comes from no client).
    static constexpr std::string_view kKeepAlive{ "\0", 1 };

    explicit LogReceiver(QObject* parent = nullptr);
    ~LogReceiver() override;

    // Listens on `port` of every local address (0: one the system picks),
    // with fresh counts. Returns what went wrong for the user, or nothing.
    std::optional<std::string> listen(quint16 port, const QHostAddress& address = QHostAddress::Any);
    void close();
    bool isListening() const;
    quint16 port() const;

    // Where the server sends from: its address and game port; until set,
    // nothing is taken.
    void setSource(const QHostAddress& address, quint16 port);
    // Sends the keep-alive to the source now and every `interval` until
    // stopKeepAlive() or close(); a send that fails is tried at the next turn.
    void startKeepAlive(std::chrono::milliseconds interval = kKeepAliveInterval);
    void stopKeepAlive();
    std::uint64_t keepAlivesSent() const { return m_keepAlivesSent; }

    // Asks the STUN server at `address`:`port` for this socket's address as
    // it sees it; stunDone() follows, once. Retries within `timeout`; only an
    // answer from that address and port with the request's transaction id
    // counts.
    void findMappedAddress(
        const QHostAddress& address, quint16 port, std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // After stunDone(): the address and port found, or nothing.
    const std::optional<StunMapped>& mappedAddress() const { return m_mapped; }

    // The program's own console requests: those with `password` sent from
    // `ownAddress` (this computer's address as the server sees it), and
    // every `echo velth-...` (the console's end markers and the check) with
    // that password. They are counted and held out of the lines.
    void setOwnRequests(std::string password, const QHostAddress& ownAddress);
    // The own command whose return proves that the log arrives (checkArrived()).
    void setCheckCommand(std::string command);
    bool checkSeen() const { return m_checkSeen; }
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
    // The STUN binding ended (see mappedAddress()).
    void stunDone();
    // The check command came back over the log.
    void checkArrived();

private:
    void readPending();
    bool fromSource(const QHostAddress& sender, quint16 port) const;
    bool isOwnRequest(std::string_view line);
    void sendKeepAlive();
    void sendStunRequest();
    void endStun();
    void emitLater(void (LogReceiver::*signal)());
    std::uint64_t droppedCount() const;

    QUdpSocket* m_socket = nullptr;
    QTimer* m_keepAliveTimer;
    QTimer* m_stunTimer;
    // Signals queued before a close() are not delivered after it.
    std::uint64_t m_generation = 0;
    QHostAddress m_source;
    quint16 m_sourcePort = 0;
    std::uint64_t m_keepAlivesSent = 0;
    // The binding under way: the server asked, the transaction, the sends.
    bool m_stunPending = false;
    QHostAddress m_stunAddress;
    quint16 m_stunPort = 0;
    StunTransactionId m_stunId{};
    int m_stunSends = 0;
    std::chrono::steady_clock::time_point m_stunEnd;
    std::optional<StunMapped> m_mapped;
    std::string m_password;
    QHostAddress m_ownAddress;
    std::string m_checkCommand;
    bool m_checkSeen = false;
    std::string m_secret;
    LogLineBatch m_queue;
    std::size_t m_queueLimit = kMaxQueuedLines;
    Counts m_counts;
    std::vector<char> m_buffer;
};

} // namespace velth
