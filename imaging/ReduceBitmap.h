// Area-averaging reduction with fixed box boundaries and fixed-point averages.
#pragma once

#include "imaging/Raster24.h"

namespace pictavo {

// Shrinks `source` into `destination`, whose width and height the caller has
// set. Both are made 24-bit first (the caller's source is converted in
// place). A destination at least as large as the source in both dimensions
// becomes a copy of the source at the source's size. `sharpen` applies the
// sharpening pass to a reduced image of at least 3 rows.
void ReduceBitmap(Raster24& source, Raster24& destination, bool sharpen);

}  // namespace pictavo
