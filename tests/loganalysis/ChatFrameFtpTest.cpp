// The Chat parser page against a real FTP server: the kept-open connection,
// listings of every layout, downloads, faults and their reports.
#include "loganalysis/ChatFrame.h"

#include "common/AppContext.h"
#include "common/ErrorReport.h"
#include "common/ProfileSelector.h"
#include "loganalysis/ChatModel.h"
#include "loganalysis/ChatViews.h"
#include "loganalysis/LocalFileList.h"
#include "loganalysis/LogFetch.h"
#include "loganalysis/PlayerSearch.h"
#include "loganalysis/RtfWriter.h"
#include "loganalysis/WorkedExampleLog.h"
#include "net/FtpClient.h"
#include "profiles/ProfileStore.h"
#include "support/FtpServer.h"
#include "support/PerKind.h"
#include "support/RecordingStatus.h"
#include "support/ScriptedPrompts.h"
#include "support/ShownText.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>

#include <cstdlib>
#include <filesystem>
#include <set>

#include <utime.h>

// Readable failure messages for Qt strings.
QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QStringList& list, std::ostream* os)
{
    *os << '{' << list.join(QStringLiteral("\", \"")).toStdString() << '}';
}
QT_END_NAMESPACE

using namespace velth;
using velth::test::FtpServer;
using velth::test::ProgramFolder;
using velth::test::ScriptedPrompts;

namespace {

const QString kBusy = QStringLiteral("You are connected to another FTP Server! Please disconnect first.");
constexpr const char* kLogsOnServer = "srv/cstrike/logs/";

const std::string& kLog = test::kWorkedExampleLog;

// Every file and folder under a folder, by relative path.
std::set<std::string> tree(const std::string& root)
{
    std::set<std::string> paths;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root))
        paths.insert(std::filesystem::relative(entry.path(), root).string());
    return paths;
}

struct ChatFrameFtpTest : ::testing::Test
{
    ProgramFolder folder;
    ScriptedPrompts prompts;
    test::RecordingStatus status;
    ProfileStore store{ folder.path() + "/ftpserver.ini" };
    AppContext context{ folder.path(), store, prompts, status };
    std::unique_ptr<FtpServer> server;
    std::unique_ptr<TchatFrame> page;
    // The profile's HLDS: the server's folder srv, absolute or relative to
    // the login folder.
    std::string hlds = "/srv";

    void SetUp() override
    {
        setErrorReportPrompts(&prompts);
        std::filesystem::create_directory(folder.file("logs"));
        page = std::make_unique<TchatFrame>(context);
        page->resize(520, 407);
        page->LocalFiles->setRootFolder(QString::fromStdString(folder.file("logs")));
        setProfileNames(page->FTPServer, { "game" });
        page->FTPServer->setCurrentIndex(0);
        page->MainControl->setCurrentIndex(0);
        page->show();
    }
    void TearDown() override
    {
        page.reset();
        prompts.verify();
        setErrorReportPrompts(nullptr);
    }

    // The local test server; with external set, the one VELTH_TEST_FTP names
    // when it is set (its files' dates and its commands are then unknown).
    void startServer(FtpServer::Options options = {}, bool external = false)
    {
        options.allowExternal = external;
        server = std::make_unique<FtpServer>(options);
        server->makeFolder("srv/cstrike/logs");
        context.store().writeString("game", "HOST", server->host());
        context.store().writeInt("game", "PORT", server->port());
        context.store().writeString("game", "USER", server->user());
        context.store().writeString("game", "PASS", server->password());
        context.store().writeString("game", "HLDS", server->hlds(hlds));
        const ConnectionKind kind = server->kind();
        context.store().writeString("game", "CONNECTION", std::string(connectionKindValue(kind)));
        if (kind == ConnectionKind::Sftp || usesTls(kind))
            KnownFingerprints(folder.file(std::string(KnownFingerprints::kFileName)))
                .remember("game", kind, server->host(), server->port(), server->accepted());
    }
    // A log on the server, dated 20 Oct 2003 20:13 UTC.
    void serverLog(const std::string& name, const std::string& bytes) const
    {
        server->write(kLogsOnServer + name, bytes);
        const utimbuf when{ 1066680780, 1066680780 };
        if (!server->external())
            utime((server->root() + kLogsOnServer + name).c_str(), &when);
    }

