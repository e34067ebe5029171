#pragma once

#include "loganalysis/LogParser.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>

namespace velth {

// The lines a server sends as they happen, folded into a scan result as they
// come, and kept so they can be written as a log file.
//
// A live stream has no "Log file started" line of its own: its first line is
// an event like any other. So the fold begins with a header line made from
// the first line's time ("L MM/DD/YYYY - hh:mm:ss: Live log started"), which
// the parser reads for the time only, and every received line is an event
// line. The saved file begins with the same header, so the result always
// equals a scan of the file that fileBytes() gives.
//
// Memory is bounded: when the kept lines pass a limit, trim() drops the
// oldest ones until half the limit is left and folds the rest anew, so the
// result stays the scan of what is kept.
class LiveFold
{
public:
    struct Limits
    {
        std::size_t maxLines = 200000;
        std::size_t maxBytes = 32 << 20;
    };

    explicit LiveFold(Limits limits);
    LiveFold();

    // Folds one received line (no line end; it must not hold CR or LF).
    void add(std::string_view line);

    // The kept lines are beyond a limit: time to trim() (never while a trim
    // is still folding the lines it kept).
    bool full() const;
    // Drops the oldest lines down to half the limits and folds the rest into
    // a new result (result() then returns another object).
    void trim();
    // The same in steps, so that no step takes long: startTrim() drops the
    // lines; each continueTrim() folds up to `lines` of the kept ones into the
    // new result, and returns true when that is done and result() returns it.
    // Until then result() is the old fold, which lines added meanwhile still
    // reach.
    void startTrim();
    bool continueTrim(std::size_t lines);
    bool trimming() const { return m_next != nullptr; }

    // The fold so far; stays alive (unchanged) for its holders after a trim.
    std::shared_ptr<const ScanResult> result() const;
    // Lines kept and folded (the header not counted).
    std::size_t lineCount() const { return m_lineCount; }
    std::uint64_t droppedLines() const { return m_dropped; }
    bool empty() const { return m_lineCount == 0; }

    // The log file of the kept lines: the header and every line, each ended
    // by CR LF. Empty when nothing was received.
    std::string fileBytes() const;

    // The first line of the fold and of the file for a stream whose first
    // line is `firstLine`.
    static std::string headerLine(std::string_view firstLine);

private:
    Limits m_limits;
    std::shared_ptr<LogParser> m_parser;
    std::string m_header;
    // A trim's new fold and how far into the kept lines it has come.
    std::shared_ptr<LogParser> m_next;
    std::string m_nextHeader;
    std::size_t m_nextPiece = 0;
    std::size_t m_nextOffset = 0;
    // The kept lines, each followed by CR LF: the file's body as it stands,
    // in pieces that are filled and never moved; the first m_frontOffset
    // bytes of the first piece are dropped already.
    struct Piece
    {
        std::string text;
        std::size_t lines = 0;
    };
    static constexpr std::size_t kPieceBytes = 1 << 20;
    std::deque<Piece> m_pieces;
    std::string m_spare; // a dropped piece's memory, for the next one
    std::size_t m_frontOffset = 0;
    std::size_t m_bytes = 0;
    std::size_t m_lineCount = 0;
    std::uint64_t m_dropped = 0;
};

} // namespace velth
