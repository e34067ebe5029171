#include "loganalysis/ListingLine.h"

#include <gtest/gtest.h>

using velth::ListingRow;
using velth::readListingLine;

namespace {

struct LineCase
{
    const char* label;
    std::string line;
    std::optional<ListingRow> row;
};

void PrintTo(const LineCase& c, std::ostream* os)
{
    *os << c.label;
}

class ListingLineTest : public ::testing::TestWithParam<LineCase>
{ };

TEST_P(ListingLineTest, ReadsTheRowByFields)
{
    const LineCase& c = GetParam();
    EXPECT_EQ(readListingLine(c.line), c.row) << c.line;
}

const LineCase kLines[] = {
    { "documented layout", "-rw-r--r--   1 owner    group       48213 Oct 20 20:13 L1020000.log",
        ListingRow{ "L1020000.log", "Oct 20 20:13 ", "48213" } },
    { "year keeps its inner spaces", "-rw-r--r--   1 hlds     hlds         1022 Oct 21  2003 L1021000.log",
        ListingRow{ "L1021000.log", "Oct 21  2003 ", "1022" } },
    // Cutting by position took the group id for the size on vsftpd.
    { "vsftpd old file", "-rw-r--r--    1 1001     1001           70 Oct 21  2003 L0101000.log",
        ListingRow{ "L0101000.log", "Oct 21  2003 ", "70" } },
    { "vsftpd recent file", "-rw-r--r--    1 1001     1001          130 Dec 07 23:30 L1020000.log",
        ListingRow{ "L1020000.log", "Dec 07 23:30 ", "130" } },
    { "link count one column further right", "-rw-r--r--    1 1000     1000        48213 Oct 20 20:13 L1020000.log",
        ListingRow{ "L1020000.log", "Oct 20 20:13 ", "48213" } },
    { "proftpd", "-rw-r--r--   1 ftptest  ftptest       130 Dec  7 23:25 L1020000.log",
        ListingRow{ "L1020000.log", "Dec  7 23:25 ", "130" } },
    { "pyftpdlib", "-rw-r--r--   1 ftptest  ftptest       130 Dec 07 22:59 L1020000.log",
        ListingRow{ "L1020000.log", "Dec 07 22:59 ", "130" } },
    { "pure-ftpd", "-rw-r--r--    1 ftptest    ftptest           130 Dec  7 23:35 L1020000.log",
        ListingRow{ "L1020000.log", "Dec  7 23:35 ", "130" } },
    { "two-digit link count", "-rw-r--r--  12 root root 5 Jan  1  1999 a.log",
        ListingRow{ "a.log", "Jan  1  1999 ", "5" } },
    { "no group column", "-rw-r--r-- 1 hlds 48213 Oct 20 20:13 L1020000.log",
        ListingRow{ "L1020000.log", "Oct 20 20:13 ", "48213" } },
    { "ACL mark on the permissions", "-rw-r--r--+  1 a b 9 Oct 20 20:13 x.log",
        ListingRow{ "x.log", "Oct 20 20:13 ", "9" } },
    // The name was cut at its last space, so "my log.log" became "log.log".
    { "name with spaces", "-rw-r--r--   1 ftptest  ftptest        57 Dec  7 23:33 my log.log",
        ListingRow{ "my log.log", "Dec  7 23:33 ", "57" } },
    { "name with a leading and a double space", "-rw-r--r--   1 a b 57 Dec  7 23:33  two  spaces.log",
        ListingRow{ " two  spaces.log", "Dec  7 23:33 ", "57" } },
    { "CR LF line end", "-rw-r--r--   1 a b 57 Dec  7 23:33 L1.log\r", ListingRow{ "L1.log", "Dec  7 23:33 ", "57" } },
    { "8-bit name", "-rw-r--r--   1 a b 57 Dec  7 23:33 J\xf6rg.log",
        ListingRow{ "J\xf6rg.log", "Dec  7 23:33 ", "57" } },
    { "DOS layout", "10-21-03  08:13PM                   70 L0101000.log",
        ListingRow{ "L0101000.log", "10-21-03  08:13PM", "70" } },
    { "DOS layout, four-digit year, name with spaces", "12-07-2026  09:05AM  1234 my log.log",
        ListingRow{ "my log.log", "12-07-2026  09:05AM", "1234" } },
    { "DOS 24-hour time", "12-07-26  21:05  1234 L1.log", ListingRow{ "L1.log", "12-07-26  21:05", "1234" } },
    { "total line", "total 12", std::nullopt },
    { "empty line", "", std::nullopt },
    { "lone CR", "\r", std::nullopt },
    { "folder", "drwxr-xr-x   2 hlds     hlds         4096 Oct 20 20:13 old.log", std::nullopt },
    { "link", "lrwxrwxrwx   1 hlds     hlds           12 Oct 20 20:13 last.log -> L1.log", std::nullopt },
    { "DOS folder", "10-21-03  08:13PM       <DIR>          logs.log", std::nullopt },
    { "short line", "-rw-r--r--   1", std::nullopt },
    { "fifteen characters only", "-rw-r--r--   1 ", std::nullopt },
    { "no name after the date", "-rw-r--r--   1 a b 57 Dec  7 23:33", std::nullopt },
    { "no name, trailing space", "-rw-r--r--   1 a b 57 Dec  7 23:33 ", std::nullopt },
    { "size not a number", "-rw-r--r--   1 a b big Dec  7 23:33 x.log", std::nullopt },
    { "no date", "-rw-r--r--   1 a b 57 x.log", std::nullopt },
    { "pure-ftpd reply text", "226 3 matches total", std::nullopt },
    { "spaces only", "      ", std::nullopt },
};

INSTANTIATE_TEST_SUITE_P(Layouts, ListingLineTest, ::testing::ValuesIn(kLines));

TEST(LocalName, RefusesNamesThatLeaveTheFolder)
{
    for (const char* name : { "", ".", "..", "../x.log", "a/b.log", "/etc/x.log", "..\\x.log", "a\\b.log", "x\x01.log",
             "x\n.log", "x\x7f.log", "x\t.log" })
        EXPECT_FALSE(velth::isSafeLocalName(name)) << name;
    for (const char* name : { "L1020000.log", "my log.log", "..log", "...", ".hidden.log", "J\xf6rg.log", "x..log" })
        EXPECT_TRUE(velth::isSafeLocalName(name)) << name;
}

TEST(LogExtension, AnyLetterCase)
{
    for (const char* name : { "a.log", "A.LOG", "b.Log", ".log", "x.lOg" })
        EXPECT_TRUE(velth::hasLogExtension(name)) << name;
    for (const char* name : { "", "log", "a.txt", "a.logs", "a_log", "a.log.txt", "alog" })
        EXPECT_FALSE(velth::hasLogExtension(name)) << name;
}

// A listing mixes entries with lines that are none, hostile names and other
// files; only the safe log entries come out, in listing order, and an odd line
// never ends the reading.
TEST(LogListing, KeepsSafeLogEntriesInOrder)
{
    const std::vector<std::string> lines = {
        "total 24",
        "-rw-r--r--   1 a b 10 Oct 20 20:13 L2.log",
        "",
        "drwxr-xr-x   2 a b 4096 Oct 20 20:13 sub.log",
        "-rw-r--r--   1 a b 11 Oct 20 20:13 ../x.log",
        "-rw-r--r--   1 a b 12 Oct 20 20:13 a/b.log",
        "-rw-r--r--   1 a b 13 Oct 20 20:13 ..",
        "-rw-r--r--   1 a b 14 Oct 20 20:13 notes.txt",
        "garbage",
        "-rw-r--r--   1 a b 15 Oct 20 20:13 L1.LOG",
        "-rw-r--r--   1 a b 16 Oct 20 20:13 my log.log",
    };
    const std::vector<ListingRow> expected = {
        { "L2.log", "Oct 20 20:13 ", "10" },
        { "L1.LOG", "Oct 20 20:13 ", "15" },
        { "my log.log", "Oct 20 20:13 ", "16" },
    };
    EXPECT_EQ(velth::readLogListing(lines), expected);
    EXPECT_TRUE(velth::readLogListing({}).empty());
}

} // namespace
