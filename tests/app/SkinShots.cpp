// Pictures of the main window for reviewing the skin: the About page, a
// button under the pointer, a pressed button, and every page selected.
// Usage: velth-skin-shots <output folder>   (any platform; offscreen works)
#include "app/MainForm.h"
#include "app/VelthApplication.h"
#include "common/ErrorReport.h"
#include "common/Prompts.h"
#include "skin/CoolButton.h"

#include <QDir>
#include <QEnterEvent>
#include <QFile>
#include <QMouseEvent>
#include <QTemporaryDir>

#include <cstdio>

using namespace velth;

namespace {

void pointAt(TCoolButton* button, const QPoint& at, bool press)
{
    const QPointF local(at);
    const QPointF global(button->mapToGlobal(at));
    QEnterEvent enter(local, local, global);
    QApplication::sendEvent(button, &enter);
    QMouseEvent move(QEvent::MouseMove, local, global, Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(button, &move);
    if (press) {
        QMouseEvent down(QEvent::MouseButtonPress, local, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(button, &down);
    }
}

void leave(TCoolButton* button)
{
    QEvent leaveEvent(QEvent::Leave);
    QApplication::sendEvent(button, &leaveEvent);
}

} // namespace

int main(int argc, char** argv)
{
    Q_INIT_RESOURCE(skin);
    VelthApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(out);

    QTemporaryDir folder;
    const QString base = folder.path() + QLatin1Char('/');
    QFile::copy(QStringLiteral(VELTH_SOURCE_DIR "/resources/mapcycle.txt"), base + QStringLiteral("mapcycle.txt"));
    QFile ini(base + QStringLiteral("ftpserver.ini"));
    if (ini.open(QIODevice::WriteOnly))
        ini.write("[Clan server]\r\nHOST=127.0.0.1\r\nPORT=21\r\nUSER=hlds\r\nPASS=secret\r\nHLDS=/hlds\r\n"
                  "[Public 24/7 dust2]\r\nHOST=10.0.0.2\r\nPORT=2121\r\nUSER=admin\r\nPASS=x\r\nHLDS=/srv/hlds\r\n");
    ini.close();

    QtPrompts prompts;
    setErrorReportPrompts(&prompts);
    TMainForm window(base.toStdString(), prompts);
    window.show();
    QApplication::processEvents();

    auto shot = [&](const char* name) {
        QApplication::processEvents();
        const QString path = out + QStringLiteral("/skin-") + QLatin1String(name) + QStringLiteral(".png");
        window.grab().save(path);
        std::printf("%s\n", qPrintable(path));
    };

    shot("about-start");
    pointAt(window.BSettings, QPoint(25, 25), false);
    shot("hover-settings");
    leave(window.BSettings);
    pointAt(window.BExit2, QPoint(11, 11), false);
    shot("hover-exit");
    leave(window.BExit2);
    pointAt(window.BCfg, QPoint(25, 25), true);
    shot("pressed-cfg");
    QMouseEvent up(QEvent::MouseButtonRelease, QPointF(200, 200), window.BCfg->mapToGlobal(QPointF(200, 200)),
        Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(window.BCfg, &up); // released outside: no click
    leave(window.BCfg);

    window.setStatus(QStringLiteral("Ready."));
    window.BChatClick();
    shot("page-chat");
    window.BCfgClick();
    shot("page-cfg");
    window.BUserClick();
    shot("page-user");
    window.BMapCycleClick();
    shot("page-mapcycle");
    window.BSettingsClick();
    shot("page-settings");
    window.BAboutClick();
    pointAt(window.BChat, QPoint(25, 25), false);
    shot("page-about-hover-chat");
    return 0;
}
