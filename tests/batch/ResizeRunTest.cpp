#include "batch/FolderScan.h"
#include "batch/ListOrderRun.h"
#include "batch/Pipeline.h"
#include "batch/RunRecord.h"
#include "batch/ResizeRun.h"
#include "imaging/ColourProfile.h"
#include "base/Files.h"
#include "codecs/jpeg/TJPEGImage.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <set>
#include <sys/stat.h>

namespace pictavo {
namespace {

using test::ErrorOf;

namespace fs = std::filesystem;
using test::ScratchDir;

struct Size {
    int w, h;
    bool operator==(const Size&) const = default;
};

Size JpegSize(const std::string& path)
{
    TJPEGImage jpeg;
    jpeg.loadFromFile(path);
    return {jpeg.width(), jpeg.height()};
}

void WriteJpeg(const ScratchDir& dir, const std::string& name, int w, int h, test::JpegOptions options = {})
{
    test::WriteBytes(dir.file(name), test::MakeJpeg(w, h, test::Gradient, options));
}

std::vector<std::uint8_t> Bmp24(int w, int h)
{
    test::BmpFields s{.width = w, .height = h};
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const test::Rgb p = test::Gradient(x, y);
            s.pixels.insert(s.pixels.end(), {p.b, p.g, p.r});
        }
        s.pixels.resize(s.pixels.size() + static_cast<std::size_t>((4 - (w * 3) % 4) % 4));
    }
    return test::MakeBmp(s);
}

BatchModel Scanned(const ScratchDir& dir, InputFormat format = InputFormat::Jpeg, int sizeIndex = 5)
{
    BatchModel model;
    model.format = format;
    model.sizeIndex = sizeIndex;  // "160 x 120" keeps the tests quick
    ScanFolder(model, dir.file("any"));
    return model;
}

TEST(TargetFor, LongerSideMeetsTheTarget)
{
    struct Case { int w, h; TargetSize target; Size expected; };
    const Case cases[] = {
        {3000, 2000, {800, 600}, {800, 533}},
        {2000, 3000, {800, 600}, {400, 600}},
        {1024, 768, {800, 600}, {800, 600}},
        {2000, 2000, {800, 600}, {600, 600}},   // square: the height rules
        {30, 1440, {800, 600}, {13, 600}},
        {2000, 1001, {1000, 750}, {1000, 500}},
        {2000, 1003, {1000, 750}, {1000, 502}},
        {800, 600, {1000, 750}, {1000, 750}},   // larger than the source: copied later
        {2000, 1, {1000, 750}, {1000, 1}},      // rounds to 0: becomes 1
    };
    for (const Case& c : cases) {
        const OutputSize s = TargetFor(c.w, c.h, c.target);
        EXPECT_EQ((Size{s.width, s.height}), c.expected) << c.w << "x" << c.h;
    }
    EXPECT_EQ(ErrorOf([] { TargetFor(0, 0, {800, 600}); }), "Floating point division by zero");
}

TEST(ResizeRun, WritesTheSeriesAndEndsInTheDoneState)
{
    ScratchDir dir;
    WriteJpeg(dir, "a.jpg", 320, 200);  // wider: 160 x 100
    WriteJpeg(dir, "b.jpg", 200, 300);  // taller: 80 x 120
    WriteJpeg(dir, "c.jpg", 300, 300);  // square: 120 x 120
    WriteJpeg(dir, "d.jpg", 160, 120);  // exactly the target: copied
    WriteJpeg(dir, "e.jpg", 100, 50);   // smaller: kept at its size
    BatchModel model = Scanned(dir);
    model.series = "  Trip 2026 ";
    std::vector<int> positions;
    int beeps = 0;
    RunHooks hooks;
    hooks.beep = [&] { ++beeps; };
    hooks.progressChanged = [&](int position) { positions.push_back(position); };
    RunResize(model, hooks);

    const std::vector<std::string> outputs = {"Trip 202601.jpg", "Trip 202602.jpg", "Trip 202603.jpg",
                                              "Trip 202604.jpg", "Trip 202605.jpg"};
    EXPECT_EQ(model.names, outputs);
    const Size sizes[] = {{160, 100}, {80, 120}, {120, 120}, {160, 120}, {100, 50}};
    for (std::size_t i = 0; i < outputs.size(); ++i) EXPECT_EQ(JpegSize(dir.file(outputs[i])), sizes[i]) << i;
    EXPECT_EQ(beeps, 1);
    EXPECT_EQ(positions, (std::vector<int>{0, 1, 2, 3, 4, 0}));
}

