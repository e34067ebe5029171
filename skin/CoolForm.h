#pragma once

#include "skin/RegionRecord.h"

#include <QByteArray>
#include <QPixmap>
#include <QRegion>
#include <QWidget>

#include <optional>

namespace velth {

class TCoolForm;

// The window outline a title picture holds: a region, or none.
class TRegionType
{
public:
    bool hasRegion() const { return m_region.has_value(); }
    const QRegion& region() const { return *m_region; }
    // Whether the region has been given to the window as its outline.
    bool applied() const { return m_applied; }

private:
    friend class TCoolForm;
    std::optional<QRegion> m_region;
    bool m_applied = false;
};

// The title picture of a frameless window. Placed on a top-level window it
// takes the window's frame away and keeps itself at the window's top-left
// corner; a left press on it lets the user drag the window. It holds a window
// outline that it stores and loads as the "Mask2" value and applies to the
// window as its mask.
class TCoolForm : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TCoolForm)

public:
    explicit TCoolForm(QWidget* parent = nullptr);
    ~TCoolForm() override;

    // A new picture drops the outline the component holds; the window keeps
    // the outline it has.
    void setPicture(const QPixmap& picture);
    const QPixmap& picture() const { return m_picture; }

    const TRegionType& Mask() const { return m_mask; }

    // Whether a left press drags the window (default true).
    bool Draggable() const { return m_draggable; }
    void setDraggable(bool value) { m_draggable = value; }

    // The stored outline: 4 bytes N (little-endian), then N bytes of region
    // data; N = 0 without a region.
    QByteArray storeMask2() const;
    // Loads a stored outline; a region is applied to the parent window. A
    // malformed value leaves the mask empty, applies nothing and returns false.
    bool loadMask2(const QByteArray& bytes);

    static region::Outline toOutline(const QRegion& region);
    static QRegion toRegion(const region::Outline& outline);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void changeEvent(QEvent* event) override;
    // Hands the window to the window system's move; false where it cannot.
    virtual bool startDrag();

private:
    void placeOnParent();

    QPixmap m_picture;
    TRegionType m_mask;
    bool m_draggable = true;
    // Set while the window follows the pointer itself, where the window
    // system has no move of its own (an X server without window manager).
    std::optional<QPoint> m_dragOffset;
};

} // namespace velth
