// The live log of the Chat parser page against the game-server emulator: a
// real log replayed to the program's UDP port, the console's say, datagrams
// from elsewhere, a flood, and the server told to stop.
#include "loganalysis/LiveLog.h"

#include "common/AppContext.h"
#include "common/ErrorReport.h"
#include "loganalysis/ChatFrame.h"
#include "loganalysis/ChatModel.h"
#include "loganalysis/ChatViews.h"
#include "loganalysis/LiveFold.h"
#include "loganalysis/LocalFileList.h"
#include "loganalysis/LogParser.h"
#include "loganalysis/WorkedExampleLog.h"
#include "net/GameServer.h"
#include "net/LogReceiver.h"
#include "profiles/ProfileStore.h"
#include "support/GameServerEmulator.h"
#include "support/RecordingStatus.h"
#include "support/ScriptedPrompts.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTreeView>
#include <QUdpSocket>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

namespace velth {
namespace {

using test::GameServerEmulator;

const std::string kFF("\xFF\xFF\xFF\xFF", 4);

int freeUdpPort()
{
    QUdpSocket probe;
    probe.bind(QHostAddress::Any, 0);
    return probe.localPort();
}

ScanResult scanFile(const std::string& path)
{
    LogParser parser;
    scanLogFile(path, parser);
    return parser.takeResult();
}

struct LiveLogTest : ::testing::Test
{
    test::ProgramFolder folder;
    test::ScriptedPrompts prompts;
    test::RecordingStatus status;
    ProfileStore store{ folder.path() + "/ftpserver.ini" };
    AppContext context{ folder.path(), store, prompts, status };
    std::unique_ptr<GameServerEmulator> server;
    std::unique_ptr<TchatFrame> page;
    int logPort = freeUdpPort();
    std::string replay; // the log the server replays

    void SetUp() override
    {
        setErrorReportPrompts(&prompts);
        std::filesystem::create_directory(folder.file("logs"));
        replay = folder.file("replay.log");
    }
    void TearDown() override
    {
        page.reset();
        prompts.verify();
        setErrorReportPrompts(nullptr);
    }

    // Starts the server (replaying `log` at `rate` lines a second) and the
    // page with a profile "srv" for it.
    void start(const std::string& log, double rate, const std::string& secret = {},
        const std::string& profileSecret = {}, bool logLost = false)
    {
        folder.write("replay.log", log);
        GameServerEmulator::Options options;
        options.rconPassword = "pw";
        options.replayLog = replay;
        options.replayRate = rate;
        options.logSecret = secret;
        options.logLost = logLost;
        server = std::make_unique<GameServerEmulator>(options);
        for (const auto& [profile, host] : { std::pair{ "srv", "127.0.0.1" }, std::pair{ "other", "127.0.0.1" } }) {
            store.writeString(profile, "HOST", host);
            store.writeInt(profile, "GAMEPORT", server->port());
            store.writeString(profile, "rconpass", "pw");
            store.writeString(profile, "LOGADDRESS", "127.0.0.1");
            store.writeInt(profile, "LOGPORT", logPort);
            // Never the public default, even where the program would not ask it.
            store.writeString(profile, "STUNSERVER", "");
            if (!profileSecret.empty())
                store.writeString(profile, std::string(kLogSecretKey), profileSecret);
        }
        page = std::make_unique<TchatFrame>(context);
        page->setProfileNames({ "srv", "other" });
        page->setLogsFolder(folder.file("logs"));
        page->FTPServer->setCurrentIndex(0);
        page->show();
    }
    LiveLog& live() { return *page->Live; }
    void goLive()
    {
        QTest::mouseClick(live().BLive, Qt::LeftButton);
        ASSERT_TRUE(QTest::qWaitFor([&] { return live().state() == LiveLog::State::Live; }, 20000))
            << status.status().toStdString();
    }
    // Live, and the program's own request came back over the log.
    void waitArrived()
    {
        ASSERT_TRUE(QTest::qWaitFor([&] { return live().arrived(); }, 30000))
            << status.status().toStdString() << " / " << live().LiveStatus->text().toStdString();
        EXPECT_EQ(status.status(),
            QStringLiteral("Receiving the log of 127.0.0.1:") + QString::number(server->port()) + u'.');
    }
    void waitForLines(std::size_t n)
    {
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return live().fold().lineCount() + live().fold().droppedLines() >= n; }, 60000))
            << live().fold().lineCount() << " " << live().LiveStatus->text().toStdString();
    }
    // The lines kept (the program's own console requests, which the server
    // logs too, are held out of them).
    std::size_t gameLines() const
    {
        const std::string bytes = page->Live->fold().fileBytes();
        std::size_t n = 0;
        for (std::size_t at = 0, end; (end = bytes.find("\r\n", at)) != std::string::npos; at = end + 2)
            ++n;
        return n == 0 ? 0 : n - 1; // the header
    }
    void waitForGameLines(std::size_t n)
    {
        ASSERT_TRUE(QTest::qWaitFor([&] { return gameLines() >= n; }, 60000))
            << gameLines() << " " << live().LiveStatus->text().toStdString();
    }
    std::string target() const { return "127.0.0.1 " + std::to_string(logPort); }
    bool serverRan(const std::string& command) const
    {
        const auto commands = server->rconCommands();
        return std::find(commands.begin(), commands.end(), command) != commands.end();
    }
    int rows(const QAbstractItemView* view) const { return view->model()->rowCount(); }
};

