// The BMP Suite: good files must show their picture, questionable and bad
// ones must load or fail with one of the reader's messages, never crash.
#include "codecs/bmp/BmpReader.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>

namespace pictavo {
namespace {

namespace fs = std::filesystem;

fs::path Suite()
{
    const fs::path corpus = test::CorpusDir();
    return corpus.empty() ? fs::path() : corpus / "bmpsuite";
}

std::vector<fs::path> Files(const std::string& group)
{
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(Suite() / group))
        if (entry.path().extension() == ".bmp") files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

Raster24 Load(const fs::path& file)
{
    Raster24 r;
    LoadBitmapFile(r, file.string());
    r.make24Bit();
    return r;
}

int MaxDifference(const Raster24& a, const Raster24& b)
{
    int most = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width() * 3; ++x) most = std::max(most, std::abs(a.scanLine(y)[x] - b.scanLine(y)[x]));
    return most;
}

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

TEST(BmpSuite, QuestionableAndBadFilesLoadOrFailCleanly)
{
    if (Suite().empty()) GTEST_SKIP() << "no shared corpus";
    const std::set<std::string> messages = {"Stream read error", "Bitmap image is not valid", "Out of memory"};
    // No file here may need more than this; declared sizes beyond it fail.
    const ScopedMemoryBudget budget(std::uint64_t(64) << 20);
    for (const std::string group : {"q", "b"}) {
        for (const fs::path& file : Files(group)) {
            Raster24 r;
            std::string outcome = "loads";
            try {
                LoadBitmapFile(r, file.string());
                r.make24Bit();
            } catch (const std::exception& e) {
                outcome = e.what();
                EXPECT_TRUE(messages.count(outcome)) << file << ": " << outcome;
            }
            if (std::getenv("PICTAVO_SUITE_REPORT"))
                std::printf("%s/%s: %s\n", group.c_str(), file.filename().c_str(), outcome.c_str());
        }
    }
}

}  // namespace
}  // namespace pictavo

namespace pictavo {
namespace {

// A PNG rendering decoded by ImageMagick, when it is installed.
bool LoadReference(const fs::path& png, Raster24& out)
{
    if (!fs::exists("/usr/bin/convert")) return false;
    const std::string command = "/usr/bin/convert '" + png.string() + "' -background black -alpha remove -depth 8 ppm:- 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return false;
    std::vector<std::uint8_t> bytes;
    std::uint8_t buffer[65536];
    std::size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
    if (pclose(pipe) != 0) return false;
    int w = 0, h = 0, max = 0, offset = 0;
    if (std::sscanf(reinterpret_cast<const char*>(bytes.data()), "P6 %d %d %d%n", &w, &h, &max, &offset) != 3) return false;
    ++offset;
    out.reset(w, h, PixelFormat::Bgr24, 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) out.scanLine(y)[3 * x + c] = bytes[offset + (y * w + x) * 3 + (2 - c)];
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
