// Queries over a lossy link: velth-server against Debian's qstat on the same
// emulated server, in the same run.
//
// The server holds 172 rules (three split parts) and 20 players and answers
// 20 ms after each request. Two kinds of loss of the datagrams it sends:
// 25 % at random (a new seed each run, the same seed for both programs), and
// every fourth one. Each run starts a fresh emulator, then runs one program
// as a whole process (`velth-server query --players --rules --json`,
// `quakestat -json -P -R -hla2s`, both as they come), timed from its start to
// its end; a run counts when every field is right: name, map, the counts,
// all 20 players and all 172 rules with their values. Last, a server that
// answers info and players but never rules, 250 ms away: velth-server must
// show it online with what it sent and exit 1.
// The emulator runs on CPU 1, the clients on CPU 0.
//
// Usage: loss_bench [random-loss runs, 20] [every-fourth runs, 10] [latency ms, 20]
#include <nlohmann/json.hpp>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#ifndef VELTH_GAMESERVER_SCRIPT
#error "VELTH_GAMESERVER_SCRIPT must name tests/support/gameserver.py"
#endif
#ifndef VELTH_SERVER_TOOL
#error "VELTH_SERVER_TOOL must name the velth-server executable"
#endif

namespace {

using nlohmann::json;

constexpr int kRules = 172;
constexpr int kPlayers = 20;

std::string loadAverage()
{
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double most(const std::vector<double>& v)
{
    return v.empty() ? 0 : *std::max_element(v.begin(), v.end());
}

std::string ruleName(int i)
{
    return "velth_rule_" + std::to_string(1000 + i);
}

std::string playerName(int i)
{
    return "Player " + std::to_string(i + 1);
}

json serverState()
{
    json state = { { "max_players", 32 } };
    json rules = json::object();
    for (int i = 0; i < kRules; ++i)
        rules[ruleName(i)] = std::to_string(i);
    state["rules"] = rules;
    json players = json::array();
    for (int i = 0; i < kPlayers; ++i)
        players.push_back({ { "name", playerName(i) }, { "userid", i + 2 },
            { "uniqueid", "STEAM_0:0:" + std::to_string(i) }, { "frags", i }, { "time", 60 } });
    state["players"] = players;
    return state;
}

// One emulated server on CPU 1; its port from the READY line.
class Server
{
public:
    explicit Server(const QStringList& args)
    {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral("taskset"),
            QStringList{ QStringLiteral("-c"), QStringLiteral("1"), QStringLiteral("/usr/bin/python3"),
                QStringLiteral(VELTH_GAMESERVER_SCRIPT) }
                + args);
        QByteArray out;
        while (!out.contains('\n')) {
            if (!m_process.waitForReadyRead(30000))
                throw std::runtime_error("the emulator did not start");
            out += m_process.readAllStandardOutput();
        }
        const QList<QByteArray> words = out.left(out.indexOf('\n')).trimmed().split(' ');
        if (words.value(0) != "READY" || words.size() != 2)
            throw std::runtime_error("the emulator said: " + out.toStdString());
        m_port = words[1].toInt();
    }
    ~Server()
    {
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(3000)) {
            m_process.terminate();
            m_process.waitForFinished(3000);
        }
    }
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }

private:
    QProcess m_process;
    int m_port = 0;
};

struct Run
{
    double seconds = 0;
    QByteArray out;
    int exitCode = -1;
};

// One whole process on CPU 0, timed from its start to its end.
Run runTimed(const QString& program, const QStringList& args)
{
    QProcess process;
    QStringList all{ QStringLiteral("-c"), QStringLiteral("0"), program };
    all << args;
    QElapsedTimer timer;
    timer.start();
    process.start(QStringLiteral("taskset"), all);
    if (!process.waitForFinished(120000))
        throw std::runtime_error(program.toStdString() + " did not end");
    Run run;
    run.seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    run.out = process.readAllStandardOutput();
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return run;
}

json parsed(const Run& run)
{
    try {
        const json all = json::parse(run.out.toStdString());
        if (all.is_array() && all.size() == 1)
            return all[0];
    } catch (const json::exception&) { }
    return json();
}

