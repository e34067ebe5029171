#include "net/GameServer.h"

#include "net/GameWire.h"

#include <QHostInfo>
#include <QRandomGenerator>
#include <QTimer>
#include <QUdpSocket>

#include <algorithm>
#include <deque>

// How a command's output is known to be complete. The engine runs each rcon
// request on its own, gathers what it prints and sends it, in print packets
// of up to 1,400 bytes, when the request ends: no numbering, no end marker.
// Requests are run in the order they come. So right after the command the
// client sends a second request, `echo <marker>`, on the same socket: the
// packet that holds the marker is the end of the command's output. Nothing
// waits a fixed time, and the cost is about one packet's time on top of the
// command's round trip.
//
// The marker never goes out while the password is unproven: a wrong password
// would then count twice towards the server's failure ban. The first command
// with a new password waits for the first reply packet, and only if that is
// not a refusal does the marker follow. If the marker is lost, the output
// counts as complete after a quiet time with no packet, and always at the
// time-out or the size bound.

namespace velth {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr auto kQuietTime = 800ms;
// The engine drops a request of 512 bytes or more from "rcon" on.
constexpr std::size_t kMaxRequest = 511;
// A challenge is an unsigned 32-bit number: at most ten digits.
constexpr std::size_t kMaxChallengeDigits = 10;
constexpr int kChallengeSends = 3;

const std::string kBadPassword = "Bad rcon_password.";

bool startsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

std::string firstWord(std::string_view line)
{
    while (!line.empty() && line.front() == ' ')
        line.remove_prefix(1);
    std::string word(line.substr(0, line.find(' ')));
    std::transform(word.begin(), word.end(), word.begin(),
        [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    return word;
}

std::optional<std::string> passwordProblem(std::string_view password)
{
    for (const char c : password) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"')
            return std::string("The rcon password holds a double quote (\"), which the server's console cannot "
                               "take in a password. Nothing was sent.");
        if (byte < 0x20 || byte == 0x7f)
            return std::string("The rcon password holds a control character (a line break, a tab or the like), "
                               "which the server's console cannot take in a password. Nothing was sent.");
    }
    return std::nullopt;
}

} // namespace

class RconClient::Private
{
public:
    enum class Phase { Idle, Resolving, Challenge, AwaitFirst, Collecting };

    struct Command
    {
        std::string line;
        Done done;
    };

    explicit Private(RconClient* owner)
        : q(owner)
    {
        deadline.setSingleShot(true);
        quiet.setSingleShot(true);
        retry.setSingleShot(true);
        QObject::connect(&deadline, &QTimer::timeout, q, [this] { onDeadline(); });
        QObject::connect(&quiet, &QTimer::timeout, q, [this] { complete(); });
        QObject::connect(&retry, &QTimer::timeout, q, [this] { onChallengeRetry(); });
        const quint64 token = QRandomGenerator::global()->generate64();
        markerPrefix = "velth-end-" + QByteArray::number(token, 16).toStdString() + "-";
    }

    ~Private()
    {
        abortLookup();
        delete socket;
    }

    void abortLookup()
    {
        if (lookupId >= 0)
            QHostInfo::abortHostLookup(lookupId);
        lookupId = -1;
    }

    // Forgets the address: its resolution, its socket and its challenge.
    void resetAddress()
    {
        abortLookup();
        target = QHostAddress();
        delete socket;
        socket = nullptr;
        challenge.clear();
        resetPassword();
    }

    void resetPassword()
    {
        proven = false;
        refusal.reset();
    }

    RconResult validate(const std::string& line) const
    {
        RconResult result;
        result.kind = RconResult::Kind::Refused;
        if (!address) {
            result.kind = RconResult::Kind::Failed;
            result.message = "No game server address is set for the remote console.";
            return result;
        }
        if (line.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) {
            result.message = "The command holds a line break or a zero byte, which would start another command "
                             "or cut it short. Nothing was sent.";
            return result;
        }
        if (line.find_first_not_of(' ') == std::string::npos) {
            result.message = "There is no command to send.";
            return result;
        }
        if (auto problem = passwordProblem(password)) {
            result.message = *problem;
            return result;
        }
        const std::size_t size = requestText(std::string(kMaxChallengeDigits, '9'), password, line).size();
        if (size > kMaxRequest) {
            result.message = "The command is too long for the server's remote console: a request takes at most "
                + std::to_string(kMaxRequest) + " bytes, and with this password the command may have at most "
                + std::to_string(line.size() - (size - kMaxRequest)) + " bytes (it has " + std::to_string(line.size())
                + "). Nothing was sent.";
            return result;
        }
        result.kind = RconResult::Kind::Ok;
        return result;
    }

