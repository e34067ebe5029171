// velth-server run as a process, as scripts use it, against the game server
// emulator: exit statuses, the JSON a script reads, hostile texts, and where
// the rcon password may come from.
#include "common/FileIo.h"
#include "common/TextCodec.h"

#include "support/GameServerEmulator.h"
#include "support/TempDir.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>

#include <algorithm>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

using nlohmann::json;
using velth::test::GameServerEmulator;
using velth::test::TempDir;

namespace {

struct Outcome
{
    int exitCode = -1;
    std::string out;
    std::string err;
};

// One run of the tool: its arguments, VELTH_RCON_PASSWORD (unset when
// empty) and its standard input.
struct ToolRun
{
    ToolRun(std::vector<std::string> arguments, std::string password = {}, std::string stdinBytes = {})
        : args(std::move(arguments))
        , passwordVariable(std::move(password))
        , input(std::move(stdinBytes))
    { }

    std::vector<std::string> args;
    std::string passwordVariable;
    std::string input;
};

// Runs the tool, or another program that runs it.
Outcome runTool(const ToolRun& run, const char* program = VELTH_SERVER_TOOL)
{
    QProcess tool;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("VELTH_RCON_PASSWORD"));
    if (!run.passwordVariable.empty())
        env.insert(QStringLiteral("VELTH_RCON_PASSWORD"), QString::fromStdString(run.passwordVariable));
    tool.setProcessEnvironment(env);
    QStringList args;
    for (const std::string& arg : run.args)
        args << QString::fromStdString(arg);
    tool.start(QString::fromUtf8(program), args);
    Outcome r;
    if (!tool.waitForStarted(30000))
        return r;
    tool.write(run.input.data(), static_cast<qint64>(run.input.size()));
    tool.closeWriteChannel();
    // Every run ends by its own time-out (at most 10 s); this is only a stop.
    if (!tool.waitForFinished(60000)) {
        tool.kill();
        tool.waitForFinished(5000);
        return r;
    }
    r.exitCode = tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1;
    r.out = tool.readAllStandardOutput().toStdString();
    r.err = tool.readAllStandardError().toStdString();
    return r;
}

std::string local(int port)
{
    return "127.0.0.1:" + std::to_string(port);
}

// A port where no server listens: one the emulator had until it stopped.
int deadPort()
{
    GameServerEmulator gone;
    const int port = gone.port();
    gone.stop();
    return port;
}

} // namespace

