// Pictures that fail or are damaged: where the run ends, what it reports.
#include "tests/batch/RunTestSupport.h"

namespace pictavo {
namespace {

TEST(ResizeRun, AFailingPictureEndsTheRunThere)
{
    for (int jobs : {1, 3}) {
        ScratchDir dir;
        WriteJpeg(dir, "a.jpg", 320, 200);
        test::WriteBytes(dir.file("b.jpg"), {0, 0, 0, 0});  // no picture at all
        WriteJpeg(dir, "c.jpg", 320, 200);
        BatchModel model = Scanned(dir);
        const std::vector<std::string> inputs = model.names;
        int position = -1;
        try {
            RunResize(model, {.progressChanged = [&](int p) { position = p; }}, {.jobs = jobs});
            FAIL();
        } catch (const ResizeError& e) {
            EXPECT_STREQ(e.what(), "JPEG error #52");
            EXPECT_EQ(e.input(), "b.jpg");
            EXPECT_EQ(e.detail(), "Not a JPEG file: starts with 0x00 0x00");
        }
        EXPECT_TRUE(fs::exists(dir.file("RurOdi01.jpg")));
        EXPECT_FALSE(fs::exists(dir.file("RurOdi02.jpg")));
        EXPECT_FALSE(fs::exists(dir.file("RurOdi03.jpg")));
        EXPECT_EQ(model.names, inputs);
        EXPECT_EQ(position, 0);  // the index of the last picture written
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), 5);  // and the record; no partial files
    }
}

TEST(ResizeRun, KeepingGoingLeavesTheFailedNumberUnused)
{
    for (int jobs : {1, 3}) {
        ScratchDir dir;
        WriteJpeg(dir, "a.jpg", 320, 200);
        test::WriteBytes(dir.file("b.jpg"), {0, 0, 0, 0});
        WriteJpeg(dir, "c.jpg", 320, 200);
        fs::create_directory(dir.path() / "RurOdi04.jpg");  // the write of d.jpg fails too
        WriteJpeg(dir, "d.jpg", 320, 200);
        BatchModel model = Scanned(dir);
        std::vector<std::string> failures, written;
        RunHooks hooks;
        hooks.written = [&](int, const std::string& name) { written.push_back(name); };
        hooks.failed = [&](int i, const ResizeError& e) { failures.push_back(std::to_string(i) + e.input() + e.what()); };
        RunResize(model, hooks, {.jobs = jobs, .keepGoing = true});
        EXPECT_EQ(written, (std::vector<std::string>{"RurOdi01.jpg", "RurOdi03.jpg"}));
        EXPECT_EQ(failures, (std::vector<std::string>{"1b.jpgJPEG error #52", "3d.jpgCannot create file RurOdi04.jpg"}));
        EXPECT_FALSE(fs::exists(dir.file("RurOdi02.jpg")));
        EXPECT_TRUE(fs::exists(dir.file("RurOdi03.jpg")));
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), 8);  // and the record; no partial files
    }
}

TEST(ResizeRun, WrongFormatStopsAtTheFirstFile)
{
    ScratchDir dir;
    test::WriteBytes(dir.file("a.jpg"), std::vector<std::uint8_t>(64));
    BatchModel model = Scanned(dir);
    // Content that no format claims goes to the chosen format's decoder.
    model.format = InputFormat::Bitmap;
    EXPECT_EQ(ErrorOf([&] { RunResize(model); }), "Bitmap image is not valid");
    EXPECT_EQ(ErrorOf([&] {
                  BatchModel m = Scanned(dir);
                  m.names = {"missing.jpg"};
                  RunResize(m);
              }),
              "Cannot open file missing.jpg");
}

TEST(ResizeRun, AnEmptyFileKeepsTheWindowsMessageAndSaysWhyToTheCommandLine)
{
    for (const InputFormat format : {InputFormat::Jpeg, InputFormat::Bitmap}) {
        ScratchDir dir;
        const std::string name = format == InputFormat::Jpeg ? "e.jpg" : "e.bmp";
        test::WriteBytes(dir.file(name), {});
        BatchModel model = Scanned(dir, format);
        try {
            RunResize(model);
            ADD_FAILURE() << name;
        } catch (const ResizeError& e) {
            EXPECT_STREQ(e.what(), "Floating point division by zero");
            EXPECT_EQ(CommandLineMessage(e.input(), e), name + ": The file is empty.");
        }
    }
}

TEST(ResizeRun, DamagedPicturesAreWrittenAndReportedOnce)
{
    for (int jobs : {1, 2}) {
        ScratchDir dir;
        WriteJpeg(dir, "a.jpg", 320, 200);
        std::vector<std::uint8_t> cut = test::MakeJpeg(320, 200, test::Gradient);
        cut.resize(cut.size() / 2);
        test::WriteBytes(dir.file("b.jpg"), cut);
        WriteJpeg(dir, "c.jpg", 320, 200);
        BatchModel model = Scanned(dir);
        std::vector<std::string> reports;
        RunHooks hooks;
        hooks.damaged = [&](int index, const std::string& input, const DecodeWarnings& w) {
            reports.push_back(std::to_string(index) + " " + input + " " + w.text + " " + std::to_string(w.count > 0));
        };
        RunResize(model, hooks, {.jobs = jobs});
        EXPECT_EQ(reports, std::vector<std::string>{"1 b.jpg Premature end of JPEG file 1"});
        EXPECT_TRUE(fs::exists(dir.file("RurOdi02.jpg")));
    }
}

}  // namespace
}  // namespace pictavo
