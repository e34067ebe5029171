#include "net/GameServer.h"

#include "common/Error.h"
#include "net/GameWire.h"
#include "net/ServerListFile.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace velth;
using namespace std::string_literals;

namespace {

// The output of `status` as the engine prints it: a name with quotes and
// spaces, a bot, a player past an hour, an HLTV proxy, and a name that
// pretends to be the rest of a row.
const std::string kStatus = "hostname:  Velth \"Test\" Server\n"
                            "version :  48/1.1.2.7/Stdio 8684 secure  (10)\n"
                            "tcp/ip  :  127.0.0.1:27015\n"
                            "map     :  de_dust2 at: 0 x, 0 y, 0 z\n"
                            "players :  5 active (16 max)\n"
                            "\n"
                            "#      name userid uniqueid frag time ping loss adr\n"
                            "# 1 \"Player One\" 12 STEAM_0:1:12345  10 12:34   45    0 5.6.7.8:27005\n"
                            "# 2  \"[BOT] Bob\" 3 BOT   0 00:05    0    0\n"
                            "#10 \"say \"hi\"; quit\" 205 STEAM_0:0:99  -3 1:02:03  120    7 10.0.0.1:27005\n"
                            "#11 \"x\" 5 STEAM_0:1:1 3 00:01 5 0 1.2.3.4:1\" 7 HLTV hltv:2/10 delay:30 00:30 5 0 "
                            "10.0.0.2:27020\n"
                            "#12  \"Proxy\" 8 HLTV hltv:2/10 delay:30 3:21   5    0 10.0.0.3:27020\n"
                            "5 users\n";

} // namespace

TEST(GameStatus, ReadsTheEngineLayout)
{
    const StatusReport report = parseStatus(kStatus);
    EXPECT_EQ(report.hostname, "Velth \"Test\" Server");
    EXPECT_EQ(report.version, "48/1.1.2.7/Stdio 8684 secure  (10)");
    EXPECT_EQ(report.address, "127.0.0.1:27015");
    EXPECT_EQ(report.map, "de_dust2");
    EXPECT_EQ(report.activePlayers, 5);
    EXPECT_EQ(report.maxPlayers, 16);
    ASSERT_EQ(report.players.size(), 5u);

    struct Row
    {
        int slot;
        std::string name;
        int userId;
        std::string uniqueId;
        int frags, seconds, ping, loss;
        std::string address;
        bool bot;
    };
    const Row rows[] = {
        { 1, "Player One", 12, "STEAM_0:1:12345", 10, 12 * 60 + 34, 45, 0, "5.6.7.8:27005", false },
        { 2, "[BOT] Bob", 3, "BOT", 0, 5, 0, 0, "", true },
        { 10, "say \"hi\"; quit", 205, "STEAM_0:0:99", -3, 3723, 120, 7, "10.0.0.1:27005", false },
        // The row is read from its end, so the name keeps what looks like fields.
        { 11, "x\" 5 STEAM_0:1:1 3 00:01 5 0 1.2.3.4:1", 7, "HLTV", 0, 30, 5, 0, "10.0.0.2:27020", false },
        { 12, "Proxy", 8, "HLTV", 0, 201, 5, 0, "10.0.0.3:27020", false },
    };
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE(i);
        const StatusPlayer& p = report.players[i];
        EXPECT_EQ(p.slot, rows[i].slot);
        EXPECT_EQ(p.name, rows[i].name);
        EXPECT_EQ(p.userId, rows[i].userId);
        EXPECT_EQ(p.uniqueId, rows[i].uniqueId);
        EXPECT_EQ(p.frags, rows[i].frags);
        EXPECT_EQ(p.seconds, rows[i].seconds);
        EXPECT_EQ(p.ping, rows[i].ping);
        EXPECT_EQ(p.loss, rows[i].loss);
        EXPECT_EQ(p.address, rows[i].address);
        EXPECT_EQ(p.bot(), rows[i].bot);
    }
}

