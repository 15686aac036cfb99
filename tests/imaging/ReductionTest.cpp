#include "imaging/Orient.h"
#include "imaging/Reduction.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
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
    if (!test::HaveExtendedPrecision()) GTEST_SKIP() << "the plain reduction needs 80-bit long double";
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
                std::string expectedError, gotError;
                try {
                    expected = test::SlowReduced(upright, s[2], s[3], sharpen);
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
                if (!expectedError.empty()) continue;
                // The same rows with opaque alpha give the same picture, alpha 255.
                Reduction withAlpha({s[0], s[1], bottomUp, orientation, s[2], s[3], sharpen, true});
                std::vector<std::uint8_t> bgra(4 * static_cast<std::size_t>(s[0]), 255);
                for (int k = 0; k < s[1]; ++k) {
                    const std::uint8_t* row = stored.scanLine(bottomUp ? s[1] - 1 - k : k);
                    for (int x = 0; x < s[0]; ++x) std::memcpy(&bgra[4 * static_cast<std::size_t>(x)], row + 3 * x, 3);
                    withAlpha.addRow(bgra.data());
                }
                EXPECT_TRUE(SamePixels(withAlpha.finish(), expected)) << s[0] << "x" << s[1] << " orientation " << orientation;
                const std::vector<std::uint8_t> alpha = withAlpha.takeAlpha();
                EXPECT_EQ(alpha.size(), static_cast<std::size_t>(expected.width()) * static_cast<std::size_t>(expected.height()));
                EXPECT_TRUE(std::all_of(alpha.begin(), alpha.end(), [](std::uint8_t a) { return a == 255; }));
            }
        }
    }
}

// Runs of equal rows handed over as a count reduce exactly as row by row,
// whatever the orientation, across narrow, wide and skipped bands and copies,
// with and without alpha.
TEST(Reduction, RepeatedRowsEqualRowByRow)
{
    std::mt19937 rng(19);
    const int sizes[][4] = {{37, 700, 9, 2}, {13, 3000, 4, 3}, {40, 41, 40, 2}, {9, 9, 20, 20}, {31, 97, 7, 13}};
    for (const bool alpha : {false, true})
        for (const auto& s : sizes) {
            for (int orientation = 1; orientation <= 8; ++orientation) {
                const ReductionPlan plan{s[0], s[1], orientation % 2 == 0, orientation, s[2], s[3], false, alpha};
                Reduction each(plan), runs(plan);
                std::vector<std::uint8_t> row((alpha ? 4 : 3) * static_cast<std::size_t>(s[0]));
                for (int y = 0; y < s[1];) {
                    const int run = std::min<int>(s[1] - y, 1 + static_cast<int>(rng() % 400));
                    for (std::uint8_t& b : row) b = static_cast<std::uint8_t>(rng());
                    for (int k = 0; k < run; ++k) each.addRow(row.data());
                    runs.addRows(row.data(), run);
                    y += run;
                }
                EXPECT_TRUE(SamePixels(each.finish(), runs.finish())) << s[0] << "x" << s[1] << " " << orientation;
                EXPECT_EQ(each.takeAlpha(), runs.takeAlpha());
            }
        }
}

// Rows decoded `scale` times smaller, each pixel standing for scale x scale
// of the picture's (the last ones for what is left), reduce exactly as the
// same rows widened back and repeated, whatever the orientation.
TEST(Reduction, ScaledRowsEqualWidenedRows)
{
    std::mt19937 rng(7);
    const int sizes[][4] = {{37, 23, 9, 5}, {64, 48, 13, 7}, {300, 45, 17, 4}, {13, 3000, 4, 3}, {61, 59, 30, 29}};
    for (const auto& s : sizes)
        for (const int scale : {2, 4, 8})
            for (int orientation = 1; orientation <= 8; ++orientation) {
                const ReductionPlan plan{s[0], s[1], false, orientation, s[2], s[3], orientation % 3 == 0};
                const int narrowWidth = (s[0] + scale - 1) / scale, narrowHeight = (s[1] + scale - 1) / scale;
                const Raster24 decoded = Noise(narrowWidth, narrowHeight, rng);
                Reduction widened(plan), scaled(plan, scale);
                std::vector<std::uint8_t> wide(3 * static_cast<std::size_t>(s[0]));
                for (int y = 0; y < narrowHeight; ++y) {
                    const std::uint8_t* row = decoded.scanLine(y);
                    for (int x = 0; x < s[0]; ++x) std::memcpy(&wide[3 * static_cast<std::size_t>(x)], row + 3 * (x / scale), 3);
                    const int count = std::min(scale, s[1] - y * scale);
                    for (int k = 0; k < count; ++k) widened.addRow(wide.data());
                    scaled.addRows(row, count);
                }
                EXPECT_TRUE(SamePixels(widened.finish(), scaled.finish()))
                    << s[0] << "x" << s[1] << " at 1/" << scale << " orientation " << orientation;
            }
}

// Boxes whose column or box sums pass thirty-two bits stay white.
TEST(Reduction, WhiteStaysWhiteInTheLargestBoxes)
{
    struct Case {
        int width, height, targetWidth, targetHeight;
        bool asCount;  // the rows handed over as one count
    };
    const Case cases[] = {{1, 17000000, 1, 1, false}, {17000000, 1, 1, 1, false}, {17000, 1000, 1, 1, false},
                          {1, 17000000, 1, 1, true}, {1, INT_MAX, 1, 120, true}, {3, INT_MAX, 1, 1, true}};
    for (const bool alpha : {false, true})
        for (const Case& c : cases) {
            Reduction reduction({c.width, c.height, false, 1, c.targetWidth, c.targetHeight, false, alpha});
            const std::vector<std::uint8_t> white((alpha ? 4 : 3) * static_cast<std::size_t>(c.width), 255);
            if (c.asCount) reduction.addRows(white.data(), c.height);
            else
                for (int y = 0; y < c.height; ++y) reduction.addRow(white.data());
            const Raster24 got = reduction.finish();
            ASSERT_EQ(got.height(), c.targetHeight);
            for (int y = 0; y < got.height(); ++y)
                for (int x = 0; x < 3 * got.width(); ++x)
                    ASSERT_EQ(got.scanLine(y)[x], 255) << c.width << "x" << c.height << " at row " << y;
            for (const std::uint8_t a : reduction.takeAlpha()) ASSERT_EQ(a, 255);
        }
}

