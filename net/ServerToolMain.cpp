// velth-server: asks game servers for their state (any number of them) and
// runs a command on a server's remote console, for scripts and monitoring.
//
//   velth-server query [--players] [--rules] [--json] [--timeout SECONDS] HOST[:PORT]...
//   velth-server rcon [--password-file FILE] [--timeout SECONDS] HOST[:PORT] COMMAND...
//   velth-server log [--password-file FILE] [--output FILE] [--log-port PORT] [--log-address HOST]
//                    [--stun HOST[:PORT]] [--no-keepalive] [--log-secret SECRET] [--check SECONDS] HOST[:PORT]
//
// log streams the server's live log, a whole line at a time, until Ctrl-C or
// SIGTERM, which take the log address back (logaddress_del) before the end;
// it exits 4 when the log never arrived.
//
// Exit status: 0 every server answered every part asked, 1 some server or
// some part did not (or the command failed), 2 the server refused the rcon
// password, 3 the command ran but its output was cut at its bound, 64 the
// arguments were wrong. The rcon password is never taken from the command
// line, where every user of the machine can read it (ps, /proc): it comes
// from a file or from VELTH_RCON_PASSWORD.
#include "common/Error.h"
#include "common/FileIo.h"
#include "common/TextCodec.h"
#include "net/GameServer.h"
#include "net/GroupConsole.h"
#include "net/LogReceiver.h"
#include "net/ServerListFile.h"
#include "net/ServerTool.h"
#include "net/StunBinding.h"
#include "profiles/ServerProfile.h"

#include <nlohmann/json.hpp>

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QHostInfo>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using nlohmann::ordered_json;

using velth::servertool::kExitLogNotArrived;
using velth::servertool::kExitNoAnswer;
using velth::servertool::kExitOk;
using velth::servertool::kExitOutputCut;
using velth::servertool::kExitRefusedPassword;
using velth::servertool::kExitUsage;

constexpr const char* kPasswordVariable = "VELTH_RCON_PASSWORD";
// Each server is asked for this long unless --timeout says otherwise; the
// remote console gets what RconClient allows a command.
constexpr std::chrono::milliseconds kQueryTimeout = 5s;
// The longest wait for one answer before a request goes again.
constexpr std::chrono::milliseconds kLongestWait = 1500ms;
constexpr std::chrono::milliseconds kRconTimeout = 10s;
// More than a password file's first line is never read.
constexpr std::size_t kMaxPasswordFileBytes = 4096;

const char* const kUsage
    = "usage: velth-server query [--players] [--rules] [--json] [--timeout SECONDS] HOST[:PORT]...\n"
      "       velth-server rcon [--password-file FILE|--passwords FILE] [--timeout SECONDS]\n"
      "                         HOST[:PORT][,HOST[:PORT]...] COMMAND...\n"
      "       velth-server rcon [--password-file FILE|--passwords FILE] --targets FILE COMMAND...\n"
      "       velth-server log [--password-file FILE] [--output FILE] [--log-port PORT]\n"
      "                        [--log-address HOST] [--stun HOST[:PORT]] [--no-keepalive]\n"
      "                        [--log-secret SECRET] [--check SECONDS] HOST[:PORT]\n"
      "       velth-server exporter --listen ADDRESS:PORT --targets FILE [--player-series --passwords FILE]\n"
      "                             [--timeout SECONDS]\n"
      "Asks Half-Life (HLDS) game servers for their state, any number of them, runs a command\n"
      "on their remote consoles, streams one's live log (until Ctrl-C), or serves their state\n"
      "as Prometheus metrics at /metrics. The rcon password is the first line of FILE (\"-\":\n"
      "standard input) or the environment variable VELTH_RCON_PASSWORD, never an argument;\n"
      "--passwords FILE gives each server its own (ADDRESS PASSWORD lines). PORT defaults to 27015.\n";

int usageError(const std::string& problem = {})
{
    if (!problem.empty())
        std::cerr << "velth-server: " << problem << '\n';
    std::cerr << kUsage;
    return kExitUsage;
}

using velth::servertool::HelpRequest;
using velth::servertool::isPasswordOption;
using velth::servertool::jsonText;
using velth::servertool::optionValue;
using velth::servertool::parseAddress;
using velth::servertool::parseTimeout;
using velth::servertool::shown;
using velth::servertool::UsageError;

// --- query ------------------------------------------------------------------

struct QueryOptions
{
    bool players = false;
    bool rules = false;
    bool json = false;
    std::chrono::milliseconds timeout = kQueryTimeout;
    std::vector<velth::GameAddress> servers;
};

