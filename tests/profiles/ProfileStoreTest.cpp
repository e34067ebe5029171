#include "profiles/ProfileStore.h"
#include "common/Error.h"
#include "profiles/ConnectionKind.h"
#include "profiles/IniFile.h"
#include "profiles/ServerProfile.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include <sys/stat.h>

using namespace velth;
using velth::test::TempDir;
using Names = std::vector<std::string>;

namespace {

// The way Windows' own INI functions leave a file that a user also edited.
const std::string kWindowsFile = "; servers of the clan\r\n"
                                 "[Clan Server]\r\n"
                                 "HOST=ftp.example.net\r\n"
                                 "PORT=2121\r\n"
                                 "USER=admin\r\n"
                                 "PASS=s3cret\r\n"
                                 "HLDS=/home/hlds\r\n"
                                 "Comment=kept by hand\r\n"
                                 "\r\n"
                                 "[Fun]\r\n"
                                 "HOST=10.0.0.5\r\n"
                                 "\r\n";

struct StoreTest : ::testing::Test
{
    TempDir dir;
    ProfileStore store{ dir.file("ftpserver.ini") };
};

} // namespace

TEST_F(StoreTest, ReadsAWindowsWrittenFile)
{
    dir.write("ftpserver.ini", kWindowsFile);
    EXPECT_EQ(store.profileNames(), (Names{ "Clan Server", "Fun" }));
    EXPECT_EQ(store.readString("clan server", "host"), "ftp.example.net");
    EXPECT_EQ(store.readInt("CLAN SERVER", "PORT", 21), 2121);
    EXPECT_EQ(store.readString("Clan Server", "comment"), "kept by hand");
    EXPECT_EQ(store.readString("Fun", "USER", "dflt"), "dflt");
    EXPECT_EQ(store.readString("Nope", "HOST"), "");
    EXPECT_EQ(store.readInt("Fun", "PORT", 21), 21);

    // The same in one reading, with the keys the file does not hold at their
    // defaults: the game server on the FTP host.
    const ServerProfile clan = readServerProfile(store, "clan server");
    EXPECT_EQ(clan.name, "clan server");
    EXPECT_EQ(clan.ftp, (FtpServerData{ ConnectionKind::FtpActive, "ftp.example.net", 2121, "admin", "s3cret" }));
    EXPECT_EQ(clan.hlds, "/home/hlds");
    EXPECT_EQ(clan.gameHost(), "ftp.example.net");
    EXPECT_EQ(clan.gamePort, 27015);
    EXPECT_EQ(clan.logAddress, "");
    EXPECT_EQ(clan.logPort, 27500);
    const ServerProfile fun = readServerProfile(store, "Fun");
    EXPECT_EQ(fun.ftp, (FtpServerData{ ConnectionKind::FtpActive, "10.0.0.5", 21, "", "" }));
    EXPECT_EQ(fun.hlds, "");
}

TEST_F(StoreTest, MissingFileReadsDefaultsAndFirstWriteCreatesIt)
{
    EXPECT_EQ(store.profileNames(), Names{});
    EXPECT_EQ(store.readInt("x", "PORT", 21), 21);
    store.writeString("New One", "HOST", "");
    EXPECT_EQ(dir.read("ftpserver.ini"), "[New One]\r\nHOST=\r\n");
    EXPECT_EQ(store.readInt("New One", "PORT", 21), 21);
    EXPECT_EQ(store.readString("New One", "USER"), "");
}

// Everything the program does not write survives its writes byte for byte.
TEST_F(StoreTest, WritesChangeOnlyTheirKey)
{
    dir.write("ftpserver.ini", kWindowsFile);
    store.writeString("CLAN SERVER", "pass", "n3w");
    std::string expected = kWindowsFile;
    expected.replace(expected.find("PASS=s3cret"), 11, "PASS=n3w");
    EXPECT_EQ(dir.read("ftpserver.ini"), expected);

    // A new key goes after the section's last key, before its blank line.
    store.writeString("Fun", "rconpass", "r1");
    expected.insert(expected.find("HOST=10.0.0.5\r\n") + 15, "rconpass=r1\r\n");
    EXPECT_EQ(dir.read("ftpserver.ini"), expected);

    // A new section goes at the end.
    store.writeString("Third", "HOST", "h");
    expected += "[Third]\r\nHOST=h\r\n";
    EXPECT_EQ(dir.read("ftpserver.ini"), expected);
    EXPECT_EQ(store.profileNames(), (Names{ "Clan Server", "Fun", "Third" }));
}

