#include "net/GameServer.h"

#include "common/TextLines.h"

#include <algorithm>
#include <array>
#include <cctype>

// Reading a console command's outcome from what the engine printed for it.
// The texts are the engine's own (host_cmd.cpp, sv_main.cpp, cmd.cpp); each
// is matched at the start of a line, as the engine prints it.

namespace velth {
namespace {

std::string lower(std::string_view text)
{
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return out;
}

bool startsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

// The command's name (lower case) and its first argument.
std::pair<std::string, std::string_view> nameAndArgument(std::string_view line)
{
    line = trimmedBlanks(line);
    const std::size_t end = line.find_first_of(" \t");
    const std::string name = lower(line.substr(0, end));
    if (end == std::string_view::npos)
        return { name, {} };
    std::string_view rest = trimmedBlanks(line.substr(end));
    rest = rest.substr(0, rest.find_first_of(" \t"));
    return { name, rest };
}

// The first line of output that one of the failure texts starts.
std::optional<std::string_view> failureLine(std::string_view output, const std::vector<std::string>& failures)
{
    std::size_t start = 0;
    while (start < output.size()) {
        std::size_t end = output.find('\n', start);
        if (end == std::string_view::npos)
            end = output.size();
        const std::string_view line = trimmedBlanks(output.substr(start, end - start));
        start = end + 1;
        for (const std::string& failure : failures) {
            if (startsWith(line, failure))
                return line;
        }
    }
    return std::nullopt;
}

// How the engine answers success.
enum class Success {
    Anything, // whatever else it prints (a config's commands, a new level's messages)
    Silence, // nothing
    Writing, // "Writing <file>."
    Unreadable, // the same as a miss
};

struct Reading
{
    std::vector<std::string> failures;
    Success success = Success::Unreadable;
};

Reading readingOf(const std::string& name, std::string_view argument)
{
    const std::string arg(argument);
    if (name == "exec")
        return { { "couldn't exec " + arg, "exec " + arg + ": invalid path.",
                     "exec " + arg + ": not a .cfg or .rc file", "exec: not enough space for " + arg,
                     "exec <filename>" },
            Success::Anything };
    if (name == "changelevel")
        return { { "changelevel failed: ", "Only the server may changelevel", "changelevel <levelname>" },
            Success::Anything };
    if (name == "map")
        return { { "map change failed: ", "map <levelname>" }, Success::Anything };
    if (name == "kick")
        return { { "usage:  kick", "The local player cannot be kicked!" }, Success::Unreadable };
    if (name == "banid")
        return { { "SV_BanId_f:  ", "Insufficient arguments to banid", "Usage:  banid" }, Success::Silence };
    if (name == "addip")
        return { { "Invalid ban time!", "Invalid IP address!", "IP filter list is full", "Usage: addip" },
            Success::Silence };
    if (name == "writeid" || name == "writeip")
        return { { "Couldn't open " }, Success::Writing };
    if (name == "say")
        return { {}, Success::Silence };
    return {};
}

} // namespace

CommandOutcome commandOutcome(std::string_view commandLine, std::string_view output)
{
    const auto [name, argument] = nameAndArgument(commandLine);
    const Reading reading = readingOf(name, argument);
    if (const auto line = failureLine(output, reading.failures))
        return { CommandOutcome::Kind::Failed, std::string(*line) };
    const std::string_view printed = trimmedBlanks(output);
    switch (reading.success) {
    case Success::Anything:
        return { CommandOutcome::Kind::Done, std::string(printed) };
    case Success::Silence:
        if (printed.empty())
            return { CommandOutcome::Kind::Done, {} };
        break;
    case Success::Writing:
        if (startsWith(printed, "Writing ") && printed.find('\n') == std::string_view::npos)
            return { CommandOutcome::Kind::Done, std::string(printed) };
        break;
    case Success::Unreadable:
        break;
    }
    return { CommandOutcome::Kind::Unknown, std::string(printed) };
}

} // namespace velth
