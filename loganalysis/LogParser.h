#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velth {

// The colour a chat line is shown in. The views map it to RGB (255, 0, 0) and
// (0, 0, 255); the parser only tells which.
enum class ChatColor { Red, Blue };

// One chat line: "<name>: <message from its opening quote to the line end>".
// The text is a view into the ChatLog that holds it.
struct ChatEntry
{
    std::string_view text;
    ChatColor color = ChatColor::Red;

    bool operator==(const ChatEntry&) const = default;
};

// The lines of one chat in file order. The texts live in large blocks, so a
// chat line costs no allocation of its own.
class ChatLog
{
public:
    ChatLog() = default;
    ChatLog(const ChatLog& other);
    ChatLog& operator=(const ChatLog& other);
    ChatLog(ChatLog&& other) noexcept;
    ChatLog& operator=(ChatLog&& other) noexcept;

    // Appends name + ": " + message.
    void add(std::string_view name, std::string_view message, ChatColor color);
    // Appends a whole line.
    void add(std::string_view text, ChatColor color);

    std::size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    ChatEntry operator[](std::size_t i) const
    {
        const Line& line = m_lineChunks[i / kLinesPerChunk].as<Line>()[i % kLinesPerChunk];
        return { { line.data, line.size }, line.color };
    }
    std::vector<ChatEntry> entries() const;

    class const_iterator
    {
    public:
        ChatEntry operator*() const { return (*m_log)[m_index]; }
        const_iterator& operator++()
        {
            ++m_index;
            return *this;
        }
        bool operator==(const const_iterator&) const = default;

    private:
        friend class ChatLog;
        const_iterator(const ChatLog* log, std::size_t index)
            : m_log(log)
            , m_index(index)
        { }
        const ChatLog* m_log;
        std::size_t m_index;
    };
    const_iterator begin() const { return { this, 0 }; }
    const_iterator end() const { return { this, m_size }; }

    bool operator==(const ChatLog& other) const;

private:
    // Memory taken from the system in one piece, its pages mapped at once
    // (one call instead of a page fault per page).
    class Block
    {
    public:
        explicit Block(std::size_t size);
        ~Block();
        Block(Block&& other) noexcept;
        Block& operator=(Block&&) = delete;
        Block(const Block&) = delete;
        Block& operator=(const Block&) = delete;

        char* data() const { return m_data; }
        template <typename T>
        T* as() const
        {
            return reinterpret_cast<T*>(m_data);
        }

    private:
        char* m_data;
        std::size_t m_size;
    };

    struct Line
    {
        const char* data;
        std::size_t size;
        ChatColor color;
    };
    static constexpr std::size_t kLinesPerChunk = 16384;

    char* reserve(std::size_t size);
    void push(const char* data, std::size_t size, ChatColor color);

    std::vector<Block> m_lineChunks;
    std::size_t m_size = 0;
    std::vector<Block> m_textBlocks;
    char* m_free = nullptr;
    std::size_t m_left = 0;
};

struct TeamRow
{
    std::string name; // from this player's latest kill for the team
    std::string wonId; // the row's key within its team's list
    long long tks = 0; // team kills

    bool operator==(const TeamRow&) const = default;
};

// What one scan of a log produces. All texts are the log's own bytes.
struct ScanResult
{
    std::string time; // 21 characters of the first line after "L "
    std::optional<std::string> map; // the last "Loading map" line
    ChatLog publicChat;
    ChatLog tChat;
    ChatLog ctChat;
    std::vector<std::pair<std::string, std::string>> cvars; // file order, repeats kept
    std::vector<TeamRow> ctRows; // order of first appearance
    std::vector<TeamRow> tRows;
    std::optional<std::string> ctWins; // the last "_Win" line
    std::optional<std::string> tWins;

    bool operator==(const ScanResult&) const = default;
};

// The player fields of a log line: the text between the k-th and the (k+1)-th
// double quote (empty when the line has fewer quotes), read from its end as
// Name<UserID><WonID><Team>, so a name may hold '<' and '>'. A field without
// the expected angle brackets yields an empty text. The results are views
// into `line`.
std::string_view GetPlayerName(std::string_view line, int k);
std::string_view GetPlayerTeam(std::string_view line, int k);
std::string_view GetPlayerWonID(std::string_view line, int k);

