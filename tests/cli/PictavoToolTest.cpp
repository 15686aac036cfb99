// The pictavo executable end to end: exit codes, messages, files.
#include "codecs/heif/HeifSource.h"
#include "codecs/png/PngSource.h"
#include "codecs/jpeg/TJPEGImage.h"
#include "codecs/webp/WebpSource.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace pictavo::test;

using Result = CommandResult;  // standard output and standard error together

Result Tool(const std::string& arguments, const std::string& folder = ".")
{
    return RunCommand("cd '" + folder + "' && " + PICTAVO_TOOL + " " + arguments);
}

void Photos(const ScratchDir& dir, int count)
{
    for (int i = 0; i < count; ++i)
        WriteBytes(dir.file("img" + std::to_string(i) + ".jpg"), MakeJpeg(900 + 40 * i, 600, Gradient));
}

// Every regular file under `root` but the runs' records, as relative paths
// in sorted order.
std::vector<std::string> FilesUnder(const fs::path& root)
{
    std::vector<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file() && !entry.is_symlink() && entry.path().filename() != ".pictavo.record")
            files.push_back(fs::relative(entry.path(), root).string());
    std::sort(files.begin(), files.end());
    return files;
}

std::string Replaced(std::string text, const std::string& from, const std::string& to)
{
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// img0..img3.jpg with img1.jpg broken, sub/ with two more, a link to sub/ and
// a list file. In the cases %IN is that folder, %OUT a fresh output folder.
TEST(PictavoTool, NamesListsAndFailures)
{
    ScratchDir in;
    Photos(in, 4);
    WriteBytes(in.file("img1.jpg"), {0, 0, 0, 0});
    fs::create_directory(in.path() / "sub");
    for (const char* name : {"sub/b.jpg", "sub/a.jpg"})
        WriteBytes(in.file(name), MakeJpeg(300, 200, Gradient));
    fs::create_directory_symlink(in.path() / "sub", in.path() / "link");
    WriteBytes(in.file("list.txt"), {});
    std::ofstream(in.file("list"), std::ios::binary) << "img3.jpg\r\n\nsub/a.jpg\n" << in.file("img0.jpg") << "\n";
    const std::vector<std::string> inputs = FilesUnder(in.path());

    using Files = std::vector<std::string>;
    struct Case { std::string args; int status; Files written; std::string said; };
    const Case cases[] = {
        // Fail-fast stops at the broken picture; --keep-going leaves its number unused.
        {"--format jpg --output %OUT %IN", 1, {"RurOdi01.jpg"}, "pictavo: img1.jpg: JPEG error #52: Not a JPEG file: starts with 0x00 0x00.\n"},
        {"-qk --format=jpg --output=%OUT %IN", 1, {"RurOdi01.jpg", "RurOdi03.jpg", "RurOdi04.jpg"}, "\n3 written, 1 failed\n"},
        {"--keep-going --shard 3/3 --output %OUT %IN", 0, {"RurOdi03.jpg"}, "%IN/img2.jpg\t%OUT/RurOdi03.jpg\n"},
        {"-k --name '{stem}-{series}' --series ' W ' --output %OUT %IN", 1,
         {"img0-W.jpg", "img2-W.jpg", "img3-W.jpg"}, "%IN/img3.jpg\t%OUT/img3-W.jpg\n"},
        // Refused before anything is written.
        {"--name shop --output %OUT %IN", 1, {}, "img0.jpg and img1.jpg would both be written as shop.jpg"},
        {"--name '../{n}' --output %OUT %IN", 1, {}, "must not contain / or \\"},
        {"--name '{stem}' %IN", 1, {}, "would replace the listed picture img0.jpg"},
        {"--shard 2/2 --name '{stem}' --output %IN %IN", 1, {}, "would replace the listed picture img0.jpg"},
        {"--name '{stem' --output %OUT %IN", 2, {}, "--name: unknown field {stem"},
        // Sub-folders: mirrored, numbered per folder, the linked folder not followed.
        {"-rk --output %OUT %IN", 1,
         {"RurOdi01.jpg", "RurOdi03.jpg", "RurOdi04.jpg", "sub/RurOdi01.jpg", "sub/RurOdi02.jpg"},
         "%IN/sub/b.jpg\t%OUT/sub/RurOdi02.jpg\n"},
        // A list: its order, its relative and absolute names.
        {"--files-from %IN/list --output %OUT %IN", 0, {"RurOdi01.jpg", "RurOdi02.jpg", "RurOdi03.jpg"},
         "%IN/sub/a.jpg\t%OUT/RurOdi02.jpg\n%IN/img0.jpg\t%OUT/RurOdi03.jpg\n"},
        {"--output %OUT --files-from - %IN < %IN/list", 0, {"RurOdi01.jpg", "RurOdi02.jpg", "RurOdi03.jpg"}, ""},
        {"--files-from %IN/list.txt --output %OUT %IN", 0, {}, "no pictures listed in"},
        {"--files-from %IN/none --output %OUT %IN", 1, {}, "%IN/none: Cannot open file: No such file"},
        // Usage and the failures met before any picture; the parser's own errors are in OptionsTest.
        {"--series a/b --output %OUT %IN", 1, {}, "pictavo: The series name"},
        {"/nonexistent/folder", 1, {}, ""},
        {"--help", 0, {}, "Usage: pictavo [OPTION]... FOLDER\n"},
        {"-V", 0, {}, "pictavo "},
        {"--version", 0, {}, "\u00A9 2026 The Pictavo authors\n"},
    };
    for (const Case& c : cases) {
        ScratchDir out;
        const auto fill = [&](const std::string& text) {
            return Replaced(Replaced(text, "%IN", in.path().string()), "%OUT", out.path().string());
        };
        const Result r = Tool(fill(c.args));
        EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.out;
        EXPECT_EQ(FilesUnder(out.path()), c.written) << c.args;
        EXPECT_NE(r.out.find(fill(c.said)), std::string::npos) << c.args << "\n" << r.out;
        EXPECT_EQ(FilesUnder(in.path()), inputs) << c.args;
    }
}

// Each input and its output beside it are said on one line; any number of
// jobs writes the same bytes.
TEST(PictavoTool, JobsDoNotChangeTheBytes)
{
    ScratchDir dir;
    Photos(dir, 5);
    const Result one = Tool("--jobs 1 --series one " + dir.path().string());
    ASSERT_EQ(one.status, 0) << one.out;
    ASSERT_EQ(Tool("--quiet --jobs 4 --series four " + dir.path().string()).status, 0);
    std::string pairs;
    for (int i = 1; i <= 5; ++i) {
        const std::string n = "0" + std::to_string(i) + ".jpg";
        pairs += dir.file("img" + std::to_string(i - 1) + ".jpg") + "\t" + dir.file("one" + n) + "\n";
        EXPECT_FALSE(ReadBytes(dir.file("one" + n)).empty());
        EXPECT_EQ(ReadBytes(dir.file("one" + n)), ReadBytes(dir.file("four" + n)));
    }
    EXPECT_EQ(one.out, pairs);
}

// Killed outright at any moment of a run in the photos' own folder,
// --update then leaves exactly the files of one whole run, and no temporary.
TEST(PictavoTool, UpdateAfterKillNineGivesTheFilesOfOneRun)
{
    ScratchDir reference;
    Photos(reference, 8);
    ASSERT_EQ(Tool("--quiet " + reference.path().string()).status, 0);
    const std::vector<std::string> files = FilesUnder(reference.path());
    for (const int seen : {0, 1, 3, 6}) {  // outputs whole on disk when the run is killed
        ScratchDir dir;
        Photos(dir, 8);
        const std::string folder = dir.path().string();
        const char* argv[] = {PICTAVO_TOOL, "--quiet", "--jobs", "2", folder.c_str(), nullptr};
        pid_t pid = 0;
        ASSERT_EQ(posix_spawn(&pid, PICTAVO_TOOL, nullptr, nullptr, const_cast<char**>(argv), environ), 0);
        const auto outputs = [&] {
            return std::count_if(fs::directory_iterator(dir.path()), fs::directory_iterator(),
                                 [](const fs::directory_entry& e) { return e.path().filename().string()[0] == 'R'; });
        };
        while (outputs() < seen && waitpid(pid, nullptr, WNOHANG) == 0) usleep(200);
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);

        const Result resumed = Tool("--update " + folder);
        EXPECT_EQ(resumed.status, 0) << seen << resumed.out;
        EXPECT_EQ(FilesUnder(dir.path()), files) << seen;
        for (const std::string& name : files)
            EXPECT_EQ(ReadBytes(dir.file(name)), ReadBytes(reference.file(name)))
                << seen << name;
        // Outputs left up to date get no line on standard output.
        EXPECT_EQ(Tool("--update " + folder).out, "0 written, 8 up to date\n") << seen;
    }
}

