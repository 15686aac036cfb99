// What the tool says about the hostile files the fuzz seeds hold, of every
// kind: each failure on one line of its own.
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

TEST(PictavoTool, SaysEachFailureOnOneLine)
{
    pictavo::test::ScratchDir dir;
    fs::create_directory(dir.path() / "in");
    for (const fs::directory_entry& seed : fs::recursive_directory_iterator(PICTAVO_SEEDS))
        if (seed.is_regular_file())
            fs::copy_file(seed.path(), dir.path() / "in" / (seed.path().parent_path().filename().string() + "-" +
                                                          seed.path().filename().string()));
    const pictavo::test::CommandResult run = pictavo::test::RunCommand(
        std::string(PICTAVO_TOOL) + " --quiet --keep-going --jobs 2 --output '" + dir.file("out") + "' '" +
        dir.file("in") + "'");
    ASSERT_EQ(run.status, 1) << run.out;
    // Libraries may log lines of their own (dav1d does); ours are "pictavo: "
    // lines, one a failed picture, and the count.
    std::istringstream lines(run.out);
    std::string line, summary;
    int failures = 0;
    while (std::getline(lines, line)) {
        EXPECT_FALSE(line.empty()) << run.out;
        if (line.rfind("pictavo: ", 0) == 0 && line.find(": warning: ") == std::string::npos) ++failures;
        if (line.find(" failed") != std::string::npos) summary = line;
    }
    EXPECT_GT(failures, 10);
    // A decoder plugin refused its memory says so, not "Unspecified".
    EXPECT_NE(run.out.find("picture_heif_fuzzer-decoder-asks-700mb.heic: Out of memory.\n"), std::string::npos) << run.out;
    EXPECT_NE(summary.find(", " + std::to_string(failures) + " failed"), std::string::npos) << run.out;
}

}  // namespace
