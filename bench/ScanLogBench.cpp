// Times the log page's scan with every view filled against the parser alone,
// on one log, and reports the peak memory of each.
//   velth-bench-scanlog parser FILE    the parser alone
//   velth-bench-scanlog page FILE      a scan as a double click runs it, the
//                                      first show of each chat tab, a second
//                                      scan after the tabs were shown
//   velth-bench-scanlog grab FILE DIR  pictures of the four tabs
#include "common/AppContext.h"
#include "common/Prompts.h"
#include "loganalysis/ChatModel.h"
#include "loganalysis/ChatViews.h"
#include "loganalysis/LogParser.h"
#include "profiles/ProfileStore.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPixmap>
#include <QScrollBar>
#include <QTabWidget>

#include <cstdio>
#include <filesystem>

#include <sys/resource.h>

namespace {

class NoStatus final : public velth::StatusLine
{
public:
    void setStatus(const QString& text) override { m_text = text; }
    QString status() const override { return m_text; }

private:
    QString m_text;
};

double cpuSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    auto seconds
        = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

long peakRssKiB()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

double seconds(const QElapsedTimer& timer)
{
    return static_cast<double>(timer.nsecsElapsed()) / 1e9;
}

// Everything the window does before the user can go on: pending events,
// layouts and the paint of what is on screen.
void settle(QWidget* window)
{
    QApplication::processEvents();
    window->repaint();
}

} // namespace

int main(int argc, char** argv)
{
    Q_INIT_RESOURCE(skin);
    const std::string command = argc >= 3 ? argv[1] : "";
    if (!(argc == 3 && (command == "parser" || command == "page")) && !(argc == 4 && command == "grab")) {
        std::fprintf(stderr,
            "usage: velth-bench-scanlog parser|page FILE\n"
            "       velth-bench-scanlog grab FILE FOLDER   (pictures of the four tabs)\n");
        return 2;
    }
    const std::string mode = argv[1];
    const std::filesystem::path file = std::filesystem::absolute(argv[2]);
    QApplication app(argc, argv);
    const long baseKiB = peakRssKiB();
    QElapsedTimer timer;
    if (mode == "parser") {
        const double cpu0 = cpuSeconds();
        timer.start();
        velth::LogParser parser;
        velth::scanLogFile(file.string(), parser);
        const double wall = seconds(timer);
        std::printf("parser %.3f s cpu %.3f s peak %ld KiB (base %ld KiB) chat %zu\n", wall, cpuSeconds() - cpu0,
            peakRssKiB(), baseKiB,
            parser.result().publicChat.size() + parser.result().tChat.size() + parser.result().ctChat.size());
        return 0;
    }
    // A program folder whose logs folder holds the file.
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / "velth-bench-program";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder / "logs");
    std::filesystem::create_symlink(file, folder / "logs" / "bench.log");
    velth::QtPrompts prompts;
    NoStatus status;
    velth::ProfileStore store(folder.string() + "/ftpserver.ini");
    velth::AppContext context(folder.string(), store, prompts, status);
    QTabWidget tabs;
    tabs.addTab(new QWidget, QStringLiteral("Download"));
    tabs.addTab(new QWidget, QStringLiteral("Local Files"));
    velth::ChatViews views(context, &tabs);
    tabs.resize(520, 407);
    tabs.setCurrentIndex(1);
    tabs.show();
    settle(&tabs);

    // The double click: the scan, and the page repainted with "Global info"
    // in front.
    double cpu0 = cpuSeconds();
    timer.start();
    views.ScanLog(QStringLiteral("bench.log"));
    settle(&tabs);
    const double first = seconds(timer);
    const double firstCpu = cpuSeconds() - cpu0;

    if (mode == "grab") {
        for (int i = 2; i < tabs.count(); ++i) {
            tabs.setCurrentIndex(i);
            settle(&tabs);
            QApplication::processEvents();
            tabs.grab().save(QString::fromLocal8Bit(argv[3]) + QStringLiteral("/tab%1.png").arg(i));
        }
        std::filesystem::remove_all(folder);
        return 0;
    }

    // The first show of each chat tab, then a scroll to its end.
    double shows[3] = {};
    double showsCpu[3] = {};
    double ends[3] = {};
    velth::ChatView* chats[3] = { views.PublicChat, views.TChat, views.CTChat };
    for (int i = 0; i < 3; ++i) {
        cpu0 = cpuSeconds();
        timer.start();
        tabs.setCurrentIndex(3 + i);
        settle(&tabs);
        shows[i] = seconds(timer);
        showsCpu[i] = cpuSeconds() - cpu0;
        timer.start();
        chats[i]->verticalScrollBar()->setValue(chats[i]->verticalScrollBar()->maximum());
        settle(&tabs);
        ends[i] = seconds(timer);
    }

    // A second double click, from the last chat tab.
    cpu0 = cpuSeconds();
    timer.start();
    views.ScanLog(QStringLiteral("bench.log"));
    settle(&tabs);
    const double second = seconds(timer);
    const double secondCpu = cpuSeconds() - cpu0;

    std::printf("page %.3f s cpu %.3f s peak %ld KiB (base %ld KiB) status \"%s\"\n", first, firstCpu, peakRssKiB(),
        baseKiB, qPrintable(status.status()));
    std::printf("tabs first show: public %.1f ms (cpu %.1f), T %.1f ms (cpu %.1f), CT %.1f ms (cpu %.1f) for %d, %d, "
                "%d lines; scroll to the end %.1f, %.1f, %.1f ms\n",
        shows[0] * 1e3, showsCpu[0] * 1e3, shows[1] * 1e3, showsCpu[1] * 1e3, shows[2] * 1e3, showsCpu[2] * 1e3,
        chats[0]->model()->rowCount(), chats[1]->model()->rowCount(), chats[2]->model()->rowCount(), ends[0] * 1e3,
        ends[1] * 1e3, ends[2] * 1e3);
    std::printf("second scan %.3f s cpu %.3f s\n", second, secondCpu);
    std::filesystem::remove_all(folder);
    return 0;
}
