// Turning a picture upright as its EXIF orientation tag asks.
#pragma once

#include "imaging/Raster24.h"

#include <cstdint>
#include <vector>

namespace pictavo {

// EXIF orientation 1 ... 8: how the stored rows map to the upright picture.
// Orientations 5 to 8 swap width and height.
bool OrientationSwapsSides(int orientation);

// The upright picture of `source` (made 24-bit first). Orientation 1, or any
// value outside 1 ... 8, returns `source` itself, sharing its pixels.
Raster24 Orient(Raster24& source, int orientation);

// The same for a plane of one byte a pixel, rows `width` bytes apart.
std::vector<std::uint8_t> OrientPlane(const std::vector<std::uint8_t>& plane, int width, int height, int orientation);

}  // namespace pictavo
