#include "skin/CoolButton.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCursor>
#include <QEnterEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QTest>

#include <memory>

using namespace velth;
using State = TCoolButton::State;

namespace {

const QColor kKey(0x4c, 0x4c, 0x4c);
const QColor kBackdrop(0x12, 0x34, 0x56);
// The colour each cell shows at its centre.
const QColor kCellColour[4] = { QColor(200, 30, 30), QColor(30, 200, 30), QColor(30, 30, 200), QColor(200, 200, 30) };

// A strip of `cells` square cells of `size` pixels: each cell a coloured square
// framed by 5 pixels of the key colour.
QImage makeStrip(int cells, int size = 50)
{
    QImage strip(cells * size, size, QImage::Format_RGB32);
    strip.fill(kKey);
    QPainter p(&strip);
    for (int i = 0; i < cells; ++i)
        p.fillRect(i * size + 5, 5, size - 10, size - 10, kCellColour[i % 4]);
    return strip;
}

void send(QWidget* target, QEvent::Type type, const QPoint& at, Qt::MouseButton button, Qt::MouseButtons buttons)
{
    QMouseEvent event(type, QPointF(at), QPointF(target->mapToGlobal(at)), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

void moveTo(TCoolButton* b, const QPoint& at, Qt::MouseButtons buttons = Qt::NoButton)
{
    send(b, QEvent::MouseMove, at, Qt::NoButton, buttons);
}
void press(TCoolButton* b, const QPoint& at)
{
    send(b, QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton);
}
void release(TCoolButton* b, const QPoint& at)
{
    send(b, QEvent::MouseButtonRelease, at, Qt::LeftButton, Qt::NoButton);
}
void doubleClick(TCoolButton* b, const QPoint& at)
{
    send(b, QEvent::MouseButtonDblClick, at, Qt::LeftButton, Qt::LeftButton);
}

class CoolButtonTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        window = std::make_unique<QWidget>();
        window->resize(300, 200);
        window->setAutoFillBackground(true);
        QPalette pal = window->palette();
        pal.setColor(QPalette::Window, kBackdrop);
        window->setPalette(pal);
        button = addButton(QPoint(10, 10));
        window->show();
        // The pointer rests away from every button unless a test moves it.
        QCursor::setPos(window->mapToGlobal(QPoint(290, 190)));
    }

    TCoolButton* addButton(const QPoint& at, const QImage& strip = makeStrip(4))
    {
        auto* b = new TCoolButton(window.get());
        b->setGlyph(strip);
        b->setGeometry(QRect(at, QSize(strip.height(), strip.height())));
        b->show();
        QObject::connect(b, &TCoolButton::clicked, b, [this, b] { ++clicks[b]; });
        return b;
    }

    // What the window shows at a pixel of the button.
    QColor shown(TCoolButton* b, const QPoint& at = QPoint(25, 25))
    {
        return window->grab(b->geometry()).toImage().pixelColor(at);
    }

    // The strip cell the button shows, by its centre colour; -1 for none.
    int cellShown(TCoolButton* b)
    {
        const QColor c = shown(b);
        for (int i = 0; i < 4; ++i)
            if (c == kCellColour[i])
                return i;
        return -1;
    }

    std::unique_ptr<QWidget> window;
    TCoolButton* button = nullptr;
    std::map<TCoolButton*, int> clicks;
};

struct StripCase
{
    int width;
    int height;
    int numGlyphs;
};

class StripProportions : public ::testing::TestWithParam<StripCase>
{ };

TEST_P(StripProportions, CellCountFollowsTheStripsProportions)
{
    const StripCase c = GetParam();
    TCoolButton b;
    QImage strip(c.width, c.height, QImage::Format_RGB32);
    strip.fill(Qt::red);
    b.setGlyph(strip);
    EXPECT_EQ(b.NumGlyphs(), c.numGlyphs);
}

INSTANTIATE_TEST_SUITE_P(Strips, StripProportions,
    ::testing::Values(StripCase{ 200, 50, 4 }, StripCase{ 250, 50, 1 }, StripCase{ 100, 50, 2 },
        StripCase{ 150, 50, 3 }, StripCase{ 50, 50, 1 }, StripCase{ 88, 22, 4 },
        // No whole multiple: the count stays as it was (4 for a new button).
        StripCase{ 120, 50, 4 }, StripCase{ 0, 0, 4 }));

TEST_F(CoolButtonTest, NewButtonAndCellCountLimits)
{
    TCoolButton b;
    EXPECT_EQ(b.geometry(), QRect(0, 0, 25, 25));
    EXPECT_EQ(b.NumGlyphs(), 4);
    b.setNumGlyphs(9);
    EXPECT_EQ(b.NumGlyphs(), 4);
    b.setNumGlyphs(2);
    b.setNumGlyphs(0);
    EXPECT_EQ(b.NumGlyphs(), 2);
    b.setMargin(-5);
    EXPECT_EQ(b.Margin(), -1);
}

TEST_F(CoolButtonTest, GrabShowsTheCellOfEachState)
{
    EXPECT_EQ(cellShown(button), 0);
    EXPECT_EQ(shown(button, QPoint(1, 1)), kBackdrop) << "key colour must not be drawn";

    moveTo(button, QPoint(25, 25));
    EXPECT_TRUE(button->MouseOver());
    EXPECT_EQ(cellShown(button), 3);

    press(button, QPoint(25, 25));
    EXPECT_EQ(cellShown(button), 2);
    EXPECT_EQ(button->state(), State::Pressed);

    // Pressed pointer outside, then back: Up, then Pressed again.
    moveTo(button, QPoint(80, 25), Qt::LeftButton);
    EXPECT_EQ(cellShown(button), 0);
    moveTo(button, QPoint(20, 20), Qt::LeftButton);
    EXPECT_EQ(cellShown(button), 2);

    release(button, QPoint(20, 20));
    EXPECT_EQ(clicks[button], 1);
    EXPECT_EQ(cellShown(button), 0) << "after a click the button shows Up until the pointer moves";
    moveTo(button, QPoint(21, 20));
    EXPECT_EQ(cellShown(button), 3);

    button->setEnabled(false);
    EXPECT_EQ(cellShown(button), 1);
    EXPECT_EQ(button->state(), State::Disabled);
    button->setEnabled(true);
    EXPECT_EQ(cellShown(button), 0);
}

TEST_F(CoolButtonTest, HoverOnlyOverOpaquePixelsOfTheTopmostControl)
{
    moveTo(button, QPoint(2, 2));
    EXPECT_FALSE(button->MouseOver());
    EXPECT_EQ(cellShown(button), 0);
    moveTo(button, QPoint(6, 6));
    EXPECT_TRUE(button->MouseOver());
    moveTo(button, QPoint(47, 30));
    EXPECT_FALSE(button->MouseOver());
    EXPECT_EQ(cellShown(button), 0);

    moveTo(button, QPoint(25, 25));
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(button, &leave);
    EXPECT_FALSE(button->MouseOver());
    EXPECT_EQ(cellShown(button), 0);

    // An opaque pixel covered by another control is not "over" the button.
    auto* cover = new QWidget(window.get());
    cover->setGeometry(30, 30, 20, 20);
    cover->show();
    moveTo(button, QPoint(25, 25));
    EXPECT_FALSE(button->MouseOver());
    moveTo(button, QPoint(10, 10));
    EXPECT_TRUE(button->MouseOver());
}

TEST_F(CoolButtonTest, PressAndReleaseOnAKeyPixelClicksOnceWithoutThePressedCell)
{
    moveTo(button, QPoint(2, 47));
    press(button, QPoint(2, 47));
    EXPECT_TRUE(button->Pressing());
    EXPECT_EQ(cellShown(button), 0);
    release(button, QPoint(2, 47));
    EXPECT_EQ(clicks[button], 1);
    EXPECT_FALSE(button->Pressing());
}

TEST_F(CoolButtonTest, PressInsideReleaseOutsideDoesNotClick)
{
    moveTo(button, QPoint(25, 25));
    press(button, QPoint(25, 25));
    moveTo(button, QPoint(60, 25), Qt::LeftButton);
    release(button, QPoint(60, 25));
    EXPECT_EQ(clicks[button], 0);
    // A release without a press on the button does nothing.
    release(button, QPoint(25, 25));
    EXPECT_EQ(clicks[button], 0);
    // Released just inside the last row and column still counts.
    press(button, QPoint(25, 25));
    release(button, QPoint(49, 49));
    EXPECT_EQ(clicks[button], 1);
}

// Counts the pointer events that reach a widget.
class PointerCounter final : public QObject
{
public:
    int events = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonRelease
            || event->type() == QEvent::MouseMove)
            ++events;
        return false;
    }
};

