#include "skin/CoolButton.h"

#include <QCursor>
#include <QEvent>
#include <QKeySequence>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QShortcutEvent>

namespace velth {

namespace {

int cellIndex(TCoolButton::State state)
{
    return static_cast<int>(state);
}

// The pixel rule for the embossed look of a one-cell strip: the darker pixels
// of the picture form its shape.
bool inEmbossShape(QRgb pixel, QRgb key)
{
    return (pixel & 0xffffff) != (key & 0xffffff) && qGray(pixel) < 192;
}

} // namespace

TCoolButton::Placement TCoolButton::place(
    int W, int H, int gw, int gh, int tw, int th, TButtonLayout layout, int margin, int spacing)
{
    Placement result;
    QPoint text;
    const bool across = layout == blGlyphLeft || layout == blGlyphRight;
    if (across) {
        result.glyph.setY(0);
        text.setY((H - th + 1) / 2);
    } else {
        result.glyph.setX(0);
        text.setX((W - tw + 1) / 2);
    }
    if (tw == 0 || gw == 0)
        spacing = 0;

    const int A = across ? W : H;
    const int g = across ? gw : gh;
    const int t = across ? tw : th;
    if (margin == -1 && spacing == -1) {
        margin = (A - (g + t)) / 3;
        spacing = margin;
    } else if (margin == -1) {
        margin = (A - (g + spacing + t) + 1) / 2;
    } else if (spacing == -1) {
        spacing = ((A - (margin + g)) - t) / 2;
    }

    switch (layout) {
    case blGlyphLeft:
        result.glyph.setX(margin);
        text.setX(margin + g + spacing);
        break;
    case blGlyphRight:
        result.glyph.setX(W - margin - g);
        text.setX(result.glyph.x() - spacing - t);
        break;
    case blGlyphTop:
        result.glyph.setY(margin);
        text.setY(margin + g + spacing);
        break;
    case blGlyphBottom:
        result.glyph.setY(H - margin - g);
        text.setY(result.glyph.y() - spacing - t);
        break;
    }
    result.caption = QRect(text, QSize(tw, th));
    return result;
}

TCoolButton::TCoolButton(QWidget* parent)
    : QWidget(parent)
{
    setGeometry(0, 0, 25, 25);
    setMouseTracking(true);
    setCursor(Qt::PointingHandCursor);
}

TCoolButton::~TCoolButton() = default;

void TCoolButton::setGlyph(const QImage& strip)
{
    dropPrepared();
    m_strip = strip.convertToFormat(QImage::Format_RGB32);
    if (m_strip.height() > 0) {
        readKeyColor();
        if (m_strip.width() % m_strip.height() == 0) {
            const int cells = m_strip.width() / m_strip.height();
            m_numGlyphs = cells > 4 || cells == 0 ? 1 : cells;
        }
    }
    update();
}

void TCoolButton::setGlyph2x(const QImage& strip)
{
    dropPrepared();
    m_strip2x = strip.convertToFormat(QImage::Format_RGB32);
    update();
}

void TCoolButton::setTransparentColor(std::optional<QColor> colour)
{
    m_fixedKey = colour;
    dropPrepared();
    readKeyColor();
    update();
}

void TCoolButton::readKeyColor()
{
    if (m_fixedKey)
        m_keyColor = *m_fixedKey;
    else if (!m_strip.isNull())
        m_keyColor = m_strip.pixelColor(0, m_strip.height() - 1);
}

void TCoolButton::setNumGlyphs(int value)
{
    if (value > 4)
        value = 4;
    if (value <= 0 || value == m_numGlyphs)
        return;
    m_numGlyphs = value;
    dropPrepared();
    readKeyColor();
    update();
}

void TCoolButton::setLayout(TButtonLayout value)
{
    if (value == m_layout)
        return;
    m_layout = value;
    update();
}

void TCoolButton::setMargin(int value)
{
    if (value == m_margin || value < -1)
        return;
    m_margin = value;
    update();
}

void TCoolButton::setSpacing(int value)
{
    if (value == m_spacing)
        return;
    m_spacing = value;
    update();
}

void TCoolButton::setCaption(const QString& value)
{
    if (value == m_caption)
        return;
    m_caption = value;
    updateShortcut();
    update();
}

void TCoolButton::updateShortcut()
{
    if (m_shortcutId != 0)
        releaseShortcut(m_shortcutId);
    m_shortcutId = 0;
    const QKeySequence key = QKeySequence::mnemonic(m_caption);
    if (!key.isEmpty())
        m_shortcutId = grabShortcut(key);
}

void TCoolButton::Click()
{
    Q_EMIT clicked();
}

// ---- groups

void TCoolButton::setGroupIndex(int value)
{
    if (value == m_groupIndex)
        return;
    m_groupIndex = value;
    announce();
}

void TCoolButton::setAllowAllUp(bool value)
{
    if (value == m_allowAllUp)
        return;
    m_allowAllUp = value;
    announce();
}

void TCoolButton::setDown(bool value)
{
    if (m_groupIndex == 0)
        value = false;
    if (value == m_down || (m_down && !m_allowAllUp))
        return;
    m_down = value;
    if (value) {
        if (m_state == State::Up)
            update();
        m_state = State::Hot;
        announce();
    } else {
        m_state = State::Up;
        repaint();
    }
}

void TCoolButton::announce()
{
    if (m_groupIndex == 0 || !parentWidget())
        return;
    const QList<TCoolButton*> siblings = parentWidget()->findChildren<TCoolButton*>(Qt::FindDirectChildrenOnly);
    for (TCoolButton* sibling : siblings)
        sibling->groupPressed(m_groupIndex, this);
}

void TCoolButton::groupPressed(int groupIndex, TCoolButton* announcer)
{
    if (groupIndex != m_groupIndex || announcer == this)
        return;
    if (announcer->m_down && m_down) {
        m_down = false;
        m_state = State::Up;
        update();
    }
    m_allowAllUp = announcer->m_allowAllUp;
}

// ---- prepared images

void TCoolButton::dropPrepared()
{
    for (auto& images : m_prepared)
        for (auto& image : images)
            image.reset();
}

QPixmap TCoolButton::preparedImage(State state, int scale)
{
    if (state == State::Pressed && m_numGlyphs < 3)
        state = State::Up;
    if (m_strip.width() == 0 || m_strip.height() == 0)
        return QPixmap();
    if (scale != 2 || m_strip2x.size() != m_strip.size() * 2)
        scale = 1;
    std::optional<QPixmap>& slot = m_prepared[static_cast<std::size_t>(scale - 1)][cellIndex(state)];
    if (slot)
        return *slot;

    // The double-size strip keeps its own key colour in its own bottom-left
    // pixel, unless a fixed one is set.
    const QImage& strip = scale == 2 ? m_strip2x : m_strip;
    const QColor keyColor = scale == 2 && !m_fixedKey ? strip.pixelColor(0, strip.height() - 1) : m_keyColor;
    const int cw = strip.width() / m_numGlyphs;
    const int ch = strip.height();
    const int source = cellIndex(state) < m_numGlyphs ? cellIndex(state) : 0;
    const QRgb key = keyColor.rgb() & 0xffffff;
    const QPalette& pal = palette();
    QImage cell;
    QRgb mask = 0;

    if (state == State::Disabled && m_numGlyphs >= 2) {
        // The greyed cell, with the classic system colours put in.
        const QImage from = strip.copy(cw, 0, cw, ch);
        cell = from;
        const QRgb light = pal.color(QPalette::Light).rgb();
        const QRgb shadow = pal.color(QPalette::Dark).rgb();
        const QRgb face = pal.color(QPalette::Button).rgb();
        for (int y = 0; y < ch; ++y) {
            for (int x = 0; x < cw; ++x) {
                const QRgb p = from.pixel(x, y) & 0xffffff;
                if (p == 0xffffff)
                    cell.setPixel(x, y, light);
                else if (p == 0x808080)
                    cell.setPixel(x, y, shadow);
                else if (p == key)
                    cell.setPixel(x, y, face);
            }
        }
        mask = cell.pixel(0, ch - 1);
    } else if (state == State::Disabled) {
        // One cell only: an embossed shape on the button face.
        const QImage from = strip.copy(0, 0, cw, ch);
        cell = QImage(cw, ch, QImage::Format_RGB32);
        cell.fill(pal.color(QPalette::Button));
        const QRgb light = pal.color(QPalette::Light).rgb();
        const QRgb shadow = pal.color(QPalette::Dark).rgb();
        for (int y = 0; y < ch; ++y)
            for (int x = 0; x < cw; ++x)
                // The highlight lies one logical pixel down and right.
                if (inEmbossShape(from.pixel(x, y), key) && x + scale < cw && y + scale < ch)
                    cell.setPixel(x + scale, y + scale, light);
        for (int y = 0; y < ch; ++y)
            for (int x = 0; x < cw; ++x)
                if (inEmbossShape(from.pixel(x, y), key))
                    cell.setPixel(x, y, shadow);
        mask = cell.pixel(0, ch - 1);
    } else {
        cell = strip.copy(source * cw, 0, cw, ch);
        mask = m_fixedKey ? m_fixedKey->rgb() : cell.pixel(0, ch - 1);
    }

    cell = cell.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < ch; ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(cell.scanLine(y));
        for (int x = 0; x < cw; ++x)
            if ((line[x] & 0xffffff) == (mask & 0xffffff))
                line[x] = 0;
    }
    slot = QPixmap::fromImage(cell);
    slot->setDevicePixelRatio(scale);
    return *slot;
}