TEST(GameStatus, SkipsRowsItCannotRead)
{
    const std::string hostile[] = {
        "# 1 Player 12 STEAM_0:1:1 10 12:34 45 0 1.2.3.4:5", // the name without quotes
        "# 1 \"Player\" 12 STEAM_0:1:1 10 12:34 45", // cut short
        "# 1 \"Player\" 12 STEAM_0:1:1 10 12:99 45 0 1.2.3.4:5", // 99 seconds
        "# 1 \"Player\" x STEAM_0:1:1 10 12:34 45 0 1.2.3.4:5", // no user id
        "# 1 \"Player\" 12 STEAM_0:1:1 ten 12:34 45 0 1.2.3.4:5", // no frags
        "#x \"Player\" 12 STEAM_0:1:1 10 12:34 45 0 1.2.3.4:5", // no slot
        "# 1 \"Player\" 12 STEAM_0:1:1 extra 10 12:34 45 0 1.2.3.4:5", // a field too many
        "# 1 \"Player\" 99999999999 STEAM_0:1:1 10 12:34 45 0 1.2.3.4:5", // a user id past int
        "#",
        "# 1 \"",
    };
    for (const std::string& row : hostile) {
        SCOPED_TRACE(row);
        EXPECT_TRUE(parseStatus("players :  1 active (2 max)\n" + row + "\n1 users\n").players.empty());
    }
    // The number of rows taken is bounded, whatever the server sends.
    std::string flood;
    for (int i = 0; i < 5000; ++i)
        flood += "# 1 \"P\" 1 BOT 0 00:01 0 0\n";
    EXPECT_EQ(parseStatus(flood).players.size(), 256u);
    // Bytes of any kind stay as they came.
    const std::string raw = "# 1 \"<b>\x01\xff\xfe\" 2 BOT 0 00:01 0 0\n";
    ASSERT_EQ(parseStatus(raw).players.size(), 1u);
    EXPECT_EQ(parseStatus(raw).players[0].name, "<b>\x01\xff\xfe");
    EXPECT_EQ(parseStatus("players :  many active (x max)\n").activePlayers, 0);
}

TEST(GameConsole, RefusesArgumentsThatCouldEndTheCommand)
{
    const std::string refused[] = { "a\"b", "a;b", "a\nb", "a\rb", "a\0b"s, "a\tb", "\x1b[31m", "a\x7f" };
    for (const std::string& text : refused) {
        SCOPED_TRACE(text);
        EXPECT_TRUE(consoleArgumentProblem(text).has_value());
        EXPECT_THROW(sayCommand(text), Error);
        EXPECT_THROW(kickCommand(5, text), Error);
        EXPECT_THROW(changeLevelCommand(text), Error);
        EXPECT_THROW(banSteamIdCommands(text, 0), Error);
        EXPECT_THROW(banAddressCommands(text, 0), Error);
    }
    for (const std::string text : { "", "hello world", "<b>markup</b> & 'quotes'", "\xc3\xa9t\xc3\xa9 \xff" }) {
        SCOPED_TRACE(text);
        EXPECT_EQ(consoleArgumentProblem(text), std::nullopt);
    }
}

TEST(GameConsole, BuildsTheEngineCommands)
{
    using Commands = std::vector<std::string>;
    EXPECT_EQ(kickCommand(12), "kick #12");
    EXPECT_EQ(kickCommand(12, " camping "), "kick #12 camping");
    EXPECT_EQ(banSteamIdCommands("STEAM_0:1:12345", 30), (Commands{ "banid 30 STEAM_0:1:12345 kick", "writeid" }));
    EXPECT_EQ(
        banSteamIdCommands("STEAM_1:0:4294967295", 0), (Commands{ "banid 0 STEAM_1:0:4294967295 kick", "writeid" }));
    EXPECT_EQ(banAddressCommands("5.6.7.8", 0), (Commands{ "addip 0 5.6.7.8", "writeip" }));
    EXPECT_EQ(banAddressCommands("5.6.7.8:27005", 60), (Commands{ "addip 60 5.6.7.8", "writeip" }));
    EXPECT_EQ(changeLevelCommand("de_dust2"), "changelevel de_dust2");
    EXPECT_EQ(changeLevelCommand("cs_mansion-v1.2"), "changelevel cs_mansion-v1.2");
    EXPECT_EQ(sayCommand("Map change in 5 minutes!"), "say Map change in 5 minutes!");
    EXPECT_EQ(execConfigCommand(), "exec server.cfg");

    for (const char* id : { "BOT", "STEAM_ID_LAN", "VALVE_ID_LAN", "STEAM_0:2:1", "STEAM_6:0:1",
             "STEAM_0:1:", "STEAM_0:1:12a", "STEAM_0:1:12345678901", "STEAM_00:1:1", "steam_0:1:1", " STEAM_0:1:1" })
        EXPECT_THROW(banSteamIdCommands(id, 0), Error) << id;
    for (const char* ip : { "", "1.2.3", "1.2.3.4.5", "256.1.1.1", "1.2.3.-4", "1..3.4", "1.2.3.4:0", "1.2.3.4:70000",
             "1.2.3.4:", "loopback", "::1", "1.2.3.4 5" })
        EXPECT_THROW(banAddressCommands(ip, 0), Error) << ip;
    EXPECT_THROW(banAddressCommands("1.2.3.4", -1), Error);
    EXPECT_THROW(banSteamIdCommands("STEAM_0:1:1", -5), Error);
    for (const char* map : { "", "de dust", "../maps/x", "de_dust2/x", "-x", ".hidden", "de_\xc3\xa9t\xc3\xa9" })
        EXPECT_THROW(changeLevelCommand(map), Error) << map;
    EXPECT_THROW(changeLevelCommand(std::string(65, 'a')), Error);
    EXPECT_THROW(kickCommand(0), Error);
    EXPECT_THROW(sayCommand("   "), Error);
}