TEST_F(CoolButtonTest, PointerEventsStopAtTheButton)
{
    PointerCounter counter;
    window->installEventFilter(&counter);
    moveTo(button, QPoint(2, 2));
    press(button, QPoint(25, 25));
    release(button, QPoint(25, 25));
    EXPECT_EQ(counter.events, 0);
}

TEST_F(CoolButtonTest, DoubleClickOnAPlainButtonClicksTwice)
{
    int doubles = 0;
    QObject::connect(button, &TCoolButton::doubleClicked, [&] { ++doubles; });
    moveTo(button, QPoint(25, 25));
    press(button, QPoint(25, 25));
    release(button, QPoint(25, 25));
    doubleClick(button, QPoint(25, 25));
    EXPECT_TRUE(button->Pressing()) << "the second press acts like a first one";
    release(button, QPoint(25, 25));
    EXPECT_EQ(clicks[button], 2);
    EXPECT_EQ(doubles, 0);
}

TEST_F(CoolButtonTest, DisabledButtonIsNeverHotAndNeverClicks)
{
    button->setEnabled(false);
    moveTo(button, QPoint(25, 25));
    press(button, QPoint(25, 25));
    release(button, QPoint(25, 25));
    EXPECT_EQ(clicks[button], 0);
    EXPECT_FALSE(button->MouseOver());
    EXPECT_EQ(cellShown(button), 1);
}

