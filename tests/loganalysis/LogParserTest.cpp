#include "loganalysis/LogParser.h"

#include "ReferenceParser.h"
#include "common/Error.h"
#include "common/TextLines.h"
#include "loganalysis/LiveFold.h"
#include "loganalysis/PlayerFinder.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <random>
#include <set>

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

// A log written to a temporary file (removed again).
struct TempLog
{
    std::string path;
    explicit TempLog(const std::string& bytes, const std::string& name = "velth-find-test.log")
        : path(::testing::TempDir() + std::to_string(::getpid()) + "-" + name)
    {
        std::ofstream(path, std::ios::binary) << bytes;
    }
    ~TempLog() { std::remove(path.c_str()); }
};

std::string joinLines(const Lines& lines, const std::string& end = "\r\n")
{
    std::string out;
    for (const std::string& line : lines)
        out += line + end;
    return out;
}

// The appearances and names of one search over the logs, in search order.
struct Found
{
    std::vector<PlayerAppearance> appearances;
    std::vector<PlayerNames> names;
};

Found find(const std::string& text, const std::vector<std::string>& paths, std::size_t maxLine = 1 << 16,
    std::size_t maxAppearances = PlayerFinder::kDefaultMaxAppearances)
{
    PlayerFinder finder(text, maxAppearances, maxLine);
    Found found;
    for (std::size_t i = 0; i < paths.size() && !finder.truncated(); ++i) {
        const bool going = finder.searchFile(paths[i], i, found.appearances);
        EXPECT_EQ(going, !finder.truncated());
    }
    if (finder.needsNamePass()) {
        for (const std::string& path : paths)
            EXPECT_TRUE(finder.collectNames(path));
    }
    found.names = finder.otherNames();
    return found;
}

const Lines kPlayerLog = {
    "L 10/20/2003 - 20:13:52: Log file started",
    R"(L 10/20/2003 - 20:14:00: "Alice<3><STEAM_0:1:5><>" connected, address "10.0.0.1:27005")",
    R"(L 10/20/2003 - 20:14:01: "Alice<3><STEAM_0:1:5><>" entered the game)",
    R"(L 10/20/2003 - 20:14:02: "Alice<3><STEAM_0:1:5><>" joined team "CT")",
    R"(L 10/20/2003 - 20:14:10: "Alice<3><STEAM_0:1:5><CT>" say "hello all")",
    R"(L 10/20/2003 - 20:14:11: "Bob<4><STEAM_0:0:6><TERRORIST>" say "alice? killed "x<1><2><CT>"")",
    R"(L 10/20/2003 - 20:14:12: "Alice<3><STEAM_0:1:5><CT>" say_team "go B" (dead))",
    R"(L 10/20/2003 - 20:14:13: "Alice<3><STEAM_0:1:5><CT>" killed "Bob<4><STEAM_0:0:6><TERRORIST>" with "m4a1")",
    R"(L 10/20/2003 - 20:14:14: "Carl<5><STEAM_0:0:7><CT>" killed "Alice<3><STEAM_0:1:5><CT>" with "ak47")",
    R"(L 10/20/2003 - 20:14:15: "Alice<3><STEAM_0:1:5><CT>" changed name to "Zed")",
    R"(L 10/20/2003 - 20:14:16: "Zed<3><STEAM_0:1:5><CT>" killed "Bob<4><STEAM_0:0:6><TERRORIST>" with "awp")",
    R"(L 10/20/2003 - 20:14:17: "Zed<3><STEAM_0:1:5><CT>" disconnected)",
    R"(L 10/20/2003 - 20:15:00: "a<b<alice<9><BOT><TERRORIST>" say "x")",
    R"(L 10/20/2003 - 20:15:01: "MALICE<8><STEAM_ID_PENDING><>" connected, address "")",
    R"(L 10/20/2003 - 20:15:02: [AMXX] Plugin: Alice killed Bob)",
    R"(L 10/20/2003 - 20:15:03: "Alice<3><STEAM_0:1:5><CT>" attacked "Bob<4><STEAM_0:0:6><TERRORIST>" with "m4a1")",
};

struct Seen
{
    std::uint64_t line;
    std::string name, steamId, team;
    PlayerEvent event;
    std::string detail;
    bool operator==(const Seen&) const = default;
};

void PrintTo(const Seen& s, std::ostream* os)
{
    *os << s.line << " " << s.name << " " << s.steamId << " " << s.team << " " << eventName(s.event) << " " << s.detail;
}

