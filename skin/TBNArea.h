#pragma once

#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

class QSystemTrayIcon;

namespace velth {

class TTBNArea;

// What changed, for OnChanging / OnChange.
enum class TChangeKind { ckIcon = 0, ckTip = 1 };

// One request to the desktop's notification area, as the icon record carries
// it: the icon identifier, which parts the request concerns, icon and tip.
struct NotifyIconRequest
{
    enum class Operation { Add = 0, Modify = 1, Delete = 2 };
    static constexpr unsigned kMessage = 1;
    static constexpr unsigned kIcon = 2;
    static constexpr unsigned kTip = 4;

    Operation operation = Operation::Add;
    unsigned id = 1;
    unsigned flags = 0;
    QIcon icon;
    QString tip;
};

// The notification area itself. The program's own drives QSystemTrayIcon;
// tests put a recorder in its place.
class NotificationArea
{
public:
    virtual ~NotificationArea() = default;
    // Results are not examined: a refused request is neither retried nor reported.
    virtual void request(const NotifyIconRequest& request) = 0;
    // Whether the desktop has a notification area right now. Many have none
    // (bare X servers, GNOME without an extension, some Wayland sessions), and
    // one may come or go while the program runs.
    virtual bool available() const { return true; }
};

// The program's icon in the desktop's notification area, with a tip; pointer
// actions on it become LeftClick, RightClick and DblClick. Where the desktop
// has no notification area the requests go nowhere and the program runs on;
// the area is looked for every two seconds, and when one appears the icon is
// added to it (AvailableChanged tells the window either way).
class TTBNArea : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TTBNArea)

public:
    // The longest tip the notification area holds.
    static constexpr int kMaxTip = 63;

    // Uses the system's notification area (QSystemTrayIcon).
    explicit TTBNArea(QObject* parent = nullptr);
    // Uses the given notification area.
    TTBNArea(std::unique_ptr<NotificationArea> area, QObject* parent);
    ~TTBNArea() override;

    // Makes the notification area every TTBNArea created afterwards without an
    // explicit one uses (for tests); an empty function restores the system's.
    using AreaFactory = std::function<std::unique_ptr<NotificationArea>(TTBNArea&)>;
    static void setAreaFactory(AreaFactory factory);

    // Called once its window has been set up: puts the icon into the
    // notification area if enabled.
    void Loaded();

    // Whether the desktop shows the icon: there is a notification area.
    bool Available() const { return m_available; }
    // Looks at the notification area now (the timer does so every two seconds).
    void checkAvailable();

    bool Enabled() const { return m_enabled; }
    void setEnabled(bool value);
    const QIcon& Icon() const { return m_icon; }
    void setIcon(const QIcon& icon);
    // The icon as stored with the window, taken before Loaded without events
    // or requests.
    void loadIcon(const QIcon& icon) { m_icon = icon; }
    const QString& Tip() const { return m_tip; }
    // Tips longer than kMaxTip characters are cut.
    void setTip(const QString& tip);

    QMenu* PopupMenuL() const { return m_popupMenuL; }
    void setPopupMenuL(QMenu* menu) { m_popupMenuL = menu; }
    QMenu* PopupMenuR() const { return m_popupMenuR; }
    void setPopupMenuR(QMenu* menu) { m_popupMenuR = menu; }
    bool PopupOnBoth() const { return m_popupOnBoth; }
    void setPopupOnBoth(bool value) { m_popupOnBoth = value; }

    // Asked before the icon or the tip changes; setting allow to false refuses.
    std::function<void(TTBNArea& sender, TChangeKind kind, bool& allow)> OnChanging;

    // Pointer actions on the icon (the notification area reports them).
    virtual void LeftClick();
    virtual void RightClick();
    virtual void DblClick();

Q_SIGNALS:
    void OnChange(velth::TChangeKind kind);
    void OnLeftClick();
    void OnRightClick();
    void OnDblClick();
    // The desktop's notification area appeared or went away.
    void AvailableChanged(bool available);

protected:
    virtual void Change(TChangeKind kind);
    virtual void Changing(TChangeKind kind, bool& allow);
    // Shows a menu at the pointer and returns when it has closed.
    virtual void showMenu(QMenu* menu);

private:
    void send(NotifyIconRequest::Operation operation, unsigned flags);
    void watchArea();

    std::unique_ptr<NotificationArea> m_area;
    QPointer<QMenu> m_popupMenuL;
    QPointer<QMenu> m_popupMenuR;
    QIcon m_icon;
    QString m_tip;
    bool m_enabled = true;
    bool m_popupOnBoth = false;
    bool m_available = false;
    bool m_loaded = false;
};

} // namespace velth
