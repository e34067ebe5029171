// The Config updater and Mapcycle pages against a real FTP server.
#include "editors/CfgFrame.h"
#include "editors/GroupUpload.h"
#include "editors/MapcycleFrame.h"
#include "editors/UserFrame.h"
#include "net/FtpClient.h"
#include "net/TransferProcedure.h"

#include "PageFixture.h"
#include "common/ErrorReport.h"
#include "common/FileIo.h"
#include "support/FtpServer.h"
#include "support/GameServerEmulator.h"
#include "support/PerKind.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>

#include <cstdlib>
#include <functional>
#include <set>

namespace velth {
namespace {

using test::FtpServer;
using test::itemTexts;

// Every file and folder under a folder, by relative path.
std::set<std::string> tree(const std::string& root)
{
    std::set<std::string> paths;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root))
        paths.insert(std::filesystem::relative(entry.path(), root).string());
    return paths;
}

const QString kCfgDone = QStringLiteral("Finished. (Your config will work after the next mapchange.)");

std::string block(const std::string& rcon, const std::string& server)
{
    return "////////////////////////////////////////////\r\n"
           "// Velth Control Center Password Settings //\r\n"
           "////////////////////////////////////////////\r\n"
           "\r\n"
           "rcon_password \""
        + rcon + "\"\r\nsv_password \"" + server + "\"\r\n\r\n\r\n";
}

template <class Page>
class TransferFixture : public test::PageFixture<Page>
{
protected:
    void useServer(const FtpServer& server)
    {
        ProfileStore& profiles = this->context.store();
        profiles.writeString("alpha", "HOST", "127.0.0.1");
        profiles.writeInt("alpha", "PORT", server.port());
        profiles.writeString("alpha", "USER", server.user());
        profiles.writeString("alpha", "PASS", server.password());
        const ConnectionKind kind = server.kind();
        profiles.writeString("alpha", "CONNECTION", std::string(connectionKindValue(kind)));
        if (kind == ConnectionKind::Sftp || usesTls(kind))
            KnownFingerprints(this->context.programFolder() + std::string(KnownFingerprints::kFileName))
                .remember("alpha", kind, server.host(), server.port(), server.accepted());
        server.makeFolder("cstrike");
    }

    // Starts an action and waits until it has ended: its final text, or a
    // prompt.
    template <class Start>
    void run(Start start, const QString& finalText)
    {
        const qsizetype shown = this->prompts.shown().size();
        start();
        const bool ended = QTest::qWaitFor(
            [&] { return this->status.status() == finalText || this->prompts.shown().size() > shown; }, 30000);
        ASSERT_TRUE(ended) << "the action did not end; status: " << this->status.status().toStdString();
    }
};

class CfgTransferTest : public TransferFixture<TcfgFrame>
{
protected:
    // Picks alpha, selects the config, types the passwords, presses Upload
    // and waits for the end.
    void upload(const std::string& config, const QString& rcon, const QString& server)
    {
        pick(0);
        const QList<QListWidgetItem*> found
            = page->ConfigList->findItems(QString::fromStdString(config), Qt::MatchExactly);
        ASSERT_EQ(found.size(), 1);
        page->ConfigList->setCurrentItem(found.first());
        page->rcon_password->setText(rcon);
        page->sv_password->setText(server);
        run([&] { QTest::mouseClick(page->BUpload, Qt::LeftButton); }, kCfgDone);
    }
};

struct UploadCase
{
    const char* name;
    std::string config;
    std::string rcon;
    std::string server;
    std::string expected;
    std::string storedRcon; // as the profile store reads it back
};

using CfgKindTest = test::PerKind<CfgTransferTest>;
VELTH_INSTANTIATE_PER_KIND(CfgKindTest);