TEST_F(StoreTest, KeysOfASectionStayInFirstWrittenOrder)
{
    for (const char* key : { "HOST", "PORT", "USER", "PASS", "HLDS" })
        store.writeString("S", key, "v");
    store.writeString("S", "HOST", "again");
    store.writeString("S", "rconpass", "r");
    store.writeString("S", "serverpass", "s");
    EXPECT_EQ(dir.read("ftpserver.ini"),
        "[S]\r\nHOST=again\r\nPORT=v\r\nUSER=v\r\nPASS=v\r\nHLDS=v\r\nrconpass=r\r\nserverpass=s\r\n");
}

TEST_F(StoreTest, EraseRemovesTheWholeSectionOnly)
{
    dir.write("ftpserver.ini", kWindowsFile);
    store.eraseProfile("clan server");
    EXPECT_EQ(dir.read("ftpserver.ini"), "; servers of the clan\r\n[Fun]\r\nHOST=10.0.0.5\r\n\r\n");
    store.eraseProfile("not there");
    EXPECT_EQ(store.profileNames(), Names{ "Fun" });
}

// Files edited on Linux: LF ends, a last line without end, blanks around '='.
TEST_F(StoreTest, ToleratesHandEditedFiles)
{
    dir.write("ftpserver.ini", "[a]\nHOST = h \n  [ b ]\nPORT=0x15");
    EXPECT_EQ(store.profileNames(), (Names{ "a", "b" }));
    EXPECT_EQ(store.readString("a", "HOST"), "h");
    EXPECT_EQ(store.readInt("b", "PORT", 21), 21);
    store.writeString("b", "USER", "u");
    EXPECT_EQ(dir.read("ftpserver.ini"), "[a]\nHOST = h \n  [ b ]\nPORT=0x15\r\nUSER=u\r\n");
}

TEST(ProfileInt, ParsesDecimalAndHexOnly)
{
    struct Case
    {
        const char* text;
        std::optional<int> value;
    };
    const Case cases[] = {
        { "2121", 2121 },
        { "0x15", 21 },
        { "0X1f", 31 },
        { "+7", 7 },
        { "-5", -5 },
        { "0x", std::nullopt },
        { "", std::nullopt },
        { "21a", std::nullopt },
        { "abc", std::nullopt },
        { "0", 0 },
        { "99999999999", std::nullopt },
        { "0x-1", std::nullopt },
    };
    for (const Case& c : cases)
        EXPECT_EQ(parseProfileInt(c.text), c.value) << c.text;
}

