#include "imaging/Orient.h"

#include <cstring>
#include <vector>

namespace pictavo {

bool OrientationSwapsSides(int orientation)
{
    return orientation >= 5 && orientation <= 8;
}

Raster24 Orient(Raster24& source, int orientation)
{
    source.make24Bit();
    if (orientation < 2 || orientation > 8) return source;

    const int sw = source.width(), sh = source.height();
    const bool swap = OrientationSwapsSides(orientation);
    const int ow = swap ? sh : sw, oh = swap ? sw : sh;
    Raster24 out;
    out.reset(ow, oh, PixelFormat::Bgr24, std::nullopt);  // every pixel is written below
    if (ow == 0 || oh == 0) return out;

    const Raster24& src = source;
    std::vector<const std::uint8_t*> rows(static_cast<std::size_t>(sh));
    for (int r = 0; r < sh; ++r) rows[static_cast<std::size_t>(r)] = src.scanLine(r);

    for (int r = 0; r < oh; ++r) {
        std::uint8_t* dst = out.scanLine(r);
        for (int c = 0; c < ow; ++c, dst += 3) {
            int sr = r, sc = c;  // source row and column of upright pixel (r, c)
            switch (orientation) {
            case 2: sc = sw - 1 - c; break;                  // mirrored left to right
            case 3: sr = sh - 1 - r; sc = sw - 1 - c; break;  // turned 180 degrees
            case 4: sr = sh - 1 - r; break;                  // mirrored top to bottom
            case 5: sr = c; sc = r; break;                   // transposed
            case 6: sr = sh - 1 - c; sc = r; break;          // needs 90 degrees clockwise
            case 7: sr = sh - 1 - c; sc = sw - 1 - r; break;  // transversed
            case 8: sr = c; sc = sw - 1 - r; break;          // needs 90 degrees anticlockwise
            default: break;
            }
            std::memcpy(dst, rows[static_cast<std::size_t>(sr)] + 3 * sc, 3);
        }
    }
    return out;
}

}  // namespace pictavo