    static std::string requestText(
        const std::string& withChallenge, const std::string& withPassword, const std::string& line)
    {
        return "rcon " + withChallenge + " \"" + withPassword + "\" " + line;
    }

    void enqueue(std::string line, Done done)
    {
        Command command;
        command.line = std::move(line);
        command.done = std::move(done);
        queue.push_back(std::move(command));
        scheduleNext();
    }

    void scheduleNext()
    {
        if (running || nextScheduled || queue.empty())
            return;
        nextScheduled = true;
        // Results are never given from inside execute() or a socket's signal.
        QMetaObject::invokeMethod(
            q,
            [this] {
                nextScheduled = false;
                startNext();
            },
            Qt::QueuedConnection);
    }

    void startNext()
    {
        if (running || queue.empty())
            return;
        Command command = std::move(queue.front());
        queue.pop_front();
        current = RconResult{};
        currentLine = command.line;
        currentDone = std::move(command.done);
        running = true;
        challengeRefetched = false;
        if (RconResult problem = validate(currentLine); !problem.ok()) {
            current = std::move(problem);
            deliver();
            return;
        }
        if (refusal) {
            // This password was refused: sending it again would count towards the ban.
            current = *refusal;
            deliver();
            return;
        }
        deadline.start(timeout);
        if (target.isNull()) {
            resolve();
            return;
        }
        afterResolve();
    }

    void resolve()
    {
        phase = Phase::Resolving;
        if (auto numeric = gamewire::numericAddress(address->host)) {
            useTarget(*numeric);
            return;
        }
        lookupId = QHostInfo::lookupHost(
            QString::fromStdString(address->host), q, [this](const QHostInfo& info) { onLookedUp(info); });
    }

    void onLookedUp(const QHostInfo& info)
    {
        lookupId = -1;
        const QList<QHostAddress> addresses = info.addresses();
        if (info.error() != QHostInfo::NoError || addresses.isEmpty()) {
            failWith(RconResult::Kind::Failed, "Cannot find the host " + address->host + ".");
            return;
        }
        auto v4 = std::find_if(addresses.begin(), addresses.end(),
            [](const QHostAddress& a) { return a.protocol() == QAbstractSocket::IPv4Protocol; });
        useTarget(v4 != addresses.end() ? *v4 : addresses.front());
    }

    void useTarget(const QHostAddress& resolved)
    {
        socket = new QUdpSocket(q);
        const bool v6 = resolved.protocol() == QAbstractSocket::IPv6Protocol;
        if (!socket->bind(v6 ? QHostAddress(QHostAddress::AnyIPv6) : QHostAddress(QHostAddress::AnyIPv4), 0)) {
            const std::string error = socket->errorString().toStdString();
            delete socket;
            socket = nullptr;
            failWith(RconResult::Kind::Failed, "Cannot open a UDP socket for " + toString(*address) + ": " + error);
            return;
        }
        target = resolved;
        QObject::connect(socket, &QUdpSocket::readyRead, q, [this] { onReadyRead(); });
        afterResolve();
    }

    void afterResolve()
    {
        if (challenge.empty()) {
            phase = Phase::Challenge;
            challengeSends = 0;
            onChallengeRetry();
            return;
        }
        sendCommand();
    }

    void onChallengeRetry()
    {
        if (phase != Phase::Challenge)
            return;
        if (challengeSends >= kChallengeSends)
            return; // the deadline decides
        ++challengeSends;
        sendText("challenge rcon\n");
        retry.start(std::clamp<std::chrono::milliseconds>(timeout / (kChallengeSends + 1), 100ms, 1000ms));
    }

    bool sendText(const std::string& text)
    {
        QByteArray datagram(gamewire::kPrefix.data(), static_cast<qsizetype>(gamewire::kPrefix.size()));
        datagram.append(text.data(), static_cast<qsizetype>(text.size()));
        return socket->writeDatagram(datagram, target, static_cast<quint16>(address->port)) == datagram.size();
    }

    void sendCommand()
    {
        output.clear();
        packets = 0;
        sentAt = Clock::now();
        lastPacketAt = sentAt;
        sentPassword = password;
        sendText(requestText(challenge, sentPassword, currentLine));
        if (proven) {
            sendMarker();
            phase = Phase::Collecting;
        } else {
            phase = Phase::AwaitFirst;
        }
    }

    void sendMarker()
    {
        ++markerSeq;
        marker = markerPrefix + std::to_string(markerSeq);
        sendText(requestText(challenge, sentPassword, "echo " + marker));
    }