namespace {

std::string displayed(std::string_view bytes)
{
    return velth::toDisplay(bytes).toUtf8().toStdString();
}

// --- arguments --------------------------------------------------------------

struct UsageCase
{
    const char* name;
    std::vector<std::string> args; // "SERVER" stands for the emulator's address
    const char* problem; // in the message before the usage text
};

class ServerToolUsage : public ::testing::TestWithParam<UsageCase>
{
protected:
    // One server for every row, with the password the rows would give, so
    // that a row the tool wrongly accepted would reach it and succeed.
    static void SetUpTestSuite()
    {
        GameServerEmulator::Options options;
        options.rconPassword = "pw";
        s_server = new GameServerEmulator(options);
    }
    static void TearDownTestSuite()
    {
        delete s_server;
        s_server = nullptr;
    }
    static inline GameServerEmulator* s_server = nullptr;
};

TEST_P(ServerToolUsage, IsRefusedBeforeAnythingIsSent)
{
    ToolRun run({});
    for (std::string arg : GetParam().args)
        run.args.push_back(arg == "SERVER" ? local(s_server->port()) : arg);
    const Outcome r = runTool(run);
    EXPECT_EQ(r.exitCode, 64);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("velth-server: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(GetParam().problem), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("usage: velth-server query"), std::string::npos) << r.err;
    EXPECT_EQ(s_server->received(), std::vector<std::string>());
}

const UsageCase kUsageCases[] = {
    { "NoCommand", {}, "which command" },
    { "UnknownCommand", { "status", "SERVER" }, "unknown command status" },
    { "QueryWithoutServer", { "query", "--players" }, "at least one server" },
    { "UnknownOption", { "query", "--verbose", "SERVER" }, "unknown option --verbose" },
    { "PortZero", { "query", "127.0.0.1:0" }, "not a server address" },
    { "PortTooLarge", { "query", "127.0.0.1:65536" }, "not a server address" },
    { "EmptyHost", { "query", ":27015" }, "not a server address" },
    { "TimeoutNotANumber", { "query", "--timeout", "soon", "SERVER" }, "--timeout takes seconds" },
    { "TimeoutZero", { "query", "--timeout=0", "SERVER" }, "--timeout takes seconds" },
    { "TimeoutWithoutValue", { "query", "SERVER", "--timeout" }, "--timeout needs a value" },
    { "RconWithoutCommand", { "rcon", "--password-file", "/dev/null", "SERVER" }, "needs a command" },
    { "RconWithoutServer", { "rcon" }, "needs a server" },
    // The password never comes from the command line, where ps shows it.
    { "PasswordOption", { "rcon", "--password", "pw", "SERVER", "status" }, "never taken from the command line" },
    { "PasswordOptionJoined", { "rcon", "--password=pw", "SERVER", "status" }, "never taken from the command line" },
    { "PasswordShortOption", { "rcon", "-p", "pw", "SERVER", "status" }, "never taken from the command line" },
    { "RconPasswordOption", { "rcon", "--rcon-password", "pw", "SERVER", "status" },
        "never taken from the command line" },
    { "NoPasswordAnywhere", { "rcon", "SERVER", "status" }, "VELTH_RCON_PASSWORD" },
    { "PasswordFileMissing", { "rcon", "--password-file", "/nonexistent/velth-pw", "SERVER", "status" },
        "Cannot open /nonexistent/velth-pw: No such file or directory" },
    { "PasswordFileEmpty", { "rcon", "--password-file", "/dev/null", "SERVER", "status" }, "is empty" },
    // A line end would start a second console command.
    { "CommandWithLineEnd", { "rcon", "--password-file", "/dev/null", "SERVER", "say hi\nquit" }, "line end" },
    { "BothPasswordSources", { "rcon", "--password-file", "/dev/null", "--passwords", "/dev/null", "SERVER", "status" },
        "not both" },
    { "PasswordsLackAServer", { "rcon", "--passwords", "/dev/null", "SERVER", "status" }, "has no password for" },
    { "ServerListWithBadAddress", { "rcon", "--password-file", "/dev/null", "SERVER,host:0", "status" },
        "not a server address" },
    { "TargetsFileMissing", { "rcon", "--targets", "/nonexistent/velth-targets", "status" },
        "No such file or directory" },
    { "ExporterWithoutListen", { "exporter", "--targets", "/dev/null" }, "needs --listen" },
    { "ExporterListenWithoutPort", { "exporter", "--listen", "127.0.0.1", "--targets", "/dev/null" },
        "--listen takes" },
    { "ExporterWithoutTargets", { "exporter", "--listen", "127.0.0.1:0" }, "needs --targets" },
    { "PlayerSeriesWithoutPasswords",
        { "exporter", "--listen", "127.0.0.1:0", "--targets", "/dev/null", "--player-series" }, "--passwords" },
    { "ExporterPasswordOption", { "exporter", "--password=pw", "--listen", "127.0.0.1:0" },
        "never taken from the command line" },
    { "LogWithoutServer", { "log" }, "log needs a server" },
    { "LogTwoServers", { "log", "SERVER", "SERVER" }, "log takes one server" },
    { "LogPasswordOption", { "log", "--password=pw", "SERVER" }, "never taken from the command line" },
    { "LogNoPasswordAnywhere", { "log", "--stun", "", "SERVER" }, "VELTH_RCON_PASSWORD" },
    { "LogPortTooLarge", { "log", "--log-port", "65536", "SERVER" }, "--log-port takes a port" },
    { "LogPortNotANumber", { "log", "--log-port=x", "SERVER" }, "--log-port takes a port" },
    { "LogStunMalformed", { "log", "--stun", "stun.example.org:0", "SERVER" }, "--stun takes HOST" },
    { "LogAddressWithPort", { "log", "--log-address", "127.0.0.1:27500", "SERVER" }, "--log-address takes" },
    { "LogCheckZero", { "log", "--check", "0", "SERVER" }, "takes seconds" },
};

INSTANTIATE_TEST_SUITE_P(Arguments, ServerToolUsage, ::testing::ValuesIn(kUsageCases),
    [](const auto& row) { return std::string(row.param.name); });

TEST(ServerTool, HelpGoesToStandardOutput)
{
    for (const std::vector<std::string>& args :
        { std::vector<std::string>{ "--help" }, { "query", "--help" }, { "rcon", "--help" }, { "log", "--help" } }) {
        const Outcome r = runTool(ToolRun(args));
        EXPECT_EQ(r.exitCode, 0) << args.back();
        EXPECT_EQ(r.out.rfind("usage: velth-server query", 0), 0u) << r.out;
        EXPECT_EQ(r.err, "");
    }
}

// --- query ------------------------------------------------------------------

json shapeRules()
{
    json rules = json::object();
    for (int i = 0; i < 150; ++i)
        rules["velth_rule_" + std::to_string(1000 + i)] = "value " + std::to_string(i);
    return rules;
}

// A server whose every value is known: two players (one a bot) and enough
// rules to come in several split parts.
std::string shapeState()
{
    json state = { { "hostname", "Shape Test" }, { "map", "de_nuke" }, { "maps", { "de_nuke" } }, { "max_players", 12 },
        { "password", true }, { "version", "1.1.2.7/Stdio" } };
    state["players"]
        = json::array({ { { "name", "Alice" }, { "userid", 2 }, { "uniqueid", "STEAM_0:0:1" }, { "frags", 7 },
                            { "time", 90 }, { "ping", 10 }, { "loss", 0 }, { "address", "1.2.3.4:27005" } },
            { { "name", "Bob" }, { "userid", 3 }, { "uniqueid", "BOT" }, { "frags", -1 }, { "time", 3725 },
                { "ping", 0 }, { "loss", 0 } } });
    state["rules"] = shapeRules();
    return state.dump();
}

// Two servers with a silent one between them: one array in argument order,
// every value as the servers sent it, the silent one offline with nulls, and
// exit status 1 because one did not answer.
TEST(ServerTool, QueryJsonHoldsEveryServerInArgumentOrder)
{
    GameServerEmulator::Options options;
    options.count = 2;
    options.stateJson = shapeState();
    GameServerEmulator fleet(options);
    const int silent = deadPort();
    const Outcome r = runTool({ { "query", "--players", "--rules", "--json", "--timeout", "5",
        local(fleet.ports().at(0)), local(silent), local(fleet.ports().at(1)) } });
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_EQ(r.err, "");
    const json all = json::parse(r.out);
    ASSERT_TRUE(all.is_array());
    ASSERT_EQ(all.size(), 3u);

    const json players = json::parse(R"j([{"name": "Alice", "score": 7, "duration": 90.0},
                                          {"name": "Bob", "score": -1, "duration": 3725.0}])j");
    for (int i : { 0, 2 }) {
        const json& server = all[static_cast<std::size_t>(i)];
        const int number = i == 0 ? 1 : 2;
        EXPECT_EQ(server["address"], local(fleet.ports().at(static_cast<std::size_t>(number - 1))));
        EXPECT_EQ(server["online"], true);
        EXPECT_EQ(server["name"], "Shape Test #" + std::to_string(number));
        EXPECT_EQ(server["map"], "de_nuke");
        EXPECT_EQ(server["players"], 2);
        EXPECT_EQ(server["max_players"], 12);
        EXPECT_EQ(server["bots"], 1);
        EXPECT_EQ(server["password"], true);
        ASSERT_TRUE(server["ping_ms"].is_number_integer()) << server["ping_ms"];
        EXPECT_GE(server["ping_ms"].get<int>(), 0);
        EXPECT_EQ(server["player_list"], players);
        // A server with a join password publishes sv_password first, as the engine does.
        json rules = shapeRules();
        rules["sv_password"] = "1";
        EXPECT_EQ(server["rules"], rules);
        // The rules keep the order the server sent them in.
        EXPECT_EQ(server["rules"].begin().key(), "sv_password");
        EXPECT_EQ(std::next(server["rules"].begin()).key(), "velth_rule_1000");
    }
    EXPECT_EQ(all[1], json::parse(R"j({"address": "127.0.0.1:)j" + std::to_string(silent) + R"j(",
        "online": false, "status": "offline", "name": null, "map": null, "players": null, "max_players": null,
        "bots": null, "ping_ms": null, "player_list": null, "rules": null})j"));
    // The members a script reads first come first.
    EXPECT_EQ(r.out.rfind("[\n{\"address\":", 0), 0u) << r.out.substr(0, 40);
}

TEST(ServerTool, QueryTableShowsServersPlayersAndRules)
{
    GameServerEmulator server;
    const Outcome r = runTool({ { "query", "--players", "--rules", local(server.port()) } });
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < r.out.size();) {
        const std::size_t end = r.out.find('\n', at);
        lines.push_back(r.out.substr(at, end - at));
        at = end == std::string::npos ? r.out.size() : end + 1;
    }
    ASSERT_GE(lines.size(), 8u) << r.out;
    EXPECT_EQ(lines[0].rfind("ADDRESS", 0), 0u) << lines[0];
    EXPECT_EQ(lines[1].rfind(local(server.port()) + "  online  ", 0), 0u) << lines[1];
    for (const char* column : { "  4/16 (1 bot)  ", "  de_dust2  " })
        EXPECT_NE(lines[1].find(column), std::string::npos) << lines[1];
    EXPECT_EQ(lines[1].substr(lines[1].size() - 17), "Velth Test Server");
    EXPECT_EQ(lines[2], "  players (4):");
    EXPECT_EQ(lines[3], "        10  12:34     Player One");
    EXPECT_EQ(lines[4], "        -2  1:02:05   The \"Quoted\" One");
    EXPECT_EQ(lines[7].rfind("  rules (", 0), 0u) << lines[7];
    EXPECT_NE(r.out.find("\n    mp_timelimit = 30\n"), std::string::npos);
}

