// Turning a picture upright as its EXIF orientation tag asks.
#pragma once

#include "imaging/Raster24.h"

namespace pictavo {

// EXIF orientation 1 ... 8: how the stored rows map to the upright picture.
// Orientations 5 to 8 swap width and height.
bool OrientationSwapsSides(int orientation);

// The upright picture of `source` (made 24-bit first). Orientation 1, or any
// value outside 1 ... 8, returns `source` itself, sharing its pixels.
Raster24 Orient(Raster24& source, int orientation);

}  // namespace pictavo
