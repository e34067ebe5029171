#include "ReferenceParser.h"

namespace velth::test {
namespace {

using std::string;

string dropThrough(const string& s, char c)
{
    const auto pos = s.find(c);
    return pos == string::npos ? s : s.substr(pos + 1);
}

string takeBefore(const string& s, char c)
{
    const auto pos = s.find(c);
    return pos == string::npos ? string() : s.substr(0, pos);
}

string field(string line, int k)
{
    for (int i = 0; i < k; ++i)
        line = dropThrough(line, '"');
    return takeBefore(line, '"');
}

string name(const string& line, int k)
{
    string f = field(line, k);
    int removed = 0;
    while (!f.empty() && removed < 3) {
        if (f.back() == '<')
            ++removed;
        f.pop_back();
    }
    return removed == 3 ? f : string();
}

string team(const string& line, int k)
{
    string f = field(line, k);
    if (f.empty())
        return {};
    f.pop_back();
    const auto lt = f.rfind('<');
    return lt == string::npos ? string() : f.substr(lt + 1);
}

string wonId(const string& line, int k)
{
    string f = field(line, k);
    while (!f.empty() && f.back() != '<')
        f.pop_back();
    if (f.size() < 2)
        return {};
    f.pop_back();
    f.pop_back();
    const auto lt = f.rfind('<');
    return lt == string::npos ? string() : f.substr(lt + 1);
}

void chat(string& line, const string& pattern, ChatLog& to, ChatColor color)
{
    const auto at = line.find(pattern);
    if (at == string::npos)
        return;
    const string n = name(line, 1);
    line = line.substr(at + pattern.size() - 1);
    to.add(n + ": " + line, color);
}

void kill(std::vector<TeamRow>& rows, const string& n, const string& id, bool teamKill)
{
    for (TeamRow& row : rows) {
        if (row.wonId == id) {
            row.name = n;
            row.tks += teamKill ? 1 : 0;
            return;
        }
    }
    rows.push_back({ n, id, teamKill ? 1 : 0 });
}

} // namespace

ScanResult referenceParse(const std::vector<std::string>& lines)
{
    ScanResult r;
    if (lines.empty())
        return r;
    r.time = lines[0].substr(std::min<std::size_t>(2, lines[0].size())).substr(0, 21);
    for (std::size_t i = 1; i < lines.size(); ++i) {
        string line = lines[i];
        if (line.compare(std::min<std::size_t>(25, line.size()), 12, "Server say \"") == 0 && line.size() > 25) {
            line = line.substr(36);
            r.publicChat.add("Server: " + line, ChatColor::Red);
        }
        if (line.find(">\" say \"") != string::npos)
            chat(
                line, ">\" say \"", r.publicChat, line.find("<CT>") != string::npos ? ChatColor::Blue : ChatColor::Red);
        chat(line, "<CT>\" say_team \"", r.ctChat, ChatColor::Blue);
        chat(line, "<TERRORIST>\" say_team \"", r.tChat, ChatColor::Red);
        if (line.find("Loading map \"") != string::npos) {
            line = takeBefore(dropThrough(line, '"'), '"');
            r.map = line;
        }
        if (line.find("Server cvar \"") != string::npos && line.find("public_slots_free") == string::npos
            && line.find("sv_restartround") == string::npos) {
            const string n = field(line, 1);
            line = field(line, 3);
            r.cvars.emplace_back(n, line);
        }
        if (const auto at = line.find("_Win\""); at != string::npos) {
            line = dropThrough(dropThrough(line.substr(at + 1), '"'), '"');
            r.ctWins = takeBefore(line, '"');
            line = dropThrough(dropThrough(line, '"'), '"');
            r.tWins = takeBefore(line, '"');
        }
        if (line.find("\" killed \"") != string::npos) {
            const string killer = team(line, 1);
            const bool teamKill = killer == team(line, 3);
            if (killer == "CT")
                kill(r.ctRows, name(line, 1), wonId(line, 1), teamKill);
            else if (killer == "TERRORIST")
                kill(r.tRows, name(line, 1), wonId(line, 1), teamKill);
        }
    }
    return r;
}

} // namespace velth::test
