// "Fetch new logs" of many profiles against the test FTP servers.
//
// Four pyftpdlib servers (tests/support/ftpserver.py) serve 20 profiles, five
// each, every profile 8 logs of 512 KiB in <HLDS>/cstrike/logs. Each round
// fetches every profile's logs into an empty logs folder twice: once one
// server after another (one connection at a time) and once with the page's
// bounded number of connections at once; then once more with nothing new
// (the listings alone). Prints the best of each and the ratio.
//
// Usage: fetch_bench [rounds, 3] [profiles, 20] [logs per profile, 8] [KiB per log, 512]
#include "common/AppContext.h"
#include "common/Prompts.h"
#include "loganalysis/LogFetch.h"
#include "profiles/ConnectionKind.h"
#include "profiles/ProfileStore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QStringList>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <unistd.h>

#ifndef VELTH_FTPSERVER_SCRIPT
#error "VELTH_FTPSERVER_SCRIPT must name tests/support/ftpserver.py"
#endif

namespace fs = std::filesystem;
using namespace velth;

namespace {

class QuietPrompts final : public Prompts
{
public:
    void errorBox(const QString& text) override { std::fprintf(stderr, "error: %s\n", qPrintable(text)); }
    bool confirm(const QString&) override { return false; }
    std::optional<QString> inputText(const QString&, const QString&, int) override { return std::nullopt; }
    std::optional<QString> saveFileName(const QString&, const QString&, const QString&) override
    {
        return std::nullopt;
    }
    void errorReport(const QString& message) override { std::fprintf(stderr, "report: %s\n", qPrintable(message)); }
};

class NoStatus final : public StatusLine
{
public:
    void setStatus(const QString& text) override { m_text = text; }
    QString status() const override { return m_text; }

private:
    QString m_text;
};

int startServer(QProcess& server, const fs::path& root)
{
    const QStringList args{ QStringLiteral(VELTH_FTPSERVER_SCRIPT), QStringLiteral("--root"),
        QString::fromStdString(root.string()), QStringLiteral("--user"), QStringLiteral("velth"),
        QStringLiteral("--password"), QStringLiteral("bench"), QStringLiteral("--glob"),
        QStringLiteral("--exit-on-eof") };
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server.start(QStringLiteral("/usr/bin/python3"), args);
    QByteArray out;
    while (!out.contains('\n')) {
        if (!server.waitForReadyRead(30000))
            throw std::runtime_error("the FTP server did not start");
        out += server.readAllStandardOutput();
    }
    return out.left(out.indexOf('\n')).trimmed().split(' ').value(1).toInt();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 3;
    const int profiles = argc > 2 ? std::atoi(argv[2]) : 20;
    const int logs = argc > 3 ? std::atoi(argv[3]) : 8;
    const int kib = argc > 4 ? std::atoi(argv[4]) : 512;
    const int servers = 4;

    const fs::path work = fs::temp_directory_path() / ("velth-fetch-bench-" + std::to_string(::getpid()));
    fs::create_directories(work / "program");
    std::string log;
    for (int i = 0; static_cast<int>(log.size()) < kib * 1024; ++i)
        log += "L 10/20/2003 - 20:14:10: \"Player" + std::to_string(i % 20) + "<3><STEAM_0:1:" + std::to_string(i % 97)
            + "><CT>\" say \"gg " + std::to_string(i) + "\"\r\n";
    log.resize(static_cast<std::size_t>(kib) * 1024);

    std::vector<std::unique_ptr<QProcess>> processes;
    std::vector<int> ports;
    for (int s = 0; s < servers; ++s) {
        const fs::path root = work / ("server" + std::to_string(s));
        fs::create_directories(root);
        processes.push_back(std::make_unique<QProcess>());
        ports.push_back(startServer(*processes.back(), root));
    }
    ProfileStore store((work / "program" / "ftpserver.ini").string());
    std::vector<std::string> names;
    for (int p = 0; p < profiles; ++p) {
        const std::string name = "server" + std::to_string(p + 1);
        const int s = p % servers;
        const fs::path folder = work / ("server" + std::to_string(s)) / name / "cstrike" / "logs";
        fs::create_directories(folder);
        for (int l = 0; l < logs; ++l)
            std::ofstream(folder / ("L10200" + std::to_string(l) + ".log"), std::ios::binary) << log;
        store.writeString(name, "HOST", "127.0.0.1");
        store.writeInt(name, "PORT", ports[static_cast<std::size_t>(s)]);
        store.writeString(name, "USER", "velth");
        store.writeString(name, "PASS", "bench");
        store.writeString(name, "HLDS", "/" + name);
        store.writeString(name, "CONNECTION", std::string(connectionKindValue(ConnectionKind::FtpPassive)));
        names.push_back(name);
    }
    QuietPrompts prompts;
    NoStatus status;
    AppContext context((work / "program").string() + "/", store, prompts, status);
    const std::string logsRoot = (work / "logs").string();

    // One fetch; the time in seconds, and whether every row got all its logs.
    auto fetch = [&](int connections, bool fresh, int expected) {
        if (fresh)
            fs::remove_all(logsRoot);
        fs::create_directories(logsRoot);
        LogFetch fetcher(context);
        fetcher.setMaxConnections(connections);
        QEventLoop loop;
        QObject::connect(&fetcher, &LogFetch::finished, &loop, &QEventLoop::quit);
        QElapsedTimer timer;
        timer.start();
        fetcher.start(names, logsRoot);
        loop.exec();
        const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
        for (const LogFetch::Row& row : fetcher.rows())
            if (row.state != LogFetch::State::Done || row.fetched != expected)
                throw std::runtime_error(
                    "profile " + row.profile + " fetched " + std::to_string(row.fetched) + ": " + row.text);
        return seconds;
    };

    double oneByOne = 1e9;
    double bounded = 1e9;
    double nothingNew = 1e9;
    try {
        for (int r = 0; r < rounds; ++r) {
            oneByOne = std::min(oneByOne, fetch(1, true, logs));
            bounded = std::min(bounded, fetch(LogFetch::kDefaultMaxConnections, true, logs));
            nothingNew = std::min(nothingNew, fetch(LogFetch::kDefaultMaxConnections, false, 0));
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "fetch_bench: %s\n", e.what());
        fs::remove_all(work);
        return 1;
    }
    for (auto& process : processes) {
        process->closeWriteChannel();
        process->waitForFinished(5000);
    }
    fs::remove_all(work);
    const double mib = static_cast<double>(profiles) * logs * kib / 1024.0;
    std::printf("machine: %ld cores\n", sysconf(_SC_NPROCESSORS_ONLN));
    std::printf("%d profiles on %d servers, %d logs of %d KiB each (%.0f MiB), best of %d\n", profiles, servers, logs,
        kib, mib, rounds);
    std::printf("one server after another: %.2f s\n", oneByOne);
    std::printf("%d connections at once:   %.2f s\n", LogFetch::kDefaultMaxConnections, bounded);
    std::printf("again, nothing new:       %.2f s (listings only)\n", nothingNew);
    std::printf("fetch new logs %.2fx the time of one after another\n", bounded / oneByOne);
    return 0;
}
