// The log port: which datagrams are log lines, and a receiver on a real UDP
// port fed from real sockets on two loopback addresses; its keep-alive, and
// its STUN binding against Debian's coturn on loopback.
#include "net/LogReceiver.h"

#include "net/StunBinding.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <QUdpSocket>

#include <string>

namespace velth {
namespace {

const std::string kFF("\xFF\xFF\xFF\xFF", 4);
const std::string kLine = R"(L 10/20/2003 - 20:14:10: "Alice<3><111111><CT>" say "hello all")";

struct DatagramCase
{
    const char* what;
    std::string datagram;
    std::string secret;
    LogDatagramKind kind;
    std::string line; // for a Line
};

TEST(LogDatagram, FormsTheEngineSends)
{
    const std::string nul(1, '\0');
    const std::vector<DatagramCase> cases = {
        { "plain form", kFF + "log " + kLine + "\n" + nul, "", LogDatagramKind::Line, kLine },
        { "without zero byte", kFF + "log " + kLine + "\n", "", LogDatagramKind::Line, kLine },
        { "CR LF", kFF + "log " + kLine + "\r\n" + nul, "", LogDatagramKind::Line, kLine },
        { "bare line", kFF + "log " + kLine, "", LogDatagramKind::Line, kLine },
        { "secret form", kFF + "S12345" + kLine + "\n" + nul, "12345", LogDatagramKind::Line, kLine },
        { "wrong secret", kFF + "S12346" + kLine + "\n" + nul, "12345", LogDatagramKind::WrongSecret, "" },
        { "secret's prefix", kFF + "S1234" + kLine + "\n" + nul, "12345", LogDatagramKind::WrongSecret, "" },
        { "plain form when a secret is set", kFF + "log " + kLine + "\n" + nul, "12345", LogDatagramKind::WrongSecret,
            "" },
        { "secret form when none is set", kFF + "S12345" + kLine + "\n" + nul, "", LogDatagramKind::WrongSecret, "" },
        { "no header", "log " + kLine + "\n", "", LogDatagramKind::Malformed, "" },
        { "three 0xFF", "\xFF\xFF\xFF" + std::string("log ") + kLine, "", LogDatagramKind::Malformed, "" },
        { "another reply", kFF + "l" + kLine, "", LogDatagramKind::Malformed, "" },
        { "no L prefix", kFF + "log hello\n", "", LogDatagramKind::Malformed, "" },
        { "empty line", kFF + "log \n" + nul, "", LogDatagramKind::Malformed, "" },
        { "header only", kFF, "", LogDatagramKind::Malformed, "" },
        // One datagram is one line of the saved log, never two.
        { "line end inside", kFF + "log " + kLine + "\nL 10/20/2003 - 20:14:11: x\n", "", LogDatagramKind::Malformed,
            "" },
        { "lone CR inside", kFF + "log L 10/20/2003 - a\rb\n", "", LogDatagramKind::Malformed, "" },
        { "zero byte inside", kFF + "log L 10/20/2003 - a" + nul + "b\n" + nul, "", LogDatagramKind::Malformed, "" },
        { "longest taken", kFF + "log L " + std::string(kMaxLogDatagram - 12, 'x') + "\n" + nul, "",
            LogDatagramKind::Line, "L " + std::string(kMaxLogDatagram - 12, 'x') },
        { "one byte too long", kFF + "log L " + std::string(kMaxLogDatagram - 11, 'x') + "\n" + nul, "",
            LogDatagramKind::TooLong, "" },
    };
    for (const DatagramCase& c : cases) {
        SCOPED_TRACE(c.what);
        const LogDatagram d = readLogDatagram(c.datagram, c.secret);
        EXPECT_EQ(d.kind, c.kind);
        EXPECT_EQ(std::string(d.line), c.line);
    }
}

struct RequestCase
{
    const char* what;
    std::string line;
    bool read;
    bool refused = false;
    std::string password, command, from;
};

TEST(LoggedRequest, FormsTheEngineLogs)
{
    const std::string stamp = "L 12/09/2026 - 06:40:00: ";
    const std::vector<RequestCase> cases = {
        { "request", stamp + R"(Rcon: "rcon 1234 "pw" echo velth-end-1f-3" from "198.51.100.1:40001")", true, false,
            "pw", "echo velth-end-1f-3", "198.51.100.1:40001" },
        { "refused", stamp + R"(Bad Rcon: "rcon 1234 "wrong" status" from "127.0.0.1:5000")", true, true, "wrong",
            "status", "127.0.0.1:5000" },
        { "quotes in the command", stamp + R"(Rcon: "rcon 9 "pw" say "a" from "b"" from "10.0.0.1:27005")", true, false,
            "pw", R"(say "a" from "b")", "10.0.0.1:27005" },
        { "empty password", stamp + R"(Rcon: "rcon 9 "" status" from "10.0.0.1:1")", true, false, "", "status",
            "10.0.0.1:1" },
        { "a player's say", stamp + R"("Rcon: "rcon 1 "pw" x" from "1.2.3.4:5"<2><STEAM_0:1:2><CT>" say "hi")", false,
            false, "", "", "" },
        { "unquoted password", stamp + R"(Rcon: "rcon 1 pw status" from "1.2.3.4:5")", false, false, "", "", "" },
        { "no sender", stamp + R"(Rcon: "rcon 1 "pw" status")", false, false, "", "", "" },
        { "no challenge", stamp + R"(Rcon: "rcon  "pw" status" from "1.2.3.4:5")", false, false, "", "", "" },
        { "not a log line", R"(Rcon: "rcon 1 "pw" status" from "1.2.3.4:5")", false, false, "", "", "" },
    };
    for (const RequestCase& c : cases) {
        SCOPED_TRACE(c.what);
        const auto r = readLoggedRequest(c.line);
        ASSERT_EQ(r.has_value(), c.read);
        if (!r)
            continue;
        EXPECT_EQ(r->refused, c.refused);
        EXPECT_EQ(std::string(r->password), c.password);
        EXPECT_EQ(std::string(r->command), c.command);
        EXPECT_EQ(std::string(r->from), c.from);
    }
}

// The STUN server's view of this computer is the server's only for a server
// reached through the internet; and which logaddress_add answers took it.
TEST(LogAddress, StunOnlyThroughTheInternetAndTheConsolesAnswers)
{
    const std::pair<const char*, bool> addresses[] = {
        { "127.0.0.1", false },
        { "127.8.9.10", false },
        { "10.1.2.3", false },
        { "172.16.0.1", false },
        { "172.31.255.254", false },
        { "192.168.1.20", false },
        { "100.64.0.1", false },
        { "169.254.3.4", false },
        { "0.0.0.0", false },
        { "::1", false },
        { "fc00::1", false },
        { "fe80::1", false },
        { "::ffff:10.0.0.1", false },
        { "172.32.0.1", true },
        { "100.128.0.1", true },
        { "198.51.100.10", true },
        { "203.0.113.5", true },
        { "2001:db8::1", true },
    };
    for (const auto& [text, internet] : addresses)
        EXPECT_EQ(reachedThroughInternet(QHostAddress(QString::fromLatin1(text))), internet) << text;

    const std::pair<const char*, bool> answers[] = {
        { "logaddress_add:  198.51.100.1:27500\n", true },
        { "logaddress_add:  address already in list\n", true },
        { "logaddress_add:  usage\nlogaddress_add ip port\n", false },
        { "logaddress_add:  must specify a valid port\n", false },
        { "logaddress_add:  unable to resolve example.invalid:27500\n", false },
        { "logaddress_add:  unparseable address\n", false },
    };
    for (const auto& [answer, taken] : answers)
        EXPECT_EQ(logAddressTaken(answer), taken) << answer;
}

// A binding response as a STUN server sends it.
std::string stunResponse(const StunTransactionId& id, const std::string& attributes, std::uint16_t type = 0x0101,
    std::uint32_t cookie = 0x2112A442)
{
    std::string out;
    const auto put16 = [&](std::uint32_t v) {
        out += static_cast<char>((v >> 8) & 0xFF);
        out += static_cast<char>(v & 0xFF);
    };
    put16(type);
    put16(static_cast<std::uint32_t>(attributes.size()));
    put16(cookie >> 16);
    put16(cookie & 0xFFFF);
    out.append(reinterpret_cast<const char*>(id.data()), id.size());
    return out + attributes;
}

std::string attribute(std::uint16_t type, const std::string& value)
{
    std::string out{ static_cast<char>(type >> 8), static_cast<char>(type & 0xFF), static_cast<char>(value.size() >> 8),
        static_cast<char>(value.size() & 0xFF) };
    out += value;
    out.append((4 - value.size() % 4) % 4, '\0');
    return out;
}

TEST(StunBinding, ResponsesTheClientTakes)
{
    StunTransactionId id{};
    for (std::size_t i = 0; i < id.size(); ++i)
        id[i] = static_cast<unsigned char>(0xA0 + i);
    StunTransactionId other = id;
    other[11] ^= 1;
    const std::string request = stunBindingRequest(id);
    ASSERT_EQ(request.size(), 20u);
    EXPECT_EQ(request.substr(0, 8), std::string("\x00\x01\x00\x00\x21\x12\xA4\x42", 8));
    EXPECT_EQ(request.substr(8), std::string(reinterpret_cast<const char*>(id.data()), 12));

    // 203.0.113.5:40001 as XOR-MAPPED-ADDRESS (port ^ 0x2112, address ^ cookie)
    // and 198.51.100.7:27500 as MAPPED-ADDRESS.
    const std::string xored = attribute(0x0020, std::string("\x00\x01\xBD\x53\xEA\x12\xD5\x47", 8));
    const std::string plain = attribute(0x0001, std::string("\x00\x01\x6B\x6C\xC6\x33\x64\x07", 8));
    const std::string software = attribute(0x8022, "Coturn");
    struct Case
    {
        const char* what;
        std::string datagram;
        const char* address; // nullptr: nothing read
        quint16 port;
    };
    const std::vector<Case> cases = {
        { "xor-mapped", stunResponse(id, xored), "203.0.113.5", 40001 },
        { "xor-mapped wins over mapped", stunResponse(id, plain + software + xored), "203.0.113.5", 40001 },
        { "mapped only (an older server)", stunResponse(id, software + plain), "198.51.100.7", 27500 },
        { "another transaction", stunResponse(other, xored), nullptr, 0 },
        { "no magic cookie", stunResponse(id, xored, 0x0101, 0x2112A443), nullptr, 0 },
        { "error response", stunResponse(id, xored, 0x0111), nullptr, 0 },
        { "a request", stunResponse(id, xored, 0x0001), nullptr, 0 },
        { "no address", stunResponse(id, software), nullptr, 0 },
        { "length beyond the datagram", stunResponse(id, xored).substr(0, 28), nullptr, 0 },
        { "attribute beyond its message",
            stunResponse(id, std::string("\x00\x20\x00\x40\x00\x01\xBD\x53\xEA\x12\xD5\x47", 12)), nullptr, 0 },
        { "header only", stunResponse(id, ""), nullptr, 0 },
        { "short", std::string("\x01\x01\x00\x00", 4), nullptr, 0 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto mapped = readStunBindingResponse(c.datagram, id);
        ASSERT_EQ(mapped.has_value(), c.address != nullptr);
        if (!mapped)
            continue;
        EXPECT_EQ(mapped->address, QHostAddress(QString::fromLatin1(c.address)));
        EXPECT_EQ(mapped->port, c.port);
    }
}

struct LogReceiverTest : ::testing::Test
{
    LogReceiver receiver;
    QUdpSocket server; // 127.0.0.1, the game server
    QUdpSocket stranger; // 127.0.0.2
    QUdpSocket serverHost; // 127.0.0.1, another port of the server's host

    void SetUp() override
    {
        ASSERT_FALSE(receiver.listen(0).has_value());
        ASSERT_TRUE(server.bind(QHostAddress(QStringLiteral("127.0.0.1")), 0));
        ASSERT_TRUE(stranger.bind(QHostAddress(QStringLiteral("127.0.0.2")), 0));
        ASSERT_TRUE(serverHost.bind(QHostAddress(QStringLiteral("127.0.0.1")), 0));
        receiver.setSource(QHostAddress(QStringLiteral("127.0.0.1")), server.localPort());
    }

    void send(QUdpSocket& from, const std::string& datagram)
    {
        from.writeDatagram(datagram.data(), static_cast<qint64>(datagram.size()),
            QHostAddress(QStringLiteral("127.0.0.1")), receiver.port());
    }
    static std::string logLine(int i) { return "L 10/20/2003 - 20:14:10: line " + std::to_string(i); }
    // Waits until `n` datagrams have been read, whatever became of them.
    void waitForDatagrams(std::uint64_t n)
    {
        const auto seen = [&] {
            const LogReceiver::Counts& c = receiver.counts();
            return c.lines + c.foreign + c.malformed + c.wrongSecret + c.tooLong + c.overflow + c.own;
        };
        ASSERT_TRUE(QTest::qWaitFor([&] { return seen() >= n; }, 20000)) << seen();
    }
    std::vector<std::string> taken()
    {
        const LogLineBatch batch = receiver.takeLines();
        std::vector<std::string> out;
        for (std::size_t i = 0; i < batch.size(); ++i)
            out.emplace_back(batch[i]);
        return out;
    }
};

// A stranger's datagrams, those from another port of the server's host
// (forged: the engine sends its log from its game port), malformed and
// over-long ones are counted and never reach the queue; the server's lines
// arrive in order; a new session counts afresh.
TEST_F(LogReceiverTest, TakesOnlyTheServersLogLines)
{
    int ready = 0;
    QObject::connect(&receiver, &LogReceiver::linesReady, [&] { ++ready; });
    send(server, kFF + "log " + logLine(1) + "\n" + std::string(1, '\0'));
    send(stranger, kFF + "log " + logLine(2) + "\n");
    send(server, kFF + "log " + std::string(5000, 'L') + "\n");
    send(server, "garbage");
    send(server, kFF + "S99" + logLine(3) + "\n");
    send(serverHost, kFF + "log " + logLine(8) + "\n");
    send(server, kFF + "log " + logLine(4) + "\n");
    waitForDatagrams(7);
    EXPECT_EQ(taken(), (std::vector<std::string>{ logLine(1), logLine(4) }));
    const LogReceiver::Counts& c = receiver.counts();
    EXPECT_EQ(c.lines, 2u);
    EXPECT_EQ(c.foreign, 2u);
    EXPECT_EQ(c.tooLong, 1u);
    EXPECT_EQ(c.malformed, 1u);
    EXPECT_EQ(c.wrongSecret, 1u);
    EXPECT_GE(ready, 1);

    // With the server's secret only the signed form is taken.
    receiver.setSecret("99");
    send(server, kFF + "log " + logLine(5) + "\n");
    send(server, kFF + "S99" + logLine(6) + "\n");
    send(stranger, kFF + "S99" + logLine(7) + "\n");
    waitForDatagrams(10);
    EXPECT_EQ(taken(), (std::vector<std::string>{ logLine(6) }));
    EXPECT_EQ(receiver.counts().wrongSecret, 2u);
    EXPECT_EQ(receiver.counts().foreign, 3u);

    // The next session's refusals are its own.
    ASSERT_FALSE(receiver.listen(0).has_value());
    EXPECT_EQ(receiver.counts().foreign, 0u);
    EXPECT_EQ(receiver.counts().wrongSecret, 0u);
    EXPECT_EQ(receiver.counts().lines, 0u);
}

// The program's own console requests come back over the log with the
// password: held out of the lines (and so of the views and the saved log);
// another admin's requests stay; the check is told once.
TEST_F(LogReceiverTest, OwnRequestsAreHeldOutAndTheCheckIsSeen)
{
    int checks = 0;
    QObject::connect(&receiver, &LogReceiver::checkArrived, [&] { ++checks; });
    receiver.setOwnRequests("pw", QHostAddress(QStringLiteral("203.0.113.5")));
    receiver.setCheckCommand("echo velth-log-check-7");
    const std::string stamp = "L 12/09/2026 - 06:40:00: ";
    const std::string theirs = stamp + R"(Rcon: "rcon 5 "pw" status" from "198.51.100.9:27005")";
    const std::string otherPassword = stamp + R"(Rcon: "rcon 5 "admin" status" from "203.0.113.5:27005")";
    for (const std::string& line : {
             stamp + R"(Rcon: "rcon 5 "pw" echo velth-end-3a-1" from "192.0.2.1:4000")", // a marker, via a relay
             stamp + R"(Rcon: "rcon 5 "pw" kick #12" from "203.0.113.5:40002")", // this computer
             stamp + R"(Bad Rcon: "rcon 5 "pw" log on" from "203.0.113.5:40002")",
             theirs,
             otherPassword,
             stamp + R"(Rcon: "rcon 5 "pw" echo velth-log-check-7" from "203.0.113.5:40002")",
             stamp + R"(Rcon: "rcon 6 "pw" echo velth-log-check-7" from "203.0.113.5:40002")",
         })
        send(server, kFF + "log " + line + "\n");
    waitForDatagrams(7);
    EXPECT_EQ(taken(), (std::vector<std::string>{ theirs, otherPassword }));
    EXPECT_EQ(receiver.counts().own, 5u);
    ASSERT_TRUE(QTest::qWaitFor([&] { return checks > 0; }, 20000));
    EXPECT_TRUE(receiver.checkSeen());
    QTest::qWait(50);
    EXPECT_EQ(checks, 1);
}

// The keep-alive leaves from the receiver's own port (the one the server's
// log goes to) for the server's game port, at once and again.
TEST_F(LogReceiverTest, KeepAliveLeavesFromTheLogPort)
{
    receiver.startKeepAlive(std::chrono::milliseconds(100));
    std::vector<quint16> ports;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            while (server.hasPendingDatagrams()) {
                QHostAddress from;
                quint16 port = 0;
                char byte = 'x';
                EXPECT_EQ(server.readDatagram(&byte, 1, &from, &port), 1);
                EXPECT_EQ(byte, '\0');
                ports.push_back(port);
            }
            return ports.size() >= 3;
        },
        20000));
    for (const quint16 port : ports)
        EXPECT_EQ(port, receiver.port());
    EXPECT_GE(receiver.keepAlivesSent(), 3u);
    receiver.stopKeepAlive();
    const std::uint64_t sent = receiver.keepAlivesSent();
    QTest::qWait(300);
    EXPECT_EQ(receiver.keepAlivesSent(), sent);
}

