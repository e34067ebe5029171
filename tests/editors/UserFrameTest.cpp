// The User edit page: its layout, the local copy it shows and writes, and its
// Upload and Download against a real server.
#include "support/FtpTestHelpers.h"

#include "app/MainForm.h"
#include "common/ErrorReport.h"
#include "common/FileIo.h"
#include "common/ProfileSelector.h"
#include "common/TextLines.h"
#include "editors/UserFrame.h"
#include "net/TransferProcedure.h"
#include "support/ScriptedPrompts.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTabWidget>

#include <algorithm>

namespace velth::test {
namespace {

using Fault = FtpServer::Fault;
using namespace std::chrono_literals;

class UserFrameTest : public ::testing::Test
{
protected:
    UserFrameTest()
    {
        makeFolders(folder.path() + "cfgs/srv");
        makeFolders(folder.path() + "cfgs/other");
        setProfileNames(page.FTPServer, { "srv", "other" });
        page.resize(TMainForm::kPageArea.size());
    }

    void pick(int index)
    {
        page.FTPServer->setCurrentIndex(index);
        runGuarded([&] { page.FTPServerChange(); });
    }
    void clickUpload() { page.BUpload->click(); }
    void clickDownload() { page.BDownload->click(); }
    void waitForEnd()
    {
        ASSERT_TRUE(waitUntil([&] { return !page.ftpClient().isConnected(); }));
    }
    QString editor() const { return page.Users->toPlainText(); }

