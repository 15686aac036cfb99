#include "imaging/Orient.h"
#include "imaging/ReduceBitmap.h"
#include "imaging/Reduction.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <random>
#include <vector>

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

// Runs of equal rows handed over as a count reduce exactly as row by row,
// whatever the orientation, across narrow, wide and skipped bands and copies.
TEST(Reduction, RepeatedRowsEqualRowByRow)
{
    std::mt19937 rng(19);
    const int sizes[][4] = {{37, 700, 9, 2}, {13, 3000, 4, 3}, {40, 41, 40, 2}, {9, 9, 20, 20}, {31, 97, 7, 13}};
    for (const auto& s : sizes) {
        for (int orientation = 1; orientation <= 8; ++orientation) {
            const ReductionPlan plan{s[0], s[1], orientation % 2 == 0, orientation, s[2], s[3], false};
            Reduction each(plan), runs(plan);
            for (int y = 0; y < s[1];) {
                const int run = std::min<int>(s[1] - y, 1 + static_cast<int>(rng() % 400));
                const Raster24 row = Noise(s[0], 1, rng);
                for (int k = 0; k < run; ++k) each.addRow(row.scanLine(0));
                runs.addRows(row.scanLine(0), run);
                y += run;
            }
            EXPECT_TRUE(SamePixels(each.finish(), runs.finish())) << s[0] << "x" << s[1] << " " << orientation;
        }
    }
}

// Boxes of more rows than thirty-two-bit column sums can hold stay white.
TEST(Reduction, WhiteStaysWhiteInTheLargestBoxes)
{
    struct Case {
        int width, height, targetWidth, targetHeight;
        bool asCount;  // the rows handed over as one count
    };
    const Case cases[] = {{1, 17000000, 1, 1, false}, {17000000, 1, 1, 1, false}, {1, 17000000, 1, 1, true},
                          {1, INT_MAX, 1, 120, true}, {3, INT_MAX, 1, 1, true}};
    for (const Case& c : cases) {
        Reduction reduction({c.width, c.height, false, 1, c.targetWidth, c.targetHeight, false});
        const std::vector<std::uint8_t> white(3 * static_cast<std::size_t>(c.width), 255);
        if (c.asCount) reduction.addRows(white.data(), c.height);
        else
            for (int y = 0; y < c.height; ++y) reduction.addRow(white.data());
        const Raster24 got = reduction.finish();
        ASSERT_EQ(got.height(), c.targetHeight);
        for (int y = 0; y < got.height(); ++y)
            for (int x = 0; x < 3 * got.width(); ++x)
                ASSERT_EQ(got.scanLine(y)[x], 255) << c.width << "x" << c.height << " at row " << y;
    }
}

}  // namespace
}  // namespace pictavo
