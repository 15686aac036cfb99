#include "base/Errors.h"
#include "imaging/BoxReducer.h"
#include "imaging/ReduceBitmap.h"
#include "imaging/Sharpen.h"

#include <gtest/gtest.h>

#include <cfloat>
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

Raster24 Destination(int w, int h)
{
    Raster24 d;
    d.setWidth(w);
    d.setHeight(h);
    return d;
}

std::vector<int> Reduce1D(const std::vector<int>& row, int to)
{
    Raster24 src = Gray({row});
    Raster24 dst = Destination(to, 1);
    ReduceBitmap(src, dst, false);
    return Channel(dst)[0];
}

TEST(ReduceBitmap, WorkedExamples)
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

TEST(ReduceBitmap, BoxWidthsFollowTheSinglePrecisionScale)
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

TEST(ReduceBitmap, LastColumnIgnoredOnlyWhenTheScaleRoundsDown)
{
    struct Case { int from, to; bool lastRead; };
    for (const Case& c : {Case{1024, 800, false}, Case{10, 3, false}, Case{3000, 800, true}}) {
        std::vector<int> row(c.from, 0);
        row.back() = 200;
        EXPECT_EQ(Reduce1D(row, c.to).back() != 0, c.lastRead) << c.from << " -> " << c.to;
    }
}

TEST(ReduceBitmap, NoEnlargementCopiesTheSource)
{
    struct Case { int dw, dh; };
    for (const Case& c : {Case{4, 3}, Case{10, 10}}) {
        Raster24 src = Gray({{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}});
        Raster24 dst = Destination(c.dw, c.dh);
        ReduceBitmap(src, dst, true);
        EXPECT_EQ(dst.width(), 4);
        EXPECT_EQ(dst.height(), 3);
        EXPECT_EQ(Channel(dst), Channel(src));
    }
}

TEST(ReduceBitmap, EqualInOneAxisStillAveragesAndDarkens)
{
    Raster24 src = Gray({{50, 60}, {70, 80}, {90, 100}});
    Raster24 dst = Destination(2, 1);
    ReduceBitmap(src, dst, false);
    EXPECT_EQ(Channel(dst)[0], (std::vector<int>{(210 * 21845) >> 16, (240 * 21845) >> 16}));
    Raster24 one = Gray({{7}, {7}});
    Raster24 d1 = Destination(1, 1);
    ReduceBitmap(one, d1, false);
    EXPECT_EQ(Channel(d1)[0][0], 6);
}

TEST(ReduceBitmap, UniformValuesKeepTheirBrightnessInBigBoxes)
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
        Raster24 src = Gray(std::vector<std::vector<int>>(c.sh, std::vector<int>(c.sw, c.value)));
        Raster24 dst = Destination(c.dw, c.dh);
        ReduceBitmap(src, dst, false);
        for (const auto& row : Channel(dst, 2))
            for (int v : row) EXPECT_EQ(v, c.expected) << c.sw << "x" << c.sh << " -> " << c.dw << "x" << c.dh;
    }
}

TEST(BoxReducer, BoxSumsBeyondThirtyTwoBitsAverageExactly)
{
    // 17,000 x 1,000 pixels of 255 in one box: the sum passes 2^32.
    const std::vector<std::uint8_t> row(3 * 17000, 255);
    Raster24 dst = Destination(1, 1);
    dst.make24Bit();
    BoxReducer reducer(dst, 17000, 1000);
    while (!reducer.done()) reducer.addRow(row.data());
    EXPECT_EQ(dst.scanLine(0)[0], 255);
    EXPECT_EQ(dst.scanLine(0)[2], 255);
}

TEST(ReduceBitmap, ErrorsComeBeforeAnyPixelIsWritten)
{
    Raster24 src;
    src.reset(1, 2000, PixelFormat::Bgr24, 0);
    Raster24 dst = Destination(0, 600);
    EXPECT_THROW(ReduceBitmap(src, dst, false), EZeroDivide);

    // Larger in one axis, smaller in the other: empty boxes.
    Raster24 s2;
    s2.reset(2, 10, PixelFormat::Bgr24, 0);
    Raster24 d2 = Destination(4, 5);
    d2.make24Bit();
    try {
        ReduceBitmap(s2, d2, false);
        FAIL();
    } catch (const EDivByZero& e) {
        EXPECT_STREQ(e.what(), "Division by zero");
    }
    EXPECT_EQ(Channel(d2)[0][0], 255);
}

