// The FTP client against a real server: what the server receives and holds,
// what the caller is told, and what stays on the local disk after a failure.
// Runs against VELTH_TEST_FTP when it is set (tests that need the local
// server's files, command log or fault modes skip then).
#include "support/FtpTestHelpers.h"

#include "common/FileIo.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTimer>

#include <algorithm>
#include <filesystem>
#include <memory>

#include <sys/stat.h>
#include <unistd.h>

namespace velth::test {
namespace {

using Fault = FtpServer::Fault;
using namespace std::chrono_literals;

bool contains(const std::vector<std::string>& lines, const std::string& prefix)
{
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
}

class FtpClientTest : public ::testing::Test
{
protected:
    // Connects and changes to the folder; fails the test on an error.
    void open(FtpClient& client, const FtpServer& server, const std::string& folder)
    {
        pointAt(client, server);
        Outcome connected;
        client.connectToHost(connected.done());
        ASSERT_EQ(connected.wait(), "");
        ASSERT_TRUE(client.isConnected());
        Outcome changed;
        client.changeDirectory(folder, changed.done());
        ASSERT_EQ(changed.wait(), "");
    }

    TempDir local;
};

using FtpClientKindTest = PerKind<FtpClientTest>;
VELTH_INSTANTIATE_PER_KIND(FtpClientKindTest);

TEST_P(FtpClientKindTest, UploadAndDownloadKeepEveryByte)
{
    FtpServer server;
    const std::string folder = server.external() ? server.folder() : "/velth-client-test";
    if (!server.external()) {
        server.makeFolder("velth-client-test");
    }
    const std::string bytes = allBytes();
    local.write("users.ini", bytes);

    FtpClient client;
    open(client, server, folder);
    std::vector<std::pair<qint64, qint64>> progress;
    QObject::connect(
        &client, &FtpClient::progress, [&](qint64 done, qint64 total) { progress.emplace_back(done, total); });
    Outcome stored;
    client.store(local.file("users.ini"), "users.ini", stored.done());
    EXPECT_TRUE(client.isBusy());
    ASSERT_EQ(stored.wait(), "");
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), std::make_pair(qint64(bytes.size()), qint64(bytes.size())));

    local.write("copy.ini", "old copy");
    Outcome retrieved;
    client.retrieve("users.ini", local.file("copy.ini"), retrieved.done());
    ASSERT_EQ(retrieved.wait(), "");
    EXPECT_EQ(local.read("copy.ini"), bytes);
    EXPECT_EQ(filesStartingWith(local.path(), "copy.ini."), std::vector<std::string>());

    // A local copy kept as a link to a shared one (by a chain of two, the
    // first relative): the shared copy is replaced with its permissions, and
    // the links stay.
    std::filesystem::create_directory(local.file("shared"));
    local.write("shared/users.ini", "old shared copy");
    ::chmod(local.file("shared/users.ini").c_str(), 0640);
    std::filesystem::create_symlink(local.file("shared/users.ini"), local.file("shared/current.ini"));
    std::filesystem::create_symlink("shared/current.ini", local.file("linked.ini"));
    Outcome throughLink;
    client.retrieve("users.ini", local.file("linked.ini"), throughLink.done());
    ASSERT_EQ(throughLink.wait(), "");
    EXPECT_TRUE(std::filesystem::is_symlink(local.file("linked.ini")));
    EXPECT_TRUE(std::filesystem::is_symlink(local.file("shared/current.ini")));
    EXPECT_EQ(local.read("shared/users.ini"), bytes);
    EXPECT_EQ(local.mode("shared/users.ini"), 0640u);
    EXPECT_EQ(filesStartingWith(local.path(), "linked.ini."), std::vector<std::string>());
    EXPECT_EQ(filesStartingWith(local.file("shared"), "users.ini."), std::vector<std::string>());