    void onReadyRead()
    {
        QByteArray buffer;
        while (socket && socket->hasPendingDatagrams()) {
            const qint64 size = socket->pendingDatagramSize();
            buffer.resize(
                static_cast<qsizetype>(std::clamp<qint64>(size, 1, static_cast<qint64>(gamewire::kMaxDatagram))));
            QHostAddress sender;
            quint16 senderPort = 0;
            const qint64 got = socket->readDatagram(buffer.data(), buffer.size(), &sender, &senderPort);
            if (got < 0)
                break;
            if (!gamewire::sameEndpoint(sender, senderPort, target, static_cast<quint16>(address->port)))
                continue;
            onDatagram(std::string_view(buffer.constData(), static_cast<std::size_t>(got)));
        }
    }

    void onDatagram(std::string_view datagram)
    {
        // Anything while no command waits (late parts of an earlier one, an
        // unasked stream) is dropped.
        if (phase == Phase::Idle || phase == Phase::Resolving)
            return;
        if (datagram.size() < 5 || datagram.substr(0, 4) != gamewire::kPrefix)
            return;
        const std::string_view reply = datagram.substr(4);
        if (phase == Phase::Challenge) {
            onChallengeReply(reply);
            return;
        }
        if (reply.front() != static_cast<char>(gamewire::ReplyType::Print))
            return;
        onPrint(gamewire::printText(reply.substr(1)));
    }

    void onChallengeReply(std::string_view reply)
    {
        if (reply.front() == static_cast<char>(gamewire::ReplyType::Print)) {
            const std::string text = gamewire::printText(reply.substr(1));
            if (gamewire::isBanNotice(text))
                banned(text);
            return;
        }
        constexpr std::string_view kChallenge = "challenge rcon ";
        if (!startsWith(reply, kChallenge))
            return;
        std::string_view number = reply.substr(kChallenge.size());
        std::size_t digits = 0;
        while (digits < number.size() && number[digits] >= '0' && number[digits] <= '9')
            ++digits;
        if (digits == 0 || digits > kMaxChallengeDigits)
            return;
        challenge = std::string(number.substr(0, digits));
        retry.stop();
        sendCommand();
    }

    void onPrint(const std::string& text)
    {
        if (packets == 0 && refused(text))
            return;
        // A marker of an earlier command that came late is not output.
        if (startsWith(text, markerPrefix)) {
            // echo prints each word followed by a space, then a line end.
            std::string_view echoed(text);
            while (!echoed.empty() && (echoed.back() == '\n' || echoed.back() == ' '))
                echoed.remove_suffix(1);
            if (phase == Phase::Collecting && echoed == marker) {
                lastPacketAt = Clock::now();
                current.endMarker = true;
                complete();
            }
            return;
        }
        ++packets;
        lastPacketAt = Clock::now();
        const std::size_t room = RconClient::kMaxOutputBytes - output.size();
        output.append(text, 0, std::min(room, text.size()));
        if (text.size() > room) {
            current.truncated = true;
            complete();
            return;
        }
        if (phase == Phase::AwaitFirst) {
            // The password holds: now the marker may go.
            // (A password set meanwhile is still unproven.)
            proven = sentPassword == password;
            phase = Phase::Collecting;
            sendMarker();
        }
        quiet.start(kQuietTime);
    }

    // The first packet of a command may be the server's refusal of it.
    bool refused(const std::string& text)
    {
        if (gamewire::isBanNotice(text)) {
            banned(text);
            return true;
        }
        if (!startsWith(text, kBadPassword))
            return false;
        const std::string detail = gamewire::noticeLine(text);
        if (text.find("Bad challenge.") != std::string::npos) {
            if (!challengeRefetched) {
                // Challenges expire (and a restarted server knows none): ask for a new one, once.
                challengeRefetched = true;
                challenge.clear();
                phase = Phase::Challenge;
                challengeSends = 0;
                onChallengeRetry();
                return true;
            }
            failWith(RconResult::Kind::BadChallenge,
                "The server did not take the remote console's challenge (" + detail
                    + "), not even a new one. The command was not run.");
            return true;
        }
        if (text.find("No password set for this server.") != std::string::npos) {
            failWith(RconResult::Kind::NoPassword,
                "The server has no rcon password set (" + detail
                    + "), so its remote console is closed. Set rcon_password in server.cfg first.");
            return true;
        }
        if (text.find("No privilege.") != std::string::npos) {
            failWith(RconResult::Kind::Banned,
                "The server does not allow the remote console from this computer's address, and bans an "
                "address that tries ("
                    + detail + ").");
            return true;
        }
        if (sentPassword == password)
            proven = false;
        failWith(RconResult::Kind::BadPassword,
            "The server refused the rcon password (" + detail
                + "). It was not tried again, because the server bans an address after repeated wrong "
                  "passwords: check the password and send the command again.");
        if (sentPassword == password)
            refusal = current;
        return true;
    }