QueryOptions parseQueryArguments(int argc, char** argv)
{
    QueryOptions options;
    bool optionsEnd = false;
    for (int i = 2; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (!optionsEnd && arg == "--") {
            optionsEnd = true;
        } else if (!optionsEnd && arg == "--help") {
            throw HelpRequest{};
        } else if (!optionsEnd && arg == "--players") {
            options.players = true;
        } else if (!optionsEnd && arg == "--rules") {
            options.rules = true;
        } else if (!optionsEnd && arg == "--json") {
            options.json = true;
        } else if (!optionsEnd && arg.rfind("--timeout", 0) == 0) {
            const auto value = optionValue(argc, argv, i, "--timeout");
            if (!value)
                throw UsageError{ "unknown option " + shown(arg) };
            options.timeout = parseTimeout(*value);
        } else if (!optionsEnd && arg.size() > 1 && arg[0] == '-') {
            throw UsageError{ "unknown option " + shown(arg) };
        } else {
            options.servers.push_back(parseAddress(std::string(arg)));
        }
    }
    if (options.servers.empty())
        throw UsageError{ "query needs at least one server" };
    return options;
}

// Seconds on the server as the console prints them: "12:34", "1:02:03".
std::string clockTime(float seconds)
{
    const long total = seconds > 0 && std::isfinite(seconds) ? std::lround(std::min(seconds, 1e9F)) : 0;
    char text[32];
    if (total >= 3600)
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
    return text;
}

const char* statusWord(const velth::GameQueryResult& r)
{
    switch (r.status) {
    case velth::GameQueryResult::Status::Online:
        return "online";
    case velth::GameQueryResult::Status::Offline:
        return "offline";
    case velth::GameQueryResult::Status::Failed:
        return "failed";
    }
    return "failed";
}

ordered_json serverJson(const velth::GameAddress& address, const velth::GameQueryResult& r, const QueryOptions& o)
{
    ordered_json out = ordered_json::object();
    out["address"] = jsonText(velth::toString(address));
    out["online"] = r.online();
    out["status"] = statusWord(r);
    if (!r.error.empty())
        out["error"] = jsonText(r.error);
    const velth::GameServerInfo& info = r.info;
    if (r.online()) {
        out["name"] = jsonText(info.name);
        out["map"] = jsonText(info.map);
        out["players"] = info.players;
        out["max_players"] = info.maxPlayers;
        out["bots"] = info.bots;
        out["ping_ms"] = r.ping.count() >= 0 ? ordered_json(r.ping.count()) : ordered_json(nullptr);
        out["password"] = info.passworded;
        out["secure"] = info.secure;
        out["game"] = jsonText(info.game);
        out["folder"] = jsonText(info.folder);
        out["version"] = jsonText(info.version);
    } else {
        for (const char* key : { "name", "map", "players", "max_players", "bots", "ping_ms" })
            out[key] = nullptr;
    }
    if (o.players) {
        if (r.online() && r.players) {
            ordered_json list = ordered_json::array();
            for (const velth::GamePlayer& p : *r.players) {
                ordered_json player = ordered_json::object();
                player["name"] = jsonText(p.name);
                player["score"] = p.score;
                player["duration"] = std::isfinite(p.duration) ? ordered_json(p.duration) : ordered_json(nullptr);
                list.push_back(std::move(player));
            }
            out["player_list"] = std::move(list);
        } else {
            out["player_list"] = nullptr;
        }
    }
    if (o.rules) {
        if (r.online() && r.rules) {
            ordered_json rules = ordered_json::object();
            for (const auto& [name, value] : *r.rules)
                rules[jsonText(name)] = jsonText(value);
            out["rules"] = std::move(rules);
        } else {
            out["rules"] = nullptr;
        }
    }
    return out;
}

void printJson(std::ostream& out, const std::vector<velth::GameAddress>& servers,
    const std::vector<velth::GameQueryResult>& results, const QueryOptions& o)
{
    out << '[';
    for (std::size_t i = 0; i < servers.size(); ++i) {
        out << (i ? ",\n" : "\n");
        out << serverJson(servers[i], results[i], o).dump(-1, ' ', false, ordered_json::error_handler_t::replace);
    }
    out << (servers.empty() ? "]\n" : "\n]\n");
}

std::string padded(std::string text, std::size_t width)
{
    if (text.size() < width)
        text.append(width - text.size(), ' ');
    return text;
}

