#pragma once

#include "net/GameServer.h"

#include <QObject>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// The state of many game servers as Prometheus metrics: every scrape asks
// all servers at once and answers with the text exposition format. What a
// scrape gives per server:
//   hlds_up, hlds_players, hlds_max_players, hlds_bots, hlds_rtt_seconds,
//   hlds_info{name,map,game,folder,version} (always 1), and
//   hlds_query_duration_seconds,
// each labelled target="HOST:PORT" as the server list gives it. With player
// series on, a server with an rcon password also gets its players from the
// console's `status`: hlds_rcon_up, and per player (labels userid, name,
// steamid) hlds_player_frags, hlds_player_ping_seconds,
// hlds_player_loss_ratio and hlds_player_connected_seconds.

namespace velth {

struct ExporterTarget
{
    GameAddress address;
    // The console's password; empty: no player series for this server.
    std::string rconPassword;
};

class GameExporter final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(GameExporter)

public:
    struct Options
    {
        // Per-player series from `status` (needs each server's rcon password).
        bool playerSeries = false;
    };

    using Done = std::function<void(std::string metrics)>;

    GameExporter(std::vector<ExporterTarget> targets, Options options, QObject* parent = nullptr);
    // Ends every running scrape without calling back.
    ~GameExporter() override;

    // Asks every server at once; done gets the metrics, later, from the event
    // loop, by the time `timeout` has passed. A server that answered counts
    // as up with what it sent, whatever did not come in time.
    std::uint64_t scrape(std::chrono::milliseconds timeout, Done done);
    // Ends a scrape without calling back; an unknown id is ignored.
    void cancel(std::uint64_t id);
    int running() const;

private:
    class Private;
    std::unique_ptr<Private> d;
};

} // namespace velth
