#include "skin/RegionRecord.h"

#include <algorithm>

namespace velth::region {

namespace {

constexpr std::uint32_t kHeaderSize = 32;
constexpr std::uint32_t kRectangles = 1;
constexpr std::uint32_t kRectSize = 16;

std::uint32_t readU32(std::string_view bytes, std::size_t at)
{
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
    return value;
}

std::int32_t readI32(std::string_view bytes, std::size_t at)
{
    return static_cast<std::int32_t>(readU32(bytes, at));
}

void writeU32(std::string& out, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<char>(value & 0xff));
        value >>= 8;
    }
}

void writeI32(std::string& out, std::int32_t value)
{
    writeU32(out, static_cast<std::uint32_t>(value));
}

} // namespace

std::optional<Outline> parseOutline(std::string_view bytes)
{
    if (bytes.size() < 4)
        return std::nullopt;
    const std::uint64_t n = readU32(bytes, 0);
    if (bytes.size() - 4 != n)
        return std::nullopt;
    Outline outline;
    if (n == 0)
        return outline;

    const std::string_view data = bytes.substr(4);
    if (data.size() < kHeaderSize)
        return std::nullopt;
    if (readU32(data, 0) != kHeaderSize || readU32(data, 4) != kRectangles)
        return std::nullopt;
    const std::uint64_t count = readU32(data, 8);
    if (count * kRectSize > data.size() - kHeaderSize)
        return std::nullopt;

    outline.hasRegion = true;
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::size_t at = kHeaderSize + static_cast<std::size_t>(i) * kRectSize;
        const Rect r{ readI32(data, at), readI32(data, at + 4), readI32(data, at + 8), readI32(data, at + 12) };
        if (r.left < r.right && r.top < r.bottom)
            outline.rects.push_back(r);
    }
    return outline;
}

std::string writeOutline(const Outline& outline)
{
    std::string out;
    if (!outline.hasRegion) {
        writeU32(out, 0);
        return out;
    }
    Rect bound;
    if (!outline.rects.empty()) {
        bound = outline.rects.front();
        for (const Rect& r : outline.rects) {
            bound.left = std::min(bound.left, r.left);
            bound.top = std::min(bound.top, r.top);
            bound.right = std::max(bound.right, r.right);
            bound.bottom = std::max(bound.bottom, r.bottom);
        }
    }
    const auto count = static_cast<std::uint32_t>(outline.rects.size());
    writeU32(out, kHeaderSize + count * kRectSize);
    writeU32(out, kHeaderSize);
    writeU32(out, kRectangles);
    writeU32(out, count);
    writeU32(out, count * kRectSize);
    for (std::int32_t v : { bound.left, bound.top, bound.right, bound.bottom })
        writeI32(out, v);
    for (const Rect& r : outline.rects)
        for (std::int32_t v : { r.left, r.top, r.right, r.bottom })
            writeI32(out, v);
    return out;
}

} // namespace velth::region
