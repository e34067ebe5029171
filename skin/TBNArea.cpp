#include "skin/TBNArea.h"

#include <QSystemTrayIcon>

namespace velth {

TTBNArea::TTBNArea(QObject* parent)
    : QObject(parent)
{
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        m_tray = new QSystemTrayIcon(this);
        connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::Trigger)
                Q_EMIT LeftClick();
        });
    }
}

TTBNArea::~TTBNArea() = default;

void TTBNArea::setIcon(const QIcon& icon)
{
    if (m_tray) {
        m_tray->setIcon(icon);
        m_tray->show();
    }
}

void TTBNArea::setTip(const QString& tip)
{
    if (m_tray)
        m_tray->setToolTip(tip);
}

} // namespace velth
