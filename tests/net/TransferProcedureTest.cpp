// The one transfer procedure, with a Users-like variant, against a real
// server: the order of its steps and texts, where it stops on each failure,
// and that a page is never left busy.
#include "support/FtpTestHelpers.h"

#include "common/Error.h"
#include "common/ErrorReport.h"
#include "common/FileIo.h"
#include "common/ProfileSelector.h"
#include "net/TransferProcedure.h"
#include "support/ScriptedPrompts.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QTimer>

#include <algorithm>
#include <filesystem>

namespace velth::test {
namespace {

using Fault = FtpServer::Fault;
using namespace std::chrono_literals;

class TransferProcedureTest : public ::testing::Test
{
protected:
    TransferProcedureTest()
    {
        makeFolders(folder.path() + "cfgs/srv");
        setProfileNames(&selector, { "srv", "other" });
        selector.setCurrentIndex(0);
    }

    // Stores the local copy of the selected profile under the remote name;
    // records how far it got.
    TransferVariant upload(const std::string& localName = "users.ini")
    {
        TransferVariant v;
        v.checks = [this] {
            if (currentProfile(&selector))
                return true;
            prompts.errorBox(QStringLiteral("Please select a FTP Server!"));
            return false;
        };
        v.prepare = [this](const std::string& profile) {
            steps << QStringLiteral("prepare");
            writeFileAtomic(context.localCopy(profile, "users.ini"), editorBytes);
        };
        v.progressText = QStringLiteral("Uploading userfile.");
        v.transfer = [this, localName](FtpClient& c, const std::string& profile, FtpClient::Done done) {
            steps << QStringLiteral("transfer");
            c.store(context.localCopy(profile, localName), "users.ini", std::move(done));
        };
        v.finalText = QStringLiteral("Finished.");
        v.after = [this](const std::string&) { steps << QStringLiteral("after"); };
        return v;
    }

    TransferVariant download()
    {
        TransferVariant v = upload();
        v.prepare = nullptr;
        v.progressText = QStringLiteral("Downloading userfile.");
        v.transfer = [this](FtpClient& c, const std::string& profile, FtpClient::Done done) {
            steps << QStringLiteral("transfer");
            c.retrieve("users.ini", context.localCopy(profile, "users.ini"), std::move(done));
        };
        return v;
    }

    // Starts an action as a button press would, under the error guard.
    void press(TransferVariant variant, FtpClient& on)
    {
        runGuarded([&] { runTransfer(context, on, &selector, std::move(variant)); });
    }

    // Waits until the action has ended: every way out of it closes the
    // connection before its last step runs in the same callback.
    void waitForEnd()
    {
        ASSERT_TRUE(waitUntil([&] { return !client.isConnected(); }));
    }

