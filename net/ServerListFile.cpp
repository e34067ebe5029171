#include "net/ServerListFile.h"

#include "common/Error.h"

#include <algorithm>

namespace velth {

namespace {

// Calls take(lineNumber, line) for every line that is neither blank nor a
// comment, without its line end.
template <typename Take>
void forEachLine(std::string_view text, Take take)
{
    int number = 0;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        const std::size_t first = line.find_first_not_of(" \t");
        if (first == std::string_view::npos || line[first] == '#')
            continue;
        take(number, line.substr(first));
    }
}

std::string lineError(int number, const std::string& problem)
{
    return "line " + std::to_string(number) + ": " + problem;
}

} // namespace

std::vector<GameAddress> readServerList(std::string_view text)
{
    std::vector<GameAddress> servers;
    forEachLine(text, [&](int number, std::string_view line) {
        const auto address = parseGameAddress(line);
        if (!address)
            throw Error(lineError(number, "not a server address (HOST, HOST:PORT, [IPV6] or [IPV6]:PORT)"));
        if (std::find(servers.begin(), servers.end(), *address) == servers.end())
            servers.push_back(*address);
    });
    return servers;
}

std::vector<std::pair<GameAddress, std::string>> readServerPasswords(std::string_view text)
{
    std::vector<std::pair<GameAddress, std::string>> passwords;
    forEachLine(text, [&](int number, std::string_view line) {
        const std::size_t blank = line.find_first_of(" \t");
        const std::size_t start = blank == std::string_view::npos ? blank : line.find_first_not_of(" \t", blank);
        if (start == std::string_view::npos)
            throw Error(lineError(number, "an address without a password"));
        const auto address = parseGameAddress(line.substr(0, blank));
        if (!address)
            throw Error(lineError(number, "not a server address (HOST, HOST:PORT, [IPV6] or [IPV6]:PORT)"));
        const bool known = std::any_of(
            passwords.begin(), passwords.end(), [&](const auto& entry) { return entry.first == *address; });
        if (known)
            throw Error(lineError(number, toString(*address) + " has a password on an earlier line already"));
        passwords.emplace_back(*address, std::string(line.substr(start)));
    });
    return passwords;
}

} // namespace velth
