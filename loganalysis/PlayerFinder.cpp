#include "loganalysis/PlayerFinder.h"

#include "common/Error.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <optional>
#include <utility>

#include <fcntl.h>
#include <unistd.h>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define VELTH_FIND_AVX2 1
#endif

namespace velth {
namespace {

constexpr std::size_t kNone = std::string_view::npos;
constexpr std::size_t kBlock = std::size_t(1) << 20;

constexpr std::array<unsigned char, 256> makeFold()
{
    std::array<unsigned char, 256> fold{};
    for (std::size_t i = 0; i < 256; ++i)
        fold[i] = static_cast<unsigned char>(i >= 'A' && i <= 'Z' ? i + ('a' - 'A') : i);
    return fold;
}
constexpr std::array<unsigned char, 256> kFold = makeFold();

unsigned char fold(char c)
{
    return kFold[static_cast<unsigned char>(c)];
}

bool isLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool equalsFolded(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (fold(a[i]) != fold(b[i]))
            return false;
    return true;
}

// `folded` is already folded.
bool containsFolded(std::string_view haystack, std::string_view folded)
{
    if (folded.empty())
        return true;
    if (haystack.size() < folded.size())
        return false;
    for (std::size_t i = 0; i + folded.size() <= haystack.size(); ++i) {
        std::size_t k = 0;
        while (k < folded.size() && fold(haystack[i + k]) == static_cast<unsigned char>(folded[k]))
            ++k;
        if (k == folded.size())
            return true;
    }
    return false;
}

// How often a byte turns up in a log line, roughly: the prefix, the player
// fields and the event words are full of digits, brackets, quotes and spaces.
int commonness(char c)
{
    const unsigned char u = kFold[static_cast<unsigned char>(c)];
    if (u == ' ' || u == '"' || u == '<' || u == '>' || u == ':' || u == '/' || u == '-' || (u >= '0' && u <= '9'))
        return 100;
    if (std::string_view("etaoinsrhld").find(static_cast<char>(u)) != kNone)
        return 40;
    if (std::string_view("cumwfgypbv_").find(static_cast<char>(u)) != kNone)
        return 15;
    return 5;
}

// Finds a needle in blocks of bytes, folding ASCII letters when asked. It
// looks for two neighbouring bytes of the needle (the rarest pair in a log)
// 32 bytes at a time and compares the whole needle only where they stand.
class Needle
{
public:
    Needle(std::string text, bool foldCase)
        : m_text(std::move(text))
        , m_fold(foldCase)
    {
        if (m_fold)
            for (char& c : m_text)
                c = static_cast<char>(fold(c));
        if (m_text.size() >= 2) {
            int best = INT32_MAX;
            for (std::size_t i = 0; i + 1 < m_text.size(); ++i) {
                const int cost = commonness(m_text[i]) * commonness(m_text[i + 1]);
                if (cost <= best) {
                    best = cost;
                    m_anchor = i;
                }
            }
        }
        for (std::size_t k = 0; k < 2 && m_anchor + k < m_text.size(); ++k) {
            const char c = m_text[m_anchor + k];
            m_or[k] = m_fold && isLetter(c) ? 0x20 : 0;
            m_byte[k] = c;
        }
    }

    std::size_t size() const { return m_text.size(); }

    // The first start at or after `from` of the needle in p[0, n), or kNone.
    std::size_t find(const char* p, std::size_t n, std::size_t from) const
    {
        if (m_text.empty() || n < m_text.size() || from > n - m_text.size())
            return kNone;
#if VELTH_FIND_AVX2
        static const bool avx2 = __builtin_cpu_supports("avx2");
        if (avx2)
            return findAvx2(p, n, from);
#endif
        return findScalar(p, n, from + m_anchor);
    }

private:
    bool anchorAt(const char* p, std::size_t i) const
    {
        if ((static_cast<unsigned char>(p[i]) | m_or[0]) != static_cast<unsigned char>(m_byte[0]))
            return false;
        return m_text.size() < 2
            || (static_cast<unsigned char>(p[i + 1]) | m_or[1]) == static_cast<unsigned char>(m_byte[1]);
    }

    bool matchesAt(const char* p, std::size_t start) const
    {
        if (!m_fold)
            return std::memcmp(p + start, m_text.data(), m_text.size()) == 0;
        for (std::size_t k = 0; k < m_text.size(); ++k)
            if (fold(p[start + k]) != static_cast<unsigned char>(m_text[k]))
                return false;
        return true;
    }