// A real log replayed at a fixed rate, folded as it comes, equals the scan of
// the same lines as a file, field for field, and so do the views; saved, the
// lines are a log the page lists and scans to the same result; Stop takes
// the address back on the server.
TEST_F(LiveLogTest, ReplayedLogFoldsToTheScanOfTheFile)
{
    const std::string generated = folder.file("generated.log");
    ASSERT_EQ(
        std::system(("/usr/bin/python3 '" VELTH_GENLOG "' --size 256K --seed 3 -o '" + generated + "'").c_str()), 0);
    std::string log = test::kWorkedExampleLog + folder.read("generated.log");
    start(log, 4000);
    goLive();
    waitArrived();
    EXPECT_TRUE(serverRan("log on"));
    EXPECT_TRUE(serverRan("logaddress_add " + target()));
    const ScanResult file = scanFile(replay);
    std::size_t lines = 0;
    {
        LogFileReader reader(replay);
        std::string_view line;
        while (reader.nextLine(line))
            lines += line.empty() ? 0 : 1;
    }
    waitForGameLines(lines);
    EXPECT_EQ(gameLines(), lines);
    const ScanResult& folded = *live().fold().result();
    EXPECT_EQ(folded, file);
    const ChatViews& views = *page->Views;
    EXPECT_EQ(rows(views.PublicChat), static_cast<int>(file.publicChat.size()));
    EXPECT_EQ(rows(views.TChat), static_cast<int>(file.tChat.size()));
    EXPECT_EQ(rows(views.CTChat), static_cast<int>(file.ctChat.size()));
    EXPECT_EQ(rows(views.CTView), static_cast<int>(file.ctRows.size()));
    EXPECT_EQ(rows(views.TView), static_cast<int>(file.tRows.size()));
    EXPECT_EQ(rows(views.ServerSettings), static_cast<int>(file.cvars.size()));
    ASSERT_FALSE(file.ctRows.empty());
    EXPECT_EQ(views.CTView->model()->index(0, 2).data().toString(), QString::number(file.ctRows[0].tks));
    EXPECT_EQ(views.CTScore->text(), QString::fromStdString(*file.ctWins) + QStringLiteral(" wins"));
    EXPECT_EQ(views.MapLabel->text(), QStringLiteral("Map: ") + QString::fromStdString(*file.map));
    // The public chat follows its newest line.
    EXPECT_EQ(views.PublicChat->indexAt(QPoint(5, views.PublicChat->viewport()->height() - 3)).row(),
        rows(views.PublicChat) - 1);

    QTest::mouseClick(live().BSaveLive, Qt::LeftButton);
    const QString saved = status.status().mid(QStringLiteral("Saved the live log as ").size()).chopped(1);
    ASSERT_TRUE(saved.startsWith(QStringLiteral("live_"))) << status.status().toStdString();
    EXPECT_EQ(scanFile(folder.file("logs/" + saved.toStdString())), folded);
    // The program's own requests (the check, the console's end markers) came
    // back over the log with the password: neither is in the saved log.
    const std::string savedBytes = folder.read("logs/" + saved.toStdString());
    EXPECT_EQ(savedBytes.find("\"pw\""), std::string::npos);
    EXPECT_EQ(savedBytes.find("velth-"), std::string::npos);
    EXPECT_GE(live().receiver().counts().own, 1u);
    ASSERT_TRUE(QTest::qWaitFor([&] { return page->LocalFiles->names().size() == 1; }, 10000));

    QTest::mouseClick(live().BStop, Qt::LeftButton);
    EXPECT_EQ(live().state(), LiveLog::State::Idle);
    EXPECT_EQ(status.status(), QStringLiteral("Live log stopped."));
    ASSERT_TRUE(QTest::qWaitFor([&] { return serverRan("logaddress_del " + target()); }, 20000));
    // The saved log opens like any downloaded one.
    ASSERT_TRUE(page->LocalFiles->selectName(saved.chopped(4)) || page->LocalFiles->selectName(saved));
    page->LocalFilesDblClick();
    EXPECT_EQ(rows(views.PublicChat), static_cast<int>(file.publicChat.size()));
}