// The exit status says whether every server answered every part asked; a
// server that answered the info is online with what it sent, the rest null
// in the JSON and named in the table.
struct QueryExitCase
{
    const char* name;
    std::vector<GameServerEmulator::Hostile> hostile;
    std::vector<std::string> options;
    int exitCode;
    std::vector<std::string> shown; // in the output
};

class ServerToolQueryExit : public ::testing::TestWithParam<QueryExitCase>
{ };

TEST_P(ServerToolQueryExit, CountsEveryPartAsked)
{
    const QueryExitCase& c = GetParam();
    GameServerEmulator::Options options;
    options.hostile = c.hostile;
    GameServerEmulator server(options);
    ToolRun run({ "query", "--timeout", "3" });
    run.args.insert(run.args.end(), c.options.begin(), c.options.end());
    run.args.push_back(local(server.port()));
    const Outcome r = runTool(run);
    EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
    EXPECT_EQ(r.err, "");
    for (const std::string& text : c.shown)
        EXPECT_NE(r.out.find(text), std::string::npos) << text << "\n" << r.out;
}

const QueryExitCase kQueryExitCases[] = {
    { "EveryPartAnswered", {}, { "--players", "--rules", "--json" }, 0,
        { "\"online\":true", "\"player_list\":[{", "\"rules\":{\"" } },
    { "RulesNeverAnswered", { GameServerEmulator::Hostile::NoRules }, { "--players", "--rules", "--json" }, 1,
        { "\"online\":true", "\"name\":\"Velth Test Server\"", "\"player_list\":[{", "\"rules\":null" } },
    { "RulesNeverAnsweredInTheTable", { GameServerEmulator::Hostile::NoRules }, { "--players", "--rules" }, 1,
        { "  online  ", "  players (4):\n", "  rules: no answer\n" } },
    { "RulesNotAsked", { GameServerEmulator::Hostile::NoRules }, { "--players", "--json" }, 0,
        { "\"online\":true", "\"player_list\":[{" } },
    { "NeitherEverWhole", { GameServerEmulator::Hostile::SplitMissing }, { "--players", "--rules", "--json" }, 1,
        { "\"online\":true", "\"map\":\"de_dust2\"", "\"player_list\":null", "\"rules\":null" } },
    { "InfoCutTwiceThenWhole", { GameServerEmulator::Hostile::CutInfo }, { "--json" }, 0,
        { "\"online\":true", "\"name\":\"Velth Test Server\"", "\"players\":4,\"max_players\":16" } },
};

