#include "loganalysis/LogParser.h"

#include "common/Error.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <functional>
#include <new>
#include <utility>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace velth {
namespace {

constexpr std::string_view kEmpty;
constexpr std::size_t kNone = std::string_view::npos;

// Removes everything from the start through the first `c`; nothing when there
// is none.
std::string_view dropThrough(std::string_view s, char c)
{
    const std::size_t pos = s.find(c);
    return pos == kNone ? s : s.substr(pos + 1);
}

// Everything before the first `c`; empty when there is none.
std::string_view takeBefore(std::string_view s, char c)
{
    const std::size_t pos = s.find(c);
    return pos == kNone ? std::string_view() : s.substr(0, pos);
}

std::string_view playerField(std::string_view line, int k)
{
    for (int i = 0; i < k; ++i)
        line = dropThrough(line, '"');
    return takeBefore(line, '"');
}

// The seven event patterns, in the order they are tested. Each holds a double
// quote; `anchor` is the offset of its first one, so a single walk over the
// quotes of a line finds the first occurrence of every pattern.
struct Pattern
{
    std::string_view text;
    std::size_t anchor;
};

enum PatternId { PublicSay, CtSayTeam, TSayTeam, LoadingMap, ServerCvar, Win, Killed, PatternCount };

constexpr std::array<Pattern, PatternCount> kPatterns = { {
    { ">\" say \"", 1 },
    { "<CT>\" say_team \"", 4 },
    { "<TERRORIST>\" say_team \"", 11 },
    { "Loading map \"", 12 },
    { "Server cvar \"", 12 },
    { "_Win\"", 4 },
    { "\" killed \"", 0 },
} };

// Where the event starts, after "L MM/DD/YYYY - hh:mm:ss: ".
constexpr std::size_t kEventAt = 25;
constexpr std::string_view kServerSay = "Server say \"";

bool matchesAt(std::string_view line, std::size_t quote, PatternId id)
{
    const Pattern& p = kPatterns[id];
    if (quote < p.anchor)
        return false;
    const std::size_t start = quote - p.anchor;
    return line.size() - start >= p.text.size() && std::memcmp(line.data() + start, p.text.data(), p.text.size()) == 0;
}

// Calls f(position) for every double quote of `line`, in order, sixteen bytes
// at a time where the processor allows, never reading outside the line.
template <typename F>
void forEachQuote(std::string_view line, F&& f)
{
    const char* const data = line.data();
    const std::size_t size = line.size();
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128i quote = _mm_set1_epi8('"');
    for (; i + 16 <= size; i += 16) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
        unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(chunk, quote)));
        while (mask) {
            f(i + static_cast<std::size_t>(__builtin_ctz(mask)));
            mask &= mask - 1;
        }
    }
#endif
    for (; i < size; ++i)
        if (data[i] == '"')
            f(i);
}

// What one walk over the quotes of a line finds: the first start of each
// pattern (or kNone) and the first four quotes, which bound the two player
// fields.
struct LineScan
{
    std::array<std::size_t, PatternCount> first;
    std::array<std::size_t, 4> quotes;
    std::size_t quoteCount = 0;

    // The text between the k-th and the (k+1)-th quote (k = 1 or 3).
    std::string_view field(std::string_view line, int k) const
    {
        const auto at = static_cast<std::size_t>(k);
        if (quoteCount <= at)
            return {};
        return line.substr(quotes[at - 1] + 1, quotes[at] - quotes[at - 1] - 1);
    }
};

LineScan scanLine(std::string_view line)
{
    LineScan scan;
    scan.first.fill(kNone);
    const char* const data = line.data();
    const std::size_t size = line.size();
    forEachQuote(line, [&](std::size_t q) {
        if (scan.quoteCount < scan.quotes.size())
            scan.quotes[scan.quoteCount] = q;
        ++scan.quoteCount;
        auto check = [&](PatternId id) {
            if (scan.first[id] == kNone && matchesAt(line, q, id))
                scan.first[id] = q - kPatterns[id].anchor;
        };
        if (q > 0) {
            switch (data[q - 1]) {
            case '>':
                check(PublicSay);
                check(CtSayTeam);
                check(TSayTeam);
                break;
            case ' ':
                check(LoadingMap);
                check(ServerCvar);
                break;
            case 'n':
                check(Win);
                break;
            default:
                break;
            }
        }
        if (q + 1 < size && data[q + 1] == ' ')
            check(Killed);
    });
    return scan;
}