TEST_P(CfgKindTest, UploadSendsTheComposedServerCfg)
{
    FtpServer server(FtpServer::Options::local());
    useServer(server);
    const UploadCase cases[] = {
        { "empty server password", "hostname x\r\n", "t0p secret", "", block("t0p secret", "") + "hostname x\r\n",
            "t0p secret" },
        { "own rcon_password line", "rcon_password \"old\"\r\nsv_gravity 800\r\n", "new", "join",
            block("new", "join") + "rcon_password \"old\"\r\nsv_gravity 800\r\n", "new" },
        { "last line without line end", "a\nb", "r", "s", block("r", "s") + "a\r\nb\r\n", "r" },
        { "empty config", "", "r", "s", block("r", "s"), "r" },
        { "ctrl-z",
            "a\r\n\x1a"
            "b\r\n",
            "r", "s", block("r", "s") + "a\r\n", "r" },
        // Stored quoted, so the next upload sends the same password.
        { "blank rcon password passes", "x", "  ", "", block("  ", "") + "x\r\n", "  " },
        { "outer blanks and quotes", "x", " my \"pass\" ", "", block(" my \"pass\" ", "") + "x\r\n", " my \"pass\" " },
    };
    for (const UploadCase& c : cases) {
        SCOPED_TRACE(c.name);
        folder.write(local("alpha", "my.cfg"), c.config);
        status.setStatus(QString());
        upload("my.cfg", QString::fromStdString(c.rcon), QString::fromStdString(c.server));
        EXPECT_EQ(server.read("cstrike/server.cfg"), c.expected);
        EXPECT_EQ(folder.read(local("alpha", "server.cfg")), c.expected);
        EXPECT_EQ(context.store().readString("alpha", "rconpass"), c.storedRcon);
        EXPECT_EQ(context.store().readString("alpha", "serverpass"), c.server);
    }
    EXPECT_EQ(status.history.mid(status.history.size() - 3),
        (QStringList{ QStringLiteral("Connecting to 127.0.0.1 on Port %1.").arg(server.port()),
            QStringLiteral("Uploading config file."), kCfgDone }));
    EXPECT_EQ(server.commands({ "CWD", "STOR", "OPEN-WRITE" }).back(),
        sftp() ? "OPEN-WRITE /cstrike/server.cfg" : "STOR server.cfg");
}

TEST_F(CfgTransferTest, UploadSendsTheSavedFileNotTheEditorText)
{
    FtpServer server(FtpServer::Options::local());
    useServer(server);
    folder.write(local("alpha", "my.cfg"), "saved\r\n");
    pick(0);
    page->ConfigList->setCurrentRow(0);
    runGuarded([&] { page->BEditConfigClick(); });
    page->Config->setPlainText(QStringLiteral("edited, not saved"));
    upload("my.cfg", QStringLiteral("r"), QString());
    EXPECT_EQ(server.read("cstrike/server.cfg"), block("r", "") + "saved\r\n");
}

// An untouched password goes back to the profile and the server byte for
// byte, whatever its encoding.
TEST_F(CfgTransferTest, UntouchedPasswordsKeepTheirBytes)
{
    FtpServer server(FtpServer::Options::local());
    useServer(server);
    folder.write(local("alpha", "my.cfg"), "");
    context.store().writeString("alpha", "rconpass", "p\xe4ss");
    context.store().writeString("alpha", "serverpass", "\xe9t\xe9");
    pick(0);
    page->ConfigList->setCurrentRow(0);
    run([&] { QTest::mouseClick(page->BUpload, Qt::LeftButton); }, kCfgDone);
    EXPECT_EQ(server.read("cstrike/server.cfg"), block("p\xe4ss", "\xe9t\xe9"));
    EXPECT_EQ(context.store().readString("alpha", "rconpass"), "p\xe4ss");
}

TEST_F(CfgTransferTest, PasswordsAreStoredEvenWhenTheLoginFails)
{
    FtpServer server(FtpServer::Options::local(FtpServer::Fault::RefuseLogin));
    useServer(server);
    folder.write(local("alpha", "my.cfg"), "x");
    prompts.expectErrorReport(QStringLiteral("530"));
    upload("my.cfg", QStringLiteral("rc"), QStringLiteral("sv"));
    prompts.verify();
    EXPECT_EQ(context.store().readString("alpha", "rconpass"), "rc");
    EXPECT_EQ(context.store().readString("alpha", "serverpass"), "sv");
    EXPECT_EQ(status.status(), QStringLiteral("Connecting to 127.0.0.1 on Port %1.").arg(server.port()));
    EXPECT_FALSE(folder.exists(local("alpha", "server.cfg")));
    EXPECT_FALSE(page->ftpClient().isConnected());
}