TEST_F(CoolButtonTest, DisabledLookRecoloursExactlyWhiteGreyAndKey)
{
    // Cell 1 and cell 3 hold the same four test pixels; only the greyed look
    // may change them.
    QImage strip = makeStrip(4);
    const QColor pixels[]
        = { QColor(0xff, 0xff, 0xff), QColor(0x80, 0x80, 0x80), QColor(0xfe, 0xfe, 0xfe), QColor(0x81, 0x80, 0x80) };
    for (int cell : { 1, 3 })
        for (int i = 0; i < 4; ++i)
            strip.setPixelColor(cell * 50 + 10 + i, 10, pixels[i]);
    TCoolButton* b = addButton(QPoint(100, 10), strip);
    QPalette pal = b->palette();
    pal.setColor(QPalette::Light, QColor(0x00, 0xff, 0x00));
    pal.setColor(QPalette::Dark, QColor(0x00, 0x00, 0xff));
    pal.setColor(QPalette::Button, QColor(0x99, 0x33, 0x66));
    b->setPalette(pal);

    b->setEnabled(false);
    EXPECT_EQ(shown(b, QPoint(10, 10)), QColor(0x00, 0xff, 0x00));
    EXPECT_EQ(shown(b, QPoint(11, 10)), QColor(0x00, 0x00, 0xff));
    EXPECT_EQ(shown(b, QPoint(12, 10)), pixels[2]);
    EXPECT_EQ(shown(b, QPoint(13, 10)), pixels[3]);
    EXPECT_EQ(shown(b, QPoint(1, 1)), kBackdrop) << "the key colour stays transparent";

    b->setEnabled(true);
    moveTo(b, QPoint(25, 25));
    ASSERT_EQ(cellShown(b), 3);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(shown(b, QPoint(10 + i, 10)), pixels[i]) << "pixel " << i << " of the lit cell";
}

TEST_F(CoolButtonTest, TwoCellStripShowsCellZeroWhenPressedOrHot)
{
    TCoolButton* b = addButton(QPoint(100, 10), makeStrip(2));
    ASSERT_EQ(b->NumGlyphs(), 2);
    moveTo(b, QPoint(25, 25));
    EXPECT_EQ(cellShown(b), 0);
    press(b, QPoint(25, 25));
    EXPECT_EQ(cellShown(b), 0);
    release(b, QPoint(25, 25));
    b->setEnabled(false);
    EXPECT_EQ(cellShown(b), 1);
}

