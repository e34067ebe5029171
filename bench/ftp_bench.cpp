// Throughput of the program's FTP client against the curl command-line tool,
// side by side in one run: a 256 MiB download and upload in active mode
// against pyftpdlib on loopback, then the same over FTPS (explicit TLS,
// passive, pyftpdlib's TLS handler) and SFTP (paramiko). The server runs on CPU 1, curl and this
// client on CPU 0, so both see the same conditions. Files live on tmpfs when
// there is one, so the disk does not blur the comparison (the client syncs
// a finished download to disk before it renames it into place; curl does not).
//
// Usage: ftp_bench [size in MiB, 256] [rounds, 8]; on loopback a 256 MiB
// transfer takes a tenth of a second, so a best of fewer rounds is mostly noise.
// Last line: "download D.DDx curl, upload U.UUx curl, small-file action
// S.SSx curl's time; ftps download ..., upload ...; sftp download ...,
// upload ..." (client throughput divided by curl's, best round of each; the
// small-file action is a whole connect-to-close 24-byte download, the
// client's time divided by curl's, best of 30).
#include "net/FtpClient.h"
#include "net/ServerIdentity.h"

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
#include <iterator>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>

#include <sched.h>
#include <unistd.h>

#ifndef VELTH_FTPSERVER_SCRIPT
#error "VELTH_FTPSERVER_SCRIPT must name tests/support/ftpserver.py"
#endif
#ifndef VELTH_SFTPSERVER_SCRIPT
#error "VELTH_SFTPSERVER_SCRIPT must name tests/support/sftpserver.py"
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

using velth::ConnectionKind;

// One server of a kind: where it listens and what the client accepts of it.
struct Target
{
    ConnectionKind kind = ConnectionKind::FtpActive;
    int port = 0;
    std::optional<velth::ServerIdentity> trusted;
};

// Seconds curl needs for one transfer (its own measure, without start-up).
// The same kind of connection as the client's; curl's -k stands for the
// fingerprint the client was given.
double runCurl(ConnectionKind kind, const QStringList& args)
{
    QProcess curl;
    QStringList all{ QStringLiteral("-c"), QStringLiteral("0"), QStringLiteral("curl"), QStringLiteral("-sS"),
        QStringLiteral("-w"), QStringLiteral("%{time_total}") };
    if (kind == ConnectionKind::FtpActive)
        all << QStringLiteral("--ftp-port") << QStringLiteral("-");
    else
        all << QStringLiteral("-k");
    // The TLS version the client uses (the test server, like proftpd, takes
    // only data connections that resume the login's session).
    if (kind == ConnectionKind::FtpsExplicit)
        all << QStringLiteral("--ssl-reqd") << QStringLiteral("--tls-max") << QStringLiteral("1.2");
    all << args;
    curl.start(QStringLiteral("taskset"), all);
    if (!curl.waitForFinished(600000) || curl.exitCode() != 0)
        throw std::runtime_error("curl failed: " + curl.readAllStandardError().toStdString());
    return curl.readAllStandardOutput().trimmed().toDouble();
}