// One config to six profiles, two at a time, each over its own connection
// kind with its own passwords: plain FTP active and passive, FTPS; one
// profile's folder is read-only, one profile has no rcon password, one
// server is gone. Then "Apply it now" on the three that took it: one runs
// it, one has no server.cfg to run ("couldn't exec server.cfg"), one refuses
// the password. Each outcome comes from the server's answer, and nothing is
// sent twice.
TEST_F(CfgTransferTest, UploadToManyServersThenApplyOnThoseThatTookIt)
{
    FtpServer::Options plainOptions = FtpServer::Options::local();
    plainOptions.kind = ConnectionKind::FtpActive;
    plainOptions.readOnly = { "ro/cstrike" };
    FtpServer plain(plainOptions);
    FtpServer::Options tlsOptions = FtpServer::Options::local();
    tlsOptions.kind = ConnectionKind::FtpsExplicit;
    FtpServer tls(tlsOptions);
    FtpServer gone(FtpServer::Options::local());
    gone.stop();
    for (const char* hlds : { "a/cstrike", "z/cstrike", "x/cstrike" })
        plain.makeFolder(hlds);
    tls.makeFolder("cstrike");

    test::GameServerEmulator::Options runs;
    runs.rconPassword = "pa";
    runs.serverCfg = plain.root() + "a/cstrike/server.cfg";
    test::GameServerEmulator runsIt(runs);
    test::GameServerEmulator::Options noFile;
    noFile.rconPassword = "pt";
    test::GameServerEmulator hasNoFile(noFile);
    test::GameServerEmulator::Options other;
    other.rconPassword = "not the profile's";
    test::GameServerEmulator refuses(other);

    struct Profile
    {
        std::string name;
        const FtpServer* server;
        ConnectionKind kind;
        std::string hlds, rcon, sv;
        int gamePort;
    };
    const std::vector<Profile> profiles = {
        { "alpha", &plain, ConnectionKind::FtpActive, "/a", "pa", "sa", runsIt.port() },
        { "beta", &plain, ConnectionKind::FtpPassive, "/ro", "pb", "", 0 },
        { "gamma", &tls, ConnectionKind::FtpsExplicit, "", "pt", "st", hasNoFile.port() },
        { "delta", &plain, ConnectionKind::FtpPassive, "/z", "pz", "", refuses.port() },
        { "eps", &plain, ConnectionKind::FtpActive, "/x", "", "", 0 },
        { "zeta", &gone, ConnectionKind::FtpActive, "", "pg", "", 0 },
    };
    std::vector<std::string> names;
    for (const Profile& p : profiles) {
        names.push_back(p.name);
        std::filesystem::create_directories(folder.file("cfgs/" + p.name));
        store.writeString(p.name, "HOST", "127.0.0.1");
        store.writeInt(p.name, "PORT", p.server->port());
        store.writeString(p.name, "USER", p.server->user());
        store.writeString(p.name, "PASS", p.server->password());
        store.writeString(p.name, "CONNECTION", std::string(connectionKindValue(p.kind)));
        store.writeString(p.name, "HLDS", p.hlds);
        store.writeString(p.name, "rconpass", p.rcon);
        store.writeString(p.name, "serverpass", p.sv);
        if (p.gamePort)
            store.writeInt(p.name, std::string(kGamePortKey), p.gamePort);
    }
    KnownFingerprints(context.programFolder() + std::string(KnownFingerprints::kFileName))
        .remember("gamma", ConnectionKind::FtpsExplicit, tls.host(), tls.port(), tls.accepted());
    page->setProfileNames(names);
    folder.write(local("alpha", "group.cfg"), "hostname \"group\"\nsv_gravity 700\n");
    pick(0);
    page->ConfigList->setCurrentRow(0);
    for (int i = 0; i < page->GroupServers->count(); ++i)
        page->GroupServers->item(i)->setCheckState(Qt::Checked);
    page->groupUpload().setMaxConnections(2);

    prompts.expectConfirm(
        QStringLiteral("Upload group.cfg as server.cfg to 6 servers, each with the passwords of its own profile?"),
        true);
    // The confirmation is asked first: the wait is for the final text only.
    const auto until
        = [&](const QString& text) { return QTest::qWaitFor([&] { return status.status() == text; }, 60000); };
    QTest::mouseClick(page->BUploadMany, Qt::LeftButton);
    ASSERT_TRUE(until(QStringLiteral("Config uploaded to 3 of 6 servers."))) << status.status().toStdString();
    prompts.verify();
    auto column = [&](int c) {
        QStringList texts;
        for (int i = 0; i < page->GroupResults->topLevelItemCount(); ++i)
            texts << page->GroupResults->topLevelItem(i)->text(0) + u' ' + page->GroupResults->topLevelItem(i)->text(c);
        return texts;
    };
    const QStringList uploads = column(1);
    ASSERT_EQ(uploads.size(), 6);
    EXPECT_EQ(uploads[0], QStringLiteral("alpha uploaded"));
    EXPECT_TRUE(uploads[1].startsWith(QStringLiteral("beta refused: "))) << uploads[1].toStdString();
    EXPECT_TRUE(uploads[1].contains(QStringLiteral("550"))) << uploads[1].toStdString();
    EXPECT_EQ(uploads[2], QStringLiteral("gamma uploaded"));
    EXPECT_EQ(uploads[3], QStringLiteral("delta uploaded"));
    EXPECT_TRUE(uploads[4].startsWith(QStringLiteral("eps refused: the profile has no rcon password")))
        << uploads[4].toStdString();
    EXPECT_TRUE(uploads[5].startsWith(QStringLiteral("zeta failed: "))) << uploads[5].toStdString();
    EXPECT_LE(page->groupUpload().peakConnections(), 2);
    EXPECT_EQ(page->groupUpload().peakConnections(), 2);

    const std::string config = "hostname \"group\"\r\nsv_gravity 700\r\n";
    EXPECT_EQ(plain.read("a/cstrike/server.cfg"), block("pa", "sa") + config);
    EXPECT_EQ(tls.read("cstrike/server.cfg"), block("pt", "st") + config);
    EXPECT_EQ(plain.read("z/cstrike/server.cfg"), block("pz", "") + config);
    EXPECT_FALSE(plain.exists("ro/cstrike/server.cfg"));
    EXPECT_FALSE(plain.exists("x/cstrike/server.cfg"));
    // The profile with no rcon password was never connected to.
    EXPECT_EQ(plain.commands({ "STOR" }).size(), 3u); // a, z and the refused ro

    prompts.expectConfirm(QStringLiteral("Run exec server.cfg on 3 servers now? The config works at once."), true);
    QTest::mouseClick(page->BApplyMany, Qt::LeftButton);
    ASSERT_TRUE(until(QStringLiteral("Config applied on 1 of 3 servers."))) << status.status().toStdString();
    prompts.verify();
    const QStringList applies = column(2);
    EXPECT_EQ(applies[0], QStringLiteral("alpha applied"));
    EXPECT_EQ(applies[1], QStringLiteral("beta "));
    EXPECT_EQ(applies[2], QStringLiteral("gamma failed: couldn't exec server.cfg"));
    EXPECT_TRUE(applies[3].startsWith(QStringLiteral("delta refused: "))) << applies[3].toStdString();
    EXPECT_EQ(applies[4], QStringLiteral("eps "));
    const std::vector<std::string> ran = runsIt.rconCommands();
    EXPECT_EQ(std::count(ran.begin(), ran.end(), "exec server.cfg"), 1);
    EXPECT_EQ(std::count(ran.begin(), ran.end(), "hostname \"group\""), 0); // the file's lines run inside exec
    const std::vector<std::string> tried = hasNoFile.rconCommands();
    EXPECT_EQ(std::count(tried.begin(), tried.end(), "exec server.cfg"), 1);
    EXPECT_TRUE(refuses.rconCommands().empty());
    // One more press applies only what did not take: the two that failed.
    EXPECT_EQ(page->groupUpload().applicable(), 2);

    if (const char* shots = std::getenv("VELTH_SHOT_DIR"))
        page->grab().save(QString::fromLocal8Bit(shots) + QStringLiteral("/cfg-group-upload.png"));
}