// Debian's coturn on loopback tells the receiver's socket its own address,
// and a server that never answers ends the binding without an address.
TEST_F(LogReceiverTest, StunBindingAgainstCoturn)
{
    const QString turnserver = QStandardPaths::findExecutable(QStringLiteral("turnserver"));
    if (turnserver.isEmpty())
        GTEST_SKIP() << "coturn (turnserver) is not installed: scripts/install-deps.sh installs it";
    QUdpSocket probe;
    ASSERT_TRUE(probe.bind(QHostAddress(QStringLiteral("127.0.0.1")), 0));
    const quint16 stunPort = probe.localPort();
    probe.close();
    QProcess coturn;
    coturn.setProgram(turnserver);
    coturn.setArguments({ QStringLiteral("-n"), QStringLiteral("--listening-ip=127.0.0.1"),
        QStringLiteral("--listening-port=") + QString::number(stunPort), QStringLiteral("--stun-only"),
        QStringLiteral("--no-tls"), QStringLiteral("--no-dtls"), QStringLiteral("--no-cli"),
        QStringLiteral("--log-file=stdout"), QStringLiteral("--no-stdout-log") });
    coturn.setProcessChannelMode(QProcess::MergedChannels);
    coturn.start();
    ASSERT_TRUE(coturn.waitForStarted(20000));

    bool done = false;
    QObject::connect(&receiver, &LogReceiver::stunDone, [&] { done = true; });
    receiver.findMappedAddress(QHostAddress(QStringLiteral("127.0.0.1")), stunPort, std::chrono::seconds(60));
    ASSERT_TRUE(QTest::qWaitFor([&] { return done; }, 70000)) << coturn.readAll().toStdString();
    ASSERT_TRUE(receiver.mappedAddress().has_value()) << coturn.readAll().toStdString();
    EXPECT_EQ(receiver.mappedAddress()->address, QHostAddress(QStringLiteral("127.0.0.1")));
    EXPECT_EQ(receiver.mappedAddress()->port, receiver.port());
    // Its answers are not log datagrams.
    EXPECT_EQ(receiver.counts().foreign, 0u);
    coturn.terminate();
    coturn.waitForFinished(20000);

    // Nobody answers on the old port now (coturn has gone): the binding ends
    // without an address once its time is up.
    done = false;
    receiver.findMappedAddress(QHostAddress(QStringLiteral("127.0.0.1")), stunPort, std::chrono::seconds(2));
    EXPECT_TRUE(QTest::qWaitFor([&] { return done; }, 30000));
    EXPECT_FALSE(receiver.mappedAddress().has_value());
}