    // Tries the anchor at i and every later position.
    std::size_t findScalar(const char* p, std::size_t n, std::size_t i) const
    {
        const std::size_t last = n - m_text.size();
        for (std::size_t start = i - m_anchor; start <= last; ++start, ++i)
            if (anchorAt(p, i) && matchesAt(p, start))
                return start;
        return kNone;
    }

#if VELTH_FIND_AVX2
    __attribute__((target("avx2"))) std::size_t findAvx2(const char* p, std::size_t n, std::size_t from) const
    {
        const std::size_t last = n - m_text.size();
        const bool pair = m_text.size() >= 2;
        const __m256i or0 = _mm256_set1_epi8(static_cast<char>(m_or[0]));
        const __m256i or1 = _mm256_set1_epi8(static_cast<char>(m_or[1]));
        const __m256i b0 = _mm256_set1_epi8(m_byte[0]);
        const __m256i b1 = _mm256_set1_epi8(m_byte[1]);
        std::size_t i = from + m_anchor;
        // The second load reads up to i + 32.
        for (; i + 33 <= n && i - m_anchor <= last; i += 32) {
            const __m256i v0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i));
            __m256i hit = _mm256_cmpeq_epi8(_mm256_or_si256(v0, or0), b0);
            if (pair) {
                const __m256i v1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i + 1));
                hit = _mm256_and_si256(hit, _mm256_cmpeq_epi8(_mm256_or_si256(v1, or1), b1));
            }
            auto mask = static_cast<unsigned>(_mm256_movemask_epi8(hit));
            while (mask) {
                const std::size_t start = i + static_cast<std::size_t>(__builtin_ctz(mask)) - m_anchor;
                if (start > last)
                    return kNone;
                if (matchesAt(p, start))
                    return start;
                mask &= mask - 1;
            }
        }
        if (i - m_anchor > last)
            return kNone;
        return findScalar(p, n, i);
    }
#endif

    std::string m_text;
    bool m_fold;
    std::size_t m_anchor = 0;
    std::array<unsigned char, 2> m_or{};
    std::array<char, 2> m_byte{};
};

// Line ends in p[0, n) as LogFileReader splits lines: LF, CR LF, and a lone
// CR (a CR at the very end counts: the caller never splits a CR LF).
std::size_t countLineEndsScalar(const char* p, std::size_t n, std::size_t i)
{
    std::size_t count = 0;
    for (; i < n; ++i)
        count += p[i] == '\n' || (p[i] == '\r' && (i + 1 == n || p[i + 1] != '\n'));
    return count;
}

#if VELTH_FIND_AVX2
__attribute__((target("avx2,popcnt"))) std::size_t countLineEndsAvx2(const char* p, std::size_t n)
{
    const __m256i lf = _mm256_set1_epi8('\n');
    const __m256i cr = _mm256_set1_epi8('\r');
    std::size_t count = 0;
    std::size_t i = 0;
    for (; i + 33 <= n; i += 32) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i));
        const __m256i next = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i + 1));
        const auto lfs = static_cast<unsigned>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(v, lf)));
        const auto crs = static_cast<unsigned>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(v, cr)));
        const auto lfNext = static_cast<unsigned>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(next, lf)));
        count += static_cast<std::size_t>(__builtin_popcount(lfs) + __builtin_popcount(crs & ~lfNext));
    }
    return count + countLineEndsScalar(p, n, i);
}
#endif

std::size_t countLineEnds(const char* p, std::size_t n)
{
#if VELTH_FIND_AVX2
    static const bool avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt");
    if (avx2)
        return countLineEndsAvx2(p, n);
#endif
    return countLineEndsScalar(p, n, 0);
}

// The first CR or LF in p[from, n), or n.
std::size_t nextLineEnd(const char* p, std::size_t n, std::size_t from)
{
    const void* lf = std::memchr(p + from, '\n', n - from);
    const std::size_t lfAt = lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - p) : n;
    const void* cr = std::memchr(p + from, '\r', lfAt - from);
    return cr ? static_cast<std::size_t>(static_cast<const char*>(cr) - p) : lfAt;
}

// Just past the last CR or LF in p[from, to), or `from`.
std::size_t afterLastLineEnd(const char* p, std::size_t from, std::size_t to)
{
    for (std::size_t i = to; i > from; --i)
        if (p[i - 1] == '\n' || p[i - 1] == '\r')
            return i;
    return from;
}