// A profile from before the key existed, or with an empty value, stays plain
// active FTP; a value the program does not know never falls back to it.
TEST_F(StoreTest, ConnectionKindKeyReadsKnownValuesOnly)
{
    struct Case
    {
        const char* line; // nullptr: no CONNECTION line at all
        std::optional<ConnectionKind> kind;
        int port; // of a profile without PORT
    };
    const Case cases[] = {
        { nullptr, ConnectionKind::FtpActive, 21 },
        { "CONNECTION=", ConnectionKind::FtpActive, 21 },
        { "CONNECTION=ftp-passive", ConnectionKind::FtpPassive, 21 },
        { "connection = FTPS-Explicit ", ConnectionKind::FtpsExplicit, 21 },
        { "CONNECTION=ftps-implicit", ConnectionKind::FtpsImplicit, 990 },
        { "CONNECTION=sftp", ConnectionKind::Sftp, 22 },
        { "CONNECTION=ftps", std::nullopt, 0 },
        { "CONNECTION=sftp2", std::nullopt, 0 },
    };
    for (const Case& c : cases) {
        dir.write("ftpserver.ini", std::string("[p]\r\nHOST=h\r\n") + (c.line ? c.line + std::string("\r\n") : ""));
        if (c.kind) {
            EXPECT_EQ(readConnectionKind(store, "p"), *c.kind) << (c.line ? c.line : "none");
            const ServerProfile profile = readServerProfile(store, "p");
            EXPECT_EQ(profile.ftp.kind, *c.kind) << (c.line ? c.line : "none");
            EXPECT_EQ(profile.ftp.port, c.port) << (c.line ? c.line : "none");
        } else {
            // The profile as a whole is refused too: an action never starts
            // on a connection the user did not choose.
            for (const auto& read : { std::function<void()>([&] { readConnectionKind(store, "p"); }),
                     std::function<void()>([&] { readServerProfile(store, "p"); }) }) {
                try {
                    read();
                    ADD_FAILURE() << c.line << " was read as a kind";
                } catch (const Error& e) {
                    EXPECT_NE(std::string(e.what()).find("unknown connection"), std::string::npos) << e.what();
                }
            }
        }
    }
    // Every kind reads back as written; the default ports.
    for (const ConnectionKind kind : kConnectionKinds)
        EXPECT_EQ(parseConnectionKind(connectionKindValue(kind)), kind);
    EXPECT_EQ(defaultPort(ConnectionKind::FtpActive), 21);
    EXPECT_EQ(defaultPort(ConnectionKind::FtpsExplicit), 21);
    EXPECT_EQ(defaultPort(ConnectionKind::FtpsImplicit), 990);
    EXPECT_EQ(defaultPort(ConnectionKind::Sftp), 22);
}

// Where the game server is and where its live log goes: the keys after the
// specified ones, each with its default and the fallback to HOST; the ports
// read by PORT's rules and only inside 1 to 65535.
TEST_F(StoreTest, GameServerKeysReadWithTheirDefaults)
{
    struct Case
    {
        const char* lines;
        const char* gameHost;
        int gamePort;
        const char* logAddress;
        int logPort;
    };
    const Case cases[] = {
        { "", "ftp.example.net", 27015, "", 27500 },
        { "GAMEHOST=\r\nGAMEPORT=\r\nLOGADDRESS=\r\nLOGPORT=\r\n", "ftp.example.net", 27015, "", 27500 },
        { "GAMEHOST=10.0.0.7\r\nGAMEPORT=27016\r\nLOGADDRESS=203.0.113.9\r\nLOGPORT=28000\r\n", "10.0.0.7", 27016,
            "203.0.113.9", 28000 },
        { "gamehost = \"game.example.net\" \r\ngameport=0x6988\r\n", "game.example.net", 27016, "", 27500 },
        { "GAMEPORT=1\r\nLOGPORT=65535\r\n", "ftp.example.net", 1, "", 65535 },
        { "GAMEPORT=0\r\nLOGPORT=65536\r\n", "ftp.example.net", 27015, "", 27500 },
        { "GAMEPORT=-27015\r\nLOGPORT=99999999999\r\n", "ftp.example.net", 27015, "", 27500 },
        { "GAMEPORT=27016a\r\nLOGPORT=abc\r\n", "ftp.example.net", 27015, "", 27500 },
    };
    for (const Case& c : cases) {
        dir.write("ftpserver.ini", "[p]\r\nHOST=ftp.example.net\r\n" + std::string(c.lines) + "[q]\r\nGAMEPORT=1\r\n");
        const ServerProfile profile = readServerProfile(store, "p");
        EXPECT_EQ(profile.gameHost(), c.gameHost) << c.lines;
        EXPECT_EQ(profile.gamePort, c.gamePort) << c.lines;
        EXPECT_EQ(profile.logAddress, c.logAddress) << c.lines;
        EXPECT_EQ(profile.logPort, c.logPort) << c.lines;
        EXPECT_EQ(profile.ftp.host, "ftp.example.net") << c.lines;
    }

    // STUNSERVER: the public default without the key, off with an empty one.
    const std::pair<const char*, const char*> stun[] = {
        { "", "stun.l.google.com:19302" },
        { "STUNSERVER=\r\n", "" },
        { "STUNSERVER=198.51.100.20:3478\r\n", "198.51.100.20:3478" },
    };
    for (const auto& [lines, server] : stun) {
        dir.write("ftpserver.ini", "[p]\r\nHOST=ftp.example.net\r\n" + std::string(lines));
        EXPECT_EQ(readServerProfile(store, "p").stunServer, server) << lines;
    }
}