TEST(PlayerFinder, AppearancesByNameAndSteamId)
{
    using E = PlayerEvent;
    const TempLog log(joinLines(kPlayerLog));
    const Seen connected{ 2, "Alice", "STEAM_0:1:5", "", E::Connected, "10.0.0.1:27005" };
    const Seen entered{ 3, "Alice", "STEAM_0:1:5", "", E::Entered, "" };
    const Seen joined{ 4, "Alice", "STEAM_0:1:5", "", E::JoinedTeam, "CT" };
    const Seen said{ 5, "Alice", "STEAM_0:1:5", "CT", E::Said, R"("hello all")" };
    const Seen team{ 7, "Alice", "STEAM_0:1:5", "CT", E::SaidToTeam, R"("go B" (dead))" };
    const Seen killed{ 8, "Alice", "STEAM_0:1:5", "CT", E::Killed, "Bob" };
    const Seen teamKilled{ 9, "Alice", "STEAM_0:1:5", "CT", E::WasTeamKilled, "Carl" };
    const Seen renamed{ 10, "Alice", "STEAM_0:1:5", "CT", E::ChangedName, "Zed" };
    const Seen zedKilled{ 11, "Zed", "STEAM_0:1:5", "CT", E::Killed, "Bob" };
    const Seen zedLeft{ 12, "Zed", "STEAM_0:1:5", "CT", E::Disconnected, "" };
    const Seen bot{ 13, "a<b<alice", "BOT", "TERRORIST", E::Said, R"("x")" };
    const Seen malice{ 14, "MALICE", "STEAM_ID_PENDING", "", E::Connected, "" };
    const Seen bobKilled{ 8, "Bob", "STEAM_0:0:6", "TERRORIST", E::WasKilled, "Alice" };
    const Seen carl{ 9, "Carl", "STEAM_0:0:7", "CT", E::TeamKilled, "Alice" };
    struct Case
    {
        std::string text;
        std::vector<Seen> seen;
    };
    const std::vector<Case> cases = {
        // Any case; the chat line that only mentions the name (line 6) and the
        // plugin line without player fields are no appearances; a name
        // holding '<' is read from the end as the parser reads it.
        { "aLiCe", { connected, entered, joined, said, team, killed, teamKilled, renamed, bot, malice } },
        { "ALICE<", {} }, // the brackets belong to the field, not the name
        // By Steam id, in any case: every line of the player, also under the
        // new name; the victim side of a kill.
        { "steam_0:1:5", { connected, entered, joined, said, team, killed, teamKilled, renamed, zedKilled, zedLeft } },
        { "STEAM_0:0:6",
            { { 6, "Bob", "STEAM_0:0:6", "TERRORIST", E::Said, R"("alice? killed "x<1><2><CT>"")" }, bobKilled,
                { 11, "Bob", "STEAM_0:0:6", "TERRORIST", E::WasKilled, "Zed" } } },
        { "STEAM_0:1", {} }, // a part of an id is no id, and no name holds it
        { "carl", { carl } },
        { "zed", { renamed, zedKilled, zedLeft } }, // the new name of a change counts
        { "nobody", {} },
        { "", {} },
        { "Alice\n", {} },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const Found found = find(c.text, { log.path });
        std::vector<Seen> seen;
        for (const PlayerAppearance& a : found.appearances) {
            EXPECT_EQ(a.file, 0u);
            EXPECT_EQ(a.time, kPlayerLog[a.line - 1].substr(2, 21));
            seen.push_back({ a.line, a.name, a.steamId, a.team, a.event, a.detail });
        }
        EXPECT_EQ(seen, c.seen);
    }
}