// One needle for scanMatchingLines().
class OneNeedle
{
public:
    explicit OneNeedle(Needle needle)
        : m_needle(std::move(needle))
    { }
    void begin() { }
    std::size_t find(const char* p, std::size_t n, std::size_t from, std::size_t& size)
    {
        size = m_needle.size();
        return m_needle.find(p, n, from);
    }

private:
    Needle m_needle;
};

// The player fields of any of a set of ids, "<id>" with its angle brackets:
// one walk over the bytes finds the '>' 32 positions at a time; the three
// bytes before each are looked up in a bitmap of the ids' last three bytes,
// and only where that says yes the id before it in the set. The cost does
// not grow with the number of ids.
class IdSet
{
public:
    explicit IdSet(const std::vector<std::string>& ids)
    {
        for (const std::string& id : ids) {
            if (id.empty() || id.size() > kLongestId || id.find_first_of("<>") != kNone)
                continue;
            m_ids.push_back(id);
            if (id.size() < 3)
                m_short = true;
            else
                m_bits[bit(id.data() + id.size() - 3)] = true;
            m_digitsOnly = m_digitsOnly && id.back() >= '0' && id.back() <= '9';
        }
        std::sort(m_ids.begin(), m_ids.end());
    }

    void begin() { }
    // The first "<id>" that starts at `from` or later; its length in `size`.
    std::size_t find(const char* p, std::size_t n, std::size_t from, std::size_t& size) const
    {
        if (m_ids.empty())
            return kNone;
        std::size_t i = from;
#if VELTH_FIND_AVX2
        static const bool avx512 = __builtin_cpu_supports("avx512bw");
        static const bool avx2 = __builtin_cpu_supports("avx2");
        if (avx512 && m_digitsOnly) {
            if (const std::size_t start = findAvx512(p, n, from, i, size); start != kNone)
                return start;
        } else if (avx2) {
            if (const std::size_t start = findAvx2(p, n, from, i, size); start != kNone)
                return start;
        }
#endif
        for (; i < n; ++i)
            if (p[i] == '>')
                if (const std::size_t start = matchBefore(p, from, i, size); start != kNone)
                    return start;
        return kNone;
    }

private:
    static constexpr std::size_t kLongestId = 64;

    static std::size_t bit(const char* three)
    {
        const auto b = [&](int k) { return static_cast<std::size_t>(static_cast<unsigned char>(three[k])); };
        return (b(0) * 0x9E5 + b(1) * 0x3B + b(2)) & 0xFFFF;
    }

