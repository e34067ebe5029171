#include "skin/TBNArea.h"

#include <QCursor>
#include <QSystemTrayIcon>
#include <QTimer>

namespace velth {

namespace {

// The desktop's notification area through Qt. Without one (offscreen, some
// desktops) every request is dropped; the icon is made when one is there.
class SystemTray final : public NotificationArea
{
public:
    explicit SystemTray(TTBNArea& owner)
        : m_owner(owner)
    { }

    bool available() const override { return QSystemTrayIcon::isSystemTrayAvailable(); }

    void request(const NotifyIconRequest& request) override
    {
        if (!m_tray && request.operation == NotifyIconRequest::Operation::Add && available())
            makeIcon();
        if (!m_tray)
            return;
        switch (request.operation) {
        case NotifyIconRequest::Operation::Add:
            m_tray->setIcon(request.icon);
            m_tray->setToolTip(request.tip);
            m_tray->show();
            break;
        case NotifyIconRequest::Operation::Modify:
            // Like the platform, refuse changes to an icon that is not there.
            if (!m_tray->isVisible())
                break;
            if (request.flags & NotifyIconRequest::kIcon)
                m_tray->setIcon(request.icon);
            if (request.flags & NotifyIconRequest::kTip)
                m_tray->setToolTip(request.tip);
            break;
        case NotifyIconRequest::Operation::Delete:
            m_tray->hide();
            break;
        }
    }

private:
    void makeIcon()
    {
        m_tray = std::make_unique<QSystemTrayIcon>();
        TTBNArea& owner = m_owner;
        QObject::connect(
            m_tray.get(), &QSystemTrayIcon::activated, &owner, [&owner](QSystemTrayIcon::ActivationReason reason) {
                switch (reason) {
                case QSystemTrayIcon::Trigger:
                    owner.LeftClick();
                    break;
                case QSystemTrayIcon::DoubleClick:
                    owner.DblClick();
                    break;
                case QSystemTrayIcon::Context:
                    owner.RightClick();
                    break;
                default:
                    break;
                }
            });
    }

    TTBNArea& m_owner;
    std::unique_ptr<QSystemTrayIcon> m_tray;
};

TTBNArea::AreaFactory& areaFactory()
{
    static TTBNArea::AreaFactory factory;
    return factory;
}

} // namespace

void TTBNArea::setAreaFactory(AreaFactory factory)
{
    areaFactory() = std::move(factory);
}

TTBNArea::TTBNArea(QObject* parent)
    : QObject(parent)
{
    if (areaFactory())
        m_area = areaFactory()(*this);
    else
        m_area = std::make_unique<SystemTray>(*this);
    watchArea();
}

TTBNArea::TTBNArea(std::unique_ptr<NotificationArea> area, QObject* parent)
    : QObject(parent)
    , m_area(std::move(area))
{
    watchArea();
}

void TTBNArea::watchArea()
{
    m_available = m_area && m_area->available();
    // Desktops announce no change of their notification area to Qt: look.
    auto* poll = new QTimer(this);
    connect(poll, &QTimer::timeout, this, &TTBNArea::checkAvailable);
    poll->start(2000);
}

TTBNArea::~TTBNArea()
{
    if (m_enabled)
        send(NotifyIconRequest::Operation::Delete,
            NotifyIconRequest::kMessage | NotifyIconRequest::kIcon | NotifyIconRequest::kTip);
}

void TTBNArea::send(NotifyIconRequest::Operation operation, unsigned flags)
{
    if (!m_area)
        return;
    NotifyIconRequest request;
    request.operation = operation;
    request.flags = flags;
    request.icon = m_icon;
    request.tip = m_tip;
    m_area->request(request);
}

void TTBNArea::checkAvailable()
{
    const bool available = m_area && m_area->available();
    if (available == m_available)
        return;
    m_available = available;
    // A notification area that appears holds nothing of ours yet; one that
    // went away took the icon with it.
    if (m_loaded && m_enabled)
        send(available ? NotifyIconRequest::Operation::Add : NotifyIconRequest::Operation::Delete,
            NotifyIconRequest::kMessage | NotifyIconRequest::kIcon | NotifyIconRequest::kTip);
    Q_EMIT AvailableChanged(available);
}

void TTBNArea::Loaded()
{
    m_loaded = true;
    if (m_enabled)
        send(NotifyIconRequest::Operation::Add,
            NotifyIconRequest::kMessage | NotifyIconRequest::kIcon | NotifyIconRequest::kTip);
}

void TTBNArea::setEnabled(bool value)
{
    if (value == m_enabled)
        return;
    m_enabled = value;
    send(value ? NotifyIconRequest::Operation::Add : NotifyIconRequest::Operation::Delete,
        NotifyIconRequest::kMessage | NotifyIconRequest::kIcon | NotifyIconRequest::kTip);
}

void TTBNArea::setIcon(const QIcon& icon)
{
    if (icon.cacheKey() == m_icon.cacheKey())
        return;
    bool allow = true;
    Changing(TChangeKind::ckIcon, allow);
    if (!allow)
        return;
    m_icon = icon;
    if (m_enabled) {
        send(NotifyIconRequest::Operation::Modify, NotifyIconRequest::kIcon);
        Change(TChangeKind::ckIcon);
    }
}

void TTBNArea::setTip(const QString& tip)
{
    const QString cut = tip.left(kMaxTip);
    if (cut == m_tip)
        return;
    bool allow = true;
    Changing(TChangeKind::ckTip, allow);
    if (!allow)
        return;
    m_tip = cut;
    if (m_enabled) {
        send(NotifyIconRequest::Operation::Modify, NotifyIconRequest::kTip);
        Change(TChangeKind::ckTip);
    }
}

void TTBNArea::Change(TChangeKind kind)
{
    Q_EMIT OnChange(kind);
}

void TTBNArea::Changing(TChangeKind kind, bool& allow)
{
    allow = true;
    if (OnChanging)
        OnChanging(*this, kind, allow);
}

void TTBNArea::LeftClick()
{
    if (m_popupMenuL)
        showMenu(m_popupMenuL);
    else
        Q_EMIT OnLeftClick();
}

void TTBNArea::RightClick()
{
    if (m_popupMenuL && m_popupOnBoth)
        showMenu(m_popupMenuL);
    else if (m_popupMenuR)
        showMenu(m_popupMenuR);
    else
        Q_EMIT OnRightClick();
}

void TTBNArea::DblClick()
{
    Q_EMIT OnDblClick();
}

void TTBNArea::showMenu(QMenu* menu)
{
    menu->exec(QCursor::pos());
}

} // namespace velth