    // A file the server does not have: its refusal, the local copy intact,
    // and the connection still usable.
    Outcome missing;
    client.retrieve("velth-no-such-file.ini", local.file("copy.ini"), missing.done());
    const std::string refusal = missing.wait();
    EXPECT_EQ(refusal.rfind(sftp() ? "Cannot download velth-no-such-file.ini: No such file"
                                   : "Cannot download velth-no-such-file.ini: 550",
                  0),
        0u)
        << refusal;
    EXPECT_EQ(local.read("copy.ini"), bytes);
    EXPECT_EQ(filesStartingWith(local.path(), "copy.ini."), std::vector<std::string>());
    EXPECT_TRUE(client.isConnected());
    client.disconnect();
    EXPECT_FALSE(client.isConnected());
    if (server.external())
        return;

    EXPECT_EQ(server.read("velth-client-test/users.ini"), bytes);
    const auto commands = server.commands();
    if (sftp()) {
        EXPECT_EQ(server.commands({ "OPEN-WRITE", "OPEN-READ" }),
            (std::vector<std::string>{ "OPEN-WRITE /velth-client-test/users.ini",
                "OPEN-READ /velth-client-test/users.ini", "OPEN-READ /velth-client-test/users.ini",
                "OPEN-READ /velth-client-test/velth-no-such-file.ini" }));
        return;
    }
    const bool active = kind() == ConnectionKind::FtpActive;
    EXPECT_EQ(contains(commands, "PORT 127,0,0,1,"), active) << "active mode with PORT for IPv4";
    EXPECT_FALSE(contains(commands, "EPRT"));
    EXPECT_EQ(contains(commands, "PASV") || contains(commands, "EPSV"), !active);
    EXPECT_EQ(contains(commands, "AUTH TLS") || contains(commands, "AUTH SSL"), kind() == ConnectionKind::FtpsExplicit);
    EXPECT_EQ(contains(commands, "PROT P"), usesTls(kind())) << "the data connections are encrypted too";
    EXPECT_TRUE(contains(commands, "TYPE I"));
    EXPECT_FALSE(contains(commands, "TYPE A"));
    EXPECT_EQ(server.commands({ "CWD", "XCWD", "CDUP" }), std::vector<std::string>{ "CWD " + folder });
    EXPECT_EQ(server.commands({ "STOR", "RETR", "QUIT" }),
        (std::vector<std::string>{
            "STOR users.ini", "RETR users.ini", "RETR users.ini", "RETR velth-no-such-file.ini" }));
}

// The folder goes to the server exactly as given, and names after it are
// relative to it.
TEST_P(FtpClientKindTest, ChangesToTheFolderExactlyAsGiven)
{
    struct Row
    {
        std::string folder;
        std::string landsIn;
    };
    const std::vector<Row> rows{
        { "/cstrike", "cstrike/" },
        { "/srv/hlds//cstrike", "srv/hlds/cstrike/" },
        { "hlds/cstrike", "hlds/cstrike/" },
        { "/my server/cstrike", "my server/cstrike/" },
    };
    FtpServer server(FtpServer::Options::local());
    local.write("users.ini", "x\r\n");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.folder);
        server.makeFolder(row.landsIn);
        server.clearCommands();
        FtpClient client;
        open(client, server, row.folder);
        Outcome stored;
        client.store(local.file("users.ini"), "users.ini", stored.done());
        EXPECT_EQ(stored.wait(), "");
        client.disconnect();
        if (!sftp()) {
            EXPECT_EQ(server.commands({ "CWD", "XCWD" }), std::vector<std::string>{ "CWD " + row.folder });
        }
        EXPECT_EQ(server.read(row.landsIn + "users.ini"), "x\r\n");
    }
}