// ---- pointer

bool TCoolButton::topmostAt(const QPoint& local) const
{
    const QWidget* top = window();
    const QPoint at = mapTo(top, local);
    if (!top->rect().contains(at))
        return false;
    return top == this || top->childAt(at) == this;
}

void TCoolButton::mouseMoveEvent(QMouseEvent* event)
{
    const bool wasOver = m_mouseOver;
    const QPoint at = event->position().toPoint();
    const int x = at.x();
    const int y = at.y();
    m_mouseOver = x >= 0 && x < m_strip.width() && y >= 0 && y < m_strip.height()
        && m_strip.pixel(x, y) != m_strip.pixel(0, m_strip.height() - 1) && topmostAt(at);

    event->accept();

    if (m_pressing) {
        State next = m_down ? State::Hot : State::Up;
        if (rect().contains(at))
            next = m_down ? State::Hot : State::Pressed;
        m_state = next;
    }
    if (m_mouseOver != wasOver)
        update();
}

void TCoolButton::press(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !isEnabled())
        return;
    if (!m_down) {
        m_state = State::Pressed;
        repaint();
    }
    m_pressing = true;
}

void TCoolButton::mousePressEvent(QMouseEvent* event)
{
    // The button handles its presses; nothing goes on to the window below.
    event->accept();
    press(event);
}