// Each picture is decoded once for all its sizes, and every output is the
// file a run at that size alone writes; sizes that meet in one picture (a
// small one is never enlarged) give one file.
TEST(PictavoTool, SeveralSizesWriteWhatSeparateRunsWrite)
{
    ScratchDir in, together;
    const auto jpeg = [&](const char* name, int w, int h) {
        WriteBytes(in.file(name), MakeJpeg(w, h, Gradient));
    };
    jpeg("wide.jpg", 900, 600);
    jpeg("tall.jpg", 500, 750);
    jpeg("tiny.jpg", 120, 90);
    const std::string name = " --quiet --sharpen --name '{stem}-{w}x{h}' --output ";
    const std::vector<std::string> sizes = {"640x480", "320", "200x150"};
    const Result r = Tool("--jobs 2 --size 640x480,320,200x150" + name + together.path().string() + " " + in.path().string());
    ASSERT_EQ(r.status, 0) << r.out;
    std::vector<std::string> separate;
    for (const std::string& size : sizes) {
        ScratchDir alone;
        ASSERT_EQ(Tool("--size " + size + name + alone.path().string() + " " + in.path().string()).status, 0);
        for (const std::string& file : FilesUnder(alone.path())) {
            EXPECT_EQ(ReadBytes(alone.file(file)), ReadBytes(together.file(file))) << file;
            separate.push_back(file);
        }
    }
    std::sort(separate.begin(), separate.end());
    separate.erase(std::unique(separate.begin(), separate.end()), separate.end());
    EXPECT_EQ(FilesUnder(together.path()), separate);
    EXPECT_EQ(separate, (std::vector<std::string>{"tall-100x150.jpg", "tall-213x320.jpg", "tall-320x480.jpg",
                                                  "tiny-120x90.jpg", "wide-200x133.jpg", "wide-320x213.jpg",
                                                  "wide-640x427.jpg"}));

    // --update knows each picture's outputs by their sizes: all of them must
    // be up to date for the picture to be left alone.
    const std::string again = "--update --size 640x480,320,200x150 --sharpen --name '{stem}-{w}x{h}' --output " +
                              together.path().string() + " " + in.path().string();
    EXPECT_EQ(Tool(again).out, "0 written, 3 up to date\n");
    fs::remove(together.file("wide-320x213.jpg"));
    const std::string redone = Tool(again).out;
    EXPECT_TRUE(redone.ends_with("\n1 written, 2 up to date\n")) << redone;
    EXPECT_EQ(FilesUnder(together.path()), separate);

    // Sizes a template cannot tell apart are refused before anything is written.
    ScratchDir refused;
    const Result clash = Tool("--size 640,320 --name '{stem}' --output " + refused.path().string() + " " + in.path().string());
    EXPECT_EQ(clash.status, 1);
    EXPECT_NE(clash.out.find("put {w} or {h} in the name template"), std::string::npos) << clash.out;
    EXPECT_TRUE(FilesUnder(refused.path()).empty());
}

