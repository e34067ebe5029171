#include "editors/ServerCfg.h"
#include "editors/MapcycleFile.h"

#include "common/Error.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace velth {
namespace {

const std::string kBlockHead = "////////////////////////////////////////////\r\n"
                               "// Velth Control Center Password Settings //\r\n"
                               "////////////////////////////////////////////\r\n"
                               "\r\n";

std::string block(const std::string& rcon, const std::string& server)
{
    return kBlockHead + "rcon_password \"" + rcon + "\"\r\n" + "sv_password \"" + server + "\"\r\n\r\n\r\n";
}

struct ComposeCase
{
    const char* name;
    std::string rcon;
    std::string server;
    std::string config;
    std::string expected;
};

class ComposeTest : public ::testing::TestWithParam<ComposeCase>
{ };

TEST_P(ComposeTest, GivesTheExactBytes)
{
    const ComposeCase& c = GetParam();
    EXPECT_EQ(composeServerCfg(c.rcon, c.server, c.config), c.expected);
}

INSTANTIATE_TEST_SUITE_P(ServerCfg, ComposeTest,
    ::testing::Values(ComposeCase{ "EmptyConfigGivesTheBlockAlone", "secret", "join", "", block("secret", "join") },
        ComposeCase{
            "EmptyServerPasswordKeepsItsLine", "secret", "", "hostname x\r\n", block("secret", "") + "hostname x\r\n" },
        ComposeCase{ "PasswordsAsTypedNeitherTrimmedNorEscaped", " a\"b ", "\xe9\t", "", block(" a\"b ", "\xe9\t") },
        ComposeCase{ "OwnRconLineIsCopiedAfterTheBlock", "secret", "", "rcon_password \"old\"\r\nsv_gravity 800\r\n",
            block("secret", "") + "rcon_password \"old\"\r\nsv_gravity 800\r\n" },
        ComposeCase{ "LastLineWithoutLineEndGetsCrLf", "r", "s", "a\r\nb", block("r", "s") + "a\r\nb\r\n" },
        ComposeCase{ "LfBecomesCrLf", "r", "s", "a\nb\n", block("r", "s") + "a\r\nb\r\n" },
        ComposeCase{ "LoneCrIsDropped", "r", "s", "a\rb\r\nc\r", block("r", "s") + "ab\r\nc\r\n" },
        ComposeCase{ "CrBeforeCrLfIsDropped", "r", "s", "a\r\r\nb", block("r", "s") + "a\r\nb\r\n" },
        ComposeCase{ "EmptyLinesAreKept", "r", "s", "\n\r\nx\n\n", block("r", "s") + "\r\n\r\nx\r\n\r\n" },
        ComposeCase{ "CtrlZAtLineStartEndsTheFile", "r", "s",
            "a\r\n\x1a"
            "b\r\nc\r\n",
            block("r", "s") + "a\r\n" },
        ComposeCase{ "CtrlZFirstGivesTheBlockAlone", "r", "s", std::string("\x1a") + "a\r\n", block("r", "s") },
        ComposeCase{ "CtrlZInsideALineIsCopied", "r", "s",
            "a\x1a"
            "b\nc",
            block("r", "s")
                + "a\x1a"
                  "b\r\nc\r\n" },
        ComposeCase{ "EveryOtherByteIsCopied", "r", "s", std::string("\x00\x01\xff\x80", 4) + "\n",
            block("r", "s") + std::string("\x00\x01\xff\x80", 4) + "\r\n" }),
    [](const ::testing::TestParamInfo<ComposeCase>& row) { return std::string(row.param.name); });

TEST(ServerCfg, WriteComposesFromTheConfigFile)
{
    test::TempDir dir;
    dir.write("my.cfg", "mp_timelimit 20\nsv_cheats 0");
    writeServerCfg(dir.file("my.cfg"), dir.file("server.cfg"), "r", "");
    EXPECT_EQ(dir.read("server.cfg"), block("r", "") + "mp_timelimit 20\r\nsv_cheats 0\r\n");
}

// A failed composition must never leave a half-written server.cfg that a later
// upload could send.
TEST(ServerCfg, FailedWriteLeavesThePreviousFileAndNoTemporaryFile)
{
    test::TempDir dir;
    dir.write("server.cfg", "previous");
    EXPECT_THROW(writeServerCfg(dir.file("gone.cfg"), dir.file("server.cfg"), "r", "s"), Error);
    EXPECT_EQ(dir.read("server.cfg"), "previous");

    dir.write("ok.cfg", "x");
    dir.write("blocker", "a regular file");
    EXPECT_THROW(writeServerCfg(dir.file("ok.cfg"), dir.file("blocker/server.cfg"), "r", "s"), Error);

    int entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path()))
        ++entries;
    EXPECT_EQ(entries, 3); // server.cfg, ok.cfg, blocker
}

