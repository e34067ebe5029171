#include "common/TextCodec.h"

#include "common/Error.h"

#include <array>

namespace velth {
namespace {

// 0x80..0x9F of Windows-1252; the undefined slots keep their C1 code point.
constexpr std::array<char16_t, 32> kHighTable = {
    0x20AC,
    0x0081,
    0x201A,
    0x0192,
    0x201E,
    0x2026,
    0x2020,
    0x2021,
    0x02C6,
    0x2030,
    0x0160,
    0x2039,
    0x0152,
    0x008D,
    0x017D,
    0x008F,
    0x0090,
    0x2018,
    0x2019,
    0x201C,
    0x201D,
    0x2022,
    0x2013,
    0x2014,
    0x02DC,
    0x2122,
    0x0161,
    0x203A,
    0x0153,
    0x009D,
    0x017E,
    0x0178,
};

QString decodeWindows1252(std::string_view bytes)
{
    QString out(static_cast<qsizetype>(bytes.size()), Qt::Uninitialized);
    QChar* dst = out.data();
    for (unsigned char b : bytes)
        *dst++ = QChar(windows1252ToUnicode(b));
    return out;
}

bool isAscii(std::string_view bytes)
{
    for (unsigned char b : bytes)
        if (b >= 0x80)
            return false;
    return true;
}

} // namespace

char16_t windows1252ToUnicode(unsigned char byte)
{
    if (byte >= 0x80 && byte < 0xA0)
        return kHighTable[byte - 0x80];
    return byte;
}

int unicodeToWindows1252(char16_t ch)
{
    if (ch < 0x80 || (ch >= 0xA0 && ch <= 0xFF))
        return ch;
    for (std::size_t i = 0; i < kHighTable.size(); ++i)
        if (kHighTable[i] == ch)
            return static_cast<int>(0x80 + i);
    return -1;
}

DecodedText decodeText(std::string_view bytes)
{
    const auto size = static_cast<qsizetype>(bytes.size());
    if (isAscii(bytes))
        return { QString::fromLatin1(bytes.data(), size), TextEncoding::Utf8 };
    QString utf8 = QString::fromUtf8(bytes.data(), size);
    const QByteArray back = utf8.toUtf8();
    if (std::string_view(back.constData(), static_cast<std::size_t>(back.size())) == bytes)
        return { std::move(utf8), TextEncoding::Utf8 };
    return { decodeWindows1252(bytes), TextEncoding::Windows1252 };
}

QString toDisplay(std::string_view bytes)
{
    return decodeText(bytes).text;
}

std::string encodeText(const QString& text, TextEncoding encoding)
{
    if (encoding == TextEncoding::Utf8) {
        const QByteArray utf8 = text.toUtf8();
        return std::string(utf8.constData(), static_cast<std::size_t>(utf8.size()));
    }
    std::string out;
    out.reserve(static_cast<std::size_t>(text.size()));
    for (QChar ch : text) {
        const int b = unicodeToWindows1252(ch.unicode());
        if (b < 0)
            throw Error("The character U+"
                + QString::number(ch.unicode(), 16).toUpper().rightJustified(4, u'0').toStdString()
                + " cannot be stored in this file, which is Windows-1252 text");
        out.push_back(static_cast<char>(b));
    }
    return out;
}

std::string fromDisplay(const QString& text)
{
    return encodeText(text, TextEncoding::Utf8);
}

} // namespace velth