// The names of an id come from every line that holds it, also where the name
// holds nothing of the searched text (a reconnect under another name, in a
// later log, or before the id was found, in the same log or one searched
// before, near or far from where it was found), also when the search ended
// at its limit before; shared ids (BOT, STEAM_ID_PENDING) list nothing.
TEST(PlayerFinder, OtherNamesOfEachSteamId)
{
    const TempLog first(joinLines(kPlayerLog), "a.log");
    const TempLog second(joinLines({ "L 10/21/2003 - 09:00:00: Log file started",
                                       R"(L 10/21/2003 - 09:00:01: "Mr X<2><STEAM_0:1:5><>" connected, address "")",
                                       R"(L 10/21/2003 - 09:00:02: "Mr X<2><STEAM_0:1:5><CT>" changed name to "Y")",
                                       R"(L 10/21/2003 - 09:00:03: "Bob<3><STEAM_0:1:55><CT>" say "not STEAM_0:1:5")" },
                             "\n"),
        "b.log");
    // Found on its last line, a player field seen in an earlier block
    // (1 MiB) of the same log, and in the log searched before.
    const std::string filler = R"(L 10/22/2003 - 10:00:00: "Filler<9><STEAM_0:1:77><CT>" say "x")";
    Lines third = { R"(L 10/22/2003 - 10:00:01: "Early<4><STEAM_0:1:9><CT>" say "x")",
        R"(L 10/22/2003 - 10:00:02: "Filler<9><STEAM_0:1:77><CT>" killed "Early<4><STEAM_0:1:9><T>" with "x")" };
    while (third.size() < 30000)
        third.push_back(filler);
    third.push_back(
        R"(L 10/22/2003 - 10:00:03: "Filler<9><STEAM_0:1:77><CT>" killed "Mid<4><STEAM_0:1:9><T>" with "x")");
    while (third.size() < 60000)
        third.push_back(filler);
    third.push_back(R"(L 10/22/2003 - 10:00:04: "Target<4><STEAM_0:1:9><CT>" entered the game)");
    const TempLog late(joinLines(third), "c.log");
    const TempLog before(
        joinLines({ R"(L 10/19/2003 - 10:00:00: "Before<4><STEAM_0:1:9><CT>" disconnected)" }), "d.log");
    const std::vector<PlayerNames> alice = { { "STEAM_0:1:5", { "Alice", "Zed", "Mr X", "Y" } } };
    struct Case
    {
        std::string text;
        std::vector<std::string> paths;
        std::vector<PlayerNames> names;
        std::size_t maxAppearances = PlayerFinder::kDefaultMaxAppearances;
    };
    const std::vector<Case> cases = {
        { "alice", { first.path, second.path }, alice },
        { "STEAM_0:1:5", { first.path, second.path }, alice },
        { "bob", { first.path, second.path }, { { "STEAM_0:0:6", { "Bob" } }, { "STEAM_0:1:55", { "Bob" } } } },
        { "a<b<", { first.path }, {} },
        // Found in the log searched second: its names before, in the log
        // searched first, follow.
        { "y", { first.path, second.path }, { { "STEAM_0:1:5", { "Mr X", "Y", "Alice", "Zed" } } } },
        { "target", { before.path, late.path }, { { "STEAM_0:1:9", { "Target", "Before", "Early", "Mid" } } } },
        { "target", { late.path, before.path }, { { "STEAM_0:1:9", { "Target", "Early", "Mid", "Before" } } } },
        // The limit reached on the first appearance: the rest of that log
        // and the logs never searched still give the names.
        { "alice", { first.path, second.path }, alice, 1 },
        { "mid", { late.path, before.path }, { { "STEAM_0:1:9", { "Mid", "Early", "Target", "Before" } } }, 1 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text + " " + std::to_string(c.maxAppearances));
        EXPECT_EQ(find(c.text, c.paths, 1 << 16, c.maxAppearances).names, c.names);
    }
    const Found two = find("y", { first.path, second.path });
    ASSERT_EQ(two.appearances.size(), 1u);
    EXPECT_EQ(two.appearances[0].file, 1u);
    EXPECT_EQ(two.appearances[0].line, 3u);
}

// What the search reads of a chat line is what the Chat parser shows.
TEST(PlayerFinder, ChatAgreesWithTheParser)
{
    const TempLog log(joinLines(kWorkedExample));
    const ScanResult scan = parseLog(kWorkedExample);
    std::vector<std::string> said;
    for (const char* name : { "alice", "bob" })
        for (const PlayerAppearance& a : find(name, { log.path }).appearances)
            if (a.event == PlayerEvent::Said || a.event == PlayerEvent::SaidToTeam)
                said.push_back(a.name + ": " + a.detail);
    std::vector<std::string> chats;
    for (const ChatLog* chat : { &scan.publicChat, &scan.ctChat, &scan.tChat })
        for (const ChatEntry entry : *chat)
            chats.emplace_back(entry.text);
    std::sort(said.begin(), said.end());
    std::sort(chats.begin(), chats.end());
    EXPECT_EQ(said, chats);
}

