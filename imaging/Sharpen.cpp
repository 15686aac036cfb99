#include "imaging/Sharpen.h"

#include <cstdint>

namespace pictavo {
namespace {

std::uint8_t Filter(int centre, int tl, int tr, int bl, int br)
{
    const int t = tl + tr + bl + br - 12 * centre;
    const int v = t / -8;  // truncates toward zero
    return static_cast<std::uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

}  // namespace

void Sharpen(Raster24& raster)
{
    const int w = raster.width(), h = raster.height();
    if (h < 3 || w < 3) return;
    for (int y = 1; y < h - 1; ++y) {
        // Row y - 1 already holds sharpened values; row y + 1 does not yet.
        const std::uint8_t* above = raster.scanLine(y - 1);
        std::uint8_t* row = raster.scanLine(y);
        const std::uint8_t* below = raster.scanLine(y + 1);
        for (int x = 1; x < w - 1; ++x) {
            const int l = 3 * (x - 1), c = 3 * x, r = 3 * (x + 1);
            const std::uint8_t b = Filter(row[c], above[l], above[r], below[l], below[r]);
            const std::uint8_t g = Filter(row[c + 1], above[l + 1], above[r + 1], below[l + 1], below[r + 1]);
            const std::uint8_t red = Filter(row[c + 2], above[l + 2], above[r + 2], below[l + 2], below[r + 2]);
            row[c] = b;
            row[c + 1] = g;
            row[c + 2] = red;
        }
    }
}

}  // namespace pictavo
