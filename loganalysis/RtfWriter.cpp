#include "loganalysis/RtfWriter.h"

#include "common/TextCodec.h"

#include <algorithm>
#include <cstdio>

namespace velth {
namespace {

// Decodes one character at `pos` and advances past it. Invalid UTF-8 takes
// the single byte as Windows-1252.
char32_t nextCharacter(const std::string& text, std::size_t& pos)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(pos);
    std::size_t length = 0;
    char32_t value = 0;
    char32_t minimum = 0;
    if (lead < 0x80) {
        ++pos;
        return lead;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2;
        value = lead & 0x1F;
        minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        value = lead & 0x0F;
        minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        value = lead & 0x07;
        minimum = 0x10000;
    }
    bool valid = length != 0 && pos + length <= text.size();
    for (std::size_t i = 1; valid && i < length; ++i) {
        if ((byte(pos + i) & 0xC0) != 0x80)
            valid = false;
        else
            value = (value << 6) | (byte(pos + i) & 0x3F);
    }
    if (valid && value >= minimum && value <= 0x10FFFF && (value < 0xD800 || value > 0xDFFF)) {
        pos += length;
        return value;
    }
    ++pos;
    return windows1252ToUnicode(lead);
}

void appendUnicodeUnit(std::string& out, char16_t unit)
{
    // RTF takes a signed 16-bit number, followed (\uc1) by one substitute
    // character for readers without Unicode support: a '?' written as \'3f, as
    // word processors write it, since some readers drop plain text after \uN.
    out += "\\u" + std::to_string(static_cast<std::int16_t>(unit)) + "\\'3f";
}

void appendCharacter(std::string& out, char32_t c)
{
    if (c == '\\' || c == '{' || c == '}') {
        out += '\\';
        out += static_cast<char>(c);
    } else if (c == '\t') {
        out += "\\tab ";
    } else if (c < 0x20 || c == 0x7F) {
        // Line breaks and other controls have no place inside a line.
    } else if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c <= 0xFFFF && unicodeToWindows1252(static_cast<char16_t>(c)) >= 0x80 && !(c >= 0x80 && c <= 0x9F)) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\'%02x", unicodeToWindows1252(static_cast<char16_t>(c)));
        out += hex;
    } else if (c <= 0xFFFF) {
        appendUnicodeUnit(out, static_cast<char16_t>(c));
    } else {
        const char32_t v = c - 0x10000;
        appendUnicodeUnit(out, static_cast<char16_t>(0xD800 + (v >> 10)));
        appendUnicodeUnit(out, static_cast<char16_t>(0xDC00 + (v & 0x3FF)));
    }
}

std::string colorEntry(const RtfColor& color)
{
    return "\\red" + std::to_string(color.red) + "\\green" + std::to_string(color.green) + "\\blue"
        + std::to_string(color.blue) + ';';
}

} // namespace

std::string writeRtf(const std::vector<RtfParagraph>& paragraphs)
{
    std::vector<RtfColor> colors;
    for (const RtfParagraph& paragraph : paragraphs)
        for (const RtfRun& run : paragraph)
            if (std::find(colors.begin(), colors.end(), run.color) == colors.end())
                colors.push_back(run.color);
    std::string document;
    writeRtf(
        colors, paragraphs.size(), [&](std::size_t index) { return paragraphs[index]; },
        [&](std::string_view piece) { document += piece; });
    return document;
}

void writeRtf(
    const std::vector<RtfColor>& colors, std::size_t count, const RtfParagraphAt& paragraph, const RtfOutput& out)
{
    std::string piece = "{\\rtf1\\ansi\\ansicpg1252\\deff0\\uc1\r\n"
                        "{\\fonttbl{\\f0\\fswiss\\fcharset0 MS Sans Serif;}}\r\n"
                        "{\\colortbl ;";
    for (const RtfColor& color : colors)
        piece += colorEntry(color);
    piece += "}\r\n\\viewkind4\\pard\\plain\\f0\\fs16\r\n";

    for (std::size_t i = 0; i < count; ++i) {
        for (const RtfRun& run : paragraph(i)) {
            const auto found = std::find(colors.begin(), colors.end(), run.color);
            const auto index = found == colors.end() ? 0 : found - colors.begin() + 1;
            piece += "\\cf" + std::to_string(index) + ' ';
            for (std::size_t pos = 0; pos < run.text.size();)
                appendCharacter(piece, nextCharacter(run.text, pos));
        }
        piece += "\\par\r\n";
        if (piece.size() >= kRtfPieceSize) {
            out(piece);
            piece.clear();
        }
    }
    piece += "}\r\n";
    out(piece);
}

} // namespace velth
