#include "net/GameServer.h"

#include "common/Error.h"
#include "common/TextLines.h"

#include <algorithm>
#include <charconv>

// The parts of the game-server client that are plain functions over text:
// addresses, the console commands the program builds, and `status`.

namespace velth {

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool allDigits(std::string_view text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), isDigit);
}

// A decimal number of at most maxDigits digits, optionally negative.
std::optional<int> toInt(std::string_view text, std::size_t maxDigits = 9)
{
    const bool negative = !text.empty() && text.front() == '-';
    const std::string_view digits = negative ? text.substr(1) : text;
    if (!allDigits(digits) || digits.size() > maxDigits)
        return std::nullopt;
    int value = 0;
    std::from_chars(digits.data(), digits.data() + digits.size(), value);
    return negative ? -value : value;
}

std::vector<std::string_view> splitWords(std::string_view text)
{
    std::vector<std::string_view> words;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && text[i] == ' ')
            ++i;
        const std::size_t start = i;
        while (i < text.size() && text[i] != ' ')
            ++i;
        if (i > start)
            words.push_back(text.substr(start, i - start));
    }
    return words;
}

void requireArgument(std::string_view text)
{
    if (auto problem = consoleArgumentProblem(text))
        throw Error(*problem);
}

std::string minutesText(int minutes)
{
    if (minutes < 0)
        throw Error("A ban's time cannot be negative (0 bans for good).");
    return std::to_string(minutes);
}

// "a.b.c.d", each part 0..255 in at most three digits.
bool isIpv4(std::string_view text)
{
    int parts = 0;
    std::size_t i = 0;
    while (true) {
        const std::size_t dot = text.find('.', i);
        const std::string_view part = text.substr(i, dot == std::string_view::npos ? std::string_view::npos : dot - i);
        const auto value = toInt(part, 3);
        if (!value || *value > 255 || part.front() == '-')
            return false;
        ++parts;
        if (dot == std::string_view::npos)
            break;
        i = dot + 1;
    }
    return parts == 4;
}

} // namespace

std::string toString(const GameAddress& address)
{
    const bool v6 = address.host.find(':') != std::string::npos;
    return (v6 ? "[" + address.host + "]" : address.host) + ":" + std::to_string(address.port);
}

std::optional<GameAddress> parseGameAddress(std::string_view text, int defaultPort)
{
    text = trimmedBlanks(text);
    GameAddress address;
    address.port = defaultPort;
    std::string_view portText;
    bool hasPort = false;
    if (!text.empty() && text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string_view::npos)
            return std::nullopt;
        address.host = std::string(text.substr(1, close - 1));
        const std::string_view rest = text.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':')
                return std::nullopt;
            portText = rest.substr(1);
            hasPort = true;
        }
    } else {
        const std::size_t colon = text.find(':');
        if (colon != std::string_view::npos && text.find(':', colon + 1) != std::string_view::npos) {
            address.host = std::string(text); // a bare IPv6 address, no port
        } else if (colon != std::string_view::npos) {
            address.host = std::string(text.substr(0, colon));
            portText = text.substr(colon + 1);
            hasPort = true;
        } else {
            address.host = std::string(text);
        }
    }
    if (address.host.empty())
        return std::nullopt;
    for (const char c : address.host) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= ' ' || byte == 0x7f || c == '/' || c == '[' || c == ']' || c == '"' || c == ';')
            return std::nullopt;
    }
    if (hasPort) {
        const auto port = toInt(portText, 5);
        if (!port || portText.front() == '-')
            return std::nullopt;
        address.port = *port;
    }
    if (address.port < 1 || address.port > 65535)
        return std::nullopt;
    return address;
}

// --- console commands ---------------------------------------------------------

std::optional<std::string> consoleArgumentProblem(std::string_view text)
{
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"')
            return std::string("The text holds a double quote (\"), which would end the console command's argument. "
                               "Remove it and try again.");
        if (c == ';')
            return std::string("The text holds a semicolon (;), which would start another console command. "
                               "Remove it and try again.");
        if (c == '\r' || c == '\n')
            return std::string("The text holds a line break, which would start another console command. "
                               "Remove it and try again.");
        if (c == '\0')
            return std::string("The text holds a zero byte, which would cut the console command short. "
                               "Remove it and try again.");
        if (byte < 0x20 || byte == 0x7f)
            return "The text holds a control character (code " + std::to_string(byte)
                + "), which the server's console cannot take. Remove it and try again.";
    }
    return std::nullopt;
}