TEST(ReduceBitmap, ConvertsBothRastersToTwentyFourBit)
{
    Raster24 src;
    src.reset(4, 4, PixelFormat::Indexed8, 1);
    src.setPalette({{0, 0, 0, 0}, {40, 40, 40, 0}});
    Raster24 dst = Destination(2, 2);
    ReduceBitmap(src, dst, false);
    EXPECT_TRUE(src.is24Bit());
    EXPECT_TRUE(dst.is24Bit());
    EXPECT_EQ(Channel(dst)[1][1], 39);
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
        Raster24 a = Gray(pattern), b = Gray(pattern);
        Raster24 plain = Destination(c.dw, c.dh), sharp = Destination(c.dw, c.dh);
        ReduceBitmap(a, plain, false);
        ReduceBitmap(b, sharp, true);
        EXPECT_EQ(Channel(plain) != Channel(sharp), c.changes) << c.dw << "x" << c.dh;
    }
}

// Plain, slow versions written straight from the rules, for cross-checking.
std::vector<std::vector<int>> SlowReduce(const std::vector<std::vector<int>>& src, int dw, int dh)
{
    const int sw = static_cast<int>(src[0].size()), sh = static_cast<int>(src.size());
    const float xs = static_cast<float>(1.0L / (static_cast<long double>(dw) / sw));
    const float ys = static_cast<float>(1.0L / (static_cast<long double>(dh) / sh));
    auto bx = [&](int k) { return static_cast<int>(static_cast<long double>(k) * xs); };
    auto by = [&](int k) { return static_cast<int>(static_cast<long double>(k) * ys); };
    std::vector<std::vector<int>> out(dh, std::vector<int>(dw));
    for (int j = 0; j < dh; ++j)
        for (int i = 0; i < dw; ++i) {
            int sum = 0;
            for (int y = by(j); y < by(j + 1); ++y)
                for (int x = bx(i); x < bx(i + 1); ++x) sum += src[y][x];
            const int n = (bx(i + 1) - bx(i)) * (by(j + 1) - by(j));
            out[j][i] = n > 2047 ? (sum + n / 2) / n : (sum * (65535 / n)) >> 16;
        }
    return out;
}

void SlowSharpen(std::vector<std::vector<int>>& p)
{
    const int h = static_cast<int>(p.size()), w = static_cast<int>(p[0].size());
    for (int y = 1; y < h - 1; ++y)
        for (int x = 1; x < w - 1; ++x) {
            const int t = p[y - 1][x - 1] + p[y - 1][x + 1] + p[y + 1][x - 1] + p[y + 1][x + 1] - 12 * p[y][x];
            p[y][x] = std::clamp(t / -8, 0, 255);
        }
}

TEST(ReduceBitmap, MatchesPlainVersionOverManySizes)
{
    if (LDBL_MANT_DIG != 64) GTEST_SKIP() << "the plain version needs 80-bit long double";
    std::mt19937 rng(12345);
    std::uniform_int_distribution<int> byte(0, 255);
    // Random sizes, then bands taller than 257 rows, whose column sums need 32 bits.
    const int tall[][4] = {{3, 600, 2, 2}, {5, 1000, 4, 3}, {2, 70000, 1, 1}};
    for (int round = 0; round < 303; ++round) {
        int sw = std::uniform_int_distribution<int>(1, 90)(rng);
        int sh = std::uniform_int_distribution<int>(1, 90)(rng);
        int dw = std::uniform_int_distribution<int>(1, sw)(rng);
        int dh = std::uniform_int_distribution<int>(1, sh)(rng);
        if (round >= 300) {
            const int* t = tall[round - 300];
            sw = t[0], sh = t[1], dw = t[2], dh = t[3];
        }
        if (dw == sw && dh == sh) continue;
        std::vector<std::vector<int>> pixels(sh, std::vector<int>(sw));
        for (auto& row : pixels)
            for (int& v : row) v = byte(rng);
        const bool sharpen = round % 2 == 1;
        std::vector<std::vector<int>> expected = SlowReduce(pixels, dw, dh);
        if (sharpen && dh >= 3) SlowSharpen(expected);

        Raster24 src = Gray(pixels);
        Raster24 dst = Destination(dw, dh);
        ReduceBitmap(src, dst, sharpen);
        ASSERT_EQ(Channel(dst, 1), expected) << sw << "x" << sh << " -> " << dw << "x" << dh;
    }
}

}  // namespace
}  // namespace pictavo