// Colour is averaged weighted by alpha and alpha by area: the colour under
// transparent pixels never shows, a transparent box stays transparent, and
// alpha turns upright with its colour.
TEST(Reduction, TransparencyLeavesNoFringe)
{
    std::mt19937 rng(7);
    // Stored 4 x 4 blocks of one colour and alpha, blue = alpha, reduced 4 to 1.
    for (int orientation = 1; orientation <= 8; ++orientation) {
        const int bw = 5, bh = 3;  // blocks across and down, as stored
        std::vector<std::uint8_t> blockAlpha(static_cast<std::size_t>(bw * bh));
        // Not 255: opaque boxes are averaged as opaque pictures are.
        for (std::uint8_t& a : blockAlpha) a = static_cast<std::uint8_t>(rng() % 4 == 0 ? 0 : 1 + rng() % 254);
        Raster24 grid;  // the blocks' alpha, turned upright as the reduction must turn it
        grid.reset(bw, bh, PixelFormat::Bgr24, 0);
        for (int i = 0; i < bw * bh; ++i) grid.scanLine(i / bw)[3 * (i % bw)] = blockAlpha[static_cast<std::size_t>(i)];
        const Raster24 upright = Orient(grid, orientation);
        // Copied at its own size, and reduced to a quarter.
        Reduction reduction({4 * bw, 4 * bh, false, orientation, 4 * upright.width(), 4 * upright.height(), false, true});
        Reduction quarter({4 * bw, 4 * bh, false, orientation, upright.width(), upright.height(), false, true});
        std::vector<std::uint8_t> row(16 * bw);
        for (int y = 0; y < 4 * bh; ++y) {
            for (int x = 0; x < 4 * bw; ++x) {
                const std::uint8_t a = blockAlpha[static_cast<std::size_t>((y / 4) * bw + x / 4)];
                std::uint8_t* p = &row[4 * static_cast<std::size_t>(x)];
                // Under alpha 0 the colour is noise, and must not show.
                p[0] = a == 0 ? static_cast<std::uint8_t>(rng()) : a;
                p[1] = a == 0 ? static_cast<std::uint8_t>(rng()) : 200;
                p[2] = a == 0 ? static_cast<std::uint8_t>(rng()) : static_cast<std::uint8_t>(x * 7 + y);
                p[3] = a;
            }
            reduction.addRow(row.data());
            quarter.addRow(row.data());
        }
        const Raster24 copied = reduction.finish();
        const std::vector<std::uint8_t> copiedAlpha = reduction.takeAlpha();
        EXPECT_EQ(copiedAlpha.size(), 16 * blockAlpha.size());
        const Raster24 reduced = quarter.finish();
        const std::vector<std::uint8_t> alpha = quarter.takeAlpha();
        ASSERT_EQ(reduced.width(), upright.width());
        ASSERT_EQ(reduced.height(), upright.height());
        for (int y = 0; y < reduced.height(); ++y)
            for (int x = 0; x < reduced.width(); ++x) {
                const std::uint8_t a = alpha[static_cast<std::size_t>(y * reduced.width() + x)];
                const std::uint8_t* p = reduced.scanLine(y) + 3 * x;
                EXPECT_EQ(a, upright.scanLine(y)[3 * x]) << orientation << ": " << x << "," << y;
                EXPECT_EQ(p[0], a);
                EXPECT_EQ(p[1], a == 0 ? 0 : 200);
            }
        for (int y = 0; y < copied.height(); ++y)
            for (int x = 0; x < copied.width(); ++x)
                if (const std::uint8_t a = copiedAlpha[static_cast<std::size_t>(y * copied.width() + x)]; a != 0) {
                    EXPECT_EQ(copied.scanLine(y)[3 * x], a);
                }
    }

    // Half a box opaque red, half transparent white: red, at half alpha.
    Reduction edge({2, 2, false, 1, 1, 1, false, true});
    const std::uint8_t row[8] = {0, 0, 255, 255, 255, 255, 255, 0};
    edge.addRows(row, 2);
    const Raster24 one = edge.finish();
    EXPECT_EQ(std::vector<std::uint8_t>(one.scanLine(0), one.scanLine(0) + 3), (std::vector<std::uint8_t>{0, 0, 255}));
    EXPECT_EQ(edge.takeAlpha(), std::vector<std::uint8_t>{128});

    // For lossy encoders, hidden pixels take the visible colour nearby, as
    // far as `reach`; alpha stays.
    Raster24 strip;
    strip.reset(6, 1, PixelFormat::Bgr24, 0);
    std::memcpy(strip.scanLine(0) + 6, "\x10\x20\x30", 3);
    FillUnderTransparency(strip, {0, 0, 255, 0, 0, 0}, 2);
    const std::uint8_t filled[18] = {0x10, 0x20, 0x30, 0x10, 0x20, 0x30, 0x10, 0x20, 0x30,
                                     0x10, 0x20, 0x30, 0x10, 0x20, 0x30, 0, 0, 0};
    EXPECT_EQ(std::memcmp(strip.scanLine(0), filled, 18), 0);
}

}  // namespace
}  // namespace pictavo
