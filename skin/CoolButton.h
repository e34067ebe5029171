#pragma once

#include <QPixmap>
#include <QWidget>

namespace velth {

// A button drawn from a picture strip. (Placeholder behaviour: reports clicks,
// shows the first cell, greys out when disabled.)
class TCoolButton : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TCoolButton)

public:
    explicit TCoolButton(QWidget* parent = nullptr);

    void setPicture(const QPixmap& strip);
    const QPixmap& picture() const { return m_strip; }

Q_SIGNALS:
    void clicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QPixmap m_strip;
    bool m_pressed = false;
};

} // namespace velth
