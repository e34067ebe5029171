// A fleet refresh and a remote console round trip against the test emulator.
//
// The fleet is 100 servers, each answering 20 ms after a request arrives:
// most of them from one emulator process, some (10 by default) from a second
// one that loses a quarter of the datagrams it sends, and some (5) offline
// (ports nobody listens on). Each round asks all of them for info, players
// and rules, once with `velth-server query --players --rules --json
// --timeout 3` and once with Debian's qstat (`quakestat -hla2s HOST:PORT...
// -P -R`) as it comes and tuned to send everything at once; both are whole
// processes timed from start to end. Each round counts, for each program,
// the online servers it got whole with players and rules; velth-server must
// also show every offline server offline and exit 1 (--timeout 3: an offline
// server holds the run that long; qstat gives it up after about two seconds,
// three retries half a second apart, and so may miss a lossy server's part).
// The bench prints, for each program, in how many rounds it got every online
// server whole. Then the rcon `status` round trip of the
// program's client, from the command to its complete output, against the
// server's own round trip (the info ping), and the whole `velth-server rcon
// ... status` run. The emulators run on CPU 1, the clients on CPU 0.
//
// Usage: fleet_bench [rounds, 7] [servers, 100] [latency ms, 20] [lossy, 10] [offline, 5]
// Last line: "fleet refresh S.SSx qstat's time (tuned qstat: T.TTx), rcon
// status R ms at a round trip of P ms".
#include "net/GameServer.h"

#include <nlohmann/json.hpp>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QStringList>
#include <QUdpSocket>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include <sched.h>

#ifndef VELTH_GAMESERVER_SCRIPT
#error "VELTH_GAMESERVER_SCRIPT must name tests/support/gameserver.py"
#endif
#ifndef VELTH_SERVER_TOOL
#error "VELTH_SERVER_TOOL must name the velth-server executable"
#endif

