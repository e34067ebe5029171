// velth-logscan: scans one server log with the program's parser and prints the
// result as one JSON object (or only the counts with --stats); with --find, it
// finds a player in many logs.
#include "common/Error.h"
#include "common/TextCodec.h"
#include "loganalysis/LogParser.h"
#include "loganalysis/PlayerFinder.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

namespace {

using nlohmann::json;

// Texts are shown by the program's display rule: UTF-8 where the text is
// valid UTF-8, Windows-1252 otherwise.
json text(std::string_view bytes)
{
    const QByteArray utf8 = velth::toDisplay(bytes).toUtf8();
    return std::string(utf8.constData(), static_cast<std::size_t>(utf8.size()));
}

// A text as a JSON string, by the display rule, escaped as the library
// escapes (no ASCII escapes beyond the quote, the backslash and the control
// characters): the same bytes as dumping text(bytes).
void appendJsonText(std::string& out, std::string_view bytes)
{
    std::string decoded;
    const bool ascii = std::all_of(bytes.begin(), bytes.end(), [](char c) { return (c & 0x80) == 0; });
    if (!ascii) {
        const QByteArray utf8 = velth::toDisplay(bytes).toUtf8();
        decoded.assign(utf8.constData(), static_cast<std::size_t>(utf8.size()));
        bytes = decoded;
    }
    out += '"';
    for (const char c : bytes) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                static constexpr char kHex[] = "0123456789abcdef";
                out += "\\u00";
                out += kHex[(c >> 4) & 0xF];
                out += kHex[c & 0xF];
            } else {
                out += c;
            }
        }
    }
    out += '"';
}

json optionalText(const std::optional<std::string>& bytes)
{
    return bytes ? text(*bytes) : json(nullptr);
}

// The members are written one element at a time, so a large log never needs
// its whole JSON document in memory.
class Writer
{
public:
    explicit Writer(std::ostream& out)
        : m_out(out)
    { }

    void member(const char* name, const json& value)
    {
        key(name);
        m_out << value.dump(-1, ' ', false, json::error_handler_t::replace);
    }

    template <typename List, typename ToJson>
    void array(const char* name, const List& list, ToJson toJson)
    {
        key(name);
        m_out << '[';
        bool first = true;
        for (const auto& element : list) {
            if (!first)
                m_out << ',';
            first = false;
            m_out << toJson(element).dump(-1, ' ', false, json::error_handler_t::replace);
        }
        m_out << ']';
    }

    void end() { m_out << (m_members ? "}\n" : "{}\n"); }

private:
    void key(const char* name) { m_out << (m_members++ ? "," : "{") << json(name).dump() << ':'; }

    std::ostream& m_out;
    int m_members = 0;
};

json chatEntry(velth::ChatEntry entry)
{
    json out = json::object();
    out["text"] = text(entry.text);
    out["color"] = entry.color == velth::ChatColor::Blue ? "blue" : "red";
    return out;
}

json teamRow(const velth::TeamRow& row)
{
    json out = json::object();
    out["name"] = text(row.name);
    out["wonid"] = text(row.wonId);
    out["tks"] = row.tks;
    return out;
}

void printResult(const velth::ScanResult& r)
{
    Writer w(std::cout);
    w.member("time", text(r.time));
    w.member("map", optionalText(r.map));
    w.array("public_chat", r.publicChat, chatEntry);
    w.array("t_chat", r.tChat, chatEntry);
    w.array("ct_chat", r.ctChat, chatEntry);
    w.array("cvars", r.cvars, [](const auto& pair) { return json::array({ text(pair.first), text(pair.second) }); });
    w.array("ct_rows", r.ctRows, teamRow);
    w.array("t_rows", r.tRows, teamRow);
    w.member("ct_wins", optionalText(r.ctWins));
    w.member("t_wins", optionalText(r.tWins));
    w.end();
}

// Arrays give their length; a text gives 1, a null 0; the time counts once
// the file had a first line.
void printStats(const velth::ScanResult& r, std::size_t lines)
{
    Writer w(std::cout);
    w.member("time", lines > 0 ? 1 : 0);
    w.member("map", r.map ? 1 : 0);
    w.member("public_chat", r.publicChat.size());
    w.member("t_chat", r.tChat.size());
    w.member("ct_chat", r.ctChat.size());
    w.member("cvars", r.cvars.size());
    w.member("ct_rows", r.ctRows.size());
    w.member("t_rows", r.tRows.size());
    w.member("ct_wins", r.ctWins ? 1 : 0);
    w.member("t_wins", r.tWins ? 1 : 0);
    w.end();
}

// The order of the search: the newest log first (by modification time, then
// the later name), so that the appearances kept at the limit are the newest.
// A file that cannot be looked at keeps its place at the end, where reading
// it reports the error.
std::vector<std::size_t> newestFirst(const std::vector<std::string>& files)
{
    std::vector<std::pair<std::filesystem::file_time_type, std::size_t>> times;
    std::vector<std::size_t> order;
    for (std::size_t i = 0; i < files.size(); ++i) {
        std::error_code error;
        const auto modified = std::filesystem::last_write_time(files[i], error);
        if (error)
            order.push_back(i);
        else
            times.emplace_back(modified, i);
    }
    std::stable_sort(times.begin(), times.end(), [&](const auto& a, const auto& b) {
        return a.first != b.first ? a.first > b.first : files[a.second] > files[b.second];
    });
    std::vector<std::size_t> sorted;
    for (const auto& time : times)
        sorted.push_back(time.second);
    sorted.insert(sorted.end(), order.begin(), order.end());
    return sorted;
}