// A config that vanished behind the page's back: nothing reaches the server,
// and the server.cfg of the last upload is left whole.
TEST_F(CfgTransferTest, VanishedConfigSendsNothing)
{
    FtpServer server(FtpServer::Options::local());
    useServer(server);
    folder.write(local("alpha", "my.cfg"), "x");
    folder.write(local("alpha", "server.cfg"), "last upload");
    pick(0);
    std::filesystem::remove(folder.file(local("alpha", "my.cfg")));
    page->ConfigList->setCurrentRow(0);
    page->rcon_password->setText(QStringLiteral("r"));
    prompts.expectErrorReport(QStringLiteral("my.cfg"));
    run([&] { QTest::mouseClick(page->BUpload, Qt::LeftButton); }, kCfgDone);
    prompts.verify();
    EXPECT_EQ(status.status(), QStringLiteral("Uploading config file."));
    EXPECT_FALSE(server.exists("cstrike/server.cfg"));
    EXPECT_EQ(folder.read(local("alpha", "server.cfg")), "last upload");
    EXPECT_TRUE(QTest::qWaitFor([&] { return !page->ftpClient().isConnected(); }, 5000));
}

class MapcycleTransferTest : public TransferFixture<TmapcycleFrame>
{ };

using MapcycleKindTest = test::PerKind<MapcycleTransferTest>;
VELTH_INSTANTIATE_PER_KIND(MapcycleKindTest);