TEST(ResizeRun, NumbersGrowPastTwoDigits)
{
    ScratchDir dir;
    const std::vector<std::uint8_t> tiny = test::MakeJpeg(4, 4, test::Gradient);
    for (int i = 0; i < 101; ++i) test::WriteBytes(dir.file("p" + std::to_string(1000 + i) + ".jpg"), tiny);
    BatchModel model = Scanned(dir);
    model.series = "";
    RunResize(model);
    ASSERT_EQ(model.names.size(), 101u);
    EXPECT_EQ(model.names[0], "01.jpg");
    EXPECT_EQ(model.names[8], "09.jpg");
    EXPECT_EQ(model.names[9], "10.jpg");
    EXPECT_EQ(model.names[98], "99.jpg");
    EXPECT_EQ(model.names[99], "100.jpg");
    EXPECT_EQ(model.names[100], "101.jpg");
    EXPECT_TRUE(fs::exists(dir.file("101.jpg")));
}

TEST(ResizeRun, AnEmptyListStillEndsDone)
{
    ScratchDir dir;
    BatchModel model = Scanned(dir);
    int beeps = 0;
    RunResize(model, {.beep = [&] { ++beeps; }});
    EXPECT_TRUE(model.names.empty());
    EXPECT_EQ(beeps, 1);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), 0);
}

TEST(ResizeRun, ProgressiveStaysProgressiveAndBitmapsBecomeBaseline)
{
    ScratchDir dir;
    WriteJpeg(dir, "a.jpg", 320, 240, {.progressive = true});
    WriteJpeg(dir, "b.jpg", 320, 240);
    BatchModel model = Scanned(dir);
    RunResize(model);
    EXPECT_EQ(test::FrameMarker(test::ReadBytes(dir.file("RurOdi01.jpg"))), 0xC2);
    EXPECT_EQ(test::FrameMarker(test::ReadBytes(dir.file("RurOdi02.jpg"))), 0xC0);

    ScratchDir bmps;
    test::WriteBytes(bmps.file("x.bmp"), Bmp24(320, 240));
    BatchModel bmpModel = Scanned(bmps, InputFormat::Bitmap);
    bmpModel.qualityIndex = 3;
    RunResize(bmpModel);
    const std::vector<std::uint8_t> out = test::ReadBytes(bmps.file("RurOdi01.jpg"));
    EXPECT_EQ(test::FrameMarker(out), 0xC0);
    EXPECT_EQ(JpegSize(bmps.file("RurOdi01.jpg")), (Size{160, 120}));
}

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
    }
}

TEST(ResizeRun, AStopRequestEndsTheRunBetweenPictures)
{
    for (int jobs : {1, 3}) {
        for (bool costliestFirst : {true, false}) {
            ScratchDir dir;
            for (const char* name : {"a.jpg", "b.jpg", "c.jpg", "d.jpg", "e.jpg", "f.jpg"}) WriteJpeg(dir, name, 320, 200);
            BatchModel model = Scanned(dir);
            const std::vector<std::string> inputs = model.names;
            std::atomic<bool> stop = false;
            RunHooks hooks;
            hooks.written = [&](int index, const std::string&) { stop = index == 1; };
            int position = -1;
            hooks.progressChanged = [&](int p) { position = p; };
            EXPECT_EQ(ErrorOf([&] { RunResize(model, hooks, {.jobs = jobs, .stop = &stop, .costliestFirst = costliestFirst}); }),
                      "Stopped");
            for (const char* name : {"RurOdi01.jpg", "RurOdi02.jpg"}) EXPECT_EQ(JpegSize(dir.file(name)), (Size{160, 100}));
            EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), 9);  // and the record, nothing partial
            EXPECT_EQ(model.names, inputs);
            EXPECT_EQ(position, 1);
        }
    }
}