    // The start of an "<id>" of the set whose '>' is at g.
    std::size_t matchBefore(const char* p, std::size_t from, std::size_t g, std::size_t& size) const
    {
        if (g < from + 2 || (!m_short && (g < from + 4 || !m_bits[bit(p + g - 3)])))
            return kNone;
        const std::size_t floor = g - from > kLongestId + 1 ? g - kLongestId - 1 : from;
        std::size_t lt = g;
        while (lt > floor && p[lt - 1] != '<')
            --lt;
        if (lt == floor && (lt == 0 || p[lt - 1] != '<' || lt - 1 < from))
            return kNone;
        const std::string_view id(p + lt, g - lt);
        if (!std::binary_search(m_ids.begin(), m_ids.end(), id, std::less<>()))
            return kNone;
        size = id.size() + 2;
        return lt - 1;
    }

#if VELTH_FIND_AVX2
    // Over the bytes where 32 still fit; `i` then tells where the byte-wise
    // walk goes on.
    __attribute__((target("avx2"))) std::size_t findAvx2(
        const char* p, std::size_t n, std::size_t from, std::size_t& i, std::size_t& size) const
    {
        const __m256i gt = _mm256_set1_epi8('>');
        const __m256i belowZero = _mm256_set1_epi8('0' - 1);
        const __m256i aboveNine = _mm256_set1_epi8('9' + 1);
        if (i == 0)
            i = 1; // a '>' at 0 ends no id
        const __m256i lt = _mm256_set1_epi8('<');
        const __m256i letterS = _mm256_set1_epi8('S');
        const __m256i letterT = _mm256_set1_epi8('T');
        const __m256i letterV = _mm256_set1_epi8('V');
        const __m256i letterA = _mm256_set1_epi8('A');
        // Three bytes after the 32 are read too.
        for (; i + 35 <= n; i += 32) {
            const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i));
            __m256i ends = _mm256_cmpeq_epi8(bytes, gt);
            if (m_digitsOnly) {
                // Only a digit before the '>': the team ("CT>") and the
                // empty fields are passed over 32 at a time; so is the end
                // of a user id, which "<STEAM_" or "<VALVE_" follows (no
                // team starts so).
                const __m256i before = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i - 1));
                const __m256i next1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i + 1));
                const __m256i next2 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i + 2));
                const __m256i next3 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i + 3));
                const __m256i userIdEnd = _mm256_and_si256(_mm256_cmpeq_epi8(next1, lt),
                    _mm256_or_si256(
                        _mm256_and_si256(_mm256_cmpeq_epi8(next2, letterS), _mm256_cmpeq_epi8(next3, letterT)),
                        _mm256_and_si256(_mm256_cmpeq_epi8(next2, letterV), _mm256_cmpeq_epi8(next3, letterA))));
                ends = _mm256_andnot_si256(userIdEnd,
                    _mm256_and_si256(ends,
                        _mm256_and_si256(_mm256_cmpgt_epi8(before, belowZero), _mm256_cmpgt_epi8(aboveNine, before))));
            }
            auto mask = static_cast<unsigned>(_mm256_movemask_epi8(ends));
            while (mask) {
                const std::size_t g = i + static_cast<std::size_t>(__builtin_ctz(mask));
                mask &= mask - 1;
                // Most '>' end no id of the set: the bitmap tells without a call.
                if (!m_short && (g < from + 4 || !m_bits[bit(p + g - 3)]))
                    continue;
                if (const std::size_t start = matchBefore(p, from, g, size); start != kNone)
                    return start;
            }
        }
        return kNone;
    }

    // The same 64 bytes at a time, with every id ending in a digit.
    __attribute__((target("avx512bw"))) std::size_t findAvx512(
        const char* p, std::size_t n, std::size_t from, std::size_t& i, std::size_t& size) const
    {
        const __m512i gt = _mm512_set1_epi8('>');
        const __m512i belowZero = _mm512_set1_epi8('0' - 1);
        const __m512i aboveNine = _mm512_set1_epi8('9' + 1);
        const __m512i lt = _mm512_set1_epi8('<');
        const __m512i letterS = _mm512_set1_epi8('S');
        const __m512i letterT = _mm512_set1_epi8('T');
        const __m512i letterV = _mm512_set1_epi8('V');
        const __m512i letterA = _mm512_set1_epi8('A');
        if (i == 0)
            i = 1; // a '>' at 0 ends no id
        // Three bytes after the 64 are read too.
        for (; i + 67 <= n; i += 64) {
            const __m512i before = _mm512_loadu_si512(static_cast<const void*>(p + i - 1));
            // A '>' after a digit, not the end of a user id ("<STEAM_" or
            // "<VALVE_" follows).
            __mmask64 ends = _mm512_cmpeq_epi8_mask(_mm512_loadu_si512(static_cast<const void*>(p + i)), gt)
                & _mm512_cmpgt_epi8_mask(before, belowZero) & _mm512_cmpgt_epi8_mask(aboveNine, before);
            if (!ends)
                continue;
            const __m512i next1 = _mm512_loadu_si512(static_cast<const void*>(p + i + 1));
            const __m512i next2 = _mm512_loadu_si512(static_cast<const void*>(p + i + 2));
            const __m512i next3 = _mm512_loadu_si512(static_cast<const void*>(p + i + 3));
            const __mmask64 userIdEnd = _mm512_cmpeq_epi8_mask(next1, lt)
                & ((_mm512_cmpeq_epi8_mask(next2, letterS) & _mm512_cmpeq_epi8_mask(next3, letterT))
                    | (_mm512_cmpeq_epi8_mask(next2, letterV) & _mm512_cmpeq_epi8_mask(next3, letterA)));
            auto mask = static_cast<std::uint64_t>(ends & ~userIdEnd);
            while (mask) {
                const std::size_t g = i + static_cast<std::size_t>(__builtin_ctzll(mask));
                mask &= mask - 1;
                if (!m_short && (g < from + 4 || !m_bits[bit(p + g - 3)]))
                    continue;
                if (const std::size_t start = matchBefore(p, from, g, size); start != kNone)
                    return start;
            }
        }
        return kNone;
    }
#endif

    std::vector<std::string> m_ids;
    std::array<bool, 0x10000> m_bits{};
    bool m_short = false;
    bool m_digitsOnly = true; // every id ends in a digit
};