    bool waitIdle() const
    {
        return QTest::qWaitFor([&] { return !page->isTransferring(); }, 30000);
    }
    void connectPage()
    {
        QTest::mouseClick(page->BConnect, Qt::LeftButton);
        ASSERT_TRUE(waitIdle());
    }
    QStringList rows() const
    {
        QStringList result;
        for (int i = 0; i < page->FTPFiles->topLevelItemCount(); ++i) {
            const QTreeWidgetItem* item = page->FTPFiles->topLevelItem(i);
            result << item->text(0) + u'|' + item->text(1) + u'|' + item->text(2);
        }
        return result;
    }
    // Double-clicks the row of this name, as the user does.
    void doubleClick(const QString& name, bool wait = true)
    {
        const auto found = page->FTPFiles->findItems(name, Qt::MatchExactly, 0);
        ASSERT_EQ(found.size(), 1) << name.toStdString();
        page->MainControl->setCurrentIndex(0);
        page->FTPFiles->setCurrentItem(found.first());
        const QRect rect = page->FTPFiles->visualItemRect(found.first());
        // A double click as the window system delivers it: press, release,
        // then the double-click event.
        QTest::mouseClick(page->FTPFiles->viewport(), Qt::LeftButton, {}, rect.center());
        QTest::mouseDClick(page->FTPFiles->viewport(), Qt::LeftButton, {}, rect.center());
        if (wait) {
            ASSERT_TRUE(waitIdle());
        }
    }
    std::string local(const std::string& name) const { return folder.read("logs/" + name); }
    std::set<std::string> logsFolder() const { return tree(folder.file("logs")); }
    QString connectText() const { return QStringLiteral("Connecting to 127.0.0.1 on Port %1.").arg(server->port()); }
};

// The page's tests run with an absolute and with a relative HLDS.
struct ChatFrameHldsTest : ChatFrameFtpTest, ::testing::WithParamInterface<const char*>
{
    ChatFrameHldsTest() { hlds = GetParam(); }
};
INSTANTIATE_TEST_SUITE_P(Hlds, ChatFrameHldsTest, ::testing::Values("/srv", "srv"));

struct ChatFrameKindTest : test::PerKind<ChatFrameFtpTest>
{ };
INSTANTIATE_TEST_SUITE_P(Kinds, ChatFrameKindTest, ::testing::ValuesIn(kConnectionKinds), test::kindName);

TEST_P(ChatFrameKindTest, ConnectListsTheLogsOfTheServer)
{
    startServer();
    serverLog("L1020000.log", kLog);
    serverLog("L1021000.log", "L 10/21/2003 - 08:00:00: Log file started\r\n");
    serverLog("notes.txt", "not a log");
    server->makeFolder("srv/cstrike/logs/old.log");

    connectPage();
    EXPECT_EQ(rows(),
        QStringList({ QStringLiteral("L1020000.log|Oct 20  2003 |%1").arg(kLog.size()),
            QStringLiteral("L1021000.log|Oct 20  2003 |43") }));
    EXPECT_EQ(status.history,
        QStringList({ connectText(), QStringLiteral("Downloading logdir."), QStringLiteral("Ready.") }));
    if (!sftp()) {
        EXPECT_EQ(server->commands({ "CWD", "LIST" }),
            std::vector<std::string>({ "CWD " + hlds + "/cstrike/logs", "LIST *.log" }));
    }
    EXPECT_TRUE(page->IdFTP1->isConnected());

    // Connected, Connect is refused, also for the same profile and for
    // another one; asking the server leaves its folder and the connection.
    setProfileNames(page->FTPServer, { "game", "other" });
    for (const int picked : { 0, 1 }) {
        page->FTPServer->setCurrentIndex(picked);
        prompts.expectErrorBox(kBusy);
        QTest::mouseClick(page->BConnect, Qt::LeftButton);
        EXPECT_TRUE(QTest::qWaitFor([&] { return prompts.shown().size() == picked + 1; }, 10000));
        ASSERT_TRUE(waitIdle());
    }
    EXPECT_EQ(rows().size(), 2);
    EXPECT_EQ(status.history.size(), 3);
    if (!sftp()) {
        EXPECT_EQ(server->commands({ "CWD", "NOOP", "USER" }),
            std::vector<std::string>({ "USER " + server->user(), "CWD " + hlds + "/cstrike/logs", "NOOP", "NOOP" }));
    }
    EXPECT_TRUE(page->IdFTP1->isConnected());
    doubleClick(QStringLiteral("L1021000.log"));
    EXPECT_EQ(local("L1021000.log"), "L 10/21/2003 - 08:00:00: Log file started\r\n");
}

