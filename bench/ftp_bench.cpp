// Throughput of the program's FTP client against the curl command-line tool,
// side by side in one run: a 256 MiB download and upload in active mode
// against pyftpdlib on loopback. The server runs on CPU 1, curl and this
// client on CPU 0, so both see the same conditions. Files live on tmpfs when
// there is one, so the disk does not blur the comparison (the client syncs
// a finished download to disk before it renames it into place; curl does not).
//
// Usage: ftp_bench [size in MiB] [rounds]
// Last line: "download D.DDx curl, upload U.UUx curl" (client throughput
// divided by curl's, best round of each).
#include "editors/FtpClient.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QStringList>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>

#include <sched.h>
#include <unistd.h>

#ifndef VELTH_FTPSERVER_SCRIPT
#error "VELTH_FTPSERVER_SCRIPT must name tests/support/ftpserver.py"
#endif

namespace {

namespace fs = std::filesystem;

const char* const kUser = "bench";
const char* const kPassword = "bench";

void pinToCpu(int cpu)
{
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    if (sched_setaffinity(0, sizeof set, &set) != 0)
        std::fprintf(stderr, "note: cannot pin to CPU %d\n", cpu);
}

void makeFile(const std::string& path, std::size_t bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::mt19937_64 random(42);
    std::string block(1 << 20, '\0');
    for (std::size_t done = 0; done < bytes; done += block.size()) {
        for (std::size_t i = 0; i + 8 <= block.size(); i += 8) {
            const std::uint64_t value = random();
            std::memcpy(&block[i], &value, 8);
        }
        out.write(block.data(), static_cast<std::streamsize>(std::min(block.size(), bytes - done)));
    }
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

// Seconds curl needs for one transfer (its own measure, without start-up).
double runCurl(const QStringList& args)
{
    QProcess curl;
    QStringList all{ QStringLiteral("-c"), QStringLiteral("0"), QStringLiteral("curl"), QStringLiteral("-sS"),
        QStringLiteral("--ftp-port"), QStringLiteral("-"), QStringLiteral("-w"), QStringLiteral("%{time_total}") };
    all << args;
    curl.start(QStringLiteral("taskset"), all);
    if (!curl.waitForFinished(600000) || curl.exitCode() != 0)
        throw std::runtime_error("curl failed: " + curl.readAllStandardError().toStdString());
    return curl.readAllStandardOutput().trimmed().toDouble();
}

// Seconds the client needs for connect, CWD, one transfer and disconnect.
double runClient(int port, bool upload, const std::string& localPath, const std::string& remoteName)
{
    velth::FtpClient client;
    client.setHost("127.0.0.1");
    client.setPort(port);
    client.setUser(kUser);
    client.setPassword(kPassword);
    velth::FtpResult failure;
    bool finished = false;
    QElapsedTimer timer;
    timer.start();
    client.connectToHost([&](const velth::FtpResult& r) {
        if (!r.ok()) {
            failure = r;
            finished = true;
            return;
        }
        client.changeDirectory("/", [&](const velth::FtpResult& r2) {
            if (!r2.ok()) {
                failure = r2;
                finished = true;
                return;
            }
            auto done = [&](const velth::FtpResult& r3) {
                failure = r3;
                finished = true;
            };
            if (upload)
                client.store(localPath, remoteName, done);
            else
                client.retrieve(remoteName, localPath, done);
        });
    });
    while (!finished)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    client.disconnect();
    if (!failure.ok())
        throw std::runtime_error(failure.message);
    return seconds;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const std::size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 256;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    const std::size_t bytes = mib << 20;

    const fs::path base = fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    const fs::path work = base / ("velth-ftp-bench-" + std::to_string(::getpid()));
    const fs::path root = work / "root";
    const fs::path local = work / "local";
    fs::create_directories(root);
    fs::create_directories(local);
    int status = 0;
    QProcess server;
    try {
        makeFile((root / "big.bin").string(), bytes);
        makeFile((local / "up.bin").string(), bytes);

        server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        server.start(QStringLiteral("taskset"),
            { QStringLiteral("-c"), QStringLiteral("1"), QStringLiteral("/usr/bin/python3"),
                QStringLiteral(VELTH_FTPSERVER_SCRIPT), QStringLiteral("--root"), QString::fromStdString(root.string()),
                QStringLiteral("--user"), QString::fromLatin1(kUser), QStringLiteral("--password"),
                QString::fromLatin1(kPassword), QStringLiteral("--exit-on-eof") });
        QByteArray out;
        while (!out.contains('\n')) {
            if (!server.waitForReadyRead(30000))
                throw std::runtime_error("the FTP server did not start");
            out += server.readAllStandardOutput();
        }
        const int port = out.mid(5, out.indexOf('\n') - 5).trimmed().toInt();
        const QString url = QStringLiteral("ftp://%1:%2@127.0.0.1:%3/")
                                .arg(QString::fromLatin1(kUser), QString::fromLatin1(kPassword))
                                .arg(port);
        pinToCpu(0);

        double curlDown = 1e9, clientDown = 1e9, curlUp = 1e9, clientUp = 1e9;
        const double mb = static_cast<double>(bytes) / 1e6;
        for (int round = 1; round <= rounds; ++round) {
            const double cd = runCurl({ QStringLiteral("-o"), QString::fromStdString((local / "curl.bin").string()),
                url + QStringLiteral("big.bin") });
            if (fs::file_size(local / "curl.bin") != bytes)
                throw std::runtime_error("curl's download is incomplete");
            fs::remove(local / "curl.bin");
            const double kd = runClient(port, false, (local / "down.bin").string(), "big.bin");
            if (fs::file_size(local / "down.bin") != bytes)
                throw std::runtime_error("the client's download is incomplete");
            fs::remove(local / "down.bin");
            const double cu = runCurl({ QStringLiteral("-T"), QString::fromStdString((local / "up.bin").string()),
                url + QStringLiteral("up_curl.bin") });
            const double ku = runClient(port, true, (local / "up.bin").string(), "up_client.bin");
            if (fs::file_size(root / "up_client.bin") != bytes)
                throw std::runtime_error("the client's upload is incomplete");
            std::printf(
                "round %d: download curl %.0f MB/s, client %.0f MB/s; upload curl %.0f MB/s, client %.0f MB/s\n", round,
                mb / cd, mb / kd, mb / cu, mb / ku);
            std::fflush(stdout);
            curlDown = std::min(curlDown, cd);
            clientDown = std::min(clientDown, kd);
            curlUp = std::min(curlUp, cu);
            clientUp = std::min(clientUp, ku);
        }
        std::printf(
            "best: download curl %.0f MB/s, client %.0f MB/s; upload curl %.0f MB/s, client %.0f MB/s (%zu MiB, "
            "files in %s)\n",
            mb / curlDown, mb / clientDown, mb / curlUp, mb / clientUp, mib, base.string().c_str());
        std::printf("download %.2fx curl, upload %.2fx curl\n", curlDown / clientDown, curlUp / clientUp);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "ftp_bench: %s\n", e.what());
        status = 1;
    }
    server.closeWriteChannel();
    server.terminate();
    server.waitForFinished(5000);
    std::error_code ec;
    fs::remove_all(work, ec);
    return status;
}