TEST_P(MapcycleKindTest, UploadWritesTheLocalCopyAndSendsIt)
{
    FtpServer server(FtpServer::Options::local());
    useServer(server);
    folder.write(local("alpha", "mapcycle.txt"), "");
    pick(0);
    page->MapList->addItem(QStringLiteral("de_dust"));
    page->MapList->setCurrentRow(page->MapList->count() - 1);
    runGuarded([&] { page->BAddClick(); });
    prompts.expectInput(QStringLiteral("Add custom map"), QStringLiteral("Cs_Office"));
    runGuarded([&] { page->Addcustommap1Click(); });
    run([&] { QTest::mouseClick(page->BUpload, Qt::LeftButton); }, QStringLiteral("Finished."));
    EXPECT_EQ(server.read("cstrike/mapcycle.txt"), "de_dust\r\ncs_office\r\n");
    EXPECT_EQ(folder.read(local("alpha", "mapcycle.txt")), "de_dust\r\ncs_office\r\n");
    EXPECT_EQ(status.history.mid(status.history.size() - 3),
        (QStringList{ QStringLiteral("Connecting to 127.0.0.1 on Port %1.").arg(server.port()),
            QStringLiteral("Uploading mapcycle."), QStringLiteral("Finished.") }));
}

TEST_P(MapcycleKindTest, DownloadReplacesTheLocalCopyAndTheList)
{
    FtpServer server(FtpServer::Options::local());
    useServer(server);
    server.write("cstrike/mapcycle.txt", "x\ny\r\n\r\nz");
    folder.write(local("alpha", "mapcycle.txt"), "old\r\n");
    pick(0);
    run([&] { QTest::mouseClick(page->BDownload, Qt::LeftButton); }, QStringLiteral("Finished."));
    EXPECT_EQ(folder.read(local("alpha", "mapcycle.txt")), "x\ny\r\n\r\nz");
    EXPECT_EQ(itemTexts(page->Maps),
        (QStringList{ QStringLiteral("x"), QStringLiteral("y"), QString(), QStringLiteral("z") }));
    EXPECT_EQ(server.commands({ "CWD", "OPENDIR" }).back(), sftp() ? "OPENDIR /cstrike" : "CWD /cstrike");
}

// A profile picked while a download runs keeps its own cycle on show: the
// finished download must not put another server's cycle under its name,
// where the next upload would send it to the wrong server.
TEST_F(MapcycleTransferTest, ADownloadDoesNotReplaceAnotherProfilesListPickedMeanwhile)
{
    FtpServer::Options options = FtpServer::Options::local();
    options.rate = 128 * 1024;
    FtpServer server(options);
    useServer(server);
    std::string remote;
    while (remote.size() < 256 * 1024)
        remote += "de_alpha\r\n";
    server.write("cstrike/mapcycle.txt", remote);
    folder.write(local("alpha", "mapcycle.txt"), "de_old\r\n");
    folder.write(local("beta", "mapcycle.txt"), "cs_beta\r\n");
    pick(0);
    bool picked = false;
    QObject::connect(&page->ftpClient(), &FtpClient::progress, [&](qint64 done, qint64) {
        if (done > 0 && !picked) {
            picked = true;
            pick(1);
        }
    });
    run([&] { QTest::mouseClick(page->BDownload, Qt::LeftButton); }, QStringLiteral("Finished."));
    EXPECT_TRUE(picked);
    EXPECT_EQ(folder.read(local("alpha", "mapcycle.txt")), remote);
    EXPECT_EQ(itemTexts(page->Maps), QStringList{ QStringLiteral("cs_beta") });
}