// pyftpdlib, like other servers, answers 550 to "LIST *.log": the page lists
// the folder then and keeps the names ending in ".log" in any letter case.
TEST_P(ChatFrameHldsTest, ServerWithoutPatternsInList)
{
    FtpServer::Options options;
    options.globList = false;
    startServer(options);
    serverLog("L1.log", "a");
    serverLog("L2.LOG", "bb");
    serverLog("notes.txt", "ccc");

    connectPage();
    EXPECT_EQ(
        rows(), QStringList({ QStringLiteral("L1.log|Oct 20  2003 |1"), QStringLiteral("L2.LOG|Oct 20  2003 |2") }));
    EXPECT_EQ(server->commands({ "LIST" }), std::vector<std::string>({ "LIST *.log", "LIST" }));
    EXPECT_EQ(status.status(), QStringLiteral("Ready."));
}

struct LayoutCase
{
    const char* label;
    std::vector<std::string> listing;
    QStringList rows;
};

void PrintTo(const LayoutCase& c, std::ostream* os)
{
    *os << c.label;
}

struct ListingLayoutTest : ChatFrameFtpTest, ::testing::WithParamInterface<LayoutCase>
{ };

// Listings as other servers write them reach the list by their fields.
TEST_P(ListingLayoutTest, RowsByFields)
{
    const LayoutCase& c = GetParam();
    FtpServer::Options options;
    options.listing = c.listing;
    startServer(options);
    connectPage();
    EXPECT_EQ(rows(), c.rows) << c.label;
    EXPECT_EQ(status.status(), QStringLiteral("Ready."));
}

const LayoutCase kLayouts[] = {
    { "documented layout", { "-rw-r--r--   1 owner    group       48213 Oct 20 20:13 L1020000.log" },
        { QStringLiteral("L1020000.log|Oct 20 20:13 |48213") } },
    { "vsftpd",
        { "-rw-r--r--    1 1001     1001           70 Oct 21  2003 L0101000.log",
            "-rw-r--r--    1 1000     1000        48213 Oct 20 20:13 L1020000.log" },
        { QStringLiteral("L0101000.log|Oct 21  2003 |70"), QStringLiteral("L1020000.log|Oct 20 20:13 |48213") } },
    { "DOS", { "10-21-03  08:13PM                   70 L0101000.log", "10-21-03  08:14PM       <DIR>          old" },
        { QStringLiteral("L0101000.log|10-21-03  08:13PM|70") } },
    { "names with spaces and a total line",
        { "total 12", "-rw-r--r--   1 ftptest  ftptest        57 Dec  7 23:33 my log.log", "",
            "-rw-r--r--   1 ftptest  ftptest       130 Dec  7 23:35 L1020000.log" },
        { QStringLiteral("my log.log|Dec  7 23:33 |57"), QStringLiteral("L1020000.log|Dec  7 23:35 |130") } },
    { "hostile names",
        { "-rw-r--r--   1 a b 5 Oct 20 20:13 ../x.log", "-rw-r--r--   1 a b 5 Oct 20 20:13 a/b.log",
            "-rw-r--r--   1 a b 5 Oct 20 20:13 ..", "-rw-r--r--   1 a b 5 Oct 20 20:13 a\\b.log",
            "-rw-r--r--   1 a b 5 Oct 20 20:13 L1.log" },
        { QStringLiteral("L1.log|Oct 20 20:13 |5") } },
    { "empty listing", {}, {} },
};

INSTANTIATE_TEST_SUITE_P(Servers, ListingLayoutTest, ::testing::ValuesIn(kLayouts));