// Line numbers and cut lines as LogFileReader gives them, across the 1 MiB
// blocks of the search and every kind of line end, with lines longer than
// the longest kept (a name past the cut is not found, as the parser never
// sees it), invalid UTF-8 and markup in names kept as bytes.
TEST(PlayerFinder, LinesAsTheReaderSplitsThem)
{
    std::mt19937 rng(11);
    const char* const ends[] = { "\n", "\r\n", "\r" };
    const std::vector<std::string> names = { "Needle", "<b>needle</b>", "\xFFneedle\xC3", "xNEEDLEx", "Other" };
    std::string bytes;
    std::set<std::uint64_t> expected;
    std::uint64_t number = 0;
    const std::size_t maxLine = 300;
    while (bytes.size() < 3u << 20) {
        ++number;
        const std::string& name = names[rng() % names.size()];
        const std::size_t pad = rng() % 10 == 0 ? 400 + rng() % 2000 : rng() % 40;
        std::string line = "L 10/20/2003 - 20:14:10: ";
        const bool late = rng() % 3 == 0; // the field after the padding
        if (late)
            line += std::string(pad, 'p');
        line += "\"" + name + "<1><STEAM_0:1:" + std::to_string(number) + "><CT>\" entered the game";
        if (!late)
            line += std::string(pad, 'q');
        if (name != "Other" && line.find("\" entered the game") + 18 <= maxLine)
            expected.insert(number);
        bytes += line + ends[rng() % 3];
    }
    const TempLog log(bytes);
    std::set<std::uint64_t> lines;
    for (const PlayerAppearance& a : find("needle", { log.path }, maxLine).appearances) {
        lines.insert(a.line);
        EXPECT_EQ(a.steamId, "STEAM_0:1:" + std::to_string(a.line));
        EXPECT_NE(std::find(names.begin(), names.end(), a.name), names.end()) << a.name;
    }
    EXPECT_GT(expected.size(), 1000u);
    EXPECT_EQ(lines, expected);
}

// Lines built from fragments of real events, with every kind of line end:
// whatever the search reports stands on the line it names, read as the
// parser reads player fields, and the second pass finds the ids' names on
// such lines too; nothing reads outside a line (the sanitizer build checks).
TEST(PlayerFinder, RandomFragmentsStayOnTheirLines)
{
    const std::vector<std::string> parts = { "\"", "<", ">", "<CT>", "<TERRORIST>", "<>", "\" say \"", "\" say_team \"",
        "\" killed \"", "\" changed name to \"", "\" connected, address \"", "\" disconnected", "\" joined team \"",
        "Al", "aL", "ice", "<1>", "<STEAM_0:1:5>", "<STEAM_0:1:55>", "<0>", "<BOT>", " ", "\r", "\n", "\r\n",
        "\xC3\xA9", "\xFF", std::string(70, '>'), std::string(70, '<') };
    std::mt19937 rng(3);
    for (int round = 0; round < 40; ++round) {
        std::string bytes;
        for (int n = 0; n < 400; ++n)
            bytes += parts[rng() % parts.size()];
        const TempLog log(bytes);
        std::vector<std::string> lines;
        {
            LogFileReader reader(log.path, 7, 90);
            std::string_view line;
            while (reader.nextLine(line))
                lines.emplace_back(line);
        }
        for (const char* text : { "al", "STEAM_0:1:5", "ice" }) {
            const Found found = find(text, { log.path }, 90);
            for (const PlayerAppearance& a : found.appearances) {
                ASSERT_GE(a.line, 1u);
                ASSERT_LE(a.line, lines.size()) << round;
                const std::string& line = lines[a.line - 1];
                const bool first = GetPlayerName(line, 1) == a.name && GetPlayerWonID(line, 1) == a.steamId
                    && GetPlayerTeam(line, 1) == a.team;
                const bool third = GetPlayerName(line, 3) == a.name && GetPlayerWonID(line, 3) == a.steamId
                    && GetPlayerTeam(line, 3) == a.team;
                EXPECT_TRUE(first || third) << round << " " << testing::PrintToString(line);
            }
            for (const PlayerNames& id : found.names) {
                EXPECT_TRUE(isPersonalId(id.steamId));
                EXPECT_NE(bytes.find("<" + id.steamId + ">"), std::string::npos) << id.steamId;
            }
        }
    }
}