// A picture in flight is abandoned at once rather than finished: in the JPEG
// library's passes (a progressive file is read whole before its first row)
// or at its next row on the way into the reduction.
TEST(ResizeRun, AStopRequestAbandonsThePictureInFlight)
{
    ScratchDir dir;
    WriteJpeg(dir, "baseline.jpg", 320, 200);
    WriteJpeg(dir, "progressive.jpg", 320, 200, {.progressive = true});
    test::WriteBytes(dir.file("bitmap.bmp"), Bmp24(320, 200));
    BatchModel model;
    model.format = InputFormat::Auto;
    model.sizeIndex = 5;
    for (const char* second : {"baseline.jpg", "progressive.jpg", "bitmap.bmp"})
        for (const int jobs : {1, 2})
            for (const bool keepGoing : {false, true}) {
                SCOPED_TRACE(testing::Message() << second << ", jobs " << jobs << ", keep going " << keepGoing);
                const std::vector<std::string> names = {"baseline.jpg", second, "baseline.jpg"};
                std::atomic<bool> stop = false, secondFinished = false;
                const auto process = [&](int i) {
                    if (i == 1) stop = true;  // as if the window closed while it is read
                    const std::string& name = names[static_cast<std::size_t>(i)];
                    std::vector<std::uint8_t> bytes = ResizeOne(model, dir.file(name), name);
                    if (i == 1) secondFinished = true;
                    return bytes;
                };
                std::vector<int> committed;
                std::vector<std::string> failures;
                const auto commit = [&](int i, const std::vector<std::uint8_t>&) { committed.push_back(i); };
                const auto failed = [&](int, const ResizeError& e) { failures.push_back(e.what()); };
                const std::vector<std::uintmax_t> costs(3, 0);
                EXPECT_EQ(ErrorOf([&] {
                              if (keepGoing) RunPastFailures(3, jobs, process, commit, names, costs, failed, &stop, false);
                              else RunInListOrder(3, jobs, process, commit, names, costs, &stop, false);
                          }),
                          "Stopped");
                EXPECT_TRUE(failures.empty());
                // One job finishes the first picture before the second starts;
                // with two the first may be abandoned too.
                EXPECT_TRUE(committed == std::vector<int>{0} || (jobs > 1 && committed.empty()));
                EXPECT_FALSE(secondFinished);
            }
}

