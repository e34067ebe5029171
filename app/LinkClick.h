#pragma once

#include <QObject>

#include <functional>

class QLabel;

namespace velth {

// Makes a label act as a link: the action runs when the left button is pressed
// and released on the label. Pressing on it and releasing elsewhere (after
// dragging off) opens nothing. The object lives as long as the label.
class LinkClick final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LinkClick)

public:
    LinkClick(QLabel* label, std::function<void()> action);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLabel* m_label;
    std::function<void()> m_action;
    bool m_pressed = false;
};

} // namespace velth
