// The pictavo executable end to end: exit codes, messages, files.
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <sys/wait.h>

namespace {

namespace fs = std::filesystem;
using pictavo::test::ScratchDir;

struct Result {
    int status;
    std::string out;  // standard output and standard error together
};

Result Tool(const std::string& arguments)
{
    const std::string command = std::string(PICTAVO_TOOL) + " " + arguments + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    std::string out;
    char buffer[4096];
    std::size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    const int status = pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

void Photos(const ScratchDir& dir, int count)
{
    for (int i = 0; i < count; ++i)
        pictavo::test::WriteBytes(dir.file("img" + std::to_string(i) + ".jpg"),
                                  pictavo::test::MakeJpeg(900 + 40 * i, 600, pictavo::test::Gradient));
}

TEST(PictavoTool, WritesTheSeriesAndNamesEachFile)
{
    ScratchDir dir;
    Photos(dir, 2);
    const Result r = Tool("--size 160x120 " + dir.path().string());
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, dir.file("RurOdi01.jpg") + "\n" + dir.file("RurOdi02.jpg") + "\n");
}

TEST(PictavoTool, JobsDoNotChangeTheBytes)
{
    ScratchDir dir;
    Photos(dir, 5);
    ASSERT_EQ(Tool("--quiet --jobs 1 --series one " + dir.path().string()).status, 0);
    ASSERT_EQ(Tool("--quiet --jobs 4 --series four " + dir.path().string()).status, 0);
    for (int i = 1; i <= 5; ++i) {
        const std::string n = "0" + std::to_string(i) + ".jpg";
        EXPECT_EQ(pictavo::test::ReadBytes(dir.file("one" + n)), pictavo::test::ReadBytes(dir.file("four" + n)));
    }
}

TEST(PictavoTool, FailuresAndUsage)
{
    ScratchDir dir;
    Photos(dir, 1);
    pictavo::test::WriteBytes(dir.file("img5.jpg"), {'B', 'M', 0, 0});
    const Result failed = Tool("--jobs 2 " + dir.path().string());
    EXPECT_EQ(failed.status, 1);
    EXPECT_NE(failed.out.find("pictavo: img5.jpg: JPEG error #52: Not a JPEG file: starts with 0x42 0x4d.\n"),
              std::string::npos)
        << failed.out;
    EXPECT_TRUE(fs::exists(dir.file("RurOdi01.jpg")));

    const Result series = Tool("--series a/b " + dir.path().string());
    EXPECT_EQ(series.status, 1);
    EXPECT_EQ(series.out.rfind("pictavo: The series name", 0), 0u) << series.out;

    EXPECT_EQ(Tool("--quality 0 x").status, 2);
    EXPECT_EQ(Tool("").status, 2);
    EXPECT_EQ(Tool("/nonexistent/folder").status, 1);
    const Result help = Tool("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("usage: pictavo", 0), 0u);
    EXPECT_EQ(Tool("--version").out.rfind("pictavo ", 0), 0u);
}

TEST(PictavoTool, OutputFolderAndBitmaps)
{
    ScratchDir in, out;
    pictavo::test::BmpFields s{.width = 2, .height = 2, .pixels = {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 1, 2, 3, 0, 0}};
    pictavo::test::WriteBytes(in.file("a.BMP"), pictavo::test::MakeBmp(s));
    const Result r = Tool("--format bmp --quiet --output " + out.path().string() + " " + in.path().string());
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(fs::exists(out.file("RurOdi01.jpg")));
    EXPECT_FALSE(fs::exists(in.file("RurOdi01.jpg")));
}

TEST(PictavoTool, DamageIsReportedAndFailuresSayWhy)
{
    ScratchDir dir, out;
    Photos(dir, 2);
    std::vector<std::uint8_t> cut = pictavo::test::ReadBytes(dir.file("img1.jpg"));
    cut.resize(cut.size() / 2);
    pictavo::test::WriteBytes(dir.file("img1.jpg"), cut);
    const std::string warning = "pictavo: img1.jpg: warning: Premature end of JPEG file (";
    const Result damaged = Tool("--quiet " + dir.path().string());
    EXPECT_EQ(damaged.status, 0) << damaged.out;
    EXPECT_EQ(damaged.out.rfind(warning, 0), 0u) << damaged.out;
    EXPECT_NE(damaged.out.find("pictavo: 2 pictures written, 1 of them damaged\n"), std::string::npos) << damaged.out;
    const Result strict = Tool("--quiet --strict --series s " + dir.path().string());
    EXPECT_EQ(strict.status, 1) << strict.out;
    EXPECT_TRUE(fs::exists(dir.file("s02.jpg")));

    // The output is named with its full path, the cause with the system's words.
    fs::create_directory(out.path() / "RurOdi01.jpg");
    const Result blocked = Tool("--quiet --output " + out.path().string() + " " + dir.path().string());
    EXPECT_EQ(blocked.status, 1);
    EXPECT_EQ(blocked.out, "pictavo: " + out.file("RurOdi01.jpg") + ": Cannot create file: Is a directory.\n");

    ScratchDir empty;
    pictavo::test::WriteBytes(empty.file("e.jpg"), {});
    EXPECT_EQ(Tool(empty.path().string()).out, "pictavo: e.jpg: The file is empty.\n");
}

}  // namespace
