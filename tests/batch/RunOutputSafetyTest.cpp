// No output replaces an input or another output, leaves the folder, or
// is left half written.
#include "tests/batch/RunTestSupport.h"

#include <sys/stat.h>

namespace pictavo {
namespace {

TEST(ResizeRun, NoOutputMayReplaceAnotherListedInput)
{
    ScratchDir dir;
    WriteJpeg(dir, "RurOdi02.jpg", 320, 200);
    WriteJpeg(dir, "a.jpg", 320, 200);
    const std::vector<std::uint8_t> before = test::ReadBytes(dir.file("RurOdi02.jpg"));
    BatchModel model = Scanned(dir);
    ASSERT_EQ(model.names, (std::vector<std::string>{"a.jpg", "RurOdi02.jpg"}));
    // RurOdi02.jpg -> RurOdi02.jpg would replace its own original.
    EXPECT_NE(ErrorOf([&] { RunResize(model); }).find("RurOdi02.jpg would replace"), std::string::npos);
    EXPECT_EQ(test::ReadBytes(dir.file("RurOdi02.jpg")), before);
    EXPECT_FALSE(fs::exists(dir.file("RurOdi01.jpg")));

    ScratchDir clash;
    WriteJpeg(clash, "RurOdi01.jpg", 320, 200);
    WriteJpeg(clash, "zzz.jpg", 320, 200);
    const std::vector<std::uint8_t> kept = test::ReadBytes(clash.file("zzz.jpg"));
    BatchModel other = Scanned(clash);
    other.series = "zz";  // RurOdi01.jpg -> zz01.jpg; zzz.jpg -> zz02.jpg: no clash
    RunResize(other);
    BatchModel bad = Scanned(clash);
    bad.series = "zz";
    bad.names = {"a", "zz01.jpg"};  // a's output is zz01.jpg, another listed input
    try {
        RunResize(bad);
        FAIL();
    } catch (const ResizeError& e) {
        const std::string message = e.what();
        EXPECT_NE(message.find("zz01.jpg"), std::string::npos);
        EXPECT_NE(message.find(" a "), std::string::npos);
    }
    EXPECT_EQ(test::ReadBytes(clash.file("zzz.jpg")), kept);
}

// Where the file system ignores case, two names told apart here reach one
// file; a link made after the first write stands in for such a folder.
TEST(ResizeRun, AnOutputNeverReplacesOneThisRunWrote)
{
    for (const bool keepGoing : {false, true}) {
        ScratchDir dir;
        for (const char* name : {"a.jpg", "b.jpg", "c.jpg"}) WriteJpeg(dir, name, 320, 200);
        BatchModel model = Scanned(dir);
        const std::string out = dir.file("out/");
        fs::create_directory(out);
        RunHooks hooks;
        hooks.written = [&](int index, const std::string&) {
            if (index == 0) fs::create_hard_link(out + "RurOdi01.jpg", out + "RurOdi02.jpg");
        };
        std::string failure;
        hooks.failed = [&](int, const ResizeError& e) { failure = e.what(); };
        const std::string error = ErrorOf([&] { RunResize(model, hooks, {.outputFolder = out, .keepGoing = keepGoing}); });
        const std::string expected = "a.jpg and b.jpg would both be written to the one file " + out +
                                     "RurOdi02.jpg: the output folder does not tell their names apart.";
        EXPECT_EQ(keepGoing ? failure : error, expected);
        EXPECT_EQ(JpegSize(out + "RurOdi01.jpg"), (Size{160, 100}));
        EXPECT_EQ(fs::exists(out + "RurOdi03.jpg"), keepGoing);
    }
}

TEST(ResizeRun, SeriesNamesThatLeaveTheFolderAreRefused)
{
    ScratchDir dir;
    WriteJpeg(dir, "a.jpg", 32, 32);
    for (const char* series : {"../up", "sub/name", "back\\slash"}) {
        BatchModel model = Scanned(dir);
        model.series = series;
        const std::string message = ErrorOf([&] { RunResize(model); });
        EXPECT_NE(message.find("must not contain"), std::string::npos) << series;
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), 1);
    BatchModel dots = Scanned(dir);
    dots.series = "..";  // "..01.jpg" is an ordinary name inside the folder
    RunResize(dots);
    EXPECT_TRUE(fs::exists(dir.file("..01.jpg")));
}

// Outputs get the mode any new file gets under the user's umask.
TEST(ResizeRun, OutputsTakeTheModeTheUmaskGives)
{
    ScratchDir dir;
    const std::uint8_t byte = 1;
    const mode_t previous = umask(027);
    WriteFileAtomically(dir.file("a"), &byte, 1, "a");
    umask(previous);
    EXPECT_EQ(fs::status(dir.file("a")).permissions(), fs::perms(0640));
}

}  // namespace
}  // namespace pictavo
