#include "profiles/IniFile.h"

namespace velth {
namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string_view trim(std::string_view s)
{
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

char lowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

} // namespace

bool iniNamesEqual(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lowerAscii(a[i]) != lowerAscii(b[i]))
            return false;
    return true;
}

std::optional<std::string_view> iniSectionName(std::string_view line)
{
    line = trim(line);
    if (line.empty() || line.front() != '[')
        return std::nullopt;
    const auto close = line.find(']');
    if (close == std::string_view::npos)
        return std::nullopt;
    return trim(line.substr(1, close - 1));
}

std::optional<std::pair<std::string_view, std::string_view>> iniKeyValue(std::string_view line)
{
    const std::string_view t = trim(line);
    if (t.empty() || t.front() == ';' || t.front() == '[')
        return std::nullopt;
    const auto eq = t.find('=');
    if (eq == std::string_view::npos)
        return std::nullopt;
    return std::pair{ trim(t.substr(0, eq)), trim(t.substr(eq + 1)) };
}

std::string_view iniUnquote(std::string_view stored)
{
    if (stored.size() >= 2 && stored.front() == '"' && stored.back() == '"')
        return stored.substr(1, stored.size() - 2);
    return stored;
}

std::string iniQuote(std::string_view value)
{
    if (!value.empty() && (isBlank(value.front()) || isBlank(value.back()) || iniUnquote(value) != value))
        return "\"" + std::string(value) + "\"";
    return std::string(value);
}

IniDocument::IniDocument(std::string_view bytes)
{
    constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
    if (bytes.starts_with(kByteOrderMark)) {
        m_byteOrderMark = true;
        bytes.remove_prefix(kByteOrderMark.size());
    }
    std::size_t start = 0;
    const std::size_t n = bytes.size();
    for (std::size_t i = 0; i < n; ++i) {
        const char c = bytes[i];
        if (c != '\r' && c != '\n')
            continue;
        std::size_t endLen = 1;
        if (c == '\r' && i + 1 < n && bytes[i + 1] == '\n')
            endLen = 2;
        m_lines.push_back({ std::string(bytes.substr(start, i - start)), std::string(bytes.substr(i, endLen)) });
        i += endLen - 1;
        start = i + 1;
    }
    if (start < n)
        m_lines.push_back({ std::string(bytes.substr(start)), std::string() });
}

std::string IniDocument::bytes() const
{
    std::string out = m_byteOrderMark ? "\xEF\xBB\xBF" : "";
    for (const auto& line : m_lines) {
        out += line.text;
        out += line.end;
    }
    return out;
}

std::vector<std::string> IniDocument::sectionNames() const
{
    std::vector<std::string> names;
    for (const auto& line : m_lines)
        if (auto name = iniSectionName(line.text))
            names.emplace_back(*name);
    return names;
}

std::optional<std::size_t> IniDocument::findSection(std::string_view section) const
{
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
        const auto name = iniSectionName(m_lines[i].text);
        if (name && iniNamesEqual(*name, section))
            return i;
    }
    return std::nullopt;
}

std::size_t IniDocument::sectionEnd(std::size_t header) const
{
    std::size_t i = header + 1;
    while (i < m_lines.size() && !iniSectionName(m_lines[i].text))
        ++i;
    return i;
}

std::optional<std::size_t> IniDocument::findKey(std::size_t header, std::string_view key) const
{
    const std::size_t end = sectionEnd(header);
    for (std::size_t i = header + 1; i < end; ++i) {
        const auto kv = iniKeyValue(m_lines[i].text);
        if (kv && iniNamesEqual(kv->first, key))
            return i;
    }
    return std::nullopt;
}

std::optional<std::string> IniDocument::value(std::string_view section, std::string_view key) const
{
    const auto header = findSection(section);
    if (!header)
        return std::nullopt;
    const auto line = findKey(*header, key);
    if (!line)
        return std::nullopt;
    return std::string(iniUnquote(iniKeyValue(m_lines[*line].text)->second));
}

void IniDocument::setValue(std::string_view section, std::string_view key, std::string_view plainValue)
{
    const std::string value = iniQuote(plainValue);
    const auto header = findSection(section);
    if (!header) {
        if (!m_lines.empty() && m_lines.back().end.empty())
            m_lines.back().end = "\r\n";
        m_lines.push_back({ "[" + std::string(section) + "]", "\r\n" });
        m_lines.push_back({ std::string(key) + "=" + value, "\r\n" });
        return;
    }
    if (const auto line = findKey(*header, key)) {
        // Keep the key as it is spelled in the file; only the value changes.
        const auto kv = iniKeyValue(m_lines[*line].text);
        m_lines[*line].text = std::string(kv->first) + "=" + value;
        return;
    }
    // After the section's last key line, ahead of trailing blank lines and comments.
    std::size_t insertAt = *header + 1;
    const std::size_t end = sectionEnd(*header);
    for (std::size_t i = *header + 1; i < end; ++i)
        if (iniKeyValue(m_lines[i].text))
            insertAt = i + 1;
    if (insertAt > 0 && m_lines[insertAt - 1].end.empty())
        m_lines[insertAt - 1].end = "\r\n";
    m_lines.insert(
        m_lines.begin() + static_cast<std::ptrdiff_t>(insertAt), Line{ std::string(key) + "=" + value, "\r\n" });
}

bool IniDocument::eraseSection(std::string_view section)
{
    const auto header = findSection(section);
    if (!header)
        return false;
    const std::size_t end = sectionEnd(*header);
    m_lines.erase(
        m_lines.begin() + static_cast<std::ptrdiff_t>(*header), m_lines.begin() + static_cast<std::ptrdiff_t>(end));
    return true;
}

} // namespace velth