// What the admin says over the console arrives as a chat line; datagrams
// from another address, malformed and over-long ones change nothing; a new
// profile ends the session on the server; a silent stream says so.
TEST_F(LiveLogTest, ConsoleSayArrivesAndStrangersAreDropped)
{
    start(test::kWorkedExampleLog, 1000);
    live().setSilenceLimit(std::chrono::seconds(1));
    goLive();
    waitArrived();
    waitForGameLines(14);
    // The server's console, as the Live page drives it.
    RconClient console;
    console.setAddress({ server->host(), server->port() });
    console.setPassword("pw");
    bool said = false;
    console.execute("say back in 5", [&](const RconResult& result) { said = result.ok(); });
    const ChatModel* chat = page->Views->PublicChat->chatModel();
    ASSERT_TRUE(QTest::qWaitFor([&] { return chat->rowCount() == 3; }, 20000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return said; }, 20000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !console.isBusy(); }, 20000));
    const std::size_t before = live().fold().lineCount();
    EXPECT_EQ(chat->text(2), QStringLiteral("Server: \"back in 5\""));

    QUdpSocket stranger;
    ASSERT_TRUE(stranger.bind(QHostAddress(QStringLiteral("127.0.0.2")), 0));
    QUdpSocket local; // the server's address, another port: the engine sends only from its game port
    ASSERT_TRUE(local.bind(QHostAddress(QStringLiteral("127.0.0.1")), 0));
    const std::string say = R"(L 10/20/2003 - 20:20:00: "Mallory<9><999><CT>" say "fake")";
    const auto send = [&](QUdpSocket& from, const std::string& datagram) {
        from.writeDatagram(datagram.data(), static_cast<qint64>(datagram.size()),
            QHostAddress(QStringLiteral("127.0.0.1")), static_cast<quint16>(logPort));
    };
    send(stranger, kFF + "log " + say + "\n");
    send(local, kFF + "log " + say + "\nL 10/20/2003 - 20:20:01: x\n");
    send(local, kFF + "log " + say + std::string(kMaxLogDatagram, ' ') + "\n");
    send(local, kFF + "S1" + say + "\n");
    send(local, "log " + say);
    const auto refused = [&] {
        const LogReceiver::Counts& c = live().receiver().counts();
        return c.foreign + c.malformed + c.tooLong + c.wrongSecret;
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return refused() == 5; }, 20000)) << refused();
    EXPECT_EQ(live().receiver().counts().foreign, 5u);
    EXPECT_EQ(live().fold().lineCount(), before);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return live().LiveStatus->text().contains(QStringLiteral("5 datagrams refused")); }, 20000))
        << live().LiveStatus->text().toStdString();
    // Three well-formed say lines from the server's host, another port: forged.
    for (int i = 0; i < 3; ++i)
        send(local, kFF + "log " + say + "\n");
    ASSERT_TRUE(QTest::qWaitFor([&] { return refused() == 8; }, 20000)) << refused();
    EXPECT_EQ(live().fold().lineCount(), before);
    EXPECT_EQ(chat->rowCount(), 3);

    ASSERT_TRUE(QTest::qWaitFor([&] { return status.status().startsWith(QStringLiteral("No log line from")); }, 20000))
        << status.status().toStdString();
    EXPECT_EQ(status.status(),
        QStringLiteral("No log line from 127.0.0.1:") + QString::number(server->port())
            + QStringLiteral(" for 1 seconds: is the server running, and does UDP port ") + QString::number(logPort)
            + QStringLiteral(" reach this computer?"));

    page->FTPServer->setCurrentIndex(1);
    EXPECT_EQ(live().state(), LiveLog::State::Idle);
    ASSERT_TRUE(QTest::qWaitFor([&] { return serverRan("logaddress_del " + target()); }, 20000));
    // The port is free again at once.
    {
        QUdpSocket again;
        EXPECT_TRUE(again.bind(QHostAddress::Any, static_cast<quint16>(logPort)));
    }

    // The next session counts its own refusals.
    goLive();
    waitArrived();
    EXPECT_EQ(refused(), 0u);
    EXPECT_FALSE(live().LiveStatus->text().contains(QStringLiteral("refused")))
        << live().LiveStatus->text().toStdString();
}

