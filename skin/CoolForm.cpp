#include "skin/CoolForm.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWindow>

namespace velth {

TCoolForm::TCoolForm(QWidget* parent)
    : QWidget(parent)
{ }

void TCoolForm::setPicture(const QPixmap& picture)
{
    m_picture = picture;
    if (!picture.isNull())
        setFixedSize(picture.size());
    update();
}

void TCoolForm::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.drawPixmap(0, 0, m_picture);
}

void TCoolForm::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && window()->windowHandle())
        window()->windowHandle()->startSystemMove();
}

} // namespace velth