// One reading holds what the file said then: a write after it is not mixed
// into any of its keys.
TEST_F(StoreTest, AProfileReadOnceKeepsItsKeys)
{
    dir.write("ftpserver.ini", kWindowsFile);
    store.writeString("Clan Server", "rconpass", "rc");
    store.writeString("Clan Server", "serverpass", "sv");
    const ProfileSection section = store.readProfile("Clan Server");
    store.writeString("Clan Server", "rconpass", "changed");
    store.writeString("Clan Server", "HOST", "new.example.net");
    store.writeString("Clan Server", "HLDS", "/new");
    store.writeString("Clan Server", "GAMEPORT", "27020");
    EXPECT_EQ(section.readString("HOST"), "ftp.example.net");
    EXPECT_EQ(section.readString("hlds"), "/home/hlds");
    EXPECT_EQ(section.readInt("PORT", 21), 2121);
    EXPECT_EQ(section.readString("GAMEPORT", "none"), "none");
    const ServerProfile before = readServerProfile(section);
    EXPECT_EQ(before.ftp.host, "ftp.example.net");
    EXPECT_EQ(before.hlds, "/home/hlds");
    EXPECT_EQ(before.gamePort, 27015);
    EXPECT_EQ(before.rconPass, "rc");
    EXPECT_EQ(before.serverPass, "sv");
    EXPECT_EQ(readServerProfile(store, "Clan Server").gamePort, 27020);
}

TEST_F(StoreTest, LongValuesAreCutAt2047)
{
    store.writeString("s", "PASS", std::string(3000, 'p'));
    EXPECT_EQ(store.readString("s", "PASS").size(), 2047u);
}

TEST_F(StoreTest, NameListStopsAt16KiB)
{
    // 200 names of 99 bytes take 20,000 bytes with their zero bytes.
    std::string file;
    for (int i = 0; i < 200; ++i) {
        std::string name = std::to_string(1000 + i);
        name.resize(99, 'n');
        file += "[" + name + "]\r\nHOST=\r\n";
    }
    dir.write("ftpserver.ini", file);
    const Names names = store.profileNames();
    ASSERT_EQ(names.size(), 164u);
    EXPECT_EQ(names[162].size(), 99u);
    // 163 full entries take 16,300 bytes; 82 bytes of the next name remain.
    EXPECT_EQ(names[163].size(), 82u);
}

// A line break in a name or value would inject keys or sections.
TEST_F(StoreTest, RefusesTextThatWouldBreakTheFile)
{
    dir.write("ftpserver.ini", kWindowsFile);
    EXPECT_THROW(store.writeString("Fun", "PASS", "a\r\n[evil]"), Error);
    EXPECT_THROW(store.writeString("a\nb", "HOST", ""), Error);
    EXPECT_THROW(store.writeString("x]y", "HOST", ""), Error);
    EXPECT_THROW(store.writeString("", "HOST", ""), Error);
    EXPECT_THROW(store.writeString("Fun", "PASS", std::string("a\0b", 3)), Error);
    EXPECT_EQ(dir.read("ftpserver.ini"), kWindowsFile);
}