TEST(ListOrderRun, StartsTheCostliestOrTheFirstPicturesFirst)
{
    for (bool costliestFirst : {true, false}) {
        std::mutex lock;
        std::condition_variable both;
        std::vector<int> started;
        const auto process = [&](int i) {
            std::unique_lock guard(lock);
            started.push_back(i);
            both.notify_all();
            // The first two pictures run side by side: hold each until the other began.
            both.wait_for(guard, std::chrono::seconds(5), [&] { return started.size() >= 2; });
            return std::vector<std::uint8_t>{static_cast<std::uint8_t>(i)};
        };
        std::vector<int> committed;
        const auto commit = [&](int i, const std::vector<std::uint8_t>& bytes) {
            EXPECT_EQ(bytes.at(0), i);
            committed.push_back(i);
        };
        RunInListOrder(6, 2, process, commit, std::vector<std::string>(6), {1, 2, 3, 4, 5, 6}, nullptr, costliestFirst);
        EXPECT_EQ(std::set<int>(started.begin(), started.begin() + 2), (costliestFirst ? std::set<int>{4, 5} : std::set<int>{0, 1}));
        EXPECT_EQ(committed, (std::vector<int>{0, 1, 2, 3, 4, 5}));
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

TEST(ResizeRun, AnOutputThatCannotBeCreatedLeavesNothingBehind)
{
    ScratchDir dir;
    WriteJpeg(dir, "a.jpg", 32, 32);
    fs::create_directory(dir.path() / "RurOdi01.jpg");
    BatchModel model = Scanned(dir);
    EXPECT_EQ(ErrorOf([&] { RunResize(model); }), "Cannot create file RurOdi01.jpg");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), 2);
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

// Whatever a picture throws fails that picture, at any number of jobs.
TEST(ListOrderRun, AnythingThrownIsThatPicturesFailure)
{
    const std::vector<std::string> names{"a", "b", "c"};
    const auto process = [](int i) -> std::vector<std::uint8_t> {
        if (i == 1) throw 42;
        return {1};
    };
    for (const int jobs : {1, 2}) {
        std::vector<int> committed;
        const auto commit = [&](int i, const std::vector<std::uint8_t>&) { committed.push_back(i); };
        try {
            RunInListOrder(3, jobs, process, commit, names, {0, 0, 0});
            ADD_FAILURE() << jobs;
        } catch (const ResizeError& e) {
            EXPECT_EQ(e.input(), "b");
            EXPECT_STREQ(e.what(), "Unknown error");
        }
        EXPECT_EQ(committed, std::vector<int>{0});
        std::vector<std::string> failed;
        RunPastFailures(3, jobs, process, commit, names, {0, 0, 0},
                        [&](int, const ResizeError& e) { failed.push_back(e.input() + " " + e.what()); });
        EXPECT_EQ(committed, (std::vector<int>{0, 0, 2}));
        EXPECT_EQ(failed, std::vector<std::string>{"b Unknown error"});
    }
}

TEST(ResizeRun, OneRowPicturesKeepOneRow)
{
    ScratchDir dir;
    WriteJpeg(dir, "a.jpg", 2000, 1);
    BatchModel model = Scanned(dir, InputFormat::Jpeg, 0);
    RunResize(model);
    EXPECT_EQ(JpegSize(dir.file("RurOdi01.jpg")), (Size{1000, 1}));
}

TEST(ResizeRun, PicturesAreTurnedUprightBeforeSizing)
{
    ScratchDir dir;
    WriteJpeg(dir, "a.jpg", 400, 200, {.app1 = test::ExifWithOrientation(6)});
    WriteJpeg(dir, "b.jpg", 400, 200, {.app1 = test::ExifWithOrientation(8, true)});
    WriteJpeg(dir, "c.jpg", 400, 200, {.app1 = test::ExifWithOrientation(3)});
    WriteJpeg(dir, "d.jpg", 400, 200, {.app1 = test::ExifWithOrientation(1)});
    WriteJpeg(dir, "e.jpg", 400, 200);
    BatchModel model = Scanned(dir);
    RunResize(model);
    EXPECT_EQ(JpegSize(dir.file("RurOdi01.jpg")), (Size{60, 120}));
    EXPECT_EQ(JpegSize(dir.file("RurOdi02.jpg")), (Size{60, 120}));
    EXPECT_EQ(JpegSize(dir.file("RurOdi03.jpg")), (Size{160, 80}));
    // Orientation 1 and no EXIF at all give the same bytes.
    EXPECT_EQ(test::ReadBytes(dir.file("RurOdi04.jpg")), test::ReadBytes(dir.file("RurOdi05.jpg")));
}

TEST(ResizeRun, SharpeningAndJobsChangeNothingButWhatTheyShould)
{
    ScratchDir dir;
    for (int i = 0; i < 6; ++i) WriteJpeg(dir, "p" + std::to_string(i) + ".jpg", 300 + 10 * i, 200);
    const BatchModel inputs = Scanned(dir);
    auto run = [&](bool sharpen, int jobs) {
        BatchModel model = inputs;
        model.sharpen = sharpen;
        model.series = "out" + std::to_string(sharpen) + "_" + std::to_string(jobs) + "_";
        RunResize(model, {}, {.jobs = jobs});
        std::vector<std::vector<std::uint8_t>> files;
        for (const std::string& name : model.names) files.push_back(test::ReadBytes(dir.file(name)));
        return files;
    };
    const auto plain = run(false, 1);
    EXPECT_TRUE(run(false, 4) == plain);
    const auto sharp = run(true, 1);
    EXPECT_TRUE(run(true, 3) == sharp);
    EXPECT_TRUE(sharp != plain);
}

}  // namespace
}  // namespace pictavo