// Reads a file in blocks and calls onLine(line, number) for each line whose
// first `maxLine` bytes hold a needle, with the line cut to that length, as
// LogFileReader would hand it. onLine returns false to stop. Returns false
// when stopped or cancelled.
// Without kCountLines the numbers handed are not counted.
template <bool kCountLines, typename Needles, typename OnLine>
bool scanMatchingLines(const std::string& path, Needles& needles, std::size_t maxLine, const std::atomic<bool>* cancel,
    const PlayerFinder::Progress& progress, OnLine&& onLine)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throwFileError("Cannot open", path, errno);
    struct Closer
    {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{ fd };
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);

    maxLine = std::max<std::size_t>(maxLine, 1);
    std::vector<char> buffer(kBlock + maxLine + 1);
    char* const buf = buffer.data();
    std::size_t begin = 0;
    std::size_t end = 0;
    std::uint64_t lineNumber = 1; // of the line that starts at `begin`
    std::uint64_t total = 0;
    bool skipping = false; // in the part of a long line past its cut
    bool eof = false;

    // Complete lines p[0, n): hands the matching ones and counts them all.
    auto lines = [&](const char* p, std::size_t n) {
        needles.begin();
        std::size_t pos = 0; // a line start
        std::size_t counted = 0; // line ends before it are in lineNumber
        std::size_t size = 0;
        for (std::size_t at; (at = needles.find(p, n, pos, size)) != kNone;) {
            const std::size_t start = afterLastLineEnd(p, pos, at);
            if constexpr (kCountLines)
                lineNumber += countLineEnds(p + counted, start - counted);
            counted = start;
            const std::size_t lineEnd = nextLineEnd(p, n, at);
            const std::size_t kept = std::min(lineEnd - start, maxLine);
            if (at + size <= start + kept && !onLine(std::string_view(p + start, kept), lineNumber))
                return false;
            pos = lineEnd + (lineEnd + 1 < n && p[lineEnd] == '\r' && p[lineEnd + 1] == '\n' ? 2 : 1);
            if (pos >= n)
                break;
        }
        if constexpr (kCountLines)
            lineNumber += countLineEnds(p + counted, n - counted);
        return true;
    };

    for (;;) {
        ssize_t got;
        do
            got = ::read(fd, buf + end, buffer.size() - end);
        while (got < 0 && errno == EINTR);
        if (got < 0)
            throwFileError("Cannot read", path, errno);
        eof = got == 0;
        end += static_cast<std::size_t>(got);
        total += static_cast<std::uint64_t>(got);

        for (;;) {
            if (skipping) {
                const std::size_t t = nextLineEnd(buf, end, begin);
                if (t == end) {
                    begin = end;
                    break;
                }
                if (buf[t] == '\r' && t + 1 == end && !eof) {
                    begin = t; // is an LF next?
                    break;
                }
                begin = t + (buf[t] == '\r' && t + 1 < end && buf[t + 1] == '\n' ? 2 : 1);
                ++lineNumber;
                skipping = false;
                continue;
            }
            std::size_t stop = afterLastLineEnd(buf, begin, end);
            if (stop == end && stop > begin && buf[end - 1] == '\r' && !eof)
                stop = afterLastLineEnd(buf, begin, end - 1); // a CR LF may be split
            if (eof)
                stop = end;
            if (stop > begin) {
                if (!lines(buf + begin, stop - begin))
                    return false;
                begin = stop;
            }
            const std::size_t content = end - begin - (end > begin && buf[end - 1] == '\r' ? 1 : 0);
            if (!eof && content >= maxLine) {
                // A line longer than kept: its first maxLine bytes.
                needles.begin();
                std::size_t size = 0;
                const std::size_t at = needles.find(buf + begin, maxLine, 0, size);
                if (at != kNone && !onLine(std::string_view(buf + begin, maxLine), lineNumber))
                    return false;
                begin += maxLine;
                skipping = true;
                continue;
            }
            break;
        }
        if (begin > 0) {
            std::memmove(buf, buf + begin, end - begin);
            end -= begin;
            begin = 0;
        }
        if (progress)
            progress(total);
        if (cancel && cancel->load(std::memory_order_relaxed))
            return false;
        if (eof)
            return true;
    }
}

// The quotes of a line that bound its player fields and the event between.
struct Quotes
{
    std::array<std::size_t, 4> at{};
    std::size_t count = 0;

