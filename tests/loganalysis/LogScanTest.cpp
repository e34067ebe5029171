// velth-logscan run as a process, as scripts use it.
#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using nlohmann::json;

struct Outcome
{
    int exitCode = -1;
    std::string out;
    std::string err;
};

std::string slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

class LogScanTest : public ::testing::Test
{
protected:
    std::string dir = ::testing::TempDir() + "velth-logscan-test-" + std::to_string(::getpid()) + "/";

    LogScanTest() { std::system(("mkdir -p '" + dir + "'").c_str()); }
    ~LogScanTest() override { std::system(("rm -rf '" + dir + "'").c_str()); }

    std::string write(const std::string& name, const std::string& bytes)
    {
        std::ofstream(dir + name, std::ios::binary) << bytes;
        return dir + name;
    }

    Outcome run(const std::string& args)
    {
        const std::string command
            = std::string("'") + VELTH_LOGSCAN + "' " + args + " >'" + dir + "out' 2>'" + dir + "err'";
        const int status = std::system(command.c_str());
        Outcome r;
        r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.out = slurp(dir + "out");
        r.err = slurp(dir + "err");
        return r;
    }

    // The peak resident memory of one run, in KiB.
    static long peakKiB(const std::vector<std::string>& args)
    {
        std::vector<char*> argv{ const_cast<char*>(VELTH_LOGSCAN) };
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        pid_t pid = 0;
        const int spawned = posix_spawn(&pid, VELTH_LOGSCAN, &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0)
            return -1;
        int status = 0;
        rusage usage{};
        if (::wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
            return -1;
        return usage.ru_maxrss;
    }
};

const char* const kLog
    = "L 10/20/2003 - 20:13:52: Log file started\r\n"
      "L 10/20/2003 - 20:13:52: Loading map \"de_dust2\"\r\n"
      "L 10/20/2003 - 20:13:52: Server cvar \"mp_friendlyfire\" = \"1\"\r\n"
      "L 10/20/2003 - 20:14:10: \"Alice<3><111111><CT>\" say \"hello \\\"all\\\"\"\r\n"
      "L 10/20/2003 - 20:14:12: \"M\xFCller<4><222222><TERRORIST>\" say \"hi\" (dead)\r\n"
      "L 10/20/2003 - 20:14:20: \"J\xC3\xBCrgen<5><STEAM_0:1:5><TERRORIST>\" say_team \"rush\"\r\n"
      "L 10/20/2003 - 20:15:30: \"Carl<5><333333><CT>\" killed \"Alice<3><111111><CT>\" with \"ak47\"\r\n"
      "L 10/20/2003 - 20:16:05: Team \"CT\" triggered \"CTs_Win\" (CT \"1\") (T \"0\")\r\n";

TEST_F(LogScanTest, PrintsTheScanAsJson)
{
    const Outcome r = run("'" + write("a.log", kLog) + "'");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const json expected = json::parse(R"j({
        "time": "10/20/2003 - 20:13:52",
        "map": "de_dust2",
        "public_chat": [{"text": "Alice: \"hello \\\"all\\\"\"", "color": "blue"},
                        {"text": "Müller: \"hi\" (dead)", "color": "red"}],
        "t_chat": [{"text": "Jürgen: \"rush\"", "color": "red"}],
        "ct_chat": [],
        "cvars": [["mp_friendlyfire", "1"]],
        "ct_rows": [{"name": "Carl", "wonid": "333333", "tks": 1}],
        "t_rows": [],
        "ct_wins": "1",
        "t_wins": "0"})j");
    EXPECT_EQ(json::parse(r.out), expected);
    // One object, members in the documented order.
    EXPECT_EQ(r.out.rfind("{\"time\":", 0), 0u);
    EXPECT_LT(r.out.find("\"ct_wins\""), r.out.find("\"t_wins\""));
    EXPECT_EQ(r.err, "");
}

// --find: the appearances newest first, one a line, and the names of each
// Steam id found; texts by the display rule.
TEST_F(LogScanTest, FindsAPlayerInManyLogs)
{
    const std::string a = write("a.log", kLog);
    const std::string b = write("b.log",
        "L 10/21/2003 - 09:00:00: Log file started\n"
        "L 10/21/2003 - 09:00:01: \"J\xC3\xBCrgen<5><STEAM_0:1:5><CT>\" changed name to \"<b>J</b>\"\n"
        "L 10/21/2003 - 09:00:02: \"<b>J</b><5><STEAM_0:1:5><CT>\" killed \"M\xFCller<4><222222><TERRORIST>\" with "
        "\"awp\"\n");
    Outcome r = run("--find j\xC3\xBCRGEN '" + a + "' '" + b + "'");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const json expected = json::parse(R"j({"find": "jüRGEN", "appearances": [
        {"file": "B", "line": 2, "time": "10/21/2003 - 09:00:01", "name": "Jürgen", "steam_id": "STEAM_0:1:5",
         "team": "CT", "event": "changed_name", "detail": "<b>J</b>"},
        {"file": "A", "line": 6, "time": "10/20/2003 - 20:14:20", "name": "Jürgen", "steam_id": "STEAM_0:1:5",
         "team": "TERRORIST", "event": "said_team", "detail": "\"rush\""}],
        "other_names": [{"steam_id": "STEAM_0:1:5", "names": ["Jürgen", "<b>J</b>"]}], "truncated": false})j");
    json got = json::parse(r.out);
    for (json& row : got["appearances"])
        row["file"] = row["file"] == a ? "A" : row["file"] == b ? "B" : row["file"];
    EXPECT_EQ(got, expected);
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 4); // one appearance a line
    EXPECT_EQ(r.err, "");

    // By WonID; the Windows-1252 name shown as such; the victim side.
    r = run("--find 222222 '" + a + "' '" + b + "'");
    got = json::parse(r.out);
    ASSERT_EQ(got["appearances"].size(), 2u);
    EXPECT_EQ(got["appearances"][0]["event"], "was_killed");
    EXPECT_EQ(got["appearances"][0]["name"], "Müller");
    EXPECT_EQ(got["appearances"][0]["detail"], "<b>J</b>");
    EXPECT_EQ(got["appearances"][1]["event"], "said");
    EXPECT_EQ(got["other_names"], json::parse(R"j([{"steam_id": "222222", "names": ["Müller"]}])j"));

    // A log that cannot be read is reported; the others are still searched.
    r = run("--find carl '" + dir + "missing.log' '" + a + "'");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "velth-logscan: Cannot open " + dir + "missing.log: No such file or directory\n");
    EXPECT_EQ(json::parse(r.out)["appearances"].size(), 1u);
}