// A name the server lists is written into the logs folder only when it cannot
// lead out of it; downloading what is offered writes nowhere else.
TEST_P(ChatFrameHldsTest, HostileListingWritesNothingOutsideTheLogs)
{
    FtpServer::Options options;
    options.listing = { "-rw-r--r--   1 a b 5 Oct 20 20:13 ../x.log", "-rw-r--r--   1 a b 5 Oct 20 20:13 a/b.log",
        "-rw-r--r--   1 a b 3 Oct 20 20:13 L1.log" };
    startServer(options);
    server->write("srv/cstrike/x.log", "outside");
    server->makeFolder("srv/cstrike/logs/a");
    server->write("srv/cstrike/logs/a/b.log", "nested");
    serverLog("L1.log", kLog);
    const std::set<std::string> before = tree(folder.path());

    connectPage();
    ASSERT_EQ(rows(), QStringList{ QStringLiteral("L1.log|Oct 20 20:13 |3") });
    doubleClick(QStringLiteral("L1.log"));
    std::set<std::string> expected = before;
    expected.insert("logs/L1.log");
    EXPECT_EQ(tree(folder.path()), expected);
    EXPECT_EQ(server->commands({ "RETR" }), std::vector<std::string>{ "RETR L1.log" });
}

// A listed name is the server's text: the row, the transfer label and the
// status line show it as it stands ("<img src=x>" once became a picture).
TEST_P(ChatFrameHldsTest, ServerNamesAreShownAsText)
{
    FtpServer::Options options;
    options.listing = { "-rw-r--r--   1 a b 3 Oct 20 20:13 <img src=x><h1>y.log" };
    startServer(options);
    serverLog("<img src=x><h1>y.log", kLog);
    connectPage();
    ASSERT_EQ(rows(), QStringList{ QStringLiteral("<img src=x><h1>y.log|Oct 20 20:13 |3") });
    doubleClick(QStringLiteral("<img src=x><h1>y.log"));
    EXPECT_EQ(local("<img src=x><h1>y.log"), kLog);
    EXPECT_TRUE(test::shownText(page->TransferLabel).startsWith(QStringLiteral("Receiving <img src=x><h1>y.log")))
        << test::shownText(page->TransferLabel).toStdString();
    EXPECT_TRUE(status.history.contains(QStringLiteral("Downloading <img src=x><h1>y.log.")));
}

TEST_P(ChatFrameKindTest, DownloadScansTheLog)
{
    startServer({}, true);
    serverLog("L1020000.log", kLog);
    connectPage();
    status.history.clear();

    doubleClick(QStringLiteral("L1020000.log"));
    EXPECT_EQ(local("L1020000.log"), kLog);
    EXPECT_EQ(status.history,
        QStringList({ QStringLiteral("Downloading L1020000.log."), QStringLiteral("Scanning: L1020000.log."),
            QStringLiteral("Finished scanning L1020000.log.") }));
    EXPECT_EQ(page->MainControl->currentIndex(), 2);
    EXPECT_EQ(page->Views->MapLabel->text(), QStringLiteral("Map: de_dust2"));
    ASSERT_EQ(page->Views->TChat->model()->rowCount(), 1);
    EXPECT_EQ(page->Views->TChat->chatModel()->text(0), QStringLiteral("Bob: \"rush\""));
    EXPECT_EQ(page->Views->CTView->model()->rowCount(), 2);

    // The scanned T chat saved as RTF: its one line in red.
    prompts.expectSaveFile(QString::fromStdString(folder.file("tchat.rtf")));
    page->MenuItem1->trigger();
    prompts.verify();
    EXPECT_EQ(folder.read("tchat.rtf"), writeRtf({ { { "Bob: \"rush\"", RtfColor{ 255, 0, 0 } } } }));
    EXPECT_TRUE(page->IdFTP1->isConnected());
    EXPECT_EQ(logsFolder(), std::set<std::string>{ "L1020000.log" });
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return page->LocalFiles->names() == QStringList{ QStringLiteral("L1020000.log") }; }, 10000));
}

