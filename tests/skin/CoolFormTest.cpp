#include "skin/CoolForm.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>

#include <memory>

using namespace velth;

namespace {

QByteArray le32(quint32 v)
{
    QByteArray s;
    for (int i = 0; i < 4; ++i)
        s.append(static_cast<char>((v >> (8 * i)) & 0xff));
    return s;
}

QByteArray oneRect(int l, int t, int r, int b)
{
    QByteArray data = le32(32) + le32(1) + le32(1) + le32(16);
    for (int round = 0; round < 2; ++round)
        for (int v : { l, t, r, b })
            data += le32(static_cast<quint32>(v));
    return le32(static_cast<quint32>(data.size())) + data;
}

// Counts the drags a left press starts instead of asking the window system.
class CountingForm final : public TCoolForm
{
public:
    using TCoolForm::TCoolForm;
    int drags = 0;
    bool systemMove = true;

protected:
    bool startDrag() override
    {
        ++drags;
        return systemMove;
    }
};

class CoolFormTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        window = std::make_unique<QWidget>();
        window->resize(590, 500);
        form = new CountingForm(window.get());
        form->setGeometry(0, 0, 590, 25);
    }

    std::unique_ptr<QWidget> window;
    CountingForm* form = nullptr;
};

TEST_F(CoolFormTest, EmptyRecordKeepsTheWindowRectangular)
{
    ASSERT_TRUE(form->loadMask2(QByteArray(4, '\0')));
    EXPECT_FALSE(form->Mask().hasRegion());
    EXPECT_TRUE(window->mask().isEmpty());
    EXPECT_EQ(form->storeMask2(), QByteArray(4, '\0'));
}

TEST_F(CoolFormTest, OneRectangleRecordShapesTheWindowAndStoresAgain)
{
    const QByteArray stored = oneRect(0, 0, 590, 500);
    ASSERT_TRUE(form->loadMask2(stored));
    EXPECT_EQ(window->mask(), QRegion(0, 0, 590, 500));
    EXPECT_TRUE(form->Mask().applied());
    EXPECT_EQ(form->storeMask2(), stored);
}

TEST_F(CoolFormTest, NonRectangularOutlineIsAppliedAndStoredEquivalently)
{
    QRegion shape(0, 0, 590, 25);
    shape += QRect(10, 25, 570, 475);
    const region::Outline outline = TCoolForm::toOutline(shape);
    const std::string bytes = region::writeOutline(outline);
    ASSERT_TRUE(form->loadMask2(QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()))));
    EXPECT_EQ(window->mask(), shape);
    EXPECT_FALSE(window->mask().contains(QPoint(5, 100)));
    const auto again = region::parseOutline(form->storeMask2().toStdString());
    ASSERT_TRUE(again);
    EXPECT_EQ(TCoolForm::toRegion(*again), shape);
}

TEST_F(CoolFormTest, PictureChangeDropsTheHeldRegionButNotTheWindowsOutline)
{
    ASSERT_TRUE(form->loadMask2(oneRect(0, 0, 300, 200)));
    form->setPicture(QPixmap(590, 25));
    EXPECT_FALSE(form->Mask().hasRegion());
    EXPECT_EQ(window->mask(), QRegion(0, 0, 300, 200));
    EXPECT_EQ(form->storeMask2(), QByteArray(4, '\0'));
}

TEST_F(CoolFormTest, MalformedRecordsApplyNothing)
{
    const QByteArray good = oneRect(0, 0, 100, 100);
    window->setMask(QRegion(0, 0, 50, 50));
    const std::vector<std::pair<const char*, QByteArray>> cases = {
        { "truncated", good.left(good.size() - 2) },
        { "short length field", QByteArray(2, '\0') },
        { "wrong kind", le32(32) + le32(32) + le32(7) + le32(0) + le32(0) + QByteArray(16, '\0') },
        { "rectangles missing", le32(32) + le32(32) + le32(1) + le32(3) + le32(48) + QByteArray(16, '\0') },
    };
    for (const auto& [what, bytes] : cases) {
        EXPECT_FALSE(form->loadMask2(bytes)) << what;
        EXPECT_FALSE(form->Mask().hasRegion()) << what;
        EXPECT_EQ(window->mask(), QRegion(0, 0, 50, 50)) << what;
    }
}

TEST_F(CoolFormTest, StaysAtTheTopLeftCorner)
{
    // Moved while hidden: in place once shown.
    form->move(100, 50);
    window->show();
    EXPECT_EQ(form->pos(), QPoint(0, 0));
    form->move(100, 50);
    EXPECT_EQ(form->pos(), QPoint(0, 0));
    form->setGeometry(30, 40, 200, 20);
    EXPECT_EQ(form->geometry(), QRect(0, 0, 200, 20));
}

TEST_F(CoolFormTest, TakesTheFrameOfATopLevelWindowOnly)
{
    QWidget top;
    ASSERT_FALSE(top.windowFlags().testFlag(Qt::FramelessWindowHint));
    auto* panel = new QWidget(&top);
    panel->setGeometry(50, 50, 200, 100);

    auto* onPanel = new TCoolForm(panel);
    EXPECT_FALSE(top.windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_FALSE(panel->isWindow());
    EXPECT_EQ(onPanel->pos(), QPoint(0, 0));
    EXPECT_EQ(onPanel->size(), panel->size()) << "a new title picture fills its parent";

    auto* title = new TCoolForm;
    title->setParent(&top);
    EXPECT_TRUE(top.windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_EQ(title->pos(), QPoint(0, 0));
}

TEST_F(CoolFormTest, OnlyALeftPressDragsTheWindow)
{
    auto pressWith = [&](Qt::MouseButton button) {
        QMouseEvent event(QEvent::MouseButtonPress, QPointF(20, 10), QPointF(20, 10), button, button, Qt::NoModifier);
        QApplication::sendEvent(form, &event);
    };
    pressWith(Qt::RightButton);
    EXPECT_EQ(form->drags, 0);
    pressWith(Qt::LeftButton);
    EXPECT_EQ(form->drags, 1);
    form->setDraggable(false);
    pressWith(Qt::LeftButton);
    EXPECT_EQ(form->drags, 1);
}

TEST_F(CoolFormTest, WindowFollowsThePointerWhereTheSystemCannotMoveIt)
{
    window->move(200, 100);
    form->systemMove = false;
    auto send = [&](QEvent::Type type, QPoint global, Qt::MouseButton button, Qt::MouseButtons buttons) {
        QMouseEvent event(type, QPointF(20, 10), QPointF(global), button, buttons, Qt::NoModifier);
        QApplication::sendEvent(form, &event);
    };
    send(QEvent::MouseButtonPress, QPoint(220, 110), Qt::LeftButton, Qt::LeftButton);
    send(QEvent::MouseMove, QPoint(320, 160), Qt::NoButton, Qt::LeftButton);
    EXPECT_EQ(window->pos(), QPoint(300, 150));
    send(QEvent::MouseButtonRelease, QPoint(320, 160), Qt::LeftButton, Qt::NoButton);
    send(QEvent::MouseMove, QPoint(400, 400), Qt::NoButton, Qt::NoButton);
    EXPECT_EQ(window->pos(), QPoint(300, 150)) << "the drag ends with the release";
}

} // namespace
