#include "imaging/Orient.h"

#include <cstring>
#include <utility>
#include <vector>

namespace pictavo {

bool OrientationSwapsSides(int orientation)
{
    return orientation >= 5 && orientation <= 8;
}

namespace {

// The source row and column of upright pixel (r, c) of a sw x sh picture.
std::pair<int, int> SourceOf(int orientation, int r, int c, int sw, int sh)
{
    switch (orientation) {
    case 2: return {r, sw - 1 - c};            // mirrored left to right
    case 3: return {sh - 1 - r, sw - 1 - c};   // turned 180 degrees
    case 4: return {sh - 1 - r, c};            // mirrored top to bottom
    case 5: return {c, r};                     // transposed
    case 6: return {sh - 1 - c, r};            // needs 90 degrees clockwise
    case 7: return {sh - 1 - c, sw - 1 - r};   // transversed
    case 8: return {c, sw - 1 - r};            // needs 90 degrees anticlockwise
    default: return {r, c};
    }
}

}  // namespace

std::vector<std::uint8_t> OrientPlane(const std::vector<std::uint8_t>& plane, int width, int height, int orientation)
{
    if (orientation < 2 || orientation > 8) return plane;
    const bool swap = OrientationSwapsSides(orientation);
    const int ow = swap ? height : width, oh = swap ? width : height;
    std::vector<std::uint8_t> out(plane.size());
    for (int r = 0; r < oh; ++r)
        for (int c = 0; c < ow; ++c) {
            const auto [sr, sc] = SourceOf(orientation, r, c, width, height);
            out[static_cast<std::size_t>(r) * static_cast<std::size_t>(ow) + static_cast<std::size_t>(c)] =
                plane[static_cast<std::size_t>(sr) * static_cast<std::size_t>(width) + static_cast<std::size_t>(sc)];
        }
    return out;
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
            const auto [sr, sc] = SourceOf(orientation, r, c, sw, sh);
            std::memcpy(dst, rows[static_cast<std::size_t>(sr)] + 3 * sc, 3);
        }
    }
    return out;
}

}  // namespace pictavo
