#pragma once

#include "net/GameServer.h"

#include <QObject>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <map>
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
    // Ends the running query (the page is out of sight, another server is
    // picked), and its "Asking ..." in the status line; commands run on.
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
    // the last, done gets its result and the outcome the server's output
    // gives each command that ran (a refusal, or a command whose outcome is
    // Failed, ends the run).
    using CommandsDone = std::function<void(const RconResult& last, const std::vector<CommandOutcome>& outcomes)>;
    void runCommands(const std::string& profile, std::vector<std::string> commands, bool byUser, CommandsDone done);
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
    // An action's failure as the server gave it: in the status line and in
    // an error box. action: "Kick", "Change map", ...
    void reportFailure(const QString& action, const CommandOutcome& outcome);
    // An action whose outcome the output does not tell: what the server
    // printed, in the status line.
    void reportUnread(const QString& action, const CommandOutcome& outcome);
    // What either ban reports once the server answered: its failure, its
    // unread answer, or "Banned <banned> <term>."
    CommandsDone banReport(const QString& banned, const QString& term);
    // A server's output as one line for the status line and a box.
    static QString printed(const std::string& text);
    static const CommandOutcome* failureIn(const std::vector<CommandOutcome>& outcomes);
    // With players on the server, asks `question` naming how many; true
    // when there are none or the user says yes.
    bool askWhilePlayersOn(const QString& question);
    // After a kick the engine answers nothing either way: its `status`
    // tells whether the user id is gone (doneText then) or not.
    void confirmGone(const std::string& profile, int userId, const QString& name, const QString& doneText);
    // The selected player's row is sought again by these after each refresh.
    struct PlayerKey
    {
        int userId = 0; // 0: the list had none (it came from the query)
        std::string steamId;
        std::string name;
    };
    PlayerKey keyOf(const QTreeWidgetItem* row) const;
    // Selects the row of the player picked before the list was rebuilt;
    // when that player is gone, remembers it for the next action.
    void reselectPlayer();
    void playerSelectionChanged();
    // Keeps the console (output and typed commands) of the server shown so
    // far and brings back the one of `profile` (none: an empty one).
    void switchConsole(const std::optional<std::string>& profile);
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
    // Every server's console, by profile, while another one is on show.
    struct ConsoleState
    {
        QString text;
        QStringList history;
    };
    std::map<std::string, ConsoleState> m_consoles;
    std::optional<std::string> m_consoleProfile;

    // The player the user selected, kept across refreshes of the list.
    std::optional<PlayerKey> m_picked;
    // The picked player was not in the latest list.
    bool m_pickedLeft = false;
    // Rows are being replaced: selection changes are not the user's.
    bool m_rebuilding = false;
    // The status text of the user's Update while its query runs.
    QString m_askingText;
    // Human players on the server as last seen; -1 while unknown.
    int m_playersOn = -1;
};

} // namespace velth
