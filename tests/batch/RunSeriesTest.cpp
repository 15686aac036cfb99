// What a run writes: output sizes, the numbered series, frame types, pictures
// turned upright.
#include "tests/batch/RunTestSupport.h"

namespace pictavo {
namespace {

TEST(TargetFor, LongerSideMeetsTheTarget)
{
    struct Case { int w, h; TargetSize target; Size expected; };
    const Case cases[] = {
        {3000, 2000, {800, 600}, {800, 533}},
        {2000, 3000, {800, 600}, {400, 600}},
        {1024, 768, {800, 600}, {800, 600}},
        {2000, 2000, {800, 600}, {600, 600}},   // square: the height rules
        {30, 1440, {800, 600}, {13, 600}},      // a 53-bit product would give 12
        {2000, 1001, {1000, 750}, {1000, 500}}, // ties to even, either way
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

}  // namespace
}  // namespace pictavo