// What velth-server's run is missing ("" when every field is right).
std::string toolMissing(const Run& run)
{
    const json s = parsed(run);
    if (!s.is_object())
        return "no JSON";
    if (s.value("online", false) != true)
        return "offline";
    if (s["name"] != "Velth Test Server" || s["map"] != "de_dust2" || s["players"] != kPlayers
        || s["max_players"] != 32)
        return "info";
    if (!s["player_list"].is_array() || s["player_list"].size() != kPlayers)
        return "players";
    for (int i = 0; i < kPlayers; ++i) {
        if (s["player_list"][static_cast<std::size_t>(i)]["name"] != playerName(i))
            return "players";
    }
    if (!s["rules"].is_object() || s["rules"].size() != kRules + 1)
        return "rules";
    for (int i = 0; i < kRules; ++i) {
        if (s["rules"].value(ruleName(i), std::string()) != std::to_string(i))
            return "rules";
    }
    return run.exitCode == 0 ? "" : "exit " + std::to_string(run.exitCode);
}

std::string qstatMissing(const Run& run)
{
    const json s = parsed(run);
    if (!s.is_object())
        return "no JSON";
    if (s.value("status", std::string()) != "online")
        return "offline";
    if (s.value("name", std::string()) != "Velth Test Server" || s.value("map", std::string()) != "de_dust2"
        || s.value("numplayers", -1) != kPlayers || s.value("maxplayers", -1) != 32)
        return "info";
    if (!s.contains("players") || !s["players"].is_array() || s["players"].size() != kPlayers)
        return "players";
    // qstat lists the players last first: the same names, in any order.
    std::vector<std::string> names, expected;
    for (int i = 0; i < kPlayers; ++i) {
        names.push_back(s["players"][static_cast<std::size_t>(i)].value("name", std::string()));
        expected.push_back(playerName(i));
    }
    std::sort(names.begin(), names.end());
    std::sort(expected.begin(), expected.end());
    if (names != expected)
        return "players";
    if (!s.contains("rules") || !s["rules"].is_object())
        return "rules";
    for (int i = 0; i < kRules; ++i) {
        if (s["rules"].value(ruleName(i), std::string()) != std::to_string(i))
            return "rules";
    }
    return "";
}

struct Tally
{
    int right = 0;
    int runs = 0;
    std::vector<double> seconds;
    std::vector<std::string> missing;

