#include "skin/SkinPicture.h"

#include <QGuiApplication>

namespace velth {

QImage skinImage(const QString& name, int scale)
{
    QString file = QStringLiteral(":/skin/") + name;
    if (scale != 1)
        file.insert(file.lastIndexOf(QLatin1Char('.')), QStringLiteral("@%1x").arg(scale));
    return QImage(file);
}

QPixmap skinPixmap(const QString& name)
{
    // The highest ratio of all screens: a window moved to the sharper screen
    // keeps its pictures sharp, and a sharp picture scaled down loses little.
    if (qApp != nullptr && qApp->devicePixelRatio() > 1) {
        QPixmap sharp = QPixmap::fromImage(skinImage(name, 2));
        if (!sharp.isNull()) {
            sharp.setDevicePixelRatio(2);
            return sharp;
        }
    }
    return QPixmap::fromImage(skinImage(name, 1));
}

} // namespace velth
