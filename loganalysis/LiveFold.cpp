#include "loganalysis/LiveFold.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace velth {

LiveFold::LiveFold(Limits limits)
    : m_limits(limits)
    , m_parser(std::make_shared<LogParser>())
{ }

LiveFold::LiveFold()
    : LiveFold(Limits())
{ }

std::string LiveFold::headerLine(std::string_view firstLine)
{
    // "L MM/DD/YYYY - hh:mm:ss: " is 25 characters.
    std::string header(firstLine.substr(0, 25));
    header += "Live log started";
    return header;
}

void LiveFold::add(std::string_view line)
{
    if (m_lineCount == 0) {
        // A result handed out stays as it was: a new fold gets a new one.
        if (m_parser->lineCount() > 0)
            m_parser = std::make_shared<LogParser>();
        m_header = headerLine(line);
        m_parser->addLine(m_header);
    }
    m_parser->addLine(line);
    const std::size_t size = line.size() + 2;
    if (m_pieces.empty() || m_pieces.back().text.capacity() - m_pieces.back().text.size() < size) {
        Piece piece;
        piece.text = std::move(m_spare);
        m_spare = std::string();
        piece.text.clear();
        piece.text.reserve(std::max(kPieceBytes, size));
        m_pieces.push_back(std::move(piece));
    }
    Piece& last = m_pieces.back();
    last.text.append(line);
    last.text.append("\r\n");
    ++last.lines;
    m_bytes += size;
    ++m_lineCount;
}

bool LiveFold::full() const
{
    return !trimming() && (m_lineCount > m_limits.maxLines || m_bytes > m_limits.maxBytes);
}

void LiveFold::trim()
{
    startTrim();
    continueTrim(SIZE_MAX);
}

void LiveFold::startTrim()
{
    if (trimming())
        return;
    // Drop from the front until both counts are within half their limits.
    const std::size_t keepLines = m_limits.maxLines / 2;
    const std::size_t keepBytes = m_limits.maxBytes / 2;
    const std::size_t before = m_lineCount;
    while (m_lineCount > 0 && (m_lineCount > keepLines || m_bytes > keepBytes)) {
        Piece& front = m_pieces.front();
        const std::size_t end = front.text.find('\n', m_frontOffset) + 1;
        m_bytes -= end - m_frontOffset;
        m_frontOffset = end;
        --front.lines;
        --m_lineCount;
        if (front.lines == 0) {
            if (m_spare.capacity() < front.text.capacity())
                m_spare = std::move(front.text);
            m_pieces.pop_front();
            m_frontOffset = 0;
        }
    }
    m_dropped += before - m_lineCount;
    if (m_lineCount == 0) {
        m_parser = std::make_shared<LogParser>();
        m_header.clear();
        return;
    }
    m_next = std::make_shared<LogParser>();
    m_nextPiece = 0;
    m_nextOffset = m_frontOffset;
    const std::string_view text(m_pieces.front().text);
    m_nextHeader = headerLine(text.substr(m_frontOffset, text.find("\r\n", m_frontOffset) - m_frontOffset));
    m_next->addLine(m_nextHeader);
}

bool LiveFold::continueTrim(std::size_t lines)
{
    if (!trimming())
        return false;
    for (; m_nextPiece < m_pieces.size() && lines > 0; ++m_nextPiece, m_nextOffset = 0) {
        const std::string_view text(m_pieces[m_nextPiece].text);
        while (m_nextOffset < text.size() && lines > 0) {
            const std::size_t end = text.find("\r\n", m_nextOffset);
            m_next->addLine(text.substr(m_nextOffset, end - m_nextOffset));
            m_nextOffset = end + 2;
            --lines;
        }
        if (m_nextOffset < text.size())
            return false;
    }
    if (m_nextPiece < m_pieces.size())
        return false;
    m_parser = std::move(m_next);
    m_next.reset();
    m_header = std::move(m_nextHeader);
    return true;
}

std::shared_ptr<const ScanResult> LiveFold::result() const
{
    return std::shared_ptr<const ScanResult>(m_parser, &m_parser->result());
}

std::string LiveFold::fileBytes() const
{
    if (m_lineCount == 0)
        return {};
    std::string out;
    out.reserve(m_header.size() + 2 + m_bytes);
    out += m_header;
    out += "\r\n";
    std::size_t offset = m_frontOffset;
    for (const Piece& piece : m_pieces) {
        out.append(piece.text, offset);
        offset = 0;
    }
    return out;
}

} // namespace velth
