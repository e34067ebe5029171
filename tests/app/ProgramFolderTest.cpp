#include "app/ProgramFolder.h"

#include "common/FileIo.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace velth;
using velth::test::TempDir;

namespace {

struct DataFolderCase
{
    const char* name;
    const char* xdgDataHome;
    const char* home;
    const char* expected;
};

class UserDataFolderTest : public ::testing::TestWithParam<DataFolderCase>
{ };

TEST_P(UserDataFolderTest, FollowsTheBaseDirectoryRules)
{
    const DataFolderCase& c = GetParam();
    EXPECT_EQ(userDataFolder(c.xdgDataHome, c.home), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Env, UserDataFolderTest,
    ::testing::Values(DataFolderCase{ "xdg", "/srv/data", "/home/ann", "/srv/data/velth-control-center" },
        DataFolderCase{ "xdg_slash", "/srv/data/", "/home/ann", "/srv/data/velth-control-center" },
        DataFolderCase{ "xdg_empty", "", "/home/ann", "/home/ann/.local/share/velth-control-center" },
        DataFolderCase{ "xdg_unset", nullptr, "/home/ann/", "/home/ann/.local/share/velth-control-center" },
        // A relative XDG_DATA_HOME would land in the current directory.
        DataFolderCase{ "xdg_relative", "data", "/home/ann", "/home/ann/.local/share/velth-control-center" },
        DataFolderCase{ "no_home", nullptr, nullptr, "" }, DataFolderCase{ "relative_home", "", "ann", "" }),
    [](const auto& row) { return std::string(row.param.name); });

TEST(InstalledDataFolder, LiesUnderTheSharedFolderOfThePrefix)
{
    EXPECT_EQ(installedDataFolder("/usr/bin/"), "/usr/share/velth-control-center");
    EXPECT_EQ(installedDataFolder("/opt/vcc/bin"), "/opt/vcc/share/velth-control-center");
}

// A copy of the program in a temporary tree: <tree>/bin holds the executable's
// folder, <tree>/share/velth-control-center the installed data, <tree>/home
// the user's data folder.
struct Layout
{
    const char* name;
    bool installed; // the installed data folder exists beside bin/
    const char* installedMapList; // its mapcycle.txt, or none
    const char* besideMapList; // mapcycle.txt beside the executable, or none
    bool storeBeside; // bin/ holds an ftpserver.ini
    bool binReadOnly; // the user may not write to bin/
    const char* userMapList; // the user's data folder already has a map list
    bool portable; // expected: bin/ is the program folder
    const char* expectedMapList; // expected map list in the user's data folder
};

class ChooseProgramFolderTest : public ::testing::TestWithParam<Layout>
{ };

TEST_P(ChooseProgramFolderTest, PicksTheFolderAndSeedsTheUsersOne)
{
    const Layout& c = GetParam();
    if (c.binReadOnly && !test::permissionsApply())
        GTEST_SKIP() << "root may write to every folder";
    TempDir tree;
    const std::string bin = tree.file("bin");
    const std::string user = tree.file("home/velth-control-center");
    ASSERT_TRUE(makeFolders(bin));
    if (c.installed) {
        ASSERT_TRUE(makeFolders(tree.file("share/velth-control-center")));
    }
    if (c.installedMapList)
        tree.write("share/velth-control-center/mapcycle.txt", c.installedMapList);
    if (c.besideMapList)
        tree.write("bin/mapcycle.txt", c.besideMapList);
    if (c.storeBeside)
        tree.write("bin/ftpserver.ini", "[a]\r\nHOST=h\r\n");
    if (c.userMapList) {
        ASSERT_TRUE(makeFolders(user));
        tree.write("home/velth-control-center/mapcycle.txt", c.userMapList);
    }
    if (c.binReadOnly) {
        ASSERT_EQ(::chmod(bin.c_str(), 0555), 0);
    }

    const std::string chosen = chooseProgramFolder(bin, user);

    EXPECT_EQ(chosen, c.portable ? bin + "/" : user + "/");
    EXPECT_EQ(isDirectory(user), !c.portable || c.userMapList != nullptr);
    struct stat st
    { };
    if (!c.portable && !c.userMapList && ::stat(user.c_str(), &st) == 0) {
        EXPECT_EQ(st.st_mode & 0777, 0700u) << "a new data folder is the user's alone";
    }
    if (c.expectedMapList)
        EXPECT_EQ(tree.read("home/velth-control-center/mapcycle.txt"), c.expectedMapList);
    else
        EXPECT_FALSE(tree.exists("home/velth-control-center/mapcycle.txt"));
    // Nothing of the user's is written beside an installed executable.
    EXPECT_EQ(tree.exists("bin/mapcycle.txt"), c.besideMapList != nullptr);
}

constexpr const char* kInstalled = "de_dust2\r\nde_inferno\r\n";
constexpr const char* kBeside = "cs_office\r\n";
constexpr const char* kOwn = "de_aztec\r\n";

INSTANTIATE_TEST_SUITE_P(Layouts, ChooseProgramFolderTest,
    ::testing::Values(
        // A build folder or an unpacked copy the user owns: everything beside.
        Layout{ "portable", false, nullptr, kBeside, false, false, nullptr, true, nullptr },
        // Installed: the user's folder is made and given the default list.
        Layout{ "installed", true, kInstalled, nullptr, false, false, nullptr, false, kInstalled },
        // Installed where this user may write (root, a prefix in the home):
        // the user's files still stay out of bin/.
        Layout{ "installed_writable_bin", true, kInstalled, kBeside, false, false, nullptr, false, kInstalled },
        // The user's own list is never replaced by the default one.
        Layout{ "installed_own_list", true, kInstalled, nullptr, false, false, kOwn, false, kOwn },
        // Without a default list start-up reports the missing file itself.
        Layout{ "installed_no_default", true, nullptr, nullptr, false, false, nullptr, false, nullptr },
        // A profile store beside the executable keeps portable use.
        Layout{ "installed_with_store", true, kInstalled, nullptr, true, false, nullptr, true, nullptr },
        // An unpacked copy in a folder the user may not write: its own list
        // seeds the user's folder.
        Layout{ "readonly_copy", false, nullptr, kBeside, false, true, nullptr, false, kBeside },
        Layout{ "readonly_copy_with_store", false, nullptr, kBeside, true, true, nullptr, true, nullptr }),
    [](const auto& row) { return std::string(row.param.name); });

TEST(ChooseProgramFolder, KeepsTheExecutablesFolderWithoutAUserFolder)
{
    TempDir tree;
    ASSERT_TRUE(makeFolders(tree.file("bin")));
    ASSERT_TRUE(makeFolders(tree.file("share/velth-control-center")));
    EXPECT_EQ(chooseProgramFolder(tree.file("bin"), ""), tree.file("bin/"));
}

} // namespace
