#include "common/TextLines.h"

#include <gtest/gtest.h>

using namespace velth;
using Lines = std::vector<std::string>;

TEST(TextLines, SplitsAtEveryKindOfLineEnd)
{
    EXPECT_EQ(splitLines(""), Lines{});
    EXPECT_EQ(splitLines("a"), Lines{ "a" });
    EXPECT_EQ(splitLines("a\r\n"), Lines{ "a" });
    EXPECT_EQ(splitLines("x\ny\r\n\r\nz"), (Lines{ "x", "y", "", "z" }));
    EXPECT_EQ(splitLines("a\rb\r"), (Lines{ "a", "b" }));
    // CR CR LF is a lone CR followed by CR LF: two line ends.
    EXPECT_EQ(splitLines("a\r\r\nb"), (Lines{ "a", "", "b" }));
    EXPECT_EQ(splitLines("\n\n"), (Lines{ "", "" }));
    EXPECT_EQ(splitLines(std::string("a\0b\n", 4)), Lines{ std::string("a\0b", 3) });
}

TEST(TextLines, ListsEndEveryEntryWithCrLf)
{
    EXPECT_EQ(joinLinesCrLf({}), "");
    EXPECT_EQ(joinLinesCrLf({ "a", "", "b" }), "a\r\n\r\nb\r\n");
}

TEST(TextLines, EditorTextGetsCrLfAndNothingAdded)
{
    EXPECT_EQ(toCrLf("a\nb"), "a\r\nb");
    EXPECT_EQ(toCrLf("a\r\nb\rc\n"), "a\r\nb\r\nc\r\n");
    EXPECT_EQ(toCrLf("\n\r\n\r"), "\r\n\r\n\r\n");
    EXPECT_EQ(toCrLf(""), "");
}
