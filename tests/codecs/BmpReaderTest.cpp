#include "codecs/bmp/BmpReader.h"
#include "base/Errors.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

namespace pictavo {
namespace {

using test::BmpFields;
using test::MakeBmp;

Raster24 Load(const std::vector<std::uint8_t>& file)
{
    Raster24 r;
    LoadBitmapBytes(r, file.data(), file.size());
    return r;
}

// The message loading `file` fails with, or "".
std::string LoadError(const std::vector<std::uint8_t>& file)
{
    return test::ErrorOf([&] { Load(file); });
}

// Pixel (x, y) from the top as 0xRRGGBB, after conversion to 24 bits.
std::uint32_t At(Raster24 r, int x, int y)
{
    r.make24Bit();
    const std::uint8_t* p = r.scanLine(y) + 3 * x;
    return std::uint32_t(p[2]) << 16 | std::uint32_t(p[1]) << 8 | p[0];
}

std::vector<std::uint32_t> AllPixels(Raster24 r)
{
    std::vector<std::uint32_t> out;
    for (int y = 0; y < r.height(); ++y)
        for (int x = 0; x < r.width(); ++x) out.push_back(At(r, x, y));
    return out;
}

// 24-bit rows of a 2 x 2 picture: top row red, green; bottom row blue, white.
BmpFields TwoByTwo(bool topDown)
{
    const std::vector<std::uint8_t> top = {0, 0, 255, 0, 255, 0, 0, 0};
    const std::vector<std::uint8_t> bottom = {255, 0, 0, 255, 255, 255, 0, 0};
    BmpFields s{.width = 2, .height = topDown ? -2 : 2};
    s.pixels = topDown ? top : bottom;
    const auto& second = topDown ? bottom : top;
    s.pixels.insert(s.pixels.end(), second.begin(), second.end());
    return s;
}

// Pixels as each layout stores them, from the top, as 0xRRGGBB.
TEST(BmpReader, LayoutsDecodeToTheirPixels)
{
    std::vector<std::uint32_t> sixteen, many(300, 0);
    for (std::uint32_t i = 0; i < 16; ++i) sixteen.push_back(i * 0x111111);
    many[255] = 0xFEDCBA;
    BmpFields table{.width = 1, .height = 1, .bits = 8, .colorsUsed = 16, .palette = sixteen, .pixels = {5, 0, 0, 0}};
    table.palette[5] = 0xABCDEF;
    BmpFields gap = table;
    gap.gapAfterTable = 4;
    struct Case { const char* name; BmpFields fields; std::vector<std::uint32_t> pixels; };
    const Case cases[] = {
        {"bottom-up", TwoByTwo(false), {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF}},
        {"top-down", TwoByTwo(true), {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF}},
        // The pixels follow the colour table whatever the offset field says.
        {"16 colours, then the pixels", table, {0xABCDEF}},
        {"a gap's 0xEE bytes as the pixels, beyond the table: black", gap, {0}},
        // More than 256 colours: read through, the first 256 kept.
        {"300 colours", {.width = 1, .height = 1, .bits = 8, .colorsUsed = 300, .palette = many, .pixels = {255, 0, 0, 0}}, {0xFEDCBA}},
        // A 40-byte header has its masks before the table.
        {"5-6-5", {.width = 2, .height = 1, .bits = 16, .compression = 3, .colorsUsed = 1, .masks = {0xF800, 0x07E0, 0x001F},
                   .palette = {0x123456}, .pixels = {0x00, 0xF8, 0xE0, 0x07}}, {0xFF0000, 0x00FF00}},
        {"V5, masks in the header, red low", {.headerSize = 124, .width = 1, .height = 1, .bits = 32, .compression = 3,
                                              .masks = {0xFF, 0xFF00, 0xFF0000}, .pixels = {0x11, 0x22, 0x33, 0x44}}, {0x112233}},
        // With an alpha mask, the colour is laid over white as in other formats.
        {"V5 with alpha", {.headerSize = 124, .width = 1, .height = 1, .bits = 32, .compression = 3,
                           .masks = {0xFF, 0xFF00, 0xFF0000, 0xFF000000}, .pixels = {0xFF, 0x00, 0x00, 0x80}}, {0xFF7F7F}},
        {"16 bits uncompressed: 5-5-5", {.width = 1, .height = 1, .bits = 16, .pixels = {0x00, 0x7C, 0, 0}}, {0xFF0000}},
        {"32 bits without masks: byte 3 dropped", {.width = 1, .height = 1, .bits = 32, .pixels = {1, 2, 3, 4}}, {0x030201}},
        {"1 bit", {.width = 3, .height = 1, .bits = 1, .palette = {0x000000, 0xFFFFFF}, .pixels = {0xA0, 0, 0, 0}}, {0xFFFFFF, 0, 0xFFFFFF}},
        {"4 bits", {.width = 3, .height = 1, .bits = 4, .palette = sixteen, .pixels = {0x12, 0xF0, 0, 0}}, {0x111111, 0x222222, 0xFFFFFF}},
    };
    for (const Case& c : cases) EXPECT_EQ(AllPixels(Load(MakeBmp(c.fields))), c.pixels) << c.name;
    EXPECT_TRUE(Load(MakeBmp(TwoByTwo(false))).is24Bit());
}

TEST(BmpReader, CoreHeaderEqualsItsInfoHeaderTwin)
{
    BmpFields info{.width = 3, .height = 2, .bits = 8};
    for (std::uint32_t i = 0; i < 256; ++i) info.palette.push_back(i * 0x010203u & 0xFFFFFF);
    info.pixels = {1, 2, 3, 0, 250, 251, 252, 0};
    BmpFields core = info;
    core.headerSize = 12;
    EXPECT_EQ(AllPixels(Load(MakeBmp(core))), AllPixels(Load(MakeBmp(info))));
    EXPECT_EQ(At(Load(MakeBmp(core)), 0, 1), 0x010203u);
}

TEST(BmpReader, RunLengthEncodings)
{
    // Encoded data needs its size in the header: a size of 0 counts as the
    // uncompressed size, and only that much is read.
    std::vector<std::uint32_t> palette(16);
    for (std::uint32_t i = 0; i < 16; ++i) palette[i] = 0x100000 * i + i;
    const std::uint32_t black = 0;
    auto c = [&](int i) { return palette[i]; };

    // RLE8, 4 x 3: bottom row a run; then a delta; an absolute run with padding.
    BmpFields rle8{.width = 4, .height = 3, .bits = 8, .compression = 1, .colorsUsed = 16, .palette = palette};
    rle8.pixels = {
        3, 7,            // bottom row: 7 7 7
        0, 0,            // end of line
        0, 2, 1, 1,      // delta: right 1, up 1 (to the top row, x = 1)
        0, 3, 1, 2, 3, 0,  // absolute: 1 2 3, padded
        9, 4,            // runs past the width write nothing
        0, 1,            // end of bitmap
        5, 5};           // never read
    rle8.imageSize = static_cast<std::uint32_t>(rle8.pixels.size());
    const Raster24 r8 = Load(MakeBmp(rle8));
    EXPECT_FALSE(r8.is24Bit());
    EXPECT_EQ(AllPixels(r8), (std::vector<std::uint32_t>{
                                 black, c(1), c(2), c(3),
                                 black, black, black, black,
                                 c(7), c(7), c(7), black}));

    // RLE4: nibbles alternate; absolute runs are padded to 16 bits.
    BmpFields rle4{.width = 5, .height = 1, .bits = 4, .compression = 2, .palette = palette};
    rle4.pixels = {3, 0x12, 0, 3, 0x45, 0x60, 0, 1};
    rle4.imageSize = 8;
    EXPECT_EQ(AllPixels(Load(MakeBmp(rle4))), (std::vector<std::uint32_t>{c(1), c(2), c(1), c(4), c(5)}));

    // Deltas far outside and indices past the table never write outside.
    BmpFields wild = rle8;
    wild.colorsUsed = 2;
    wild.palette = {0x010101, 0x020202};
    wild.pixels = {0, 2, 255, 255, 200, 1, 0, 2, 0, 200, 0, 0, 2, 9, 0, 1};
    wild.imageSize = 16;
    EXPECT_EQ(Load(MakeBmp(wild)).width(), 4);
    BmpFields beyond{.width = 2, .height = 1, .bits = 8, .compression = 1, .colorsUsed = 1, .palette = {0x0A0B0C}};
    beyond.pixels = {1, 0, 1, 9};
    beyond.imageSize = 4;
    EXPECT_EQ(AllPixels(Load(MakeBmp(beyond))), (std::vector<std::uint32_t>{0x0A0B0C, black}));
}

TEST(BmpReader, FailuresAndTheirMessages)
{
    const std::vector<std::uint8_t> good = MakeBmp(TwoByTwo(false));
    auto with = [&](BmpFields s) { return MakeBmp(s); };
    BmpFields base = TwoByTwo(false);
    auto changed = [&](auto change) {
        BmpFields s = base;
        change(s);
        return MakeBmp(s);
    };
    std::vector<std::uint8_t> badSignature = good;
    badSignature[0] = 'X';
    std::vector<std::uint8_t> hugeHeader = good;
    hugeHeader[14] = 0xFF;
    hugeHeader[15] = 0xFF;

    struct Case { const char* name; std::vector<std::uint8_t> file; const char* message; };
    const Case cases[] = {
        {"10 bytes", std::vector<std::uint8_t>(good.begin(), good.begin() + 10), "Stream read error"},
        {"ends inside the info header", std::vector<std::uint8_t>(good.begin(), good.begin() + 30), "Stream read error"},
        {"header larger than the file", hugeHeader, "Stream read error"},
        {"colour table past the end", with({.width = 1, .height = 1, .bits = 8, .palette = {1, 2}}), "Stream read error"},
        {"masks past the end", with({.width = 1, .height = 1, .bits = 16, .compression = 3}), "Stream read error"},
        {"signature", badSignature, "Bitmap image is not valid"},
        {"planes 2", changed([](BmpFields& s) { s.planes = 2; }), "Bitmap image is not valid"},
        {"width 0", changed([](BmpFields& s) { s.width = 0; }), "Bitmap image is not valid"},
        {"negative width", changed([](BmpFields& s) { s.width = -2; }), "Bitmap image is not valid"},
        {"height 0", changed([](BmpFields& s) { s.height = 0; }), "Bitmap image is not valid"},
        {"2 bits", changed([](BmpFields& s) { s.bits = 2; }), "Bitmap image is not valid"},
        {"header size 8", changed([](BmpFields& s) { s.headerSize = 8; }), "Bitmap image is not valid"},
        {"24-bit RLE", changed([](BmpFields& s) { s.compression = 4; }), "Bitmap image is not valid"},
        {"masks on 24 bits", changed([](BmpFields& s) { s.compression = 3; }), "Bitmap image is not valid"},
        {"top-down RLE", with({.width = 1, .height = -1, .bits = 8, .compression = 1, .colorsUsed = 1, .palette = {0}, .pixels = {1, 0}}), "Bitmap image is not valid"},
        {"split mask", with({.width = 1, .height = 1, .bits = 16, .compression = 3, .masks = {0xF00F, 0x00F0, 0x0F00}, .pixels = {0, 0, 0, 0}}), "Bitmap image is not valid"},
    };
    for (const Case& c : cases) EXPECT_EQ(LoadError(c.file), c.message) << c.name;
}

TEST(BmpReader, FailureLeavesTheRasterAsItWas)
{
    Raster24 r;
    r.reset(7, 5, PixelFormat::Bgr24, 9);
    const std::vector<std::uint8_t> bad = {'B', 'M', 1, 2, 3};
    EXPECT_THROW(LoadBitmapBytes(r, bad.data(), bad.size()), EReadError);
    EXPECT_EQ(r.width(), 7);
    EXPECT_EQ(r.scanLine(4)[0], 9);
    EXPECT_THROW(LoadBitmapFile(r, "/nonexistent.bmp", "x.bmp"), EFOpenError);
    EXPECT_EQ(r.height(), 5);
    // An empty file is an empty picture, not an error.
    LoadBitmapBytes(r, bad.data(), 0);
    EXPECT_EQ(r.width(), 0);
}

TEST(BmpReader, ShortPixelDataLeavesTheTopRowsBlack)
{
    BmpFields s{.width = 2, .height = 4};
    for (int row = 0; row < 4; ++row) s.pixels.insert(s.pixels.end(), {1, 2, 3, 1, 2, 3, 0, 0});
    s.pixels.resize(s.pixels.size() / 2);
    const Raster24 r = Load(MakeBmp(s));
    EXPECT_EQ(At(r, 0, 0), 0u);
    EXPECT_EQ(At(r, 1, 1), 0u);
    EXPECT_EQ(At(r, 0, 2), 0x030201u);
    EXPECT_EQ(At(r, 1, 3), 0x030201u);
    // Streamed, the picture says it was cut short; whole, it says nothing.
    // Run-length data are cut short when they end before their end-of-bitmap
    // marker; with no data at all, no row is decoded.
    s.pixels.resize(2 * s.pixels.size());
    BmpFields runs{.width = 2, .height = 4, .bits = 8, .compression = 1, .colorsUsed = 1, .palette = {0x030201}};
    runs.pixels = {2, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 1};
    runs.imageSize = 16;
    BmpFields noEnd = runs;
    noEnd.pixels.resize(14);  // the last row whole, without its marker
    const struct {
        BmpFields fields;
        std::size_t kept;  // pixel bytes the file keeps
        int plainRows;     // rows handed on one by one, at least
        bool cut;
    } cases[] = {{s, 32, 4, false}, {s, 16, 1, true}, {runs, 16, 1, false}, {noEnd, 14, 1, false},
                 {runs, 8, 1, true}, {runs, 5, 1, true}, {runs, 0, 0, true}};
    test::ScratchDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.fields.compression) + " " + std::to_string(c.kept));
        BmpFields f = c.fields;
        f.pixels.resize(c.kept);
        test::WriteBytes(dir.file("s.bmp"), MakeBmp(f));
        const std::unique_ptr<PictureSource> source = OpenBitmapSource(dir.file("s.bmp"), "s.bmp");
        int plain = 0;
        std::int64_t rows = 0;
        source->readRows({[&](const std::uint8_t*) { ++plain, ++rows; }, [&](const std::uint8_t*, std::int64_t n) { rows += n; }});
        EXPECT_EQ(rows, 4);
        EXPECT_EQ(plain == 0, c.plainRows == 0);
        EXPECT_GE(plain, c.plainRows);
        EXPECT_EQ(source->warnings().count, c.cut ? 1 : 0);
        EXPECT_EQ(source->warnings().text, c.cut ? "Premature end of BMP file" : "");
    }
}

TEST(BmpReader, Os2HeaderOf16Bytes)
{
    // An OS/2 2.x header of 16 bytes: the omitted fields are 0.
    BmpFields os2{.headerSize = 16, .width = 1, .height = 1, .bits = 24, .pixels = {7, 8, 9, 0}};
    std::vector<std::uint8_t> file = MakeBmp(os2);
    // MakeBmp always writes 40 bytes of fields; cut the header down to 16.
    file.erase(file.begin() + 14 + 16, file.begin() + 14 + 40);
    EXPECT_EQ(At(Load(file), 0, 0), 0x090807u);
}

TEST(BmpReader, OversizedPicturesFailBeforeAllocating)
{
    const ScopedMemoryBudget budget(std::uint64_t(64) << 20);
    EXPECT_EQ(LoadError(MakeBmp({.width = 30000, .height = 30000, .pixels = {1, 2, 3}})), "Out of memory");
    EXPECT_EQ(LoadError(MakeBmp({.width = 0x7FFFFFFF, .height = -0x7FFFFFFF, .bits = 32})), "Out of memory");
}

}  // namespace
}  // namespace pictavo
