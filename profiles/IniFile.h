#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velth {

// An INI document held as its original lines, so that everything the program
// does not change is written back byte for byte.
//
// Format: a line whose first non-blank character is '[' and that holds a ']'
// starts a section named by the text between them; "key=value" lines belong to
// the section above them (key and value trimmed of blanks and tabs, then one
// pair of double quotes around the whole value removed, as Windows' own INI
// reader does); lines starting with ';' and lines without '=' are kept but
// mean nothing. A value that would not read back as written (outer blanks, or
// outer quotes of its own) is written inside double quotes. A UTF-8 byte order
// mark at the start of the file is skipped and written back. Section
// and key names compare without regard to ASCII case. The first of several
// equal sections or keys is the one read and written. Lines end at CR LF, LF
// or a lone CR and keep their own ending; lines the program adds end in CR LF.
class IniDocument
{
public:
    IniDocument() = default;
    explicit IniDocument(std::string_view bytes);

    std::string bytes() const;

    std::vector<std::string> sectionNames() const;
    std::optional<std::string> value(std::string_view section, std::string_view key) const;

    // Replaces the value of an existing key in place; adds a new key at the end
    // of its section; adds a missing section, with the key, at the end.
    void setValue(std::string_view section, std::string_view key, std::string_view value);

    // Removes the section's header line and every line up to the next section.
    // Returns false when there is no such section.
    bool eraseSection(std::string_view section);

private:
    struct Line
    {
        std::string text; // without its line end
        std::string end; // "\r\n", "\n", "\r" or "" for an unterminated last line
    };

    std::optional<std::size_t> findSection(std::string_view section) const;
    std::optional<std::size_t> findKey(std::size_t header, std::string_view key) const;
    std::size_t sectionEnd(std::size_t header) const;

    std::vector<Line> m_lines;
    bool m_byteOrderMark = false;
};

// Section name of a header line, if the line is one.
std::optional<std::string_view> iniSectionName(std::string_view line);

// Key and value of a "key=value" line, if the line is one; the value as it
// stands in the line, quotes included.
std::optional<std::pair<std::string_view, std::string_view>> iniKeyValue(std::string_view line);

// The value a stored value text means: one pair of enclosing double quotes removed.
std::string_view iniUnquote(std::string_view stored);

// The text to store for a value so that it reads back exactly.
std::string iniQuote(std::string_view value);

bool iniNamesEqual(std::string_view a, std::string_view b);

} // namespace velth
