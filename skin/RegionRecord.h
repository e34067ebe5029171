#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velth::region {

// One rectangle of a window outline: left and top inside, right and bottom
// outside, in the coordinates of the window's top-left corner.
struct Rect
{
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;

    friend bool operator==(const Rect&, const Rect&) = default;
};

// A stored window outline: no region at all, or a region made of rectangles
// (which may be none: an empty region).
struct Outline
{
    bool hasRegion = false;
    std::vector<Rect> rects;

    friend bool operator==(const Outline&, const Outline&) = default;
};

// Reads the stored outline value: a 4-byte little-endian byte count N, then N
// bytes of a Windows region data record (RGNDATA: a 32-byte header of size,
// type 1 = rectangles, rectangle count, data size and bounding rectangle, then
// the rectangles as four little-endian 32-bit integers each). N = 0 means no
// region. Rectangles without area are dropped, as the window system does.
// Returns nothing for a malformed value: wrong length, a header that is not
// the rectangle kind, or fewer rectangle bytes than the header announces.
std::optional<Outline> parseOutline(std::string_view bytes);

// Writes an outline in the same form; without a region, N = 0 (four zero
// bytes). The bounding rectangle is computed from the rectangles.
std::string writeOutline(const Outline& outline);

} // namespace velth::region