namespace pictavo {
namespace {

// Large JPEGs are reduced while their rows stream in; the result must be the
// bytes the whole-picture path gives.
TEST(ResizeRun, StreamedReductionMatchesTheWholePicture)
{
    test::ScratchDir dir;
    struct Case { int w, h; test::JpegOptions options; bool sharpen; int sizeIndex; };
    const Case cases[] = {
        {1024, 700, {}, false, 1}, {1024, 700, {}, true, 1}, {333, 1001, {.progressive = true}, true, 4},
        {900, 900, {.gray = true}, false, 2}, {2000, 3, {}, true, 0},
    };
    for (const Case& c : cases) {
        const std::string path = dir.file("in.jpg");
        test::WriteBytes(path, test::MakeJpeg(c.w, c.h, test::Gradient, c.options));
        BatchModel model;
        model.sharpen = c.sharpen;
        model.sizeIndex = c.sizeIndex;
        const std::vector<std::uint8_t> streamed = ResizeOne(model, path, "in.jpg");

        TJPEGImage jpeg;
        jpeg.loadFromFile(path);
        const OutputSize size = TargetFor(jpeg.width(), jpeg.height(), model.target());
        Raster24 source;
        jpeg.decodeInto(source);
        source.make24Bit();
        Raster24 destination = test::SlowReduced(source, size.width, size.height, c.sharpen);
        jpeg.takeRaster(destination);
        jpeg.setEncodeQuality(75);
        EXPECT_TRUE(streamed == jpeg.encodedBytes()) << c.w << "x" << c.h;
    }
}

}  // namespace
}  // namespace pictavo