// Downloads run one after another over the one connection; each replaces the
// local log of its name.
TEST_P(ChatFrameKindTest, RepeatedDownloadsOverOneConnection)
{
    startServer({}, true);
    serverLog("L1.log", "L 10/20/2003 - 20:13:52: one\r\n");
    serverLog("L2.log", "L 10/20/2003 - 21:13:52: two\r\n");
    folder.write("logs/L1.log", "old local copy");
    connectPage();

    doubleClick(QStringLiteral("L1.log"));
    EXPECT_EQ(local("L1.log"), "L 10/20/2003 - 20:13:52: one\r\n");
    server->write(std::string(kLogsOnServer) + "L1.log", "L 10/20/2003 - 20:13:52: one, grown\r\n");
    QTest::mouseClick(page->BDownload, Qt::LeftButton); // the selected row again
    ASSERT_TRUE(waitIdle());
    doubleClick(QStringLiteral("L2.log"));

    EXPECT_EQ(local("L1.log"), "L 10/20/2003 - 20:13:52: one, grown\r\n");
    EXPECT_EQ(local("L2.log"), "L 10/20/2003 - 21:13:52: two\r\n");
    // One login for all three (an external server's commands are not known).
    const bool local = !server->external();
    if (local && sftp()) {
        EXPECT_EQ(server->commands({ "LOGIN" }).size(), 1u);
        EXPECT_EQ(server->commands({ "OPEN-READ" }),
            std::vector<std::string>({ "OPEN-READ /srv/cstrike/logs/L1.log", "OPEN-READ /srv/cstrike/logs/L1.log",
                "OPEN-READ /srv/cstrike/logs/L2.log" }));
    } else if (local) {
        EXPECT_EQ(server->commands({ "USER" }).size(), 1u);
        EXPECT_EQ(
            server->commands({ "RETR" }), std::vector<std::string>({ "RETR L1.log", "RETR L1.log", "RETR L2.log" }));
    }
    EXPECT_EQ(logsFolder(), std::set<std::string>({ "L1.log", "L2.log" }));
    EXPECT_EQ(status.status(), QStringLiteral("Finished scanning L2.log."));
}

// A failed download is reported and leaves the old local log as it was.
TEST_P(ChatFrameHldsTest, FailedDownloadKeepsTheLocalLog)
{
    for (const auto fault : { FtpServer::Fault::MissingRetr, FtpServer::Fault::DropTransfer }) {
        SCOPED_TRACE(static_cast<int>(fault));
        FtpServer::Options options;
        options.fault = fault;
        startServer(options);
        serverLog("L1.log", std::string(300000, 'x'));
        folder.write("logs/L1.log", "old local copy");
        if (page->IdFTP1->isConnected())
            QTest::mouseClick(page->BDisconnect, Qt::LeftButton);
        connectPage();
        status.history.clear();

        prompts.expectErrorReport();
        doubleClick(QStringLiteral("L1.log"));
        prompts.verify();
        EXPECT_EQ(local("L1.log"), "old local copy");
        EXPECT_EQ(logsFolder(), std::set<std::string>{ "L1.log" });
        EXPECT_EQ(status.history, QStringList{ QStringLiteral("Downloading L1.log.") });
        EXPECT_FALSE(page->TransferBar->isVisible());
    }
}