    ProgramFolder folder;
    ScriptedPrompts prompts;
    RecordingStatus status;
    ProfileStore store{ folder.path() + "/ftpserver.ini" };
    AppContext context{ folder.path(), store, prompts, status };
    QComboBox selector;
    FtpClient client;
    std::string editorBytes = "admin \"x\"\r\nlast";
    QStringList steps;
};

TEST_F(TransferProcedureTest, UploadRunsItsStepsInOrderAndLeavesTheClientDisconnected)
{
    FtpServer server;
    server.makeFolder("srv/hlds/cstrike");
    addProfile(context, "srv", server, "/srv/hlds");
    press(upload(), client);
    EXPECT_TRUE(client.isConnected());
    waitForEnd();
    const QStringList expected{ QStringLiteral("Connecting to 127.0.0.1 on Port %1.").arg(server.port()),
        QStringLiteral("Uploading userfile."), QStringLiteral("Finished.") };
    EXPECT_EQ(status.history, expected);
    EXPECT_EQ(steps, (QStringList{ QStringLiteral("prepare"), QStringLiteral("transfer"), QStringLiteral("after") }));
    EXPECT_FALSE(client.isConnected());
    EXPECT_EQ(server.read("srv/hlds/cstrike/users.ini"), editorBytes);
    if (!server.external()) {
        EXPECT_EQ(server.commands({ "CWD" }), std::vector<std::string>{ "CWD /srv/hlds/cstrike" });
        EXPECT_EQ(server.commands({ "QUIT" }), std::vector<std::string>());
    }
}

// The server folder is HLDS and "/cstrike" joined as they stand.
TEST_F(TransferProcedureTest, ServerFolderIsHldsPlusCstrike)
{
    const std::vector<std::pair<std::string, std::string>> rows{
        { "", "CWD /cstrike" },
        { "/srv/hlds/", "CWD /srv/hlds//cstrike" },
        { "/home/hlds", "CWD /home/hlds/cstrike" },
        { "hlds", "CWD hlds/cstrike" },
    };
    FtpServer server(FtpServer::Options::local());
    for (const auto& [hlds, cwd] : rows) {
        SCOPED_TRACE(hlds);
        server.makeFolder(hlds + "/cstrike");
        server.clearCommands();
        addProfile(context, "srv", server, hlds);
        press(upload(), client);
        waitForEnd();
        EXPECT_EQ(status.status(), QStringLiteral("Finished."));
        EXPECT_EQ(server.commands({ "CWD" }), std::vector<std::string>{ cwd });
    }
}

TEST_F(TransferProcedureTest, ProfileIsReadAfreshAndPortDefaultsToTheKindsPort)
{
    FtpServer server;
    server.makeFolder("cstrike");
    addProfile(context, "srv", server, "");
    press(upload(), client);
    waitForEnd();
    EXPECT_EQ(status.status(), QStringLiteral("Finished."));

    // A saved change applies to the next action; no PORT key, or one that is
    // no number, means the kind's usual port: 21 for plain FTP (where nothing
    // listens here), 22 for SFTP, 990 for implicit TLS.
    const int usual = defaultPort(server.kind());
    if (server.port() == usual)
        return; // a server of another kind on its usual port would answer there
    for (const char* port : { "", "abc" }) {
        SCOPED_TRACE(port);
        store.writeString("srv", "PORT", port);
        status.history.clear();
        prompts.expectErrorReport(
            QStringLiteral("Cannot connect to %1 on port %2").arg(QString::fromStdString(server.host())).arg(usual));
        press(upload(), client);
        waitForEnd();
        EXPECT_EQ(status.history,
            QStringList{
                QStringLiteral("Connecting to %1 on Port %2.").arg(QString::fromStdString(server.host())).arg(usual) });
        EXPECT_FALSE(client.isConnected());
    }
}

// An action uses the profile as one reading taken at its start: a Save or a
// hand edit while it runs (before the connect, or between the connect and the
// change of folder) cannot send it to the new HLDS path on the old server.
// The next action uses the new profile.
TEST_F(TransferProcedureTest, ProfileChangedDuringTheActionIsNotMixedIn)
{
    struct Row
    {
        const char* name;
        const char* statusToChangeAt; // nullptr: in the variant's step before the connect
    };
    const Row rows[] = { { "before the connect", nullptr }, { "between connect and CWD", "Uploading userfile." } };
    FtpServer oldServer;
    oldServer.makeFolder("old/cstrike");
    FtpServer newServer(FtpServer::Options::local());
    newServer.makeFolder("new/cstrike");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        addProfile(context, "srv", oldServer, "/old");
        const auto change = [&] { addProfile(context, "srv", newServer, "/new"); };
        TransferVariant variant = upload();
        if (row.statusToChangeAt) {
            status.onStatus = [&, at = QString::fromLatin1(row.statusToChangeAt)](const QString& text) {
                if (text == at)
                    change();
            };
        } else {
            variant.beforeConnect = [&](const std::string&) { change(); };
        }
        editorBytes = std::string("uploaded ") + row.name;
        status.history.clear();
        press(std::move(variant), client);
        waitForEnd();
        status.onStatus = nullptr;
        EXPECT_EQ(status.history,
            (QStringList{ QStringLiteral("Connecting to %1 on Port %2.")
                              .arg(QString::fromStdString(oldServer.host()))
                              .arg(oldServer.port()),
                QStringLiteral("Uploading userfile."), QStringLiteral("Finished.") }));
        EXPECT_EQ(oldServer.read("old/cstrike/users.ini"), editorBytes);
        if (!oldServer.external()) {
            EXPECT_EQ(oldServer.commands({ "CWD" }), std::vector<std::string>{ "CWD /old/cstrike" });
            oldServer.clearCommands();
        }

        // The change holds for the next action.
        press(upload(), client);
        waitForEnd();
        EXPECT_EQ(status.status(), QStringLiteral("Finished."));
        EXPECT_EQ(newServer.read("new/cstrike/users.ini"), editorBytes);
        EXPECT_EQ(newServer.commands({ "CWD" }), std::vector<std::string>{ "CWD /new/cstrike" });
        newServer.clearCommands();
    }
}

TEST_F(TransferProcedureTest, RefusalsComeBeforeAnythingIsSentOrWritten)
{
    FtpServer server;
    server.makeFolder("cstrike");
    addProfile(context, "srv", server, "");

    selector.setCurrentIndex(-1);
    prompts.expectErrorBox(QStringLiteral("Please select a FTP Server!"));
    press(upload(), client);
    EXPECT_TRUE(status.history.isEmpty());
    EXPECT_TRUE(steps.isEmpty());
    EXPECT_FALSE(folder.exists("cfgs/srv/users.ini"));

    // Busy from the very start of the connect: the second press still writes
    // its local copy (that step comes first), then is refused.
    selector.setCurrentIndex(0);
    press(upload(), client);
    editorBytes = "second";
    prompts.expectErrorBox(kBusyMessage);
    press(upload(), client);
    EXPECT_EQ(folder.read("cfgs/srv/users.ini"), "second");
    waitForEnd();
    if (!server.external()) {
        EXPECT_EQ(server.commands({ "USER" }).size(), 1u) << "one connect only";
    }
    EXPECT_EQ(status.status(), QStringLiteral("Finished."));
    prompts.verify();

    // A local preparation that fails ends the action before the network.
    editorBytes = "x";
    std::filesystem::remove_all(folder.file("cfgs/srv"));
    if (!server.external()) {
        server.clearCommands();
    }
    status.history.clear();
    prompts.expectErrorReport(QStringLiteral("users.ini"));
    press(upload(), client);
    EXPECT_TRUE(status.history.isEmpty());
    EXPECT_FALSE(client.isConnected());
    if (!server.external()) {
        EXPECT_EQ(server.commands(), std::vector<std::string>());
    }
}

// Every failure ends in the general error report with the server's reply,
// the status line at the text set last, no later step run, the client
// disconnected (so the page is not left busy) and the old local copy intact.
TEST_F(TransferProcedureTest, FailuresEndInTheErrorReportAndLeaveThePageUsable)
{
    struct Row
    {
        const char* name;
        Fault fault;
        bool isDownload;
        QString report;
        QString lastStatus;
    };
    const QString connecting = QStringLiteral("Connecting to 127.0.0.1 on Port %1.");
    const std::vector<Row> rows{
        { "login refused", Fault::RefuseLogin, false, QStringLiteral("530 Login incorrect."), connecting },
        { "cwd refused", Fault::RefuseCwd, true, QStringLiteral("Cannot change to the folder /cstrike: 550"),
            QStringLiteral("Downloading userfile.") },
        { "missing file", Fault::None, true, QStringLiteral("Cannot download users.ini: 550"),
            QStringLiteral("Downloading userfile.") },
        { "dropped", Fault::DropTransfer, true, QStringLiteral("the server closed the connection"),
            QStringLiteral("Downloading userfile.") },
        { "silent server", Fault::MuteAtCwd, false, QStringLiteral("no answer from the server for 0.7 seconds"),
            QStringLiteral("Uploading userfile.") },
        { "no greeting", Fault::MuteGreeting, true, QStringLiteral("no connection within 0.5 seconds"), connecting },
    };
    // The short limits of the fault rows are meant for the local server.
    FtpServer good(FtpServer::Options::local());
    good.write("cstrike/users.ini", "fresh");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FtpServer server(FtpServer::Options::local(row.fault));
        server.makeFolder("cstrike");
        if (row.fault == Fault::DropTransfer)
            server.write("cstrike/users.ini", std::string(1 << 20, 'd'));
        addProfile(context, "srv", server, "");
        folder.write("cfgs/srv/users.ini", "old copy");
        steps.clear();
        status.history.clear();
        // A short limit only where the row ends by it, so that a busy machine
        // cannot end another row by a limit first.
        client.setTimeouts(row.report.contains(QStringLiteral("no connection within")) ? 500ms : 10s,
            row.report.contains(QStringLiteral("no answer")) ? 700ms : 10s);

        prompts.expectErrorReport(row.report);
        press(row.isDownload ? download() : upload(), client);
        waitForEnd();
        prompts.verify();
        const QString lastStatus
            = row.lastStatus.contains(QStringLiteral("%1")) ? row.lastStatus.arg(server.port()) : row.lastStatus;
        EXPECT_EQ(status.status(), lastStatus);
        EXPECT_FALSE(steps.contains(QStringLiteral("after")));
        EXPECT_FALSE(client.isConnected());
        if (row.isDownload) {
            EXPECT_EQ(folder.read("cfgs/srv/users.ini"), "old copy");
            EXPECT_EQ(filesStartingWith(folder.file("cfgs/srv"), "users.ini."), std::vector<std::string>());
        }

        // The page is usable again at once.
        client.setTimeouts(10s, 10s);
        addProfile(context, "srv", good, "");
        press(download(), client);
        waitForEnd();
        EXPECT_EQ(status.status(), QStringLiteral("Finished."));
        EXPECT_EQ(folder.read("cfgs/srv/users.ini"), "fresh");
    }
}

