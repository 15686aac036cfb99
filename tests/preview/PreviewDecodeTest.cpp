#include "preview/PreviewDecode.h"
#include "base/MemoryBudget.h"
#include "imaging/ColourProfile.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <utility>

namespace pictavo {
namespace {

TEST(PreviewDecode, SmallestScaleThatStillFillsTheRoom)
{
    test::ScratchDir dir;
    const auto red = [](int, int) { return test::Rgb{200, 30, 60}; };
    struct Case { const char* name; std::vector<std::uint8_t> file; int roomW, roomH; int w, h; int fullW, fullH; };
    const Case cases[] = {
        // 1600 x 1200 fitted into 220 x 220 needs 220 / 1600: 2/8 is the smallest scale above.
        {"a.jpg", test::MakeJpeg(1600, 1200, red), 220, 220, 400, 300, 1600, 1200},
        {"b.jpeg", test::MakeJpeg(1600, 1200, red), 1600, 1600, 1600, 1200, 1600, 1200},  // never enlarged
        {"c.jpg", test::MakeJpeg(200, 100, red), 220, 220, 200, 100, 200, 100},
        {"d.jpg", test::MakeJpeg(1600, 1200, red, {.progressive = true}), 100, 75, 200, 150, 1600, 1200},
        // Sideways: sized and fitted upright.
        {"e.jpg", test::MakeJpeg(1600, 1200, red, {.app1 = test::ExifWithOrientation(6)}), 220, 220, 300, 400, 1200, 1600},
        {"f.jpg", test::MakeJpeg(64, 48, red, {.gray = true}), 8, 8, 8, 6, 64, 48},
        // Bitmaps are subsampled by the largest step that keeps the fitted size.
        {"g.bmp", test::MakeBmp({.width = 100, .height = 80, .bits = 24, .pixels = std::vector<std::uint8_t>(300 * 80)}),
         30, 30, 34, 27, 100, 80},
    };
    for (const Case& c : cases) {
        test::WriteBytes(dir.file(c.name), c.file);
        int fullW = 0, fullH = 0;
        const auto sized = [&](int w, int h) { fullW = w, fullH = h; };
        Raster24 preview = DecodePreview(dir.file(c.name), c.roomW, c.roomH, {.sized = sized});
        EXPECT_EQ(preview.width(), c.w) << c.name;
        EXPECT_EQ(preview.height(), c.h) << c.name;
        EXPECT_EQ(fullW, c.fullW) << c.name;
        EXPECT_EQ(fullH, c.fullH) << c.name;
        if (c.name[0] != 'f' && c.name[0] != 'g') {  // the colour, in blue, green, red order
            const std::uint8_t* p = static_cast<const Raster24&>(preview).scanLine(preview.height() / 2) + 3 * (preview.width() / 2);
            EXPECT_LE(std::abs(p[0] - 60) + std::abs(p[1] - 30) + std::abs(p[2] - 200), 9) << c.name;
        }
    }
    EXPECT_EQ(DecodePreview(dir.file("a.jpg"), 220, 220, {.cancelled = [] { return true; }}).width(), 0);
    EXPECT_EQ(DecodePreview(dir.file("a.txt"), 220, 220).width(), 0);  // no format for it
    test::WriteBytes(dir.file("a.png"), test::ReadBytes(dir.file("a.jpg")));
    EXPECT_EQ(DecodePreview(dir.file("a.png"), 220, 220).width(), 0);  // not one the window offers
    test::WriteBytes(dir.file("bad.jpg"), {0xFF, 0xD8, 0xFF, 0xD9});
    EXPECT_EQ(test::ErrorOf([&] { DecodePreview(dir.file("bad.jpg"), 220, 220); }), "JPEG error #50");
}

// The window holds no run's reservation, so the preview checks its need
// itself: a progressive picture keeps every coefficient at any scale, and
// one claiming 30000 x 30000 fails before the library takes them.
TEST(PreviewDecode, CheckedAgainstTheMemoryBudget)
{
    test::ScratchDir dir;
    test::WriteBytes(dir.file("huge.jpg"),
                     test::WithFrameSize(test::MakeJpeg(16, 16, test::Gradient, {.progressive = true}), 30000, 30000));
    const ScopedMemoryBudget budget(std::uint64_t(512) << 20);
    EXPECT_EQ(test::ErrorOf([&] { DecodePreview(dir.file("huge.jpg"), 100, 100); }), "Out of memory");
}

TEST(PreviewDecode, ShowsProfiledColoursInSrgb)
{
    const std::string adobe = "/usr/share/color/icc/colord/AdobeRGB1998.icc";
    if (!std::filesystem::exists(adobe)) GTEST_SKIP() << "colord-data is not installed";
    test::ScratchDir dir;
    test::WriteBytes(dir.file("plain.jpg"), test::MakeJpeg(40, 20, test::Gradient));
    test::WriteBytes(dir.file("tagged.jpg"), test::MakeJpeg(40, 20, test::Gradient, {.icc = test::ReadBytes(adobe)}));
    Raster24 plain = DecodePreview(dir.file("plain.jpg"), 40, 20);
    const Raster24 tagged = DecodePreview(dir.file("tagged.jpg"), 40, 20);
    ASSERT_EQ(tagged.width(), 40);
    Raster24 expected = plain;
    ConvertToSrgb(expected, test::ReadBytes(adobe));
    for (int y = 0; y < 20; ++y)
        ASSERT_TRUE(std::equal(tagged.scanLine(y), tagged.scanLine(y) + 120, std::as_const(expected).scanLine(y)));
    EXPECT_FALSE(std::equal(tagged.scanLine(0), tagged.scanLine(0) + 120, std::as_const(plain).scanLine(0)));
}

TEST(PreviewDecode, SubsampleKeepsEveryStepthPixel)
{
    Raster24 source;
    source.reset(5, 3, PixelFormat::Bgr24, std::nullopt);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            for (int k = 0; k < 3; ++k) source.scanLine(y)[3 * x + k] = static_cast<std::uint8_t>(10 * y + x + 100 * k);
    Raster24 out = Subsample(source, 2);
    ASSERT_EQ(out.width(), 3);
    ASSERT_EQ(out.height(), 2);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            for (int k = 0; k < 3; ++k) EXPECT_EQ(out.scanLine(y)[3 * x + k], 10 * 2 * y + 2 * x + 100 * k);
}

}  // namespace
}  // namespace pictavo