namespace pictavo {
namespace {

// A tagged picture is shown in sRGB; one tagged sRGB gives the untagged bytes.
TEST(ResizeRun, ProfiledPicturesAreWrittenInSrgb)
{
    const std::string icc = "/usr/share/color/icc/";
    const auto installed = [](const std::string& file) {
        return fs::exists(file) ? test::ReadBytes(file) : std::vector<std::uint8_t>();
    };
    // Grey pictures follow grey profiles only.
    struct Profile { std::string name; std::vector<std::uint8_t> bytes; bool gray; bool same; };
    const Profile profiles[] = {
        {"sRGB", installed(icc + "sRGB.icc"), false, true},
        {"colord sRGB", installed(icc + "colord/sRGB.icc"), false, true},
        {"Adobe RGB", installed(icc + "colord/AdobeRGB1998.icc"), false, false},
        {"Adobe RGB on grey", installed(icc + "colord/AdobeRGB1998.icc"), true, true},
        {"linear grey", MakeGreyProfile(GammaTransfer(1.0)), true, false},
        {"linear grey on colour", MakeGreyProfile(GammaTransfer(1.0)), false, true},
    };
    // Streamed, whole picture (turned upright), only copied; with sharpening.
    struct Path { int w, h; int orientation; };
    const Path paths[] = {{900, 500, 1}, {500, 900, 6}, {120, 90, 1}};
    test::ScratchDir dir;
    BatchModel model;
    model.sizeIndex = 5;
    model.sharpen = true;
    for (const Path& p : paths) {
        for (const bool gray : {false, true}) {
            test::JpegOptions options{.gray = gray, .app1 = test::ExifWithOrientation(p.orientation)};
            test::WriteBytes(dir.file("plain.jpg"), test::MakeJpeg(p.w, p.h, test::Gradient, options));
            const std::vector<std::uint8_t> plain = ResizeOne(model, dir.file("plain.jpg"), "plain.jpg");
            for (const Profile& profile : profiles) {
                if (profile.bytes.empty() || profile.gray != gray) continue;
                options.icc = profile.bytes;
                test::WriteBytes(dir.file("tagged.jpg"), test::MakeJpeg(p.w, p.h, test::Gradient, options));
                const bool same = ResizeOne(model, dir.file("tagged.jpg"), "tagged.jpg") == plain;
                EXPECT_EQ(same, profile.same) << profile.name << " " << p.w << "x" << p.h;
            }
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

// --fast decodes JPEGs scaled down: close to the exact raster (PSNR over
// 40 dB), and the same bytes at any number of jobs.
TEST(ResizeRun, FastIsCloseToExactAndTheSameAtAnyJobs)
{
    ScratchDir dir;
    // Light and dark squares of 16 pixels, tinted smoothly: a box or row out
    // of place shows at once.
    const auto squares = [](int x, int y) {
        const int v = (x / 16 + y / 16) % 2 ? 200 : 40;
        return test::Rgb{static_cast<std::uint8_t>(v + x / 64), static_cast<std::uint8_t>(v + y / 64),
                         static_cast<std::uint8_t>(v)};
    };
    struct Case { int w, h; test::JpegOptions options; int factor; };
    const Case cases[] = {
        {1280, 960, {}, 4},
        {2560, 1600, {.progressive = true}, 8},  // its AC scans are not even read
        {1280, 960, {.app1 = test::ExifWithOrientation(6)}, 4},
        {1300, 800, {.gray = true}, 4},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        const std::string name = "p" + std::to_string(i) + ".jpg";
        test::WriteBytes(dir.file(name), test::MakeJpeg(c.w, c.h, squares, c.options));
        const auto reduce = [&](bool fast) {
            const std::unique_ptr<PictureSource> source = OpenPicture(dir.file(name), name, InputFormat::Jpeg);
            const ReductionPlan plan = PlanFor(source->header(), SizePresets[5], false);
            const int factor = fast ? DecodeFewerPixels(*source, {plan}) : 1;
            EXPECT_EQ(factor, fast ? c.factor : 1) << name;
            Raster24 reduced = std::move(Reduce(*source, {plan}, factor).front().colour);
            EXPECT_EQ(source->warnings().count, 0) << name;
            return reduced;
        };
        const Raster24 exact = reduce(false), fast = reduce(true);
        ASSERT_EQ((Size{fast.width(), fast.height()}), (Size{exact.width(), exact.height()})) << name;
        double squaredError = 0;
        for (int y = 0; y < exact.height(); ++y)
            for (int x = 0; x < 3 * exact.width(); ++x)
                squaredError += std::pow(exact.scanLine(y)[x] - fast.scanLine(y)[x], 2);
        const double psnr = 10 * std::log10(255.0 * 255 * 3 * exact.width() * exact.height() / squaredError);
        EXPECT_GT(psnr, 40) << name;
        // With a larger size beside it, the largest decides: 999 x 750 needs every pixel.
        const std::unique_ptr<PictureSource> again = OpenPicture(dir.file(name), name, InputFormat::Jpeg);
        const PictureHeader& header = again->header();
        EXPECT_EQ(DecodeFewerPixels(*again, {PlanFor(header, SizePresets[5], false), PlanFor(header, SizePresets[0], false)}),
                  1)
            << name;
    }
    const BatchModel inputs = Scanned(dir);
    const auto run = [&](int jobs) {
        BatchModel model = inputs;
        model.fast = true;
        model.series = "fast" + std::to_string(jobs) + "_";
        RunResize(model, {}, {.jobs = jobs});
        std::vector<std::vector<std::uint8_t>> files;
        for (const std::string& output : model.names) files.push_back(test::ReadBytes(dir.file(output)));
        return files;
    };
    EXPECT_TRUE(run(1) == run(3));
    // --update does not take the one run's outputs for the other's.
    BatchModel fast = inputs;
    fast.fast = true;
    EXPECT_NE(SettingsKey(fast), SettingsKey(inputs));
}

}  // namespace
}  // namespace pictavo