std::string kickCommand(int userId, std::string_view reason)
{
    if (userId <= 0)
        throw Error("Cannot kick: " + std::to_string(userId) + " is not a user id.");
    requireArgument(reason);
    std::string command = "kick #" + std::to_string(userId);
    const std::string_view why = trimmedBlanks(reason);
    if (!why.empty())
        command += " " + std::string(why);
    return command;
}

std::vector<std::string> banSteamIdCommands(std::string_view steamId, int minutes)
{
    requireArgument(steamId);
    // STEAM_X:Y:Z with X the universe (0..5), Y 0 or 1, Z the account number.
    const std::string_view prefix = "STEAM_";
    bool valid = steamId.substr(0, prefix.size()) == prefix;
    if (valid) {
        const std::string_view rest = steamId.substr(prefix.size());
        const std::size_t first = rest.find(':');
        const std::size_t second = first == std::string_view::npos ? first : rest.find(':', first + 1);
        valid = second != std::string_view::npos && rest.substr(0, first).size() == 1 && rest[0] >= '0'
            && rest[0] <= '5' && second == first + 2 && (rest[first + 1] == '0' || rest[first + 1] == '1')
            && allDigits(rest.substr(second + 1)) && rest.size() - second - 1 <= 10;
    }
    if (!valid)
        throw Error("Cannot ban \"" + std::string(steamId)
            + "\": it is not a Steam id of the form STEAM_0:1:12345 (bots and LAN players have none; "
              "ban them by address).");
    return { "banid " + minutesText(minutes) + " " + std::string(steamId) + " kick", "writeid" };
}

std::vector<std::string> banAddressCommands(std::string_view address, int minutes)
{
    requireArgument(address);
    // The address as `status` shows it may carry the player's port; the ban is by address.
    std::string_view ip = address;
    if (const std::size_t colon = ip.find(':'); colon != std::string_view::npos) {
        const auto port = toInt(ip.substr(colon + 1), 5);
        if (!port || *port < 1 || *port > 65535 || ip[colon + 1] == '-')
            ip = {};
        else
            ip = ip.substr(0, colon);
    }
    if (!isIpv4(ip))
        throw Error("Cannot ban \"" + std::string(address)
            + "\": it is not an IPv4 address of the form 1.2.3.4 (the server bans only those).");
    return { "addip " + minutesText(minutes) + " " + std::string(ip), "writeip" };
}

std::string changeLevelCommand(std::string_view map)
{
    requireArgument(map);
    constexpr std::size_t kMaxMapName = 64;
    const bool valid = !map.empty() && map.size() <= kMaxMapName && map.front() != '.' && map.front() != '-'
        && std::all_of(map.begin(), map.end(), [](char c) {
               return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || isDigit(c) || c == '_' || c == '-'
                   || c == '.';
           });
    if (!valid)
        throw Error("Cannot change to the map \"" + std::string(map)
            + "\": a map name holds only letters, digits, _ - and . (at most 64 of them).");
    return "changelevel " + std::string(map);
}

std::string sayCommand(std::string_view message)
{
    requireArgument(message);
    const std::string_view text = trimmedBlanks(message);
    if (text.empty())
        throw Error("There is no message to say.");
    return "say " + std::string(text);
}

std::string execConfigCommand()
{
    return "exec server.cfg";
}

// --- status -----------------------------------------------------------------