// The parts of a player field Name<UserID><WonID><Team>, counted from its end.
std::string_view nameOf(std::string_view field)
{
    int seen = 0;
    for (std::size_t i = field.size(); i-- > 0;) {
        if (field[i] == '<' && ++seen == 3)
            return field.substr(0, i);
    }
    return kEmpty;
}

std::string_view teamOf(std::string_view field)
{
    if (field.empty())
        return kEmpty;
    field.remove_suffix(1);
    const std::size_t lt = field.rfind('<');
    return lt == kNone ? kEmpty : field.substr(lt + 1);
}

std::string_view wonIdOf(std::string_view field)
{
    const std::size_t last = field.rfind('<');
    if (last == kNone || last < 1)
        return kEmpty;
    field = field.substr(0, last - 1); // drops that '<' and the '>' before it
    const std::size_t lt = field.rfind('<');
    return lt == kNone ? kEmpty : field.substr(lt + 1);
}

} // namespace

std::string_view GetPlayerName(std::string_view line, int k)
{
    return nameOf(playerField(line, k));
}

std::string_view GetPlayerTeam(std::string_view line, int k)
{
    return teamOf(playerField(line, k));
}

std::string_view GetPlayerWonID(std::string_view line, int k)
{
    return wonIdOf(playerField(line, k));
}

ChatLog::Block::Block(std::size_t size)
    : m_size(size)
{
    void* p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
    if (p == MAP_FAILED)
        throw std::bad_alloc();
    m_data = static_cast<char*>(p);
}

ChatLog::Block::~Block()
{
    if (m_data)
        ::munmap(m_data, m_size);
}

ChatLog::Block::Block(Block&& other) noexcept
    : m_data(std::exchange(other.m_data, nullptr))
    , m_size(std::exchange(other.m_size, 0))
{ }

ChatLog::ChatLog(const ChatLog& other)
{
    for (const ChatEntry entry : other)
        add(entry.text, entry.color);
}

ChatLog& ChatLog::operator=(const ChatLog& other)
{
    if (this != &other) {
        ChatLog copy(other);
        *this = std::move(copy);
    }
    return *this;
}

ChatLog::ChatLog(ChatLog&& other) noexcept
    : m_lineChunks(std::move(other.m_lineChunks))
    , m_size(std::exchange(other.m_size, 0))
    , m_textBlocks(std::move(other.m_textBlocks))
    , m_free(std::exchange(other.m_free, nullptr))
    , m_left(std::exchange(other.m_left, 0))
{
    other.m_lineChunks.clear();
    other.m_textBlocks.clear();
}

ChatLog& ChatLog::operator=(ChatLog&& other) noexcept
{
    if (this != &other) {
        m_lineChunks = std::move(other.m_lineChunks);
        m_size = std::exchange(other.m_size, 0);
        m_textBlocks = std::move(other.m_textBlocks);
        m_free = std::exchange(other.m_free, nullptr);
        m_left = std::exchange(other.m_left, 0);
        other.m_lineChunks.clear();
        other.m_textBlocks.clear();
    }
    return *this;
}

char* ChatLog::reserve(std::size_t size)
{
    if (size > m_left) {
        // Blocks grow with the chat, from 64 KiB to 4 MiB.
        const std::size_t grown
            = std::min<std::size_t>(std::size_t(64 * 1024) << std::min<std::size_t>(m_textBlocks.size(), 6), 4 << 20);
        const std::size_t blockSize = std::max(grown, size);
        m_textBlocks.emplace_back(blockSize);
        m_free = m_textBlocks.back().data();
        m_left = blockSize;
    }
    char* at = m_free;
    m_free += size;
    m_left -= size;
    return at;
}

void ChatLog::push(const char* data, std::size_t size, ChatColor color)
{
    if (m_size == m_lineChunks.size() * kLinesPerChunk)
        m_lineChunks.emplace_back(kLinesPerChunk * sizeof(Line));
    new (m_lineChunks.back().as<Line>() + m_size % kLinesPerChunk) Line{ data, size, color };
    ++m_size;
}

