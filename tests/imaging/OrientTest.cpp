#include "imaging/Orient.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pictavo {
namespace {

// A 3 x 2 picture whose pixels are the letters a ... f, stored in blue.
//   a b c
//   d e f
Raster24 Letters()
{
    Raster24 r;
    r.reset(3, 2, PixelFormat::Bgr24, 0);
    const char* rows[] = {"abc", "def"};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) r.scanLine(y)[3 * x] = static_cast<std::uint8_t>(rows[y][x]);
    return r;
}

std::vector<std::string> Rows(const Raster24& r)
{
    std::vector<std::string> out;
    for (int y = 0; y < r.height(); ++y) {
        std::string row;
        for (int x = 0; x < r.width(); ++x) row += static_cast<char>(r.scanLine(y)[3 * x]);
        out.push_back(row);
    }
    return out;
}

TEST(Orient, AllEightOrientations)
{
    struct Case { int orientation; std::vector<std::string> upright; };
    const Case cases[] = {
        {1, {"abc", "def"}},
        {2, {"cba", "fed"}},
        {3, {"fed", "cba"}},
        {4, {"def", "abc"}},
        {5, {"ad", "be", "cf"}},
        {6, {"da", "eb", "fc"}},
        {7, {"fc", "eb", "da"}},
        {8, {"cf", "be", "ad"}},
        {0, {"abc", "def"}},
        {9, {"abc", "def"}},
    };
    for (const Case& c : cases) {
        Raster24 source = Letters();
        const Raster24 upright = Orient(source, c.orientation);
        EXPECT_EQ(Rows(upright), c.upright) << "orientation " << c.orientation;
        EXPECT_EQ(Rows(source), (std::vector<std::string>{"abc", "def"}));
    }
}

TEST(Orient, FullPixelsMoveTogether)
{
    Raster24 source;
    source.reset(2, 1, PixelFormat::Bgr24, 0);
    const std::uint8_t pixel[6] = {1, 2, 3, 4, 5, 6};
    std::copy(pixel, pixel + 6, source.scanLine(0));
    const Raster24 turned = Orient(source, 6);
    ASSERT_EQ(turned.width(), 1);
    ASSERT_EQ(turned.height(), 2);
    EXPECT_EQ(std::vector<int>(turned.scanLine(0), turned.scanLine(0) + 3), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(std::vector<int>(turned.scanLine(1), turned.scanLine(1) + 3), (std::vector<int>{4, 5, 6}));
}

}  // namespace
}  // namespace pictavo
