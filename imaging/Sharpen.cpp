#include "imaging/Sharpen.h"

#include <algorithm>
#include <cstdint>

namespace pictavo {
namespace {

std::uint8_t Filter(int centre, int tl, int tr, int bl, int br)
{
    const int t = tl + tr + bl + br - 12 * centre;
    const int v = t / -8;  // truncates toward zero
    return static_cast<std::uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

// Rows of `channels` bytes a pixel, row y at first + y * step.
template <int Channels>
void SharpenPixels(std::uint8_t* first, std::ptrdiff_t step, int w, int h)
{
    if (h < 3 || w < 3) return;
    for (int y = 1; y < h - 1; ++y) {
        // Row y - 1 already holds sharpened values; row y + 1 does not yet.
        std::uint8_t* row = first + y * step;
        const std::uint8_t* above = row - step;
        const std::uint8_t* below = row + step;
        for (int x = 1; x < w - 1; ++x) {
            const int l = Channels * (x - 1), c = Channels * x, r = Channels * (x + 1);
            std::uint8_t v[Channels];
            for (int k = 0; k < Channels; ++k)
                v[k] = Filter(row[c + k], above[l + k], above[r + k], below[l + k], below[r + k]);
            for (int k = 0; k < Channels; ++k) row[c + k] = v[k];
        }
    }
}

}  // namespace

void Sharpen(Raster24& raster)
{
    if (raster.height() < 3 || raster.width() < 3) return;
    SharpenPixels<3>(raster.scanLine(0), raster.rowStep(), raster.width(), raster.height());
}

void Sharpen(Raster24& colour, std::vector<std::uint8_t>& alpha)
{
    const int w = colour.width(), h = colour.height();
    if (h < 3 || w < 3) return;
    // Colour times alpha, so transparent pixels lend no colour to their
    // neighbours; alpha is sharpened beside it.
    std::vector<std::uint8_t> pixels(4 * static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* row = colour.scanLine(y);
        std::uint8_t* p = pixels.data() + 4 * static_cast<std::size_t>(y) * static_cast<std::size_t>(w);
        const std::uint8_t* a = alpha.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(w);
        for (int x = 0; x < w; ++x, p += 4, row += 3) {
            for (int k = 0; k < 3; ++k) p[k] = static_cast<std::uint8_t>((row[k] * a[x] + 127) / 255);
            p[3] = a[x];
        }
    }
    SharpenPixels<4>(pixels.data(), 4 * static_cast<std::ptrdiff_t>(w), w, h);
    for (int y = 0; y < h; ++y) {
        std::uint8_t* row = colour.scanLine(y);
        const std::uint8_t* p = pixels.data() + 4 * static_cast<std::size_t>(y) * static_cast<std::size_t>(w);
        std::uint8_t* a = alpha.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(w);
        for (int x = 0; x < w; ++x, p += 4, row += 3) {
            a[x] = p[3];
            for (int k = 0; k < 3; ++k)
                row[k] = p[3] == 0 ? 0 : static_cast<std::uint8_t>(std::min(255, (p[k] * 255 + p[3] / 2) / p[3]));
        }
    }
}

}  // namespace pictavo