TEST_F(TransferProcedureTest, ALocalErrorInsideTheTransferStepClosesTheConnection)
{
    FtpServer server;
    server.makeFolder("cstrike");
    addProfile(context, "srv", server, "");
    TransferVariant v = upload();
    v.transfer = [](FtpClient&, const std::string&, FtpClient::Done) {
        throw Error("Cannot write file cfgs/srv/server.cfg: No space left on device");
    };
    prompts.expectErrorReport(QStringLiteral("No space left on device"));
    press(std::move(v), client);
    waitForEnd();
    EXPECT_EQ(status.status(), QStringLiteral("Uploading userfile."));
    EXPECT_FALSE(client.isConnected());
}

// While one page's download is transferring, the same page is busy (its
// upload still writes the local copy first) and another page's download runs
// at the same time over its own connection.
TEST_F(TransferProcedureTest, SamePageIsBusyWhileAnotherPageTransfersAtTheSameTime)
{
    FtpServer::Options options = FtpServer::Options::local();
    options.rate = 256 * 1024;
    FtpServer server(options);
    const std::string remote(512 * 1024, 'r');
    server.write("cstrike/users.ini", remote);
    server.write("cstrike/other.ini", remote);
    addProfile(context, "srv", server, "");
    FtpClient otherPage;

    bool pressedAgain = false;
    bool bothRan = false;
    QObject::connect(&client, &FtpClient::progress, [&](qint64 done, qint64) {
        if (done > 0 && !pressedAgain) {
            pressedAgain = true;
            prompts.expectErrorBox(kBusyMessage);
            press(upload(), client);
            EXPECT_EQ(folder.read("cfgs/srv/users.ini"), editorBytes);
        }
    });
    QObject::connect(&otherPage, &FtpClient::progress, [&](qint64 done, qint64) {
        if (done > 0 && client.isBusy())
            bothRan = true;
    });
    press(download(), client);
    TransferVariant otherDownload = download();
    otherDownload.transfer = [this](FtpClient& c, const std::string&, FtpClient::Done done) {
        c.retrieve("other.ini", folder.file("other.ini"), std::move(done));
    };
    press(std::move(otherDownload), otherPage);
    ASSERT_TRUE(waitUntil([&] { return !client.isConnected() && !otherPage.isConnected(); }));
    EXPECT_TRUE(pressedAgain);
    EXPECT_TRUE(bothRan) << "the other page's transfer ran meanwhile";
    EXPECT_EQ(status.history.count(QStringLiteral("Finished.")), 2);
    EXPECT_EQ(folder.read("other.ini"), remote);
    EXPECT_EQ(folder.read("cfgs/srv/users.ini"), remote) << "the download completed over the busy press";
    EXPECT_EQ(server.commands({ "STOR" }), std::vector<std::string>());
}

