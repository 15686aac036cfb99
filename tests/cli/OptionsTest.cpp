#include "cli/Options.h"
#include "cli/ProgressBar.h"

#include <gtest/gtest.h>

#include <tuple>

namespace pictavo::cli {
namespace {

TEST(Options, DefaultsAreTheWindowsDefaults)
{
    std::string error;
    const auto o = Parse({"photos"}, error);
    ASSERT_TRUE(o);
    EXPECT_EQ(o->folder, "photos");
    EXPECT_EQ(o->model.format, InputFormat::Auto);
    EXPECT_EQ(o->model.target().width, 800.0f);
    EXPECT_EQ(o->model.quality(), 75);
    EXPECT_FALSE(o->model.sharpen);
    EXPECT_EQ(o->model.series, "RurOdi");
    EXPECT_FALSE(o->model.fast);  // exact unless asked
    EXPECT_TRUE(Parse({"--fast", "photos"}, error)->model.fast);
}

TEST(Options, PresetsAndCustomValues)
{
    struct Case { std::vector<std::string> args; int sizeIndex; float width, height; int quality; };
    const Case cases[] = {
        {{"--size", "999x750", "f"}, 0, 1000, 750, 75},
        {{"--size=160x120", "f"}, 5, 160, 120, 75},
        {{"--size", "1920x1080", "--quality", "85", "f"}, 1, 1920, 1080, 85},
        {{"--quality=30", "f"}, 1, 800, 600, 30},
        {{"--size", "1200", "f"}, 1, 1200, 1200, 75},  // a longer side, whatever the orientation
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
    // A list: presets keep their targets, N is NxN, a later --size replaces it.
    std::string error;
    const auto list = Parse({"--size", "1x1,2", "--size", "999x750,1600x1200,400", "f"}, error);
    ASSERT_TRUE(list) << error;
    std::vector<std::pair<float, float>> targets;
    for (const TargetSize t : list->model.targets()) targets.emplace_back(t.width, t.height);
    EXPECT_EQ(targets, (std::vector<std::pair<float, float>>{{1000, 750}, {1600, 1200}, {400, 400}}));
    EXPECT_EQ(list->model.sizeIndex, 0);
    EXPECT_FALSE(list->model.customSize);
    // Colours under transparency: blue, green, red.
    using Bgr = std::array<std::uint8_t, 3>;
    for (const auto& [text, bgr] : {std::pair<std::string, Bgr>{"#00ff80", {0x80, 0xff, 0x00}},
                                    {"Black", {0, 0, 0}}, {"navy", {0x80, 0, 0}}})
        EXPECT_EQ(Parse({"--background", text, "f"}, error)->model.background, bgr) << text;
    EXPECT_EQ(Parse({"f"}, error)->model.background, (Bgr{255, 255, 255}));
}

TEST(Options, GnuForms)
{
    struct Case { std::vector<std::string> args; std::string folder; int jobs; bool quiet, keepGoing, recursive; };
    const Case cases[] = {
        {{"-qj4", "f"}, "f", 4, true, false, false},
        {{"f", "-j", "3", "--keep"}, "f", 3, false, true, false},  // options after FOLDER, a unique abbreviation
        {{"--jobs=2", "-k", "--", "-x"}, "-x", 2, false, true, false},
        {{"--", "--quiet"}, "--quiet", 0, false, false, false},
        {{"-rq", "--output=o", "-"}, "-", 0, true, false, true},
    };
    for (const Case& c : cases) {
        std::string error;
        const auto o = Parse(c.args, error);
        ASSERT_TRUE(o) << c.args[0] << ": " << error;
        EXPECT_EQ(o->folder, c.folder);
        EXPECT_EQ(o->jobs, c.jobs);
        EXPECT_EQ(o->quiet, c.quiet);
        EXPECT_EQ(o->keepGoing, c.keepGoing);
        EXPECT_EQ(o->recursive, c.recursive);
    }
    std::string error;
    const auto o = Parse({"--shard", "2/3", "--name={stem}", "--files-from=-", "f"}, error);
    ASSERT_TRUE(o) << error;
    EXPECT_EQ(std::tie(o->shard, o->shards, o->nameTemplate, o->filesFrom), std::tuple(2, 3, "{stem}", "-"));
    EXPECT_TRUE(Parse({"-h"}, error)->help);
    EXPECT_TRUE(Parse({"-V"}, error)->version);
}

TEST(Options, UsageErrors)
{
    struct Case { std::vector<std::string> args; std::string error; };
    const Case cases[] = {
        {{}, "no folder given"},
        {{"a", "b"}, "one folder only"},
        {{"--format", "png", "f"}, "--format takes auto, jpg or bmp"},
        {{"--size", "800x", "f"}, "--size takes WxH or N, or a list of them such as 1600x1200,800x600,400"},
        {{"--size", "0x5", "f"}, "--size takes WxH or N, or a list of them such as 1600x1200,800x600,400"},
        {{"--size", "800,", "f"}, "--size takes WxH or N, or a list of them such as 1600x1200,800x600,400"},
        {{"--size", "800,,400", "f"}, "--size takes WxH or N, or a list of them such as 1600x1200,800x600,400"},
        {{"--quality", "101", "f"}, "--quality takes 1 to 100"},
        {{"--quality", "0", "f"}, "--quality takes 1 to 100"},
        {{"--output-format", "gif", "f"}, "--output-format takes jpg, webp, avif, jxl, png"},
        {{"--background", "#12345", "f"}, "--background takes #rrggbb or a colour name such as white or black"},
        {{"--background", "#12345g", "f"}, "--background takes #rrggbb or a colour name such as white or black"},
        {{"--target-size", "40X", "f"}, "--target-size takes a size such as 40K or 2M"},
        {{"--total-size=0", "f"}, "--total-size takes a size such as 200K or 5M"},
        {{"--output-format=png", "--target-size=40K", "f"}, "--target-size needs a lossy output format: PNG is lossless"},
        {{"--jobs", "0", "f"}, "--jobs takes 1 to 256"},
        {{"--max-pixels", "1e9", "f"}, "--max-pixels takes a number of pixels, such as 2000000000"},
        {{"--bogus", "f"}, "unrecognized option '--bogus'"},
        {{"--s", "f"}, "option '--s' is ambiguous; possibilities: '--size' '--sharpen' '--series' '--shard' '--strict'"},
        {{"--series"}, "option '--series' requires an argument"},
        {{"--sharpen=yes", "f"}, "option '--sharpen' doesn't allow an argument"},
        {{"-x", "f"}, "invalid option -- 'x'"},
        {{"--name", "{N}", "f"}, "--name: unknown field {N} (the fields are {series}, {n}, {stem}, {w} and {h})"},
        {{"--shard", "4/3", "f"}, "--shard takes K/N, 1 <= K <= N, such as 2/3"},
        {{"--shard", "0/3", "f"}, "--shard takes K/N, 1 <= K <= N, such as 2/3"},
        {{"-r", "f"}, "--recursive requires --output"},
        {{"-r", "--output=o", "--files-from=l", "f"}, "--recursive lists FOLDER, --files-from lists the pictures: give one of them"},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_FALSE(Parse(c.args, error));
        EXPECT_EQ(error, c.error);
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
