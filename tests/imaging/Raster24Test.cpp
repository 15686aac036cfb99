#include "base/Errors.h"
#include "imaging/Raster24.h"

#include <gtest/gtest.h>

#include <cstring>
#include <utility>

namespace pictavo {
namespace {

Raster24 Sized(int w, int h)
{
    Raster24 r;
    r.reset(w, h, PixelFormat::Bgr24, 255);
    return r;
}

TEST(Raster24, StrideIsThreeBytesAPixelPaddedToFour)
{
    const int widths[][2] = {{1, 4}, {2, 8}, {3, 12}, {4, 12}, {5, 16}};
    for (const auto& [w, stride] : widths) {
        Raster24 r = Sized(w, 2);
        EXPECT_EQ(r.scanLine(1) - r.scanLine(0), stride);
        EXPECT_EQ(r.rowStep(), stride);
        const std::uint8_t* before = r.scanLine(0);
        r.make24Bit();  // already 24-bit: nothing moves
        EXPECT_EQ(r.scanLine(0), before);
    }
}

TEST(Raster24, RowAccessOutsideTheRasterFails)
{
    Raster24 r = Sized(5, 0);
    EXPECT_EQ(r.width(), 5);
    EXPECT_EQ(r.height(), 0);
    EXPECT_THROW(r.scanLine(0), EInvalidGraphicOperation);
    r = Sized(5, 2);
    for (int row : {-1, 2}) {
        try {
            r.scanLine(row);
            FAIL() << row;
        } catch (const EInvalidGraphicOperation& e) {
            EXPECT_STREQ(e.what(), "Scan line index out of range");
        }
    }
}

TEST(Raster24, AssignSharesUntilEitherSideWrites)
{
    Raster24 a = Sized(4, 3);
    a.scanLine(1)[0] = 7;
    Raster24 b;
    b.assign(&a);
    const auto shared = [&] { return std::as_const(b).scanLine(1) == std::as_const(a).scanLine(1); };
    EXPECT_TRUE(shared());
    b.scanLine(1)[0] = 9;
    EXPECT_FALSE(shared());
    EXPECT_EQ(a.scanLine(1)[0], 7);
    Raster24 c;
    c.assign(&a);
    a.scanLine(1)[0] = 3;
    EXPECT_EQ(c.scanLine(1)[0], 7);
    c.assign(&c);
    EXPECT_EQ(c.width(), 4);
    c.assign(nullptr);
    EXPECT_EQ(c.width(), 0);
    EXPECT_EQ(c.height(), 0);
}

TEST(Raster24, MakeTwentyFourBitConvertsEveryLayout)
{
    std::vector<PaletteEntry> gray(256);
    for (int i = 0; i < 256; ++i) gray[i] = {std::uint8_t(i), std::uint8_t(i), std::uint8_t(i), 0};
    const std::vector<PaletteEntry> two = {{1, 2, 3, 0}, {4, 5, 6, 0}};
    const std::vector<PaletteEntry> sixteen(16, PaletteEntry{10, 20, 30, 0});

    struct Case {
        const char* name;
        PixelFormat format;
        std::vector<std::uint8_t> row;  // first row bytes
        std::vector<PaletteEntry> palette;
        ChannelMasks masks;
        int width;
        std::vector<std::uint8_t> expected;  // width * 3 bytes
    };
    const Case cases[] = {
        {"1-bit, leftmost in bit 7", PixelFormat::Indexed1, {0x80}, two, {}, 2, {4, 5, 6, 1, 2, 3}},
        {"4-bit, high nibble first", PixelFormat::Indexed4, {0x3F}, sixteen, {}, 2, {10, 20, 30, 10, 20, 30}},
        {"8-bit gray ramp", PixelFormat::Indexed8, {0, 128, 255}, gray, {}, 3, {0, 0, 0, 128, 128, 128, 255, 255, 255}},
        {"8-bit index beyond the table is black", PixelFormat::Indexed8, {1, 5}, two, {}, 2, {4, 5, 6, 0, 0, 0}},
        // 0x7FFF: all five bits set in every channel; 0x0421: 1 in each channel
        {"5-5-5", PixelFormat::Rgb555, {0xFF, 0x7F, 0x21, 0x04}, {}, {}, 2, {255, 255, 255, 8, 8, 8}},
        {"5-6-5 masks", PixelFormat::Masked16, {0x1F, 0x00, 0xE0, 0x07}, {}, {0xF800, 0x07E0, 0x001F}, 2,
         {255, 0, 0, 0, 255, 0}},
        {"32-bit drops byte 3", PixelFormat::Bgrx32, {1, 2, 3, 99, 4, 5, 6, 98}, {}, {}, 2, {1, 2, 3, 4, 5, 6}},
        {"32-bit 10-bit masks keep the top bits", PixelFormat::Masked32, {0xFF, 0x03, 0x00, 0x00}, {},
         {0x3FF00000, 0x000FFC00, 0x000003FF}, 1, {255, 0, 0}},
        {"2-bit channels are replicated", PixelFormat::Masked16, {0x02, 0x00}, {}, {0x0C, 0x30, 0x03}, 1, {0xAA, 0, 0}},
    };
    for (const Case& c : cases) {
        Raster24 r;
        r.reset(c.width, 2, c.format, 0);
        std::memcpy(r.scanLine(0), c.row.data(), c.row.size());
        r.setPalette(c.palette);
        r.setMasks(c.masks);
        EXPECT_FALSE(r.is24Bit()) << c.name;
        r.make24Bit();
        ASSERT_TRUE(r.is24Bit()) << c.name;
        EXPECT_EQ(std::vector<std::uint8_t>(r.scanLine(0), r.scanLine(0) + 3 * c.width), c.expected) << c.name;
    }
}

TEST(Raster24, BottomUpStorageKeepsRowZeroAtTheTop)
{
    Raster24 r;
    r.reset(1, 2, PixelFormat::Bgrx32, 0, /*bottomUp=*/true);
    r.pixelBytes()[0] = 42;  // first in memory: the bottom row
    EXPECT_EQ(r.scanLine(1)[0], 42);
    EXPECT_LT(r.rowStep(), 0);
    r.make24Bit();
    EXPECT_EQ(r.scanLine(1)[0], 42);
    EXPECT_EQ(r.scanLine(0)[0], 0);
}

TEST(Raster24, OversizedAreasFailWithOutOfMemoryBeforeAllocating)
{
    const ScopedMemoryBudget budget(1000);
    Raster24 r;
    EXPECT_THROW(r.reset(100, 100, PixelFormat::Bgr24, 0), EOutOfMemory);
    EXPECT_EQ(r.height(), 0);
    Raster24 huge;
    try {
        huge.reset(2000000000, 2000000000, PixelFormat::Bgr24, std::nullopt);
        FAIL();
    } catch (const EOutOfMemory& e) {
        EXPECT_STREQ(e.what(), "Out of memory");
    }
}

}  // namespace
}  // namespace pictavo