// A folder named like an option, after "--".
TEST(PictavoTool, AFolderNamedLikeAnOption)
{
    ScratchDir dir;
    fs::create_directory(dir.path() / "-x");
    WriteBytes(dir.file("-x/a.jpg"), MakeJpeg(64, 48, Gradient));
    EXPECT_EQ(Tool("-q -x", dir.path().string()).status, 2);
    EXPECT_EQ(Tool("-q -- -x", dir.path().string()).status, 0);
    EXPECT_TRUE(fs::exists(dir.file("-x/RurOdi01.jpg")));
}

// Each format gets its extension; a picture its encoder cannot write fails
// with the library's reason and leaves no file.
TEST(PictavoTool, OutputFormatsAndEncoderFailures)
{
    ScratchDir in, out;
    Photos(in, 2);
    const Result png = Tool("--output-format png --quality 50 --name '{stem}' --output " + out.path().string() +
                            " " + in.path().string());
    EXPECT_EQ(png.status, 0);
    EXPECT_EQ(png.out.find("pictavo: PNG is lossless: --quality is ignored\n"), 0u) << png.out;
    EXPECT_EQ(png.out.find("ignored", 50), std::string::npos) << "said once";
    EXPECT_EQ(Tool("-q --output-format=AVIF --output " + out.path().string() + " " + in.path().string()).status, 0);
    EXPECT_EQ(FilesUnder(out.path()), (std::vector<std::string>{"RurOdi01.avif", "RurOdi02.avif", "img0.png", "img1.png"}));

    ScratchDir wide, none;
    WriteBytes(wide.file("wide.jpg"), MakeJpeg(17000, 2, Gradient));
    const Result failed =
        Tool("--size 17000x2 --output-format webp --output " + none.path().string() + " " + wide.path().string());
    EXPECT_EQ(failed.status, 1);
    EXPECT_EQ(failed.out, "pictavo: wide.jpg: Cannot write WebP: the picture is larger than 16383 x 16383 pixels.\n");
    EXPECT_TRUE(FilesUnder(none.path()).empty());
}