// Every value reads back exactly as written: outer blanks and outer quotes go
// into a pair of double quotes, which a read removes as Windows' reader does.
TEST_F(StoreTest, ValuesReadBackExactly)
{
    struct Case
    {
        const char* value;
        const char* stored;
    };
    const Case cases[] = {
        { " my \"pass\" ", "\" my \"pass\" \"" },
        { " spaced \"quoted\" = ", "\" spaced \"quoted\" = \"" },
        { "\"quoted\"", "\"\"quoted\"\"" },
        { "\"\"", "\"\"\"\"" },
        { "\ttab", "\"\ttab\"" },
        { "  ", "\"  \"" },
        { "in \"side\" only", "in \"side\" only" },
        { "\"open", "\"open" },
        { "\"", "\"" },
        { "", "" },
    };
    for (const Case& c : cases) {
        store.writeString("Fun", "rconpass", c.value);
        EXPECT_EQ(dir.read("ftpserver.ini"), "[Fun]\r\nrconpass=" + std::string(c.stored) + "\r\n") << c.value;
        EXPECT_EQ(store.readString("Fun", "rconpass"), c.value);
    }
    // Quoted values written by Windows or by hand read without their quotes.
    dir.write("ftpserver.ini", "[Fun]\r\nHOST = \"h\" \r\nUSER=\" u \"\r\nPORT=\"2121\"\r\n");
    EXPECT_EQ(store.readString("Fun", "HOST"), "h");
    EXPECT_EQ(store.readString("Fun", "USER"), " u ");
    EXPECT_EQ(store.readInt("Fun", "PORT", 21), 2121);
}

// Notepad and many editors start a UTF-8 file with a byte order mark.
TEST_F(StoreTest, ByteOrderMarkIsSkippedAndKept)
{
    dir.write("ftpserver.ini", "\xEF\xBB\xBF[Bom]\r\nHOST=b\r\n");
    EXPECT_EQ(store.profileNames(), Names{ "Bom" });
    EXPECT_EQ(store.readString("bom", "HOST"), "b");
    store.writeString("bom", "USER", "u");
    EXPECT_EQ(dir.read("ftpserver.ini"), "\xEF\xBB\xBF[Bom]\r\nHOST=b\r\nUSER=u\r\n");
    store.eraseProfile("BOM");
    EXPECT_EQ(dir.read("ftpserver.ini"), "\xEF\xBB\xBF");
}

// The file holds passwords: a new one is private, an existing one keeps the
// mode its owner gave it, and a link to it stays a link.
TEST_F(StoreTest, FileModeAndLinkSurviveWrites)
{
    store.writeString("New", "HOST", "");
    EXPECT_EQ(dir.mode("ftpserver.ini"), 0600u);
    ::chmod(dir.file("ftpserver.ini").c_str(), 0640);
    store.writeString("New", "PASS", "p");
    EXPECT_EQ(dir.mode("ftpserver.ini"), 0640u);

    std::filesystem::create_directory(dir.file("shared"));
    std::filesystem::rename(dir.file("ftpserver.ini"), dir.file("shared/servers.ini"));
    std::filesystem::create_symlink("shared/servers.ini", dir.file("ftpserver.ini"));
    store.writeString("New", "USER", "u");
    store.eraseProfile("Gone");
    store.writeString("Second", "HOST", "h");
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("ftpserver.ini")));
    EXPECT_EQ(dir.read("shared/servers.ini"), "[New]\r\nHOST=\r\nPASS=p\r\nUSER=u\r\n[Second]\r\nHOST=h\r\n");
    EXPECT_EQ(dir.mode("shared/servers.ini"), 0640u);
}

TEST_F(StoreTest, FailedWriteNamesTheFileAndKeepsIt)
{
    dir.write("ftpserver.ini", kWindowsFile);
    if (test::permissionsApply()) {
        ::chmod(dir.path().c_str(), 0500);
        try {
            store.writeString("Fun", "USER", "x");
            FAIL() << "no error";
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find(store.path()), std::string::npos) << e.what();
        }
        ::chmod(dir.path().c_str(), 0700);
        EXPECT_EQ(dir.read("ftpserver.ini"), kWindowsFile);
    }
    // Fails for root too: the store's folder is a regular file.
    dir.write("plain", "x");
    ProfileStore broken(dir.file("plain/ftpserver.ini"));
    try {
        broken.writeString("Fun", "USER", "x");
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find(broken.path()), std::string::npos) << e.what();
    }
    EXPECT_EQ(broken.profileNames(), Names{});
}
