#include "editors/MapcycleFrame.h"

#include "PageFixture.h"
#include "common/ErrorReport.h"

#include <QAction>
#include <QComboBox>
#include <QPushButton>
#include <QTest>

namespace velth {
namespace {

using test::itemTexts;

const QString kSelectServer = QStringLiteral("Please select a FTP Server!");
const QString kSelectMap = QStringLiteral("Please select a map!");

class MapcycleFrameTest : public test::PageFixture<TmapcycleFrame>
{
protected:
    MapcycleFrameTest()
    {
        for (const char* map : { "de_dust", "DE_DUST", "De_Dust2", "cs_office" })
            page->MapList->addItem(QString::fromLatin1(map));
    }

    void addFromList(int row)
    {
        page->MapList->setCurrentRow(row);
        runGuarded([&] { page->BAddClick(); });
    }

    void addCustom(const QString& typed)
    {
        prompts.expectInput(QStringLiteral("Add custom map"), typed);
        runGuarded([&] { page->Addcustommap1Click(); });
        prompts.verify();
    }
};

TEST_F(MapcycleFrameTest, Layout)
{
    page->show();
    EXPECT_EQ(page->MainControl->tabText(0), QStringLiteral("Mapcycle"));
    EXPECT_EQ(page->BottomBar->height(), 30);
    EXPECT_EQ(page->MapListPanel->width(), 116);
    // The bar's controls keep their distance to its right edge.
    const int before = page->BottomBar->width() - page->BDownload->geometry().right();
    page->resize(622, 425);
    QCoreApplication::processEvents();
    EXPECT_EQ(page->BottomBar->width() - page->BDownload->geometry().right(), before);
    EXPECT_EQ(page->BDownload->x() - page->BUpload->x(), 80);
    EXPECT_EQ(page->BUpload->size(), QSize(75, 21));
}

TEST_F(MapcycleFrameTest, AddingFromTheListNeedsAMapAndAProfile)
{
    prompts.expectErrorBox(kSelectMap);
    runGuarded([&] { page->BAddClick(); });
    prompts.verify();

    prompts.expectErrorBox(kSelectServer);
    addFromList(0);
    prompts.verify();
    EXPECT_EQ(page->Maps->count(), 0);
}

TEST_F(MapcycleFrameTest, AddingFromTheListSkipsDuplicatesInAnyLetterCase)
{
    folder.write(local("alpha", "mapcycle.txt"), "");
    pick(0);
    addFromList(2); // De_Dust2, in the list's letter case
    addFromList(2);
    addFromList(0);
    addFromList(1); // DE_DUST after de_dust
    EXPECT_EQ(itemTexts(page->Maps), (QStringList{ QStringLiteral("De_Dust2"), QStringLiteral("de_dust") }));
}

TEST_F(MapcycleFrameTest, DoubleClickAddsAndRemoves)
{
    folder.write(local("alpha", "mapcycle.txt"), "");
    pick(0);
    page->show();
    test::doubleClick(page->MapList, 3);
    test::doubleClick(page->MapList, 3);
    EXPECT_EQ(itemTexts(page->Maps), (QStringList{ QStringLiteral("cs_office") }));
    test::doubleClick(page->Maps, 0);
    EXPECT_EQ(page->Maps->count(), 0);
}

TEST_F(MapcycleFrameTest, CustomMapsAreLowerCasedAndNotDuplicated)
{
    // No profile is needed for typed names.
    addCustom(QStringLiteral("Cs_Office"));
    addCustom(QStringLiteral("cs_office"));
    page->Maps->addItem(QStringLiteral("de_dust"));
    addCustom(QStringLiteral("DE_DUST"));
    addCustom(QStringLiteral("De_Dust2"));
    addCustom(QStringLiteral(" with blank "));

    prompts.expectInput(QStringLiteral("Add custom map"), std::nullopt);
    runGuarded([&] { page->Addcustommap1Click(); });
    prompts.verify();
    EXPECT_EQ(itemTexts(page->Maps),
        (QStringList{ QStringLiteral("cs_office"), QStringLiteral("de_dust"), QStringLiteral("de_dust2"),
            QStringLiteral(" with blank ") }));
    EXPECT_EQ(page->Maps->actions().size(), 1);
    EXPECT_EQ(page->Maps->actions().first()->text(), QStringLiteral("Add custom map ..."));
}

TEST_F(MapcycleFrameTest, RemovingNeedsASelectedEntry)
{
    addCustom(QStringLiteral("a"));
    addCustom(QStringLiteral("b"));
    prompts.expectErrorBox(kSelectMap);
    runGuarded([&] { page->BRemoveClick(); });
    prompts.verify();
    page->Maps->setCurrentRow(0);
    runGuarded([&] { page->BRemoveClick(); });
    EXPECT_EQ(itemTexts(page->Maps), (QStringList{ QStringLiteral("b") }));
}

TEST_F(MapcycleFrameTest, PickingAProfileLoadsItsLocalCopy)
{
    folder.write(local("alpha", "mapcycle.txt"), "x\ny\r\n\r\nz");
    pick(0);
    EXPECT_EQ(itemTexts(page->Maps),
        (QStringList{ QStringLiteral("x"), QStringLiteral("y"), QString(), QStringLiteral("z") }));

    // Loaded duplicates stay; bytes that are not UTF-8 come back unchanged.
    folder.write(local("beta", "mapcycle.txt"), std::string("de_\xe4\r\nDE_\xc4\r\nde_\xe4\r\n\0junk", 23));
    pick(1);
    EXPECT_EQ(page->cycleEntries(), (std::vector<std::string>{ "de_\xe4", "DE_\xc4", "de_\xe4" }));
}

// One server's cycle must never be uploaded to another by mistake: a profile
// without a local copy empties the list besides reporting the error.
TEST_F(MapcycleFrameTest, ProfileWithoutLocalCopyEmptiesTheList)
{
    folder.write(local("alpha", "mapcycle.txt"), "de_dust\r\n");
    pick(0);
    ASSERT_EQ(page->Maps->count(), 1);
    prompts.expectErrorReport(QStringLiteral("mapcycle.txt"));
    pick(1);
    prompts.verify();
    EXPECT_EQ(page->Maps->count(), 0);
}

TEST_F(MapcycleFrameTest, TransfersRefusedWithoutProfileWriteNothing)
{
    addCustom(QStringLiteral("de_dust"));
    prompts.expectErrorBox(kSelectServer).expectErrorBox(kSelectServer);
    QTest::mouseClick(page->BUpload, Qt::LeftButton);
    QTest::mouseClick(page->BDownload, Qt::LeftButton);
    prompts.verify();
    EXPECT_FALSE(folder.exists(local("alpha", "mapcycle.txt")));
    EXPECT_FALSE(folder.exists(local("beta", "mapcycle.txt")));
    EXPECT_TRUE(status.history.isEmpty());
}

TEST_F(MapcycleFrameTest, UploadWithoutLocalFolderFailsBeforeConnecting)
{
    folder.write(local("alpha", "mapcycle.txt"), "");
    pick(0);
    addCustom(QStringLiteral("de_dust"));
    std::filesystem::remove_all(folder.file("cfgs/alpha"));
    prompts.expectErrorReport(QStringLiteral("mapcycle.txt"));
    runGuarded([&] { page->BUploadClick(); });
    prompts.verify();
    EXPECT_TRUE(status.history.isEmpty());
}

} // namespace
} // namespace velth
