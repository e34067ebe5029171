#include "loganalysis/LocalFileList.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QAbstractItemModel>
#include <QApplication>
#include <QDir>
#include <QHeaderView>
#include <QLineEdit>
#include <QTest>

#include <filesystem>

using velth::LocalFileList;
using velth::test::TempDir;

namespace {

QString folderOf(const TempDir& dir)
{
    return QString::fromStdString(dir.path()).chopped(1);
}

bool waitForNames(const LocalFileList& list, const QStringList& names)
{
    return QTest::qWaitFor([&] { return list.names() == names; }, 10000);
}

struct LocalFileListTest : ::testing::Test
{
    TempDir dir;
    LocalFileList list;

    void SetUp() override
    {
        dir.write("L1020000.log", "a");
        dir.write("L0101000.log", "b");
        dir.write("notes.txt", "c");
        dir.write(".hidden.log", "d");
        std::filesystem::create_directory(dir.file("sub.log"));
        list.resize(400, 300);
        list.show();
        list.setRootFolder(folderOf(dir));
    }
};

TEST_F(LocalFileListTest, ShowsThePlainFilesSortedByName)
{
    EXPECT_TRUE(waitForNames(list,
        { QStringLiteral(".hidden.log"), QStringLiteral("L0101000.log"), QStringLiteral("L1020000.log"),
            QStringLiteral("notes.txt") }))
        << list.names().join(u',').toStdString();
    EXPECT_EQ(list.rootFolder(), folderOf(dir));
    EXPECT_TRUE(list.showGrid());
    EXPECT_EQ(list.selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_FALSE(list.selectedName());
}

// The list follows the folder: files written or removed by anyone show up or
// disappear without any action.
TEST_F(LocalFileListTest, FollowsTheFolderByItself)
{
    ASSERT_TRUE(waitForNames(list,
        { QStringLiteral(".hidden.log"), QStringLiteral("L0101000.log"), QStringLiteral("L1020000.log"),
            QStringLiteral("notes.txt") }));
    dir.write("L0000001.log", "new");
    std::filesystem::remove(dir.file("notes.txt"));
    EXPECT_TRUE(waitForNames(list,
        { QStringLiteral(".hidden.log"), QStringLiteral("L0000001.log"), QStringLiteral("L0101000.log"),
            QStringLiteral("L1020000.log") }))
        << list.names().join(u',').toStdString();
}

TEST_F(LocalFileListTest, SelectionGivesTheNameAndTheExactPath)
{
    ASSERT_TRUE(QTest::qWaitFor([&] { return list.names().size() == 4; }, 10000));
    EXPECT_FALSE(list.selectName(QStringLiteral("missing.log")));
    ASSERT_TRUE(list.selectName(QStringLiteral("notes.txt")));
    EXPECT_EQ(list.selectedName(), QStringLiteral("notes.txt"));
    EXPECT_EQ(list.selectedPath(), folderOf(dir) + QStringLiteral("/notes.txt"));
}

// Renaming in place renames the file on disk.
TEST_F(LocalFileListTest, RenamesInPlace)
{
    ASSERT_TRUE(QTest::qWaitFor([&] { return list.names().size() == 4; }, 10000));
    ASSERT_TRUE(list.selectName(QStringLiteral("notes.txt")));
    list.setFocus();
    QTest::keyClick(&list, Qt::Key_F2);
    auto* editor = list.findChild<QLineEdit*>();
    ASSERT_NE(editor, nullptr);
    editor->setText(QStringLiteral("L0909000.log"));
    QTest::keyClick(editor, Qt::Key_Return);
    EXPECT_TRUE(QTest::qWaitFor([&] { return dir.exists("L0909000.log"); }, 5000));
    EXPECT_FALSE(dir.exists("notes.txt"));
    EXPECT_EQ(dir.read("L0909000.log"), "c");
    EXPECT_TRUE(QTest::qWaitFor([&] { return list.names().contains(QStringLiteral("L0909000.log")); }, 10000));
}

// A double click opens nothing and never leaves the folder.
TEST_F(LocalFileListTest, NoNavigation)
{
    ASSERT_TRUE(QTest::qWaitFor([&] { return list.names().size() == 4; }, 10000));
    const QModelIndex root = list.rootIndex();
    ASSERT_TRUE(list.selectName(QStringLiteral("L1020000.log")));
    const QRect rect = list.visualRect(list.currentIndex());
    QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, rect.center());
    EXPECT_EQ(list.rootIndex(), root);
    EXPECT_EQ(list.names().size(), 4);
}

// A logs folder that could not be created must not let the list fall back on
// another folder (the current directory was shown, and its files deleted).
TEST(LocalFileListMissingFolder, StaysEmptyUntilTheFolderExists)
{
    TempDir dir;
    dir.write("victim.txt", "keep");
    const QString previous = QDir::currentPath();
    QDir::setCurrent(folderOf(dir));
    LocalFileList list;
    list.resize(400, 300);
    list.show();
    const QString logs = folderOf(dir) + QStringLiteral("/logs");
    list.setRootFolder(logs);
    QTest::qWait(200);
    EXPECT_EQ(list.rootFolder(), logs);
    const int shownRows = list.model() ? list.model()->rowCount(list.rootIndex()) : 0;
    EXPECT_EQ(shownRows, 0);
    EXPECT_TRUE(list.names().isEmpty());
    EXPECT_FALSE(list.selectName(QStringLiteral("victim.txt")));
    EXPECT_FALSE(list.selectedPath());
    EXPECT_TRUE(list.missingText().contains(logs)) << list.missingText().toStdString();
    list.setFocus();
    QTest::keyClick(&list, Qt::Key_F2);
    EXPECT_EQ(list.findChild<QLineEdit*>(), nullptr);
    EXPECT_EQ(dir.read("victim.txt"), "keep");

    // The folder appears: the list fills by itself.
    std::filesystem::create_directory(dir.file("logs"));
    dir.write("logs/L0101000.log", "a");
    EXPECT_TRUE(waitForNames(list, { QStringLiteral("L0101000.log") })) << list.names().join(u',').toStdString();
    EXPECT_EQ(list.missingText(), QString());
    // And it goes away again: nothing is left to act on.
    std::filesystem::remove_all(dir.file("logs"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !list.missingText().isEmpty(); }, 10000));
    EXPECT_TRUE(list.names().isEmpty());
    QDir::setCurrent(previous);
}

} // namespace