    explicit Quotes(std::string_view line)
    {
        for (std::size_t i = 0; i < line.size() && count < at.size(); ++i) {
            const void* quote = std::memchr(line.data() + i, '"', line.size() - i);
            if (!quote)
                break;
            i = static_cast<std::size_t>(static_cast<const char*>(quote) - line.data());
            at[count++] = i;
        }
    }
    // The text between the k-th and the (k+1)-th quote (k from 1).
    std::string_view between(std::string_view line, std::size_t k) const
    {
        if (count <= k)
            return {};
        return line.substr(at[k - 1] + 1, at[k] - at[k - 1] - 1);
    }
    // The text after the k-th quote up to the next one or the line's end.
    std::string_view after(std::string_view line, std::size_t k) const
    {
        if (count < k)
            return {};
        const std::size_t from = at[k - 1] + 1;
        return line.substr(from, (count > k ? at[k] : line.size()) - from);
    }
};

// A player field as the parser reads it (GetPlayerName and its kin with k =
// 1 or 3), or nothing for a quoted text that is no player field.
struct Field
{
    std::string_view name;
    std::string_view steamId;
    std::string_view team;
};

std::optional<Field> playerAt(std::string_view line, const Quotes& quotes, int k)
{
    const auto at = static_cast<std::size_t>(k);
    if (quotes.count <= at)
        return std::nullopt;
    std::size_t brackets = 0;
    const std::string_view text = quotes.between(line, at);
    for (const char c : text)
        brackets += c == '<';
    if (brackets < 3 || text.back() != '>')
        return std::nullopt;
    // The field with its quotes, read by the parser's own functions: the
    // field after the first quote of this piece is the k-th of the line.
    const std::string_view quoted = line.substr(quotes.at[at - 1], text.size() + 2);
    return Field{ GetPlayerName(quoted, 1), GetPlayerWonID(quoted, 1), GetPlayerTeam(quoted, 1) };
}

} // namespace

std::string_view eventName(PlayerEvent event)
{
    switch (event) {
    case PlayerEvent::Said:
        return "said";
    case PlayerEvent::SaidToTeam:
        return "said_team";
    case PlayerEvent::Killed:
        return "killed";
    case PlayerEvent::TeamKilled:
        return "team_killed";
    case PlayerEvent::WasKilled:
        return "was_killed";
    case PlayerEvent::WasTeamKilled:
        return "was_team_killed";
    case PlayerEvent::Connected:
        return "connected";
    case PlayerEvent::Entered:
        return "entered";
    case PlayerEvent::JoinedTeam:
        return "joined_team";
    case PlayerEvent::Disconnected:
        return "disconnected";
    case PlayerEvent::ChangedName:
        return "changed_name";
    }
    return {};
}

std::uint64_t timeKey(std::string_view time)
{
    // MM/DD/YYYY - hh:mm:ss
    static constexpr std::string_view kShape = "99/99/9999 - 99:99:99";
    if (time.size() != kShape.size())
        return 0;
    for (std::size_t i = 0; i < kShape.size(); ++i) {
        const bool digit = time[i] >= '0' && time[i] <= '9';
        if (kShape[i] == '9' ? !digit : time[i] != kShape[i])
            return 0;
    }
    auto number = [&](std::size_t at, std::size_t digits) {
        std::uint64_t n = 0;
        for (std::size_t i = 0; i < digits; ++i)
            n = n * 10 + static_cast<std::uint64_t>(time[at + i] - '0');
        return n;
    };
    const std::uint64_t date = number(6, 4) * 10000 + number(0, 2) * 100 + number(3, 2);
    return date * 1000000 + number(13, 2) * 10000 + number(16, 2) * 100 + number(19, 2);
}

std::vector<std::size_t> newestFirstOrder(const std::vector<PlayerAppearance>& appearances)
{
    std::vector<std::pair<std::uint64_t, std::size_t>> keys;
    keys.reserve(appearances.size());
    for (std::size_t i = 0; i < appearances.size(); ++i)
        keys.emplace_back(timeKey(appearances[i].time), i);
    std::sort(keys.begin(), keys.end(), [&](const auto& a, const auto& b) {
        if (a.first != b.first)
            return a.first > b.first;
        const PlayerAppearance& x = appearances[a.second];
        const PlayerAppearance& y = appearances[b.second];
        if (x.file != y.file)
            return x.file > y.file;
        if (x.line != y.line)
            return x.line > y.line;
        return a.second < b.second; // two appearances on one line keep their order
    });
    std::vector<std::size_t> order;
    order.reserve(keys.size());
    for (const auto& key : keys)
        order.push_back(key.second);
    return order;
}