TEST_F(CoolButtonTest, OneCellStripGetsAnEmbossedDisabledLook)
{
    QImage strip(50, 50, QImage::Format_RGB32);
    strip.fill(QColor(0xee, 0xee, 0xee));
    QPainter(&strip).fillRect(15, 15, 20, 20, Qt::black);
    TCoolButton* b = addButton(QPoint(100, 10), strip);
    ASSERT_EQ(b->NumGlyphs(), 1);
    b->setEnabled(false);
    const QColor face = b->palette().color(QPalette::Button);
    const QColor light = b->palette().color(QPalette::Light);
    const QColor dark = b->palette().color(QPalette::Dark);
    EXPECT_EQ(shown(b, QPoint(20, 20)), dark);
    EXPECT_EQ(shown(b, QPoint(35, 35)), light) << "highlight one pixel right and down of the shape";
    // The face colour (the bottom-left pixel) is the mask colour.
    EXPECT_EQ(shown(b, QPoint(5, 5)), kBackdrop);
    EXPECT_NE(face, dark);
}

// The double-size strip gives each state's cell at twice the pixels and the
// same logical size; the greyed and embossed looks scale with it.
TEST_F(CoolButtonTest, DoubleSizeStripGivesEachCellAtTwiceThePixels)
{
    using S = TCoolButton::State;
    button->setGlyph2x(makeStrip(4, 100));
    const std::pair<S, int> cells[] = { { S::Up, 0 }, { S::Disabled, 1 }, { S::Pressed, 2 }, { S::Hot, 3 } };
    for (const auto& [state, cell] : cells) {
        const QPixmap sharp = button->preparedImage(state, 2);
        EXPECT_EQ(sharp.size(), QSize(100, 100)) << cell;
        EXPECT_EQ(sharp.devicePixelRatio(), 2.0) << cell;
        EXPECT_EQ(sharp.deviceIndependentSize(), QSizeF(50, 50)) << cell;
        const QImage image = sharp.toImage();
        EXPECT_EQ(image.pixelColor(50, 50), kCellColour[cell]) << cell;
        EXPECT_EQ(image.pixelColor(2, 2).alpha(), 0) << "key colour of cell " << cell;
        EXPECT_EQ(image.pixelColor(5, 5), kCellColour[cell]) << "edge of cell " << cell;
    }
    EXPECT_EQ(button->preparedImage(S::Up, 1).size(), QSize(50, 50));

    // A picture that is not twice the size is not used.
    button->setGlyph2x(makeStrip(4, 80));
    EXPECT_EQ(button->preparedImage(S::Up, 2).size(), QSize(50, 50));

    // One cell: the embossed highlight lies one logical pixel off the shape.
    QImage single(50, 50, QImage::Format_RGB32);
    single.fill(QColor(0xee, 0xee, 0xee));
    QImage single2x(100, 100, QImage::Format_RGB32);
    single2x.fill(QColor(0xee, 0xee, 0xee));
    QPainter(&single2x).fillRect(30, 30, 40, 40, Qt::black);
    TCoolButton* b = addButton(QPoint(100, 10), single);
    b->setGlyph2x(single2x);
    b->setEnabled(false);
    const QImage embossed = b->preparedImage(S::Disabled, 2).toImage();
    EXPECT_EQ(embossed.pixelColor(40, 40), b->palette().color(QPalette::Dark));
    EXPECT_EQ(embossed.pixelColor(71, 71), b->palette().color(QPalette::Light));
    EXPECT_EQ(embossed.pixelColor(72, 72).alpha(), 0);
}

TEST_F(CoolButtonTest, FixedTransparentColourOverridesTheBottomLeftPixel)
{
    button->setTransparentColor(kCellColour[0]);
    EXPECT_EQ(button->keyColor(), kCellColour[0]);
    EXPECT_EQ(shown(button, QPoint(25, 25)), kBackdrop);
    EXPECT_EQ(shown(button, QPoint(2, 2)), kKey);
}

TEST_F(CoolButtonTest, ButtonWithoutStripDrawsNothingButStillClicks)
{
    TCoolButton* b = addButton(QPoint(100, 10), QImage());
    b->resize(30, 30);
    moveTo(b, QPoint(15, 15));
    EXPECT_FALSE(b->MouseOver());
    press(b, QPoint(15, 15));
    release(b, QPoint(15, 15));
    EXPECT_EQ(clicks[b], 1);
    EXPECT_EQ(shown(b, QPoint(15, 15)), kBackdrop);
}

