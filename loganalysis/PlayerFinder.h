#pragma once

#include "loganalysis/LogParser.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace velth {

// What a player did on one log line.
enum class PlayerEvent {
    Said, // public chat
    SaidToTeam,
    Killed,
    TeamKilled, // killed a player of the own team
    WasKilled,
    WasTeamKilled, // killed by a player of the own team
    Connected,
    Entered, // entered the game
    JoinedTeam,
    Disconnected,
    ChangedName,
};

// The event's name for scripts: "said", "said_team", "killed", "team_killed",
// "was_killed", "was_team_killed", "connected", "entered", "joined_team",
// "disconnected", "changed_name".
std::string_view eventName(PlayerEvent event);

// One appearance of a searched player. All texts are the log's own bytes.
struct PlayerAppearance
{
    std::size_t file = 0; // index of the log among those searched
    std::uint64_t line = 0; // 1-based, counted as LogFileReader splits lines
    std::string time; // "MM/DD/YYYY - hh:mm:ss" of the line's prefix; empty without one
    std::string name; // the player field's name, read as GetPlayerName reads it
    std::string steamId; // as GetPlayerWonID reads it
    std::string team; // as GetPlayerTeam reads it
    PlayerEvent event = PlayerEvent::Said;
    // The message (with its quotes and what follows it on the line, as the
    // chat shows it), the other player's name (kills), the new name or the
    // team joined.
    std::string detail;

    bool operator==(const PlayerAppearance&) const = default;
};

// The names one Steam id used, in the order they were first seen.
struct PlayerNames
{
    std::string steamId;
    std::vector<std::string> names;

    bool operator==(const PlayerNames&) const = default;
};

// A number that orders log times: YYYYMMDDhhmmss from "MM/DD/YYYY - hh:mm:ss",
// 0 for a time of another shape.
std::uint64_t timeKey(std::string_view time);

// Sorts newest first: by log time, then by log (the later index first), then
// by line (the later first). Appearances without a time come last.
void sortNewestFirst(std::vector<PlayerAppearance>& appearances);
// The same order as indexes into `appearances`, which stay where they are.
std::vector<std::size_t> newestFirstOrder(const std::vector<PlayerAppearance>& appearances);

// True for an id that names one player (STEAM_x:y:z, VALVE_x:y:z of digits,
// a WonID other than 0); false for what a malformed field gives, and for the
// ids many players share (BOT, STEAM_ID_PENDING, STEAM_ID_LAN, HLTV, empty,
// 0), whose names say nothing about one person.
bool isPersonalId(std::string_view steamId);

// Finds a player in logs, by a part of the name in any case (ASCII letters
// fold) or by the Steam id in any case. Only lines that hold the searched text
// somewhere are read further, so a search costs little more than reading the
// files; those lines are read with the parser's player-field rules, so names,
// ids and teams are what the Chat parser page shows.
//
// A search runs in two passes. searchFile() finds the appearances and the
// Steam ids of the players found. Those ids may have played under names that
// hold nothing of the searched text: collectNames() then goes over the logs
// again for lines that hold one of these ids (only when needed: see
// needsNamePass()), so otherNames() lists every name each id used in the logs,
// also across reconnects and name changes.
//
// Memory is bounded for any input: lines are cut at
// LogFileReader::kMaxLineLength as the parser reads them, the file is read in
// blocks of 1 MiB, at most `maxAppearances` appearances are kept (then
// truncated() is true and the search ends), at most kMaxIds Steam ids and
// kMaxNames names per id.
class PlayerFinder
{
public:
    static constexpr std::size_t kDefaultMaxAppearances = 100000;
    static constexpr std::size_t kMaxIds = 64;
    static constexpr std::size_t kMaxNames = 256;

    explicit PlayerFinder(std::string text, std::size_t maxAppearances = kDefaultMaxAppearances,
        std::size_t maxLineLength = LogFileReader::kMaxLineLength);
    ~PlayerFinder();
    PlayerFinder(const PlayerFinder&) = delete;
    PlayerFinder& operator=(const PlayerFinder&) = delete;

    // Bytes read so far in the running pass (for progress), called after
    // each block of the file.
    using Progress = std::function<void(std::uint64_t bytesRead)>;

    // First pass over one log: appends its appearances to `out` in file
    // order. Returns false when `cancel` was set (checked after each block)
    // or the appearance limit was reached. Throws velth::Error naming the
    // file when it cannot be opened or read; what was found before stays.
    bool searchFile(const std::string& path, std::size_t fileIndex, std::vector<PlayerAppearance>& out,
        const std::atomic<bool>* cancel = nullptr, const Progress& progress = {});
    // Whether a second pass can find names the first could not: some Steam id
    // found is not the searched text itself.
    bool needsNamePass() const;
    // Second pass over one log (after every file had its first pass). False
    // when cancelled.
    bool collectNames(
        const std::string& path, const std::atomic<bool>* cancel = nullptr, const Progress& progress = {});

    // Every personal Steam id of the players found, in the order found, with
    // the names it used (the ones the appearances show among them).
    std::vector<PlayerNames> otherNames() const;
    // The appearance limit was reached: later appearances were not kept.
    bool truncated() const { return m_truncated; }
    // Steam ids beyond kMaxIds were found: their names are not listed.
    bool idsTruncated() const { return m_idsTruncated; }
    const std::string& text() const { return m_text; }

private:
    struct IdNames
    {
        std::vector<std::string> names;
    };

    // One line of the first pass (cut to the longest line kept).
    void firstPassLine(
        std::string_view line, std::uint64_t number, std::size_t fileIndex, std::vector<PlayerAppearance>& out);
    // The player fields a second pass already took (their names are noted
    // or say nothing): the same field text gives the same name and id.
    struct SeenFields;
    void secondPassLine(std::string_view line, SeenFields& seen);
    // Records a name for an id already known (or, with `add`, for a new one).
    void noteName(std::string_view steamId, std::string_view name, bool add);

    std::string m_text;
    std::string m_folded; // ASCII letters in lower case
    std::size_t m_maxAppearances;
    std::size_t m_maxLine;
    std::size_t m_found = 0;
    bool m_truncated = false;
    bool m_idsTruncated = false;
    std::vector<std::string> m_idOrder;
    std::map<std::string, IdNames, std::less<>> m_ids;
};

} // namespace velth
