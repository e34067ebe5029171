#include "loganalysis/RtfWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include <unistd.h>

using velth::kRtfPieceSize;
using velth::RtfColor;
using velth::RtfParagraph;
using velth::writeRtf;

namespace {

const RtfColor kRed{ 255, 0, 0 };
const RtfColor kBlue{ 0, 0, 255 };

// The document body between the header and the closing brace.
std::string body(const std::string& rtf)
{
    const auto begin = rtf.find("\\fs16\r\n");
    const auto end = rtf.rfind('}');
    return rtf.substr(begin + 7, end - begin - 7);
}

TEST(RtfWriter, ColourTableInOrderOfFirstUse)
{
    const std::string rtf = writeRtf({ { { "a", kBlue } }, { { "b", kRed } }, { { "c", kBlue } } });
    EXPECT_EQ(rtf.rfind("{\\rtf1\\ansi\\ansicpg1252", 0), 0u);
    EXPECT_NE(rtf.find("{\\colortbl ;\\red0\\green0\\blue255;\\red255\\green0\\blue0;}"), std::string::npos);
    EXPECT_EQ(body(rtf), "\\cf1 a\\par\r\n\\cf2 b\\par\r\n\\cf1 c\\par\r\n");
    EXPECT_EQ(rtf.substr(rtf.size() - 3), "}\r\n");
}

TEST(RtfWriter, EmptyDocumentIsStillADocument)
{
    const std::string rtf = writeRtf({});
    EXPECT_NE(rtf.find("{\\colortbl ;}"), std::string::npos);
    EXPECT_EQ(body(rtf), "");
}

TEST(RtfWriter, EscapesAndEncodesCharacters)
{
    struct Case
    {
        std::string text;
        std::string written;
    };
    const Case cases[] = {
        { "a\\b{c}d", "a\\\\b\\{c\\}d" }, { "x\ty", "x\\tab y" }, { "line\r\nbreak\x01", "linebreak" },
        { "J\xc3\xb6rg \xe2\x82\xac", "J\\'f6rg \\'80" }, // UTF-8 within Windows-1252
        { "J\xf6rg \x80", "J\\'f6rg \\'80" }, // not UTF-8: the bytes are Windows-1252
        { "\xd0\x98\xd0\xb2", "\\u1048\\'3f\\u1074\\'3f" }, // beyond Windows-1252
        { "\xe5\x90\x8d", "\\u21517\\'3f" }, { "\xef\xbc\xa1", "\\u-223\\'3f" }, // above 0x7FFF: a negative number
        { "\xf0\x9f\x98\x80", "\\u-10179\\'3f\\u-8704\\'3f" }, // a surrogate pair
        { "\xc3", "\\'c3" }, // a cut sequence
        { "\xc0\xaf", "\\'c0\\'af" }, // an overlong form is no character
    };
    for (const Case& c : cases)
        EXPECT_EQ(body(writeRtf({ { { c.text, kRed } } })), "\\cf1 " + c.written + "\\par\r\n") << c.text;
}

TEST(RtfWriter, RunsOfOneLineKeepTheirColours)
{
    const std::string rtf = writeRtf({ { { "Alice: ", kBlue }, { "\"hi\"", kRed } } });
    EXPECT_EQ(body(rtf), "\\cf1 Alice: \\cf2 \"hi\"\\par\r\n");
}

// A document of any length goes out as it is made: in pieces of about
// kRtfPieceSize, the first before most paragraphs are made, each paragraph
// made once, and the pieces together the same bytes as the whole document.
// A run whose colour was not given is written in the reader's default colour.
TEST(RtfWriter, LongDocumentsGoOutInPiecesAsTheyAreMade)
{
    constexpr std::size_t kCount = 100000;
    const auto line = [](std::size_t i) {
        return RtfParagraph{ { "J\xc3\xb6rg{" + std::to_string(i) + "}: ", i % 3 == 0 ? kBlue : kRed },
            { "\"\xd0\x98\\x\"", kRed } };
    };
    std::size_t made = 0;
    std::size_t madeAtFirstPiece = 0;
    std::size_t pieces = 0;
    std::size_t largest = 0;
    std::string streamed;
    writeRtf(
        { kBlue, kRed }, kCount,
        [&](std::size_t i) {
            ++made;
            return line(i);
        },
        [&](std::string_view piece) {
            if (pieces++ == 0)
                madeAtFirstPiece = made;
            largest = std::max(largest, piece.size());
            streamed += piece;
        });
    EXPECT_EQ(made, kCount);
    EXPECT_LT(madeAtFirstPiece, kCount / 50);
    EXPECT_GT(pieces, 20u);
    EXPECT_LE(largest, kRtfPieceSize + 200);
    std::vector<RtfParagraph> whole;
    for (std::size_t i = 0; i < kCount; ++i)
        whole.push_back(line(i));
    EXPECT_EQ(streamed, writeRtf(whole));

    std::string unknown;
    writeRtf(
        { kRed }, 2,
        [](std::size_t i) {
            return RtfParagraph{ { "x", i == 0 ? kRed : kBlue } };
        },
        [&](std::string_view piece) { unknown += piece; });
    EXPECT_EQ(body(unknown), "\\cf1 x\\par\r\n\\cf0 x\\par\r\n");
}

// What a real RTF reader makes of a document: each line's text and the colours
// its characters were shown in, read from unrtf's HTML output.
struct ReadLine
{
    std::u32string text;
    std::set<std::string> colors;
};

std::u32string decodeUtf8(const std::string& s)
{
    std::u32string out;
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        const int n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        char32_t v = n == 1 ? c : c & (0x7F >> n);
        for (int k = 1; k < n; ++k)
            v = (v << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        out += v;
        i += n;
    }
    return out;
}

std::vector<ReadLine> readWithUnrtf(const std::string& rtfPath)
{
    const std::string command = "unrtf --html '" + rtfPath + "' 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    EXPECT_NE(pipe, nullptr);
    std::string html;
    char buffer[4096];
    while (pipe) {
        const std::size_t n = fread(buffer, 1, sizeof buffer, pipe);
        if (n == 0)
            break;
        html.append(buffer, n);
    }
    if (pipe) {
        EXPECT_EQ(pclose(pipe), 0) << "unrtf failed";
    }
    const std::map<std::string, char32_t> named = { { "quot", U'"' }, { "amp", U'&' }, { "lt", U'<' }, { "gt", U'>' },
        { "ouml", U'\u00f6' }, { "eacute", U'\u00e9' }, { "euro", U'\u20ac' }, { "AElig", U'\u00c6' },
        { "oslash", U'\u00f8' }, { "nbsp", U' ' } };

    std::vector<ReadLine> lines;
    ReadLine current;
    std::vector<std::string> colorStack;
    const std::size_t start = html.find("<body>");
    if (start == std::string::npos) {
        ADD_FAILURE() << "no body in unrtf output: " << html;
        return lines;
    }
    for (std::size_t i = start + 6; i < html.size();) {
        if (html[i] == '<') {
            const std::size_t close = html.find('>', i);
            const std::string tag = html.substr(i + 1, close - i - 1);
            i = close + 1;
            if (tag.rfind("font", 0) == 0) {
                const auto at = tag.find("color=\"");
                colorStack.push_back(at == std::string::npos ? std::string() : tag.substr(at + 7, 7));
            } else if (tag == "/font" && !colorStack.empty()) {
                colorStack.pop_back();
            } else if (tag == "br") {
                lines.push_back(current);
                current = {};
            }
            continue;
        }
        if (html[i] == '\n') {
            ++i;
            continue;
        }
        std::string color;
        for (auto it = colorStack.rbegin(); it != colorStack.rend() && color.empty(); ++it)
            color = *it;
        if (html[i] == '&') {
            const std::size_t semi = html.find(';', i);
            const std::string entity = html.substr(i + 1, semi - i - 1);
            i = semi + 1;
            if (entity[0] == '#') {
                current.text += static_cast<char32_t>(std::stoul(entity.substr(1)));
            } else if (named.count(entity)) {
                current.text += named.at(entity);
            } else {
                ADD_FAILURE() << "entity the test does not know: " << entity;
            }
        } else {
            const auto c = static_cast<unsigned char>(html[i]);
            const std::size_t n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
            current.text += decodeUtf8(html.substr(i, n));
            i += n;
        }
        current.colors.insert(color);
    }
    return lines;
}

// The T chat saved as RTF opens in a real reader with every line red and its
// text, non-ASCII names included, as it was.
TEST(RtfWriter, RealReaderShowsTheLinesInTheirColours)
{
    const std::vector<std::string> tchat = {
        "Bob: \"rush\"", "J\xc3\xb6rg: \"{go} B\\A\"", "\xc3\x86r\xc3\xb8 \xe2\x82\xac: \"caf\xc3\xa9\"",
        "\xd0\x98\xd0\xb2\xd0\xb0\xd0\xbd: \"\xe5\x90\x8d\xe5\x89\x8d\" (dead)",
        "Eve: \"a\xef\xbf\xbd"
        "b\"", // a line break shown as U+FFFD stays in its line
    };
    std::vector<RtfParagraph> paragraphs;
    for (const std::string& line : tchat)
        paragraphs.push_back({ { line, kRed } });
    paragraphs.push_back({ { "Carl: \"blue\"", kBlue } });

    const std::string path = (std::filesystem::temp_directory_path() / "velth-rtf-XXXXXX").string();
    std::string name = path;
    const int fd = mkstemp(name.data());
    ASSERT_GE(fd, 0);
    close(fd);
    std::ofstream(name, std::ios::binary) << writeRtf(paragraphs);
    const std::vector<ReadLine> lines = readWithUnrtf(name);
    std::filesystem::remove(name);

    ASSERT_EQ(lines.size(), tchat.size() + 1);
    for (std::size_t i = 0; i < tchat.size(); ++i) {
        EXPECT_EQ(lines[i].text, decodeUtf8(tchat[i])) << "line " << i;
        EXPECT_EQ(lines[i].colors, std::set<std::string>{ "#ff0000" }) << "line " << i;
    }
    EXPECT_EQ(lines.back().text, U"Carl: \"blue\"");
    EXPECT_EQ(lines.back().colors, std::set<std::string>{ "#0000ff" });
}

} // namespace