// The outcome of each command the program sends, from the texts the engine
// prints: failures named for this command's own argument, success by
// silence, "Writing", or anything for commands whose work prints.
TEST(GameConsole, ReadsTheOutcomeOfEachCommandFromItsOutput)
{
    using Kind = CommandOutcome::Kind;
    struct Row
    {
        const char* command;
        std::string output;
        Kind kind;
        std::string text;
    };
    const Row rows[] = {
        { "exec server.cfg", "", Kind::Done, "" },
        { "exec server.cfg", "\"hostname\" is \"x\"\n", Kind::Done, "\"hostname\" is \"x\"" },
        { "exec server.cfg", "couldn't exec server.cfg\n", Kind::Failed, "couldn't exec server.cfg" },
        { "EXEC  server.cfg", "couldn't exec server.cfg\n", Kind::Failed, "couldn't exec server.cfg" },
        // The config's own exec of another file failed; server.cfg ran.
        { "exec server.cfg", "couldn't exec other.cfg\n", Kind::Done, "couldn't exec other.cfg" },
        { "exec x.txt", "exec x.txt: not a .cfg or .rc file\n", Kind::Failed, "exec x.txt: not a .cfg or .rc file" },
        { "changelevel de_dust2", "", Kind::Done, "" },
        { "changelevel de_nosuch", "changelevel failed: 'de_nosuch' not found on server.\n", Kind::Failed,
            "changelevel failed: 'de_nosuch' not found on server." },
        { "changelevel de_dust2", "Only the server may changelevel\n", Kind::Failed,
            "Only the server may changelevel" },
        { "map de_nosuch", "map change failed: 'de_nosuch' not found on server.\n", Kind::Failed,
            "map change failed: 'de_nosuch' not found on server." },
        { "map de_dust2", "", Kind::Done, "" },
        // kick prints nothing whether it kicked or found nobody.
        { "kick #12", "", Kind::Unknown, "" },
        { "kick", "usage:  kick < name > | < # userid > [reason]\n", Kind::Failed,
            "usage:  kick < name > | < # userid > [reason]" },
        { "banid 0 STEAM_0:1:1 kick", "", Kind::Done, "" },
        { "banid 0 #99", "SV_BanId_f:  Couldn't find #userid 99\n", Kind::Failed,
            "SV_BanId_f:  Couldn't find #userid 99" },
        { "banid 0 x", "SV_BanId_f:  Couldn't resolve uniqueid x.\nUsage:  banid <minutes> ...\n", Kind::Failed,
            "SV_BanId_f:  Couldn't resolve uniqueid x." },
        { "banid 0 STEAM_0:1:1", "something new\n", Kind::Unknown, "something new" },
        { "addip 30 1.2.3.4", "", Kind::Done, "" },
        { "addip 30 1.2.3", "Invalid IP address!\nUsage: addip <minutes> <ipaddress>\n", Kind::Failed,
            "Invalid IP address!" },
        { "addip 30 1.2.3.4", "IP filter list is full\n", Kind::Failed, "IP filter list is full" },
        { "writeid", "Writing banned.cfg.\n", Kind::Done, "Writing banned.cfg." },
        { "writeip", "Couldn't open listip.cfg\n", Kind::Failed, "Couldn't open listip.cfg" },
        { "writeip", "", Kind::Unknown, "" },
        { "say gg", "", Kind::Done, "" },
        { "say gg", "Unknown command: say\n", Kind::Unknown, "Unknown command: say" },
        { "no_such_command", "", Kind::Unknown, "" },
        { "", "", Kind::Unknown, "" },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.command) + " / " + row.output);
        EXPECT_EQ(commandOutcome(row.command, row.output), (CommandOutcome{ row.kind, row.text }));
    }
}