namespace {

using namespace std::chrono_literals;

const char* const kPassword = "bench";

void pinToCpu(int cpu)
{
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    if (sched_setaffinity(0, sizeof set, &set) != 0)
        std::fprintf(stderr, "note: cannot pin to CPU %d\n", cpu);
}

std::string loadAverage()
{
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

double best(std::vector<double> v)
{
    return *std::min_element(v.begin(), v.end());
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// An emulator's fleet on CPU 1; the ports from its READY line.
std::vector<int> startFleet(QProcess& server, int count, int latencyMs, const QStringList& more = {})
{
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server.start(QStringLiteral("taskset"),
        QStringList{ QStringLiteral("-c"), QStringLiteral("1"), QStringLiteral("/usr/bin/python3"),
            QStringLiteral(VELTH_GAMESERVER_SCRIPT), QStringLiteral("--count"), QString::number(count),
            QStringLiteral("--latency-ms"), QString::number(latencyMs), QStringLiteral("--rcon-password"),
            QString::fromLatin1(kPassword) }
            + more);
    QByteArray out;
    while (!out.contains('\n')) {
        if (!server.waitForReadyRead(60000))
            throw std::runtime_error("the emulator did not start");
        out += server.readAllStandardOutput();
    }
    const QList<QByteArray> words = out.left(out.indexOf('\n')).trimmed().split(' ');
    if (words.value(0) != "READY" || words.size() != count + 1)
        throw std::runtime_error("the emulator said: " + out.toStdString());
    std::vector<int> ports;
    for (int i = 1; i < words.size(); ++i)
        ports.push_back(words[i].toInt());
    return ports;
}

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

// Ports nobody listens on: bound, then closed again.
std::vector<int> deadPorts(int count)
{
    std::vector<QUdpSocket*> sockets;
    std::vector<int> ports;
    for (int i = 0; i < count; ++i) {
        auto* socket = new QUdpSocket;
        if (!socket->bind(QHostAddress::LocalHost, 0))
            throw std::runtime_error("cannot bind a UDP socket");
        ports.push_back(socket->localPort());
        sockets.push_back(socket);
    }
    for (QUdpSocket* socket : sockets)
        delete socket;
    return ports;
}

// The online servers velth-server got whole, with players and rules; an
// offline server shown online, or a wrong exit status, ends the bench.
int toolComplete(const Run& run, const QStringList& servers, const std::set<QString>& offline)
{
    const nlohmann::json all = nlohmann::json::parse(run.out.toStdString());
    if (all.size() != static_cast<std::size_t>(servers.size()))
        throw std::runtime_error("velth-server listed " + std::to_string(all.size()) + " servers");
    int complete = 0;
    for (const auto& server : all) {
        const QString address = QString::fromStdString(server["address"].get<std::string>());
        if (offline.count(address)) {
            if (server["online"].get<bool>())
                throw std::runtime_error("velth-server shows an offline server online: " + server.dump());
            continue;
        }
        if (server["online"].get<bool>() && server["player_list"].is_array() && !server["player_list"].empty()
            && server["rules"].is_object() && !server["rules"].empty())
            ++complete;
        else
            std::printf("  velth-server's answer is incomplete: %s\n", server.dump().c_str());
    }
    if (run.exitCode != (offline.empty() && complete == servers.size() ? 0 : 1))
        throw std::runtime_error("velth-server ended with status " + std::to_string(run.exitCode));
    return complete;
}

// The online servers qstat got whole, with players and rules.
int qstatComplete(const Run& run)
{
    const nlohmann::json all = nlohmann::json::parse(run.out.toStdString());
    int complete = 0;
    for (const auto& server : all) {
        if (server.value("status", std::string()) == "online" && server.contains("players")
            && server["players"].is_array() && !server["players"].empty() && server.contains("rules")
            && server["rules"].is_object() && !server["rules"].empty())
            ++complete;
    }
    return complete;
}

// The program's client: one `status` after another on one console, each
// timed from the command to its complete output.
std::vector<double> rconRounds(const velth::GameAddress& address, int rounds)
{
    velth::RconClient rcon;
    rcon.setAddress(address);
    rcon.setPassword(kPassword);
    std::vector<double> times;
    for (int round = 0; round <= rounds; ++round) {
        bool finished = false;
        velth::RconResult result;
        QElapsedTimer timer;
        timer.start();
        rcon.execute("status", [&](const velth::RconResult& r) {
            result = r;
            finished = true;
        });
        while (!finished)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        const double ms = static_cast<double>(timer.nsecsElapsed()) / 1e6;
        if (!result.ok())
            throw std::runtime_error("rcon status failed: " + result.message);
        if (result.output.find("hostname:") == std::string::npos || result.output.find(" users") == std::string::npos)
            throw std::runtime_error("rcon status output is incomplete: " + result.output);
        // The first command also fetches the console's challenge.
        if (round == 0)
            std::printf("rcon status, first command (with its challenge): %.1f ms\n", ms);
        else
            times.push_back(ms);
    }
    return times;
}

// The server's own round trip: the info request's ping, best of the rounds.
double infoRoundTrip(const velth::GameAddress& address, int rounds)
{
    velth::GameQuery query;
    std::vector<double> pings;
    for (int round = 0; round < rounds; ++round) {
        bool finished = false;
        query.query(address, velth::QueryInfo, [&](const velth::GameQueryResult& r) {
            if (r.online())
                pings.push_back(static_cast<double>(r.ping.count()));
            finished = true;
        });
        while (!finished)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    if (pings.empty())
        throw std::runtime_error("the server did not answer the info request");
    return best(pings);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    const int count = argc > 2 ? std::max(1, std::atoi(argv[2])) : 100;
    const int latency = argc > 3 ? std::max(0, std::atoi(argv[3])) : 20;
    const int lossy = argc > 4 ? std::clamp(std::atoi(argv[4]), 0, count - 1) : std::min(10, count - 1);
    const int offlineCount
        = argc > 5 ? std::clamp(std::atoi(argv[5]), 0, count - lossy - 1) : std::min(5, count - lossy - 1);
    std::printf("load average at the start: %s\n", loadAverage().c_str());
    try {
        QProcess fleet, lossyFleet;
        const std::vector<int> ports = startFleet(fleet, count - lossy - offlineCount, latency);
        const std::vector<int> lossyPorts = lossy > 0
            ? startFleet(lossyFleet, lossy, latency, { QStringLiteral("--loss"), QStringLiteral("25") })
            : std::vector<int>();
        const std::vector<int> offlinePorts = deadPorts(offlineCount);
        pinToCpu(0);

        // Lossy and offline servers spread among the others.
        QStringList servers;
        std::set<QString> offline;
        std::size_t nextLossy = 0, nextOffline = 0;
        for (std::size_t i = 0; i < ports.size(); ++i) {
            servers << QStringLiteral("127.0.0.1:%1").arg(ports[i]);
            if (nextLossy < lossyPorts.size() && i % 8 == 3)
                servers << QStringLiteral("127.0.0.1:%1").arg(lossyPorts[nextLossy++]);
            if (nextOffline < offlinePorts.size() && i % 16 == 7) {
                servers << QStringLiteral("127.0.0.1:%1").arg(offlinePorts[nextOffline]);
                offline.insert(servers.back());
                ++nextOffline;
            }
        }
        for (; nextLossy < lossyPorts.size(); ++nextLossy)
            servers << QStringLiteral("127.0.0.1:%1").arg(lossyPorts[nextLossy]);
        for (; nextOffline < offlinePorts.size(); ++nextOffline) {
            servers << QStringLiteral("127.0.0.1:%1").arg(offlinePorts[nextOffline]);
            offline.insert(servers.back());
        }
        const int online = static_cast<int>(servers.size()) - offlineCount;
        const QStringList toolArgs = QStringList{ QStringLiteral("query"), QStringLiteral("--players"),
            QStringLiteral("--rules"), QStringLiteral("--json"), QStringLiteral("--timeout"), QStringLiteral("3") }
            + servers;
        // qstat as it comes sends one packet every 5 ms to at most a few
        // servers at a time; tuned, it sends them all at once.
        const QStringList qstatArgs = QStringList{ QStringLiteral("-json"), QStringLiteral("-P"), QStringLiteral("-R"),
            QStringLiteral("-default"), QStringLiteral("hla2s") }
            + servers;
        const QStringList qstatTunedArgs = QStringList{
            QStringLiteral("-maxsim"), QString::number(count), QStringLiteral("-sendinterval"), QStringLiteral("0")
        } + qstatArgs;

        std::vector<double> tool, qstat, qstatTuned;
        int toolWhole = 0, qstatWhole = 0, qstatTunedWhole = 0;
        for (int round = 1; round <= rounds; ++round) {
            const Run t = runTimed(QStringLiteral(VELTH_SERVER_TOOL), toolArgs);
            const int tWhole = toolComplete(t, servers, offline);
            const Run q = runTimed(QStringLiteral("quakestat"), qstatArgs);
            const int qWhole = qstatComplete(q);
            const Run qt = runTimed(QStringLiteral("quakestat"), qstatTunedArgs);
            const int qtWhole = qstatComplete(qt);
            std::printf("round %d: velth-server %.0f ms (%d of %d online servers whole), qstat %.0f ms (%d whole), "
                        "tuned qstat %.0f ms (%d whole)\n",
                round, t.seconds * 1e3, tWhole, online, q.seconds * 1e3, qWhole, qt.seconds * 1e3, qtWhole);
            std::fflush(stdout);
            tool.push_back(t.seconds);
            qstat.push_back(q.seconds);
            qstatTuned.push_back(qt.seconds);
            toolWhole += tWhole == online;
            qstatWhole += qWhole == online;
            qstatTunedWhole += qtWhole == online;
        }
        std::printf("%d servers (%d losing 25 %% of their datagrams, %d offline), %d ms latency, info + players + "
                    "rules, %d rounds:\n",
            count, lossy, offlineCount, latency, rounds);
        std::printf("  velth-server best %.0f ms, median %.0f ms, every online server whole in %d of %d rounds\n",
            best(tool) * 1e3, median(tool) * 1e3, toolWhole, rounds);
        std::printf("  qstat        best %.0f ms, median %.0f ms, every online server whole in %d of %d rounds\n",
            best(qstat) * 1e3, median(qstat) * 1e3, qstatWhole, rounds);
        std::printf("  tuned qstat  best %.0f ms, median %.0f ms, every online server whole in %d of %d rounds "
                    "(-maxsim %d -sendinterval 0)\n",
            best(qstatTuned) * 1e3, median(qstatTuned) * 1e3, qstatTunedWhole, rounds, count);
        std::printf("  velth-server / qstat: best %.2fx, median %.2fx; / tuned qstat: best %.2fx, median %.2fx\n",
            best(tool) / best(qstat), median(tool) / median(qstat), best(tool) / best(qstatTuned),
            median(tool) / median(qstatTuned));

        const velth::GameAddress first{ "127.0.0.1", ports.front() };
        const double ping = infoRoundTrip(first, 10);
        const std::vector<double> rcon = rconRounds(first, 20);
        std::printf("rcon status: best %.1f ms, median %.1f ms (20 commands); the server's round trip %.0f ms; "
                    "goal: at most %.0f ms\n",
            best(rcon), median(rcon), ping, ping + 20);
        std::vector<double> whole;
        qputenv("VELTH_RCON_PASSWORD", kPassword);
        for (int round = 0; round < 5; ++round) {
            const Run r = runTimed(QStringLiteral(VELTH_SERVER_TOOL),
                { QStringLiteral("rcon"), servers.front(), QStringLiteral("status") });
            if (r.exitCode != 0 || !r.out.contains("hostname:"))
                throw std::runtime_error("velth-server rcon status failed");
            whole.push_back(r.seconds * 1e3);
        }
        std::printf("velth-server rcon status (a whole run: start, challenge, command): best %.0f ms, median %.0f ms\n",
            best(whole), median(whole));
        std::printf("load average at the end: %s\n", loadAverage().c_str());
        std::printf("fleet refresh %.2fx qstat's time (tuned qstat: %.2fx), rcon status %.1f ms at a round trip of "
                    "%.0f ms\n",
            median(tool) / median(qstat), median(tool) / median(qstatTuned), median(rcon), ping);
        for (QProcess* process : { &fleet, &lossyFleet }) {
            process->closeWriteChannel();
            process->terminate();
            process->waitForFinished(5000);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "fleet_bench: %s\n", e.what());
        return 1;
    }
    return 0;
}
