#include "live/LiveFrame.h"

#include "common/ErrorReport.h"
#include "skin/PageTabs.h"

#include <QTabWidget>
#include <QTimer>

namespace velth {

TliveFrame::TliveFrame(AppContext& context, QWidget* parent)
    : QFrame(parent)
    , m_context(context)
    , m_query(std::make_unique<GameQuery>())
{
    // A lossy link gets its requests sent again for as long as a person
    // waits for the list; what a server answered in that time is shown.
    GameQuery::Limits limits;
    limits.total = std::chrono::seconds(5);
    limits.retries = 100000;
    m_query->setLimits(limits);
    MainControl = addPageTabs(this);
    m_fleet = std::make_unique<FleetList>(context, *m_query, MainControl);
    m_panel = std::make_unique<ServerPanel>(context, *m_query, *m_fleet, MainControl);
    m_group = std::make_unique<GroupActions>(context, *m_fleet);

    ServersTab = m_fleet->ServersTab;
    ServerList = m_fleet->ServerList;
    RefreshLabel = m_fleet->RefreshLabel;
    BRefresh = m_fleet->BRefresh;
    GroupAction = m_group->GroupAction;
    GroupArgument = m_group->GroupArgument;
    BGroupRun = m_group->BGroupRun;
    GroupResults = m_group->GroupResults;
    ServerTab = m_panel->ServerTab;
    Server = m_panel->Server;
    RconPassword = m_panel->RconPassword;
    BUpdate = m_panel->BUpdate;
    InfoLabel = m_panel->InfoLabel;
    Players = m_panel->Players;
    BKick = m_panel->BKick;
    BanMinutes = m_panel->BanMinutes;
    BBan = m_panel->BBan;
    BBanAddress = m_panel->BBanAddress;
    Maps = m_panel->Maps;
    BChangeMap = m_panel->BChangeMap;
    Message = m_panel->Message;
    BSay = m_panel->BSay;
    BApplyConfig = m_panel->BApplyConfig;
    DetailTabs = m_panel->DetailTabs;
    ConsoleOutput = m_panel->ConsoleOutput;
    Command = m_panel->Command;
    Rules = m_panel->Rules;

    connect(m_fleet.get(), &FleetList::opened, this, [this](const std::string& profile) { open(profile); });

    m_timer = new QTimer(this);
    m_timer->setInterval(kRefreshMs);
    connect(m_timer, &QTimer::timeout, this, [this] {
        runGuarded([this] {
            m_fleet->refresh();
            if (MainControl->currentWidget() == ServerTab && m_panel->pickedProfile())
                m_panel->updateServer(false);
        });
    });
}

TliveFrame::~TliveFrame()
{
    // The console and the queries go first: nothing they run may call back
    // into controls that are being destroyed.
    m_group.reset();
    m_panel.reset();
    m_fleet.reset();
    m_query.reset();
}

void TliveFrame::setProfileNames(const std::vector<std::string>& names)
{
    m_panel->setProfileNames(names);
    m_fleet->setProfileNames(names);
}

void TliveFrame::open(const std::string& profile)
{
    if (!m_panel->pick(profile))
        return;
    MainControl->setCurrentWidget(ServerTab);
    m_panel->ServerChange();
}

void TliveFrame::showEvent(QShowEvent* event)
{
    QFrame::showEvent(event);
    if (!m_timer->isActive()) {
        m_timer->start();
        runGuarded([this] { m_fleet->refresh(); });
    }
}

void TliveFrame::hideEvent(QHideEvent* event)
{
    QFrame::hideEvent(event);
    // Out of sight the page asks nothing of the servers; what the user
    // started in the console runs on.
    m_timer->stop();
    m_fleet->stop();
    m_panel->stopQuery();
}

} // namespace velth
