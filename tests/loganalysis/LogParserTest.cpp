#include "loganalysis/LogParser.h"

#include "ReferenceParser.h"
#include "common/Error.h"
#include "common/TextLines.h"
#include "loganalysis/LiveFold.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>

#include <unistd.h>

namespace velth {

void PrintTo(const ChatEntry& e, std::ostream* os)
{
    *os << testing::PrintToString(e.text) << (e.color == ChatColor::Blue ? " blue" : " red");
}

void PrintTo(const ChatLog& log, std::ostream* os)
{
    *os << testing::PrintToString(log.entries());
}

void PrintTo(const TeamRow& r, std::ostream* os)
{
    *os << testing::PrintToString(r.name) << " " << testing::PrintToString(r.wonId) << " " << r.tks;
}

void PrintTo(const ScanResult& r, std::ostream* os)
{
    *os << "time " << testing::PrintToString(r.time) << " map " << testing::PrintToString(r.map) << " public "
        << testing::PrintToString(r.publicChat) << " t " << testing::PrintToString(r.tChat) << " ct "
        << testing::PrintToString(r.ctChat) << " cvars " << testing::PrintToString(r.cvars) << " ctRows "
        << testing::PrintToString(r.ctRows) << " tRows " << testing::PrintToString(r.tRows) << " wins "
        << testing::PrintToString(r.ctWins) << "/" << testing::PrintToString(r.tWins);
}

namespace {

using Lines = std::vector<std::string>;
using Cvars = std::vector<std::pair<std::string, std::string>>;
constexpr ChatColor Red = ChatColor::Red;
constexpr ChatColor Blue = ChatColor::Blue;

std::string L(const std::string& event)
{
    return "L 10/20/2003 - 20:14:10: " + event;
}

// Parses the lines behind a header line and checks the result against the
// literal implementation too.
ScanResult parse(const Lines& events)
{
    Lines lines{ "L 10/20/2003 - 20:13:52: Log file started" };
    for (const std::string& e : events)
        lines.push_back(L(e));
    ScanResult result = parseLog(lines);
    EXPECT_EQ(result, test::referenceParse(lines));
    return result;
}

const Lines kWorkedExample = {
    R"(L 10/20/2003 - 20:13:52: Log file started (file "logs/L1020000.log") (game "cstrike"))",
    R"(L 10/20/2003 - 20:13:52: Loading map "de_dust2")",
    R"(L 10/20/2003 - 20:13:52: Server cvars start)",
    R"(L 10/20/2003 - 20:13:52: Server cvar "mp_friendlyfire" = "1")",
    R"(L 10/20/2003 - 20:13:52: Server cvar "public_slots_free" = "10")",
    R"(L 10/20/2003 - 20:13:52: Server cvars end)",
    R"(L 10/20/2003 - 20:14:10: "Alice<3><111111><CT>" say "hello all")",
    R"(L 10/20/2003 - 20:14:12: "Bob<4><222222><TERRORIST>" say "hi" (dead))",
    R"(L 10/20/2003 - 20:14:15: "Alice<3><111111><CT>" say_team "go B")",
    R"(L 10/20/2003 - 20:14:20: "Bob<4><222222><TERRORIST>" say_team "rush")",
    R"(L 10/20/2003 - 20:15:01: "Alice<3><111111><CT>" killed "Bob<4><222222><TERRORIST>" with "m4a1")",
    R"(L 10/20/2003 - 20:15:30: "Carl<5><333333><CT>" killed "Alice<3><111111><CT>" with "ak47")",
    R"(L 10/20/2003 - 20:16:00: "Carl<5><333333><CT>" killed "Dave<6><444444><TERRORIST>" with "awp")",
    R"(L 10/20/2003 - 20:16:05: Team "CT" triggered "CTs_Win" (CT "1") (T "0"))",
};

TEST(LogParser, WorkedExample)
{
    ScanResult expected;
    expected.time = "10/20/2003 - 20:13:52";
    expected.map = "de_dust2";
    expected.cvars = { { "mp_friendlyfire", "1" } };
    expected.publicChat.add(R"(Alice: "hello all")", Blue);
    expected.publicChat.add("Bob", R"("hi" (dead))", Red);
    expected.ctChat.add(R"(Alice: "go B")", Blue);
    expected.tChat.add(R"(Bob: "rush")", Red);
    expected.ctRows = { { "Alice", "111111", 0 }, { "Carl", "333333", 1 } };
    expected.ctWins = "1";
    expected.tWins = "0";
    EXPECT_EQ(parseLog(kWorkedExample), expected);
    EXPECT_EQ(test::referenceParse(kWorkedExample), expected);
}

TEST(LogParser, EmptyAndFirstLine)
{
    EXPECT_EQ(parseLog({}), ScanResult());
    // A chat or kill line standing first only gives the time.
    const ScanResult first = parseLog({ R"(L 10/20/2003 - 20:14:10: "A<1><2><CT>" say "x")",
        R"(L 10/20/2003 - 20:15:01: "A<1><2><CT>" killed "B<3><4><CT>" with "m4a1")" });
    EXPECT_EQ(first.time, "10/20/2003 - 20:14:10");
    EXPECT_TRUE(first.publicChat.empty());
    EXPECT_EQ(first.ctRows, (std::vector<TeamRow>{ { "A", "2", 1 } }));
    // Short first lines give what they have.
    EXPECT_EQ(parseLog({ "L" }).time, "");
    EXPECT_EQ(parseLog({ "L 10/20" }).time, "10/20");
    EXPECT_EQ(parseLog({ "" }).time, "");
}

struct FieldCase
{
    std::string line;
    int k;
    std::string name, team, wonId;
};

TEST(LogParser, PlayerFields)
{
    const std::vector<FieldCase> cases = {
        { R"("Alice<3><111111><CT>" x)", 1, "Alice", "CT", "111111" },
        { R"("a<b<3><111><CT>")", 1, "a<b", "CT", "111" },
        { R"("A<1><2><CT>" killed "B><<4><STEAM_0:1:123><TERRORIST>")", 3, "B><", "TERRORIST", "STEAM_0:1:123" },
        { R"("Bot<-1><BOT><>")", 1, "Bot", "", "BOT" },
        { R"("Watcher<5><><>")", 1, "Watcher", "", "" },
        // Malformed fields: empty texts, never outside the field.
        { R"("NoBrackets")", 1, "", "", "" },
        { R"("Two<1><CT>")", 1, "", "CT", "1" },
        { R"("<")", 1, "", "", "" },
        { R"(">")", 1, "", "", "" },
        { R"("")", 1, "", "", "" },
        { R"("unclosed<1><2><CT>)", 1, "", "", "" },
        { R"(no quotes at all)", 1, "", "", "" },
        { R"("A<1><2><CT>")", 3, "", "", "" },
        { R"("A<1><2><CT)", 1, "", "", "" },
        { R"("A<1><2><CT")", 1, "A", "C", "2" },
    };
    for (const FieldCase& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(GetPlayerName(c.line, c.k), c.name);
        EXPECT_EQ(GetPlayerTeam(c.line, c.k), c.team);
        EXPECT_EQ(GetPlayerWonID(c.line, c.k), c.wonId);
    }
}

TEST(LogParser, ChatChannelsAndColours)
{
    const ScanResult r = parse({
        R"("a<b<3><111><CT>" say "x")",
        R"("T1<4><5><TERRORIST>" say "I saw <CT> here")", // blue: the line holds <CT>
        R"("Watcher<6><7><SPECTATOR>" say "hi")",
        R"("Watcher<6><7><SPECTATOR>" say_team "lost")", // no team chat for outsiders
        R"("Bot<-1><BOT><>" say "")",
        R"("Trail<8><9><TERRORIST>" say_team "gg" (dead))",
        "\"Cut<1><2><TERRORIST>\" say \"" + std::string(1000, 'x'), // cut at the engine's line limit
        // The console's say, as the event only; quoted in a player's chat it is chat.
        R"(Server say "Next map: de_nuke")",
        R"("Bob<4><5><TERRORIST>" say "Server say "x"")",
        R"(Server say "welcome <CT>" (from the console))",
        R"( Server say "shifted")",
    });
    const std::string cut = "Cut: \"" + std::string(1000, 'x');
    EXPECT_EQ(r.publicChat.entries(),
        (std::vector<ChatEntry>{ { R"(a<b: "x")", Blue }, { R"(T1: "I saw <CT> here")", Blue },
            { R"(Watcher: "hi")", Red }, { R"(Bot: "")", Red }, { cut, Red }, { R"(Server: "Next map: de_nuke")", Red },
            { R"(Bob: "Server say "x"")", Red }, { R"(Server: "welcome <CT>" (from the console))", Red } }));
    EXPECT_TRUE(r.ctChat.empty());
    EXPECT_EQ(r.tChat.entries(), (std::vector<ChatEntry>{ { R"(Trail: "gg" (dead))", Red } }));
}

// Later tests search the line as the earlier handlers cut it.
TEST(LogParser, CutLineCascades)
{
    ScanResult r = parse({ R"("Eve<7><777><CT>" say "Loading map "x"")" });
    EXPECT_EQ(r.publicChat.entries(), (std::vector<ChatEntry>{ { R"(Eve: "Loading map "x"")", Blue } }));
    EXPECT_EQ(r.map, "Loading map ");

    // A public message holding a team chat pattern: the name comes from the
    // cut line, which has no player field.
    r = parse({ R"("A<1><2><TERRORIST>" say "<CT>" say_team "psst"")" });
    EXPECT_EQ(r.publicChat.size(), 1u);
    EXPECT_EQ(r.ctChat.entries(), (std::vector<ChatEntry>{ { R"(: "psst"")", Blue } }));

    // A chat message with " killed " hands the kill test a field without
    // brackets: no row.
    r = parse({ R"("A<1><2><CT>" say "x" killed "B<3><4><CT>" oops")" });
    EXPECT_TRUE(r.ctRows.empty());
    EXPECT_EQ(r.publicChat.size(), 1u);

    // ...but a well-formed player field in the message is taken.
    r = parse({ R"("A<1><2><TERRORIST>" say "X<1><9><CT>" killed "Y<2><8><CT>")" });
    EXPECT_EQ(r.ctRows, (std::vector<TeamRow>{ { "X", "9", 1 } }));

    // A cvar line mentioned in chat: the cut line's quotes are counted.
    r = parse({ R"("A<1><2><CT>" say "Server cvar "sv_gravity" = "100"")" });
    EXPECT_EQ(r.cvars, (Cvars{ { "Server cvar ", " = " } }));

    // Wins read from a chat message, and the map cut ends the line for the
    // later tests.
    r = parse({ R"x("A<1><2><CT>" say "_Win" (CT "9") (T "8")")x",
        R"(Loading map "de_aztec" Server cvar "a" = "b" _Win" "1" "2")" });
    EXPECT_EQ(r.ctWins, "9");
    EXPECT_EQ(r.tWins, "8");
    EXPECT_EQ(r.map, "de_aztec");
    EXPECT_TRUE(r.cvars.empty());
}

TEST(LogParser, ServerVariables)
{
    const ScanResult r = parse({
        R"(Server cvars start)",
        R"(Server cvar "mp_timelimit" = "20")",
        R"(Server cvar "sv_restartround" = "0")",
        R"(Server cvar "hostname" = "my public_slots_free server")", // excluded by its value
        R"(Server cvar "mp_timelimit" = "30")",
        R"(Server cvar "noValue")",
        R"(Server cvar "half" = "open)",
        R"(Server cvar ")",
        R"(Server cvar "empty" = "")",
    });
    EXPECT_EQ(r.cvars,
        (Cvars{ { "mp_timelimit", "20" }, { "mp_timelimit", "30" }, { "noValue", "" }, { "half", "" }, { "", "" },
            { "empty", "" } }));
}

TEST(LogParser, MapLines)
{
    EXPECT_EQ(parse({ R"(Loading map "de_dust2")", R"(Loading map "cs_office")" }).map, "cs_office");
    EXPECT_EQ(parse({ R"(Loading map "de_cut)" }).map, "");
    EXPECT_EQ(parse({ R"(Started map "de_dust2")" }).map, std::nullopt);
    // Logs joined in one file: the later start line is an ordinary line.
    const ScanResult joined = parse({ R"(Loading map "de_dust2")", "", R"(Log file closed)",
        R"(L 10/21/2003 - 08:00:00: Log file started (file "logs/L1021000.log"))", R"(Loading map "de_nuke")" });
    EXPECT_EQ(joined.time, "10/20/2003 - 20:13:52");
    EXPECT_EQ(joined.map, "de_nuke");
}

TEST(LogParser, WinLines)
{
    ScanResult r = parse({ R"(Team "CT" triggered "CTs_Win" (CT "1") (T "0"))",
        R"(Team "TERRORIST" triggered "Terrorists_Win" (CT "1") (T "1"))",
        R"(Team "CT" triggered "Target_Bombed" (CT "1") (T "2"))" });
    EXPECT_EQ(r.ctWins, "1");
    EXPECT_EQ(r.tWins, "1");
    r = parse({ R"(Team "CT" triggered "CTs_Win")" });
    EXPECT_EQ(r.ctWins, "");
    EXPECT_EQ(r.tWins, "");
    r = parse({ R"(Team "CT" triggered "CTs_Win" (CT "5)" });
    EXPECT_EQ(r.ctWins, "");
    EXPECT_EQ(r.tWins, "");
    EXPECT_EQ(parse({ R"(Round_End)" }).ctWins, std::nullopt);
}

TEST(LogParser, TeamRows)
{
    const ScanResult r = parse({
        R"("Carl<5><333><CT>" killed "Dave<6><444><TERRORIST>" with "awp")",
        R"("Zero1<7><0><CT>" killed "Mate<8><9><CT>" with "usp")", // shared WonID 0
        R"("Zero2<9><0><CT>" killed "Mate<8><9><CT>" with "usp")",
        R"("Carl2<5><333><CT>" killed "Mate<8><9><CT>" with "usp")", // renamed, team kill
        R"("Carl2<5><333><TERRORIST>" killed "Mate<8><9><TERRORIST>" with "ak47")", // switched teams
        R"("Watcher<1><2><SPECTATOR>" killed "Mate<8><9><CT>" with "usp")",
        R"("World<0><><>" killed "X<1><2><CT>" with "worldspawn")",
        R"("BOT<-1><BOT><TERRORIST>" killed "Y<2><STEAM_0:1:2><CT>" with "glock")", R"(["Plugin"] Carl killed Dave)",
        R"("Carl<5><333><CT>" killed "world" with "x")", // victim without brackets: no team kill
    });
    EXPECT_EQ(r.ctRows, (std::vector<TeamRow>{ { "Carl", "333", 1 }, { "Zero2", "0", 2 } }));
    EXPECT_EQ(r.tRows, (std::vector<TeamRow>{ { "Carl2", "333", 1 }, { "BOT", "BOT", 0 } }));
}

// Every connect with a new WonID: rows keep the first-appearance order and
// the counts of the linear search.
TEST(LogParser, ManyRowsMatchLinearSearch)
{
    std::mt19937 rng(7);
    Lines lines{ "L 10/20/2003 - 20:13:52: Log file started" };
    for (int i = 0; i < 4000; ++i) {
        const int killer = static_cast<int>(rng() % 1500);
        // Short ids, ids of exactly the inline key size, long ids.
        const std::string id = std::to_string(killer) + std::string(static_cast<std::size_t>(killer % 3) * 14, 'x');
        const char* team = rng() % 2 ? "CT" : "TERRORIST";
        const char* victimTeam = rng() % 3 ? "CT" : "TERRORIST";
        lines.push_back(L("\"P" + std::to_string(i) + "<1><" + id + "><" + team + ">\" killed \"V<2><3><" + victimTeam
            + ">\" with \"m4a1\""));
    }
    const ScanResult r = parseLog(lines);
    EXPECT_GT(r.ctRows.size(), 500u);
    EXPECT_EQ(r, test::referenceParse(lines));
}

// Lines built from fragments of real events, compared with the literal
// implementation.
TEST(LogParser, RandomFragmentsMatchReference)
{
    const std::vector<std::string> parts = { "\"", "<", ">", "<CT>", "<TERRORIST>", "\" say \"", "\" say_team \"",
        "Loading map \"", "Server cvar \"", "_Win\"", "\" killed \"", "public_slots_free", "A", "<1>", "<22>", " ",
        "(CT \"3\")", "sv_restartround", "\xC3\xA9", "\xFF" };
    std::mt19937 rng(42);
    for (int round = 0; round < 200; ++round) {
        Lines lines;
        for (int n = 0; n < 40; ++n) {
            std::string line;
            const int count = static_cast<int>(rng() % 14);
            for (int i = 0; i < count; ++i)
                line += parts[rng() % parts.size()];
            lines.push_back(line);
        }
        ASSERT_EQ(parseLog(lines), test::referenceParse(lines)) << "round " << round;
    }
}

// The scan of the log file a live fold writes, as a downloaded log is scanned.
ScanResult scanOfSaved(const LiveFold& fold)
{
    test::TempDir dir;
    dir.write("live.log", fold.fileBytes());
    LogParser parser;
    scanLogFile(dir.file("live.log"), parser);
    return parser.takeResult();
}

// Lines folded as they come equal a scan of the same lines as a file, field
// for field; a stream's first line is an event like any other (a file's
// first line gives only the time), and the saved file scans to the fold.
TEST(LiveFold, EqualsTheScanOfTheSameLines)
{
    struct Case
    {
        const char* what;
        Lines lines;
        LiveFold::Limits limits;
        std::size_t kept;
    };
    Lines many;
    for (int i = 0; i < 40; ++i) {
        for (const std::string& line : kWorkedExample)
            many.push_back(line);
        many.push_back(L("Server say \"round " + std::to_string(i) + "\""));
    }
    const std::vector<Case> cases = {
        { "worked example", kWorkedExample, {}, kWorkedExample.size() },
        { "from a chat line on", Lines(kWorkedExample.begin() + 6, kWorkedExample.end()), {}, 8 },
        // 600 lines trimmed at 101 down to 50, nine times more after 51 new
        // lines each, then 40 more: what is kept is what is folded.
        { "trimmed by lines", many, { 100, 1 << 20 }, 90 },
        { "trimmed by bytes", many, { 100000, 4096 }, 0 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LiveFold fold(c.limits);
        for (const std::string& line : c.lines) {
            fold.add(line);
            if (fold.full())
                fold.trim();
        }
        // The same lines trimmed in steps of 7 lines a turn, lines coming
        // between the steps: the same fold once the last step is through.
        LiveFold stepped(c.limits);
        for (const std::string& line : c.lines) {
            stepped.add(line);
            if (stepped.full())
                stepped.startTrim();
            stepped.continueTrim(7);
        }
        while (stepped.trimming())
            stepped.continueTrim(7);
        EXPECT_EQ(*stepped.result(), *fold.result());
        EXPECT_EQ(stepped.fileBytes(), fold.fileBytes());
        const ScanResult live = *fold.result();
        EXPECT_EQ(live, scanOfSaved(fold));
        EXPECT_EQ(fold.lineCount() + fold.droppedLines(), c.lines.size());
        if (c.kept > 0) {
            EXPECT_EQ(fold.lineCount(), c.kept);
        }
        EXPECT_LE(fold.fileBytes().size(), std::max<std::size_t>(c.limits.maxBytes, 1 << 16));
        EXPECT_EQ(live.time, c.lines[c.lines.size() - fold.lineCount()].substr(2, 21));
        // The kept lines are the newest ones.
        const Lines kept(c.lines.end() - static_cast<std::ptrdiff_t>(fold.lineCount()), c.lines.end());
        EXPECT_EQ(live, test::referenceParse([&] {
            Lines withHeader{ LiveFold::headerLine(kept.front()) };
            withHeader.insert(withHeader.end(), kept.begin(), kept.end());
            return withHeader;
        }()));
    }
    // A real log's first line is no event: the fold is its file scan.
    LiveFold fold;
    for (const std::string& line : kWorkedExample)
        fold.add(line);
    EXPECT_EQ(*fold.result(), parseLog(kWorkedExample));
    // A stream that starts with a chat line keeps it.
    LiveFold chat;
    chat.add(kWorkedExample[6]);
    EXPECT_EQ(chat.result()->publicChat.entries(), (std::vector<ChatEntry>{ { R"(Alice: "hello all")", Blue } }));
    EXPECT_EQ(chat.fileBytes(), "L 10/20/2003 - 20:14:10: Live log started\r\n" + kWorkedExample[6] + "\r\n");
}

// The texts live in shared blocks: copies must own theirs, moves must leave
// a usable empty log, and lines must survive new blocks.
TEST(ChatLog, CopiesMovesAndBlocks)
{
    ChatLog log;
    for (int i = 0; i < 700; ++i)
        log.add("P" + std::to_string(i), "\"" + std::string(static_cast<std::size_t>(i), 'm') + "\"",
            i % 2 ? ChatColor::Blue : ChatColor::Red);
    log.add(std::string(300 * 1024, 'L'), ChatColor::Red); // larger than a block
    ASSERT_EQ(log.size(), 701u);
    EXPECT_EQ(log[5], (ChatEntry{ "P5: \"mmmmm\"", ChatColor::Blue }));
    EXPECT_EQ(log[700].text.size(), 300u * 1024);

    ChatLog copy = log;
    ChatLog moved = std::move(log);
    EXPECT_TRUE(log.empty());
    log.add("again", ChatColor::Blue);
    EXPECT_EQ(log.entries(), (std::vector<ChatEntry>{ { "again", ChatColor::Blue } }));
    EXPECT_EQ(copy, moved);
    EXPECT_NE(copy.begin(), copy.end());
    for (std::size_t i = 0; i < copy.size(); ++i)
        EXPECT_NE(copy[i].text.data(), moved[i].text.data());
    moved = ChatLog();
    EXPECT_EQ(copy[699].text, "P699: \"" + std::string(699, 'm') + "\"");
}

// Buffer size and longest line kept.
class LogFileReaderTest : public ::testing::TestWithParam<std::tuple<std::size_t, std::size_t>>
{ };

Lines readAll(const std::string& bytes, std::size_t bufferSize, std::size_t maxLine)
{
    FILE* f = std::tmpfile();
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fflush(f);
    std::rewind(f);
    LogFileReader reader(fileno(f), "memory", bufferSize, maxLine);
    Lines out;
    std::string_view line;
    while (reader.nextLine(line))
        out.emplace_back(line);
    std::fclose(f);
    return out;
}

// Every line as the whole-text splitter gives it, cut to the longest kept.
TEST_P(LogFileReaderTest, LineEndsAtEveryBufferBoundary)
{
    const auto [bufferSize, maxLine] = GetParam();
    const std::vector<std::string> texts
        = { "", "\n", "\r", "\r\n", "a", "a\r\nb\r\n", "a\nb", "a\rb\r", "a\r\r\nb\n\n", "\r\r", "\n\r",
              "long line without end " + std::string(70, 'x'), "x\r\ny\rz\n\r\nw\r" + std::string(33, 'q') + "\r\n",
              std::string("nul\0byte\n", 9), "abcd\r\nabcde\rabc\n", std::string(9, 'y') + "\r",
              std::string(9, 'y') + "\r\n" + std::string(17, 'z') + "\r\r\nlast", "ab\r\r\n" + std::string(40, 'w') };
    for (const std::string& text : texts) {
        SCOPED_TRACE(testing::PrintToString(text));
        Lines expected = splitLines(text);
        for (std::string& line : expected)
            line.resize(std::min(line.size(), maxLine));
        EXPECT_EQ(readAll(text, bufferSize, maxLine), expected);
    }
}

INSTANTIATE_TEST_SUITE_P(BufferSizes, LogFileReaderTest,
    ::testing::Combine(::testing::Values(1, 2, 3, 5, 16, 1 << 20), ::testing::Values(1, 4, 5, 9, 1 << 16)));

TEST(LogFileReader, ScansAFileAndNamesItInErrors)
{
    const std::string dir = ::testing::TempDir();
    const std::string path = dir + "velth-reader-test.log";
    {
        std::ofstream out(path, std::ios::binary);
        for (const std::string& line : kWorkedExample)
            out << line << "\r\n";
    }
    LogParser parser;
    scanLogFile(path, parser);
    EXPECT_EQ(parser.lineCount(), kWorkedExample.size());
    EXPECT_EQ(parser.takeResult(), parseLog(kWorkedExample));
    std::remove(path.c_str());

    try {
        LogParser p;
        scanLogFile(dir + "missing.log", p);
        ADD_FAILURE() << "no error";
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot open " + dir + "missing.log: No such file or directory");
    }
    // A folder opens but cannot be read.
    try {
        LogParser p;
        scanLogFile(dir, p);
        ADD_FAILURE() << "no error";
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot read " + dir + ": Is a directory");
    }
}

} // namespace
} // namespace velth
