// Quick pictures for a preview: decoded at a reduced scale, just large
// enough for the room they are shown in, and upright.
#pragma once

#include "imaging/Raster24.h"

#include <functional>
#include <string>

namespace pictavo {

struct PreviewCallbacks {
    // The whole picture's upright size, as soon as the header is read.
    std::function<void(int width, int height)> sized;
    // Polled while decoding; true abandons the work.
    std::function<bool()> cancelled;
};

// The picture at `path`, upright, at the smallest scale whose result still
// fills a room of roomWidth x roomHeight when fitted into it with its aspect
// kept, and never above its own size. JPEGs are decoded at a reduced scale by
// the library; bitmaps and other registered formats are read whole and
// subsampled. Empty when no format is registered for the extension or the
// work was cancelled; the readers' errors propagate.
Raster24 DecodePreview(const std::string& path, int roomWidth, int roomHeight, const PreviewCallbacks& callbacks = {});

// Every step-th pixel of every step-th row of `source`, starting at 0.
Raster24 Subsample(Raster24& source, int step);

}  // namespace pictavo
