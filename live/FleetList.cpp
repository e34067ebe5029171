#include "live/FleetList.h"

#include "common/ErrorReport.h"
#include "common/ProfileSelector.h"
#include "common/TextCodec.h"
#include "live/LiveItems.h"
#include "skin/PageTabs.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTime>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <limits>
#include <memory>

namespace velth {

FleetList::FleetList(AppContext& context, GameQuery& query, QTabWidget* tabs, QObject* parent)
    : QObject(parent)
    , m_context(context)
    , m_query(query)
{
    ServersTab = new QWidget;
    ServersTab->setObjectName(QStringLiteral("ServersTab"));
    auto* layout = new QVBoxLayout(ServersTab);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(2);

    ServerList = makeList("ServerList",
        { QStringLiteral("Profile"), QStringLiteral("State"), QStringLiteral("Name"), QStringLiteral("Map"),
            QStringLiteral("Players"), QStringLiteral("Bots"), QStringLiteral("Password"), QStringLiteral("Ping") },
        ServersTab);
    const int widths[] = { 84, 46, 118, 70, 52, 34, 58, 40 };
    for (int column = 0; column < ServerColumnCount; ++column)
        ServerList->setColumnWidth(column, widths[column]);
    ServerList->sortByColumn(ProfileColumn, Qt::AscendingOrder);
    // Several servers at once (Ctrl, Shift, Ctrl+A) for the group actions.
    ServerList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    layout->addWidget(ServerList, 1);

    auto* bar = new QFrame(ServersTab);
    bar->setObjectName(QStringLiteral("ServersBar"));
    bar->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    bar->setFixedHeight(30);
    auto* barLayout = new QHBoxLayout(bar);
    barLayout->setContentsMargins(6, 0, 4, 0);
    RefreshLabel = makeTextLabel("RefreshLabel", bar);
    BRefresh = makeButton("BRefresh", QStringLiteral("Refresh"), bar);
    BRefresh->setFixedWidth(75);
    barLayout->addWidget(RefreshLabel, 1);
    barLayout->addWidget(BRefresh);
    layout->addWidget(bar);

    tabs->addTab(ServersTab, tabIcon(2), QStringLiteral("Servers"));
    connect(BRefresh, &QPushButton::clicked, this, guarded(this, &FleetList::refresh));
    connect(ServerList, &QTreeWidget::itemDoubleClicked, this, guarded(this, &FleetList::openSelected));
}

FleetList::~FleetList()
{
    stop();
}

void FleetList::setProfileNames(const std::vector<std::string>& names)
{
    m_profiles = names;
    ServerList->setSortingEnabled(false);
    ServerList->clear();
    for (const std::string& name : names) {
        auto* row = new SortedItem(ServerList);
        row->setText(ProfileColumn, toDisplay(name));
        setTipFromText(row, ProfileColumn);
        row->setData(ProfileColumn, kBytesRole, bytesToItemData(name));
        row->setText(StateColumn, QStringLiteral("unknown"));
    }
    ServerList->setSortingEnabled(true);
}

QTreeWidgetItem* FleetList::row(const std::string& profile) const
{
    for (int i = 0; i < ServerList->topLevelItemCount(); ++i) {
        QTreeWidgetItem* row = ServerList->topLevelItem(i);
        if (profileOf(row) == profile)
            return row;
    }
    return nullptr;
}

std::string FleetList::profileOf(const QTreeWidgetItem* row)
{
    return itemDataToBytes(row->data(ProfileColumn, kBytesRole));
}

std::vector<std::string> FleetList::selectedProfiles() const
{
    std::vector<std::string> profiles;
    for (int i = 0; i < ServerList->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = ServerList->topLevelItem(i);
        if (item->isSelected())
            profiles.push_back(profileOf(item));
    }
    return profiles;
}

int FleetList::playersOn(const std::string& profile) const
{
    const QTreeWidgetItem* item = row(profile);
    return item ? item->data(PlayersColumn, kSortRole).toInt() : 0;
}

void FleetList::stop()
{
    for (const std::uint64_t id : m_refreshIds)
        m_query.cancel(id);
    m_refreshIds.clear();
    RefreshLabel->clear();
}

void FleetList::refresh()
{
    for (const std::uint64_t id : m_refreshIds)
        m_query.cancel(id);
    m_refreshIds.clear();
    int asked = 0;
    for (const std::string& profile : m_profiles) {
        if (!row(profile))
            continue;
        GameQueryResult none;
        const std::optional<LiveTarget> where = liveTarget(m_context, profile, false, &none.error);
        if (!where) {
            none.status = GameQueryResult::Status::Failed;
            showResult(profile, none);
            continue;
        }
        auto id = std::make_shared<std::uint64_t>(0);
        *id = m_query.query(where->address, QueryInfo, [this, profile, id](const GameQueryResult& result) {
            m_refreshIds.erase(*id);
            runGuarded([&] { showResult(profile, result); });
            if (m_refreshIds.empty())
                showRefreshDone();
        });
        m_refreshIds.insert(*id);
        ++asked;
    }
    if (asked > 0)
        RefreshLabel->setText(
            asked == 1 ? QStringLiteral("Asking 1 server ...") : QStringLiteral("Asking %1 servers ...").arg(asked));
}

void FleetList::showRefreshDone()
{
    int online = 0;
    for (int i = 0; i < ServerList->topLevelItemCount(); ++i)
        online += ServerList->topLevelItem(i)->text(StateColumn) == QStringLiteral("online");
    RefreshLabel->setText(QStringLiteral("%1 of %2 online at %3.")
                              .arg(online)
                              .arg(ServerList->topLevelItemCount())
                              .arg(QTime::currentTime().toString(QStringLiteral("HH:mm:ss"))));
}

void FleetList::showResult(const std::string& profile, const GameQueryResult& result)
{
    QTreeWidgetItem* item = row(profile);
    if (!item)
        return;
    // Sorting moves rows as their texts change: off while the row is rewritten.
    ServerList->setSortingEnabled(false);
    const bool online = result.online();
    item->setText(StateColumn, online ? QStringLiteral("online") : QStringLiteral("offline"));
    item->setForeground(StateColumn, online ? QColor(0x1b, 0x7a, 0x2e) : QColor(0x9a, 0x1c, 0x1c));
    if (online)
        showOnline(item, result);
    else
        showOffline(item, result);
    ServerList->setSortingEnabled(true);
}

void FleetList::showOnline(QTreeWidgetItem* row, const GameQueryResult& result)
{
    const GameServerInfo& info = result.info;
    setTextCell(row, NameColumn, info.name);
    row->setForeground(NameColumn, ServerList->palette().color(QPalette::Text));
    setTextCell(row, MapColumn, info.map);
    setNumber(row, PlayersColumn, QStringLiteral("%1/%2").arg(info.players).arg(info.maxPlayers), info.players);
    setNumber(row, BotsColumn, QString::number(info.bots), info.bots);
    row->setText(PasswordColumn, info.passworded ? QStringLiteral("yes") : QStringLiteral("no"));
    const auto ms = result.ping.count();
    if (ms >= 0)
        setNumber(row, PingColumn, QStringLiteral("%1 ms").arg(ms), double(ms));
    else
        setNumber(row, PingColumn, QString(), std::numeric_limits<double>::max());
}

void FleetList::showOffline(QTreeWidgetItem* row, const GameQueryResult& result)
{
    // The reason, when there is one, stands where the name would; a silent
    // server is simply offline.
    setTextCell(row, NameColumn, result.error);
    row->setForeground(NameColumn, ServerList->palette().color(QPalette::PlaceholderText));
    setTextCell(row, MapColumn, {});
    for (const int column : { int(PlayersColumn), int(BotsColumn), int(PingColumn) }) {
        row->setText(column, QString());
        row->setData(column, kSortRole, QVariant());
    }
    row->setText(PasswordColumn, QString());
}

void FleetList::openSelected()
{
    const QList<QTreeWidgetItem*> selected = ServerList->selectedItems();
    if (selected.isEmpty())
        return;
    Q_EMIT opened(profileOf(selected.first()));
}

} // namespace velth