TEST_P(FtpClientKindTest, ListReturnsTheServersRawLines)
{
    FtpServer server;
    server.write("cstrike/logs/L1020000.log", "130 bytes");
    server.write("cstrike/logs/my log.log", "x");
    server.write("cstrike/logs/notes.txt", "y");
    FtpClient client;
    open(client, server, server.hlds("/cstrike/logs"));
    Outcome listed;
    client.list("*.log", listed.listed());
    ASSERT_EQ(listed.wait(), "");
    ASSERT_EQ(listed.lines.size(), 2u);
    EXPECT_EQ(listed.lines[0].substr(0, 10), "-rw-r--r--");
    EXPECT_NE(listed.lines[0].find(" 9 "), std::string::npos);
    EXPECT_EQ(listed.lines[0].substr(listed.lines[0].size() - 13), " L1020000.log");
    EXPECT_EQ(listed.lines[1].substr(listed.lines[1].size() - 11), " my log.log");
    if (!server.external() && !sftp()) {
        EXPECT_EQ(server.commands({ "LIST" }), std::vector<std::string>{ "LIST *.log" });
        EXPECT_EQ(server.commands({ "CWD" }).size(), 1u) << "no CWD of libcurl's own";
    }

    // The same connection goes on working after a listing, also for a name
    // as long as the file system allows.
    Outcome retrieved;
    client.retrieve("my log.log", local.file("my log.log"), retrieved.done());
    EXPECT_EQ(retrieved.wait(), "");
    EXPECT_EQ(local.read("my log.log"), "x");
    const std::string longName = std::string(250, 'L') + ".log";
    server.write("cstrike/logs/" + longName, "long");
    Outcome longOne;
    client.retrieve(longName, local.file(longName), longOne.done());
    EXPECT_EQ(longOne.wait(), "");
    EXPECT_EQ(local.read(longName), "long");
    if (!server.external() && !sftp()) {
        EXPECT_EQ(server.commands({ "CWD" }).size(), 1u);
    }
    EXPECT_EQ(filesStartingWith(local.path(), std::string(200, 'L')), std::vector<std::string>{ longName });
}

TEST_F(FtpClientTest, ListOfAPatternOnAServerThatDoesNotExpandIt)
{
    FtpServer::Options options = FtpServer::Options::local();
    options.globList = false;
    FtpServer server(options);
    server.write("cstrike/logs/L1.log", "x");
    FtpClient client;
    open(client, server, "/cstrike/logs");
    Outcome listed;
    client.list("*.log", listed.listed());
    EXPECT_EQ(listed.wait(), "Cannot list *.log: 550 No such file or directory.");
    EXPECT_TRUE(listed.lines.empty());
}

