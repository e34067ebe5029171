// Times the log page's scan with every view filled against the parser alone,
// on one log, and reports the peak memory of each.
//   velth-bench-scanlog FILE
#include "common/AppContext.h"
#include "common/Prompts.h"
#include "loganalysis/ChatViews.h"
#include "loganalysis/LogParser.h"
#include "profiles/ProfileStore.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPixmap>
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

} // namespace

int main(int argc, char** argv)
{
    Q_INIT_RESOURCE(skin);
    const std::string command = argc >= 3 ? argv[1] : "";
    if (!(argc == 3 && (command == "parser" || command == "scanlog")) && !(argc == 4 && command == "grab")) {
        std::fprintf(stderr,
            "usage: velth-bench-scanlog parser|scanlog FILE\n"
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
        const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
        std::printf("parser %.3f s cpu %.3f s peak %ld KiB (base %ld KiB) chat %zu\n", seconds, cpuSeconds() - cpu0,
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
    QApplication::processEvents();

    const double cpu0 = cpuSeconds();
    timer.start();
    views.ScanLog(QStringLiteral("bench.log"));
    QApplication::processEvents(); // the page repaints with "Global info" in front
    const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    if (mode == "grab") {
        for (int i = 2; i < tabs.count(); ++i) {
            tabs.setCurrentIndex(i);
            QApplication::processEvents();
            tabs.grab().save(QString::fromLocal8Bit(argv[3]) + QStringLiteral("/tab%1.png").arg(i));
        }
    }
    std::printf("scanlog %.3f s cpu %.3f s peak %ld KiB (base %ld KiB) status \"%s\"\n", seconds, cpuSeconds() - cpu0,
        peakRssKiB(), baseKiB, qPrintable(status.status()));
    std::filesystem::remove_all(folder);
    return 0;
}