TEST(GameConsole, ReadsAddresses)
{
    struct Row
    {
        std::string text;
        std::optional<GameAddress> address;
    };
    const Row rows[] = {
        { "example.org", GameAddress{ "example.org", 27015 } },
        { " 10.0.0.1:27016 ", GameAddress{ "10.0.0.1", 27016 } },
        { "[::1]", GameAddress{ "::1", 27015 } },
        { "[::1]:27020", GameAddress{ "::1", 27020 } },
        { "::1", GameAddress{ "::1", 27015 } },
        { "host:65535", GameAddress{ "host", 65535 } },
        { "", std::nullopt },
        { ":27015", std::nullopt },
        { "host:0", std::nullopt },
        { "host:65536", std::nullopt },
        { "host:-1", std::nullopt },
        { "host:", std::nullopt },
        { "host:27o15", std::nullopt },
        { "[::1", std::nullopt },
        { "[::1]x", std::nullopt },
        { "ho st", std::nullopt },
        { "host\n", GameAddress{ "host", 27015 } }, // a line end typed after the name is not part of it
        { "ho\x01st", std::nullopt },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(parseGameAddress(row.text), row.address);
    }
    EXPECT_EQ(toString(GameAddress{ "::1", 27015 }), "[::1]:27015");
    EXPECT_EQ(toString(GameAddress{ "example.org", 27016 }), "example.org:27016");
}

// The files naming many servers: comments, CR LF, blanks inside a password,
// and every line that cannot be read named by its number, never quoting a
// password.
TEST(GameConsole, ReadsServerListFiles)
{
    EXPECT_EQ(readServerList("# fleet\r\n10.0.0.1\r\n\n  [::1]:27020\n10.0.0.1:27015\nhost:27016"),
        (std::vector<GameAddress>{ { "10.0.0.1", 27015 }, { "::1", 27020 }, { "host", 27016 } }));
    EXPECT_EQ(readServerPasswords("10.0.0.1 pw\r\n# x y\n[::1]:27020\t two words \n"),
        (std::vector<std::pair<GameAddress, std::string>>{
            { { "10.0.0.1", 27015 }, "pw" }, { { "::1", 27020 }, "two words " } }));
    struct Row
    {
        std::string text;
        bool passwords;
        std::string message;
    };
    const Row rows[] = {
        { "10.0.0.1\nho st\n", false, "line 2: not a server address (HOST, HOST:PORT, [IPV6] or [IPV6]:PORT)" },
        { "10.0.0.1:0", false, "line 1: not a server address (HOST, HOST:PORT, [IPV6] or [IPV6]:PORT)" },
        { "\n10.0.0.1\n", true, "line 2: an address without a password" },
        { "10.0.0.1   \n", true, "line 1: an address without a password" },
        { "host:x secret\n", true, "line 1: not a server address (HOST, HOST:PORT, [IPV6] or [IPV6]:PORT)" },
        { "a secret\na:27015 other\n", true, "line 2: a:27015 has a password on an earlier line already" },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        try {
            if (row.passwords)
                readServerPasswords(row.text);
            else
                readServerList(row.text);
            ADD_FAILURE() << "read without an error";
        } catch (const Error& e) {
            EXPECT_EQ(e.message(), row.message);
        }
    }
}