void TCoolButton::mouseDoubleClickEvent(QMouseEvent* event)
{
    // The second press of a double click acts like a first one.
    event->accept();
    press(event);
    if (event->button() == Qt::LeftButton && m_down)
        Q_EMIT doubleClicked();
}

void TCoolButton::mouseReleaseEvent(QMouseEvent* event)
{
    event->accept();
    if (!m_pressing)
        return;
    m_pressing = false;
    const bool inside = rect().contains(event->position().toPoint());
    if (m_groupIndex == 0) {
        m_state = State::Up;
        m_mouseOver = false;
        if (inside)
            repaint();
    } else if (inside) {
        setDown(!m_down);
        if (m_down)
            repaint();
    } else {
        if (m_down)
            m_state = State::Hot;
        repaint();
    }
    if (inside) {
        // The click may close or tear down the window this button is on.
        const QPointer<TCoolButton> alive(this);
        Click();
        if (!alive)
            return;
    }
    trackingUpdate();
}

void TCoolButton::pointerLeft()
{
    if (m_mouseOver && isEnabled() && !m_pressing) {
        m_mouseOver = false;
        update();
    }
}

void TCoolButton::leaveEvent(QEvent* event)
{
    QWidget::leaveEvent(event);
    pointerLeft();
}

void TCoolButton::trackingUpdate()
{
    if (!isEnabled())
        return;
    if (!topmostAt(mapFromGlobal(QCursor::pos()))) {
        m_mouseOver = true;
        pointerLeft();
    } else {
        m_mouseOver = false;
    }
}

// ---- notifications and painting

void TCoolButton::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    switch (event->type()) {
    case QEvent::EnabledChange:
        if (!isEnabled())
            m_pressing = false; // a disabled button gets no release
        preparedImage(isEnabled() ? State::Up : State::Disabled);
        trackingUpdate();
        repaint();
        break;
    case QEvent::PaletteChange:
        dropPrepared();
        preparedImage(m_state);
        update();
        break;
    case QEvent::FontChange:
        update();
        break;
    default:
        break;
    }
}

bool TCoolButton::event(QEvent* event)
{
    if (event->type() == QEvent::Shortcut) {
        auto* shortcut = static_cast<QShortcutEvent*>(event);
        if (shortcut->shortcutId() == m_shortcutId && isEnabled()) {
            Click();
            return true;
        }
        return false;
    }
    return QWidget::event(event);
}

TCoolButton::Placement TCoolButton::currentPlacement() const
{
    int gw = 0;
    int gh = 0;
    if (m_strip.width() > 0 && m_strip.height() > 0) {
        gw = m_strip.width() / m_numGlyphs;
        gh = m_strip.height();
    }
    QSize text(0, 0);
    if (!m_caption.isEmpty())
        text = fontMetrics().size(Qt::TextShowMnemonic, m_caption);
    return place(width(), height(), gw, gh, text.width(), text.height(), m_layout, m_margin, m_spacing);
}

TCoolButton::State TCoolButton::state() const
{
    if (!isEnabled())
        return State::Disabled;
    if (!m_mouseOver)
        return State::Up;
    return m_state == State::Pressed ? State::Pressed : State::Hot;
}

// Painting only reads the state; the mouse, key and enable events change it.
void TCoolButton::paintEvent(QPaintEvent*)
{
    const State shown = state();
    QPainter p(this);
    p.setFont(font());
    const Placement placement = currentPlacement();
    const QPixmap image = preparedImage(shown, devicePixelRatioF() > 1 ? 2 : 1);
    if (!image.isNull())
        p.drawPixmap(placement.glyph, image);

    if (m_caption.isEmpty())
        return;
    if (shown == State::Disabled) {
        const int flags = Qt::AlignLeft | Qt::AlignTop | Qt::TextShowMnemonic;
        p.setPen(palette().color(QPalette::Light));
        p.drawText(placement.caption.translated(1, 1), flags, m_caption);
        p.setPen(palette().color(QPalette::Dark));
        p.drawText(placement.caption, flags, m_caption);
    } else {
        p.setPen(palette().color(foregroundRole()));
        p.drawText(placement.caption, Qt::AlignCenter | Qt::TextSingleLine | Qt::TextShowMnemonic, m_caption);
    }
}

} // namespace velth