// Byte targets hold, and reduced pictures waiting in the temporary file give
// the bytes they give waiting in memory.
TEST(PictavoTool, ByteTargets)
{
    ScratchDir in, each, total, spilled;
    Photos(in, 3);
    std::string photos = " --name '{stem}' " + in.path().string();
    EXPECT_EQ(Tool("-q --size 320x240 --output-format webp --target-size 8K --output " + each.path().string() + photos).status, 0);
    for (const std::string& name : FilesUnder(each.path()))
        EXPECT_LE(fs::file_size(each.path() / name), 8192u) << name;
    EXPECT_EQ(FilesUnder(each.path()).size(), 3u);

    photos = " --size 800x600,400x300 --name '{stem}-{w}' " + in.path().string();
    const Result fitted = Tool("--total-size 60K --output " + total.path().string() + photos);
    EXPECT_EQ(fitted.status, 0);
    std::uintmax_t sum = 0;
    for (const std::string& name : FilesUnder(total.path())) sum += fs::file_size(total.path() / name);
    EXPECT_LE(sum, 61440u);
    EXPECT_NE(fitted.out.find("pictavo: quality "), std::string::npos) << fitted.out;
    // The first picture's two sizes (1.8M) wait in memory, the next do not
    // fit beside them in a quarter of 12M; the jobs share the rest.
    const Result waited = Tool("-q -j2 --memory-limit 12M --total-size 60K --output " + spilled.path().string() + photos);
    EXPECT_EQ(waited.status, 0) << waited.out;
    for (const std::string& name : FilesUnder(total.path()))
        EXPECT_EQ(ReadBytes(total.file(name)), ReadBytes(spilled.file(name))) << name;
    EXPECT_EQ(FilesUnder(spilled.path()), FilesUnder(total.path())) << "no temporary file left";

    const Result tooSmall = Tool("--total-size 100 --output " + spilled.path().string() + "/none" + photos);
    EXPECT_EQ(tooSmall.status, 1);
    EXPECT_NE(tooSmall.out.find("even at quality 1"), std::string::npos) << tooSmall.out;
    EXPECT_TRUE(FilesUnder(spilled.file("none")).empty());
}