namespace {

constexpr std::size_t kMaxStatusPlayers = 256;

// "12:34" or "1:02:03".
std::optional<int> parseDuration(std::string_view text)
{
    int total = 0;
    int fields = 0;
    std::size_t i = 0;
    while (true) {
        const std::size_t colon = text.find(':', i);
        const std::string_view field = text.substr(i, colon == std::string_view::npos ? colon : colon - i);
        const auto value = toInt(field, fields == 0 ? 6 : 2);
        if (!value || *value < 0 || (fields > 0 && *value > 59))
            return std::nullopt;
        total = total * 60 + *value;
        ++fields;
        if (colon == std::string_view::npos)
            break;
        i = colon + 1;
    }
    if (fields < 2 || fields > 3)
        return std::nullopt;
    return total;
}

// `#%2i %8s %i %s`, frags (or an HLTV proxy's "hltv:S/N delay:D"), time,
// ping, loss and, for players on IP, the address. The name is quoted and may
// itself hold quotes and spaces, so the row is read from its end.
std::optional<StatusPlayer> parseStatusRow(std::string_view line)
{
    if (line.empty() || line.front() != '#')
        return std::nullopt;
    std::size_t i = 1;
    while (i < line.size() && line[i] == ' ')
        ++i;
    const std::size_t slotStart = i;
    while (i < line.size() && isDigit(line[i]))
        ++i;
    const auto slot = toInt(line.substr(slotStart, i - slotStart), 3);
    if (!slot || i >= line.size() || line[i] != ' ')
        return std::nullopt;
    const std::string_view rest = line.substr(i);
    const std::size_t open = rest.find('"');
    const std::size_t close = rest.rfind('"');
    if (open == std::string_view::npos || close == open || trimmedBlanks(rest.substr(0, open)).size() != 0)
        return std::nullopt;

    StatusPlayer player;
    player.slot = *slot;
    player.name = std::string(rest.substr(open + 1, close - open - 1));
    std::vector<std::string_view> words = splitWords(rest.substr(close + 1));
    if (words.size() < 6)
        return std::nullopt;
    std::size_t end = words.size();
    // The address: "ip:port" (or "loopback"); bots have none.
    if (words[end - 1].find_first_of(":.") != std::string_view::npos || !toInt(words[end - 1])) {
        player.address = std::string(words[end - 1]);
        --end;
    }
    if (end < 6)
        return std::nullopt;
    const auto loss = toInt(words[end - 1]);
    const auto ping = toInt(words[end - 2]);
    const auto seconds = parseDuration(words[end - 3]);
    if (!loss || !ping || !seconds)
        return std::nullopt;
    player.loss = *loss;
    player.ping = *ping;
    player.seconds = *seconds;
    end -= 3;
    if (end >= 4 && words[end - 1].substr(0, 6) == "delay:" && words[end - 2].substr(0, 5) == "hltv:") {
        end -= 2;
    } else {
        const auto frags = toInt(words[end - 1]);
        if (!frags)
            return std::nullopt;
        player.frags = *frags;
        --end;
    }
    if (end != 2)
        return std::nullopt;
    const auto userId = toInt(words[0]);
    if (!userId || *userId < 0)
        return std::nullopt;
    player.userId = *userId;
    player.uniqueId = std::string(words[1]);
    return player;
}

// "hostname:  text" → "text"; nothing when the line is not that field.
std::optional<std::string_view> statusField(std::string_view line, std::string_view label)
{
    if (line.substr(0, label.size()) != label)
        return std::nullopt;
    std::string_view rest = trimmedBlanks(line.substr(label.size()));
    if (rest.empty() || rest.front() != ':')
        return std::nullopt;
    return trimmedBlanks(rest.substr(1));
}

} // namespace

StatusReport parseStatus(std::string_view output)
{
    StatusReport report;
    std::size_t start = 0;
    while (start < output.size()) {
        std::size_t end = output.find('\n', start);
        if (end == std::string_view::npos)
            end = output.size();
        const std::string_view line = output.substr(start, end - start);
        start = end + 1;
        const std::string_view text = trimmedBlanks(line);

        if (auto value = statusField(line, "hostname")) {
            report.hostname = std::string(*value);
        } else if (auto version = statusField(line, "version")) {
            report.version = std::string(*version);
        } else if (auto address = statusField(line, "tcp/ip")) {
            report.address = std::string(*address);
        } else if (auto map = statusField(line, "map")) {
            const std::size_t at = map->find(" at: ");
            report.map = std::string(trimmedBlanks(map->substr(0, at)));
        } else if (auto players = statusField(line, "players")) {
            // "3 active (16 max)"
            const std::vector<std::string_view> words = splitWords(*players);
            if (words.size() >= 3 && words[1] == "active" && words[2].size() > 1 && words[2].front() == '(') {
                report.activePlayers = std::max(0, toInt(words[0]).value_or(0));
                report.maxPlayers = std::max(0, toInt(words[2].substr(1)).value_or(0));
            }
        } else if (!text.empty() && text.front() == '#' && report.players.size() < kMaxStatusPlayers) {
            if (auto player = parseStatusRow(text))
                report.players.push_back(std::move(*player));
        }
    }
    return report;
}

} // namespace velth
