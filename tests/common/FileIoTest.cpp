#include "common/FileIo.h"
#include "common/Error.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>

#include <sys/resource.h>
#include <sys/stat.h>

using namespace velth;
using velth::test::TempDir;

namespace {

int countFiles(const std::string& folder)
{
    int n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder))
        ++n;
    return n;
}

// Limits the size of files this process may write, so a write fails even for
// root; restores the limit when it goes.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &m_old);
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_old;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }

private:
    rlimit m_old{};
    void (*m_oldHandler)(int) = nullptr;
};

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
    struct stat st
    { };
    ::stat(dir.file("f").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
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
    struct stat st
    { };
    ::stat(dir.file("f").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
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