TEST(PictavoTool, OutputFolderAndBitmaps)
{
    ScratchDir in, out;
    BmpFields s{.width = 2, .height = 2, .pixels = {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 1, 2, 3, 0, 0}};
    WriteBytes(in.file("a.BMP"), MakeBmp(s));
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
    std::vector<std::uint8_t> cut = ReadBytes(dir.file("img1.jpg"));
    cut.resize(cut.size() / 2);
    WriteBytes(dir.file("img1.jpg"), cut);
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
    WriteBytes(empty.file("e.jpg"), {});
    EXPECT_EQ(Tool(empty.path().string()).out, "pictavo: e.jpg: The file is empty.\n");
}

// A folder of the photos people have: every format is listed by extension,
// read by content (a PNG named .jpg too) and numbered in list order.
TEST(PictavoTool, MixedFolderReadsEveryFormatByContent)
{
    if (!HaveProgram("convert") || !HaveProgram("heif-enc")) GTEST_SKIP() << "needs ImageMagick and heif-enc";
    ScratchDir dir, out;
    const std::string d = dir.path().string() + "/";
    const std::string make = "convert -size 320x200 gradient:red-blue ";
    ASSERT_EQ(RunCommand(make + d + "a.png && " + make + d + "b.webp && " + make + "-alpha set -channel A -evaluate set 50% " +
                         d + "c.tif && " + make + d + "d.bmp && " + make + d + "e.jpg && " + make + d +
                         "src.png && heif-enc -q 90 -o " + d + "f.heic " + d + "src.png >/dev/null && cp " + d +
                         "a.png " + d + "g.jpg && rm " + d + "src.png && touch " + d + "notes.txt").status, 0);
    const Result r = Tool("--quiet --size 160x120 --output " + out.path().string() + " " + dir.path().string());
    ASSERT_EQ(r.status, 0) << r.out;
    for (int i = 1; i <= 7; ++i) {
        const std::string name = "RurOdi0" + std::to_string(i) + ".jpg";
        pictavo::TJPEGImage jpeg;
        jpeg.loadFromFile(out.file(name));
        EXPECT_EQ(jpeg.width(), 160) << name;
        EXPECT_EQ(jpeg.height(), 100) << name;
    }
    EXPECT_FALSE(fs::exists(out.file("RurOdi08.jpg")));
    // g.jpg holds a.png's bytes: the same picture, the same output.
    EXPECT_EQ(ReadBytes(out.file("RurOdi01.jpg")), ReadBytes(out.file("RurOdi07.jpg")));
    // Listing by one format takes e.jpg and g.jpg, each still read by its content.
    const Result jpg = Tool("--format jpg --size 160x120 --output " + out.path().string() + "/jpg " + dir.path().string());
    EXPECT_EQ(jpg.status, 0) << jpg.out;
    EXPECT_EQ(ReadBytes(out.file("jpg/RurOdi02.jpg")), ReadBytes(out.file("RurOdi07.jpg")));

    // c.tif is half transparent: over white it is lighter than over black;
    // opaque pictures do not change.
    const std::string black = out.path().string() + "/black";
    ASSERT_EQ(Tool("--quiet --size 160x120 --background '#000000' --output " + black + " " + dir.path().string()).status, 0);
    for (int i = 1; i <= 7; ++i) {
        const std::string name = "/RurOdi0" + std::to_string(i) + ".jpg";
        EXPECT_EQ(ReadBytes(out.path().string() + name) == ReadBytes(black + name), i != 3)
            << name;
    }
    pictavo::Raster24 white, dark;
    for (auto [file, raster] : {std::pair{out.file("RurOdi03.jpg"), &white}, {black + "/RurOdi03.jpg", &dark}}) {
        pictavo::TJPEGImage jpeg;
        jpeg.loadFromFile(file);
        jpeg.decodeInto(*raster);
    }
    EXPECT_GT(white.scanLine(50)[1], dark.scanLine(50)[1] + 100);
}