INSTANTIATE_TEST_SUITE_P(Parts, ServerToolQueryExit, ::testing::ValuesIn(kQueryExitCases),
    [](const auto& row) { return std::string(row.param.name); });

// Markup, control characters and invalid UTF-8 in every text, and counts
// that disagree with the lists: the JSON stays valid UTF-8 (the parser
// refuses anything else), each text decoded by the program's rule, and the
// table holds no control character that could drive a terminal.
TEST(ServerTool, HostileTextsStayValidJsonAndInertText)
{
    GameServerEmulator::Options options;
    options.hostile = { GameServerEmulator::Hostile::Markup, GameServerEmulator::Hostile::CountMismatch };
    GameServerEmulator server(options);
    const std::string address = local(server.port());

    const Outcome r = runTool({ { "query", "--players", "--rules", "--json", address } });
    ASSERT_EQ(r.exitCode, 0) << r.err;
    json all;
    ASSERT_NO_THROW(all = json::parse(r.out)) << r.out;
    ASSERT_EQ(all.size(), 1u);
    const json& s = all[0];
    EXPECT_EQ(s["name"], displayed("<b>Velth</b> <a href='x'>Server</a>\x07\x1b[31m\xff\xfe&amp;"));
    EXPECT_EQ(s["map"], displayed("<i>de_dust2</i>\x01"));
    ASSERT_TRUE(s["player_list"].is_array());
    ASSERT_FALSE(s["player_list"].empty());
    EXPECT_EQ(s["player_list"][0]["name"], displayed("<img src=x onerror=alert(1)>Player One"));
    EXPECT_EQ(s["rules"]["sv_contact"], displayed("<a href='http://evil'>mail</a>\x1b\xfe"));

    const Outcome table = runTool({ { "query", "--players", "--rules", address } });
    ASSERT_EQ(table.exitCode, 0) << table.err;
    EXPECT_NE(table.out.find("<b>Velth</b>"), std::string::npos);
    const auto control = std::find_if(table.out.begin(), table.out.end(),
        [](char c) { return (static_cast<unsigned char>(c) < 0x20 && c != '\n') || c == 0x7f; });
    EXPECT_EQ(control, table.out.end()) << "control byte at " << (control - table.out.begin());
}