    ProgramFolder folder;
    ScriptedPrompts prompts;
    RecordingStatus status;
    ProfileStore store{ folder.path() + "/ftpserver.ini" };
    AppContext context{ folder.path(), store, prompts, status };
    TuserFrame page{ context };
};

TEST_F(UserFrameTest, LayoutFollowsTheDesign)
{
    ASSERT_EQ(page.MainControl->count(), 1);
    EXPECT_EQ(page.MainControl->widget(0), page.userTab);
    EXPECT_EQ(page.MainControl->tabText(0), QStringLiteral("Users"));
    EXPECT_EQ(page.Users->lineWrapMode(), QPlainTextEdit::NoWrap);
    EXPECT_TRUE(page.Users->tabChangesFocus()) << "Tab moves the focus out of the editor";
    EXPECT_EQ(page.Users->contextMenuPolicy(), Qt::NoContextMenu);
    EXPECT_EQ(page.Users->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(page.Users->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(page.Label1->text(), QStringLiteral("Select FTP Server"));
    EXPECT_EQ(page.BUpload->text(), QStringLiteral("Upload"));
    EXPECT_EQ(page.BDownload->text(), QStringLiteral("Download"));
    EXPECT_EQ(page.FTPServer->currentIndex(), -1) << "no profile selected at start";
    EXPECT_TRUE(editor().isEmpty());

    page.show();
    EXPECT_EQ(page.BottomBar->height(), 30);
    EXPECT_EQ(page.BottomBar->frameShadow(), QFrame::Sunken);
    EXPECT_GT(page.Users->height(), 300) << "the editor fills the tab above the bar";
    EXPECT_EQ(page.Users->geometry().bottom() + 1, page.BottomBar->geometry().top());
    // Each control keeps its distance to the bar's right edge.
    for (const int extra : { 0, 100 }) {
        SCOPED_TRACE(extra);
        page.BottomBar->resize(TuserFrame::kBarDesignWidth + extra, 30);
        EXPECT_EQ(page.Label1->y(), 9);
        EXPECT_EQ(page.Label1->x(), std::min(111, 198 - page.Label1->width()) + extra);
        EXPECT_LE(page.Label1->geometry().right(), page.FTPServer->x()) << "the label is not hidden under the selector";
        EXPECT_EQ(page.FTPServer->geometry(), QRect(202 + extra, 5, 145, 21));
        EXPECT_EQ(page.BUpload->geometry(), QRect(353 + extra, 5, 75, 21));
        EXPECT_EQ(page.BDownload->geometry(), QRect(433 + extra, 5, 75, 21));
    }
}

TEST_F(UserFrameTest, PickingAProfileShowsItsLocalCopyWithEveryLineEndMadeCrLf)
{
    const std::vector<std::pair<std::string, QString>> rows{
        { "a\r\nb\r\n", QStringLiteral("a\nb\n") },
        { "a\nb", QStringLiteral("a\nb") },
        { "a\rb\r\rc", QStringLiteral("a\nb\n\nc") },
        { "", QString() },
    };
    for (const auto& [bytes, shown] : rows) {
        SCOPED_TRACE(bytes);
        folder.write("cfgs/srv/users.ini", bytes);
        pick(0);
        EXPECT_EQ(editor(), shown);
    }

    // A profile without a local copy: the report, and an empty editor rather
    // than the previous profile's list under this profile's name.
    folder.write("cfgs/srv/users.ini", "admin of srv");
    pick(0);
    prompts.expectErrorReport(QStringLiteral("cfgs/other/users.ini"));
    pick(1);
    prompts.verify();
    EXPECT_TRUE(editor().isEmpty());
}

TEST_F(UserFrameTest, UploadWritesTheEditorWithCrLfAndNothingAddedThenSendsIt)
{
    FtpServer server;
    server.makeFolder("hlds/cstrike");
    addProfile(context, "srv", server, "/hlds");
    page.FTPServer->setCurrentIndex(0);
    page.Users->setPlainText(QStringLiteral("line one\nline two"));
    clickUpload();
    waitForEnd();
    EXPECT_EQ(folder.read("cfgs/srv/users.ini"), "line one\r\nline two");
    EXPECT_EQ(server.read("hlds/cstrike/users.ini"), "line one\r\nline two");
    const QStringList expected{ QStringLiteral("Connecting to 127.0.0.1 on Port %1.").arg(server.port()),
        QStringLiteral("Uploading userfile."), QStringLiteral("Finished.") };
    EXPECT_EQ(status.history, expected);
    if (!server.external()) {
        EXPECT_EQ(
            server.commands({ "CWD", "STOR" }), (std::vector<std::string>{ "CWD /hlds/cstrike", "STOR users.ini" }));
    }
}

TEST_F(UserFrameTest, WithoutAProfileNothingIsWrittenOrSent)
{
    page.Users->setPlainText(QStringLiteral("x"));
    prompts.expectErrorBox(QStringLiteral("Please select a FTP Server!"));
    clickUpload();
    prompts.expectErrorBox(QStringLiteral("Please select a FTP Server!"));
    clickDownload();
    prompts.verify();
    EXPECT_FALSE(folder.exists("cfgs/srv/users.ini"));
    EXPECT_FALSE(folder.exists("cfgs/other/users.ini"));
    EXPECT_TRUE(status.history.isEmpty());
    EXPECT_FALSE(page.ftpClient().isConnected());
}

// Every byte value survives download -> editor -> upload, apart from the
// line ends, which become CR LF; the download itself is byte for byte.
using UserFrameKindTest = PerKind<UserFrameTest>;
VELTH_INSTANTIATE_PER_KIND(UserFrameKindTest);

TEST_P(UserFrameKindTest, EveryByteSurvivesDownloadEditorUpload)
{
    const std::vector<std::pair<const char*, std::string>> documents{
        { "Windows-1252 with every byte", allBytes() },
        { "UTF-8", "\"STEAM_0:1:\xC3\xBC\" \xE2\x9C\x93 \xC2\xA0nbsp\nzweite Zeile\r\n" },
    };
    FtpServer server;
    addProfile(context, "srv", server, "");
    page.FTPServer->setCurrentIndex(0);
    for (const auto& [name, bytes] : documents) {
        SCOPED_TRACE(name);
        server.write("cstrike/users.ini", bytes);
        clickDownload();
        waitForEnd();
        EXPECT_EQ(status.status(), QStringLiteral("Finished."));
        EXPECT_EQ(folder.read("cfgs/srv/users.ini"), bytes);
        EXPECT_EQ(editor().count(QLatin1Char('\n')), QString::fromStdString(toCrLf(bytes)).count(QLatin1Char('\n')));

        clickUpload();
        waitForEnd();
        EXPECT_EQ(status.status(), QStringLiteral("Finished."));
        EXPECT_EQ(server.read("cstrike/users.ini"), toCrLf(bytes));
    }
}

TEST_F(UserFrameTest, ADownloadShowsTheNewCopyAndAFailedOneKeepsTheOld)
{
    FtpServer server;
    server.makeFolder("cstrike");
    addProfile(context, "srv", server, "");
    folder.write("cfgs/srv/users.ini", "old\r\n");
    pick(0);
    page.Users->setPlainText(QStringLiteral("unsent edit"));

    prompts.expectErrorReport(QStringLiteral("Cannot download users.ini: 550"));
    clickDownload();
    waitForEnd();
    prompts.verify();
    EXPECT_EQ(status.status(), QStringLiteral("Downloading userfile."));
    EXPECT_EQ(folder.read("cfgs/srv/users.ini"), "old\r\n");
    EXPECT_EQ(filesStartingWith(folder.file("cfgs/srv"), "users.ini."), std::vector<std::string>());
    EXPECT_EQ(editor(), QStringLiteral("unsent edit")) << "no reload after an error";

    server.write("cstrike/users.ini", "new\nlist");
    clickDownload();
    waitForEnd();
    EXPECT_EQ(status.status(), QStringLiteral("Finished."));
    EXPECT_EQ(editor(), QStringLiteral("new\nlist"));
}

// A profile picked while a download runs keeps its own copy on show: the
// finished download must not put another server's list under its name.
TEST_F(UserFrameTest, ADownloadDoesNotReplaceAnotherProfilesCopyPickedMeanwhile)
{
    FtpServer::Options options = FtpServer::Options::local();
    options.rate = 128 * 1024;
    FtpServer server(options);
    server.write("cstrike/users.ini", std::string(256 * 1024, 's'));
    addProfile(context, "srv", server, "");
    folder.write("cfgs/other/users.ini", "other's admins");
    page.FTPServer->setCurrentIndex(0);
    bool picked = false;
    QObject::connect(&page.ftpClient(), &FtpClient::progress, [&](qint64 done, qint64) {
        if (done > 0 && !picked) {
            picked = true;
            pick(1);
        }
    });
    clickDownload();
    waitForEnd();
    EXPECT_TRUE(picked);
    EXPECT_EQ(status.status(), QStringLiteral("Finished."));
    EXPECT_EQ(folder.read("cfgs/srv/users.ini"), std::string(256 * 1024, 's'));
    EXPECT_EQ(editor(), QStringLiteral("other's admins"));
}

// The kinds whose server proves who it is.
class UserFrameTrustTest : public PerKind<UserFrameTest>
{
protected:
    QString question(const FtpServer& server) const
    {
        const QString reason = sftp()
            ? QStringLiteral("an SSH host key that this profile has not accepted before")
            : QStringLiteral("a certificate that no authority trusted by this system vouches for");
        return QStringLiteral(
            "The server 127.0.0.1 on port %1 identifies itself with %2.\n\nSHA-256 fingerprint:\n%3"
            "\n\nConnect only if this is the fingerprint your host gave you. Yes remembers it for the "
            "profile srv and connects.")
            .arg(server.port())
            .arg(reason, QString::fromStdString(server.accepted().fingerprint));
    }
    std::vector<std::string> logins(const FtpServer& server) const
    {
        return server.commands({ "USER", "PASS", "LOGIN" });
    }
};
INSTANTIATE_TEST_SUITE_P(Kinds, UserFrameTrustTest,
    ::testing::Values(ConnectionKind::FtpsExplicit, ConnectionKind::FtpsImplicit, ConnectionKind::Sftp), kindName);

// An unknown certificate or host key is shown before anything is sent:
// Cancel ends the action, Yes stores it and the action goes on; once stored
// nobody is asked again; a server that comes back with another one on the
// same address is refused without a question.
TEST_P(UserFrameTrustTest, UnknownIdentityIsAskedAndAChangedOneRefused)
{
    TempDir keys;
    FtpServer::Options options = FtpServer::Options::local();
    options.identity = keys.file("first");
    auto server = std::make_unique<FtpServer>(options);
    server->write("cstrike/users.ini", "admins\r\n");
    addProfile(context, "srv", *server, "");
    std::filesystem::remove(folder.file("fingerprints.ini"));
    page.FTPServer->setCurrentIndex(0);
    const QString connecting = QStringLiteral("Connecting to 127.0.0.1 on Port %1.").arg(server->port());

    prompts.expectConfirm(question(*server), false);
    prompts.expectErrorReport(sftp() ? QStringLiteral(": its SSH host key was not accepted.")
                                     : QStringLiteral(": its certificate was not accepted."));
    clickDownload();
    waitForEnd();
    prompts.verify();
    EXPECT_EQ(status.status(), connecting);
    EXPECT_EQ(logins(*server), std::vector<std::string>{});
    EXPECT_FALSE(folder.exists("fingerprints.ini"));
    EXPECT_FALSE(folder.exists("cfgs/srv/users.ini"));

    prompts.expectConfirm(question(*server), true);
    clickDownload();
    waitForEnd();
    prompts.verify();
    EXPECT_EQ(status.status(), QStringLiteral("Finished."));
    EXPECT_EQ(folder.read("cfgs/srv/users.ini"), "admins\r\n");
    EXPECT_NE(folder.read("fingerprints.ini").find(server->accepted().fingerprint), std::string::npos);

    clickUpload();
    waitForEnd();
    prompts.verify();
    EXPECT_EQ(status.status(), QStringLiteral("Finished."));

    const int port = server->port();
    server.reset();
    options.identity = keys.file("second");
    options.port = port;
    server = std::make_unique<FtpServer>(options);
    server->write("cstrike/users.ini", "impostor\r\n");
    prompts.expectErrorReport(QStringLiteral("has changed since you accepted it for the profile srv (SHA-256 "
                                             "fingerprint now %1)")
                                  .arg(QString::fromStdString(server->accepted().fingerprint)));
    clickDownload();
    waitForEnd();
    prompts.verify();
    EXPECT_EQ(logins(*server), std::vector<std::string>{});
    EXPECT_EQ(folder.read("cfgs/srv/users.ini"), "admins\r\n");
}

TEST_P(UserFrameKindTest, FaultsEndInTheReportAndThePageWorksAgain)
{
    struct Row
    {
        const char* name;
        Fault fault;
        bool upload;
        QString report;
        QString lastStatus;
    };
    const std::vector<Row> rows{
        { "login refused", Fault::RefuseLogin, true,
            sftp() ? QStringLiteral("refused: Authentication failure") : QStringLiteral("530 Login incorrect."),
            QString() },
        { "cwd refused", Fault::RefuseCwd, false,
            sftp() ? QStringLiteral("/cstrike: Permission denied") : QStringLiteral("550 Permission denied."),
            QStringLiteral("Downloading userfile.") },
        { "dropped", Fault::DropTransfer, false, QStringLiteral("the server closed the connection"),
            QStringLiteral("Downloading userfile.") },
        { "stalled", Fault::StallTransfer, true, QStringLiteral("no answer from the server for 0.7 seconds"),
            QStringLiteral("Uploading userfile.") },
    };
    page.FTPServer->setCurrentIndex(0);
    // The short limits of the fault rows are meant for the local server.
    FtpServer good(FtpServer::Options::local());
    good.write("cstrike/users.ini", "good");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        // Only the stalled row ends by the idle limit; the others get a long
        // one, so that a slow TLS handshake on a busy machine cannot end them.
        page.ftpClient().setTimeouts(30s, row.fault == Fault::StallTransfer ? 700ms : 10s);
        FtpServer server(FtpServer::Options::local(row.fault));
        server.write("cstrike/users.ini", std::string(1 << 20, 'x'));
        addProfile(context, "srv", server, "");
        folder.write("cfgs/srv/users.ini", "kept");
        page.Users->setPlainText(QStringLiteral("kept"));
        status.history.clear();
        prompts.expectErrorReport(row.report);
        row.upload ? clickUpload() : clickDownload();
        waitForEnd();
        prompts.verify();
        const QString last = row.lastStatus.isEmpty()
            ? QStringLiteral("Connecting to 127.0.0.1 on Port %1.").arg(server.port())
            : row.lastStatus;
        EXPECT_EQ(status.status(), last);
        EXPECT_EQ(folder.read("cfgs/srv/users.ini"), "kept");
        EXPECT_EQ(filesStartingWith(folder.file("cfgs/srv"), "users.ini."), std::vector<std::string>());

        // The usual limits: a TLS handshake on a busy machine may take longer
        // than the faults' short ones.
        page.ftpClient().setTimeouts(30s, 60s);
        addProfile(context, "srv", good, "");
        clickDownload();
        waitForEnd();
        EXPECT_EQ(status.status(), QStringLiteral("Finished."));
        EXPECT_EQ(editor(), QStringLiteral("good"));
    }
}

// Exit during a transfer: the main window and its pages go within 2 s, even
// while libcurl waits for a final reply the server withholds; the user's
// copy stays whole and no partial file is left.
TEST(UserFrameExitTest, ClosingTheWindowMidDownloadLeavesNoHalfWrittenFile)
{
    struct Row
    {
        const char* name;
        Fault fault;
        long rate;
    };
    const std::vector<Row> rows{
        { "data still moving", Fault::None, 64 * 1024 },
        { "final reply withheld", Fault::HoldRetrReply, 0 },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ProgramFolder folder;
        ScriptedPrompts prompts;
        FtpServer::Options options = FtpServer::Options::local(row.fault);
        options.rate = row.rate;
        FtpServer server(options);
        server.write("cstrike/users.ini", std::string(1 << 20, 'n'));
        auto window = std::make_unique<TMainForm>(folder.path(), prompts);
        addProfile(window->context(), "srv", server, "");
        makeFolders(folder.path() + "cfgs/srv");
        folder.write("cfgs/srv/users.ini", "the user's copy");
        TuserFrame* page = window->userFrame;
        setProfileNames(page->FTPServer, { "srv" });
        page->FTPServer->setCurrentIndex(0);
        qint64 moved = 0;
        QObject::connect(&page->ftpClient(), &FtpClient::progress, [&](qint64 done, qint64) { moved = done; });
        page->BDownload->click();
        ASSERT_TRUE(waitUntil([&] {
            const auto commands = server.commands();
            return row.fault == Fault::None
                ? moved > 0
                : std::find(commands.begin(), commands.end(), "(226 withheld)") != commands.end();
        }));
        QElapsedTimer closing;
        closing.start();
        window->close();
        window.reset();
        QCoreApplication::processEvents();
        EXPECT_LT(closing.elapsed(), 2000);
        EXPECT_EQ(folder.read("cfgs/srv/users.ini"), "the user's copy");
        EXPECT_EQ(filesStartingWith(folder.file("cfgs/srv"), "users.ini."), std::vector<std::string>());
        EXPECT_TRUE(server.commands({ "QUIT" }).empty());
    }
}

} // namespace
} // namespace velth::test