TEST(ServerCfg, ListsConfigsOfAnyLetterCaseButNotServerCfg)
{
    test::TempDir dir;
    for (const char* name : { "a.cfg", "Server.CFG", "b.CFG", ".hidden.cfg", "notes.txt", "x.cfg.bak", "cfg" })
        dir.write(name, "x");
    std::filesystem::create_directory(dir.file("folder.cfg"));
    EXPECT_EQ(listConfigs(dir.path()), (std::vector<std::string>{ ".hidden.cfg", "a.cfg", "b.CFG" }));
    EXPECT_TRUE(listConfigs(dir.file("missing")).empty());
}

struct MapcycleCase
{
    const char* name;
    std::string bytes;
    std::vector<std::string> entries;
};

class MapcycleReadTest : public ::testing::TestWithParam<MapcycleCase>
{ };

TEST_P(MapcycleReadTest, ReadsTheEntries)
{
    EXPECT_EQ(readMapcycle(GetParam().bytes), GetParam().entries);
}

INSTANTIATE_TEST_SUITE_P(Mapcycle, MapcycleReadTest,
    ::testing::Values(MapcycleCase{ "Empty", "", {} },
        MapcycleCase{ "MixedLineEnds", "x\ny\r\n\r\nz", { "x", "y", "", "z" } },
        MapcycleCase{ "LoneCrEndsALine", "a\rb\r", { "a", "b" } },
        MapcycleCase{ "LineEndAtTheEndAddsNoEntry", "a\r\nb\r\n", { "a", "b" } },
        MapcycleCase{ "OnlyEmptyLines", "\r\n\n", { "", "" } },
        MapcycleCase{ "ZeroByteEndsTheText", std::string("a\r\nb\0c\r\nd", 9), { "a", "b" } },
        MapcycleCase{ "ZeroByteFirst", std::string("\0a", 2), {} },
        MapcycleCase{ "HighBytesKept", "de_\xe4\xff\r\n", { "de_\xe4\xff" } }),
    [](const ::testing::TestParamInfo<MapcycleCase>& row) { return std::string(row.param.name); });

TEST(Mapcycle, WritesEveryEntryWithCrLf)
{
    EXPECT_EQ(writeMapcycle({ "de_dust", "cs_office" }), "de_dust\r\ncs_office\r\n");
    EXPECT_EQ(writeMapcycle({ "a", "", "b" }), "a\r\n\r\nb\r\n");
    EXPECT_EQ(writeMapcycle({}), "");
}

TEST(Mapcycle, FileRoundTripAndFailures)
{
    test::TempDir dir;
    saveMapcycleFile(dir.file("mapcycle.txt"), { "de_dust", "", "cs_\x80" });
    EXPECT_EQ(dir.read("mapcycle.txt"), "de_dust\r\n\r\ncs_\x80\r\n");
    EXPECT_EQ(loadMapcycleFile(dir.file("mapcycle.txt")), (std::vector<std::string>{ "de_dust", "", "cs_\x80" }));
    EXPECT_THROW(loadMapcycleFile(dir.file("missing.txt")), Error);
    EXPECT_THROW(saveMapcycleFile(dir.file("missing/mapcycle.txt"), { "x" }), Error);
}

} // namespace
} // namespace velth
