// The live log's two figures:
//   velth-bench-livelog fold FILE [ROUNDS]
//       the fold's cost per line as the lines come (each one a datagram read
//       by the receiver's rule, then folded and kept, with the trims the
//       bound of kept lines brings) against the scan of the same file;
//       best of ROUNDS (default 3)
//   velth-bench-livelog stall FILE [SECONDS] [RATE]
//       the Chat parser page live on the game-server emulator, which replays
//       FILE at RATE lines a second (default 5000) for SECONDS (default 45):
//       the longest gap between two turns of a 1 ms timer of the window's
//       event loop (its longest stall), with the public chat shown
#include "common/AppContext.h"
#include "common/Prompts.h"
#include "loganalysis/ChatFrame.h"
#include "loganalysis/ChatViews.h"
#include "loganalysis/LiveFold.h"
#include "loganalysis/LiveLog.h"
#include "loganalysis/LogParser.h"
#include "net/LogReceiver.h"
#include "profiles/ProfileStore.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QProcess>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QUdpSocket>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

class NoStatus final : public velth::StatusLine
{
public:
    void setStatus(const QString& text) override { m_text = text; }
    QString status() const override { return m_text; }

private:
    QString m_text;
};

class NoPrompts final : public velth::Prompts
{
public:
    void errorBox(const QString& text) override { std::fprintf(stderr, "error box: %s\n", qPrintable(text)); }
    bool confirm(const QString&) override { return false; }
    std::optional<QString> inputText(const QString&, const QString&, int) override { return std::nullopt; }
    std::optional<QString> saveFileName(const QString&, const QString&, const QString&) override
    {
        return std::nullopt;
    }
    void errorReport(const QString& message) override
    {
        std::fprintf(stderr, "error: %s\n", qPrintable(message));
        std::exit(1);
    }
};

double nsPerLine(const QElapsedTimer& timer, std::size_t lines)
{
    return static_cast<double>(timer.nsecsElapsed()) / static_cast<double>(std::max<std::size_t>(lines, 1));
}

int fold(const std::string& path, int rounds)
{
    // The datagrams as the engine sends them, read from the file beforehand
    // into one buffer, as the socket's receive buffer holds them.
    std::string datagramBytes;
    std::vector<std::size_t> ends;
    {
        velth::LogFileReader reader(path);
        std::string_view line;
        while (reader.nextLine(line)) {
            if (line.empty())
                continue;
            datagramBytes += "\xFF\xFF\xFF\xFFlog ";
            datagramBytes += line;
            datagramBytes += '\n';
            datagramBytes += '\0';
            ends.push_back(datagramBytes.size());
        }
    }
    // As the page runs it: each datagram read by the receiver's rule into
    // its queue, and the queue folded every 250 lines (a 50 ms turn at
    // 5,000 lines a second).
    const auto liveRun = [&](velth::LiveFold::Limits limits, std::uint64_t& dropped) {
        QElapsedTimer timer;
        timer.start();
        velth::LiveFold live(limits);
        velth::LogLineBatch queue;
        const auto flush = [&] {
            for (std::size_t i = 0; i < queue.size(); ++i) {
                live.add(queue[i]);
                if (live.full())
                    live.trim();
            }
            queue.clear();
        };
        std::size_t begin = 0;
        for (const std::size_t end : ends) {
            const velth::LogDatagram datagram
                = velth::readLogDatagram(std::string_view(datagramBytes).substr(begin, end - begin), {});
            begin = end;
            if (datagram.kind == velth::LogDatagramKind::Line)
                queue.add(datagram.line);
            if (queue.size() == 250)
                flush();
        }
        flush();
        dropped = live.droppedLines();
        return nsPerLine(timer, ends.size());
    };
    double bestFile = 1e30;
    double bestLive = 1e30;
    double bestBounded = 1e30;
    std::size_t fileLines = 0;
    std::uint64_t dropped = 0;
    std::uint64_t none = 0;
    for (int round = 0; round < rounds; ++round) {
        QElapsedTimer timer;
        timer.start();
        velth::LogParser parser;
        velth::scanLogFile(path, parser);
        fileLines = parser.lineCount();
        bestFile = std::min(bestFile, nsPerLine(timer, fileLines));
        bestLive = std::min(bestLive, liveRun({ SIZE_MAX, SIZE_MAX }, none));
        bestBounded = std::min(bestBounded, liveRun({}, dropped));
    }
    std::printf("lines: %zu (file), %zu (datagrams)\n", fileLines, ends.size());
    std::printf("file scan:                  %7.1f ns/line\n", bestFile);
    std::printf("live fold, below the bound: %7.1f ns/line  %.2fx (goal <= 1.5x)\n", bestLive, bestLive / bestFile);
    std::printf("live fold with its trims:   %7.1f ns/line  %.2fx (the bound of %zu lines dropped %llu)\n", bestBounded,
        bestBounded / bestFile, velth::LiveFold::Limits().maxLines, static_cast<unsigned long long>(dropped));
    return 0;
}