// One JSON object: the appearances newest first, one a line, then the names
// of each Steam id found. A file that cannot be read is reported and passed
// over; the exit status then says so.
int find(const std::string& query, const std::vector<std::string>& files)
{
    velth::PlayerFinder finder(query);
    std::vector<velth::PlayerAppearance> found;
    // Room for every row kept: only what is used is ever touched, and no row
    // moves as the list grows.
    found.reserve(velth::PlayerFinder::kDefaultMaxAppearances);
    std::vector<bool> readable(files.size(), true);
    const std::vector<std::size_t> order = newestFirst(files);
    int status = 0;
    auto each = [&](auto pass) {
        for (const std::size_t i : order) {
            if (!readable[i])
                continue;
            try {
                if (!pass(i))
                    return;
            } catch (const velth::Error& e) {
                std::cerr << "velth-logscan: " << e.what() << '\n';
                readable[i] = false;
                status = 1;
            }
        }
    };
    each([&](std::size_t i) { return finder.searchFile(files[i], i, found); });
    if (finder.needsNamePass())
        each([&](std::size_t i) { return finder.collectNames(files[i]); });

    auto dump = [](const json& value) { return value.dump(-1, ' ', false, json::error_handler_t::replace); };
    std::cout << "{\"find\":" << dump(text(query)) << ",\"appearances\":[";
    // Written as the library writes an object (its keys in order), a row
    // at a time into one buffer.
    std::string row;
    bool first = true;
    for (const std::size_t i : velth::newestFirstOrder(found)) {
        const velth::PlayerAppearance& a = found[i];
        row.assign(first ? "\n" : ",\n");
        row += "{\"detail\":";
        appendJsonText(row, a.detail);
        row += ",\"event\":\"";
        row += velth::eventName(a.event);
        row += "\",\"file\":";
        appendJsonText(row, files[a.file]);
        row += ",\"line\":";
        row += std::to_string(a.line);
        row += ",\"name\":";
        appendJsonText(row, a.name);
        row += ",\"steam_id\":";
        appendJsonText(row, a.steamId);
        row += ",\"team\":";
        appendJsonText(row, a.team);
        row += ",\"time\":";
        appendJsonText(row, a.time);
        row += '}';
        std::cout.write(row.data(), static_cast<std::streamsize>(row.size()));
        first = false;
    }
    std::cout << "],\n\"other_names\":[";
    first = true;
    for (const velth::PlayerNames& id : finder.otherNames()) {
        json names = json::array();
        for (const std::string& name : id.names)
            names.push_back(text(name));
        json out = json::object();
        out["steam_id"] = text(id.steamId);
        out["names"] = names;
        std::cout << (first ? "" : ",") << dump(out);
        first = false;
    }
    std::cout << "],\"truncated\":" << (finder.truncated() || finder.idsTruncated() ? "true" : "false") << "}\n";
    if (finder.truncated())
        std::cerr << "velth-logscan: more than " << velth::PlayerFinder::kDefaultMaxAppearances
                  << " appearances; the rest were not searched\n";
    return status;
}

int usage()
{
    std::cerr << "usage: velth-logscan [--stats] FILE\n"
                 "       velth-logscan --find TEXT FILE...\n"
                 "Scans a Counter-Strike server log and prints the result as JSON, or finds a\n"
                 "player (a part of the name in any case, or the Steam id) in many logs.\n";
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 2 && std::strcmp(argv[1], "--find") == 0) {
        if (argc < 4 || argv[2][0] == '\0')
            return usage();
        std::ios::sync_with_stdio(false);
        const int status = find(argv[2], std::vector<std::string>(argv + 3, argv + argc));
        std::cout.flush();
        if (!std::cout) {
            std::cerr << "velth-logscan: cannot write the result\n";
            return 1;
        }
        return status;
    }
    bool stats = false;
    const char* file = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--stats") == 0 && !stats && !file)
            stats = true;
        else if (std::strcmp(argv[i], "--help") == 0)
            return usage();
        else if (!file)
            file = argv[i];
        else
            return usage();
    }
    if (!file)
        return usage();
    std::ios::sync_with_stdio(false);
    velth::LogParser parser;
    try {
        velth::scanLogFile(file, parser);
    } catch (const velth::Error& e) {
        std::cerr << "velth-logscan: " << e.what() << '\n';
        return 1;
    }
    if (stats)
        printStats(parser.result(), parser.lineCount());
    else
        printResult(parser.result());
    std::cout.flush();
    if (!std::cout) {
        std::cerr << "velth-logscan: cannot write the result\n";
        return 1;
    }
    return 0;
}