// --- rcon -------------------------------------------------------------------

struct PasswordCase
{
    const char* name;
    std::optional<std::string> file; // the password file's bytes
    bool fileOnStandardInput;
    std::string variable; // VELTH_RCON_PASSWORD
    int exitCode;
    std::vector<std::string> received; // the emulator's rcon lines
};

class ServerToolPassword : public ::testing::TestWithParam<PasswordCase>
{ };

// The server's password is "pw". The output of a command goes out exactly as
// the server sent it (the engine's echo ends each word with a space).
TEST_P(ServerToolPassword, ComesFromTheFileOrTheEnvironment)
{
    const PasswordCase& c = GetParam();
    GameServerEmulator::Options options;
    options.rconPassword = "pw";
    GameServerEmulator server(options);
    TempDir dir;
    ToolRun run({ "rcon" });
    if (c.file) {
        dir.write("password", *c.file);
        run.args.insert(run.args.end(), { "--password-file", c.fileOnStandardInput ? "-" : dir.file("password") });
        if (c.fileOnStandardInput)
            run.input = *c.file;
    }
    run.args.insert(run.args.end(), { local(server.port()), "echo", "velth" });
    run.passwordVariable = c.variable;
    const Outcome r = runTool(run);
    EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
    if (c.exitCode == 0) {
        EXPECT_EQ(r.out, "velth \n");
        EXPECT_EQ(r.err, "");
    } else {
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find("Bad rcon_password"), std::string::npos) << r.err;
    }
    std::vector<std::string> rcon;
    for (const std::string& line : server.received())
        if (line.rfind("rcon ", 0) == 0)
            rcon.push_back(line);
    // An accepted command may be followed by the client's end marker; a
    // refused one is never sent again.
    if (c.exitCode == 0 && rcon.size() > c.received.size())
        rcon.resize(c.received.size());
    EXPECT_EQ(rcon, c.received);
}

