#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
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

// The same document written as it is made, for documents too large to hold:
// the colour table comes first, so the colours are given up front (every
// colour the paragraphs use, in order of first use; a run in another colour
// is written in the reader's default colour). paragraph(i) makes the i-th of
// count paragraphs when it is due, and out receives the document in pieces
// of about kRtfPieceSize bytes (a piece holds at least one whole paragraph),
// so that no more than one piece and one paragraph are held at a time.
using RtfParagraphAt = std::function<RtfParagraph(std::size_t index)>;
using RtfOutput = std::function<void(std::string_view piece)>;
inline constexpr std::size_t kRtfPieceSize = 64 * 1024;
void writeRtf(
    const std::vector<RtfColor>& colors, std::size_t count, const RtfParagraphAt& paragraph, const RtfOutput& out);

} // namespace velth
