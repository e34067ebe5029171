#include "app/VelthApplication.h"

#include "common/ErrorReport.h"

#include <QIcon>

namespace velth {

VelthApplication::VelthApplication(int& argc, char** argv)
    : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("Velth Control Center"));
    setApplicationDisplayName(QStringLiteral("Velth Control Center"));
    // Ties the window to the installed menu entry; the installed icon theme
    // gives the window its icon, the tray picture where none is installed.
    setDesktopFileName(QStringLiteral("org.velth.ControlCenter"));
    setWindowIcon(
        QIcon::fromTheme(QStringLiteral("org.velth.ControlCenter"), QIcon(QStringLiteral(":/skin/tray.png"))));
}

bool VelthApplication::notify(QObject* receiver, QEvent* event)
{
    bool handled = false;
    runGuarded([&] { handled = QApplication::notify(receiver, event); });
    return handled;
}

} // namespace velth
