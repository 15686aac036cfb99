#include "imaging/Orient.h"
#include "imaging/ReduceBitmap.h"
#include "imaging/Reduction.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

namespace pictavo {
namespace {

Raster24 Noise(int w, int h, std::mt19937& rng)
{
    Raster24 r;
    r.reset(w, h, PixelFormat::Bgr24, 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < 3 * w; ++x) r.scanLine(y)[x] = static_cast<std::uint8_t>(rng());
    return r;
}

bool SamePixels(const Raster24& a, const Raster24& b)
{
    if (a.width() != b.width() || a.height() != b.height()) return false;
    for (int y = 0; y < a.height(); ++y)
        if (std::memcmp(a.scanLine(y), b.scanLine(y), 3 * static_cast<std::size_t>(a.width())) != 0) return false;
    return true;
}

// Streaming the stored rows (either way up) with the boxes laid over them
// must give exactly what turning the whole picture first and reducing it gives.
TEST(Reduction, StreamedOrientationsEqualTurningFirst)
{
    std::mt19937 rng(2024);
    const int sizes[][4] = {{37, 23, 9, 5},  {23, 37, 5, 9},  {64, 48, 13, 7}, {5, 300, 3, 4},
                            {300, 5, 4, 3},  {41, 41, 40, 2}, {16, 9, 16, 9},  {10, 7, 30, 30},
                            {97, 13, 96, 1}, {3, 3, 1, 1}};
    for (const auto& s : sizes) {
        for (int orientation = 1; orientation <= 8; ++orientation) {
            for (const bool bottomUp : {false, true}) {
                const bool sharpen = (orientation + bottomUp) % 2 == 0;
                Raster24 stored = Noise(s[0], s[1], rng);
                Raster24 upright = Orient(stored, orientation);
                Raster24 expected, got;
                expected.setWidth(s[2]);
                expected.setHeight(s[3]);
                std::string expectedError, gotError;
                try {
                    ReduceBitmap(upright, expected, sharpen);
                } catch (const std::exception& e) {
                    expectedError = e.what();
                }
                try {
                    Reduction reduction({s[0], s[1], bottomUp, orientation, s[2], s[3], sharpen});
                    for (int k = 0; k < s[1]; ++k) reduction.addRow(stored.scanLine(bottomUp ? s[1] - 1 - k : k));
                    got = reduction.finish();
                } catch (const std::exception& e) {
                    gotError = e.what();
                }
                EXPECT_EQ(gotError, expectedError);
                EXPECT_TRUE(expectedError != "" || SamePixels(got, expected))
                    << s[0] << "x" << s[1] << " -> " << s[2] << "x" << s[3] << " orientation " << orientation
                    << (bottomUp ? " bottom-up" : "");
            }
        }
    }
}

}  // namespace
}  // namespace pictavo