int stall(const std::string& path, int seconds, double rate)
{
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString() + "/";
    QProcess server;
    server.start(QStringLiteral("/usr/bin/python3"),
        { QStringLiteral(VELTH_GAMESERVER_SCRIPT), QStringLiteral("--rcon-password"), QStringLiteral("pw"),
            QStringLiteral("--replay-log"), QString::fromStdString(path), QStringLiteral("--rate"),
            QString::number(rate) });
    if (!server.waitForReadyRead(20000)) {
        std::fprintf(stderr, "the emulator did not start\n");
        return 1;
    }
    const QList<QByteArray> ready = server.readLine().trimmed().split(' ');
    if (ready.size() < 2 || ready[0] != "READY") {
        std::fprintf(stderr, "the emulator said: %s\n", ready.join(' ').constData());
        return 1;
    }
    const int gamePort = ready[1].toInt();
    int logPort = 0;
    {
        QUdpSocket probe;
        probe.bind(QHostAddress::Any, 0);
        logPort = probe.localPort();
    }
    velth::ProfileStore store(folder + "ftpserver.ini");
    store.writeString("srv", "HOST", "127.0.0.1");
    store.writeInt("srv", "GAMEPORT", gamePort);
    store.writeString("srv", "rconpass", "pw");
    store.writeString("srv", "LOGADDRESS", "127.0.0.1");
    store.writeInt("srv", "LOGPORT", logPort);
    NoStatus status;
    NoPrompts prompts;
    velth::AppContext context(folder, store, prompts, status);
    velth::TchatFrame page(context);
    page.setProfileNames({ "srv" });
    page.FTPServer->setCurrentIndex(0);
    page.resize(800, 600);
    page.show();
    page.Live->BLiveClick();
    page.MainControl->setCurrentWidget(page.Views->PublicChatTab);

    QElapsedTimer sinceTick;
    QElapsedTimer running;
    qint64 longest = 0;
    qint64 longestAt = 0;
    std::uint64_t longestLines = 0;
    qint64 ticks = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(1);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        if (sinceTick.isValid() && sinceTick.nsecsElapsed() > longest) {
            longest = sinceTick.nsecsElapsed();
            longestAt = running.elapsed();
            longestLines = page.Live->fold().lineCount() + page.Live->fold().droppedLines();
        }
        sinceTick.start();
        ++ticks;
        if (running.elapsed() >= seconds * 1000LL)
            QCoreApplication::quit();
    });
    running.start();
    tick.start();
    QCoreApplication::exec();
    const velth::LiveFold& fold = page.Live->fold();
    const velth::LogReceiver::Counts& counts = page.Live->receiver().counts();
    std::printf("%d s at %.0f lines/s: %zu lines kept, %llu dropped by the bound, %llu lost in the queue, "
                "%lld timer turns\n",
        seconds, rate, fold.lineCount(), static_cast<unsigned long long>(fold.droppedLines()),
        static_cast<unsigned long long>(counts.overflow), static_cast<long long>(ticks));
    std::printf("longest event-loop stall: %.1f ms (goal < 50 ms), %.1f s in, after %llu lines\n",
        static_cast<double>(longest) / 1e6, static_cast<double>(longestAt) / 1e3,
        static_cast<unsigned long long>(longestLines));
    page.Live->BStopClick();
    server.closeWriteChannel();
    server.waitForFinished(5000);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s fold FILE [ROUNDS] | stall FILE [SECONDS] [RATE]\n", argv[0]);
        return 64;
    }
    const std::string mode = argv[1];
    const std::string file = argv[2];
    if (mode == "fold")
        return fold(file, argc > 3 ? std::atoi(argv[3]) : 3);
    if (mode == "stall") {
        qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("offscreen"));
        QApplication app(argc, argv);
        return stall(file, argc > 3 ? std::atoi(argv[3]) : 45, argc > 4 ? std::atof(argv[4]) : 5000);
    }
    std::fprintf(stderr, "unknown mode %s\n", mode.c_str());
    return 64;
}
