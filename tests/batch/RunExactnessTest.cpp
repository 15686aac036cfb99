// The bytes a run writes: streamed against the plain reduction, the same at
// any number of jobs, and --fast close to exact.
#include "tests/batch/RunTestSupport.h"

#include <cmath>

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
        {900, 900, {.gray = true}, false, 2}, {2000, 3, {}, true, 0}, {2000, 1, {}, false, 0},
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
        {2560, 1600, {.progressive = true, .gray = true}, 8},
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
