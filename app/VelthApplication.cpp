#include "app/VelthApplication.h"

#include "common/ErrorReport.h"

namespace velth {

VelthApplication::VelthApplication(int& argc, char** argv)
    : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("Velth Control Center"));
    setApplicationDisplayName(QStringLiteral("Velth Control Center"));
}

bool VelthApplication::notify(QObject* receiver, QEvent* event)
{
    bool handled = false;
    runGuarded([&] { handled = QApplication::notify(receiver, event); });
    return handled;
}

} // namespace velth