// Every byte string that is a prefix of a valid reply must be read without
// reading past its end; what was there is kept.
TEST(GameWire, ReadsEveryTruncationOfAReply)
{
    std::string source = "\x30"s + "Name\0de_dust2\0cstrike\0Counter-Strike\0"s + "\x0a\x00"s
        + "\x03\x10\x01\x64\x6c\x01\x01"s + "1.1.2.7\0"s;
    std::string goldsrc = "127.0.0.1:27015\0Name\0de_dust2\0cstrike\0Counter-Strike\0"s
        + "\x03\x10\x2f\x64\x6c\x00\x01"s + "http://x\0http://y\0\0"s + "\x01\x00\x00\x00\x02\x00\x00\x00\x00\x01"s
        + "\x01\x02"s;
    // An info reply cut before its player counts was cut on the way and is
    // nothing (never "0/0 players" or a cut name); past them the rest is read
    // as far as it goes.
    const std::size_t sourceCounts = 1 + 37 + 2 + 2; // protocol, the four names, app id, the counts
    const std::size_t goldsrcCounts = std::strlen("127.0.0.1:27015") + 1 + 37 + 2;
    for (std::size_t n = 0; n <= source.size(); ++n) {
        const auto info = gamewire::parseSourceInfo(std::string_view(source).substr(0, n));
        EXPECT_EQ(info.has_value(), n >= sourceCounts) << n;
        if (info) {
            EXPECT_EQ(info->game, "Counter-Strike") << n;
            EXPECT_EQ(info->players, 3) << n;
            EXPECT_EQ(info->maxPlayers, 16) << n;
        }
    }
    for (std::size_t n = 0; n <= goldsrc.size(); ++n) {
        const auto info = gamewire::parseGoldSrcInfo(std::string_view(goldsrc).substr(0, n));
        EXPECT_EQ(info.has_value(), n >= goldsrcCounts) << n;
        if (info) {
            EXPECT_EQ(info->name, "Name") << n;
            EXPECT_EQ(info->players, 3) << n;
            EXPECT_EQ(info->maxPlayers, 16) << n;
        }
    }
    const auto full = gamewire::parseSourceInfo(source);
    ASSERT_TRUE(full);
    EXPECT_EQ(full->name, "Name");
    EXPECT_EQ(full->players, 3);
    EXPECT_EQ(full->maxPlayers, 16);
    EXPECT_EQ(full->bots, 1);
    EXPECT_EQ(full->serverType, 'd');
    EXPECT_EQ(full->environment, 'l');
    EXPECT_TRUE(full->passworded);
    EXPECT_EQ(full->version, "1.1.2.7");
    const auto old = gamewire::parseGoldSrcInfo(goldsrc);
    ASSERT_TRUE(old);
    EXPECT_TRUE(old->goldSrcReply);
    EXPECT_EQ(old->protocol, 47);
    EXPECT_TRUE(old->secure);
    EXPECT_EQ(old->bots, 2);
    // A name without its zero byte was cut short.
    EXPECT_EQ(gamewire::parseSourceInfo("\x30Na"s), std::nullopt);
    EXPECT_EQ(gamewire::parseGoldSrcInfo("127.0.0.1:27015\0Na"s), std::nullopt);

    // Players: the count says 9, the list holds two and a cut one.
    std::string players = "\x09"s;
    auto addPlayer = [&players](const std::string& name, int score, float seconds) {
        players += '\0' + name + '\0';
        for (int i = 0; i < 4; ++i)
            players += static_cast<char>((static_cast<unsigned>(score) >> (8 * i)) & 0xff);
        char bytes[4];
        std::memcpy(bytes, &seconds, 4);
        players.append(bytes, 4);
    };
    addPlayer("<i>one</i>", 5, 61.5f);
    addPlayer("two\x01\xff", -2, -1.0f);
    addPlayer("cut", 1, 1.0f);
    players.resize(players.size() - 2);
    const auto list = gamewire::parsePlayers(players);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].name, "<i>one</i>");
    EXPECT_EQ(list[0].score, 5);
    EXPECT_FLOAT_EQ(list[0].duration, 61.5f);
    EXPECT_EQ(list[1].name, "two\x01\xff");
    EXPECT_EQ(list[1].score, -2);
    EXPECT_EQ(list[1].duration, 0.0f);

    const auto rules = gamewire::parseRules("\x05\x00"s
        + "a\0"
          "1\0"
          "b\0"
          "2\0"
          "c\0"s);
    EXPECT_EQ(rules, (GameRules{ { "a", "1" }, { "b", "2" } }));
}

