// The log port: which datagrams are log lines, and a receiver on a real UDP
// port fed from real sockets on two loopback addresses.
#include "net/LogReceiver.h"

#include <gtest/gtest.h>

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

struct LogReceiverTest : ::testing::Test
{
    LogReceiver receiver;
    QUdpSocket server; // 127.0.0.1, the game server
    QUdpSocket stranger; // 127.0.0.2

    void SetUp() override
    {
        ASSERT_FALSE(receiver.listen(0).has_value());
        ASSERT_TRUE(server.bind(QHostAddress(QStringLiteral("127.0.0.1")), 0));
        ASSERT_TRUE(stranger.bind(QHostAddress(QStringLiteral("127.0.0.2")), 0));
        receiver.setSources({ QHostAddress(QStringLiteral("127.0.0.1")) });
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
            return c.lines + c.foreign + c.malformed + c.wrongSecret + c.tooLong + c.overflow;
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

// A stranger's datagrams, malformed and over-long ones are counted and never
// reach the queue; the server's lines arrive in order.
TEST_F(LogReceiverTest, TakesOnlyTheServersLogLines)
{
    int ready = 0;
    QObject::connect(&receiver, &LogReceiver::linesReady, [&] { ++ready; });
    send(server, kFF + "log " + logLine(1) + "\n" + std::string(1, '\0'));
    send(stranger, kFF + "log " + logLine(2) + "\n");
    send(server, kFF + "log " + std::string(5000, 'L') + "\n");
    send(server, "garbage");
    send(server, kFF + "S99" + logLine(3) + "\n");
    send(server, kFF + "log " + logLine(4) + "\n");
    waitForDatagrams(6);
    EXPECT_EQ(taken(), (std::vector<std::string>{ logLine(1), logLine(4) }));
    const LogReceiver::Counts& c = receiver.counts();
    EXPECT_EQ(c.lines, 2u);
    EXPECT_EQ(c.foreign, 1u);
    EXPECT_EQ(c.tooLong, 1u);
    EXPECT_EQ(c.malformed, 1u);
    EXPECT_EQ(c.wrongSecret, 1u);
    EXPECT_GE(ready, 1);

    // With the server's secret only the signed form is taken.
    receiver.setSecret("99");
    send(server, kFF + "log " + logLine(5) + "\n");
    send(server, kFF + "S99" + logLine(6) + "\n");
    send(stranger, kFF + "S99" + logLine(7) + "\n");
    waitForDatagrams(9);
    EXPECT_EQ(taken(), (std::vector<std::string>{ logLine(6) }));
    EXPECT_EQ(receiver.counts().wrongSecret, 2u);
    EXPECT_EQ(receiver.counts().foreign, 2u);
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
