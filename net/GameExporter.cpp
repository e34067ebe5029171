#include "net/GameExporter.h"

#include "common/TextCodec.h"
#include "net/MetricsText.h"

#include <QTimer>

#include <map>
#include <optional>

namespace velth {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

std::string utf8(std::string_view serverBytes)
{
    const QByteArray bytes = toDisplay(serverBytes).toUtf8();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

double seconds(Clock::duration duration)
{
    return std::chrono::duration<double>(duration).count();
}

} // namespace

struct Scrape
{
    GameExporter::Done done;
    Clock::time_point start = Clock::now();
    std::vector<GameQueryResult> results;
    std::vector<std::optional<Clock::duration>> durations;
    std::vector<std::uint64_t> queryIds;
    // Players by the console, per target; nothing: not asked or no answer.
    std::vector<std::optional<StatusReport>> status;
    std::vector<bool> rconAsked;
    int pending = 0;
    QTimer deadline;
};

class GameExporter::Private
{
public:
    std::vector<ExporterTarget> targets;
    Options options;
    GameQuery query;
    // One console per server with a password, kept across scrapes so its
    // challenge and proven password are reused.
    std::vector<std::unique_ptr<RconClient>> consoles;
    std::uint64_t nextId = 1;
    std::map<std::uint64_t, std::unique_ptr<Scrape>> scrapes;

    void settle(std::uint64_t id)
    {
        auto it = scrapes.find(id);
        if (it == scrapes.end() || --it->second->pending > 0)
            return;
        finish(id);
    }

    void finish(std::uint64_t id)
    {
        auto it = scrapes.find(id);
        if (it == scrapes.end())
            return;
        std::unique_ptr<Scrape> scrape = std::move(it->second);
        scrapes.erase(it);
        for (const std::uint64_t queryId : scrape->queryIds)
            query.cancel(queryId);
        std::string text = render(*scrape);
        scrape->done(std::move(text));
    }

    std::string render(const Scrape& s) const
    {
        metrics::Exposition out;
        std::vector<std::string> names(targets.size());
        for (std::size_t i = 0; i < targets.size(); ++i)
            names[i] = utf8(toString(targets[i].address));
        auto each = [&](auto&& write, bool onlineOnly = true) {
            for (std::size_t i = 0; i < targets.size(); ++i) {
                if (!onlineOnly || s.results[i].online())
                    write(i, metrics::Label{ "target", names[i] }, s.results[i]);
            }
        };
        out.family("hlds_up", "gauge", "1 when the server answered the info query, else 0.");
        each([&](std::size_t, metrics::Label target,
                 const GameQueryResult& r) { out.sample("hlds_up", { target }, r.online() ? 1 : 0); },
            false);
        out.family("hlds_players", "gauge", "Players on the server as it counts them, bots included.");
        each([&](std::size_t, metrics::Label target, const GameQueryResult& r) {
            out.sample("hlds_players", { target }, r.info.players);
        });
        out.family("hlds_max_players", "gauge", "The server's player slots.");
        each([&](std::size_t, metrics::Label target, const GameQueryResult& r) {
            out.sample("hlds_max_players", { target }, r.info.maxPlayers);
        });
        out.family("hlds_bots", "gauge", "Bots on the server.");
        each([&](std::size_t, metrics::Label target, const GameQueryResult& r) {
            out.sample("hlds_bots", { target }, r.info.bots);
        });
        out.family("hlds_rtt_seconds", "gauge", "Round trip of the info query.");
        each([&](std::size_t, metrics::Label target, const GameQueryResult& r) {
            if (r.ping.count() >= 0)
                out.sample("hlds_rtt_seconds", { target }, seconds(r.ping));
        });
        out.family("hlds_info", "gauge", "The server's name, map, game folder, game and version; always 1.");
        each([&](std::size_t, metrics::Label target, const GameQueryResult& r) {
            const std::string name = utf8(r.info.name);
            const std::string map = utf8(r.info.map);
            const std::string folder = utf8(r.info.folder);
            const std::string game = utf8(r.info.game);
            const std::string version = utf8(r.info.version);
            out.sample("hlds_info",
                { target, { "name", name }, { "map", map }, { "folder", folder }, { "game", game },
                    { "version", version } },
                1);
        });
        out.family("hlds_query_duration_seconds", "gauge",
            "How long the server's query took; the whole wait for a server that did not answer.");
        each(
            [&](std::size_t i, metrics::Label target, const GameQueryResult&) {
                const Clock::duration took = s.durations[i] ? *s.durations[i] : Clock::now() - s.start;
                out.sample("hlds_query_duration_seconds", { target }, seconds(took));
            },
            false);
        if (options.playerSeries)
            renderPlayers(out, s, names);
        out.family("velth_exporter_scrape_duration_seconds", "gauge", "How long this scrape took.");
        out.sample("velth_exporter_scrape_duration_seconds", {}, seconds(Clock::now() - s.start));
        return out.take();
    }