// One line per server in columns, its players and rules below it.
void printTable(std::ostream& out, const std::vector<velth::GameAddress>& servers,
    const std::vector<velth::GameQueryResult>& results, const QueryOptions& o)
{
    struct Row
    {
        std::string address, status, ping, players, map, name;
    };
    std::vector<Row> rows;
    Row header{ "ADDRESS", "STATUS", "PING", "PLAYERS", "MAP", "NAME" };
    Row widths = header;
    for (std::size_t i = 0; i < servers.size(); ++i) {
        const velth::GameQueryResult& r = results[i];
        Row row;
        row.address = shown(velth::toString(servers[i]));
        row.status = statusWord(r);
        if (r.online()) {
            row.ping = r.ping.count() >= 0 ? std::to_string(r.ping.count()) + " ms" : "-";
            row.players = std::to_string(r.info.players) + "/" + std::to_string(r.info.maxPlayers);
            if (r.info.bots > 0)
                row.players += " (" + std::to_string(r.info.bots) + (r.info.bots == 1 ? " bot)" : " bots)");
            if (r.info.passworded)
                row.players += " locked";
            row.map = shown(r.info.map);
            row.name = shown(r.info.name);
        } else {
            row.name = shown(r.error);
        }
        rows.push_back(row);
    }
    // Widths in bytes: a name from a server may be any width, so it stands last.
    auto widen = [&](const Row& row) {
        widths.address = std::string(std::max(widths.address.size(), row.address.size()), ' ');
        widths.status = std::string(std::max(widths.status.size(), row.status.size()), ' ');
        widths.ping = std::string(std::max(widths.ping.size(), row.ping.size()), ' ');
        widths.players = std::string(std::max(widths.players.size(), row.players.size()), ' ');
        widths.map = std::string(std::max(widths.map.size(), row.map.size()), ' ');
    };
    widen(header);
    for (const Row& row : rows)
        widen(row);
    auto line = [&](const Row& row) {
        std::string text = padded(row.address, widths.address.size()) + "  " + padded(row.status, widths.status.size())
            + "  " + padded(row.ping, widths.ping.size()) + "  " + padded(row.players, widths.players.size()) + "  "
            + padded(row.map, widths.map.size()) + "  " + row.name;
        while (!text.empty() && text.back() == ' ')
            text.pop_back();
        out << text << '\n';
    };
    line(header);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        line(rows[i]);
        const velth::GameQueryResult& r = results[i];
        if (!r.online())
            continue;
        if (o.players) {
            if (!r.players) {
                out << "  players: no answer\n";
            } else {
                out << "  players (" << r.players->size() << "):\n";
                for (const velth::GamePlayer& p : *r.players) {
                    char score[16];
                    std::snprintf(score, sizeof score, "%6d", p.score);
                    out << "    " << score << "  " << padded(clockTime(p.duration), 8) << "  " << shown(p.name) << '\n';
                }
            }
        }
        if (o.rules) {
            if (!r.rules) {
                out << "  rules: no answer\n";
            } else {
                out << "  rules (" << r.rules->size() << "):\n";
                for (const auto& [name, value] : *r.rules)
                    out << "    " << shown(name) << " = " << shown(value) << '\n';
            }
        }
    }
}

int runQuery(int argc, char** argv)
{
    const QueryOptions options = parseQueryArguments(argc, argv);
    velth::GameQuery query;
    // Each server gets the whole time-out from its first request, and its
    // requests go again until then, as often as its round trip allows; what
    // it answered by then is kept. A long list is asked a few hundred servers
    // at a time, so the run may take longer than the time-out.
    velth::GameQuery::Limits limits;
    limits.total = options.timeout;
    limits.timeout = std::clamp(options.timeout / 4, 1ms, kLongestWait);
    limits.retries = 100000;
    query.setLimits(limits);

    unsigned parts = velth::QueryInfo;
    if (options.players)
        parts |= velth::QueryPlayers;
    if (options.rules)
        parts |= velth::QueryRules;

    const std::size_t count = options.servers.size();
    std::vector<velth::GameQueryResult> results(count);
    std::size_t left = count;
    for (std::size_t i = 0; i < count; ++i) {
        query.query(options.servers[i], parts, [&, i](const velth::GameQueryResult& r) {
            results[i] = r;
            if (--left == 0)
                QCoreApplication::exit(0);
        });
    }
    if (left > 0)
        QCoreApplication::exec();
    query.cancelAll();

    if (options.json)
        printJson(std::cout, options.servers, results, options);
    else
        printTable(std::cout, options.servers, results, options);
    std::cout.flush();
    if (!std::cout) {
        std::cerr << "velth-server: cannot write the result\n";
        return kExitNoAnswer;
    }
    const bool all = std::all_of(results.begin(), results.end(), [parts](const auto& r) { return r.complete(parts); });
    return all ? kExitOk : kExitNoAnswer;
}

