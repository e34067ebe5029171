#include "skin/RegionRecord.h"

#include <gtest/gtest.h>

#include <string>

using namespace velth::region;

namespace {

std::string le32(std::uint32_t v)
{
    std::string s;
    for (int i = 0; i < 4; ++i)
        s.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
    return s;
}

// A region data record as the window system writes it.
std::string record(const std::vector<Rect>& rects, std::uint32_t headerSize = 32, std::uint32_t type = 1,
    std::int64_t countOverride = -1)
{
    std::string data = le32(headerSize) + le32(type)
        + le32(
            countOverride >= 0 ? static_cast<std::uint32_t>(countOverride) : static_cast<std::uint32_t>(rects.size()))
        + le32(static_cast<std::uint32_t>(rects.size() * 16));
    Rect bound = rects.empty() ? Rect{} : rects.front();
    for (const Rect& r : rects) {
        bound.left = std::min(bound.left, r.left);
        bound.top = std::min(bound.top, r.top);
        bound.right = std::max(bound.right, r.right);
        bound.bottom = std::max(bound.bottom, r.bottom);
    }
    for (std::int32_t v : { bound.left, bound.top, bound.right, bound.bottom })
        data += le32(static_cast<std::uint32_t>(v));
    for (const Rect& r : rects)
        for (std::int32_t v : { r.left, r.top, r.right, r.bottom })
            data += le32(static_cast<std::uint32_t>(v));
    return le32(static_cast<std::uint32_t>(data.size())) + data;
}

TEST(RegionRecord, EmptyValueIsFourZeroBytesBothWays)
{
    const std::string empty(4, '\0');
    const auto outline = parseOutline(empty);
    ASSERT_TRUE(outline);
    EXPECT_FALSE(outline->hasRegion);
    EXPECT_EQ(writeOutline(*outline), empty);
    EXPECT_EQ(writeOutline(Outline{}), empty);
}

TEST(RegionRecord, RectanglesRoundTripWithTheWindowSystemsLayout)
{
    const std::vector<std::vector<Rect>> cases = {
        { { 0, 0, 590, 500 } },
        { { 0, 0, 100, 10 }, { 0, 10, 50, 30 } },
        { { -5, -5, 5, 5 } },
        {},
    };
    for (const auto& rects : cases) {
        const std::string bytes = record(rects);
        const auto outline = parseOutline(bytes);
        ASSERT_TRUE(outline);
        EXPECT_TRUE(outline->hasRegion);
        EXPECT_EQ(outline->rects, rects);
        EXPECT_EQ(writeOutline(*outline), bytes);
    }
    // The layout itself, byte for byte: N, header, bounds, one rectangle.
    EXPECT_EQ(writeOutline(Outline{ true, { { 1, 2, 3, 4 } } }),
        le32(48) + le32(32) + le32(1) + le32(1) + le32(16) + le32(1) + le32(2) + le32(3) + le32(4) + le32(1) + le32(2)
            + le32(3) + le32(4));
}

TEST(RegionRecord, RectanglesWithoutAreaAreDropped)
{
    const auto outline = parseOutline(record({ { 0, 0, 10, 10 }, { 5, 5, 5, 9 }, { 8, 8, 2, 9 } }));
    ASSERT_TRUE(outline);
    EXPECT_EQ(outline->rects, (std::vector<Rect>{ { 0, 0, 10, 10 } }));
}

TEST(RegionRecord, MalformedValuesAreRefused)
{
    const std::string good = record({ { 0, 0, 590, 500 } });
    const std::vector<std::pair<const char*, std::string>> cases = {
        { "no length", std::string(3, '\0') },
        { "nothing at all", std::string() },
        { "shorter than its length", good.substr(0, good.size() - 1) },
        { "longer than its length", good + std::string(1, '\0') },
        { "length near 4 GiB", le32(0xffffffffu) + good.substr(4) },
        { "header cut short", le32(16) + good.substr(4, 16) },
        { "wrong header size", record({ { 0, 0, 1, 1 } }, 40) },
        { "not rectangles", record({ { 0, 0, 1, 1 } }, 32, 2) },
        { "more rectangles announced than held", record({ { 0, 0, 1, 1 } }, 32, 1, 2) },
        { "rectangle count overflowing 32 bits", record({ { 0, 0, 1, 1 } }, 32, 1, 0x10000001) },
    };
    for (const auto& [what, bytes] : cases)
        EXPECT_FALSE(parseOutline(bytes)) << what;
}

} // namespace
