#include "cli/Options.h"
#include "cli/ProgressBar.h"

#include <gtest/gtest.h>

namespace pictavo::cli {
namespace {

TEST(Options, DefaultsAreTheWindowsDefaults)
{
    std::string error;
    const auto o = Parse({"photos"}, error);
    ASSERT_TRUE(o);
    EXPECT_EQ(o->folder, "photos");
    EXPECT_EQ(o->model.format, InputFormat::Jpeg);
    EXPECT_EQ(o->model.target().width, 800.0f);
    EXPECT_EQ(o->model.quality(), 75);
    EXPECT_FALSE(o->model.sharpen);
    EXPECT_EQ(o->model.series, "RurOdi");
}

TEST(Options, PresetsAndCustomValues)
{
    struct Case { std::vector<std::string> args; int sizeIndex; float width, height; int quality; };
    const Case cases[] = {
        {{"--size", "999x750", "f"}, 0, 1000, 750, 75},
        {{"--size=160x120", "f"}, 5, 160, 120, 75},
        {{"--size", "1920x1080", "--quality", "85", "f"}, 1, 1920, 1080, 85},
        {{"--quality=30", "f"}, 1, 800, 600, 30},
    };
    for (const Case& c : cases) {
        std::string error;
        const auto o = Parse(c.args, error);
        ASSERT_TRUE(o) << error;
        EXPECT_EQ(o->model.target().width, c.width);
        EXPECT_EQ(o->model.target().height, c.height);
        EXPECT_EQ(o->model.quality(), c.quality);
        if (!o->model.customSize) {
            EXPECT_EQ(o->model.sizeIndex, c.sizeIndex);
        }
    }
}

TEST(Options, UsageErrors)
{
    const std::vector<std::vector<std::string>> bad = {
        {}, {"a", "b"}, {"--format", "png", "f"}, {"--size", "800", "f"}, {"--size", "0x5", "f"},
        {"--quality", "101", "f"}, {"--jobs", "0", "f"}, {"--bogus", "f"}, {"--series"},
    };
    for (const auto& args : bad) {
        std::string error;
        EXPECT_FALSE(Parse(args, error)) << (args.empty() ? "" : args[0]);
        EXPECT_FALSE(error.empty());
    }
}

TEST(ProgressBar, LineShowsCountRateAndTimeLeft)
{
    EXPECT_EQ(ProgressBar::Line(0, 4, 0, 8), "[........] 0/4");
    EXPECT_EQ(ProgressBar::Line(2, 4, 1.0, 8), "[####....] 2/4  2.0 files/s  0:01 left");
    EXPECT_EQ(ProgressBar::Line(4, 4, 2.0, 8), "[########] 4/4  2.0 files/s  0:00 left");
}

}  // namespace
}  // namespace pictavo::cli