// --- rcon -------------------------------------------------------------------

struct RconOptions
{
    std::optional<std::string> passwordFile;
    // "ADDRESS PASSWORD" lines: each server's own password.
    std::optional<std::string> passwordsFile;
    std::optional<std::string> targetsFile;
    std::chrono::milliseconds timeout = kRconTimeout;
    std::vector<velth::GameAddress> servers;
    // log: its one server.
    velth::GameAddress server;
    std::string command;
    // More than one server (a list, or a targets file): each output line is
    // prefixed by its server.
    bool many = false;
};

// "cs1,cs2:27016,[::1]:27015": one address or several, comma-separated.
std::vector<velth::GameAddress> parseAddressList(const std::string& text)
{
    std::vector<velth::GameAddress> servers;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        servers.push_back(parseAddress(text.substr(start, comma == std::string::npos ? comma : comma - start)));
        if (comma == std::string::npos)
            return servers;
        start = comma + 1;
    }
}

RconOptions parseRconArguments(int argc, char** argv)
{
    RconOptions options;
    int i = 2;
    for (; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--") {
            ++i;
            break;
        }
        if (arg == "--help")
            throw HelpRequest{};
        if (isPasswordOption(arg))
            throw UsageError{ "the rcon password is never taken from the command line, where other users of the "
                              "machine can read it: give --password-file FILE, --passwords FILE or set "
                + std::string(kPasswordVariable) };
        if (arg.rfind("--passwords", 0) == 0) {
            if (const auto value = optionValue(argc, argv, i, "--passwords")) {
                options.passwordsFile = *value;
                continue;
            }
        }
        if (arg.rfind("--password-file", 0) == 0) {
            if (const auto value = optionValue(argc, argv, i, "--password-file")) {
                options.passwordFile = *value;
                continue;
            }
        }
        if (arg.rfind("--targets", 0) == 0) {
            if (const auto value = optionValue(argc, argv, i, "--targets")) {
                options.targetsFile = *value;
                continue;
            }
        }
        if (arg.rfind("--timeout", 0) == 0) {
            if (const auto value = optionValue(argc, argv, i, "--timeout")) {
                options.timeout = parseTimeout(*value);
                continue;
            }
        }
        if (arg.size() > 1 && arg[0] == '-')
            throw UsageError{ "unknown option " + shown(arg) };
        break;
    }
    if (options.passwordFile && options.passwordsFile)
        throw UsageError{ "give either --password-file (one password for every server) or --passwords (a "
                          "password per server), not both" };
    // With a targets file every word left is the command.
    if (!options.targetsFile) {
        if (i >= argc)
            throw UsageError{ "rcon needs a server and a command" };
        options.servers = parseAddressList(argv[i++]);
    }
    options.many = options.targetsFile || options.servers.size() > 1;
    // The words of the command are joined into one console line, as typed.
    for (; i < argc; ++i) {
        if (!options.command.empty())
            options.command += ' ';
        options.command += argv[i];
    }
    if (options.command.empty())
        throw UsageError{ "rcon needs a command after the server" };
    if (options.command.find_first_of("\r\n") != std::string::npos)
        throw UsageError{ "a console command cannot hold a line end" };
    return options;
}

// The first line of the file (or of standard input for "-"), without its line end.
std::string readPasswordFile(const std::string& path)
{
    std::ifstream file;
    std::istream* in = &std::cin;
    if (path != "-") {
        file.open(path, std::ios::binary);
        if (!file)
            velth::throwFileError("Cannot open", path, errno);
        in = &file;
    }
    std::string line;
    char c = 0;
    while (line.size() < kMaxPasswordFileBytes && in->get(c) && c != '\n')
        line += c;
    if (in->bad())
        velth::throwFileError("Cannot read", path, errno);
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    if (line.size() >= kMaxPasswordFileBytes)
        throw velth::Error("The first line of " + path + " is too long for a password");
    return line;
}

std::string rconPassword(const RconOptions& options)
{
    if (options.passwordFile) {
        const std::string password = readPasswordFile(*options.passwordFile);
        if (password.empty())
            throw UsageError{ "the first line of " + *options.passwordFile + " is empty: no rcon password" };
        return password;
    }
    const char* variable = std::getenv(kPasswordVariable);
    if (!variable || !*variable)
        throw UsageError{ "rcon needs the password: give --password-file FILE, --passwords FILE or set "
            + std::string(kPasswordVariable) };
    return variable;
}