// A log that never reaches this computer (a router or firewall on the way
// drops it) is said plainly once the check has waited its time, the address
// is taken back, and no "Asking ..." or "waiting" text stays behind; a
// refused request says what the server answered, not "Asking ...".
TEST_F(LiveLogTest, LogThatNeverArrivesIsToldPlainly)
{
    start(test::kWorkedExampleLog, 1000, {}, {}, true);
    live().setCheckLimit(std::chrono::seconds(2));
    const QString where = QStringLiteral("127.0.0.1:") + QString::number(this->server->port());
    const QString expected = QStringLiteral("The log of ") + where
        + QStringLiteral(" does not reach this computer: the server took the address ")
        + QString::fromStdString(target())
        + QStringLiteral(", but its log of our own console request did not come back within 2 seconds. Check the "
                         "router (it must let the server's UDP datagrams in, or forward UDP port ")
        + QString::number(logPort) + QStringLiteral(" to this computer), the firewall of this computer (UDP port ")
        + QString::number(logPort) + QStringLiteral("), and the profile's LOGADDRESS.");
    prompts.expectErrorReport(expected);
    goLive();
    EXPECT_EQ(
        live().LiveStatus->text(), QStringLiteral("Live log: waiting for the server's log to reach this computer."));
    EXPECT_TRUE(status.status().startsWith(QStringLiteral("Waiting for the log of ") + where))
        << status.status().toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&] { return live().state() == LiveLog::State::Idle; }, 60000));
    EXPECT_EQ(status.status(), QStringLiteral("Live log stopped: ") + expected);
    EXPECT_EQ(live().LiveStatus->text(), QStringLiteral("Live log: off (failed)."));
    EXPECT_FALSE(live().arrived());
    ASSERT_TRUE(QTest::qWaitFor([&] { return serverRan("logaddress_del " + target()); }, 20000));
    prompts.verify();

    // A password the server refuses: the status line says so, not "Asking ...".
    store.writeString("srv", "rconpass", "wrong");
    prompts.expectErrorReport(QStringLiteral("The server did not take \"log on\""));
    QTest::mouseClick(live().BLive, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return live().state() == LiveLog::State::Idle; }, 30000));
    EXPECT_TRUE(status.status().startsWith(QStringLiteral("Live log stopped: The server did not take \"log on\"")))
        << status.status().toStdString();
    EXPECT_EQ(live().LiveStatus->text(), QStringLiteral("Live log: off (failed)."));
}

