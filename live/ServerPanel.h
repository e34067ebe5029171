#pragma once

#include "net/GameServer.h"

#include <QObject>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;
class QTabWidget;
class QTreeWidget;
class QTreeWidgetItem;
class QWidget;

namespace velth {

class AppContext;
class FleetList;

// The Live page's Server tab: one server up close, its players, its rules, a
// remote console, kick, ban, map change, a message to everybody and the
// config applied at once. Its own query's answers show in the Servers list
// too.
class ServerPanel final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ServerPanel)

public:
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

    // At most this much console output stays on show (lines).
    static constexpr int kConsoleLines = 2000;
    // At most this many commands are remembered for Up and Down.
    static constexpr int kHistory = 100;

    // Appends the tab ServerTab "Server" to `tabs`.
    ServerPanel(AppContext& context, GameQuery& query, FleetList& fleet, QTabWidget* tabs, QObject* parent = nullptr);
    // Running queries and commands end here, without calling back.
    ~ServerPanel() override;

    // The Server selector's profiles.
    void setProfileNames(const std::vector<std::string>& names);
    // Picks the profile in the selector (false when it has none such).
    bool pick(const std::string& profile);
    std::optional<std::string> pickedProfile() const;
    // Asks the picked server anew; byUser: say what fails in a box.
    void updateServer(bool byUser);
    // Ends the running query (the page is out of sight); commands run on.
    void stopQuery();

    // Handlers.
    void ServerChange();
    void BUpdateClick();
    void CommandReturn();
    void BKickClick();
    void BBanClick();
    void BBanAddressClick();
    void BChangeMapClick();
    void BSayClick();
    void BApplyConfigClick();

    RconClient& rconClient() { return *m_rcon; }
    // True while the query or a console command runs.
    bool isBusy() const;

    // Controls, by the names the program's layout gives them.
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
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showQueryPlayers(const GameQueryResult& result);
    void showStatusPlayers(const StatusReport& report);
    void showRules(const GameQueryResult& result);
    void loadMaps(const std::string& profile);

    // The picked profile for an action the user asked for, or a refusal in
    // an error box when none is picked.
    std::optional<std::string> profileForAction();
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
    GameQuery& m_query;
    FleetList& m_fleet;
    std::unique_ptr<RconClient> m_rcon;

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