// Each fault ends in an error naming what failed with the server's reply
// where there is one; a failed download leaves the old local copy and no
// temporary file. While the client waits for a final reply the server
// withholds, the caller's event loop goes on running.
TEST_P(FtpClientKindTest, FaultsEndInErrorsThatSayWhatFailed)
{
    enum class Step { Connect, Cwd, Store, Retrieve, List };
    struct Row
    {
        const char* name;
        Fault fault;
        Step failsAt;
        std::string remoteFile; // what the server holds in /cstrike
        std::string message; // %P is the port
        bool staysConnected;
        bool heldReply = false; // all data moves, then the final reply never comes
        // The idle limit of a row that ends by it. Every other row gets long
        // limits, so that a busy machine cannot end it by a limit first.
        std::chrono::milliseconds idle = 700ms;
        // Where SFTP says it in its own words (nullptr: as above), and
        // whether a refused folder leaves its connection open.
        const char* sftpMessage = nullptr;
        bool sftpStaysConnected = false;
    };
    const std::string big(4 * 1024 * 1024, 'b');
    const std::vector<Row> rows{
        { "login refused", Fault::RefuseLogin, Step::Connect, "", "Login to 127.0.0.1 refused: 530 Login incorrect.",
            false, false, 700ms, "Login to 127.0.0.1 refused: Authentication failure" },
        { "no greeting", Fault::MuteGreeting, Step::Connect, "",
            "Cannot connect to 127.0.0.1 on port %P: no connection within 0.5 seconds", false },
        { "cwd refused", Fault::RefuseCwd, Step::Cwd, "",
            "Cannot change to the folder /cstrike: 550 Permission denied.", false, false, 700ms,
            "Cannot change to the folder /cstrike: Permission denied", true },
        { "no reply after login", Fault::MuteAfterLogin, Step::Connect, "",
            "Cannot connect to 127.0.0.1 on port %P: no answer from the server for 0.7 seconds", false },
        { "no reply to cwd", Fault::MuteAtCwd, Step::Cwd, "",
            "Cannot change to the folder /cstrike: no answer from the server for 0.7 seconds", false },
        { "missing file", Fault::None, Step::Retrieve, "", "Cannot download users.ini: 550 No such file or directory.",
            true, false, 700ms, "Cannot download users.ini: No such file or directory", true },
        { "retrieve refused", Fault::MissingRetr, Step::Retrieve, "users.ini",
            "Cannot download users.ini: 550 No such file or directory.", true, false, 700ms,
            "Cannot download users.ini: No such file or directory", true },
        { "dropped download", Fault::DropTransfer, Step::Retrieve, big,
            "Cannot download users.ini: the server closed the connection", false },
        { "dropped upload", Fault::DropTransfer, Step::Store, "",
            "Cannot upload users.ini: the server closed the connection", false },
        { "stalled download", Fault::StallTransfer, Step::Retrieve, big,
            "Cannot download users.ini: no answer from the server for 0.7 seconds", false },
        { "stalled upload", Fault::StallTransfer, Step::Store, "",
            "Cannot upload users.ini: no answer from the server for 0.7 seconds", false },
        // Room for the event loop's ticks while the reply is awaited.
        { "upload's final reply withheld", Fault::HoldStorReply, Step::Store, "",
            "Cannot upload users.ini: no answer from the server for 2 seconds", false, true, 2s },
        { "download's final reply withheld", Fault::HoldRetrReply, Step::Retrieve, "new remote copy",
            "Cannot download users.ini: no answer from the server for 2 seconds", false, true, 2s },
        { "trickling download", Fault::Trickle, Step::Retrieve, big,
            "Cannot download users.ini: the transfer was slower than 1 KB/s for 1 second", false },
        { "listing without an end", Fault::EndlessList, Step::List, "",
            "Cannot list *.log: the listing is longer than 100000 lines or 64 MB; it was not read to its end", false,
            false },
        { "multi-line refusal", Fault::MultilineError, Step::Cwd, "",
            "Cannot change to the folder /cstrike: 550-The folder is not there.\n550-It was removed.\n550 Ask the "
            "server's owner.",
            false },
        { "greeting too long", Fault::LongGreeting, Step::Connect, "",
            "Cannot connect to 127.0.0.1 on port %P: the server's reply is too long", false },
        { "data connection from elsewhere", Fault::ForeignData, Step::Retrieve, "users",
            "Cannot download users.ini: a data connection came from 127.0.0.2, not from the server; it was refused",
            false },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        // The test servers of the other kinds know the first faults only.
        const bool plainFtpOnly = row.heldReply || row.failsAt == Step::List || row.fault == Fault::Trickle
            || row.fault == Fault::MultilineError || row.fault == Fault::LongGreeting
            || row.fault == Fault::ForeignData;
        if (plainFtpOnly && kind() != ConnectionKind::FtpActive)
            continue;
        FtpServer server(FtpServer::Options::local(row.fault));
        server.makeFolder("cstrike");
        if (!row.remoteFile.empty())
            server.write("cstrike/users.ini", row.remoteFile);
        local.write("upload.ini", "line\r\n");
        local.write("users.ini", "old local copy");

        FtpClient client;
        // Short limits only where a row ends by them: a busy machine (a slow
        // TLS handshake, a slow test server) must not end any other row first.
        const bool endsByIdle = row.message.find("no answer") != std::string::npos;
        const bool endsByConnectLimit = row.message.find("no connection within") != std::string::npos;
        client.setTimeouts(endsByConnectLimit ? 500ms : 10s, endsByIdle ? row.idle : 10s);
        client.setLowSpeedLimit(1024, 1s);
        pointAt(client, server);
        // Ticks of the caller's event loop after the server withheld its reply.
        bool withheld = false;
        int ticksAfterData = 0;
        QTimer ticker;
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            ticksAfterData += withheld ? 1 : 0;
            withheld = withheld || (row.heldReply && contains(server.commands(), "(226 withheld)"));
        });
        ticker.start(50);
        std::string message;
        {
            Outcome outcome;
            client.connectToHost(outcome.done());
            message = outcome.wait();
        }
        if (row.failsAt != Step::Connect) {
            ASSERT_EQ(message, "");
            Outcome outcome;
            client.changeDirectory("/cstrike", outcome.done());
            message = outcome.wait();
        }
        if (row.failsAt == Step::Store || row.failsAt == Step::Retrieve) {
            ASSERT_EQ(message, "");
            Outcome outcome;
            if (row.failsAt == Step::Store)
                client.store(local.file("upload.ini"), "users.ini", outcome.done());
            else
                client.retrieve("users.ini", local.file("users.ini"), outcome.done());
            message = outcome.wait();
        }
        if (row.failsAt == Step::List) {
            ASSERT_EQ(message, "");
            Outcome outcome;
            client.list("*.log", outcome.listed());
            message = outcome.wait();
            EXPECT_TRUE(outcome.lines.empty());
        }
        std::string expected = sftp() && row.sftpMessage ? row.sftpMessage : row.message;
        if (const auto at = expected.find("%P"); at != std::string::npos)
            expected.replace(at, 2, std::to_string(server.port()));
        if (row.fault == Fault::LongGreeting) {
            EXPECT_EQ(message.substr(0, expected.size()), expected) << message;
        } else {
            EXPECT_EQ(message, expected);
        }
        if (row.heldReply) {
            EXPECT_GE(ticksAfterData, 3) << "the event loop stood still while the final reply was awaited";
        }
        EXPECT_EQ(client.isConnected(), sftp() && row.sftpMessage ? row.sftpStaysConnected : row.staysConnected);
        EXPECT_FALSE(client.isBusy());
        EXPECT_EQ(local.read("users.ini"), "old local copy");
        EXPECT_EQ(filesStartingWith(local.path(), "users.ini."), std::vector<std::string>());
        client.disconnect();
    }
}