// Every server with its password: each its own from --passwords, else the
// one password for all.
std::vector<velth::GroupTarget> rconTargets(RconOptions& options)
{
    if (options.targetsFile) {
        options.servers = velth::readServerList(velth::readFile(*options.targetsFile));
        if (options.servers.empty())
            throw UsageError{ *options.targetsFile + " names no server" };
    }
    std::vector<velth::GroupTarget> targets;
    if (!options.passwordsFile) {
        const std::string password = rconPassword(options);
        for (const velth::GameAddress& server : options.servers)
            targets.push_back({ server, password });
        return targets;
    }
    const auto passwords = velth::readServerPasswords(velth::readFile(*options.passwordsFile));
    std::string missing;
    for (const velth::GameAddress& server : options.servers) {
        const auto it = std::find_if(
            passwords.begin(), passwords.end(), [&](const auto& entry) { return entry.first == server; });
        if (it == passwords.end())
            missing += (missing.empty() ? "" : ", ") + shown(velth::toString(server));
        else
            targets.push_back({ server, it->second });
    }
    if (!missing.empty())
        throw UsageError{ *options.passwordsFile + " has no password for " + missing };
    return targets;
}

int exitStatusOf(const velth::RconResult& r)
{
    using Kind = velth::RconResult::Kind;
    switch (r.kind) {
    case Kind::Ok:
        return r.truncated ? kExitOutputCut : kExitOk;
    case Kind::BadPassword:
    case Kind::NoPassword:
    case Kind::Banned:
        return kExitRefusedPassword;
    case Kind::Refused:
        return kExitUsage;
    case Kind::BadChallenge:
    case Kind::TimedOut:
    case Kind::Failed:
    case Kind::Cancelled:
        return kExitNoAnswer;
    }
    return kExitNoAnswer;
}

// One status for many servers: a refused password outweighs a server that
// did not answer, which outweighs output cut at its bound.
int worstStatus(int a, int b)
{
    for (const int status : { kExitUsage, kExitRefusedPassword, kExitNoAnswer, kExitOutputCut }) {
        if (a == status || b == status)
            return status;
    }
    return kExitOk;
}

// The output goes out as the server sent it, for scripts; on a terminal its
// control characters are made visible so that it cannot drive it. With
// several servers each line starts with its server ("127.0.0.1:27015: ").
void printOutput(const std::string& output, const std::string& prefix)
{
    std::string text = output;
    if (::isatty(STDOUT_FILENO)) {
        text = velth::visibleText(velth::toDisplay(output), true).toUtf8().toStdString();
        if (!text.empty() && text.back() != '\n')
            text += '\n';
    }
    if (prefix.empty()) {
        std::cout << text;
        return;
    }
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        std::cout << prefix << text.substr(start, end == std::string::npos ? end : end - start) << '\n';
        start = end == std::string::npos ? text.size() : end + 1;
    }
}

int runRcon(int argc, char** argv)
{
    RconOptions options = parseRconArguments(argc, argv);
    std::vector<velth::GroupTarget> targets;
    try {
        targets = rconTargets(options);
    } catch (const velth::Error& e) {
        return usageError(shown(e.message()));
    }

    velth::GroupConsole consoles;
    consoles.setTimeout(options.timeout);
    std::vector<velth::GroupResult> results;
    consoles.run(targets, { options.command }, {}, [&](const std::vector<velth::GroupResult>& all) {
        results = all;
        QCoreApplication::exit(0);
    });
    QCoreApplication::exec();

    int status = kExitOk;
    for (std::size_t i = 0; i < targets.size(); ++i) {
        const velth::RconResult& result = results.at(i).last();
        const std::string server = shown(velth::toString(targets[i].address));
        printOutput(result.output, options.many ? server + ": " : std::string());
        const std::string where = options.many ? server + ": " : std::string();
        if (result.truncated)
            std::cerr << "velth-server: " << where << "the output was cut at its bound\n";
        if (!result.ok())
            std::cerr << "velth-server: " << where << shown(result.message) << '\n';
        status = worstStatus(status, exitStatusOf(result));
    }
    std::cout.flush();
    if (!std::cout) {
        std::cerr << "velth-server: cannot write the output\n";
        return kExitNoAnswer;
    }
    return status;
}

// --- log --------------------------------------------------------------------

constexpr std::chrono::milliseconds kCheckLimit = 10s;
constexpr std::chrono::milliseconds kCheckRepeat = 2500ms;

struct LogOptions
{
    RconOptions rcon; // the password file, the console's time-out, the server
    std::optional<std::string> output;
    int logPort = 0;
    std::string logAddress;
    std::string stun{ velth::kDefaultStunServer };
    bool keepAlive = true;
    std::string logSecret;
    std::chrono::milliseconds checkLimit = kCheckLimit;
};

