#pragma once

#include "live/FleetList.h"
#include "live/GroupActions.h"
#include "live/ServerPanel.h"
#include "net/GameServer.h"

#include <QFrame>

#include <memory>
#include <string>
#include <vector>

class QTabWidget;
class QTimer;

namespace velth {

class AppContext;

// The Live page: every profile's game server at a glance (Servers, a
// FleetList), and one server up close (Server, a ServerPanel): its players,
// its rules, a remote console, kick, ban, map change, a message to everybody
// and the config applied at once. Everything the servers send is shown as
// plain text; the window never waits on the network. While the page is on
// show, both tabs are asked anew every kRefreshMs.
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
    void BRefreshClick() { m_fleet->refresh(); }
    void ServerListDblClick() { m_fleet->openSelected(); }
    void ServerChange() { m_panel->ServerChange(); }
    void BUpdateClick() { m_panel->BUpdateClick(); }
    void CommandReturn() { m_panel->CommandReturn(); }
    void BKickClick() { m_panel->BKickClick(); }
    void BBanClick() { m_panel->BBanClick(); }
    void BBanAddressClick() { m_panel->BBanAddressClick(); }
    void BChangeMapClick() { m_panel->BChangeMapClick(); }
    void BSayClick() { m_panel->BSayClick(); }
    void BApplyConfigClick() { m_panel->BApplyConfigClick(); }
    void BGroupRunClick() { m_group->BGroupRunClick(); }

    // The page's own clients (tests shorten their time-outs).
    GameQuery& gameQuery() { return *m_query; }
    RconClient& rconClient() { return m_panel->rconClient(); }
    // True while the Servers list is being refreshed.
    bool isRefreshing() const { return m_fleet->isRefreshing(); }
    // True while the Server tab's query or a console command runs.
    bool isBusy() const { return m_panel->isBusy(); }

    FleetList& fleet() { return *m_fleet; }
    ServerPanel& panel() { return *m_panel; }
    GroupActions& groupActions() { return *m_group; }

    using enum FleetList::Column;
    using enum ServerPanel::PlayerColumn;

    // The refresh interval while the page is on show.
    static constexpr int kRefreshMs = 15000;
    static constexpr int kConsoleLines = ServerPanel::kConsoleLines;
    static constexpr int kHistory = ServerPanel::kHistory;

    QTabWidget* MainControl = nullptr;
    // The tabs' controls, by the names the program's layout gives them
    // (they belong to the FleetList and the ServerPanel).
    QWidget* ServersTab = nullptr;
    QTreeWidget* ServerList = nullptr;
    QLabel* RefreshLabel = nullptr;
    QPushButton* BRefresh = nullptr;
    QComboBox* GroupAction = nullptr;
    QLineEdit* GroupArgument = nullptr;
    QPushButton* BGroupRun = nullptr;
    QTreeWidget* GroupResults = nullptr;
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

private:
    // A server from the Servers list, up close on the Server tab.
    void open(const std::string& profile);

    AppContext& m_context;
    std::unique_ptr<GameQuery> m_query;
    // After the query, so they go before it: their destructors cancel what
    // they asked of it.
    std::unique_ptr<FleetList> m_fleet;
    std::unique_ptr<ServerPanel> m_panel;
    std::unique_ptr<GroupActions> m_group;
    QTimer* m_timer = nullptr;
};

} // namespace velth