// At the limit the newest appearances are kept: the newest log (by its
// modification time, whatever the order given) is searched first. Every
// byte of a name comes out as JSON text by the display rule.
TEST_F(LogScanTest, FindKeepsTheNewestAtTheLimitAndEscapesNames)
{
    std::string many;
    for (int i = 0; i < 100005; ++i)
        many += "L 10/20/2003 - 20:14:10: \"Al<1><STEAM_0:1:5><CT>\" say \"x\"\n";
    const std::string old = write("old.log", many);
    const std::string fresh = write("new.log",
        "L 10/21/2003 - 09:00:01: \"Al\x01\\\x7F\xE9<2><STEAM_0:1:6><CT>\" say \"\t\"\n"
        "L 10/21/2003 - 09:00:02: \"Al\xC3\xA9<2><STEAM_0:1:6><CT>\" say \"y\"\n");
    const timeval times[2] = { { 1000000000, 0 }, { 1000000000, 0 } };
    ASSERT_EQ(::utimes(old.c_str(), times), 0);
    const Outcome r = run("--find al '" + old + "' '" + fresh + "'");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("more than 100000 appearances"), std::string::npos) << r.err;
    const json got = json::parse(r.out);
    EXPECT_EQ(got["truncated"], true);
    ASSERT_EQ(got["appearances"].size(), 100000u);
    std::vector<std::string> names;
    for (const json& row : got["appearances"])
        if (row["file"] == fresh)
            names.push_back(row["name"]);
    EXPECT_EQ(names, (std::vector<std::string>{ "Al\u00E9", "Al\x01\\\x7F\u00E9" }));
    EXPECT_EQ(got["appearances"][1]["detail"], "\"\t\"");
    EXPECT_NE(r.out.find(R"("Al\u0001\\)"), std::string::npos);
}

TEST_F(LogScanTest, EmptyFileAndStats)
{
    const std::string empty = write("empty.log", "");
    Outcome r = run("'" + empty + "'");
    ASSERT_EQ(r.exitCode, 0);
    EXPECT_EQ(json::parse(r.out),
        json::parse(R"j({"time": "", "map": null, "public_chat": [], "t_chat": [], "ct_chat": [], "cvars": [],
                        "ct_rows": [], "t_rows": [], "ct_wins": null, "t_wins": null})j"));

    r = run("--stats '" + write("a.log", kLog) + "'");
    ASSERT_EQ(r.exitCode, 0);
    EXPECT_EQ(json::parse(r.out),
        json::parse(R"j({"time": 1, "map": 1, "public_chat": 2, "t_chat": 1, "ct_chat": 0, "cvars": 1,
                        "ct_rows": 1, "t_rows": 0, "ct_wins": 1, "t_wins": 1})j"));
    r = run("--stats '" + empty + "'");
    EXPECT_EQ(json::parse(r.out)["time"], 0);
}

// A file without any line end is read in bounded memory, however long: the
// line is cut while it is read (here 400 MB of NUL bytes, a sparse file).
TEST_F(LogScanTest, LineWithoutEndInBoundedMemory)
{
    const std::string empty = write("empty.log", "");
    const std::string huge = dir + "oneline.log";
    {
        std::ofstream(huge, std::ios::binary) << "L 10/20/2003 - 20:13:52: ";
    }
    ASSERT_EQ(::truncate(huge.c_str(), 400'000'000), 0);
    const long base = peakKiB({ "--stats", empty });
    const long peak = peakKiB({ "--stats", huge });
    ASSERT_GT(base, 0);
    ASSERT_GT(peak, 0);
    EXPECT_LT(peak - base, 16 * 1024) << "empty file " << base << " KiB, 400 MB line " << peak << " KiB";
    // The search too, with the text in the line's kept part.
    const long nul = peakKiB({ "--find", "L 10", huge });
    ASSERT_GT(nul, 0);
    EXPECT_LT(nul - base, 16 * 1024) << "empty file " << base << " KiB, --find in a 400 MB line " << nul << " KiB";
}

TEST_F(LogScanTest, Failures)
{
    Outcome r = run("'" + dir + "missing.log'");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "velth-logscan: Cannot open " + dir + "missing.log: No such file or directory\n");

    r = run("--stats '" + dir + "'");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("Cannot read " + dir), std::string::npos);

    for (const char* args : { "", "a b", "--stats", "--find", "--find x", "--find '' a.log" }) {
        r = run(args);
        EXPECT_EQ(r.exitCode, 2) << args;
        EXPECT_EQ(r.err.rfind("usage: velth-logscan", 0), 0u) << args;
    }
}

} // namespace