const PasswordCase kPasswordCases[] = {
    { "FileFirstLine", "pw\n", false, "", 0, { "rcon ok echo velth" } },
    { "FileCrLfAndMoreLines", "pw\r\nsecond line\n", false, "", 0, { "rcon ok echo velth" } },
    { "FileWithoutLineEnd", "pw", false, "", 0, { "rcon ok echo velth" } },
    { "StandardInput", "pw\n", true, "", 0, { "rcon ok echo velth" } },
    { "Environment", std::nullopt, false, "pw", 0, { "rcon ok echo velth" } },
    // The file wins over the environment; a refused password is sent once.
    { "FileBeforeEnvironment", "wrong\n", false, "pw", 2, { "rcon bad-password echo velth" } },
    { "WrongInEnvironment", std::nullopt, false, "wrong", 2, { "rcon bad-password echo velth" } },
    { "SpacesAreThePassword", " pw\n", false, "", 2, { "rcon bad-password echo velth" } },
};

INSTANTIATE_TEST_SUITE_P(Sources, ServerToolPassword, ::testing::ValuesIn(kPasswordCases),
    [](const auto& row) { return std::string(row.param.name); });

TEST(ServerTool, RconStatusAndRefusals)
{
    GameServerEmulator::Options options;
    options.rconPassword = "pw";
    GameServerEmulator server(options);
    const std::string address = local(server.port());
    Outcome r = runTool({ { "rcon", address, "status" }, "pw" });
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out.rfind("hostname:  Velth Test Server\n", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("# 2 \"The \"Quoted\" One\" 15 STEAM_0:0:777  -2  1:02:05  120    3 9.10.11.12:27005\n"),
        std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.substr(r.out.size() - 8), "4 users\n");

    // A server without a password refuses every command.
    GameServerEmulator open;
    r = runTool({ { "rcon", local(open.port()), "status" }, "pw" });
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("No password set"), std::string::npos) << r.err;

    // Nobody listening: exit status 1 once the time-out is over.
    r = runTool({ { "rcon", "--timeout", "5", local(deadPort()), "status" }, "pw" });
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("velth-server: "), std::string::npos);
}

// Three servers, one given a wrong password, and one nobody answers on: every
// line of output is prefixed by its server, each server gets the command
// once, and the one exit status says the worst that happened (a refused
// password outweighs a server that did not answer).
TEST(ServerTool, RconOnManyServersPrefixesEachLine)
{
    GameServerEmulator::Options options;
    options.rconPassword = "pw";
    options.count = 3;
    GameServerEmulator fleet(options);
    const std::string silent = local(deadPort());
    const std::string a = local(fleet.ports()[0]), b = local(fleet.ports()[1]), c = local(fleet.ports()[2]);
    TempDir dir;
    dir.write("passwords", "# per server\n" + a + " pw\n" + b + "\twrong\r\n" + c + " pw\n" + silent + " pw\n");

    Outcome r = runTool({ { "rcon", "--passwords", dir.file("passwords"), "--timeout", "5",
        a + "," + b + "," + c + "," + silent, "echo", "hi" } });
    EXPECT_EQ(r.exitCode, 2) << r.err;
    EXPECT_EQ(r.out, a + ": hi \n" + c + ": hi \n");
    EXPECT_NE(r.err.find("velth-server: " + b + ": The server refused the rcon password"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("velth-server: " + silent + ": "), std::string::npos) << r.err;
    // What each server ran, less the console's own end marker.
    auto ran = [&](int server) {
        std::vector<std::string> commands = fleet.rconCommands(server);
        std::erase_if(commands, [](const std::string& line) { return line.rfind("echo velth-end-", 0) == 0; });
        return commands;
    };
    EXPECT_EQ(ran(1), std::vector<std::string>{ "echo hi" });
    EXPECT_EQ(ran(2), std::vector<std::string>());
    EXPECT_EQ(ran(3), std::vector<std::string>{ "echo hi" });

    // The same servers from a targets file, all with the right password: exit 0.
    dir.write("targets", a + "\n" + c + "\n");
    r = runTool({ { "rcon", "--targets", dir.file("targets"), "echo", "again" }, "pw" });
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, a + ": again \n" + c + ": again \n");
}