// A flood beyond the queue's bound keeps the oldest lines waiting and counts
// the rest; once taken, lines are queued again.
TEST_F(LogReceiverTest, FloodStaysBounded)
{
    receiver.setQueueLimit(100);
    // In steps the kernel's socket buffer takes whole.
    for (int i = 0; i < 300; ++i) {
        send(server, kFF + "log " + logLine(i) + "\n");
        if (i % 50 == 49)
            waitForDatagrams(static_cast<std::uint64_t>(i) + 1);
    }
    EXPECT_EQ(receiver.queued(), 100u);
    EXPECT_EQ(receiver.counts().overflow, 200u);
    const std::vector<std::string> lines = taken();
    ASSERT_EQ(lines.size(), 100u);
    EXPECT_EQ(lines.front(), logLine(0));
    EXPECT_EQ(lines.back(), logLine(99));
    send(server, kFF + "log " + logLine(1000) + "\n");
    waitForDatagrams(301);
    EXPECT_EQ(taken(), (std::vector<std::string>{ logLine(1000) }));
}

TEST_F(LogReceiverTest, PortInUseAndRoute)
{
    LogReceiver second;
    const auto error = second.listen(receiver.port());
    ASSERT_TRUE(error.has_value());
    EXPECT_NE(error->find("Cannot listen on UDP port " + std::to_string(receiver.port())), std::string::npos);
    // The route to a loopback server leaves from a loopback address.
    const auto local = localAddressToward(QHostAddress(QStringLiteral("127.0.0.2")), 27015);
    ASSERT_TRUE(local.has_value());
    EXPECT_TRUE(local->isLoopback()) << local->toString().toStdString();
}

} // namespace
} // namespace velth