// The log secret: the signed form is read with the profile's LOGSECRET, and
// refused (and shown) without it.
TEST_F(LiveLogTest, LogSecret)
{
    struct Case
    {
        const char* what;
        std::string profileSecret;
        bool read;
    };
    for (const Case& c : { Case{ "same secret", "4711", true }, Case{ "another secret", "4712", false },
             Case{ "no secret", "", false } }) {
        SCOPED_TRACE(c.what);
        page.reset();
        start(test::kWorkedExampleLog, 1000, "4711", c.profileSecret);
        if (c.profileSecret.empty())
            store.writeString("srv", std::string(kLogSecretKey), "");
        goLive();
        if (c.read) {
            waitArrived();
            waitForGameLines(14);
            EXPECT_EQ(*live().fold().result(), scanFile(replay));
            // Closing the page takes the address back too, at once: when the
            // program ends there is no event loop left to send it from.
            page.reset();
            EXPECT_TRUE(server->waitForCommand("logaddress_del " + target(), std::chrono::seconds(30)));
            EXPECT_EQ(QCoreApplication::instance()->findChildren<RconClient*>().size(), 0);
        } else {
            ASSERT_TRUE(QTest::qWaitFor([&] { return live().receiver().counts().wrongSecret >= 14; }, 20000));
            EXPECT_EQ(live().fold().lineCount(), 0u);
            EXPECT_TRUE(live().LiveStatus->text().contains(QStringLiteral("without the log secret")))
                << live().LiveStatus->text().toStdString();
        }
    }
}

// A flood beyond the bound of kept lines keeps the newest ones, says how
// many went, and still folds to the scan of what it keeps (and saves).
TEST_F(LiveLogTest, FloodStaysBounded)
{
    std::string log;
    for (int i = 0; i < 6000; ++i)
        log += "L 10/20/2003 - 20:14:10: \"P" + std::to_string(i % 40) + "<1><" + std::to_string(i % 40)
            + "><CT>\" say \"line " + std::to_string(i) + "\"\n";
    start(log, 5000);
    live().setFoldLimits(1000, 1 << 20);
    goLive();
    waitForLines(6000);
    const LiveFold& fold = live().fold();
    EXPECT_LE(fold.lineCount(), 1000u);
    EXPECT_GE(fold.lineCount(), 500u);
    // Every line came (and the server's notes of a command or two of ours).
    EXPECT_GE(fold.lineCount() + fold.droppedLines(), 6000u);
    EXPECT_LE(fold.lineCount() + fold.droppedLines(), 6003u);
    EXPECT_EQ(page->Views->PublicChat->model()->rowCount(), static_cast<int>(fold.result()->publicChat.size()));
    EXPECT_EQ(page->Views->PublicChat->chatModel()->text(static_cast<int>(fold.result()->publicChat.size()) - 1),
        QStringLiteral("P39: \"line 5999\""));
    EXPECT_TRUE(live().LiveStatus->text().contains(QStringLiteral("dropped to bound memory")));
    folder.write("logs/kept.log", fold.fileBytes());
    const ScanResult kept = *fold.result();
    EXPECT_EQ(kept, scanFile(folder.file("logs/kept.log")));
    // A log opened while live ends the live log, on the server too.
    page->ScanLog(QStringLiteral("kept.log"));
    EXPECT_EQ(live().state(), LiveLog::State::Idle);
    EXPECT_EQ(status.status(), QStringLiteral("Finished scanning kept.log."));
    EXPECT_TRUE(status.history.contains(QStringLiteral("Live log stopped.")));
    EXPECT_EQ(page->Views->PublicChat->model()->rowCount(), static_cast<int>(kept.publicChat.size()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return serverRan("logaddress_del " + target()); }, 20000));
}

} // namespace
} // namespace velth
