// The Live page against real emulated game servers: the Servers list for
// servers that answer, stay silent or send markup; kick and ban asked first
// and sent; a refused rcon password never sent again on its own; arguments
// that could start another console command refused; closing while the
// network is busy.
#include "support/FtpTestHelpers.h"

#include "app/MainForm.h"
#include "common/Error.h"
#include "common/ErrorReport.h"
#include "common/ProfileSelector.h"
#include "common/TextCodec.h"
#include "live/LiveFrame.h"
#include "net/GameServer.h"
#include "support/GameServerEmulator.h"
#include "support/RecordingStatus.h"
#include "support/ScriptedPrompts.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>

#include <algorithm>
#include <memory>
#include <regex>
#include <set>

namespace velth::test {
namespace {

using Hostile = GameServerEmulator::Hostile;

// A state with this many human players (on top of none), for counts that
// sort differently as text and as numbers.
std::string stateWithPlayers(int count, int maxPlayers)
{
    std::string players;
    for (int i = 0; i < count; ++i) {
        if (i > 0)
            players += ",";
        players += "{\"name\":\"p" + std::to_string(i) + "\",\"userid\":" + std::to_string(100 + i)
            + ",\"uniqueid\":\"STEAM_0:0:" + std::to_string(1000 + i) + "\",\"frags\":" + std::to_string(i)
            + ",\"time\":60,\"ping\":20,\"loss\":0,\"address\":\"10.0.0." + std::to_string(i + 1) + ":27005\"}";
    }
    return "{\"hostname\":\"Crowded\",\"max_players\":" + std::to_string(maxPlayers) + ",\"players\":[" + players
        + "]}";
}

// A character that must never reach the screen as it came: C0 and C1
// controls, DEL and the bidirectional override.
bool hidesOrActs(QChar c)
{
    const char16_t u = c.unicode();
    return u < 0x20 || u == 0x7f || (u >= 0x80 && u < 0xa0) || u == 0x202e || u == 0x202d;
}

QStringList column(const QTreeWidget* list, int col)
{
    QStringList texts;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        texts << list->topLevelItem(i)->text(col);
    return texts;
}

bool contains(const std::vector<std::string>& lines, const std::string& line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// The rcon attempts the server saw, accepted or not.
int rconAttempts(const GameServerEmulator& server)
{
    const auto lines = server.received();
    return int(
        std::count_if(lines.begin(), lines.end(), [](const std::string& line) { return line.rfind("rcon ", 0) == 0; }));
}

class LiveFrameTest : public ::testing::Test
{
protected:
    // A profile whose game server is the emulator's (or a port nobody
    // serves), reached by the FTP host when gameHost is false.
    void addProfile(const std::string& name, int port, const std::string& rconpass = {}, bool gameHost = true)
    {
        store.writeString(name, "HOST", gameHost ? "ftp.example.invalid" : "127.0.0.1");
        if (gameHost)
            store.writeString(name, "GAMEHOST", "127.0.0.1");
        store.writeInt(name, "GAMEPORT", port);
        if (!rconpass.empty())
            store.writeString(name, "rconpass", rconpass);
        makeFolders(folder.path() + "cfgs/" + name);
    }

    std::unique_ptr<TliveFrame> makePage()
    {
        auto page = std::make_unique<TliveFrame>(context);
        page->resize(TMainForm::kPageArea.size());
        page->setProfileNames(store.profileNames());
        return page;
    }

    // The user picking a server on the Server tab; waits until its players
    // are on show.
    void pick(TliveFrame& page, const std::string& profile, int players)
    {
        page.Server->setCurrentIndex(page.Server->findData(bytesToItemData(profile)));
        page.MainControl->setCurrentWidget(page.ServerTab);
        runGuarded([&] { page.ServerChange(); });
        ASSERT_TRUE(waitUntil([&] { return page.Players->topLevelItemCount() == players && !page.isBusy(); }));
    }

    void select(TliveFrame& page, const QString& name)
    {
        const auto rows = page.Players->findItems(name, Qt::MatchExactly, TliveFrame::PlayerNameColumn);
        ASSERT_EQ(rows.size(), 1) << name.toStdString();
        page.Players->setCurrentItem(rows.first());
    }

    void typeCommand(TliveFrame& page, const QString& line)
    {
        page.Command->setText(line);
        QTest::keyClick(page.Command, Qt::Key_Return);
    }

    // A console command that the server must have run before the test goes
    // on: whatever the page sent earlier has arrived by then.
    void fence(TliveFrame& page, const GameServerEmulator& server)
    {
        const std::string line = "echo fence " + std::to_string(++m_fences);
        typeCommand(page, QString::fromStdString(line));
        ASSERT_TRUE(waitUntil([&] { return contains(server.rconCommands(), line) && !page.isBusy(); }));
    }
    int m_fences = 0;

    ProgramFolder folder;
    ScriptedPrompts prompts;
    RecordingStatus status;
    ProfileStore store{ folder.path() + "ftpserver.ini" };
    AppContext context{ folder.path(), store, prompts, status };
};

TEST_F(LiveFrameTest, ServersListShowsEachProfileOnlineOrOfflineAsPlainTextAndSortsNumbersAsNumbers)
{
    GameServerEmulator plain;
    GameServerEmulator::Options crowdedOptions;
    crowdedOptions.stateJson = stateWithPlayers(10, 32);
    GameServerEmulator crowded(crowdedOptions);
    GameServerEmulator::Options hostileOptions;
    hostileOptions.hostile = { Hostile::Markup };
    GameServerEmulator hostile(hostileOptions);
    GameServerEmulator gone;
    const int silentPort = gone.port();
    gone.stop();

    addProfile("plain", plain.port());
    addProfile("crowded", crowded.port(), {}, false);
    addProfile("hostile", hostile.port());
    addProfile("silent", silentPort);
    store.writeString("nohost", "HOST", "");

    auto page = makePage();
    page->show();
    ASSERT_TRUE(page->isRefreshing()) << "showing the page asks every server at once";
    ASSERT_TRUE(waitUntil([&] { return !page->isRefreshing(); }));

    struct Row
    {
        const char* profile;
        QString state;
        QString name;
        QString players;
        QString bots;
    };
    const std::vector<Row> rows{
        { "plain", QStringLiteral("online"), QStringLiteral("Velth Test Server"), QStringLiteral("4/16"),
            QStringLiteral("1") },
        { "crowded", QStringLiteral("online"), QStringLiteral("Crowded"), QStringLiteral("10/32"),
            QStringLiteral("0") },
        { "hostile", QStringLiteral("online"), QString(), QStringLiteral("4/16"), QStringLiteral("1") },
        { "silent", QStringLiteral("offline"), QString(), QString(), QString() },
        { "nohost", QStringLiteral("offline"), QStringLiteral("no game server address"), QString(), QString() },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.profile);
        const auto found = page->ServerList->findItems(
            QString::fromLatin1(row.profile), Qt::MatchExactly, TliveFrame::ProfileColumn);
        ASSERT_EQ(found.size(), 1);
        const QTreeWidgetItem* item = found.first();
        EXPECT_EQ(item->text(TliveFrame::StateColumn), row.state);
        if (!row.name.isNull()) {
            EXPECT_EQ(item->text(TliveFrame::NameColumn), row.name);
        }
        EXPECT_EQ(item->text(TliveFrame::PlayersColumn), row.players);
        EXPECT_EQ(item->text(TliveFrame::BotsColumn), row.bots);
        if (row.state == QStringLiteral("online")) {
            EXPECT_EQ(item->text(TliveFrame::PasswordColumn), QStringLiteral("no"));
            EXPECT_TRUE(item->text(TliveFrame::PingColumn).endsWith(QStringLiteral(" ms")));
        } else {
            EXPECT_EQ(item->text(TliveFrame::PingColumn), QString());
        }
        for (int col = 0; col < TliveFrame::ServerColumnCount; ++col) {
            const QString text = item->text(col);
            EXPECT_LE(text.size(), 201) << "column " << col;
            EXPECT_TRUE(std::none_of(text.begin(), text.end(), hidesOrActs))
                << "column " << col << ": " << text.toStdString();
        }
    }
    // The hostile server's markup stands as the characters it is made of.
    const QTreeWidgetItem* hostileRow
        = page->ServerList->findItems(QStringLiteral("hostile"), Qt::MatchExactly, TliveFrame::ProfileColumn).first();
    EXPECT_TRUE(
        hostileRow->text(TliveFrame::NameColumn).startsWith(QStringLiteral("<b>Velth</b> <a href='x'>Server</a>")))
        << hostileRow->text(TliveFrame::NameColumn).toStdString();
    EXPECT_TRUE(hostileRow->text(TliveFrame::MapColumn).startsWith(QStringLiteral("<i>de_dust2</i>")));
    prompts.verify(); // a silent server is offline, never an error box

    // 4 players before 10 (as text "10/32" would come first); rows without
    // a count after those with one.
    page->ServerList->sortByColumn(TliveFrame::PlayersColumn, Qt::AscendingOrder);
    const QStringList byPlayers = column(page->ServerList, TliveFrame::ProfileColumn);
    ASSERT_EQ(byPlayers.size(), 5);
    EXPECT_EQ(byPlayers.at(2), QStringLiteral("crowded")) << byPlayers.join(u',').toStdString();
    EXPECT_TRUE(byPlayers.indexOf(QStringLiteral("silent")) > 2 && byPlayers.indexOf(QStringLiteral("nohost")) > 2);

    // Out of sight the page asks nothing; back on show it asks again.
    page->hide();
    EXPECT_FALSE(page->isRefreshing());
    const auto infos = [&] {
        const auto lines = plain.received();
        return std::count(lines.begin(), lines.end(), std::string("info"));
    };
    const auto before = infos();
    page->BRefresh->click();
    ASSERT_TRUE(waitUntil([&] { return !page->isRefreshing(); }));
    EXPECT_GT(infos(), before) << "Refresh asks at once";
}

TEST_F(LiveFrameTest, KickAndBanAreAskedFirstAndSentForThePickedPlayer)
{
    GameServerEmulator::Options options;
    options.rconPassword = "s3cret";
    GameServerEmulator server(options);
    addProfile("srv", server.port(), "s3cret");
    auto page = makePage();
    pick(*page, "srv", 4);
    // The console's status gives every player's user id, Steam id and address.
    select(*page, QStringLiteral("Player One"));
    const QTreeWidgetItem* one = page->Players->currentItem();
    EXPECT_EQ(one->text(TliveFrame::UserIdColumn), QStringLiteral("12"));
    EXPECT_EQ(one->text(TliveFrame::SteamIdColumn), QStringLiteral("STEAM_0:1:12345"));
    EXPECT_EQ(one->text(TliveFrame::AddressColumn), QStringLiteral("5.6.7.8:27005"));
    EXPECT_EQ(one->text(TliveFrame::TimeColumn), QStringLiteral("12:34"));
    // Without a local map cycle the server's own list is offered.
    ASSERT_EQ(page->Maps->count(), 10);
    EXPECT_EQ(page->Maps->itemText(0), QStringLiteral("as_oilrig"));

    struct Row
    {
        const char* name;
        QString player;
        QPushButton* button;
        int minutes;
        QString question;
        bool yes;
        std::vector<std::string> sent;
    };
    const std::vector<Row> rows{
        { "kick cancelled", QStringLiteral("Player One"), page->BKick, 30,
            QStringLiteral("Do you want to kick Player One ?"), false, {} },
        { "kick", QStringLiteral("Player One"), page->BKick, 30, QStringLiteral("Do you want to kick Player One ?"),
            true, { "kick #12" } },
        { "ban Steam id for good", QStringLiteral("[VLT] Sniper"), page->BBan, 0,
            QStringLiteral("Do you want to ban [VLT] Sniper (STEAM_1:0:424242) for good ?"), true,
            { "banid 0 STEAM_1:0:424242 kick", "writeid" } },
        { "ban address for 30 minutes", QStringLiteral("The \"Quoted\" One"), page->BBanAddress, 30,
            QStringLiteral("Do you want to ban the address 9.10.11.12 of The \"Quoted\" One for 30 minutes ?"), true,
            { "addip 30 9.10.11.12", "writeip", "kick #15" } },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::size_t before = server.rconCommands().size();
        select(*page, row.player);
        page->BanMinutes->setValue(row.minutes);
        prompts.expectConfirm(row.question, row.yes);
        row.button->click();
        prompts.verify();
        fence(*page, server);
        std::vector<std::string> after = server.rconCommands();
        after.erase(after.begin(), after.begin() + std::ptrdiff_t(before));
        // What the page sent, in order; the end markers of the console
        // client and the fence are not the page's.
        std::vector<std::string> sent;
        for (const std::string& command : after) {
            if (command.rfind("kick", 0) == 0 || command.rfind("ban", 0) == 0 || command.rfind("addip", 0) == 0
                || command.rfind("write", 0) == 0)
                sent.push_back(command);
        }
        EXPECT_EQ(sent, row.sent);
        // The list is asked anew after each, so the next row's player
        // stays selectable.
        ASSERT_TRUE(waitUntil([&] { return !page->isBusy() && page->Players->topLevelItemCount() > 0; }));
    }
    EXPECT_TRUE(page->ConsoleOutput->toPlainText().contains(QStringLiteral("] kick #12")));
    // Up and Down walk the commands typed, the newest first; past the newest
    // the line is empty again.
    const std::string fences = std::to_string(m_fences);
    const std::string earlier = std::to_string(m_fences - 1);
    for (const auto& [key, expected] : std::vector<std::pair<Qt::Key, std::string>>{
             { Qt::Key_Up, "echo fence " + fences },
             { Qt::Key_Up, "echo fence " + earlier },
             { Qt::Key_Down, "echo fence " + fences },
             { Qt::Key_Down, "" },
         }) {
        QTest::keyClick(page->Command, key);
        EXPECT_EQ(page->Command->text().toStdString(), expected);
    }
    // A bot has no Steam id: refused before anything is asked or sent.
    select(*page, QStringLiteral("Bot Zeta"));
    prompts.expectErrorBox(QString::fromStdString([] {
        try {
            banSteamIdCommands("BOT", 0);
        } catch (const Error& e) {
            return e.message();
        }
        return std::string();
    }()));
    page->BBan->click();
    prompts.verify();
}

TEST_F(LiveFrameTest, ARefusedPasswordIsNeverSentAgainOnItsOwn)
{
    GameServerEmulator::Options options;
    options.rconPassword = "right";
    GameServerEmulator server(options);
    addProfile("srv", server.port(), "wrong");
    auto page = makePage();
    page->show();
    // Picking the server tries the profile's password once; the list then
    // comes from the query (names, no user ids).
    pick(*page, "srv", 4);
    ASSERT_TRUE(waitUntil([&] { return rconAttempts(server) == 1 && !page->isBusy(); }));
    EXPECT_TRUE(page->Players->topLevelItem(0)->text(TliveFrame::UserIdColumn).isEmpty());
    EXPECT_TRUE(status.status().contains(QStringLiteral("rcon"), Qt::CaseInsensitive)) << status.status().toStdString();

    const QString refusal = QStringLiteral("The server refused this rcon password. It is not sent again: the server "
                                           "bans an address after repeated wrong passwords. Enter another one.");
    // Update, the refresh timer's own work, the console and the buttons all
    // hold back the refused password.
    page->BUpdate->click();
    ASSERT_TRUE(waitUntil([&] { return !page->isBusy(); }));
    prompts.expectErrorBox(refusal);
    typeCommand(*page, QStringLiteral("status"));
    prompts.expectErrorBox(refusal);
    page->BApplyConfig->click();
    page->Message->setText(QStringLiteral("hello"));
    prompts.expectErrorBox(refusal);
    page->BSay->click();
    prompts.verify();
    EXPECT_EQ(rconAttempts(server), 1);

    // Another password is tried, once typed.
    QTest::keyClicks(page->RconPassword, QStringLiteral("right"));
    typeCommand(*page, QStringLiteral("echo hello"));
    ASSERT_TRUE(waitUntil([&] { return contains(server.rconCommands(), "echo hello") && !page->isBusy(); }));
    EXPECT_TRUE(page->ConsoleOutput->toPlainText().contains(QStringLiteral("\nhello")))
        << page->ConsoleOutput->toPlainText().toStdString();
    // A password typed for one server is never sent to another.
    page->Server->setCurrentIndex(0);
    runGuarded([&] { page->ServerChange(); });
    EXPECT_TRUE(page->RconPassword->text().isEmpty());
}

TEST_F(LiveFrameTest, MapsAndMessagesThatCouldStartAnotherCommandAreRefused)
{
    GameServerEmulator::Options options;
    options.rconPassword = "s3cret";
    GameServerEmulator server(options);
    addProfile("srv", server.port(), "s3cret");
    // A hand-edited map cycle with a hostile entry.
    folder.write("cfgs/srv/mapcycle.txt", "de_inferno\r\nde_dust2;quit\r\nde_nuke\"\r\n");
    auto page = makePage();
    pick(*page, "srv", 4);
    ASSERT_EQ(page->Maps->count(), 3) << "the profile's map cycle, not the server's list";

    struct Row
    {
        const char* name;
        QPushButton* button;
        int mapIndex; // -1: the message field
        QString text;
        std::string sent; // empty: refused
    };
    const std::vector<Row> rows{
        { "map from the cycle", page->BChangeMap, 0, QString(), "changelevel de_inferno" },
        { "map with a semicolon", page->BChangeMap, 1, QString(), "" },
        { "map with a quote", page->BChangeMap, 2, QString(), "" },
        { "message", page->BSay, -1, QStringLiteral("gg all"), "say gg all" },
        { "message with a semicolon", page->BSay, -1, QStringLiteral("gg; rcon_password x"), "" },
        { "message with a quote", page->BSay, -1, QStringLiteral("bye\" ; quit"), "" },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::size_t before = server.rconCommands().size();
        QString argument = row.text;
        if (row.mapIndex >= 0) {
            page->Maps->setCurrentIndex(row.mapIndex);
            argument = page->Maps->currentText();
        } else {
            page->Message->setText(row.text);
        }
        if (row.sent.empty())
            prompts.expectErrorBox(QString::fromStdString(*consoleArgumentProblem(fromDisplay(argument))));
        else if (row.button == page->BChangeMap)
            prompts.expectConfirm(
                QStringLiteral("Do you want to change the map to %1? 3 players are on the server.").arg(argument),
                true);
        row.button->click();
        prompts.verify();
        fence(*page, server);
        std::vector<std::string> after = server.rconCommands();
        after.erase(after.begin(), after.begin() + std::ptrdiff_t(before));
        EXPECT_EQ(contains(after, row.sent), !row.sent.empty());
        for (const std::string& command : after)
            EXPECT_TRUE(command.rfind("say", 0) != 0 || command == row.sent) << command;
        for (const std::string& command : after)
            EXPECT_TRUE(command.rfind("changelevel", 0) != 0 || command == row.sent) << command;
        EXPECT_FALSE(contains(after, "quit"));
    }
    EXPECT_TRUE(waitUntil([&] { return page->InfoLabel->text().contains(QStringLiteral("de_inferno")); }));
}

// Each action reports what the server answered: the engine's failure texts
// as failures (in a box), the password typed kept when the config did not
// run; Change map and Apply config asked first while players are on.
TEST_F(LiveFrameTest, ActionsReportTheServersAnswerAndAskFirstWhilePlayersAreOn)
{
    folder.write("server.cfg", "hostname \"Configured\"\r\nsv_gravity 700\r\n");
    GameServerEmulator::Options bareOptions;
    bareOptions.rconPassword = "s3cret";
    GameServerEmulator bare(bareOptions);
    GameServerEmulator::Options configuredOptions = bareOptions;
    configuredOptions.serverCfg = folder.path() + "server.cfg";
    GameServerEmulator configured(configuredOptions);
    GameServerEmulator::Options emptyOptions = bareOptions;
    emptyOptions.stateJson = stateWithPlayers(0, 16);
    GameServerEmulator empty(emptyOptions);
    addProfile("bare", bare.port(), "s3cret");
    addProfile("configured", configured.port(), "s3cret");
    addProfile("empty", empty.port(), "s3cret");
    auto page = makePage();

    const auto onServer = [](const char* question) {
        return QString::fromLatin1(question) + QStringLiteral(" 3 players are on the server.");
    };
    struct Row
    {
        const char* name;
        const char* profile;
        int players;
        QPushButton* button;
        QString argument; // the map typed or the message
        QString question; // null: none asked
        bool yes;
        QString errorBox; // null: none
        QString status; // what the status line says after
        std::string sent; // the command the server got; empty: none
    };
    const QString noCfg = QStringLiteral("Apply config failed: the server answered \"couldn't exec server.cfg\".");
    const QString noMap = QStringLiteral(
        "Change map failed: the server answered \"changelevel failed: 'de_nosuch' not found on server.\".");
    const std::vector<Row> rows{
        { "apply config, asked and declined", "bare", 4, page->BApplyConfig, {},
            onServer("Do you want to apply the config now?"), false, {}, {}, "" },
        { "apply config without server.cfg", "bare", 4, page->BApplyConfig, {},
            onServer("Do you want to apply the config now?"), true, noCfg, noCfg, "exec server.cfg" },
        { "map the server lacks", "bare", 4, page->BChangeMap, QStringLiteral("de_nosuch"),
            onServer("Do you want to change the map to de_nosuch?"), true, noMap, noMap, "changelevel de_nosuch" },
        { "map declined", "bare", 4, page->BChangeMap, QStringLiteral("de_nuke"),
            onServer("Do you want to change the map to de_nuke?"), false, {}, {}, "" },
        { "map it has", "bare", 4, page->BChangeMap, QStringLiteral("de_nuke"),
            onServer("Do you want to change the map to de_nuke?"), true, {},
            QStringLiteral("Changing the map to de_nuke."), "changelevel de_nuke" },
        { "say", "bare", 4, page->BSay, QStringLiteral("gg"), {}, true, {}, QStringLiteral("Message sent."), "say gg" },
        { "apply config with server.cfg", "configured", 4, page->BApplyConfig, {},
            onServer("Do you want to apply the config now?"), true, {},
            QStringLiteral("Config applied: the server runs its server.cfg now."), "exec server.cfg" },
        { "nobody on: map changes without a question", "empty", 0, page->BChangeMap, QStringLiteral("de_aztec"), {},
            true, {}, QStringLiteral("Changing the map to de_aztec."), "changelevel de_aztec" },
        { "nobody on: config applied without a question", "empty", 0, page->BApplyConfig, {}, {}, true, noCfg, noCfg,
            "exec server.cfg" },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        pick(*page, row.profile, row.players);
        const GameServerEmulator& server = std::string(row.profile) == "bare" ? bare
            : std::string(row.profile) == "configured"                        ? configured
                                                                              : empty;
        // The password typed for this session: kept unless a config ran.
        QTest::keyClicks(page->RconPassword, QStringLiteral("s3cret"));
        const std::size_t before = server.rconCommands().size();
        if (row.button == page->BChangeMap)
            page->Maps->setEditText(row.argument);
        if (row.button == page->BSay)
            page->Message->setText(row.argument);
        if (!row.question.isNull())
            prompts.expectConfirm(row.question, row.yes);
        if (!row.errorBox.isNull())
            prompts.expectErrorBox(row.errorBox);
        status.history.clear();
        row.button->click();
        fence(*page, server);
        prompts.verify();
        std::vector<std::string> after = server.rconCommands();
        after.erase(after.begin(), after.begin() + std::ptrdiff_t(before));
        EXPECT_EQ(contains(after, row.sent), !row.sent.empty());
        if (row.sent.empty()) {
            EXPECT_FALSE(contains(after, "exec server.cfg"));
            EXPECT_FALSE(contains(after, "changelevel de_nuke"));
        }
        if (!row.status.isNull()) {
            EXPECT_TRUE(status.history.contains(row.status)) << status.history.join(u'|').toStdString();
        }
        const bool configRan = std::string(row.name) == "apply config with server.cfg";
        EXPECT_EQ(page->RconPassword->text().isEmpty(), configRan) << "the typed password after the action";
        page->RconPassword->clear();
    }
    EXPECT_TRUE(waitUntil([&] {
        const auto found
            = page->ServerList->findItems(QStringLiteral("configured"), Qt::MatchExactly, TliveFrame::ProfileColumn);
        return found.size() == 1 && found.first()->text(TliveFrame::NameColumn) == QStringLiteral("Configured");
    })) << "the config the server ran renamed it";
}

// The selected player stays selected across refreshes (by user id), and an
// action for one who has left says so; cut cells hold their whole text in a
// tooltip; three-digit user ids fit their column.
TEST_F(LiveFrameTest, TheSelectedPlayerStaysAcrossRefreshesAndOneWhoLeftIsNamed)
{
    GameServerEmulator::Options options;
    options.rconPassword = "s3cret";
    GameServerEmulator server(options);
    GameServerEmulator::Options crowdedOptions;
    crowdedOptions.rconPassword = "s3cret";
    crowdedOptions.stateJson = stateWithPlayers(3, 16);
    GameServerEmulator crowded(crowdedOptions);
    addProfile("srv", server.port(), "s3cret");
    addProfile("crowded", crowded.port(), "s3cret");
    auto page = makePage();
    pick(*page, "srv", 4);
    select(*page, QStringLiteral("[VLT] Sniper"));

    // Refreshes, sorted another way in between: the same player stays selected.
    for (const int column : { int(TliveFrame::ScoreColumn), int(TliveFrame::PlayerNameColumn) }) {
        page->Players->sortByColumn(column, Qt::AscendingOrder);
        page->BUpdate->click();
        ASSERT_TRUE(waitUntil([&] { return !page->isBusy(); }));
        ASSERT_NE(page->Players->currentItem(), nullptr);
        EXPECT_EQ(page->Players->selectedItems().size(), 1);
        EXPECT_EQ(page->Players->currentItem()->text(TliveFrame::UserIdColumn), QStringLiteral("17"));
    }
    // Kicked from elsewhere (the console here): after the refresh the row is
    // gone, and Kick names the player instead of asking for a selection.
    typeCommand(*page, QStringLiteral("kick #17"));
    ASSERT_TRUE(waitUntil([&] { return contains(server.rconCommands(), "kick #17") && !page->isBusy(); }));
    page->BUpdate->click();
    ASSERT_TRUE(waitUntil([&] { return !page->isBusy() && page->Players->topLevelItemCount() == 3; }));
    EXPECT_TRUE(page->Players->selectedItems().isEmpty());
    const std::size_t before = server.rconCommands().size();
    prompts.expectErrorBox(QStringLiteral("[VLT] Sniper has left the server."));
    page->BKick->click();
    prompts.verify();
    prompts.expectErrorBox(QStringLiteral("Please select a player!"));
    page->BKick->click();
    prompts.verify();
    EXPECT_EQ(server.rconCommands().size(), before);

    // A kick reads the server's list afterwards: the player is gone.
    select(*page, QStringLiteral("Player One"));
    prompts.expectConfirm(QStringLiteral("Do you want to kick Player One ?"), true);
    page->BKick->click();
    prompts.verify();
    ASSERT_TRUE(waitUntil([&] { return status.status() == QStringLiteral("Kicked Player One."); }))
        << status.status().toStdString();
    EXPECT_EQ(page->Players->topLevelItemCount(), 2);

    // Every text cell carries its whole text as a tooltip, the markup-free
    // ones as they are.
    const QTreeWidgetItem* quoted
        = page->Players->findItems(QStringLiteral("The \"Quoted\" One"), Qt::MatchExactly, TliveFrame::PlayerNameColumn)
              .first();
    for (const int column : { int(TliveFrame::UserIdColumn), int(TliveFrame::PlayerNameColumn),
             int(TliveFrame::SteamIdColumn), int(TliveFrame::AddressColumn) })
        EXPECT_EQ(quoted->toolTip(column), quoted->text(column)) << "column " << column;
    EXPECT_EQ(quoted->toolTip(TliveFrame::AddressColumn), QStringLiteral("9.10.11.12:27005"));
    ASSERT_GT(page->Rules->topLevelItemCount(), 0);
    EXPECT_EQ(page->Rules->topLevelItem(0)->toolTip(1), page->Rules->topLevelItem(0)->text(1));
    const QTreeWidgetItem* fleetRow
        = page->ServerList->findItems(QStringLiteral("srv"), Qt::MatchExactly, TliveFrame::ProfileColumn).first();
    EXPECT_EQ(fleetRow->toolTip(TliveFrame::NameColumn), QStringLiteral("Velth Test Server"));

    // User ids 100 and up shown whole: the column is as wide as three digits
    // and the cell's margins.
    pick(*page, "crowded", 3);
    const QTreeWidgetItem* first = page->Players->topLevelItem(0);
    EXPECT_GE(first->text(TliveFrame::UserIdColumn).toInt(), 100);
    EXPECT_GE(page->Players->columnWidth(TliveFrame::UserIdColumn),
        page->Players->fontMetrics().horizontalAdvance(first->text(TliveFrame::UserIdColumn)) + 12);
}

// Each server has its own console: switching shows the other server's
// commands and output only, and switching back brings the first one back.
// A server gone offline leaves no players on show.
// A server that answers its info and players but never its rules is online
// with what it sent, on both tabs, and the Server tab names what did not come.
TEST_F(LiveFrameTest, AServerThatAnsweredIsOnlineWithWhatItSent)
{
    GameServerEmulator::Options options;
    options.hostile = { Hostile::NoRules };
    GameServerEmulator server(options);
    addProfile("norules", server.port());
    auto page = makePage();
    pick(*page, "norules", 4);
    EXPECT_TRUE(page->InfoLabel->text().endsWith(QStringLiteral("rules: no answer")))
        << page->InfoLabel->text().toStdString();
    EXPECT_EQ(page->Rules->topLevelItemCount(), 0);
    const auto rows
        = page->ServerList->findItems(QStringLiteral("norules"), Qt::MatchExactly, TliveFrame::ProfileColumn);
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows.first()->text(TliveFrame::StateColumn), QStringLiteral("online"));
}

TEST_F(LiveFrameTest, EachServerHasItsOwnConsoleAndAnOfflineServerShowsNoStalePlayers)
{
    GameServerEmulator::Options options;
    options.rconPassword = "s3cret";
    GameServerEmulator one(options);
    GameServerEmulator two(options);
    addProfile("one", one.port(), "s3cret");
    addProfile("two", two.port(), "s3cret");
    auto page = makePage();
    pick(*page, "one", 4);
    typeCommand(*page, QStringLiteral("echo first server"));
    ASSERT_TRUE(waitUntil([&] { return contains(one.rconCommands(), "echo first server") && !page->isBusy(); }));
    EXPECT_TRUE(page->ConsoleOutput->toPlainText().contains(QStringLiteral("] echo first server")));

    pick(*page, "two", 4);
    EXPECT_FALSE(page->ConsoleOutput->toPlainText().contains(QStringLiteral("first server")))
        << page->ConsoleOutput->toPlainText().toStdString();
    QTest::keyClick(page->Command, Qt::Key_Up);
    EXPECT_EQ(page->Command->text(), QString()) << "the other server's commands are not offered either";
    typeCommand(*page, QStringLiteral("echo second server"));
    ASSERT_TRUE(waitUntil([&] { return contains(two.rconCommands(), "echo second server") && !page->isBusy(); }));

    pick(*page, "one", 4);
    const QString back = page->ConsoleOutput->toPlainText();
    EXPECT_TRUE(back.contains(QStringLiteral("] echo first server"))) << back.toStdString();
    EXPECT_FALSE(back.contains(QStringLiteral("second server"))) << back.toStdString();
    QTest::keyClick(page->Command, Qt::Key_Up);
    EXPECT_EQ(page->Command->text(), QStringLiteral("echo first server"));

    // An Update that another server's pick ends leaves no "Asking ..." behind.
    GameServerEmulator::Options slowOptions = options;
    slowOptions.latencyMs = 20000;
    GameServerEmulator slow(slowOptions);
    addProfile("slow", slow.port(), "s3cret");
    page->setProfileNames(store.profileNames());
    page->Server->setCurrentIndex(page->Server->findData(bytesToItemData("slow")));
    runGuarded([&] { page->ServerChange(); });
    page->BUpdate->click();
    EXPECT_EQ(status.status(), QStringLiteral("Asking 127.0.0.1:%1.").arg(slow.port()));
    pick(*page, "one", 4);
    EXPECT_FALSE(status.status().startsWith(QStringLiteral("Asking"))) << status.status().toStdString();

    // The server goes away: the next update shows it offline, not the
    // players and rules it had.
    page->gameQuery().setLimits({ std::chrono::milliseconds(300), 0 });
    one.stop();
    page->BUpdate->click();
    ASSERT_TRUE(waitUntil([&] { return !page->isBusy(); }));
    EXPECT_TRUE(page->InfoLabel->text().startsWith(QStringLiteral("offline"))) << page->InfoLabel->text().toStdString();
    EXPECT_EQ(page->Players->topLevelItemCount(), 0);
    EXPECT_EQ(page->Rules->topLevelItemCount(), 0);
    EXPECT_EQ(status.status(), QStringLiteral("The server does not answer."));
}

// The demo's game server, as scripts/run.sh starts it: the name the demo's
// server.cfg gives it and the players of the log it plays, on the page.
TEST_F(LiveFrameTest, TheDemosGameServerCarriesTheDemoConfigsNameAndThePlayersOfItsLog)
{
    TempDir demo;
    const auto prepare = [](const QStringList& args) {
        QProcess process;
        process.start(
            QStringLiteral("/usr/bin/python3"), QStringList{ QStringLiteral(VELTH_DEMO_PREPARE_SCRIPT) } + args);
        EXPECT_TRUE(process.waitForFinished(120000));
        EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    };
    const QString server = QString::fromStdString(demo.file("server"));
    const QString cstrike = server + QStringLiteral("/hlds/cstrike/");
    prepare({ QStringLiteral("--server"), server });
    prepare({ QStringLiteral("--game-state"), QString::fromStdString(demo.file("state.json")),
        QStringLiteral("--config"), cstrike + QStringLiteral("server.cfg"), QStringLiteral("--log"),
        cstrike + QStringLiteral("logs/L1207000.log") });

    // The players of the log: one per Steam id (bots by name), as its lines name them.
    const std::string log = demo.read("server/hlds/cstrike/logs/L1207000.log");
    const std::regex tag("\"([^\"<>]+)<(\\d+)><(STEAM_[0-9]:[01]:\\d+|BOT)><");
    std::set<std::string> steamIds;
    std::set<std::string> names;
    for (auto it = std::sregex_iterator(log.begin(), log.end(), tag); it != std::sregex_iterator(); ++it) {
        steamIds.insert((*it)[3] == "BOT" ? "BOT " + (*it)[1].str() : (*it)[3].str());
        names.insert((*it)[1].str());
    }
    ASSERT_GT(steamIds.size(), 5u);

    GameServerEmulator::Options options;
    options.rconPassword = "changeme";
    options.stateJson = demo.read("state.json");
    options.serverCfg = demo.file("server/hlds/cstrike/server.cfg");
    GameServerEmulator game(options);
    addProfile("Demo server", game.port(), "changeme");
    auto page = makePage();
    pick(*page, "Demo server", int(steamIds.size()));
    EXPECT_TRUE(page->InfoLabel->text().startsWith(QStringLiteral("Velth demo server")))
        << page->InfoLabel->text().toStdString();
    for (int i = 0; i < page->Players->topLevelItemCount(); ++i) {
        const std::string name = page->Players->topLevelItem(i)->text(TliveFrame::PlayerNameColumn).toStdString();
        EXPECT_EQ(names.count(name), 1u) << name;
    }
}

// Exit while a server has not answered yet: the window goes at once, and
// nothing calls back into the pages it destroyed.
// One action on twenty selected servers: two profiles hold a wrong password
// and one server is gone. The selection is asked once, naming the servers and
// their players; every row is that server's own answer, the refusals stop
// nothing else, and no server gets the command twice. A map the servers
// lack is a failure on every row, in the server's words.
TEST_F(LiveFrameTest, GroupActionRunsOnEverySelectedServerOnceWithItsOwnPassword)
{
    GameServerEmulator::Options options;
    options.count = 19;
    options.rconPassword = "pw";
    GameServerEmulator fleet(options);
    GameServerEmulator gone;
    const int silentPort = gone.port();
    gone.stop();
    for (int i = 0; i < 19; ++i) {
        const std::string name = "s" + std::string(i < 10 ? "0" : "") + std::to_string(i);
        addProfile(name, fleet.ports()[std::size_t(i)], i == 4 || i == 13 ? "wrong" : "pw");
    }
    addProfile("zz-gone", silentPort, "pw");
    addProfile("zz-nopass", fleet.port());

    auto page = makePage();
    page->show();
    ASSERT_TRUE(waitUntil([&] { return !page->isRefreshing(); }));
    page->groupActions().groupConsole().setTimeout(std::chrono::seconds(3));
    page->ServerList->selectAll();
    page->GroupAction->setCurrentIndex(GroupActions::SayAction);
    page->GroupArgument->setText(QStringLiteral("Restart at 4"));
    // Nineteen servers with four players each answered the query; the gone one has none.
    prompts.expectConfirm(
        QStringLiteral("Do you want to run \"say Restart at 4\" on 21 servers? 80 players are on them."), true);
    runGuarded([&] { page->BGroupRunClick(); });
    prompts.verify();
    ASSERT_TRUE(waitUntil([&] { return !page->groupActions().isBusy(); }));
    ASSERT_EQ(page->GroupResults->topLevelItemCount(), 21);
    for (int i = 0; i < 21; ++i) {
        const QTreeWidgetItem* row = page->GroupResults->topLevelItem(i);
        const std::string profile = row->text(GroupActions::ResultProfileColumn).toStdString();
        SCOPED_TRACE(profile);
        const QString outcome = row->text(GroupActions::ResultOutcomeColumn);
        if (profile == "s04" || profile == "s13") {
            EXPECT_EQ(outcome, QStringLiteral("password refused"));
            EXPECT_TRUE(row->text(GroupActions::ResultAnswerColumn).contains(QStringLiteral("Bad rcon_password.")));
        } else if (profile == "zz-gone") {
            EXPECT_EQ(outcome, QStringLiteral("no answer"));
        } else if (profile == "zz-nopass") {
            EXPECT_EQ(outcome, QStringLiteral("not sent"));
        } else {
            EXPECT_EQ(outcome, QStringLiteral("done"));
        }
    }
    for (int server = 1; server <= 19; ++server) {
        SCOPED_TRACE(server);
        const bool refused = server == 5 || server == 14;
        std::vector<std::string> lines;
        for (const std::string& line : fleet.received(server)) {
            if (line.rfind("rcon ", 0) == 0 && line.find("velth-end-") == std::string::npos)
                lines.push_back(line);
        }
        const std::string expected = refused ? "rcon bad-password say Restart at 4" : "rcon ok say Restart at 4";
        // The profile without a password shares the first server: nothing more reached it.
        EXPECT_EQ(lines, std::vector<std::string>{ expected });
    }
    EXPECT_EQ(status.status(), QStringLiteral("\"say Restart at 4\": done on 17 of 21 servers."));

    page->ServerList->clearSelection();
    for (const char* profile : { "s00", "s01" })
        page->ServerList->findItems(QString::fromLatin1(profile), Qt::MatchExactly, TliveFrame::ProfileColumn)
            .first()
            ->setSelected(true);
    page->GroupAction->setCurrentIndex(GroupActions::ChangeMapAction);
    page->GroupArgument->setText(QStringLiteral("de_nosuch"));
    prompts.expectConfirm(
        QStringLiteral("Do you want to run \"changelevel de_nosuch\" on 2 servers? 8 players are on them."), true);
    runGuarded([&] { page->BGroupRunClick(); });
    prompts.verify();
    ASSERT_TRUE(waitUntil([&] { return !page->groupActions().isBusy(); }));
    ASSERT_EQ(page->GroupResults->topLevelItemCount(), 2);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(
            page->GroupResults->topLevelItem(i)->text(GroupActions::ResultOutcomeColumn), QStringLiteral("failed"));
        EXPECT_EQ(page->GroupResults->topLevelItem(i)->text(GroupActions::ResultAnswerColumn),
            QStringLiteral("changelevel failed: 'de_nosuch' not found on server."));
    }

