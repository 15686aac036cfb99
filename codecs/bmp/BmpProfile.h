// The ICC profile a version 5 bitmap header can carry after its pixels.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pictavo {

// The profile embedded in a bitmap file whose first `size` bytes are at
// `file`: empty for older headers, for a colour space given by name (sRGB,
// the system's) or by a linked file, and for a profile that lies outside
// those bytes.
std::vector<std::uint8_t> EmbeddedBitmapProfile(const std::uint8_t* file, std::size_t size);

// Where that profile lies in the file, from the file's first bytes (at least
// the two headers): its offset and length, length 0 when there is none.
struct ProfilePlace {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
};
ProfilePlace EmbeddedBitmapProfilePlace(const std::uint8_t* start, std::size_t size);
inline constexpr std::size_t BitmapProfileHeaderBytes = 14 + 124;

}  // namespace pictavo
