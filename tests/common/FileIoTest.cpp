#include "common/FileIo.h"
#include "common/Error.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>

#include <sys/stat.h>
#include <unistd.h>

using namespace velth;
using velth::test::FileSizeLimit;
using velth::test::TempDir;

namespace {

int countFiles(const std::string& folder)
{
    int n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder))
        ++n;
    return n;
}

} // namespace

TEST(FileIo, ReadsWholeFilesAndNamesMissingOnes)
{
    TempDir dir;
    dir.write("a.bin", std::string("x\0\xff\r\n", 5));
    EXPECT_EQ(readFile(dir.file("a.bin")), std::string("x\0\xff\r\n", 5));
    EXPECT_FALSE(readFileIfExists(dir.file("none")).has_value());
    try {
        readFile(dir.file("none"));
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find(dir.file("none")), std::string::npos) << e.what();
    }
}

TEST(FileIo, AtomicWriteReplacesWholeAndKeepsPermissions)
{
    TempDir dir;
    dir.write("f", "old");
    ::chmod(dir.file("f").c_str(), 0600);
    writeFileAtomic(dir.file("f"), "new content");
    EXPECT_EQ(dir.read("f"), "new content");
    EXPECT_EQ(dir.mode("f"), 0600u);
    EXPECT_EQ(countFiles(dir.path()), 1);
}

// A write that fails half-way must leave the previous file as it was and no
// temporary file behind.
TEST(FileIo, FailedWriteLeavesOldFileAndNoTemporary)
{
    TempDir dir;
    dir.write("f", "precious");
    {
        FileSizeLimit limit(16);
        EXPECT_THROW(writeFileAtomic(dir.file("f"), std::string(4096, 'x')), Error);
    }
    EXPECT_EQ(dir.read("f"), "precious");
    EXPECT_EQ(countFiles(dir.path()), 1);

    // A target inside a missing folder fails with the target's name.
    try {
        writeFileAtomic(dir.file("missing/f"), "x");
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find(dir.file("missing/f")), std::string::npos) << e.what();
    }
}

// The temporary name fits the file system whatever the target's length.
TEST(FileIo, AtomicWriteOfNamesUpToTheLimit)
{
    TempDir dir;
    for (const std::size_t length : { std::size_t(1), std::size_t(244), std::size_t(245), std::size_t(255) }) {
        SCOPED_TRACE(length);
        const std::string name(length, 'n');
        writeFileAtomic(dir.file(name), "whole");
        EXPECT_EQ(dir.read(name), "whole");
        const std::string temp = makeTempFileBeside(dir.file(name));
        EXPECT_EQ(temp.substr(0, dir.file("").size()), dir.file(""));
        EXPECT_LE(temp.size() - dir.file("").size(), 255u);
        EXPECT_NE(temp.find(".part"), std::string::npos);
        std::remove(temp.c_str());
        std::remove(dir.file(name).c_str());
        EXPECT_EQ(countFiles(dir.path()), 0);
    }
}

// A portable copy may sit in a folder the user may not write, with a profile
// store the user may.
TEST(FileIo, WritableFileInAReadOnlyFolderIsRewrittenInPlace)
{
    if (!velth::test::permissionsApply())
        GTEST_SKIP() << "root may write to every folder";
    TempDir dir;
    dir.write("f", "old content, longer");
    dir.write("locked", "old");
    ::chmod(dir.file("f").c_str(), 0600);
    ::chmod(dir.file("locked").c_str(), 0400);
    ::chmod(dir.path().c_str(), 0555);
    writeFileAtomic(dir.file("f"), "new");
    EXPECT_THROW(writeFileAtomic(dir.file("locked"), "new"), Error);
    EXPECT_THROW(writeFileAtomic(dir.file("missing"), "new"), Error);
    ::chmod(dir.path().c_str(), 0755);
    EXPECT_EQ(dir.read("f"), "new");
    EXPECT_EQ(dir.read("locked"), "old");
    EXPECT_EQ(dir.mode("f"), 0600u);
    EXPECT_EQ(countFiles(dir.path()), 2);
}

TEST(FileIo, MakeFoldersCreatesParents)
{
    TempDir dir;
    EXPECT_TRUE(makeFolders(dir.file("a/b/c")));
    EXPECT_TRUE(isDirectory(dir.file("a/b/c")));
    dir.write("plain", "x");
    EXPECT_FALSE(makeFolders(dir.file("plain/sub")));
}