// The second pass takes only a whole id in angle brackets: not a longer id
// that ends the same, not an id in a message, not a '>' far from any '<'.
// A player field it took before still lets the rest of a line count: the
// victim of a killer seen before, the new name of a field seen before.
TEST(PlayerFinder, SecondPassTakesWholeIdsOnly)
{
    const TempLog log(joinLines({ "L 10/20/2003 - 20:13:52: Log file started",
        R"(L 10/20/2003 - 20:14:00: "Alice<1><STEAM_0:1:5><CT>" say "hi")",
        R"(L 10/20/2003 - 20:14:01: "Long<2><STEAM_0:1:55><CT>" say "x")",
        R"(L 10/20/2003 - 20:14:02: "Other<3><STEAM_0:1:6><CT>" say "<STEAM_0:1:5>")",
        R"(L 10/20/2003 - 20:14:03: "Two<4><XSTEAM_0:1:5><CT>" say "x")",
        "L 10/20/2003 - 20:14:04: " + std::string(200, '5') + ">" + std::string(100, '>'),
        R"(L 10/20/2003 - 20:14:05: "Bob<5><STEAM_0:1:7><CT>" say "<STEAM_0:1:5>")",
        R"(L 10/20/2003 - 20:14:05: "Bob<5><STEAM_0:1:7><CT>" killed "Eve<6><STEAM_0:1:5><TERRORIST>" with "x")",
        R"(L 10/20/2003 - 20:14:06: "Bob<5><STEAM_0:1:7><CT>" killed "Eve<6><STEAM_0:1:5><TERRORIST>" with "y")",
        R"(L 10/20/2003 - 20:14:07: "Kim<6><STEAM_0:1:5><TERRORIST>" say "x")",
        R"(L 10/20/2003 - 20:14:08: "Kim<6><STEAM_0:1:5><TERRORIST>" changed name to "Ann")" }));
    EXPECT_EQ(find("alice", { log.path }).names,
        (std::vector<PlayerNames>{ { "STEAM_0:1:5", { "Alice", "Eve", "Kim", "Ann" } } }));
}

TEST(PlayerFinder, CancelAndLimits)
{
    std::string bytes;
    for (int i = 0; bytes.size() < (3u << 20); ++i)
        bytes += "L 10/20/2003 - 20:14:10: \"Al<1><STEAM_0:1:" + std::to_string(i) + "><CT>\" say \"x\"\n";
    const TempLog log(bytes);
    // Cancelled: the search ends after the first block.
    std::atomic<bool> cancel{ true };
    PlayerFinder finder("al");
    std::vector<PlayerAppearance> out;
    std::uint64_t read = 0;
    EXPECT_FALSE(finder.searchFile(log.path, 0, out, &cancel, [&](std::uint64_t done) { read = done; }));
    EXPECT_LE(read, 2u << 20);
    EXPECT_LT(out.size(), 30000u);
    EXPECT_FALSE(finder.collectNames(log.path, &cancel));
    // The appearance limit ends the search; ids beyond kMaxIds are dropped.
    PlayerFinder limited("al", 1000);
    out.clear();
    EXPECT_FALSE(limited.searchFile(log.path, 0, out));
    EXPECT_EQ(out.size(), 1000u);
    EXPECT_TRUE(limited.truncated());
    EXPECT_FALSE(limited.searchFile(log.path, 1, out));
    EXPECT_EQ(out.size(), 1000u);
    EXPECT_EQ(limited.otherNames().size(), PlayerFinder::kMaxIds);
    EXPECT_TRUE(limited.idsTruncated());
    try {
        PlayerFinder missing("x");
        missing.searchFile(log.path + ".missing", 0, out);
        ADD_FAILURE() << "no error";
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot open " + log.path + ".missing: No such file or directory");
    }
}

TEST(PlayerFinder, NewestFirstAndIds)
{
    auto at = [](std::size_t file, std::uint64_t line, std::string time) {
        PlayerAppearance a;
        a.file = file;
        a.line = line;
        a.time = std::move(time);
        return a;
    };
    std::vector<PlayerAppearance> list
        = { at(0, 5, "10/20/2003 - 20:14:10"), at(0, 9, "10/20/2003 - 20:14:10"), at(1, 2, "10/20/2003 - 20:14:10"),
              at(0, 1, "01/02/2004 - 00:00:00"), at(0, 3, "garbage"), at(0, 4, "12/31/2003 - 23:59:59") };
    sortNewestFirst(list);
    std::vector<std::pair<std::size_t, std::uint64_t>> order;
    for (const PlayerAppearance& a : list)
        order.emplace_back(a.file, a.line);
    EXPECT_EQ(order,
        (std::vector<std::pair<std::size_t, std::uint64_t>>{
            { 0, 1 }, { 0, 4 }, { 1, 2 }, { 0, 9 }, { 0, 5 }, { 0, 3 } }));
    EXPECT_EQ(timeKey("10/20/2003 - 20:14:10"), 20031020201410u);
    EXPECT_EQ(timeKey("10/20/2003 - 20:14:1x"), 0u);
    for (const char* id : { "STEAM_0:1:5", "VALVE_0:0:1", "111111" })
        EXPECT_TRUE(isPersonalId(id)) << id;
    for (const char* id :
        { "BOT", "STEAM_ID_PENDING", "STEAM_ID_LAN", "VALVE_ID_LAN", "HLTV", "", "0", "00", "STEAM_" })
        EXPECT_FALSE(isPersonalId(id)) << id;
}

} // namespace
} // namespace velth