    void add(const Run& run, const std::string& what)
    {
        ++runs;
        seconds.push_back(run.seconds);
        if (what.empty())
            ++right;
        else
            missing.push_back(what);
    }
    std::string cell() const
    {
        char text[160];
        std::snprintf(
            text, sizeof text, "%d/%d | %.0f ms | %.0f ms", right, runs, median(seconds) * 1e3, most(seconds) * 1e3);
        std::string out = text;
        if (!missing.empty()) {
            out += " (missing:";
            for (const std::string& m : missing)
                out += " " + m;
            out += ")";
        }
        return out;
    }
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int randomRuns = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    const int nthRuns = argc > 2 ? std::max(1, std::atoi(argv[2])) : 10;
    const int latency = argc > 3 ? std::max(0, std::atoi(argv[3])) : 20;
    const bool haveQstat = !QStandardPaths::findExecutable(QStringLiteral("quakestat")).isEmpty();
    std::printf("load average at the start: %s\n", loadAverage().c_str());
    if (!haveQstat)
        std::printf("note: quakestat (Debian's qstat) is not installed: velth-server only\n");
    try {
        QTemporaryDir dir;
        const QString statePath = dir.filePath(QStringLiteral("state.json"));
        {
            QFile file(statePath);
            if (!file.open(QIODevice::WriteOnly))
                throw std::runtime_error("cannot write the server's state");
            file.write(QByteArray::fromStdString(serverState().dump()));
        }
        const QStringList base{ QStringLiteral("--state"), statePath, QStringLiteral("--latency-ms"),
            QString::number(latency) };
        auto tool = [](const Server& server) {
            return runTimed(QStringLiteral(VELTH_SERVER_TOOL),
                { QStringLiteral("query"), QStringLiteral("--players"), QStringLiteral("--rules"),
                    QStringLiteral("--json"), server.address() });
        };
        auto qstat = [](const Server& server) {
            return runTimed(QStringLiteral("quakestat"),
                { QStringLiteral("-json"), QStringLiteral("-P"), QStringLiteral("-R"), QStringLiteral("-hla2s"),
                    server.address() });
        };

        struct Case
        {
            const char* what;
            int runs;
            std::function<QStringList(int run)> loss;
        };
        const Case cases[] = {
            { "25 % of its datagrams lost at random", randomRuns,
                [](int run) {
                    return QStringList{ QStringLiteral("--loss"), QStringLiteral("25"), QStringLiteral("--loss-seed"),
                        QString::number(run + 1) };
                } },
            { "every fourth datagram it sends lost", nthRuns,
                [](int) {
                    return QStringList{ QStringLiteral("--lose-every"), QStringLiteral("4") };
                } },
        };
        std::vector<std::pair<Tally, Tally>> tallies;
        for (const Case& c : cases) {
            Tally ours, theirs;
            for (int run = 0; run < c.runs; ++run) {
                {
                    const Server server(base + c.loss(run));
                    const Run r = tool(server);
                    ours.add(r, toolMissing(r));
                }
                if (haveQstat) {
                    const Server server(base + c.loss(run));
                    const Run r = qstat(server);
                    theirs.add(r, qstatMissing(r));
                }
            }
            std::printf("%s: velth-server %s; qstat %s\n", c.what, ours.cell().c_str(),
                haveQstat ? theirs.cell().c_str() : "-");
            std::fflush(stdout);
            tallies.emplace_back(ours, theirs);
        }

        // Info and players, never rules, 250 ms away.
        Tally noRules;
        std::string shown;
        for (int run = 0; run < 3; ++run) {
            const Server server({ QStringLiteral("--state"), statePath, QStringLiteral("--latency-ms"),
                QStringLiteral("250"), QStringLiteral("--hostile"), QStringLiteral("norules") });
            const Run r = tool(server);
            const json s = parsed(r);
            const bool asExpected = s.is_object() && s.value("online", false) && s["name"] == "Velth Test Server"
                && s["player_list"].is_array() && s["player_list"].size() == kPlayers && s["rules"].is_null()
                && r.exitCode == 1;
            noRules.add(r, asExpected ? "" : "not online with info and players, exit 1");
        }

        std::printf("\n| server (%d rules in 3 split parts, %d players, %d ms) | velth-server every field | "
                    "median | max | qstat every field | median | max | median vs qstat |\n",
            kRules, kPlayers, latency);
        std::printf("|---|---|---|---|---|---|---|---|\n");
        for (std::size_t i = 0; i < tallies.size(); ++i) {
            const Tally& ours = tallies[i].first;
            const Tally& theirs = tallies[i].second;
            std::printf("| %s, %d runs | %d/%d | %.0f ms | %.0f ms | ", cases[i].what, ours.runs, ours.right, ours.runs,
                median(ours.seconds) * 1e3, most(ours.seconds) * 1e3);
            if (haveQstat)
                std::printf("%d/%d | %.0f ms | %.0f ms | %.2fx |\n", theirs.right, theirs.runs,
                    median(theirs.seconds) * 1e3, most(theirs.seconds) * 1e3,
                    median(ours.seconds) / median(theirs.seconds));
            else
                std::printf("- | - | - | - |\n");
        }
        std::printf("| answers info and players, never rules, 250 ms away, 3 runs | online with info and players, "
                    "rules null, exit 1: %d/3 | %.0f ms | %.0f ms | | | | |\n",
            noRules.right, median(noRules.seconds) * 1e3, most(noRules.seconds) * 1e3);
        std::printf("load average at the end: %s\n", loadAverage().c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "loss_bench: %s\n", e.what());
        return 1;
    }
    return 0;
}
