// The game server emulator itself: it starts, reports its ports, answers the
// engine's first datagrams as the engine does, and records what it received.
#include "support/GameServerEmulator.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <vector>

using velth::test::GameServerEmulator;

namespace {

// A raw UDP socket of the test: one datagram out, one back.
class Udp
{
public:
    Udp() { m_fd = ::socket(AF_INET, SOCK_DGRAM, 0); }
    ~Udp() { ::close(m_fd); }
    Udp(const Udp&) = delete;
    Udp& operator=(const Udp&) = delete;

    // The reply to request, or "" when none comes within the wait.
    std::string ask(int port, const std::string& request, int waitMs = 10000)
    {
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::sendto(m_fd, request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        pollfd p{ m_fd, POLLIN, 0 };
        if (::poll(&p, 1, waitMs) <= 0)
            return {};
        char buf[2048];
        const ssize_t n = ::recv(m_fd, buf, sizeof buf, 0);
        return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
    }

private:
    int m_fd = -1;
};

const std::string header(4, '\xff');

TEST(GameServerEmulator, FleetServersAnswerOnTheirOwnPortsUnderTheirOwnNames)
{
    GameServerEmulator::Options options;
    options.count = 3;
    GameServerEmulator fleet(options);
    ASSERT_EQ(fleet.ports().size(), 3u);
    Udp udp;
    for (int i = 0; i < 3; ++i) {
        const std::string reply = udp.ask(
            fleet.ports()[static_cast<std::size_t>(i)], header + "TSource Engine Query" + std::string(1, '\0'));
        ASSERT_GT(reply.size(), 6u);
        EXPECT_EQ(reply.substr(0, 6), header + "I\x30");
        const std::string name = "Velth Test Server #" + std::to_string(i + 1);
        EXPECT_EQ(reply.substr(6, name.size() + 1), name + std::string(1, '\0'));
        EXPECT_EQ(fleet.received(i + 1), std::vector<std::string>{ "info" });
    }
}

// How many of `count` info requests sent at once get a reply: replies are
// collected until `expected` came, then for one more second (a reply more
// than expected would be a fault; waiting longer never makes one appear).
int repliesTo(int port, int count, int expected)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const std::string request = header + "TSource Engine Query" + std::string(1, '\0');
    for (int i = 0; i < count; ++i)
        ::sendto(fd, request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    int got = 0;
    pollfd p{ fd, POLLIN, 0 };
    while (::poll(&p, 1, got < expected ? 20000 : 1000) > 0) {
        char buf[2048];
        if (::recv(fd, buf, sizeof buf, 0) > 0)
            ++got;
    }
    ::close(fd);
    return got;
}

TEST(GameServerEmulator, LosesTheDatagramsItSendsAsAskedFor)
{
    GameServerEmulator::Options everyThird;
    everyThird.loseEvery = 3;
    GameServerEmulator server(everyThird);
    EXPECT_EQ(repliesTo(server.port(), 9, 6), 6);
    // The same seed loses the same share of the same replies.
    GameServerEmulator::Options random;
    random.lossPercent = 50;
    random.lossSeed = 5;
    GameServerEmulator first(random);
    const int kept = repliesTo(first.port(), 40, 1);
    EXPECT_GT(kept, 5);
    EXPECT_LT(kept, 35);
    GameServerEmulator second(random);
    EXPECT_EQ(repliesTo(second.port(), 40, kept), kept);
}

// The rcon refusals of the engine, word for word, and the record of them.
TEST(GameServerEmulator, RconRefusesAsTheEngineDoes)
{
    struct Row
    {
        std::optional<std::string> password;
        std::string request; // after "rcon "; <c> stands for the challenge
        std::string output;
        std::string record;
    };
    const std::vector<Row> rows{
        { std::nullopt, "<c> \"x\" status", "Bad rcon_password.\nNo password set for this server.\n",
            "rcon no-password status" },
        { "pw", "<c> \"wrong\" status", "Bad rcon_password.\n", "rcon bad-password status" },
        { "pw", "1 \"pw\" status", "Bad rcon_password.\nBad challenge.\n", "rcon bad-challenge status" },
        { "pw", "<c> \"pw\" echo a b", "a b \n", "rcon ok echo a b" },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.request);
        GameServerEmulator::Options options;
        options.rconPassword = row.password;
        GameServerEmulator server(options);
        Udp udp;
        const std::string challenge = udp.ask(server.port(), header + "challenge rcon\n");
        ASSERT_EQ(challenge.rfind(header + "challenge rcon ", 0), 0u);
        const std::string number = challenge.substr(19, challenge.find('\n') - 19);
        std::string request = row.request;
        if (request.rfind("<c>", 0) == 0)
            request.replace(0, 3, number);
        const std::string reply = udp.ask(server.port(), header + "rcon " + request);
        EXPECT_EQ(reply, header + "l" + row.output + std::string(2, '\0'));
        EXPECT_EQ(server.received().at(1), row.record);
    }
}

} // namespace