namespace {

// Copies bytes and returns the end; an empty view may carry no pointer.
char* put(char* to, std::string_view bytes)
{
    if (!bytes.empty())
        std::memcpy(to, bytes.data(), bytes.size());
    return to + bytes.size();
}

} // namespace

void ChatLog::add(std::string_view name, std::string_view message, ChatColor color)
{
    const std::size_t size = name.size() + 2 + message.size();
    char* at = reserve(size);
    put(put(put(at, name), ": "), message);
    push(at, size, color);
}

void ChatLog::add(std::string_view text, ChatColor color)
{
    if (text.empty()) {
        push("", 0, color);
        return;
    }
    char* at = reserve(text.size());
    put(at, text);
    push(at, text.size(), color);
}

std::vector<ChatEntry> ChatLog::entries() const
{
    std::vector<ChatEntry> out;
    out.reserve(size());
    for (const ChatEntry entry : *this)
        out.push_back(entry);
    return out;
}

bool ChatLog::operator==(const ChatLog& other) const
{
    if (size() != other.size())
        return false;
    for (std::size_t i = 0; i < size(); ++i)
        if (!((*this)[i] == other[i]))
            return false;
    return true;
}

LogParser::LogParser() = default;

ScanResult LogParser::takeResult()
{
    ScanResult out = std::move(m_result);
    m_result = ScanResult();
    m_ctIndex.clear();
    m_tIndex.clear();
    m_lineCount = 0;
    return out;
}

void LogParser::addLine(std::string_view line)
{
    if (m_lineCount++ == 0) {
        // "L MM/DD/YYYY - hh:mm:ss: ..." gives "MM/DD/YYYY - hh:mm:ss".
        line.remove_prefix(std::min<std::size_t>(2, line.size()));
        m_result.time.assign(line.substr(0, 21));
        return;
    }
    addEventLine(line);
}

void LogParser::addEventLine(std::string_view line)
{
    const LineScan scan = scanLine(line);
    const std::array<std::size_t, PatternCount>& first = scan.first;
    // The tests run on the line as the earlier handlers left it; while it is
    // uncut the positions of the quote walk hold, afterwards a pattern found
    // there is searched again in what is left.
    std::string_view cur = line;
    bool cut = false;
    auto find = [&](PatternId id) {
        if (first[id] == kNone)
            return kNone;
        return cut ? cur.find(kPatterns[id].text) : first[id];
    };
    // Player fields of the line as it stands now.
    auto field = [&](int k) { return cut ? playerField(cur, k) : scan.field(line, k); };
    auto chat = [&](PatternId id, ChatLog& to, ChatColor color) {
        const std::size_t at = find(id);
        if (at == kNone)
            return;
        const std::string_view name = nameOf(field(1));
        cur.remove_prefix(at + kPatterns[id].text.size() - 1);
        cut = true;
        to.add(name, cur, color);
    };

    // What the admin says on the server's console: "Server say "<message>""
    // as the event, right after the line's time.
    if (line.size() > kEventAt && line.substr(kEventAt, kServerSay.size()) == kServerSay) {
        cur.remove_prefix(kEventAt + kServerSay.size() - 1);
        cut = true;
        m_result.publicChat.add("Server", cur, ChatColor::Red);
    }
    if (first[PublicSay] != kNone)
        chat(PublicSay, m_result.publicChat, cur.find("<CT>") != kNone ? ChatColor::Blue : ChatColor::Red);
    chat(CtSayTeam, m_result.ctChat, ChatColor::Blue);
    chat(TSayTeam, m_result.tChat, ChatColor::Red);

    if (find(LoadingMap) != kNone) {
        cur = takeBefore(dropThrough(cur, '"'), '"');
        cut = true;
        m_result.map.emplace(cur);
    }

    if (find(ServerCvar) != kNone && cur.find("public_slots_free") == kNone && cur.find("sv_restartround") == kNone) {
        std::string_view s = dropThrough(cur, '"');
        const std::string_view name = takeBefore(s, '"');
        s = dropThrough(dropThrough(s, '"'), '"');
        cur = takeBefore(s, '"');
        cut = true;
        m_result.cvars.emplace_back(name, cur);
    }

    if (const std::size_t at = find(Win); at != kNone) {
        std::string_view s = cur.substr(at + 1);
        s = dropThrough(dropThrough(s, '"'), '"');
        m_result.ctWins.emplace(takeBefore(s, '"'));
        s = dropThrough(dropThrough(s, '"'), '"');
        m_result.tWins.emplace(takeBefore(s, '"'));
        cur = s;
        cut = true;
    }

    if (find(Killed) != kNone)
        addKill(field(1), field(3));
}