TEST(GameWire, JoinsSplitPartsOfOneRequestOnly)
{
    auto part = [](std::int32_t id, int index, int count, const std::string& payload) {
        std::string d = "\xFE\xFF\xFF\xFF"s;
        for (int i = 0; i < 4; ++i)
            d += static_cast<char>((static_cast<std::uint32_t>(id) >> (8 * i)) & 0xff);
        d += static_cast<char>((index << 4) | count);
        return d + payload;
    };
    struct Row
    {
        const char* what;
        std::vector<std::string> parts;
        std::optional<std::string> joined;
    };
    const Row rows[] = {
        { "in order", { part(7, 0, 2, "ab"), part(7, 1, 2, "cd") }, "abcd" },
        { "out of order", { part(7, 1, 3, "c"), part(7, 2, 3, "d"), part(7, 0, 3, "ab") }, "abcd" },
        { "a duplicate", { part(7, 0, 2, "ab"), part(7, 0, 2, "XX"), part(7, 1, 2, "cd") }, "abcd" },
        { "a part missing", { part(7, 0, 3, "ab"), part(7, 2, 3, "cd") }, std::nullopt },
        { "an index past the count", { part(7, 0, 2, "ab"), part(7, 2, 2, "cd"), part(7, 3, 2, "ef") }, std::nullopt },
        { "no parts", { part(7, 0, 0, "ab") }, std::nullopt },
        { "the count changes", { part(7, 0, 2, "ab"), part(7, 1, 3, "cd") }, std::nullopt },
        { "an older request's part", { part(8, 0, 2, "ab"), part(7, 1, 2, "XX"), part(8, 1, 2, "cd") }, "abcd" },
        { "a newer request replaces", { part(7, 0, 2, "XX"), part(8, 1, 2, "cd"), part(8, 0, 2, "ab") }, "abcd" },
        { "ids across the wrap", { part(0x7fffffff, 0, 2, "XX"), part(INT32_MIN, 0, 1, "new") }, "new" },
        { "cut headers", { "\xFE\xFF\xFF\xFF\x07\x00"s, "\xFE\xFF\xFF\xFF"s }, std::nullopt },
        // A request asked again gets a new answer with a new id; its parts
        // complete an earlier answer where every part they share agrees.
        { "two answers that agree, each missing a part",
            { part(7, 0, 3, "ab"), part(7, 2, 3, "ef"), part(8, 0, 3, "ab"), part(8, 1, 3, "cd") }, "abcdef" },
        { "three answers that agree",
            { part(7, 0, 3, "ab"), part(8, 0, 3, "ab"), part(8, 1, 3, "cd"), part(9, 1, 3, "cd"), part(9, 2, 3, "ef") },
            "abcdef" },
        { "two answers that disagree in a shared part",
            { part(7, 0, 3, "ab"), part(7, 2, 3, "ef"), part(8, 0, 3, "AB"), part(8, 1, 3, "cd") }, std::nullopt },
        { "two answers that share no part", { part(7, 0, 2, "ab"), part(8, 1, 2, "cd") }, std::nullopt },
        { "two answers of another part count", { part(7, 0, 2, "ab"), part(8, 0, 3, "ab"), part(8, 1, 3, "cd") },
            std::nullopt },
        { "an answer that disagrees is left out",
            { part(7, 0, 3, "ab"), part(7, 1, 3, "XX"), part(8, 0, 3, "ab"), part(9, 1, 3, "cd"), part(9, 0, 3, "ab"),
                part(8, 2, 3, "ef") },
            "abcdef" },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        gamewire::SplitAssembler assembler;
        std::optional<std::string> joined;
        for (const std::string& p : row.parts) {
            if (auto j = assembler.add(p))
                joined = j;
        }
        EXPECT_EQ(joined, row.joined);
    }
    // Past 64 KiB in all the request is given up, and what is left of it is dropped.
    gamewire::SplitAssembler assembler;
    const std::string big(60000, 'x');
    EXPECT_EQ(assembler.add(part(9, 0, 2, big)), std::nullopt);
    EXPECT_EQ(assembler.add(part(9, 1, 2, big)), std::nullopt);
    EXPECT_EQ(assembler.add(part(9, 1, 2, "y")), std::nullopt);
    EXPECT_EQ(assembler.add(part(10, 0, 1, "z")), "z");
    // A joined request's parts coming again do not join again.
    EXPECT_EQ(assembler.add(part(10, 0, 1, "z")), std::nullopt);

    // Only a few answers are kept, the oldest going first.
    gamewire::SplitAssembler kept;
    EXPECT_EQ(kept.add(part(20, 0, 2, "ab")), std::nullopt);
    for (std::int32_t id = 21; id < 21 + static_cast<std::int32_t>(gamewire::SplitAssembler::kMaxAnswers); ++id)
        EXPECT_EQ(kept.add(part(id, 1, 3, "x")), std::nullopt);
    EXPECT_EQ(kept.add(part(20, 1, 2, "cd")), std::nullopt);
    // Answers that agree are one reply: it joins once.
    gamewire::SplitAssembler once;
    EXPECT_EQ(once.add(part(30, 0, 2, "ab")), std::nullopt);
    EXPECT_EQ(once.add(part(31, 0, 2, "ab")), std::nullopt);
    EXPECT_EQ(once.add(part(31, 1, 2, "cd")), "abcd");
    EXPECT_EQ(once.add(part(30, 1, 2, "cd")), std::nullopt);
}