TEST_F(MapcycleTransferTest, SecondPressWhileTransferringIsBusy)
{
    FtpServer::Options options = FtpServer::Options::local(FtpServer::Fault::StallTransfer);
    FtpServer server(options);
    useServer(server);
    folder.write(local("alpha", "mapcycle.txt"), "");
    pick(0);
    page->Maps->addItem(QStringLiteral("de_dust"));
    QTest::mouseClick(page->BUpload, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return status.status() == QStringLiteral("Uploading mapcycle."); }, 20000));
    page->Maps->addItem(QStringLiteral("cs_office"));
    prompts.expectErrorBox(kBusyMessage);
    QTest::mouseClick(page->BUpload, Qt::LeftButton);
    prompts.verify();
    // The second press rewrote the local copy before the busy check.
    EXPECT_EQ(folder.read(local("alpha", "mapcycle.txt")), "de_dust\r\ncs_office\r\n");
    page->ftpClient().disconnect();
}

// A section name from a hand-edited store became part of a path: "[..]"
// made Mapcycle Download overwrite the program's own map list and
// "[../../outside]" wrote users.ini outside the program folder. Such a name
// ends the action with the report naming it, before any connection, and
// nothing is written anywhere.
struct UnsafeProfileCase
{
    const char* label;
    // Presses the page's button (or picks the profile) on a page made here.
    std::function<void(AppContext&)> act;
};

template <class Page>
UnsafeProfileCase pressOn(const char* label, QPushButton* Page::*button)
{
    return { label, [button](AppContext& context) {
                Page page(context, nullptr);
                setProfileNames(page.FTPServer, context.store().profileNames());
                page.FTPServer->setCurrentIndex(0);
                QTest::mouseClick(page.*button, Qt::LeftButton);
            } };
}

class UnsafeProfileTest : public ::testing::TestWithParam<std::tuple<UnsafeProfileCase, std::string>>
{ };

TEST_P(UnsafeProfileTest, EndsTheActionBeforeAnythingIsWrittenOrSent)
{
    const auto& [action, name] = GetParam();
    test::TempDir parent;
    ASSERT_TRUE(makeFolders(parent.file("a/program/cfgs")));
    const std::string programFolder = parent.file("a/program/");
    FtpServer server(FtpServer::Options::local());
    server.makeFolder("cstrike");
    server.write("cstrike/users.ini", "from the server");
    server.write("cstrike/mapcycle.txt", "de_server");
    const std::string store = "[" + name + "]\r\nHOST=127.0.0.1\r\nPORT=" + std::to_string(server.port())
        + "\r\nUSER=" + server.user() + "\r\nPASS=" + server.password() + "\r\n";
    parent.write("a/program/ftpserver.ini", store);
    parent.write("a/program/mapcycle.txt", "de_dust2\r\n");
    const auto before = tree(parent.path());

    test::ScriptedPrompts prompts;
    test::RecordingStatus status;
    ProfileStore profiles(programFolder + "ftpserver.ini");
    AppContext context(programFolder, profiles, prompts, status);
    prompts.expectErrorReport(QStringLiteral("The server name \"") + QString::fromStdString(name)
        + QStringLiteral("\" cannot be used as a folder name."));
    action.act(context);
    prompts.verify();

    EXPECT_EQ(tree(parent.path()), before);
    EXPECT_EQ(parent.read("a/program/mapcycle.txt"), "de_dust2\r\n");
    EXPECT_EQ(server.commands(), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Pages, UnsafeProfileTest,
    ::testing::Combine(
        ::testing::Values(pressOn("UserDownload", &TuserFrame::BDownload), pressOn("UserUpload", &TuserFrame::BUpload),
            pressOn("MapcycleDownload", &TmapcycleFrame::BDownload),
            pressOn("MapcycleUpload", &TmapcycleFrame::BUpload),
            UnsafeProfileCase{ "CfgPick",
                [](AppContext& context) {
                    TcfgFrame page(context, nullptr);
                    setProfileNames(page.FTPServer, context.store().profileNames());
                    page.FTPServer->setCurrentIndex(0);
                    runGuarded([&] { Q_EMIT page.FTPServer->activated(0); });
                } }),
        ::testing::Values(std::string(".."), std::string("../../outside"), std::string("."))),
    [](const auto& row) {
        const std::string& name = std::get<1>(row.param);
        return std::string(std::get<0>(row.param).label) + (name == "." ? "Dot" : name == ".." ? "DotDot" : "Outside");
    });

} // namespace
} // namespace velth