// Output cut at its bound (here the time bound: the server prints without
// end) is not a complete answer: a status of its own, and a word on stderr.
TEST(ServerTool, RconOutputCutHasItsOwnStatus)
{
    GameServerEmulator::Options options;
    options.rconPassword = "pw";
    options.hostile = { GameServerEmulator::Hostile::EndlessPrint };
    GameServerEmulator server(options);
    const Outcome r = runTool({ { "rcon", "--timeout", "3", local(server.port()), "status" }, "pw" });
    EXPECT_EQ(r.exitCode, 3) << r.err;
    EXPECT_EQ(r.out.rfind("endless output 0 ", 0), 0u) << r.out.substr(0, 40);
    EXPECT_EQ(r.err, "velth-server: the output was cut at its bound\n");
}

// On a terminal the console's output cannot drive it: the escape sequences
// in the names of a hostile server's status show as visible characters
// (piped, the bytes stay as they came, as the password table shows).
TEST(ServerTool, RconOutputOnATerminalShowsControlCharacters)
{
    if (!velth::pathExists("/usr/bin/script"))
        GTEST_SKIP() << "no /usr/bin/script (util-linux) to give the tool a terminal";
    GameServerEmulator::Options options;
    options.rconPassword = "pw";
    options.hostile = { GameServerEmulator::Hostile::Markup };
    GameServerEmulator server(options);
    const std::string command = std::string("'") + VELTH_SERVER_TOOL + "' rcon " + local(server.port()) + " status";

    const Outcome piped = runTool(ToolRun({ "rcon", local(server.port()), "status" }, "pw"));
    ASSERT_EQ(piped.exitCode, 0) << piped.err;
    ASSERT_NE(piped.out.find("\x1b[0m"), std::string::npos) << piped.out;

    const Outcome shown = runTool(ToolRun({ "-q", "-e", "-c", command, "/dev/null" }, "pw"), "/usr/bin/script");
    ASSERT_EQ(shown.exitCode, 0) << shown.out << shown.err;
    EXPECT_NE(shown.out.find("\u241B[0m"), std::string::npos) << shown.out;
    const auto control = std::find_if(shown.out.begin(), shown.out.end(),
        [](char c) { return (static_cast<unsigned char>(c) < 0x20 && c != '\n' && c != '\r') || c == 0x7f; });
    EXPECT_EQ(control, shown.out.end()) << "control byte at " << (control - shown.out.begin());
}

// The server bans an address after wrong passwords: every refusal, the ban
// included, is exit status 2 and sent once, and the ban shows in a query.
TEST(ServerTool, FailureBanEndsInRefusals)
{
    GameServerEmulator::Options options;
    options.rconPassword = "pw";
    options.minFailures = 1;
    options.failuresByIp = true;
    GameServerEmulator server(options);
    const std::string address = local(server.port());
    for (int attempt = 0; attempt < 2; ++attempt)
        EXPECT_EQ(runTool({ { "rcon", address, "status" }, "wrong" }).exitCode, 2) << attempt;
    const Outcome banned = runTool({ { "rcon", address, "status" }, "pw" });
    EXPECT_EQ(banned.exitCode, 2);
    EXPECT_NE(banned.err.find("banned"), std::string::npos) << banned.err;
    const Outcome query = runTool({ { "query", "--json", address } });
    EXPECT_EQ(query.exitCode, 1);
    const json all = json::parse(query.out);
    EXPECT_EQ(all[0]["status"], "failed");
    EXPECT_NE(all[0]["error"].get<std::string>().find("banned"), std::string::npos) << all[0]["error"];
}

