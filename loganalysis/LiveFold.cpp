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

void LiveFold::restart(std::string_view firstLine)
{
    // A result handed out stays as it was: a new fold gets a new one.
    if (m_parser->lineCount() > 0)
        m_parser = std::make_shared<LogParser>();
    m_header = headerLine(firstLine);
    m_parser->addLine(m_header);
}

void LiveFold::add(std::string_view line)
{
    if (m_lineCount == 0)
        restart(line);
    m_parser->addLine(line);
    m_text.append(line);
    m_text.append("\r\n");
    ++m_lineCount;
}

bool LiveFold::full() const
{
    return m_lineCount > m_limits.maxLines || m_text.size() > m_limits.maxBytes;
}

void LiveFold::trim()
{
    // Drop from the front until both counts are within half their limits.
    const std::size_t keepLines = m_limits.maxLines / 2;
    const std::size_t keepBytes = m_limits.maxBytes / 2;
    std::size_t cut = 0;
    std::size_t lines = m_lineCount;
    while (lines > 0 && (lines > keepLines || m_text.size() - cut > keepBytes)) {
        const void* lf = std::memchr(m_text.data() + cut, '\n', m_text.size() - cut);
        cut = static_cast<std::size_t>(static_cast<const char*>(lf) - m_text.data()) + 1;
        --lines;
    }
    m_text.erase(0, cut);
    m_dropped += m_lineCount - lines;
    m_lineCount = lines;
    if (m_lineCount == 0) {
        m_parser = std::make_shared<LogParser>();
        m_header.clear();
        return;
    }
    const std::string_view text(m_text);
    std::size_t begin = 0;
    bool first = true;
    while (begin < text.size()) {
        const std::size_t end = text.find("\r\n", begin);
        const std::string_view line = text.substr(begin, end - begin);
        if (std::exchange(first, false))
            restart(line);
        m_parser->addLine(line);
        begin = end + 2;
    }
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
    out.reserve(m_header.size() + 2 + m_text.size());
    out += m_header;
    out += "\r\n";
    out += m_text;
    return out;
}

} // namespace velth
