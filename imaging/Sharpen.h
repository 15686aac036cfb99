// The diagonal 3 x 3 sharpening filter, applied in place from the top row
// down, so each pixel sees its upper neighbours already sharpened.
#pragma once

#include "imaging/Raster24.h"

namespace pictavo {

// Sharpens the inner pixels of a 24-bit raster; borders stay as they are.
// Does nothing to rasters fewer than 3 rows or columns.
void Sharpen(Raster24& raster);

}  // namespace pictavo