    void renderPlayers(metrics::Exposition& out, const Scrape& s, const std::vector<std::string>& names) const
    {
        out.family("hlds_rcon_up", "gauge", "1 when the console answered `status` with the password given, else 0.");
        for (std::size_t i = 0; i < targets.size(); ++i) {
            if (s.rconAsked[i])
                out.sample("hlds_rcon_up", { { "target", names[i] } }, s.status[i] ? 1 : 0);
        }
        struct Series
        {
            const char* name;
            const char* help;
            double (*value)(const StatusPlayer&);
        };
        static const Series kSeries[] = {
            { "hlds_player_frags", "The player's frags.", [](const StatusPlayer& p) { return double(p.frags); } },
            { "hlds_player_ping_seconds", "The player's ping.", [](const StatusPlayer& p) { return p.ping / 1000.0; } },
            { "hlds_player_loss_ratio", "The player's packet loss, 0 to 1.",
                [](const StatusPlayer& p) { return p.loss / 100.0; } },
            { "hlds_player_connected_seconds", "How long the player has been on the server.",
                [](const StatusPlayer& p) { return double(p.seconds); } },
        };
        for (const Series& series : kSeries) {
            out.family(series.name, "gauge", series.help);
            for (std::size_t i = 0; i < targets.size(); ++i) {
                if (!s.status[i])
                    continue;
                for (const StatusPlayer& p : s.status[i]->players) {
                    // The user id keeps two players of one name apart.
                    const std::string userId = std::to_string(p.userId);
                    const std::string name = utf8(p.name);
                    const std::string steamId = utf8(p.uniqueId);
                    out.sample(series.name,
                        { { "target", names[i] }, { "userid", userId }, { "name", name }, { "steamid", steamId } },
                        series.value(p));
                }
            }
        }
    }
};

GameExporter::GameExporter(std::vector<ExporterTarget> targets, Options options, QObject* parent)
    : QObject(parent)
    , d(std::make_unique<Private>())
{
    d->targets = std::move(targets);
    d->options = options;
    d->consoles.resize(d->targets.size());
    if (options.playerSeries) {
        for (std::size_t i = 0; i < d->targets.size(); ++i) {
            if (d->targets[i].rconPassword.empty())
                continue;
            auto console = std::make_unique<RconClient>();
            console->setAddress(d->targets[i].address);
            console->setPassword(d->targets[i].rconPassword);
            d->consoles[i] = std::move(console);
        }
    }
}

GameExporter::~GameExporter()
{
    d->scrapes.clear();
}

std::uint64_t GameExporter::scrape(std::chrono::milliseconds timeout, Done done)
{
    const std::uint64_t id = d->nextId++;
    auto scrape = std::make_unique<Scrape>();
    Scrape& s = *scrape;
    s.done = std::move(done);
    const std::size_t count = d->targets.size();
    s.results.resize(count);
    s.durations.resize(count);
    s.queryIds.resize(count);
    s.status.resize(count);
    s.rconAsked.resize(count);
    d->scrapes.emplace(id, std::move(scrape));

    // Every server is asked at once and again as often as its round trip
    // allows, until a little before the scrape must answer; what answered by
    // then is up.
    GameQuery::Limits limits;
    limits.total = std::max(timeout - std::min(timeout / 10, std::chrono::milliseconds(250)), 1ms);
    limits.timeout = std::clamp(timeout / 4, 1ms, limits.timeout);
    limits.retries = 100000;
    limits.inFlight = std::max(limits.inFlight, static_cast<int>(std::min<std::size_t>(count, 4096)));
    d->query.setLimits(limits);
    // One more than the answers awaited, settled below, so that a scrape of
    // no servers still ends from the event loop.
    s.pending = 1;
    for (std::size_t i = 0; i < count; ++i) {
        ++s.pending;
        s.queryIds[i] = d->query.query(d->targets[i].address, QueryInfo, [this, id, i](const GameQueryResult& r) {
            auto it = d->scrapes.find(id);
            if (it == d->scrapes.end())
                return;
            it->second->results[i] = r;
            it->second->durations[i] = Clock::now() - it->second->start;
            it->second->queryIds[i] = 0;
            d->settle(id);
        });
        if (RconClient* console = d->consoles[i].get()) {
            ++s.pending;
            s.rconAsked[i] = true;
            console->setTimeout(timeout);
            console->execute("status", [this, id, i](const RconResult& r) {
                auto it = d->scrapes.find(id);
                if (it == d->scrapes.end())
                    return;
                if (r.ok())
                    it->second->status[i] = parseStatus(r.output);
                d->settle(id);
            });
        }
    }
    s.deadline.setSingleShot(true);
    s.deadline.setTimerType(Qt::PreciseTimer);
    connect(&s.deadline, &QTimer::timeout, this, [this, id] { d->finish(id); });
    s.deadline.start(timeout);
    QMetaObject::invokeMethod(
        this, [this, id] { d->settle(id); }, Qt::QueuedConnection);
    return id;
}

void GameExporter::cancel(std::uint64_t id)
{
    auto it = d->scrapes.find(id);
    if (it == d->scrapes.end())
        return;
    for (const std::uint64_t queryId : it->second->queryIds)
        d->query.cancel(queryId);
    d->scrapes.erase(it);
}

int GameExporter::running() const
{
    return static_cast<int>(d->scrapes.size());
}

} // namespace velth