// --- log --------------------------------------------------------------------

// velth-server log streams every line of the server's log, in order and
// whole, to --output; its own console requests (the check, the console's end
// markers, with the password) stay out; SIGTERM takes the address back and
// ends with 0. A log that never arrives ends with 4 and says so; a refused
// password ends with rcon's 2. Every run names its STUN server explicitly.
TEST(ServerTool, LogStreamsTheServersLog)
{
    TempDir dir;
    std::string replay;
    for (int i = 0; i < 2000; ++i)
        replay += "L 12/09/2026 - 07:10:00: \"P" + std::to_string(i % 9) + "<2><STEAM_0:1:" + std::to_string(i)
            + "><CT>\" say \"line " + std::to_string(i) + "\"\n";
    dir.write("replay.log", replay);
    GameServerEmulator::Options options;
    options.rconPassword = "pw";
    options.replayLog = dir.file("replay.log");
    options.replayRate = 1000;
    GameServerEmulator server(options);

    QProcess tool;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("VELTH_RCON_PASSWORD"), QStringLiteral("pw"));
    tool.setProcessEnvironment(env);
    const std::string output = dir.file("live.log");
    tool.start(QStringLiteral(VELTH_SERVER_TOOL),
        { QStringLiteral("log"), QStringLiteral("--stun"), QString(), QStringLiteral("--output"),
            QString::fromStdString(output), QString::fromStdString(local(server.port())) });
    ASSERT_TRUE(tool.waitForStarted(30000));
    const auto lines = [&] {
        const std::string bytes = velth::readFileIfExists(output).value_or(std::string());
        return static_cast<std::size_t>(std::count(bytes.begin(), bytes.end(), '\n'));
    };
    for (int i = 0; i < 1200 && lines() < 2000; ++i)
        tool.waitForFinished(100);
    ASSERT_EQ(lines(), 2000u) << tool.readAllStandardError().toStdString();
    tool.terminate();
    ASSERT_TRUE(tool.waitForFinished(60000));
    const std::string err = tool.readAllStandardError().toStdString();
    EXPECT_EQ(tool.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(tool.exitCode(), 0) << err;
    EXPECT_EQ(velth::readFile(output), replay);
    EXPECT_NE(err.find("the log arrives"), std::string::npos) << err;
    EXPECT_NE(err.find("2000 lines received"), std::string::npos) << err;
    const auto commands = server.rconCommands();
    const auto added = std::find_if(commands.begin(), commands.end(),
        [](const std::string& c) { return c.rfind("logaddress_add 127.0.0.1 ", 0) == 0; });
    ASSERT_NE(added, commands.end());
    EXPECT_TRUE(server.waitForCommand("logaddress_del" + added->substr(14), std::chrono::seconds(30)));

    // The log never comes (a router on the way drops it).
    options.logLost = true;
    GameServerEmulator lost(options);
    Outcome r = runTool({ { "log", "--stun", "", "--check", "2", local(lost.port()) }, "pw" });
    EXPECT_EQ(r.exitCode, 4) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("does not reach this computer"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("within 2 seconds"), std::string::npos) << r.err;
    const auto lostCommands = lost.rconCommands();
    EXPECT_TRUE(std::any_of(lostCommands.begin(), lostCommands.end(),
        [](const std::string& c) { return c.rfind("logaddress_del 127.0.0.1 ", 0) == 0; }));

    // A wrong password ends as rcon's does, before any address is given.
    r = runTool({ { "log", "--stun", "", local(lost.port()) }, "wrong" });
    EXPECT_EQ(r.exitCode, 2) << r.err;
    EXPECT_NE(r.err.find("Bad rcon_password"), std::string::npos) << r.err;
}

} // namespace
