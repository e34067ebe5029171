#include "app/LinkClick.h"

#include <QLabel>
#include <QMouseEvent>

namespace velth {

LinkClick::LinkClick(QLabel* label, std::function<void()> action)
    : QObject(label)
    , m_label(label)
    , m_action(std::move(action))
{
    label->installEventFilter(this);
    label->setCursor(Qt::PointingHandCursor);
}

bool LinkClick::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != m_label)
        return false;
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
            m_pressed = true;
            return true;
        }
        break;
    case QEvent::MouseButtonRelease:
        if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
            const bool click
                = m_pressed && m_label->rect().contains(static_cast<QMouseEvent*>(event)->position().toPoint());
            m_pressed = false;
            if (click)
                m_action();
            return true;
        }
        break;
    default:
        break;
    }
    return false;
}

} // namespace velth
