#include "imaging/Orient.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pictavo {
namespace {

// A 3 x 2 picture whose pixels are the letters a ... f, in blue, green and
// red (as the letter, its capital and its digit).
//   a b c
//   d e f
Raster24 Letters()
{
    Raster24 r;
    r.reset(3, 2, PixelFormat::Bgr24, 0);
    const char* rows[] = {"abc", "def"};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) {
            const char c = rows[y][x];
            std::uint8_t* p = r.scanLine(y) + 3 * x;
            p[0] = c, p[1] = c - 'a' + 'A', p[2] = c - 'a' + '1';
        }
    return r;
}

// The rows as letters; a pixel whose channels were parted shows as '?'.
std::vector<std::string> Rows(const Raster24& r)
{
    std::vector<std::string> out;
    for (int y = 0; y < r.height(); ++y) {
        std::string row;
        for (int x = 0; x < r.width(); ++x) {
            const std::uint8_t* p = r.scanLine(y) + 3 * x;
            row += p[1] == p[0] - 'a' + 'A' && p[2] == p[0] - 'a' + '1' ? static_cast<char>(p[0]) : '?';
        }
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

}  // namespace
}  // namespace pictavo
