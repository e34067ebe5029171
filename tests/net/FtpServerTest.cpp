// The test FTP server itself: its control connection answers as each fault
// mode promises, and it records what it received.
#include "support/FtpServer.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

using velth::test::FtpServer;

namespace {

// A raw control connection: send lines, read whole replies.
class Control
{
public:
    explicit Control(int port)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
            ADD_FAILURE() << "cannot connect to the test server";
    }
    ~Control() { ::close(m_fd); }

    void send(const std::string& line)
    {
        const std::string data = line + "\r\n";
        ASSERT_EQ(::write(m_fd, data.data(), data.size()), static_cast<ssize_t>(data.size()));
    }

    // One reply line, or "" when nothing arrives within the wait.
    std::string reply(int waitMs = 10000)
    {
        for (;;) {
            const auto end = m_buffer.find("\r\n");
            if (end != std::string::npos) {
                std::string line = m_buffer.substr(0, end);
                m_buffer.erase(0, end + 2);
                return line;
            }
            pollfd p{ m_fd, POLLIN, 0 };
            if (::poll(&p, 1, waitMs) <= 0)
                return {};
            char buf[512];
            const ssize_t n = ::read(m_fd, buf, sizeof buf);
            if (n <= 0)
                return {};
            m_buffer.append(buf, static_cast<std::size_t>(n));
        }
    }

    std::string login(const FtpServer& server)
    {
        send("USER " + server.user());
        reply();
        send("PASS " + server.password());
        return reply();
    }

private:
    int m_fd = -1;
    std::string m_buffer;
};

FtpServer::Options withFault(FtpServer::Fault fault)
{
    FtpServer::Options options;
    options.fault = fault;
    options.allowExternal = false;
    return options;
}

TEST(FtpServerTest, GreetsLogsInAndRecordsCommands)
{
    FtpServer server(withFault(FtpServer::Fault::None));
    ASSERT_GT(server.port(), 0);
    server.makeFolder("cstrike");
    Control control(server.port());
    EXPECT_EQ(control.reply().substr(0, 4), "220 ");
    EXPECT_EQ(control.login(server).substr(0, 4), "230 ");
    control.send("CWD /cstrike");
    EXPECT_EQ(control.reply(), "250 \"/cstrike\" is the current directory.");
    const std::vector<std::string> expected{ "USER velth", "PASS ******", "CWD /cstrike" };
    EXPECT_EQ(server.commands(), expected);
    EXPECT_EQ(server.commands({ "CWD" }), std::vector<std::string>{ "CWD /cstrike" });
    server.clearCommands();
    EXPECT_TRUE(server.commands().empty());
}

TEST(FtpServerTest, RefusesAsAFaultModeAsks)
{
    FtpServer server(withFault(FtpServer::Fault::RefuseLogin));
    Control control(server.port());
    control.reply();
    EXPECT_EQ(control.login(server), "530 Login incorrect.");
}

TEST(FtpServerTest, StopEndsTheServer)
{
    FtpServer server;
    if (server.external())
        GTEST_SKIP() << "external server";
    EXPECT_TRUE(server.running());
    server.stop();
    EXPECT_FALSE(server.running());
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(server.port()));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_NE(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ::close(fd);
}

} // namespace