    void banned(const std::string& text)
    {
        failWith(RconResult::Kind::Banned, "The server has banned this computer: " + gamewire::noticeLine(text));
    }

    void onDeadline()
    {
        if (!running)
            return;
        if (phase == Phase::Collecting && packets > 0) {
            current.truncated = true;
            complete();
            return;
        }
        failWith(RconResult::Kind::TimedOut,
            "The server's remote console did not answer within "
                + std::to_string(std::chrono::duration_cast<std::chrono::seconds>(timeout).count())
                + " s (the server is down, or the address or port is wrong).");
    }

    void complete()
    {
        if (!running || phase != Phase::Collecting)
            return;
        current.kind = RconResult::Kind::Ok;
        current.output = std::move(output);
        current.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(lastPacketAt - sentAt);
        // Both may change the password the server takes.
        const std::string word = firstWord(currentLine);
        if (word == "exec" || word == "rcon_password")
            proven = false;
        deliver();
    }

    void failWith(RconResult::Kind kind, std::string message)
    {
        current.kind = kind;
        current.message = std::move(message);
        current.output.clear();
        deliver();
    }

    void stopWaiting()
    {
        phase = Phase::Idle;
        deadline.stop();
        quiet.stop();
        retry.stop();
        if (lookupId >= 0) {
            abortLookup();
        }
    }

    void deliver()
    {
        stopWaiting();
        output.clear();
        Done done = std::move(currentDone);
        RconResult result = std::move(current);
        QMetaObject::invokeMethod(
            q,
            [this, done = std::move(done), result = std::move(result)] {
                running = false;
                scheduleNext();
                if (done)
                    done(result);
            },
            Qt::QueuedConnection);
    }

    RconClient* const q;
    std::optional<GameAddress> address;
    std::string password;
    std::chrono::milliseconds timeout{ 10s };

    int lookupId = -1;
    QHostAddress target;
    QUdpSocket* socket = nullptr;
    std::string challenge;
    bool proven = false;
    std::optional<RconResult> refusal;

    std::deque<Command> queue;
    bool running = false;
    bool nextScheduled = false;
    Phase phase = Phase::Idle;
    std::string currentLine;
    std::string sentPassword;
    Done currentDone;
    RconResult current;
    std::string output;
    std::size_t packets = 0;
    bool challengeRefetched = false;
    int challengeSends = 0;
    std::string markerPrefix;
    std::string marker;
    std::uint64_t markerSeq = 0;
    Clock::time_point sentAt;
    Clock::time_point lastPacketAt;
    QTimer deadline;
    QTimer quiet;
    QTimer retry;
};

RconClient::RconClient(QObject* parent)
    : QObject(parent)
    , d(std::make_unique<Private>(this))
{ }

RconClient::~RconClient() = default;

void RconClient::setAddress(const GameAddress& address)
{
    if (d->address == address)
        return;
    if (isBusy())
        cancel();
    d->address = address;
    d->resetAddress();
}

void RconClient::setPassword(const std::string& password)
{
    // The same password again is not new: a refused one stays refused.
    if (d->password == password)
        return;
    d->password = password;
    d->resetPassword();
}

void RconClient::setTimeout(std::chrono::milliseconds timeout)
{
    d->timeout = std::max(timeout, std::chrono::milliseconds(1));
}

void RconClient::execute(const std::string& commandLine, Done done)
{
    d->enqueue(commandLine, std::move(done));
}

void RconClient::cancel()
{
    std::deque<Private::Command> queued = std::move(d->queue);
    d->queue.clear();
    if (d->running && d->phase != Private::Phase::Idle) {
        d->current = RconResult{};
        d->failWith(RconResult::Kind::Cancelled, "Cancelled.");
    }
    for (auto& command : queued) {
        RconResult result;
        result.kind = RconResult::Kind::Cancelled;
        result.message = "Cancelled.";
        QMetaObject::invokeMethod(
            this,
            [done = std::move(command.done), result] {
                if (done)
                    done(result);
            },
            Qt::QueuedConnection);
    }
}

bool RconClient::isBusy() const
{
    return d->running || !d->queue.empty();
}

bool RconClient::sendNow(const std::string& commandLine)
{
    // Without the challenge the request would need a round trip first; with an
    // unproven password it could count towards the server's failure ban; and
    // while a command waits or is queued, the reply would join its output.
    if (!d->socket || d->challenge.empty() || !d->proven || d->refusal || d->phase != Private::Phase::Idle
        || !d->queue.empty())
        return false;
    if (!d->validate(commandLine).ok())
        return false;
    return d->sendText(Private::requestText(d->challenge, d->password, commandLine));
}

} // namespace velth
