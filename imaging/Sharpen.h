// The diagonal 3 x 3 sharpening filter, applied in place from the top row
// down, so each pixel sees its upper neighbours already sharpened.
#pragma once

#include "imaging/Raster24.h"

#include <cstdint>
#include <vector>

namespace pictavo {

// Sharpens the inner pixels of a 24-bit raster; borders stay as they are.
// Does nothing to rasters fewer than 3 rows or columns.
void Sharpen(Raster24& raster);

// The same for a picture with transparency, `alpha` one byte a pixel: colour
// is sharpened multiplied by alpha, and alpha with it.
void Sharpen(Raster24& colour, std::vector<std::uint8_t>& alpha);

}  // namespace pictavo
