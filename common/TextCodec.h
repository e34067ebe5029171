#pragma once

#include <QString>

#include <string>
#include <string_view>

namespace velth {

// The one place where the 8-bit text of files and servers becomes display text
// and back.
//
// Rule: text that is valid UTF-8 (it survives a decode/encode round trip
// unchanged) is shown as UTF-8; any other text is shown as Windows-1252, where
// the five byte values that code page leaves undefined (0x81, 0x8D, 0x8F, 0x90,
// 0x9D) map to the C1 control characters of the same number. Both mappings are
// one-to-one, so text decoded with one encoding and encoded with the same one
// gives back exactly the bytes it came from.
enum class TextEncoding { Utf8, Windows1252 };

struct DecodedText
{
    QString text;
    TextEncoding encoding = TextEncoding::Utf8;
};

// Decodes a whole document (or one line) by the rule above.
DecodedText decodeText(std::string_view bytes);

// Display text for a byte string, by the rule above.
QString toDisplay(std::string_view bytes);

// Encodes text with the given encoding. Throws velth::Error naming the first
// character that Windows-1252 cannot hold when that encoding is asked for.
std::string encodeText(const QString& text, TextEncoding encoding);

// Encoding for text the user typed (new profile names, field values): UTF-8.
std::string fromDisplay(const QString& text);

// Windows-1252 single-byte mapping, exposed for writers that need it (RTF).
char16_t windows1252ToUnicode(unsigned char byte);
// The Windows-1252 byte for a character, or -1 when it has none.
int unicodeToWindows1252(char16_t ch);

} // namespace velth