// While a download runs the window shows its progress without touching the
// status line; a second transfer, Connect and Disconnect are refused; Cancel
// ends it and leaves the old local log untouched.
TEST_P(ChatFrameHldsTest, CancelledDownloadKeepsTheLocalLog)
{
    FtpServer::Options options;
    options.fault = FtpServer::Fault::StallTransfer;
    startServer(options);
    serverLog("L1.log", std::string(1000000, 'x'));
    serverLog("L2.log", "two");
    folder.write("logs/L1.log", "old local copy");
    connectPage();
    status.history.clear();

    doubleClick(QStringLiteral("L1.log"), false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return page->TransferProgress->value() > 0; }, 20000))
        << page->TransferLabel->text().toStdString();
    EXPECT_TRUE(page->TransferBar->isVisible());
    EXPECT_TRUE(page->TransferLabel->text().startsWith(QStringLiteral("Receiving L1.log: ")));
    EXPECT_TRUE(page->TransferLabel->text().endsWith(QStringLiteral(" of 1,000,000 bytes")))
        << page->TransferLabel->text().toStdString();
    // The percentage comes from the size the listing gave.
    EXPECT_EQ(page->TransferProgress->text(), QString::number(page->TransferProgress->value() / 10) + u'%');
    EXPECT_EQ(status.history, QStringList{ QStringLiteral("Downloading L1.log.") });

    doubleClick(QStringLiteral("L2.log"), false);
    QTest::mouseClick(page->BDisconnect, Qt::LeftButton);
    prompts.expectErrorBox(kBusy);
    QTest::mouseClick(page->BConnect, Qt::LeftButton);
    prompts.verify();
    EXPECT_TRUE(page->isTransferring());
    EXPECT_TRUE(page->IdFTP1->isConnected());

    QTest::mouseClick(page->BCancel, Qt::LeftButton);
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(
        status.history, QStringList({ QStringLiteral("Downloading L1.log."), QStringLiteral("Transfer cancelled.") }));
    EXPECT_EQ(local("L1.log"), "old local copy");
    EXPECT_EQ(logsFolder(), std::set<std::string>{ "L1.log" });
    EXPECT_FALSE(page->TransferBar->isVisible());
    EXPECT_EQ(server->commands({ "RETR" }), std::vector<std::string>{ "RETR L1.log" });

    // An aborted transfer leaves the connection unusable: the client closed
    // it, so Connect runs again without a Disconnect.
    EXPECT_FALSE(page->IdFTP1->isConnected());
    connectPage();
    EXPECT_EQ(status.status(), QStringLiteral("Ready."));
    EXPECT_EQ(page->FTPFiles->topLevelItemCount(), 2);
}

TEST_P(ChatFrameHldsTest, DisconnectClosesAndEmptiesTheList)
{
    startServer();
    serverLog("L1.log", "a");
    connectPage();
    status.history.clear();

    QTest::mouseClick(page->BDisconnect, Qt::LeftButton);
    EXPECT_FALSE(page->IdFTP1->isConnected());
    EXPECT_EQ(page->FTPFiles->topLevelItemCount(), 0);
    EXPECT_EQ(status.history, QStringList{ QStringLiteral("Disconnected.") });
    QTest::mouseClick(page->BDisconnect, Qt::LeftButton);
    QTest::mouseClick(page->BDownload, Qt::LeftButton);
    EXPECT_EQ(status.history, QStringList{ QStringLiteral("Disconnected.") });

    // Connect works again after a Disconnect.
    connectPage();
    EXPECT_EQ(rows(), QStringList{ QStringLiteral("L1.log|Oct 20  2003 |1") });
}

// The server closes the connection: the next download says so and leaves the
// page disconnected; Connect then works without a Disconnect and replaces the
// rows instead of appending a second copy.
TEST_P(ChatFrameKindTest, ServerClosingTheConnectionIsNoticedByDownload)
{
    startServer();
    serverLog("L1.log", "a");
    connectPage();
    server->stop();

    prompts.expectErrorReport(QStringLiteral("closed the connection"));
    doubleClick(QStringLiteral("L1.log"));
    prompts.verify();
    EXPECT_FALSE(page->IdFTP1->isConnected());
    EXPECT_EQ(status.status(), QStringLiteral("Downloading L1.log."));

    startServer();
    serverLog("L1.log", "a");
    serverLog("L2.log", "b");
    connectPage();
    EXPECT_EQ(
        rows(), QStringList({ QStringLiteral("L1.log|Oct 20  2003 |1"), QStringLiteral("L2.log|Oct 20  2003 |1") }));
}

TEST_P(ChatFrameHldsTest, ServerClosingTheConnectionIsNoticedByConnect)
{
    startServer();
    serverLog("L1.log", "a");
    connectPage();
    server->stop();

    startServer();
    serverLog("L9.log", "nine");
    status.history.clear();
    connectPage();
    EXPECT_EQ(rows(), QStringList{ QStringLiteral("L9.log|Oct 20  2003 |4") });
    EXPECT_EQ(status.history,
        QStringList({ connectText(), QStringLiteral("Downloading logdir."), QStringLiteral("Ready.") }));
    EXPECT_TRUE(page->IdFTP1->isConnected());
}