// A passive-mode reply that is already there when the client first looks for
// it (a fast server on a short path) must not hold the transfer up: libcurl
// before 8.4 then waits a whole second before it opens the data connection.
// Rounds that each met that second take that many seconds or more; without
// it they take a small part of one, so three quarters of that leave room for
// a busy machine.
TEST_F(FtpClientTest, APassiveReplyAlreadyWaitingDoesNotHoldTheTransferUp)
{
    constexpr int kRounds = 8;
    for (const ConnectionKind kind : { ConnectionKind::FtpPassive, ConnectionKind::FtpsExplicit }) {
        SCOPED_TRACE(std::string(connectionKindValue(kind)));
        FtpServer::Options options = FtpServer::Options::local(Fault::EarlyEpsv);
        options.kind = kind;
        FtpServer server(options);
        server.write("cstrike/users.ini", "x\r\n");
        FtpClient client;
        pointAt(client, server);
        Outcome connected;
        client.connectToHost(connected.done());
        ASSERT_EQ(connected.wait(), "");
        QElapsedTimer timer;
        timer.start();
        for (int round = 0; round < kRounds; ++round) {
            Outcome changed;
            client.changeDirectory("/cstrike", changed.done());
            ASSERT_EQ(changed.wait(), "");
            Outcome retrieved;
            client.retrieve("users.ini", local.file("users.ini"), retrieved.done());
            ASSERT_EQ(retrieved.wait(), "");
        }
        EXPECT_LT(timer.elapsed(), kRounds * 1000 * 3 / 4);
        EXPECT_EQ(local.read("users.ini"), "x\r\n");
        const std::vector<std::string> commands = server.commands();
        EXPECT_EQ(std::count(commands.begin(), commands.end(), "(229 sent with the CWD reply)"), kRounds)
            << "every EPSV reply was already waiting";
        client.disconnect();
    }
}

