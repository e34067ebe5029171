#pragma once

#include <QImage>
#include <QPixmap>
#include <QRect>
#include <QWidget>

#include <array>
#include <cstdint>
#include <optional>

namespace velth {

// A frameless bitmap button for the skinned window. It draws one cell of a
// horizontal picture strip, chosen by its state (cell 0 normal, 1 disabled,
// 2 pressed, 3 under the pointer), and leaves the strip's key colour undrawn
// so the skin behind it shows through. The pointer counts as over the button
// only on opaque pixels; a press and release anywhere inside its rectangle
// still clicks. An optional caption can stand beside the picture.
class TCoolButton : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TCoolButton)

public:
    // The state's ordinal is also the strip cell that shows it.
    enum class State : std::uint8_t { Up = 0, Disabled = 1, Pressed = 2, Hot = 3 };
    enum TButtonLayout { blGlyphLeft, blGlyphRight, blGlyphTop, blGlyphBottom };
    Q_ENUM(TButtonLayout)

    // Where picture and caption stand in a client rectangle of W x H.
    struct Placement
    {
        QPoint glyph;
        QRect caption;
    };
    // Pure layout arithmetic: picture gw x gh, caption tw x th (0 x 0 when
    // absent); margin and spacing -1 mean "spread evenly".
    static Placement place(int W, int H, int gw, int gh, int tw, int th, TButtonLayout layout, int margin, int spacing);

    explicit TCoolButton(QWidget* parent = nullptr);
    ~TCoolButton() override;

    // The picture strip. Takes the key colour from it and, when its width is a
    // whole multiple of its height, the number of cells (above 4: one cell).
    void setGlyph(const QImage& strip);
    const QImage& Glyph() const { return m_strip; }
    void setPicture(const QPixmap& strip) { setGlyph(strip.toImage()); }
    QPixmap picture() const { return QPixmap::fromImage(m_strip); }
    // The same strip drawn at twice the size, painted instead of the strip
    // where a logical pixel covers more than one device pixel. Layout, pointer
    // hits and the key colour's role stay those of the strip above; a picture
    // that is not exactly twice its size is ignored.
    void setGlyph2x(const QImage& strip);
    const QImage& Glyph2x() const { return m_strip2x; }
    // A fixed transparent colour for the strip; without one the key colour is
    // the strip's bottom-left pixel.
    void setTransparentColor(std::optional<QColor> colour);
    QColor keyColor() const { return m_keyColor; }

    int NumGlyphs() const { return m_numGlyphs; }
    void setNumGlyphs(int value);
    TButtonLayout Layout() const { return m_layout; }
    void setLayout(TButtonLayout value);
    int Margin() const { return m_margin; }
    void setMargin(int value);
    int Spacing() const { return m_spacing; }
    void setSpacing(int value);
    QString Caption() const { return m_caption; }
    void setCaption(const QString& value);

    int GroupIndex() const { return m_groupIndex; }
    void setGroupIndex(int value);
    bool Down() const { return m_down; }
    void setDown(bool value);
    bool AllowAllUp() const { return m_allowAllUp; }
    void setAllowAllUp(bool value);

    // The state the button shows: disabled, up when the mouse is not over it,
    // else pressed or hot.
    State state() const;
    bool MouseOver() const { return m_mouseOver; }
    bool Pressing() const { return m_pressing; }

    // Fires clicked().
    void Click();

    // The image drawn for a state, key-coloured pixels transparent (prepared
    // on first use and kept until the strip, the cell count or the system
    // colours change). Null without a strip. Scale 2 gives the image of the
    // double-size strip (device pixel ratio 2), or the plain one without it.
    QPixmap preparedImage(State state, int scale = 1);

    QSize sizeHint() const override { return { 25, 25 }; }

Q_SIGNALS:
    void clicked();
    // A double click on a button that is down.
    void doubleClicked();

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void press(QMouseEvent* event);
    void pointerLeft();
    void trackingUpdate();
    bool topmostAt(const QPoint& globalPos) const;
    void dropPrepared();
    void readKeyColor();
    void announce();
    void groupPressed(int groupIndex, TCoolButton* announcer);
    void updateShortcut();
    Placement currentPlacement() const;

    QImage m_strip;
    QImage m_strip2x;
    std::optional<QColor> m_fixedKey;
    QColor m_keyColor{ 128, 128, 0 };
    int m_numGlyphs = 4;
    // By scale (1, 2), then by cell.
    std::array<std::array<std::optional<QPixmap>, 4>, 2> m_prepared;

    int m_groupIndex = 0;
    bool m_down = false;
    bool m_pressing = false;
    bool m_allowAllUp = false;
    TButtonLayout m_layout = blGlyphLeft;
    int m_spacing = 4;
    int m_margin = -1;
    bool m_mouseOver = false;
    State m_state = State::Up;
    QString m_caption;
    int m_shortcutId = 0;
};

} // namespace velth
