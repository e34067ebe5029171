#pragma once

#include "net/GameServer.h"

#include <QFrame>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;
class QTabWidget;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;

namespace velth {

class AppContext;

// The Live page: every profile's game server at a glance (Servers), and one
// server up close (Server): its players, its rules, a remote console, kick,
// ban, map change, a message to everybody and the config applied at once.
// Everything the servers send is shown as plain text; the window never waits
// on the network.
class TliveFrame final : public QFrame
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TliveFrame)

public:
    explicit TliveFrame(AppContext& context, QWidget* parent = nullptr);
    // Running queries and commands end here, without calling back.
    ~TliveFrame() override;

    // The profiles, as the main window hands them to every page at start-up:
    // one row each on Servers, and the Server tab's selector.
    void setProfileNames(const std::vector<std::string>& names);

    // Handlers.
    void BRefreshClick();
    void ServerListDblClick();
    void ServerChange();
    void BUpdateClick();
    void CommandReturn();
    void BKickClick();
    void BBanClick();
    void BBanAddressClick();
    void BChangeMapClick();
    void BSayClick();
    void BApplyConfigClick();

    // The page's own clients (tests shorten their time-outs).
    GameQuery& gameQuery() { return *m_query; }
    RconClient& rconClient() { return *m_rcon; }
    // True while the Servers list is being refreshed.
    bool isRefreshing() const { return !m_refreshIds.empty(); }
    // True while the Server tab's query or a console command runs.
    bool isBusy() const;

    // The Servers list's columns.
    enum ServerColumn {
        ProfileColumn,
        StateColumn,
        NameColumn,
        MapColumn,
        PlayersColumn,
        BotsColumn,
        PasswordColumn,
        PingColumn,
        ServerColumnCount
    };
    // The players list's columns.
    enum PlayerColumn {
        UserIdColumn,
        PlayerNameColumn,
        SteamIdColumn,
        ScoreColumn,
        TimeColumn,
        PlayerPingColumn,
        LossColumn,
        AddressColumn,
        PlayerColumnCount
    };

    // The refresh interval while the page is on show.
    static constexpr int kRefreshMs = 15000;
    // At most this much console output stays on show (lines).
    static constexpr int kConsoleLines = 2000;
    // At most this many commands are remembered for Up and Down.
    static constexpr int kHistory = 100;

    // Controls, by the names the program's layout gives them.
    QTabWidget* MainControl = nullptr;
    QWidget* ServersTab = nullptr;
    QTreeWidget* ServerList = nullptr;
    QLabel* RefreshLabel = nullptr;
    QPushButton* BRefresh = nullptr;
    QWidget* ServerTab = nullptr;
    QComboBox* Server = nullptr;
    QLineEdit* RconPassword = nullptr;
    QPushButton* BUpdate = nullptr;
    QLabel* InfoLabel = nullptr;
    QTreeWidget* Players = nullptr;
    QPushButton* BKick = nullptr;
    QSpinBox* BanMinutes = nullptr;
    QPushButton* BBan = nullptr;
    QPushButton* BBanAddress = nullptr;
    QComboBox* Maps = nullptr;
    QPushButton* BChangeMap = nullptr;
    QLineEdit* Message = nullptr;
    QPushButton* BSay = nullptr;
    QPushButton* BApplyConfig = nullptr;
    QTabWidget* DetailTabs = nullptr;
    QPlainTextEdit* ConsoleOutput = nullptr;
    QLineEdit* Command = nullptr;
    QTreeWidget* Rules = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Target
    {
        std::string profile;
        GameAddress address;
        std::string rconPass;
    };
    void buildServersTab();
    void buildServerTab();
    void refreshServers();
    void showServerResult(const std::string& profile, const GameQueryResult& result);
    QTreeWidgetItem* serverRow(const std::string& profile) const;

    std::optional<std::string> pickedProfile() const;
    // The picked profile for an action the user asked for, or a refusal in
    // an error box when none is picked.
    std::optional<std::string> profileForAction();
    // Where the profile's game server is, read from the store now; nothing
    // when it names none (why says so; tell: in an error box too).
    std::optional<Target> target(const std::string& profile, bool tell, std::string* why = nullptr);
    void updateServer(bool byUser);
    void showQueryPlayers(const GameQueryResult& result);
    void showStatusPlayers(const StatusReport& report);
    void showRules(const GameQueryResult& result);
    void loadMaps(const std::string& profile);

    // The password the console uses: the one typed on the page for this
    // session, else the profile's rconpass. Empty when none is known.
    std::string password(const std::string& profile) const;
    // Whether the console may be used now: a known password that the server
    // has not refused. tell: say why not in an error box.
    bool consoleReady(const std::string& profile, bool tell);
    // Runs console commands one after another on the picked server; after
    // the last, done gets its result (the first failure ends the run).
    void runCommands(const std::string& profile, std::vector<std::string> commands, bool byUser,
        std::function<void(const RconResult&)> done);
    void reportRconFailure(const RconResult& result, bool byUser);
    void appendConsole(const QString& text);
    // The selected player row, or a refusal when there is none.
    QTreeWidgetItem* selectedPlayer();
    // A kick or ban needs the picked server, its console and a player row;
    // nothing (after saying why) when one of them is missing.
    struct PlayerAction
    {
        std::string profile;
        QTreeWidgetItem* player = nullptr;
    };
    std::optional<PlayerAction> playerForAction();
    // "for good", "for 30 minutes"
    static QString banTerm(int minutes);
    // The commands build() makes of the user's input; when it refuses an
    // argument (one that could end a command or start another, a map name
    // that is none), the refusal in an error box and nothing.
    std::optional<std::vector<std::string>> built(const std::function<std::vector<std::string>()>& build);

    AppContext& m_context;
    std::unique_ptr<GameQuery> m_query;
    std::unique_ptr<RconClient> m_rcon;
    QTimer* m_timer = nullptr;

    std::vector<std::string> m_profiles;
    std::set<std::uint64_t> m_refreshIds;
    std::optional<std::uint64_t> m_serverQueryId;
    // Bumped whenever the picked server changes: answers for an earlier one
    // are dropped.
    std::uint64_t m_serverGeneration = 0;
    int m_runningCommands = 0;
    // The password the server refused, and the profile: it is not sent again
    // until another one is typed or the profile's own changes.
    std::optional<std::pair<std::string, std::string>> m_refused;
    // The players list came from the console (user ids, Steam ids, addresses).
    bool m_playersFromStatus = false;

    QStringList m_history;
    int m_historyIndex = 0;
};

} // namespace velth
