#include "skin/CoolForm.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWindow>

namespace velth {

TCoolForm::TCoolForm(QWidget* parent)
    : QWidget(parent)
{
    // A new title picture fills its parent until it is given its own place.
    if (parent)
        resize(parent->size());
    placeOnParent();
}

TCoolForm::~TCoolForm() = default;

void TCoolForm::placeOnParent()
{
    QWidget* parent = parentWidget();
    if (parent && parent->isWindow() && !parent->windowFlags().testFlag(Qt::FramelessWindowHint)) {
        const bool shown = parent->isVisible();
        parent->setWindowFlags(parent->windowFlags() | Qt::FramelessWindowHint);
        if (shown)
            parent->show();
    }
    move(0, 0);
}

void TCoolForm::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ParentChange)
        placeOnParent();
}

void TCoolForm::moveEvent(QMoveEvent* event)
{
    QWidget::moveEvent(event);
    if (pos() != QPoint(0, 0))
        move(0, 0);
}

void TCoolForm::setPicture(const QPixmap& picture)
{
    m_picture = picture;
    m_mask.m_region.reset();
    m_mask.m_applied = false;
    update();
}

void TCoolForm::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.drawPixmap(0, 0, m_picture);
}

void TCoolForm::mousePressEvent(QMouseEvent* event)
{
    // The press is the window's: no press handling of the picture itself.
    event->accept();
    if (event->button() != Qt::LeftButton || !m_draggable)
        return;
    if (!startDrag())
        m_dragOffset = event->globalPosition().toPoint() - window()->pos();
}

void TCoolForm::mouseMoveEvent(QMouseEvent* event)
{
    event->accept();
    if (m_dragOffset && (event->buttons() & Qt::LeftButton))
        window()->move(event->globalPosition().toPoint() - *m_dragOffset);
}

void TCoolForm::mouseReleaseEvent(QMouseEvent* event)
{
    event->accept();
    if (event->button() == Qt::LeftButton)
        m_dragOffset.reset();
}

bool TCoolForm::startDrag()
{
    QWindow* handle = window()->windowHandle();
    return handle && handle->startSystemMove();
}

region::Outline TCoolForm::toOutline(const QRegion& region)
{
    region::Outline outline;
    outline.hasRegion = true;
    for (const QRect& r : region)
        outline.rects.push_back({ r.left(), r.top(), r.right() + 1, r.bottom() + 1 });
    return outline;
}

QRegion TCoolForm::toRegion(const region::Outline& outline)
{
    QRegion region;
    for (const region::Rect& r : outline.rects)
        region += QRect(QPoint(r.left, r.top), QPoint(r.right - 1, r.bottom - 1));
    return region;
}

QByteArray TCoolForm::storeMask2() const
{
    region::Outline outline;
    if (m_mask.hasRegion())
        outline = toOutline(m_mask.region());
    const std::string bytes = region::writeOutline(outline);
    return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

bool TCoolForm::loadMask2(const QByteArray& bytes)
{
    m_mask.m_region.reset();
    m_mask.m_applied = false;
    const std::optional<region::Outline> outline
        = region::parseOutline(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
    if (!outline)
        return false;
    if (!outline->hasRegion)
        return true;
    m_mask.m_region = toRegion(*outline);
    if (QWidget* parent = parentWidget()) {
        parent->setMask(*m_mask.m_region);
        m_mask.m_applied = true;
    }
    return true;
}

} // namespace velth