void sortNewestFirst(std::vector<PlayerAppearance>& appearances)
{
    std::vector<PlayerAppearance> sorted;
    sorted.reserve(appearances.size());
    for (const std::size_t i : newestFirstOrder(appearances))
        sorted.push_back(std::move(appearances[i]));
    appearances = std::move(sorted);
}

bool isPersonalId(std::string_view id)
{
    for (const std::string_view prefix : { std::string_view("STEAM_"), std::string_view("VALVE_") })
        if (id.size() > prefix.size() && id.substr(0, prefix.size()) == prefix)
            return id[prefix.size()] >= '0' && id[prefix.size()] <= '9'
                && id.find_first_not_of("0123456789:", prefix.size()) == kNone;
    if (id.empty() || id.find_first_not_of("0123456789") != kNone)
        return false;
    return id.find_first_not_of('0') != kNone;
}

PlayerFinder::PlayerFinder(std::string text, std::size_t maxAppearances, std::size_t maxLineLength)
    : m_text(std::move(text))
    , m_maxAppearances(maxAppearances)
    , m_maxLine(std::max<std::size_t>(maxLineLength, 1))
{
    m_folded = m_text;
    for (char& c : m_folded)
        c = static_cast<char>(fold(c));
}

PlayerFinder::~PlayerFinder() = default;

bool PlayerFinder::searchFile(const std::string& path, std::size_t fileIndex, std::vector<PlayerAppearance>& out,
    const std::atomic<bool>* cancel, const Progress& progress)
{
    // A text with a line end can stand in no line; the file must still open.
    const bool hopeless = m_text.empty() || m_text.find_first_of("\r\n") != kNone;
    OneNeedle needles(Needle(hopeless ? std::string() : m_text, true));
    if (m_truncated)
        return false;
    return scanMatchingLines<true>(
        path, needles, m_maxLine, cancel, progress, [&](std::string_view line, std::uint64_t n) {
            firstPassLine(line, n, fileIndex, out);
            if (m_found >= m_maxAppearances) {
                m_truncated = true;
                return false;
            }
            return true;
        });
}

void PlayerFinder::firstPassLine(
    std::string_view line, std::uint64_t number, std::size_t fileIndex, std::vector<PlayerAppearance>& out)
{
    const Quotes quotes(line);
    const std::optional<Field> first = playerAt(line, quotes, 1);
    if (!first)
        return;
    const std::string_view folded = m_folded;
    auto matches = [&](const Field& f) { return containsFolded(f.name, folded) || equalsFolded(f.steamId, m_text); };

    const std::string_view verb = quotes.after(line, 2);
    auto startsWith = [&](std::string_view prefix) { return verb.substr(0, prefix.size()) == prefix; };
    const std::string time = line.size() > 2 && line.substr(0, 2) == "L " ? std::string(line.substr(2, 21)) : "";
    auto add = [&](const Field& f, PlayerEvent event, std::string_view detail) {
        if (m_found >= m_maxAppearances)
            return;
        ++m_found;
        out.push_back(PlayerAppearance{ fileIndex, number, time, std::string(f.name), std::string(f.steamId),
            std::string(f.team), event, std::string(detail) });
    };
    auto note = [&](const Field& f) {
        const bool found = matches(f);
        noteName(f.steamId, f.name, found);
        return found;
    };

    const bool firstMatches = note(*first);
    if (startsWith(" killed ") || startsWith(" attacked ")) {
        const std::optional<Field> second = playerAt(line, quotes, 3);
        const bool secondMatches = second && note(*second);
        if (!startsWith(" killed "))
            return;
        const bool teamKill = second && !first->team.empty() && first->team == second->team;
        if (firstMatches)
            add(*first, teamKill ? PlayerEvent::TeamKilled : PlayerEvent::Killed,
                second ? second->name : quotes.between(line, 3));
        if (secondMatches)
            add(*second, teamKill ? PlayerEvent::WasTeamKilled : PlayerEvent::WasKilled, first->name);
        return;
    }
    if (startsWith(" changed name to ")) {
        const std::string_view newName = quotes.between(line, 3);
        const bool newMatches = containsFolded(newName, folded);
        if (newMatches && !firstMatches)
            noteName(first->steamId, first->name, true);
        noteName(first->steamId, newName, firstMatches || newMatches);
        if (firstMatches || newMatches)
            add(*first, PlayerEvent::ChangedName, newName);
        return;
    }
    if (!firstMatches)
        return;
    // From the quote that opens the message to the line's end, as the chat
    // shows it.
    auto message = [&] { return quotes.count > 2 ? line.substr(quotes.at[2]) : std::string_view(); };
    if (startsWith(" say "))
        add(*first, PlayerEvent::Said, message());
    else if (startsWith(" say_team "))
        add(*first, PlayerEvent::SaidToTeam, message());
    else if (startsWith(" connected, address "))
        add(*first, PlayerEvent::Connected, quotes.between(line, 3));
    else if (startsWith(" entered the game"))
        add(*first, PlayerEvent::Entered, {});
    else if (startsWith(" joined team "))
        add(*first, PlayerEvent::JoinedTeam, quotes.between(line, 3));
    else if (startsWith(" disconnected"))
        add(*first, PlayerEvent::Disconnected, {});
}