// A server that cannot reach the client for an active-mode data connection
// (the client behind a home router): the error says where passive mode is
// chosen, and passive mode gets the file from the same server.
TEST_F(FtpClientTest, ActiveModeThatCannotConnectPointsToPassiveMode)
{
    FtpServer server(FtpServer::Options::local(Fault::NoActive));
    server.write("cstrike/users.ini", "x\r\n");
    for (const ConnectionKind kind : { ConnectionKind::FtpActive, ConnectionKind::FtpPassive }) {
        SCOPED_TRACE(std::string(connectionKindValue(kind)));
        FtpClient client;
        client.setServer({ kind, server.host(), server.port(), server.user(), server.password() });
        Outcome connected;
        client.connectToHost(connected.done());
        ASSERT_EQ(connected.wait(), "");
        Outcome changed;
        client.changeDirectory("/cstrike", changed.done());
        ASSERT_EQ(changed.wait(), "");
        Outcome retrieved;
        client.retrieve("users.ini", local.file("users.ini"), retrieved.done());
        if (kind == ConnectionKind::FtpActive) {
            EXPECT_EQ(retrieved.wait(),
                "Cannot download users.ini: 425 Can't connect to specified address. (the server could not open the "
                "data connection in active mode; passive mode may help: choose \"FTP, passive mode\" under "
                "Connection on the Settings page)");
            EXPECT_FALSE(local.exists("users.ini"));
        } else {
            EXPECT_EQ(retrieved.wait(), "");
            EXPECT_EQ(local.read("users.ini"), "x\r\n");
        }
        client.disconnect();
    }
}

TEST_F(FtpClientTest, ConnectFailuresCloseWhatTheyOpened)
{
    int deadPort = 0;
    {
        FtpServer server(FtpServer::Options::local());
        deadPort = server.port();
    }
    struct Row
    {
        std::string host;
        int port;
        std::string message;
    };
    const std::vector<Row> rows{
        { "127.0.0.1", deadPort,
            "Cannot connect to 127.0.0.1 on port " + std::to_string(deadPort) + ": Connection refused" },
        { "", 21, "Cannot connect to  on port 21: no host name given" },
        { "127.0.0.1\r\nSITE x", 21,
            "Cannot connect to 127.0.0.1\r\nSITE x on port 21: the host name, user name or "
            "password holds a line break" },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.host);
        FtpClient client;
        FtpServerData target;
        target.host = row.host;
        target.port = row.port;
        client.setServer(target);
        Outcome outcome;
        client.connectToHost(outcome.done());
        EXPECT_TRUE(client.isConnected()) << "counts as connected from the start of the connect";
        EXPECT_FALSE(outcome.called) << "never calls back from inside the call";
        EXPECT_EQ(outcome.wait(), row.message);
        EXPECT_FALSE(client.isConnected()) << "closed before the callback ran";
    }
}

TEST_F(FtpClientTest, AServerThatClosedTheConnectionIsReportedByTheNextOperation)
{
    auto server = std::make_unique<FtpServer>(FtpServer::Options::local());
    server->makeFolder("cstrike");
    FtpClient client;
    open(client, *server, "/cstrike");
    server->stop();
    ASSERT_TRUE(client.isConnected());
    Outcome outcome;
    client.retrieve("users.ini", local.file("users.ini"), outcome.done());
    EXPECT_EQ(outcome.wait(), "Cannot download users.ini: the server closed the connection");
    EXPECT_FALSE(client.isConnected());
    EXPECT_EQ(filesStartingWith(local.path(), "users.ini"), std::vector<std::string>());
}