// A server that withholds its final reply after the data holds only that
// page's action: the window's timers go on firing, another page's action
// starts and ends meanwhile, and the held one fails by its own limit.
TEST_F(TransferProcedureTest, AWithheldFinalReplyHoldsOnlyItsOwnAction)
{
    struct Row
    {
        const char* name;
        Fault fault;
        bool isDownload;
        QString report;
    };
    const std::vector<Row> rows{
        { "upload", Fault::HoldStorReply, false, QStringLiteral("Cannot upload users.ini: no answer from the server") },
        { "download", Fault::HoldRetrReply, true,
            QStringLiteral("Cannot download users.ini: no answer from the server") },
    };
    FtpServer good;
    good.write("cstrike/other.ini", "other page's file");
    addProfile(context, "other", good, "");
    QComboBox otherSelector;
    setProfileNames(&otherSelector, { "other" });
    otherSelector.setCurrentIndex(0);
    client.setTimeouts(5s, 3s);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FtpServer held(FtpServer::Options::local(row.fault));
        held.write("cstrike/users.ini", "the server's copy");
        addProfile(context, "srv", held, "");
        folder.write("cfgs/srv/users.ini", "old copy");
        std::filesystem::remove(folder.file("other.ini"));
        FtpClient otherPage;
        bool withheld = false;
        int ticksWhileHeld = 0;
        bool otherEndedWhileHeld = false;
        TransferVariant other = download();
        other.transfer = [this](FtpClient& c, const std::string&, FtpClient::Done done) {
            c.retrieve("other.ini", folder.file("other.ini"), std::move(done));
        };
        other.after = [&](const std::string&) { otherEndedWhileHeld = client.isBusy(); };
        QTimer ticker;
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            if (withheld) {
                ++ticksWhileHeld;
                return;
            }
            const auto commands = held.commands();
            withheld = std::find(commands.begin(), commands.end(), "(226 withheld)") != commands.end();
            if (withheld)
                runGuarded([&] { runTransfer(context, otherPage, &otherSelector, std::move(other)); });
        });
        ticker.start(50);

        prompts.expectErrorReport(row.report);
        press(row.isDownload ? download() : upload(), client);
        waitForEnd();
        prompts.verify();
        EXPECT_TRUE(withheld);
        EXPECT_GE(ticksWhileHeld, 3) << "the window's timer stood still";
        EXPECT_TRUE(otherEndedWhileHeld) << "the other page's action ran to its end meanwhile";
        EXPECT_EQ(folder.read("other.ini"), "other page's file");
        EXPECT_EQ(folder.read("cfgs/srv/users.ini"), row.isDownload ? "old copy" : editorBytes);
        EXPECT_EQ(filesStartingWith(folder.file("cfgs/srv"), "users.ini."), std::vector<std::string>());
    }
}

} // namespace
} // namespace velth::test
