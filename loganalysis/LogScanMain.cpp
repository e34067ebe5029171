// velth-logscan: scans one server log with the program's parser and prints the
// result as one JSON object (or only the counts with --stats); with --find, it
// finds a player in many logs.
#include "common/Error.h"
#include "common/TextCodec.h"
#include "loganalysis/LogParser.h"
#include "loganalysis/PlayerFinder.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstring>
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

// One JSON object: the appearances newest first, one a line, then the names
// of each Steam id found. A file that cannot be read is reported and passed
// over; the exit status then says so.
int find(const std::string& query, const std::vector<std::string>& files)
{
    velth::PlayerFinder finder(query);
    std::vector<velth::PlayerAppearance> found;
    std::vector<bool> readable(files.size(), true);
    int status = 0;
    auto each = [&](auto pass) {
        for (std::size_t i = 0; i < files.size(); ++i) {
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
    velth::sortNewestFirst(found);

    auto dump = [](const json& value) { return value.dump(-1, ' ', false, json::error_handler_t::replace); };
    std::cout << "{\"find\":" << dump(text(query)) << ",\"appearances\":[";
    bool first = true;
    for (const velth::PlayerAppearance& a : found) {
        json out = json::object();
        out["file"] = text(files[a.file]);
        out["line"] = a.line;
        out["time"] = text(a.time);
        out["name"] = text(a.name);
        out["steam_id"] = text(a.steamId);
        out["team"] = text(a.team);
        out["event"] = std::string(velth::eventName(a.event));
        out["detail"] = text(a.detail);
        std::cout << (first ? "\n" : ",\n") << dump(out);
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