// Seconds the client needs for connect, CWD, one transfer and disconnect.
double runClient(const Target& target, bool upload, const std::string& localPath, const std::string& remoteName)
{
    velth::FtpClient client;
    client.setServer({ target.kind, "127.0.0.1", target.port, kUser, kPassword }, target.trusted);
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

// Starts the server of a kind on CPU 1 and reads its port (and host key).
Target startServer(QProcess& server, ConnectionKind kind, const fs::path& root, const fs::path& work)
{
    const bool sftp = kind == ConnectionKind::Sftp;
    QStringList args{ QStringLiteral("-c"), QStringLiteral("1"), QStringLiteral("/usr/bin/python3"),
        sftp ? QStringLiteral(VELTH_SFTPSERVER_SCRIPT) : QStringLiteral(VELTH_FTPSERVER_SCRIPT),
        QStringLiteral("--root"), QString::fromStdString(root.string()), QStringLiteral("--user"),
        QString::fromLatin1(kUser), QStringLiteral("--password"), QString::fromLatin1(kPassword),
        QStringLiteral("--exit-on-eof") };
    const fs::path identity = work / (sftp ? "host_key" : "cert.pem");
    if (sftp)
        args << QStringLiteral("--host-key") << QString::fromStdString(identity.string());
    if (kind == ConnectionKind::FtpsExplicit)
        args << QStringLiteral("--tls") << QStringLiteral("explicit") << QStringLiteral("--cert")
             << QString::fromStdString(identity.string());
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server.start(QStringLiteral("taskset"), args);
    QByteArray out;
    while (!out.contains('\n')) {
        if (!server.waitForReadyRead(30000))
            throw std::runtime_error("the server did not start");
        out += server.readAllStandardOutput();
    }
    const QList<QByteArray> words = out.left(out.indexOf('\n')).trimmed().split(' ');
    Target target;
    target.kind = kind;
    target.port = words.value(1).toInt();
    if (sftp)
        target.trusted = velth::ServerIdentity{ words.value(2).toStdString(), {} };
    if (kind == ConnectionKind::FtpsExplicit) {
        std::ifstream file(identity, std::ios::binary);
        const std::string pem((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        if (const auto der = velth::certificateFromPem(pem))
            target.trusted = velth::certificateIdentity(*der);
    }
    return target;
}

struct Ratios
{
    double download = 0;
    double upload = 0;
    // A whole small action (connect, log in, CWD, a 24-byte RETR, close):
    // the client's time divided by curl's, best of 30 each.
    double smallAction = 0;
};

// The rounds against one server: curl and the client take turns.
Ratios benchKind(ConnectionKind kind, const fs::path& root, const fs::path& local, const fs::path& work,
    std::size_t bytes, int rounds)
{
    QProcess server;
    const Target target = startServer(server, kind, root, work);
    const QString scheme = kind == ConnectionKind::Sftp ? QStringLiteral("sftp") : QStringLiteral("ftp");
    const QString url = QStringLiteral("%1://%2:%3@127.0.0.1:%4/")
                            .arg(scheme, QString::fromLatin1(kUser), QString::fromLatin1(kPassword))
                            .arg(target.port);
    const char* name = kind == ConnectionKind::FtpActive ? "ftp" : kind == ConnectionKind::Sftp ? "sftp" : "ftps";
    double curlDown = 1e9, clientDown = 1e9, curlUp = 1e9, clientUp = 1e9;
    const double mb = static_cast<double>(bytes) / 1e6;
    for (int round = 1; round <= rounds; ++round) {
        const double cd = runCurl(kind,
            { QStringLiteral("-o"), QString::fromStdString((local / "curl.bin").string()),
                url + QStringLiteral("big.bin") });
        if (fs::file_size(local / "curl.bin") != bytes)
            throw std::runtime_error("curl's download is incomplete");
        fs::remove(local / "curl.bin");
        const double kd = runClient(target, false, (local / "down.bin").string(), "big.bin");
        if (fs::file_size(local / "down.bin") != bytes)
            throw std::runtime_error("the client's download is incomplete");
        fs::remove(local / "down.bin");
        const double cu = runCurl(kind,
            { QStringLiteral("-T"), QString::fromStdString((local / "up.bin").string()),
                url + QStringLiteral("up_curl.bin") });
        const double ku = runClient(target, true, (local / "up.bin").string(), "up_client.bin");
        if (fs::file_size(root / "up_client.bin") != bytes)
            throw std::runtime_error("the client's upload is incomplete");
        std::printf("%s round %d: download curl %.0f MB/s, client %.0f MB/s; upload curl %.0f MB/s, client %.0f MB/s\n",
            name, round, mb / cd, mb / kd, mb / cu, mb / ku);
        std::fflush(stdout);
        curlDown = std::min(curlDown, cd);
        clientDown = std::min(clientDown, kd);
        curlUp = std::min(curlUp, cu);
        clientUp = std::min(clientUp, ku);
    }
    std::printf("%s best: download curl %.0f MB/s, client %.0f MB/s; upload curl %.0f MB/s, client %.0f MB/s\n", name,
        mb / curlDown, mb / clientDown, mb / curlUp, mb / clientUp);
    double curlSmall = 1e9, clientSmall = 1e9;
    for (int round = 0; round < 30; ++round) {
        curlSmall = std::min(curlSmall,
            runCurl(kind,
                { QStringLiteral("-o"), QString::fromStdString((local / "small_curl.txt").string()),
                    url + QStringLiteral("small.txt") }));
        clientSmall = std::min(clientSmall, runClient(target, false, (local / "small.txt").string(), "small.txt"));
    }
    std::printf(
        "%s small-file action: curl %.1f ms, client %.1f ms (best of 30)\n", name, curlSmall * 1e3, clientSmall * 1e3);
    server.closeWriteChannel();
    server.terminate();
    server.waitForFinished(5000);
    return { curlDown / clientDown, curlUp / clientUp, clientSmall / curlSmall };
}

} // namespace

// Plain FTP (active) first, then FTPS (explicit TLS, passive) and SFTP, each
// against its own server on the same files. Last line: the plain FTP ratios,
// then those of FTPS and SFTP.
int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const std::size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 256;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 8;
    const std::size_t bytes = mib << 20;

    const fs::path base = fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    const fs::path work = base / ("velth-ftp-bench-" + std::to_string(::getpid()));
    const fs::path root = work / "root";
    const fs::path local = work / "local";
    fs::create_directories(root);
    fs::create_directories(local);
    int status = 0;
    try {
        makeFile((root / "big.bin").string(), bytes);
        makeFile((local / "up.bin").string(), bytes);
        std::ofstream((root / "small.txt").string(), std::ios::binary) << "L 10/20/2003 - 20:13:52\n";
        pinToCpu(0);
        const Ratios ftp = benchKind(ConnectionKind::FtpActive, root, local, work, bytes, rounds);
        const Ratios ftps = benchKind(ConnectionKind::FtpsExplicit, root, local, work, bytes, rounds);
        const Ratios sftp = benchKind(ConnectionKind::Sftp, root, local, work, bytes, rounds);
        std::printf("(%zu MiB, files in %s)\n", mib, base.string().c_str());
        std::printf("download %.2fx curl, upload %.2fx curl, small-file action %.2fx curl's time; ftps download %.2fx, "
                    "upload %.2fx; sftp download %.2fx, upload %.2fx\n",
            ftp.download, ftp.upload, ftp.smallAction, ftps.download, ftps.upload, sftp.download, sftp.upload);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "ftp_bench: %s\n", e.what());
        status = 1;
    }
    std::error_code ec;
    fs::remove_all(work, ec);
    return status;
}