// A refused login leaves the page disconnected with the connect message; a
// refused folder leaves "Downloading logdir." and no rows.
TEST_P(ChatFrameKindTest, ConnectFailures)
{
    FtpServer::Options options;
    options.fault = FtpServer::Fault::RefuseLogin;
    startServer(options);
    prompts.expectErrorReport(sftp() ? QStringLiteral("Authentication failure") : QStringLiteral("530"));
    connectPage();
    prompts.verify();
    EXPECT_EQ(status.status(), connectText());
    EXPECT_FALSE(page->IdFTP1->isConnected());

    options.fault = FtpServer::Fault::RefuseCwd;
    startServer(options);
    status.history.clear();
    prompts.expectErrorReport(sftp() ? QStringLiteral("Permission denied") : QStringLiteral("550"));
    connectPage();
    prompts.verify();
    EXPECT_EQ(status.history, QStringList({ connectText(), QStringLiteral("Downloading logdir.") }));
    EXPECT_EQ(page->FTPFiles->topLevelItemCount(), 0);
    // The client closes a connection whose folder change was refused, so
    // Connect is not refused as busy: it tries again.
    EXPECT_FALSE(page->IdFTP1->isConnected());
    prompts.expectErrorReport(sftp() ? QStringLiteral("Permission denied") : QStringLiteral("550"));
    connectPage();
    prompts.verify();
    EXPECT_EQ(status.status(), QStringLiteral("Downloading logdir."));
}

} // namespace

namespace {

// Closing the window in the middle of a download: no callback reaches the
// destroyed page and no half-written file stays behind.
TEST_P(ChatFrameHldsTest, ClosingThePageMidDownloadLeavesNoPartialFile)
{
    FtpServer::Options options;
    options.fault = FtpServer::Fault::StallTransfer;
    startServer(options);
    serverLog("L1.log", std::string(1000000, 'x'));
    folder.write("logs/L1.log", "old local copy");
    connectPage();
    doubleClick(QStringLiteral("L1.log"), false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return page->TransferProgress->value() > 0; }, 20000));

    page.reset();
    QTest::qWait(200);
    EXPECT_EQ(local("L1.log"), "old local copy");
    EXPECT_EQ(logsFolder(), std::set<std::string>{ "L1.log" });
}