void LogParser::addKill(std::string_view killer, std::string_view victim)
{
    const std::string_view killerTeam = teamOf(killer);
    std::vector<TeamRow>* rows = nullptr;
    RowIndex* index = nullptr;
    if (killerTeam == "CT") {
        rows = &m_result.ctRows;
        index = &m_ctIndex;
    } else if (killerTeam == "TERRORIST") {
        rows = &m_result.tRows;
        index = &m_tIndex;
    } else {
        return;
    }
    const bool teamKill = killerTeam == teamOf(victim);
    updateRows(*rows, *index, nameOf(killer), wonIdOf(killer), teamKill);
}

void LogParser::updateRows(
    std::vector<TeamRow>& rows, RowIndex& index, std::string_view name, std::string_view wonId, bool teamKill)
{
    if (const std::size_t at = index.findOrAdd(wonId, rows.size(), rows); at != RowIndex::kNoRow) {
        TeamRow& row = rows[at];
        row.name.assign(name);
        if (teamKill)
            ++row.tks;
        return;
    }
    rows.push_back(TeamRow{ std::string(name), std::string(wonId), teamKill ? 1 : 0 });
}

std::size_t LogParser::RowIndex::findOrAdd(std::string_view wonId, std::size_t newRow, const std::vector<TeamRow>& rows)
{
    if (4 * (m_used + 1) > 3 * m_slots.size())
        grow();
    const auto hash = static_cast<std::uint32_t>(std::hash<std::string_view>()(wonId));
    const auto length = static_cast<std::uint32_t>(std::min<std::size_t>(wonId.size(), UINT32_MAX));
    const std::size_t mask = m_slots.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
        Slot& slot = m_slots[i];
        if (slot.row == kEmpty) {
            slot.hash = hash;
            slot.row = static_cast<std::uint32_t>(newRow);
            slot.length = length;
            if (!wonId.empty())
                std::memcpy(slot.key, wonId.data(), std::min(wonId.size(), kInlineKey));
            ++m_used;
            return kNoRow;
        }
        if (slot.hash != hash || slot.length != length)
            continue;
        const bool same = wonId.size() <= kInlineKey
            ? wonId.empty() || std::memcmp(slot.key, wonId.data(), wonId.size()) == 0
            : rows[slot.row].wonId == wonId;
        if (same)
            return slot.row;
    }
}

void LogParser::RowIndex::grow()
{
    std::vector<Slot> old = std::move(m_slots);
    m_slots.assign(std::max<std::size_t>(64, old.size() * 2), Slot());
    const std::size_t mask = m_slots.size() - 1;
    for (const Slot& slot : old) {
        if (slot.row == kEmpty)
            continue;
        std::size_t i = slot.hash & mask;
        while (m_slots[i].row != kEmpty)
            i = (i + 1) & mask;
        m_slots[i] = slot;
    }
}

void LogParser::RowIndex::clear()
{
    m_slots.clear();
    m_used = 0;
}

ScanResult parseLog(const std::vector<std::string>& lines)
{
    LogParser parser;
    for (const std::string& line : lines)
        parser.addLine(line);
    return parser.takeResult();
}

LogFileReader::LogFileReader(const std::string& path, std::size_t bufferSize, std::size_t maxLineLength)
    : m_path(path)
    , m_maxLine(std::max<std::size_t>(maxLineLength, 1))
    , m_buffer(std::max<std::size_t>(bufferSize, 2))
{
    m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (m_fd < 0)
        throwFileError("Cannot open", path, errno);
    m_ownsFd = true;
    ::posix_fadvise(m_fd, 0, 0, POSIX_FADV_SEQUENTIAL);
}