// A red disc on a transparent ground whose hidden colour is blue: the
// formats with alpha keep it, and the disc's reduced edge takes no blue.
TEST(PictavoTool, CutOutsKeepTheirTransparency)
{
    if (!HaveProgram("convert") || !HaveProgram("djxl")) GTEST_SKIP() << "needs ImageMagick and djxl";
    ScratchDir dir, out;
    ASSERT_EQ(RunCommand("convert -size 120x80 xc:'rgba(0,0,255,0)' -fill red -draw 'circle 60,40 60,6' " +
                         dir.file("disc.png")).status, 0);
    // A fringe would darken red or lighten the others. Opaque boxes are
    // averaged as opaque pictures are (255 becomes 254); JPEG XL strays from
    // saturated red inside the disc too.
    struct Case { const char* format; int red, others; };
    for (const Case c : {Case{"png", 1, 0}, Case{"webp", 3, 3}, Case{"avif", 8, 8}, Case{"jxl", 12, 48}}) {
        SCOPED_TRACE(c.format);
        const std::string format = c.format, name = out.file("disc." + format);
        ASSERT_EQ(Tool("-q --quality 95 --size 30 --name '{stem}' --output-format " + format + " --output " +
                       out.path().string() + " " + dir.path().string()).status, 0);
        std::string png = name;
        if (format == "jxl") {
            png = out.file("jxl.png");
            ASSERT_EQ(RunCommand("djxl " + name + " " + png).status, 0);
        }
        const std::vector<std::uint8_t> bytes = ReadBytes(png);
        const auto source = format == "webp"   ? pictavo::OpenWebpBytes(bytes)
                            : format == "avif" ? pictavo::OpenHeifBytes(bytes)
                                               : pictavo::OpenPngBytes(bytes);
        ASSERT_TRUE(source->header().alpha);
        EXPECT_EQ(source->header().width, 30);
        EXPECT_EQ(source->header().height, 20);
        source->setDelivery({.keepAlpha = true});
        int partial = 0, row = 0;
        source->readRows([&](const std::uint8_t* p) {
            for (int x = 0; x < 30; ++x, p += 4) {
                if (p[3] > 8 && p[3] < 247) ++partial;
                if ((row == 0 || row == 19) && (x == 0 || x == 29)) {
                    EXPECT_LE(p[3], c.red) << "corner";
                }
                if (p[3] < 32) continue;  // lossy formats keep little colour under little alpha
                EXPECT_LE(p[0], c.others) << x << "," << row;  // no blue from the ground
                EXPECT_LE(p[1], c.others) << x << "," << row;
                EXPECT_GE(p[2], 255 - c.red) << x << "," << row;
            }
            ++row;
        });
        EXPECT_GT(partial, 10) << "the edge is smooth";
    }
    // JPEG has none: over white by default, as before.
    ASSERT_EQ(Tool("-q --size 30 --name '{stem}' --output " + out.path().string() + " " + dir.path().string()).status, 0);
    pictavo::Raster24 jpeg;
    pictavo::TJPEGImage decoder;
    decoder.loadFromFile(out.file("disc.jpg"));
    decoder.decodeInto(jpeg);
    EXPECT_GE(jpeg.scanLine(0)[0], 200);
    EXPECT_GE(jpeg.scanLine(0)[1], 200);
}

}  // namespace