TEST_F(FtpClientTest, DisconnectSendsNoQuitAndDropsTheRunningOperation)
{
    FtpServer::Options options = FtpServer::Options::local();
    options.rate = 64 * 1024;
    FtpServer server(options);
    server.write("cstrike/big.bin", std::string(1024 * 1024, 'x'));
    local.write("big.bin", "old");
    FtpClient client;
    open(client, server, "/cstrike");
    Outcome outcome;
    qint64 moved = 0;
    QObject::connect(&client, &FtpClient::progress, [&](qint64 done, qint64) { moved = done; });
    client.retrieve("big.bin", local.file("big.bin"), outcome.done());
    ASSERT_TRUE(waitUntil([&] { return moved > 0; }));
    client.disconnect();
    EXPECT_FALSE(client.isConnected());
    EXPECT_FALSE(client.isBusy());
    // Give a wrongly delivered callback every chance to arrive.
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_FALSE(outcome.called);
    EXPECT_EQ(local.read("big.bin"), "old");
    EXPECT_EQ(filesStartingWith(local.path(), "big.bin."), std::vector<std::string>());
    EXPECT_EQ(server.commands({ "QUIT" }), std::vector<std::string>());
}

// Exit during a transfer destroys the page's client: that must end at once,
// leave the old local copy and no half-written file.
TEST_F(FtpClientTest, DestroyingTheClientMidTransferLeavesNoHalfWrittenFile)
{
    FtpServer::Options options = FtpServer::Options::local();
    options.rate = 64 * 1024;
    FtpServer server(options);
    server.write("cstrike/users.ini", std::string(1024 * 1024, 'u'));
    local.write("users.ini", "the user's copy");
    // Larger than the socket buffers, so the upload is still sending when
    // its first progress arrives.
    local.write("up.bin", std::string(32 * 1024 * 1024, 'p'));
    for (const bool upload : { false, true }) {
        SCOPED_TRACE(upload ? "upload" : "download");
        auto client = std::make_unique<FtpClient>();
        open(*client, server, "/cstrike");
        Outcome outcome;
        qint64 moved = 0;
        QObject::connect(client.get(), &FtpClient::progress, [&](qint64 done, qint64) { moved = done; });
        if (upload)
            client->store(local.file("up.bin"), "up.bin", outcome.done());
        else
            client->retrieve("users.ini", local.file("users.ini"), outcome.done());
        ASSERT_TRUE(waitUntil([&] { return moved > 0; }));
        ASSERT_TRUE(client->isBusy());
        client.reset();
        QCoreApplication::processEvents();
        EXPECT_FALSE(outcome.called);
        EXPECT_EQ(local.read("users.ini"), "the user's copy");
        EXPECT_EQ(filesStartingWith(local.path(), "users.ini."), std::vector<std::string>());
    }
}

