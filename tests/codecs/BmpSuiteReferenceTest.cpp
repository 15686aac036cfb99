// The BMP Suite against its reference renderings, decoded by ImageMagick.
#include "tests/codecs/BmpSuite.h"

#include <set>

namespace pictavo {
namespace {

// A PNG rendering decoded by ImageMagick, when it is installed.
bool LoadReference(const fs::path& png, Raster24& out)
{
    if (!fs::exists("/usr/bin/convert")) return false;
    const test::ScratchDir dir;
    if (test::RunCommand("/usr/bin/convert '" + png.string() + "' -background black -alpha remove -depth 8 " + dir.file("r.ppm")).status != 0)
        return false;
    int w = 0, h = 0;
    const std::vector<std::uint8_t> bgr = test::PpmAsBgr(test::ReadBytes(dir.file("r.ppm")), w, h);
    if (bgr.empty()) return false;
    out.reset(w, h, PixelFormat::Bgr24, 0);
    for (int y = 0; y < h; ++y) std::copy_n(&bgr[3 * std::size_t(y) * w], 3 * w, out.scanLine(y));
    return true;
}

TEST(BmpSuite, MatchesTheReferenceRenderings)
{
    if (Suite().empty()) GTEST_SKIP() << "no shared corpus";
    Raster24 probe;
    if (!LoadReference(Suite() / "reference/pal8.png", probe)) GTEST_SKIP() << "ImageMagick is not installed";
    // Alpha is not part of the picture here; these renderings blend it in.
    const std::set<std::string> blended = {"rgba16-1924", "rgba16-4444", "rgba16-5551", "rgba32-1010102",
                                           "rgba32-61754", "rgba32-81284", "rgb16faketrns"};
    int compared = 0;
    for (const auto& entry : fs::directory_iterator(Suite() / "reference")) {
        const std::string name = entry.path().stem().string();
        if (entry.path().extension() != ".png" || blended.count(name)) continue;
        for (const std::string group : {"g", "q", "b"}) {
            const fs::path bmp = Suite() / group / (name + ".bmp");
            if (!fs::exists(bmp)) continue;
            SCOPED_TRACE(group + "/" + name);
            Raster24 mine, theirs;
            try {
                mine = Load(bmp);
            } catch (const std::exception& e) {
                EXPECT_NE(group, "g") << e.what();  // only good files must load
                continue;
            }
            ASSERT_TRUE(LoadReference(entry.path(), theirs));
            ASSERT_EQ(mine.width(), theirs.width());
            ASSERT_EQ(mine.height(), theirs.height());
            // 5- and 6-bit channels may be widened by scaling there, by bit
            // repetition here: at most 1 apart. Everything else is exact.
            EXPECT_LE(MaxDifference(mine, theirs), name.rfind("rgb16", 0) == 0 || name == "rgb32-7187" ? 1 : 0);
            ++compared;
        }
    }
    EXPECT_GT(compared, 20);
}

}  // namespace
}  // namespace pictavo
