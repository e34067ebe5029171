#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velth {

struct RtfColor
{
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;

    bool operator==(const RtfColor&) const = default;
};

// A stretch of text in one colour. The text is UTF-8; a byte that does not
// belong to a valid UTF-8 sequence is taken as a Windows-1252 character.
struct RtfRun
{
    std::string text;
    RtfColor color;
};

// One line of the document.
using RtfParagraph = std::vector<RtfRun>;

// A whole RTF document: a font table, a colour table of the colours used (in
// order of first use), and each paragraph with its runs in their colours.
// '\', '{' and '}' are escaped; characters outside 7-bit ASCII are written as
// \'hh when Windows-1252 has them and as \uN\'3f (UTF-16 units, each with a
// '?' for readers without Unicode) otherwise; a tab
// becomes \tab and other control characters are left out. Lines end in CR LF
// in the file; the document ends after its closing brace with CR LF.
std::string writeRtf(const std::vector<RtfParagraph>& paragraphs);

} // namespace velth
