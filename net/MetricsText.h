#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

// The Prometheus text exposition format (version 0.0.4): metric families,
// each a HELP and a TYPE line followed by its samples. Label values are any
// UTF-8 text; the writer escapes what the format reserves, so no byte a game
// server sends can end a label, start a line or forge another sample.

namespace velth::metrics {

// The media type a scrape is answered with.
inline constexpr std::string_view kContentType = "text/plain; version=0.0.4; charset=utf-8";

// A label value with backslash, double quote and line feed escaped as the
// format wants them (\\, \", \n). The text must be valid UTF-8 (decode a
// server's bytes through the text codec first).
std::string escapeLabelValue(std::string_view utf8);

// A sample value as the format writes it: the shortest text that reads back
// to the same double, "NaN", "+Inf" or "-Inf".
std::string formatValue(double value);

struct Label
{
    std::string_view name; // [a-zA-Z_][a-zA-Z0-9_]*, the program's own
    std::string_view value; // UTF-8, escaped by the writer
};

// Builds one exposition text. A family's samples must follow its family()
// call; the names are the program's own and are not checked.
class Exposition
{
public:
    void family(std::string_view name, std::string_view type, std::string_view help);
    void sample(std::string_view name, std::initializer_list<Label> labels, double value);

    const std::string& text() const { return m_text; }
    std::string take() { return std::move(m_text); }

private:
    std::string m_text;
};

} // namespace velth::metrics