// A client destroyed while libcurl waits for a name server that never
// answers: no socket can be shut down to end that wait, and getaddrinfo()
// cannot be stopped. Destroying the client must not wait for it (the window
// would stand still, then the worker thread would outlive the client), and
// the program must end at once after it; under the sanitizers the child's
// exit also shows that nothing the client owned is left. The child gets a
// name server of the test's own in a mount namespace of its own, so the
// test needs root and unshare(1).
TEST_F(FtpClientTest, DestroyingAClientWhoseNameServerNeverAnswersLetsTheProgramEnd)
{
    if (::getuid() != 0
        || QProcess::execute(QStringLiteral("unshare"), { QStringLiteral("-m"), QStringLiteral("true") }) != 0)
        GTEST_SKIP() << "needs root and unshare -m, to give the child a name server of its own";
    const QString address = QStringLiteral("127.53.%1.%2").arg((::getpid() >> 8) & 255).arg((::getpid() & 254) + 1);
    QProcess nameServer;
    nameServer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    nameServer.start(QStringLiteral("/usr/bin/python3"),
        { QStringLiteral(VELTH_MUTEDNS_SCRIPT), QStringLiteral("--address"), address });
    ASSERT_TRUE(nameServer.waitForReadyRead(30000));
    ASSERT_EQ(nameServer.readLine().trimmed(), "READY");
    // One try, long enough to outlast the whole test.
    local.write("resolv.conf", "nameserver " + address.toStdString() + "\noptions timeout:30 attempts:1\n");

    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer timer;
    timer.start();
    child.start(QStringLiteral("unshare"),
        { QStringLiteral("-m"), QStringLiteral("sh"), QStringLiteral("-c"),
            QStringLiteral("mount --bind \"$1\" /etc/resolv.conf && exec \"$2\" velth-never-answered.invalid 21 500"),
            QStringLiteral("sh"), QString::fromStdString(local.file("resolv.conf")),
            QStringLiteral(VELTH_CLIENT_EXIT_CHILD) });
    ASSERT_TRUE(child.waitForFinished(25000)) << "the program did not end while the lookup hung";
    const qint64 ended = timer.elapsed();
    const QString output = QString::fromUtf8(child.readAllStandardOutput());
    EXPECT_EQ(child.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
    EXPECT_FALSE(output.contains(QStringLiteral("called back"))) << output.toStdString();
    const QRegularExpressionMatch destroyed
        = QRegularExpression(QStringLiteral("destroyed in (\\d+) ms")).match(output);
    ASSERT_TRUE(destroyed.hasMatch()) << output.toStdString();
    // Waiting for the worker takes the join limit (1.5 s) twice over; less
    // than one of them means it was not waited for.
    EXPECT_LT(destroyed.captured(1).toInt(), 1500) << "destroying the client waited for the lookup";
    EXPECT_LT(ended, 20000) << "the program waited for the lookup";
    QCoreApplication::processEvents();
    nameServer.waitForReadyRead(1000);
    EXPECT_TRUE(nameServer.readAll().contains("QUERY")) << "the lookup never reached the name server";
    nameServer.closeWriteChannel();
    nameServer.waitForFinished(5000);
}

TEST_F(FtpClientTest, CancelEndsTheTransferWithItsOwnError)
{
    FtpServer::Options options = FtpServer::Options::local();
    options.rate = 64 * 1024;
    FtpServer server(options);
    server.write("cstrike/big.bin", std::string(1024 * 1024, 'x'));
    FtpClient client;
    open(client, server, "/cstrike");
    Outcome outcome;
    qint64 moved = 0;
    QObject::connect(&client, &FtpClient::progress, [&](qint64 done, qint64) { moved = done; });
    client.retrieve("big.bin", local.file("big.bin"), outcome.done());
    ASSERT_TRUE(waitUntil([&] { return moved > 0; }));
    client.cancel();
    EXPECT_EQ(outcome.wait(), "Transfer cancelled");
    EXPECT_FALSE(local.exists("big.bin"));
    EXPECT_EQ(filesStartingWith(local.path(), "big.bin"), std::vector<std::string>());
}

TEST_F(FtpClientTest, LocalProblemsAndUnsafeNamesAreRefusedBeforeTheServerSeesThem)
{
    FtpServer server;
    server.write("cstrike/users.ini", "remote");
    FtpClient client;
    open(client, server, server.hlds("/cstrike"));
    if (!server.external())
        server.clearCommands();

    Outcome missingLocal;
    client.store(local.file("absent.ini"), "users.ini", missingLocal.done());
    EXPECT_EQ(missingLocal.wait(),
        "Cannot upload users.ini: cannot read " + local.file("absent.ini") + ": No such file or directory");

    Outcome noFolder;
    client.retrieve("users.ini", local.file("no/such/folder/users.ini"), noFolder.done());
    EXPECT_NE(noFolder.wait().find("no/such/folder/users.ini"), std::string::npos);

    Outcome injected;
    client.changeDirectory("/cstrike\r\nDELE users.ini", injected.done());
    EXPECT_EQ(injected.wait(), "Cannot change to the folder /cstrike\r\nDELE users.ini: the name holds a line break");

    if (!server.external()) {
        EXPECT_EQ(server.commands(), std::vector<std::string>());
    }
    EXPECT_EQ(server.read("cstrike/users.ini"), "remote");
    // The connection is still good.
    Outcome retrieved;
    client.retrieve("users.ini", local.file("users.ini"), retrieved.done());
    EXPECT_EQ(retrieved.wait(), "");
    EXPECT_EQ(local.read("users.ini"), "remote");
}

} // namespace
} // namespace velth::test