int parsePort(const std::string& text, const char* option)
{
    int port = -1;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), port);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || port < 0 || port > 65535)
        throw UsageError{ std::string(option) + " takes a port from 0 to 65535, not \"" + shown(text) + "\"" };
    return port;
}

LogOptions parseLogArguments(int argc, char** argv)
{
    LogOptions options;
    bool haveServer = false;
    for (int i = 2; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help")
            throw HelpRequest{};
        if (isPasswordOption(arg))
            throw UsageError{ "the rcon password is never taken from the command line, where other users of the "
                              "machine can read it: give --password-file FILE or set "
                + std::string(kPasswordVariable) };
        if (arg == "--no-keepalive") {
            options.keepAlive = false;
            continue;
        }
        const auto value = [&](std::string_view name) -> std::optional<std::string> {
            return arg.rfind(name, 0) == 0 ? optionValue(argc, argv, i, name) : std::nullopt;
        };
        if (auto v = value("--password-file")) {
            options.rcon.passwordFile = *v;
        } else if (auto t = value("--timeout")) {
            options.rcon.timeout = parseTimeout(*t);
        } else if (auto o = value("--output")) {
            options.output = *o;
        } else if (auto p = value("--log-port")) {
            options.logPort = parsePort(*p, "--log-port");
        } else if (auto a = value("--log-address")) {
            if (!velth::parseGameAddress(*a) || a->find(':') != std::string::npos)
                throw UsageError{ "--log-address takes a host name or IPv4 address, not \"" + shown(*a) + "\"" };
            options.logAddress = *a;
        } else if (auto st = value("--stun")) {
            if (!st->empty() && !velth::parseGameAddress(*st, velth::kDefaultStunPort))
                throw UsageError{ "--stun takes HOST or HOST:PORT (\"\": none), not \"" + shown(*st) + "\"" };
            options.stun = *st;
        } else if (auto sec = value("--log-secret")) {
            options.logSecret = *sec;
        } else if (auto c = value("--check")) {
            options.checkLimit = parseTimeout(*c);
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw UsageError{ "unknown option " + shown(arg) };
        } else if (haveServer) {
            throw UsageError{ "log takes one server, not also \"" + shown(arg) + "\"" };
        } else {
            options.rcon.server = parseAddress(std::string(arg));
            haveServer = true;
        }
    }
    if (!haveServer)
        throw UsageError{ "log needs a server" };
    return options;
}

// SIGINT and SIGTERM reach the event loop through a pipe.
int g_signalPipe[2] = { -1, -1 };

extern "C" void onStopSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(g_signalPipe[1], &byte, 1);
}

// Runs the event loop until `done` holds or `limit` passes; false on the limit.
// (A tool of its own: no window waits on it.)
bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit)
{
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (done() || clock.elapsed() >= limit.count())
            loop.quit();
    });
    poll.start(20);
    if (!done())
        loop.exec();
    return done();
}

// An address as it stands is taken without asking the name servers for its
// name (QHostInfo would, and wait for them); a name is looked up.
QHostInfo resolve(const std::string& host)
{
    const QHostAddress literal(QString::fromStdString(host));
    if (literal.isNull())
        return QHostInfo::fromName(QString::fromStdString(host));
    QHostInfo info;
    info.setAddresses({ literal });
    return info;
}

