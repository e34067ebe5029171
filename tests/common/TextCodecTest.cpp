#include "common/TextCodec.h"
#include "common/Error.h"

#include <gtest/gtest.h>

using namespace velth;

namespace {

std::string allBytes()
{
    std::string s;
    for (int b = 0; b < 256; ++b)
        s.push_back(static_cast<char>(b));
    return s;
}

} // namespace

// Every byte value must come back unchanged after decode and encode, whatever
// the encoding the decoder picked: editors save what they loaded.
TEST(TextCodec, EveryByteSurvivesRoundTrip)
{
    const std::string bytes = allBytes();
    const DecodedText decoded = decodeText(bytes);
    EXPECT_EQ(decoded.encoding, TextEncoding::Windows1252);
    EXPECT_EQ(decoded.text.size(), 256);
    EXPECT_EQ(encodeText(decoded.text, decoded.encoding), bytes);
}

TEST(TextCodec, PicksUtf8OnlyForValidUtf8)
{
    struct Case
    {
        std::string bytes;
        TextEncoding encoding;
        QString text;
    };
    const Case cases[] = {
        { "plain ascii", TextEncoding::Utf8, QStringLiteral("plain ascii") },
        { "J\xc3\xb6rg", TextEncoding::Utf8, QStringLiteral("J\u00f6rg") },
        { "J\xf6rg", TextEncoding::Windows1252, QStringLiteral("J\u00f6rg") },
        { "\x80 \x9f", TextEncoding::Windows1252, QStringLiteral("\u20ac \u0178") },
        // Undefined Windows-1252 slots keep their C1 code point.
        { "\x81\x8d\x8f\x90\x9d", TextEncoding::Windows1252, QStringLiteral("\u0081\u008d\u008f\u0090\u009d") },
        // A truncated UTF-8 sequence is not UTF-8.
        { "abc\xc3", TextEncoding::Windows1252, QStringLiteral("abc\u00c3") },
        // An encoded surrogate is not valid UTF-8 either.
        { "\xed\xa0\x80", TextEncoding::Windows1252, QStringLiteral("\u00ed\u00a0\u20ac") },
    };
    for (const Case& c : cases) {
        const DecodedText d = decodeText(c.bytes);
        EXPECT_EQ(d.encoding, c.encoding) << c.bytes;
        EXPECT_EQ(d.text, c.text) << c.bytes;
        EXPECT_EQ(encodeText(d.text, d.encoding), c.bytes);
    }
}

TEST(TextCodec, Windows1252RefusesCharactersItCannotHold)
{
    EXPECT_EQ(encodeText(QStringLiteral("\u20ac\u00ff"), TextEncoding::Windows1252), "\x80\xff");
    try {
        encodeText(QStringLiteral("ok \u03a9"), TextEncoding::Windows1252);
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("U+03A9"), std::string::npos) << e.what();
    }
    // Typed text is stored as UTF-8.
    EXPECT_EQ(fromDisplay(QStringLiteral("\u03a9")), "\xce\xa9");
}
