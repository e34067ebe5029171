#pragma once

#include "net/GameServer.h"

#include <QObject>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

class QLabel;
class QPushButton;
class QTabWidget;
class QTreeWidget;
class QTreeWidgetItem;
class QWidget;

namespace velth {

class AppContext;

// The Live page's Servers tab: one row per profile with its game server's
// state, name, map, players, bots, password and ping, refreshed by one
// GameQuery for all. Each row stands for its profile (its bytes in the row's
// data), so rows can be found, shown and picked by profile whatever the order.
class FleetList final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FleetList)

public:
    enum Column {
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

    // Appends the tab ServersTab "Servers" to `tabs`.
    FleetList(AppContext& context, GameQuery& query, QTabWidget* tabs, QObject* parent = nullptr);
    // Running refreshes end here, without calling back.
    ~FleetList() override;

    // One row per profile, its state unknown until asked.
    void setProfileNames(const std::vector<std::string>& names);
    // Asks every profile's server; a refresh still under way gives way.
    void refresh();
    // Ends the running refresh without showing anything more.
    void stop();
    bool isRefreshing() const { return !m_refreshIds.empty(); }

    // Shows what one profile's server answered in its row (also the answers
    // the Server tab gets for its own server).
    void showResult(const std::string& profile, const GameQueryResult& result);
    QTreeWidgetItem* row(const std::string& profile) const;
    // The profile a row stands for.
    static std::string profileOf(const QTreeWidgetItem* row);
    // The selected rows' profiles, in the list's order.
    std::vector<std::string> selectedProfiles() const;
    // Players (bots included) the profile's server had when last asked; 0 when offline or not asked.
    int playersOn(const std::string& profile) const;

    QWidget* ServersTab = nullptr;
    QTreeWidget* ServerList = nullptr;
    QLabel* RefreshLabel = nullptr;
    QPushButton* BRefresh = nullptr;

Q_SIGNALS:
    // A row was double-clicked: the user wants that server up close.
    void opened(const std::string& profile);

public:
    // The double click's handler: the selected row's profile, opened.
    void openSelected();

private:
    void showOnline(QTreeWidgetItem* row, const GameQueryResult& result);
    void showOffline(QTreeWidgetItem* row, const GameQueryResult& result);
    // "3 of 5 online at 12:34:56."
    void showRefreshDone();

    AppContext& m_context;
    GameQuery& m_query;
    std::vector<std::string> m_profiles;
    std::set<std::uint64_t> m_refreshIds;
};

} // namespace velth