void PlayerFinder::noteName(std::string_view steamId, std::string_view name, bool add)
{
    if (!isPersonalId(steamId))
        return;
    auto it = m_ids.find(steamId);
    if (it == m_ids.end()) {
        if (!add)
            return;
        if (m_ids.size() >= kMaxIds) {
            m_idsTruncated = true;
            return;
        }
        it = m_ids.emplace(std::string(steamId), IdNames()).first;
        m_idOrder.emplace_back(steamId);
    }
    std::vector<std::string>& names = it->second.names;
    if (names.size() < kMaxNames && std::find(names.begin(), names.end(), name) == names.end())
        names.emplace_back(name);
}

bool PlayerFinder::needsNamePass() const
{
    return std::any_of(
        m_idOrder.begin(), m_idOrder.end(), [&](const std::string& id) { return !equalsFolded(id, m_text); });
}

// A cache with a fixed number of slots, each holding one short field (a
// field that hashes to a taken slot replaces the one there).
struct PlayerFinder::SeenFields
{
    static constexpr std::size_t kLongest = 128;
    static constexpr std::size_t kSlots = 1024;

    std::vector<std::string> slots = std::vector<std::string>(kSlots);

    static std::size_t slot(std::string_view field) { return std::hash<std::string_view>()(field) % kSlots; }
    bool has(std::string_view field) const { return !field.empty() && slots[slot(field)] == field; }
    void add(std::string_view field)
    {
        if (field.size() <= kLongest)
            slots[slot(field)].assign(field);
    }
};

bool PlayerFinder::collectNames(const std::string& path, const std::atomic<bool>* cancel, const Progress& progress)
{
    std::vector<std::string> list;
    for (const std::string& id : m_idOrder)
        if (!equalsFolded(id, m_text))
            list.push_back(id);
    if (list.empty())
        return true;
    IdSet needles(list);
    // Most lines that hold an id repeat a player field seen before: noting
    // its name again changes nothing, as the ids known do not change in
    // this pass.
    SeenFields seen;
    // The line numbers are not needed here.
    return scanMatchingLines<false>(
        path, needles, m_maxLine, cancel, progress, [&](std::string_view line, std::uint64_t) {
            secondPassLine(line, seen);
            return true;
        });
}

void PlayerFinder::secondPassLine(std::string_view line, SeenFields& seen)
{
    // Only fields that are player fields are remembered.
    const Quotes quotes(line);
    const std::string_view verb = quotes.after(line, 2);
    const bool rename = verb.substr(0, 17) == " changed name to ";
    const std::string_view firstText = quotes.between(line, 1);
    if (rename || !seen.has(firstText)) {
        const std::optional<Field> first = playerAt(line, quotes, 1);
        if (!first)
            return;
        noteName(first->steamId, first->name, false);
        if (rename) {
            noteName(first->steamId, quotes.between(line, 3), false);
            return;
        }
        seen.add(firstText);
    }
    const std::string_view secondText = quotes.between(line, 3);
    if (quotes.count > 3 && !seen.has(secondText))
        if (const std::optional<Field> second = playerAt(line, quotes, 3)) {
            noteName(second->steamId, second->name, false);
            seen.add(secondText);
        }
}

std::vector<PlayerNames> PlayerFinder::otherNames() const
{
    std::vector<PlayerNames> out;
    out.reserve(m_idOrder.size());
    for (const std::string& id : m_idOrder)
        out.push_back(PlayerNames{ id, m_ids.find(id)->second.names });
    return out;
}

} // namespace velth
