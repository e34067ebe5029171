#pragma once

#include <QIcon>
#include <QObject>

class QSystemTrayIcon;

namespace velth {

// The program's icon in the desktop's notification area.
class TTBNArea : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TTBNArea)

public:
    explicit TTBNArea(QObject* parent = nullptr);
    ~TTBNArea() override;

    void setIcon(const QIcon& icon);
    void setTip(const QString& tip);

Q_SIGNALS:
    void LeftClick();

private:
    QSystemTrayIcon* m_tray = nullptr;
};

} // namespace velth