LogFileReader::LogFileReader(int fd, std::string path, std::size_t bufferSize, std::size_t maxLineLength)
    : m_path(std::move(path))
    , m_fd(fd)
    , m_maxLine(std::max<std::size_t>(maxLineLength, 1))
    , m_buffer(std::max<std::size_t>(bufferSize, 2))
{ }

LogFileReader::~LogFileReader()
{
    if (m_ownsFd)
        ::close(m_fd);
}

bool LogFileReader::fill()
{
    if (m_begin > 0) {
        std::memmove(m_buffer.data(), m_buffer.data() + m_begin, m_end - m_begin);
        m_end -= m_begin;
        m_nextCr -= m_begin;
        m_nextLf -= m_begin;
        m_begin = 0;
    }
    // A line longer than the buffer: the data never holds more than the
    // longest line kept and a CR, so the buffer stops growing there.
    if (m_end == m_buffer.size())
        m_buffer.resize(std::min(m_buffer.size() * 2, std::max(m_buffer.size() + 1, m_maxLine + 1)));
    ssize_t n;
    do
        n = ::read(m_fd, m_buffer.data() + m_end, m_buffer.size() - m_end);
    while (n < 0 && errno == EINTR);
    if (n < 0)
        throwFileError("Cannot read", m_path, errno);
    if (n == 0) {
        m_eof = true;
        return false;
    }
    const std::size_t old = m_end;
    m_end += static_cast<std::size_t>(n);
    auto rescan = [&](std::size_t& next, char c) {
        if (next == old) {
            const void* hit = std::memchr(m_buffer.data() + old, c, m_end - old);
            next = hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - m_buffer.data()) : m_end;
        }
    };
    rescan(m_nextCr, '\r');
    rescan(m_nextLf, '\n');
    return true;
}

void LogFileReader::consumeTo(std::size_t to)
{
    m_begin = to;
    auto advance = [&](std::size_t& next, char c) {
        if (next < m_begin) {
            const void* hit = std::memchr(m_buffer.data() + m_begin, c, m_end - m_begin);
            next = hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - m_buffer.data()) : m_end;
        }
    };
    advance(m_nextCr, '\r');
    advance(m_nextLf, '\n');
}

bool LogFileReader::nextLine(std::string_view& line)
{
    // The first m_maxLine bytes from m_begin on, at most up to `end`.
    auto take = [&](std::size_t end) {
        line = std::string_view(m_buffer.data() + m_begin, std::min(end - m_begin, m_maxLine));
    };
    for (;;) {
        const std::size_t end = std::min(m_nextCr, m_nextLf);
        if (end < m_end) {
            std::size_t terminator = 1;
            if (m_buffer[end] == '\r') {
                if (end + 1 == m_end && !m_eof) {
                    // Is the CR followed by an LF? A line that is too long
                    // already is handed out cut first, and the CR kept.
                    if (!m_skipping && end - m_begin >= m_maxLine) {
                        take(end);
                        m_skipping = true;
                        consumeTo(end);
                        return true;
                    }
                    if (m_skipping)
                        consumeTo(end);
                    fill();
                    continue;
                }
                if (end + 1 < m_end && m_buffer[end + 1] == '\n')
                    terminator = 2;
            }
            const bool skipped = std::exchange(m_skipping, false);
            if (!skipped)
                take(end);
            consumeTo(end + terminator);
            if (skipped)
                continue;
            return true;
        }
        // No line end in the data.
        if (m_skipping) {
            consumeTo(m_end);
            if (m_eof)
                return false;
        } else if (m_eof) {
            if (m_begin == m_end)
                return false;
            take(m_end);
            consumeTo(m_end);
            return true;
        } else if (m_end - m_begin >= m_maxLine) {
            take(m_end);
            m_skipping = true;
            consumeTo(m_end);
            return true;
        }
        fill();
    }
}

void scanLogFile(const std::string& path, LogParser& parser)
{
    LogFileReader reader(path);
    std::string_view line;
    while (reader.nextLine(line))
        parser.addLine(line);
}

} // namespace velth
