#include "skin/CoolButton.h"

#include <QMouseEvent>
#include <QPainter>

namespace velth {

TCoolButton::TCoolButton(QWidget* parent)
    : QWidget(parent)
{
    setCursor(Qt::PointingHandCursor);
}

void TCoolButton::setPicture(const QPixmap& strip)
{
    m_strip = strip;
    update();
}

void TCoolButton::paintEvent(QPaintEvent*)
{
    if (m_strip.isNull())
        return;
    const int cells = qMax(1, m_strip.width() / qMax(1, m_strip.height()));
    const int cellWidth = m_strip.width() / cells;
    const int cell = !isEnabled() && cells > 1 ? 1 : 0;
    QPainter p(this);
    p.drawPixmap(0, 0, m_strip, cell * cellWidth, 0, cellWidth, m_strip.height());
}

void TCoolButton::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        m_pressed = true;
}

void TCoolButton::mouseReleaseEvent(QMouseEvent* event)
{
    const bool wasPressed = m_pressed;
    m_pressed = false;
    if (event->button() == Qt::LeftButton && wasPressed && rect().contains(event->position().toPoint()))
        Q_EMIT clicked();
}

} // namespace velth