int runLog(int argc, char** argv)
{
    const LogOptions options = parseLogArguments(argc, argv);
    std::string password;
    try {
        password = rconPassword(options.rcon);
    } catch (const velth::Error& e) {
        return usageError(shown(e.message()));
    }
    const std::string serverText = velth::toString(options.rcon.server);
    const auto fail = [&](const std::string& message, int status) {
        std::cerr << "velth-server: " << shown(message) << '\n';
        return status;
    };

    FILE* out = stdout;
    if (options.output) {
        // Appended to: a second run never wipes what the first one received.
        out = std::fopen(options.output->c_str(), "ab");
        if (!out)
            return fail("Cannot open " + *options.output + ": " + std::strerror(errno), kExitNoAnswer);
    }
    const bool terminal = !options.output && ::isatty(STDOUT_FILENO);

    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return fail("Cannot set up the signal handling", kExitNoAnswer);
    bool stopAsked = false;
    QSocketNotifier stopNotifier(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&stopNotifier, &QSocketNotifier::activated, [&] {
        char byte = 0;
        while (::read(g_signalPipe[0], &byte, 1) > 0) { }
        stopAsked = true;
    });
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    // A reader that goes away (a closed pipe) is a failed write, which still
    // takes the address back, not a signal that ends the program at once.
    std::signal(SIGPIPE, SIG_IGN);

    QElapsedTimer sinceStart;
    sinceStart.start();
    const QHostInfo found = resolve(options.rcon.server.host);
    QList<QHostAddress> addresses = found.addresses();
    std::stable_partition(addresses.begin(), addresses.end(),
        [](const QHostAddress& a) { return a.protocol() == QAbstractSocket::IPv4Protocol; });
    if (found.error() != QHostInfo::NoError || addresses.isEmpty())
        return fail("Cannot find the host " + options.rcon.server.host, kExitNoAnswer);
    const QHostAddress server = addresses.first();
    const auto gamePort = static_cast<quint16>(options.rcon.server.port);

    velth::LogReceiver receiver;
    if (auto error = receiver.listen(static_cast<quint16>(options.logPort)))
        return fail(*error, kExitNoAnswer);
    receiver.setSource(server, gamePort);
    receiver.setSecret(options.logSecret);
    if (options.keepAlive)
        receiver.startKeepAlive();

    // Where the server is to send: --log-address; else the STUN server's view
    // of the receiver's socket; else this computer's address toward the server.
    std::string logHost;
    int logPort = receiver.port();
    QHostAddress ownAddress;
    std::string note;
    if (!options.logAddress.empty()) {
        logHost = options.logAddress;
        ownAddress = QHostAddress(QString::fromStdString(logHost));
    } else {
        if (!options.stun.empty() && velth::reachedThroughInternet(server)) {
            const auto stun = velth::parseGameAddress(options.stun, velth::kDefaultStunPort);
            const QHostInfo stunFound = resolve(stun->host);
            const QList<QHostAddress> stunAddresses = stunFound.addresses();
            const auto v4 = std::find_if(stunAddresses.begin(), stunAddresses.end(),
                [](const QHostAddress& a) { return a.protocol() == QAbstractSocket::IPv4Protocol; });
            if (stunFound.error() != QHostInfo::NoError || v4 == stunAddresses.end()) {
                note = "the STUN server " + options.stun + " was not found";
            } else {
                bool stunEnded = false;
                QObject::connect(&receiver, &velth::LogReceiver::stunDone, [&] { stunEnded = true; });
                receiver.findMappedAddress(*v4, static_cast<quint16>(stun->port));
                waitFor([&] { return stunEnded || stopAsked; }, 60s);
                if (stopAsked)
                    return kExitOk;
                if (receiver.mappedAddress()) {
                    ownAddress = receiver.mappedAddress()->address;
                    logHost = ownAddress.toString().toStdString();
                    logPort = receiver.mappedAddress()->port;
                } else {
                    note = "the STUN server " + options.stun + " did not answer";
                }
            }
            if (!note.empty())
                std::cerr << "velth-server: " << shown(note) << "; the server is given this computer's own address\n";
        }
        if (logHost.empty()) {
            const auto local = velth::localAddressToward(server, gamePort);
            if (!local)
                return fail("No route to the game server " + serverText, kExitNoAnswer);
            ownAddress = *local;
            logHost = local->toString().toStdString();
        }
    }
    const std::string target = logHost + " " + std::to_string(logPort);
    receiver.setOwnRequests(password, ownAddress);

    velth::RconClient rcon;
    rcon.setAddress({ server.toString().toStdString(), options.rcon.server.port });
    rcon.setPassword(password);
    rcon.setTimeout(options.rcon.timeout);
    std::optional<velth::RconResult> logOn;
    std::optional<velth::RconResult> added;
    rcon.execute("log on", [&](const velth::RconResult& r) { logOn = r; });
    rcon.execute("logaddress_add " + target, [&](const velth::RconResult& r) { added = r; });

    std::uint64_t written = 0;
    bool writeFailed = false;
    const auto writeLines = [&] {
        const velth::LogLineBatch batch = receiver.takeLines();
        for (std::size_t i = 0; i < batch.size(); ++i) {
            std::string line = terminal ? shown(batch[i]) : std::string(batch[i]);
            line += '\n';
            writeFailed = writeFailed || std::fwrite(line.data(), 1, line.size(), out) != line.size();
        }
        writeFailed = writeFailed || std::fflush(out) != 0;
        written += batch.size();
    };
    QObject::connect(&receiver, &velth::LogReceiver::linesReady, writeLines);

    // Takes the address back, waiting for the server's answer within the
    // console's time-out; the lines that came meanwhile are written.
    bool asked = false;
    const auto finish = [&](int status) {
        if (asked) {
            rcon.cancel();
            bool deleted = false;
            rcon.execute("logaddress_del " + target, [&](const velth::RconResult&) { deleted = true; });
            waitFor([&] { return deleted; }, options.rcon.timeout + 1s);
        }
        writeLines();
        const velth::LogReceiver::Counts& c = receiver.counts();
        const std::uint64_t refused = c.foreign + c.malformed + c.wrongSecret + c.tooLong;
        std::cerr << "velth-server: " << written << (written == 1 ? " line" : " lines") << " received";
        if (refused > 0)
            std::cerr << ", " << refused << (refused == 1 ? " datagram" : " datagrams") << " refused";
        if (c.overflow > 0)
            std::cerr << ", " << c.overflow << " lost in a flood";
        std::cerr << '\n';
        if (options.output)
            std::fclose(out);
        if (writeFailed)
            return fail("cannot write the log", kExitNoAnswer);
        return status;
    };

    waitFor([&] { return (logOn && !logOn->ok()) || added.has_value() || stopAsked; }, 24h);
    if (stopAsked && !added) {
        // logaddress_add may have gone out already: it is taken back.
        asked = true;
        return finish(kExitOk);
    }
    if (logOn && !logOn->ok())
        return finish(fail("the server did not take \"log on\": " + logOn->message, exitStatusOf(*logOn)));
    if (!added->ok())
        return finish(
            fail("the server did not take \"logaddress_add " + target + "\": " + added->message, exitStatusOf(*added)));
    asked = true;
    if (!velth::logAddressTaken(added->output)) {
        std::string answer = added->output;
        while (!answer.empty() && (answer.back() == '\n' || answer.back() == '\r'))
            answer.pop_back();
        return finish(fail("the server refused to send its log to " + target + ": " + answer, kExitNoAnswer));
    }

    // The server logs every console request: the check comes back over the
    // log when the log reaches this computer.
    const std::string check = "echo velth-log-check-" + std::to_string(::getpid()) + "-"
        + std::to_string(QDateTime::currentMSecsSinceEpoch());
    receiver.setCheckCommand(check);
    std::cerr << "velth-server: the server sends its log to " << shown(target) << "; waiting for it to arrive\n";
    QElapsedTimer sinceCheck;
    sinceCheck.start();
    QTimer repeat;
    const auto sendCheck = [&] {
        if (!rcon.isBusy())
            rcon.execute(check, [](const velth::RconResult&) {});
    };
    QObject::connect(&repeat, &QTimer::timeout, sendCheck);
    repeat.start(kCheckRepeat);
    sendCheck();
    waitFor([&] { return receiver.checkSeen() || stopAsked; }, options.checkLimit);
    repeat.stop();
    if (!receiver.checkSeen()) {
        if (stopAsked)
            return finish(kExitOk);
        if (receiver.counts().wrongSecret > 0)
            return finish(fail("the log of " + serverText
                    + " arrives, but signed with a log secret not given: give the server's sv_logsecret "
                      "as --log-secret",
                kExitLogNotArrived));
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(options.checkLimit).count();
        return finish(
            fail("the log of " + serverText + " does not reach this computer: the server took the address " + target
                    + ", but its log of our own console request did not come back within " + std::to_string(seconds)
                    + " seconds. Check the router (it must let the server's UDP datagrams in, or forward the log port "
                      "to this computer), the firewall of this computer, and --log-address"
                    + (note.empty() ? "" : " (" + note + ")") + ".",
                kExitLogNotArrived));
    }
    std::cerr << "velth-server: the log arrives (known " << sinceStart.elapsed() << " ms after the start)\n";
    waitFor([&] { return stopAsked || writeFailed; }, std::chrono::hours(24 * 365 * 100));
    return finish(writeFailed ? kExitNoAnswer : kExitOk);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::ios::sync_with_stdio(false);
    if (argc < 2)
        return usageError("which command: query, rcon or log?");
    const std::string_view command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        std::cout << kUsage;
        return kExitOk;
    }
    try {
        if (command == "query")
            return runQuery(argc, argv);
        if (command == "rcon")
            return runRcon(argc, argv);
        if (command == "exporter")
            return velth::servertool::runExporter(argc, argv);
        if (command == "log")
            return runLog(argc, argv);
        return usageError("unknown command " + shown(command));
    } catch (const HelpRequest&) {
        std::cout << kUsage;
        return kExitOk;
    } catch (const UsageError& e) {
        return usageError(e.problem);
    } catch (const velth::Error& e) {
        std::cerr << "velth-server: " << shown(e.message()) << '\n';
        return kExitNoAnswer;
    }
}
