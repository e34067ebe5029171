#include "app/MainForm.h"
#include "skin/CoolButton.h"
#include "skin/CoolForm.h"
#include "skin/PageTabs.h"
#include "skin/SkinPicture.h"
#include "support/ScriptedPrompts.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

using namespace velth;

namespace {

TEST(MainWindowSkin, TitleButtonsAndPicturesAreInPlace)
{
    test::ProgramFolder folder;
    test::ScriptedPrompts prompts;
    TMainForm window(folder.path(), prompts);
    window.show();
    EXPECT_TRUE(window.windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_EQ(window.TitleBar->geometry(), QRect(0, 0, 590, 25));
    EXPECT_TRUE(window.mask().isEmpty()) << "the main window stays rectangular";
    EXPECT_EQ(window.TitleBar->storeMask2(), QByteArray(4, '\0'));

    // Every skin picture is there, at the size the layout needs.
    EXPECT_EQ(window.TitleBar->picture().size(), QSize(590, 25));
    for (TCoolButton* b :
        { window.BChat, window.BCfg, window.BUser, window.BMapCycle, window.BSettings, window.BAbout, window.BExit }) {
        EXPECT_EQ(b->Glyph().size(), QSize(200, 50)) << b->objectName().toStdString();
        EXPECT_EQ(b->Glyph2x().size(), QSize(400, 100)) << b->objectName().toStdString();
        EXPECT_EQ(b->NumGlyphs(), 4);
        EXPECT_EQ(b->keyColor(), QColor(0x4c, 0x4c, 0x4c)) << b->objectName().toStdString();
    }
    // The Live button's low strip: four cells of 50 x 20.
    EXPECT_EQ(window.BLive->Glyph().size(), QSize(200, 20));
    EXPECT_EQ(window.BLive->Glyph2x().size(), QSize(400, 40));
    EXPECT_EQ(window.BLive->NumGlyphs(), 4);
    EXPECT_EQ(window.BLive->keyColor(), QColor(0x4c, 0x4c, 0x4c));
    for (TCoolButton* b : { window.BHide, window.BExit2 }) {
        EXPECT_EQ(b->Glyph().size(), QSize(88, 22));
        EXPECT_EQ(b->Glyph2x().size(), QSize(176, 44));
        EXPECT_EQ(b->keyColor(), QColor(0, 0, 0));
    }
    for (int i = 0; i <= 10; ++i)
        EXPECT_FALSE(tabIcon(i).isNull()) << "tab icon " << i;
    // Every picture also exists at exactly twice its size.
    QStringList names = { QStringLiteral("titlebar.png"), QStringLiteral("topbar.png"), QStringLiteral("leftbar.png"),
        QStringLiteral("statusbar.png"), QStringLiteral("logo.png"), QStringLiteral("tray.png") };
    for (int i = 0; i <= 10; ++i)
        names << QStringLiteral("tab%1.png").arg(i);
    for (const QString& name : names) {
        const QImage plain = skinImage(name, 1);
        ASSERT_FALSE(plain.isNull()) << name.toStdString();
        EXPECT_EQ(skinImage(name, 2).size(), plain.size() * 2) << name.toStdString();
    }

    // The page on show has its button greyed: the window shows cell 1 there.
    window.BUserClick();
    const QImage shown = window.grab(window.BUser->geometry()).toImage();
    const QImage greyed = window.BUser->Glyph().copy(50, 0, 50, 50);
    EXPECT_EQ(shown.pixel(25, 25), greyed.pixel(25, 25));
    EXPECT_EQ(window.BUser->state(), TCoolButton::State::Disabled);
    const QImage normal = window.grab(window.BChat->geometry()).toImage();
    EXPECT_EQ(normal.pixel(25, 25), window.BChat->Glyph().pixel(25, 25));
    EXPECT_NE(greyed.pixel(25, 25), window.BUser->Glyph().pixel(25, 25));
}

} // namespace