    // Nothing selected, or nothing to say: refused before anything is sent.
    page->ServerList->clearSelection();
    prompts.expectErrorBox(QStringLiteral("Please select a server!"));
    runGuarded([&] { page->BGroupRunClick(); });
    page->ServerList->selectAll();
    page->GroupAction->setCurrentIndex(GroupActions::SayAction);
    page->GroupArgument->setText(QStringLiteral("a\"; quit"));
    prompts.expectErrorBox(QString::fromStdString(consoleArgumentProblem("a\"; quit").value()));
    runGuarded([&] { page->BGroupRunClick(); });
    prompts.verify();
}

TEST(LiveFrameExitTest, ClosingTheWindowWhileAQueryOrCommandRunsEndsItAtOnce)
{
    struct Row
    {
        const char* name;
        bool command;
    };
    for (const Row& row : { Row{ "servers refresh", false }, Row{ "console command", true } }) {
        SCOPED_TRACE(row.name);
        GameServerEmulator::Options options;
        options.rconPassword = "s3cret";
        options.latencyMs = 20000;
        GameServerEmulator server(options);
        ProgramFolder folder;
        ScriptedPrompts prompts;
        folder.write("ftpserver.ini",
            "[srv]\r\nHOST=127.0.0.1\r\nGAMEPORT=" + std::to_string(server.port()) + "\r\nrconpass=s3cret\r\n");
        auto window = std::make_unique<TMainForm>(folder.path(), prompts);
        window->show();
        TliveFrame* page = window->liveFrame;
        window->BLiveClick();
        ASSERT_TRUE(page->isRefreshing());
        if (row.command) {
            page->Server->setCurrentIndex(0);
            page->Command->setText(QStringLiteral("status"));
            runGuarded([&] { page->CommandReturn(); });
            ASSERT_TRUE(page->rconClient().isBusy());
        }
        ASSERT_TRUE(waitUntil([&] { return !server.received().empty(); }));
        QElapsedTimer closing;
        closing.start();
        window->close();
        window.reset();
        EXPECT_LT(closing.elapsed(), 2000);
        QElapsedTimer after;
        after.start();
        while (after.elapsed() < 300)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
}

} // namespace
} // namespace velth::test
