#include "base/Errors.h"
#include "imaging/Reduction.h"
#include "imaging/Sharpen.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace pictavo {
namespace {

// A one-channel picture in all three channels, rows of equal length.
Raster24 Gray(const std::vector<std::vector<int>>& rows)
{
    Raster24 r;
    r.reset(static_cast<int>(rows[0].size()), static_cast<int>(rows.size()), PixelFormat::Bgr24, 0);
    for (int y = 0; y < r.height(); ++y)
        for (int x = 0; x < r.width(); ++x)
            for (int c = 0; c < 3; ++c) r.scanLine(y)[3 * x + c] = static_cast<std::uint8_t>(rows[y][x]);
    return r;
}

std::vector<std::vector<int>> Channel(const Raster24& r, int c = 0)
{
    std::vector<std::vector<int>> out(r.height(), std::vector<int>(r.width()));
    for (int y = 0; y < r.height(); ++y)
        for (int x = 0; x < r.width(); ++x) out[y][x] = r.scanLine(y)[3 * x + c];
    return out;
}

// `source` reduced to w x h as a run reduces it, row by row.
Raster24 Reduced(const Raster24& source, int w, int h, bool sharpen = false)
{
    Reduction reduction({.width = source.width(), .height = source.height(), .targetWidth = w, .targetHeight = h,
                         .sharpen = sharpen});
    for (int r = 0; r < source.height() && !reduction.done(); ++r) reduction.addRow(source.scanLine(r));
    return reduction.finish();
}

std::vector<int> Reduce1D(const std::vector<int>& row, int to)
{
    return Channel(Reduced(Gray({row}), to, 1))[0];
}

TEST(BoxReduction, WorkedExamples)
{
    EXPECT_EQ(Reduce1D({10, 20, 30, 40, 50}, 2), (std::vector<int>{14, 39}));

    // 10 -> 3: three boxes of 3; pixel 9 is never read.
    std::vector<int> ten{9, 9, 9, 30, 30, 30, 60, 60, 60, 255};
    EXPECT_EQ(Reduce1D(ten, 3), (std::vector<int>{8, 29, 59}));

    // 1001 -> 1000: 999 single pixels (v -> v - 1) and one box of 2.
    std::vector<int> wide(1001, 100);
    wide[1000] = 0;
    const std::vector<int> narrow = Reduce1D(wide, 1000);
    EXPECT_EQ(narrow[0], 99);
    EXPECT_EQ(narrow[998], 99);
    EXPECT_EQ(narrow[999], (100 * (65535 / 2)) >> 16);
}

TEST(BoxReduction, BoxWidthsFollowTheSinglePrecisionScale)
{
    // On a row alternating 0 and 250 each box's output depends on where it
    // starts and how wide it is, so the first outputs pin the widths down.
    auto check = [](int from, int to, const std::vector<int>& widths) {
        std::vector<int> row(from);
        for (int k = 0; k < from; ++k) row[k] = k % 2 ? 250 : 0;
        std::vector<int> expected;
        int start = 0;
        for (int w : widths) {
            int sum = 0;
            for (int k = start; k < start + w; ++k) sum += row[k];
            expected.push_back((sum * (65535 / w)) >> 16);
            start += w;
        }
        const std::vector<int> out = Reduce1D(row, to);
        EXPECT_EQ(std::vector<int>(out.begin(), out.begin() + widths.size()), expected) << from << " -> " << to;
    };
    check(1024, 800, {1, 1, 1, 2, 1, 1, 1, 2, 1, 1, 2});
    check(3000, 800, {3, 4, 4, 4, 3, 4, 4, 4});
}

TEST(BoxReduction, LastColumnIgnoredOnlyWhenTheScaleRoundsDown)
{
    struct Case { int from, to; bool lastRead; };
    for (const Case& c : {Case{1024, 800, false}, Case{10, 3, false}, Case{3000, 800, true}}) {
        std::vector<int> row(c.from, 0);
        row.back() = 200;
        EXPECT_EQ(Reduce1D(row, c.to).back() != 0, c.lastRead) << c.from << " -> " << c.to;
    }
}

TEST(BoxReduction, NoEnlargementCopiesTheSource)
{
    struct Case { int dw, dh; };
    for (const Case& c : {Case{4, 3}, Case{10, 10}}) {
        Raster24 src = Gray({{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}});
        const Raster24 dst = Reduced(src, c.dw, c.dh, true);
        EXPECT_EQ(dst.width(), 4);
        EXPECT_EQ(dst.height(), 3);
        EXPECT_EQ(Channel(dst), Channel(src));
    }
}

TEST(BoxReduction, EqualInOneAxisStillAveragesAndDarkens)
{
    EXPECT_EQ(Channel(Reduced(Gray({{50, 60}, {70, 80}, {90, 100}}), 2, 1))[0],
              (std::vector<int>{(210 * 21845) >> 16, (240 * 21845) >> 16}));
    EXPECT_EQ(Channel(Reduced(Gray({{7}, {7}}), 1, 1))[0][0], 6);
}

TEST(BoxReduction, UniformValuesKeepTheirBrightnessInBigBoxes)
{
    // Boxes of up to 2,047 pixels keep the fixed-point rule and come out a
    // little darker; larger boxes take the exact average.
    struct Case { int sw, sh, dw, dh, value, expected; };
    const Case cases[] = {
        {284, 1, 1, 1, 255, 254},      // up to 284 pixels: v - 1
        {1000, 1, 1, 1, 255, 252},
        {2047, 1, 1, 1, 200, 199},     // H = 32: still fixed point
        {2048, 1, 1, 1, 200, 200},     // H = 31: exact
        {90, 45, 2, 1, 255, 252},      // 45 x 45 = 2025 pixels, H = 32
        {92, 46, 2, 1, 255, 255},      // 46 x 46 = 2116 pixels
        {10000, 1, 1, 1, 255, 255},
        {70000, 1, 1, 1, 255, 255},    // H would be 0
        {1, 70000, 1, 1, 201, 201},
        {9, 3, 3, 1, 0, 0},
    };
    for (const Case& c : cases) {
        const Raster24 src = Gray(std::vector<std::vector<int>>(c.sh, std::vector<int>(c.sw, c.value)));
        for (const auto& row : Channel(Reduced(src, c.dw, c.dh), 2))
            for (int v : row) EXPECT_EQ(v, c.expected) << c.sw << "x" << c.sh << " -> " << c.dw << "x" << c.dh;
    }
}

TEST(BoxReduction, ImpossibleBoxesAreRefusedBeforeAnyRow)
{
    Raster24 src;
    src.reset(1, 2000, PixelFormat::Bgr24, 0);
    EXPECT_THROW(Reduced(src, 0, 600), EZeroDivide);
    // Larger in one axis, smaller in the other: empty boxes.
    src.reset(2, 10, PixelFormat::Bgr24, 0);
    EXPECT_EQ(test::ErrorOf([&] { Reduced(src, 4, 5); }), "Division by zero");
}

TEST(Sharpen, WorkedExamples)
{
    struct Case { int centre, tl, tr, bl, br, expected; };
    const Case cases[] = {
        {100, 80, 80, 80, 80, 110},
        {100, 100, 100, 100, 101, 99},
        {250, 200, 200, 200, 200, 255},
        {10, 100, 100, 100, 100, 0},
        {77, 77, 77, 77, 77, 77},
    };
    for (const Case& c : cases) {
        Raster24 r = Gray({{c.tl, 0, c.tr}, {0, c.centre, 0}, {c.bl, 0, c.br}});
        Sharpen(r);
        EXPECT_EQ(Channel(r)[1][1], c.expected) << c.centre;
        EXPECT_EQ(Channel(r)[0][0], c.tl);  // borders untouched
    }
}

TEST(Sharpen, RunsTopDownInPlace)
{
    Raster24 r = Gray({{0, 0, 0, 0}, {0, 100, 0, 0}, {0, 0, 100, 0}, {0, 0, 0, 0}});
    Sharpen(r);
    EXPECT_EQ(Channel(r)[1][1], 137);
    EXPECT_EQ(Channel(r)[1][2], 0);
    EXPECT_EQ(Channel(r)[2][1], 0);
    EXPECT_EQ(Channel(r)[2][2], 132);  // sees the sharpened 137 above
}

TEST(Sharpen, OnlyReducedImagesOfThreeRowsOrMore)
{
    // 6 x 2 -> 3 x 1... rows below 3 are never sharpened.
    const std::vector<std::vector<int>> pattern = {
        {10, 200, 10, 200, 10, 200}, {200, 10, 200, 10, 200, 10},
        {10, 200, 10, 200, 10, 200}, {200, 10, 200, 10, 200, 10},
        {10, 200, 10, 200, 10, 200}, {200, 10, 200, 10, 200, 10}};
    struct Case { int dw, dh; bool changes; };
    for (const Case& c : {Case{3, 2, false}, Case{2, 3, false}, Case{5, 5, true}}) {
        const Raster24 picture = Gray(pattern);
        EXPECT_EQ(Channel(Reduced(picture, c.dw, c.dh)) != Channel(Reduced(picture, c.dw, c.dh, true)), c.changes)
            << c.dw << "x" << c.dh;
    }
}

TEST(BoxReduction, MatchesPlainVersionOverManySizes)
{
    if (!test::HaveExtendedPrecision()) GTEST_SKIP() << "the plain version needs 80-bit long double";
    std::mt19937 rng(12345);
    std::uniform_int_distribution<int> byte(0, 255);
    // Random sizes; then bands taller than 257 rows, whose column sums need
    // 32 bits; then boxes all one to four columns wide in more than one group
    // of sixteen, and boxes of 16 x 16 pixels, the largest summed in 16 bits.
    const int fixed[][4] = {{3, 600, 2, 2},  {5, 1000, 4, 3}, {2, 70000, 1, 1}, {37, 5, 37, 2},
                            {80, 6, 40, 3},  {90, 9, 30, 3},  {68, 8, 17, 2},   {512, 32, 32, 2}};
    const int rounds = 300 + static_cast<int>(std::size(fixed));
    for (int round = 0; round < rounds; ++round) {
        int sw = std::uniform_int_distribution<int>(1, 90)(rng);
        int sh = std::uniform_int_distribution<int>(1, 90)(rng);
        int dw = std::uniform_int_distribution<int>(1, sw)(rng);
        int dh = std::uniform_int_distribution<int>(1, sh)(rng);
        if (round >= 300) {
            const int* t = fixed[round - 300];
            sw = t[0], sh = t[1], dw = t[2], dh = t[3];
        }
        if (dw == sw && dh == sh) continue;
        // Three channels apart, so that a box's channels cannot pass for one another.
        Raster24 src;
        src.reset(sw, sh, PixelFormat::Bgr24, 0);
        for (int y = 0; y < sh; ++y)
            for (int x = 0; x < 3 * sw; ++x) src.scanLine(y)[x] = static_cast<std::uint8_t>(byte(rng));
        const bool sharpen = round % 2 == 1;
        const Raster24 fast = Reduced(src, dw, dh, sharpen), slow = test::SlowReduced(src, dw, dh, sharpen);
        for (int c = 0; c < 3; ++c)
            ASSERT_EQ(Channel(fast, c), Channel(slow, c)) << "channel " << c << " of " << sw << "x" << sh << " -> " << dw << "x" << dh;
    }
}

}  // namespace
}  // namespace pictavo
