#pragma once

#include <QPixmap>
#include <QWidget>

namespace velth {

// The title picture of a frameless window: dragging it moves the window.
class TCoolForm : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TCoolForm)

public:
    explicit TCoolForm(QWidget* parent = nullptr);

    void setPicture(const QPixmap& picture);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    QPixmap m_picture;
};

} // namespace velth