// Fetch new logs: every profile's logs into its own folder, two servers at a
// time; the second run downloads only what changed (a log still being
// written has grown, a new one came), a server that is gone fails alone, and
// the player search then spans every profile's logs.
TEST_F(ChatFrameFtpTest, FetchNewLogsTwiceTakesOnlyWhatChanged)
{
    FtpServer::Options options;
    options.kind = ConnectionKind::FtpPassive;
    startServer(options);
    server->makeFolder("srv2/cstrike/logs");
    serverLog("L1.log", kLog);
    serverLog("L2.log", "L 10/20/2003 - 20:13:52: Log file started\r\n");
    server->write("srv2/cstrike/logs/M1.log", kLog);
    FtpServer gone(FtpServer::Options::local());
    gone.stop();
    for (const char* name : { "other", "gone" }) {
        context.store().writeString(name, "HOST", server->host());
        context.store().writeInt(name, "PORT", std::string(name) == "gone" ? gone.port() : server->port());
        context.store().writeString(name, "USER", server->user());
        context.store().writeString(name, "PASS", server->password());
        context.store().writeString(name, "HLDS", "/srv2");
        context.store().writeString(name, "CONNECTION", std::string(connectionKindValue(ConnectionKind::FtpPassive)));
    }
    page->setProfileNames({ "game", "other", "gone" });
    page->logFetch().setMaxConnections(2);
    auto fetch = [&](const QString& done) {
        QTest::mouseClick(page->BFetchNew, Qt::LeftButton);
        EXPECT_TRUE(QTest::qWaitFor([&] { return status.status() == done; }, 60000)) << status.status().toStdString();
        QStringList shown;
        for (int i = 0; i < page->FetchResults->topLevelItemCount(); ++i)
            shown << page->FetchResults->topLevelItem(i)->text(0) + u' ' + page->FetchResults->topLevelItem(i)->text(1);
        return shown;
    };
    QStringList shown = fetch(QStringLiteral("Fetched 3 new logs; 1 servers failed."));
    ASSERT_EQ(shown.size(), 3);
    EXPECT_EQ(shown[0], QStringLiteral("game fetched 2 of 2 logs"));
    EXPECT_EQ(shown[1], QStringLiteral("other fetched 1 of 1 log"));
    EXPECT_TRUE(shown[2].startsWith(QStringLiteral("gone failed after 0 of 0 new logs: "))) << shown[2].toStdString();
    EXPECT_EQ(local("game/L1.log"), kLog);
    EXPECT_EQ(local("other/M1.log"), kLog);
    EXPECT_EQ(logsFolder(), (std::set<std::string>{ "game", "game/L1.log", "game/L2.log", "other", "other/M1.log" }));
    EXPECT_EQ(server->commands({ "RETR" }).size(), 3u);
    EXPECT_LE(page->logFetch().peakConnections(), 2);

    // The server went on writing L2 and started L3; L1 and M1 stay as kept.
    // Only the checked servers now: the one that is gone is left alone.
    serverLog("L2.log", "L 10/20/2003 - 20:13:52: Log file started\r\nL 10/20/2003 - 20:14:00: more\r\n");
    serverLog("L3.log", "L 10/21/2003 - 10:00:00: Log file started\r\n");
    server->clearCommands();
    page->FetchResults->topLevelItem(0)->setCheckState(0, Qt::Checked);
    page->FetchResults->topLevelItem(1)->setCheckState(0, Qt::Checked);
    shown = fetch(QStringLiteral("Fetched 2 new logs."));
    EXPECT_EQ(shown[0], QStringLiteral("game fetched 2 of 3 logs"));
    EXPECT_EQ(shown[1], QStringLiteral("other up to date (1 log)"));
    EXPECT_EQ(shown[2], QStringLiteral("gone "));
    EXPECT_EQ(page->logFetch().rows().size(), 2u);
    if (const char* shots = std::getenv("VELTH_SHOT_DIR"))
        page->grab().save(QString::fromLocal8Bit(shots) + QStringLiteral("/chat-fetch-new-logs.png"));
    EXPECT_EQ(server->commands({ "RETR" }), (std::vector<std::string>{ "RETR L2.log", "RETR L3.log" }));
    EXPECT_EQ(local("game/L2.log"), "L 10/20/2003 - 20:13:52: Log file started\r\nL 10/20/2003 - 20:14:00: more\r\n");

    // The player search reads every profile's logs.
    page->Search->FindText->setText(QStringLiteral("alice"));
    page->Search->BFindClick();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !page->Search->isSearching(); }, 30000));
    std::set<QString> files;
    for (int row = 0; row < page->Search->results()->rowCount(); ++row)
        files.insert(page->Search->results()->fileName(row));
    EXPECT_EQ(files, (std::set<QString>{ QStringLiteral("game/L1.log"), QStringLiteral("other/M1.log") }));
}

// Stop ends every connection at once: no log half there, the rows say so,
// and the page can fetch again.
TEST_F(ChatFrameFtpTest, FetchNewLogsStopsAtOnce)
{
    startServer(FtpServer::Options::local(FtpServer::Fault::Trickle));
    serverLog("L1.log", kLog);
    page->setProfileNames({ "game" });
    QTest::mouseClick(page->BFetchNew, Qt::LeftButton);
    EXPECT_FALSE(page->BFetchNew->isEnabled());
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return page->logFetch().rows().at(0).state == LogFetch::State::Fetching; }, 30000));
    QTest::mouseClick(page->BFetchCancel, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return status.status() == QStringLiteral("Fetch of new logs stopped: 0 logs fetched."); }, 30000))
        << status.status().toStdString();
    EXPECT_EQ(page->FetchResults->topLevelItem(0)->text(1), QStringLiteral("cancelled after 0 of 1 new logs"));
    EXPECT_EQ(logsFolder(), std::set<std::string>{ "game" });
    EXPECT_TRUE(page->BFetchNew->isEnabled());
    EXPECT_FALSE(page->BFetchCancel->isEnabled());
}

} // namespace