// A name near the file system's limit had no room for the ".partXXXXXX"
// suffix, so a 254-byte log could not be downloaded or saved at all.
struct LongNameCase
{
    const char* label;
    std::string name;
    std::size_t tempPrefix; // bytes of the name the temporary keeps
};

class TempNameTest : public ::testing::TestWithParam<LongNameCase>
{ };

TEST_P(TempNameTest, FitsTheNameLimitAndStaysBesideTheTarget)
{
    TempDir dir;
    const LongNameCase& c = GetParam();
    const std::string temp = makeTempFileBeside(dir.file(c.name));
    ASSERT_EQ(temp.substr(0, dir.path().size()), dir.path());
    const std::string tempName = temp.substr(dir.path().size());
    EXPECT_EQ(tempName.size(), c.tempPrefix + 11) << tempName;
    EXPECT_EQ(tempName.substr(0, c.tempPrefix), c.name.substr(0, c.tempPrefix));
    EXPECT_TRUE(isTempFileName(tempName)) << tempName;
    ::unlink(temp.c_str());

    writeFileAtomic(dir.file(c.name), "whole");
    EXPECT_EQ(dir.read(c.name), "whole");
    EXPECT_EQ(countFiles(dir.path()), 1);
}

INSTANTIATE_TEST_SUITE_P(Names, TempNameTest,
    ::testing::Values(LongNameCase{ "short", "a.log", 5 }, LongNameCase{ "roomExactly", std::string(244, 'b'), 244 },
        LongNameCase{ "oneOver", std::string(245, 'c'), 244 },
        LongNameCase{ "log254", std::string(250, 'd') + ".log", 244 },
        LongNameCase{ "limit255", std::string(255, 'e'), 244 },
        // "ü" is two bytes; the limit falls between them, so both go.
        LongNameCase{ "cutInsideUtf8", std::string(243, 'f') + "\xC3\xBC" + "tail", 243 }),
    [](const auto& row) { return std::string(row.param.label); });

// After a crash the temporaries of the program's own pattern go; other files
// whose names only look alike, folders, links and subfolders stay.
TEST(FileIo, RemovesOnlyLeftoverTemporaries)
{
    TempDir dir;
    TempDir outside;
    outside.write("target.partAbC123", "not ours to remove");
    const std::string download = makeTempFileBeside(dir.file("L1020000.log"));
    const std::string longName = makeTempFileBeside(dir.file(std::string(254, 'x')));
    const std::vector<std::string> kept
        = { "L1020000.log", "a.part12345", "a.part1234567", "notes.partABC123.txt", ".partABC123", "a.part12345-" };
    for (const std::string& name : kept)
        dir.write(name, "keep");
    ASSERT_TRUE(makeFolders(dir.file("sub")));
    dir.write("sub/deeper.partAbC123", "keep");
    ASSERT_TRUE(makeFolders(dir.file("folder.partAbC123")));
    ASSERT_EQ(::symlink(outside.file("target.partAbC123").c_str(), dir.file("link.partAbC123").c_str()), 0);

    EXPECT_EQ(removeLeftoverTempFiles(dir.path()), 2);
    EXPECT_FALSE(pathExists(download));
    EXPECT_FALSE(pathExists(longName));
    for (const std::string& name : kept)
        EXPECT_TRUE(dir.exists(name)) << name;
    EXPECT_TRUE(dir.exists("sub/deeper.partAbC123"));
    EXPECT_TRUE(isDirectory(dir.file("folder.partAbC123")));
    EXPECT_EQ(outside.read("target.partAbC123"), "not ours to remove");
    EXPECT_EQ(removeLeftoverTempFiles(dir.file("missing")), 0);
}

// Only a copy that starts while no other runs is alone; a later one must not
// remove what a running copy is writing, whichever copy started first.
TEST(FileIo, ProgramFolderLockTellsWhetherAnotherCopyRuns)
{
    TempDir dir;
    auto first = std::make_unique<ProgramFolderLock>(dir.path());
    EXPECT_TRUE(first->alone());
    first->share();
    ProgramFolderLock second(dir.path());
    EXPECT_FALSE(second.alone());
    first.reset();
    EXPECT_FALSE(ProgramFolderLock(dir.path()).alone());
}