// The pure fold from the lines of one log (file order, line ends removed,
// 8-bit bytes) to its scan result. The first line gives only the time; every
// later line runs through the event tests in order on the line as the
// earlier handlers cut it: first the console's say (the event right after the
// line's time is `Server say "`: a public chat entry "Server: " + message, red),
// then the seven patterns of the players' chat, map, cvars, wins and kills. Never throws on any input (except
// std::bad_alloc), never reads outside a line.
class LogParser
{
public:
    LogParser();

    void addLine(std::string_view line);

    // Lines seen so far (the first one included).
    std::size_t lineCount() const { return m_lineCount; }
    const ScanResult& result() const { return m_result; }
    ScanResult takeResult();

private:
    // WonID -> position in a team's rows: the row a search from the first
    // would find, without the search. Open addressing over one flat array
    // that holds each key's hash and, when short, the key itself, so a lookup
    // touches one slot even with many thousands of rows.
    class RowIndex
    {
    public:
        // The position of the row keyed `wonId`; when there is none, records
        // `newRow` for it and returns kNoRow.
        std::size_t findOrAdd(std::string_view wonId, std::size_t newRow, const std::vector<TeamRow>& rows);
        void clear();

        static constexpr std::size_t kNoRow = static_cast<std::size_t>(-1);

    private:
        // 32-byte slots; Steam ids ("STEAM_0:1:12345678") fit inline.
        static constexpr std::size_t kInlineKey = 20;
        static constexpr std::uint32_t kEmpty = UINT32_MAX;
        struct Slot
        {
            std::uint32_t hash = 0;
            std::uint32_t row = kEmpty; // rows stay far below 2^32: each needs a kill line
            std::uint32_t length = 0;
            char key[kInlineKey] = {};
        };
        void grow();

        std::vector<Slot> m_slots;
        std::size_t m_used = 0;
    };

    void addEventLine(std::string_view line);
    // The killer's and the victim's player fields.
    void addKill(std::string_view killer, std::string_view victim);
    static void updateRows(
        std::vector<TeamRow>& rows, RowIndex& index, std::string_view name, std::string_view wonId, bool teamKill);

    ScanResult m_result;
    RowIndex m_ctIndex;
    RowIndex m_tIndex;
    std::size_t m_lineCount = 0;
};

// Folds a list of lines (convenience for callers that hold them already).
ScanResult parseLog(const std::vector<std::string>& lines);

// Reads a file line by line without ever holding all of it: a line ends at
// CR LF, LF or a lone CR, the terminator is not part of the line, text after
// the last terminator is a last line, and a terminator at the very end adds no
// empty line. A line longer than `maxLineLength` is cut to that length while
// it is read and the rest of it is passed over, so memory does not depend on
// the length of a line: the buffer grows only for a line longer than itself,
// and never much beyond `maxLineLength`. Throws velth::Error naming the file
// when it cannot be opened or a read fails.
class LogFileReader
{
public:
    static constexpr std::size_t kDefaultBufferSize = 1 << 17;
    // The engine writes a log line through a buffer of about 1 KiB; a line
    // sixty times as long comes from no server.
    static constexpr std::size_t kMaxLineLength = 1 << 16;

    explicit LogFileReader(const std::string& path, std::size_t bufferSize = kDefaultBufferSize,
        std::size_t maxLineLength = kMaxLineLength);
    // Reads from an open descriptor (not closed here); `path` names it in errors.
    LogFileReader(int fd, std::string path, std::size_t bufferSize = kDefaultBufferSize,
        std::size_t maxLineLength = kMaxLineLength);
    ~LogFileReader();
    LogFileReader(const LogFileReader&) = delete;
    LogFileReader& operator=(const LogFileReader&) = delete;

    // The next line, valid until the next call; false at the end of the file.
    bool nextLine(std::string_view& line);

private:
    bool fill();
    // Everything before `to` has been consumed.
    void consumeTo(std::size_t to);

    std::string m_path;
    int m_fd = -1;
    bool m_ownsFd = false;
    bool m_eof = false;
    // Passing over the rest of a line that was cut.
    bool m_skipping = false;
    std::size_t m_maxLine;
    std::vector<char> m_buffer;
    std::size_t m_begin = 0; // start of the unread data
    std::size_t m_end = 0; // end of the data read so far
    // Next CR and LF at or after m_begin, or m_end when none is in the data.
    std::size_t m_nextCr = 0;
    std::size_t m_nextLf = 0;
};

// Scans a file into `parser` line by line. On a read error `parser` keeps
// what was read up to it and velth::Error (naming the file) propagates.
void scanLogFile(const std::string& path, LogParser& parser);

} // namespace velth