TEST_F(CoolButtonTest, GroupWithoutAllowAllUpKeepsOneButtonDown)
{
    TCoolButton* second = addButton(QPoint(100, 10));
    button->setGroupIndex(1);
    second->setGroupIndex(1);
    auto clickOn = [](TCoolButton* b) {
        press(b, QPoint(25, 25));
        release(b, QPoint(25, 25));
    };
    clickOn(button);
    EXPECT_TRUE(button->Down());
    clickOn(second);
    EXPECT_TRUE(second->Down());
    EXPECT_FALSE(button->Down());
    clickOn(second);
    EXPECT_TRUE(second->Down()) << "a group that must keep one button down cannot be emptied";
    EXPECT_EQ(clicks[second], 2);
    // A press on a down button shows Hot, not Pressed.
    moveTo(second, QPoint(25, 25));
    press(second, QPoint(25, 25));
    EXPECT_EQ(cellShown(second), 3);
    release(second, QPoint(25, 25));
}

TEST_F(CoolButtonTest, GroupWithAllowAllUpRaisesADownButton)
{
    TCoolButton* second = addButton(QPoint(100, 10));
    button->setGroupIndex(1);
    second->setGroupIndex(1);
    second->setAllowAllUp(true);
    EXPECT_TRUE(button->AllowAllUp()) << "a group shares the AllowAllUp value announced last";
    button->setDown(true);
    EXPECT_TRUE(button->Down());
    press(button, QPoint(25, 25));
    release(button, QPoint(25, 25));
    EXPECT_FALSE(button->Down());
    EXPECT_FALSE(second->Down());
    EXPECT_EQ(clicks[button], 1);

    // Another group index is not affected.
    TCoolButton* other = addButton(QPoint(160, 10));
    other->setGroupIndex(2);
    other->setDown(true);
    second->setDown(true);
    EXPECT_TRUE(other->Down());
    EXPECT_TRUE(second->Down());
}

TEST_F(CoolButtonTest, DownNeedsAGroup)
{
    button->setDown(true);
    EXPECT_FALSE(button->Down());
}

TEST_F(CoolButtonTest, AcceleratorClicksOnlyAnEnabledButton)
{
    button->setCaption(QStringLiteral("&Go"));
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    QTest::keyClick(window.get(), Qt::Key_G, Qt::AltModifier);
    EXPECT_EQ(clicks[button], 1);
    button->setEnabled(false);
    QTest::keyClick(window.get(), Qt::Key_G, Qt::AltModifier);
    EXPECT_EQ(clicks[button], 1);
}

struct LayoutCase
{
    const char* what;
    int W, H, gw, gh, tw, th;
    TCoolButton::TButtonLayout layout;
    int margin, spacing;
    QPoint glyph;
    QRect caption;
};

class ButtonLayout : public ::testing::TestWithParam<LayoutCase>
{ };

TEST_P(ButtonLayout, PlacesPictureAndCaption)
{
    const LayoutCase c = GetParam();
    const TCoolButton::Placement p
        = TCoolButton::place(c.W, c.H, c.gw, c.gh, c.tw, c.th, c.layout, c.margin, c.spacing);
    EXPECT_EQ(p.glyph, c.glyph) << c.what;
    EXPECT_EQ(p.caption, c.caption) << c.what;
}

INSTANTIATE_TEST_SUITE_P(Layouts, ButtonLayout,
    ::testing::Values(
        // The main window's buttons: one cell, no caption, centred: (0, 0).
        LayoutCase{ "main window", 50, 50, 50, 50, 0, 0, TCoolButton::blGlyphLeft, -1, 4, { 0, 0 }, { 50, 25, 0, 0 } },
        LayoutCase{ "left, centred together", 100, 30, 20, 20, 30, 10, TCoolButton::blGlyphLeft, -1, 4, { 23, 0 },
            { 47, 10, 30, 10 } },
        LayoutCase{ "left, spread evenly", 100, 30, 20, 20, 30, 10, TCoolButton::blGlyphLeft, -1, -1, { 16, 0 },
            { 52, 10, 30, 10 } },
        LayoutCase{ "right, margin set", 100, 30, 20, 20, 30, 10, TCoolButton::blGlyphRight, 5, -1, { 75, 0 },
            { 23, 10, 30, 10 } },
        LayoutCase{
            "top, both set", 60, 80, 20, 20, 30, 10, TCoolButton::blGlyphTop, 3, 2, { 0, 3 }, { 15, 25, 30, 10 } },
        LayoutCase{ "bottom, margin -1", 60, 80, 20, 20, 30, 11, TCoolButton::blGlyphBottom, -1, 4, { 0, 37 },
            { 15, 22, 30, 11 } }));

} // namespace
