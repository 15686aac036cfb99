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

}  // namespace pictavo
