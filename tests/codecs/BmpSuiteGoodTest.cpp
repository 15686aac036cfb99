// The BMP Suite's good files must show their picture.
#include "tests/codecs/BmpSuite.h"

namespace pictavo {
namespace {

TEST(BmpSuite, GoodFilesShowTheirPicture)
{
    if (Suite().empty()) GTEST_SKIP() << "no shared corpus";
    const Raster24 reference = Load(Suite() / "g/rgb24.bmp");
    const Raster24 pal8 = Load(Suite() / "g/pal8.bmp");
    ASSERT_EQ(reference.width(), 127);
    ASSERT_EQ(reference.height(), 64);

    // Each file against the picture it must equal exactly, or come close to
    // where its depth allows no more.
    struct Expectation { const Raster24* like; int maxDifference; };
    const std::map<std::string, Expectation> expected = {
        {"rgb24.bmp", {&reference, 0}},       {"rgb24pal.bmp", {&reference, 0}},
        {"rgb32.bmp", {&reference, 0}},       {"rgb32bf.bmp", {&reference, 0}},
        {"rgb32bfdef.bmp", {&reference, 0}},  {"rgb16.bmp", {&reference, 8}},
        {"rgb16bfdef.bmp", {&reference, 8}},  {"rgb16-565.bmp", {&reference, 8}},
        {"rgb16-565pal.bmp", {&reference, 8}},
        {"pal8-0.bmp", {&pal8, 0}},           {"pal8os2.bmp", {&pal8, 0}},
        {"pal8rle.bmp", {&pal8, 0}},          {"pal8topdown.bmp", {&pal8, 0}},
        {"pal8v4.bmp", {&pal8, 0}},           {"pal8v5.bmp", {&pal8, 0}},
    };
    for (const fs::path& file : Files("g")) {
        SCOPED_TRACE(file.filename().string());
        Raster24 r;
        ASSERT_NO_THROW(r = Load(file));
        EXPECT_GT(r.width(), 0);
        const auto it = expected.find(file.filename().string());
        if (it == expected.end()) continue;
        ASSERT_EQ(r.width(), it->second.like->width());
        ASSERT_EQ(r.height(), it->second.like->height());
        EXPECT_LE(MaxDifference(r, *it->second.like), it->second.maxDifference);
    }
    EXPECT_EQ(MaxDifference(Load(Suite() / "g/pal4rle.bmp"), Load(Suite() / "g/pal4.bmp")), 0);
}

}  // namespace
}  // namespace pictavo
