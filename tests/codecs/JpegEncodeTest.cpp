// Writing JPEGs: frame type, JFIF header and tables, saving safely.
#include "tests/codecs/JpegTestSupport.h"
#include <csignal>
#include <sys/resource.h>

namespace pictavo {
namespace {

std::vector<std::uint8_t> Encoded(int quality, bool progressive = false, int w = 32, int h = 24)
{
    Raster24 r = Decoded(MakeJpeg(w, h, test::Gradient));
    TJPEGImage jpeg;
    jpeg.setProgressiveOutput(progressive);
    jpeg.takeRaster(r);
    jpeg.setEncodeQuality(static_cast<std::uint8_t>(quality));
    return jpeg.encodedBytes();
}

// Entries of quantization table `index` in the order they are stored.
std::vector<int> QuantTable(const std::vector<std::uint8_t>& jpeg, int index)
{
    for (const test::JpegSegment& s : test::JpegSegments(jpeg))
        for (std::size_t t = s.at + 4; s.marker == 0xDB && t + 65 <= s.at + 2 + s.length; t += 65)
            if ((jpeg[t] & 0x0F) == index) return std::vector<int>(jpeg.begin() + t + 1, jpeg.begin() + t + 65);
    return {};
}

TEST(TJPEGImage, OutputIsProgressiveExactlyWhenTheInputWas)
{
    struct Case { const char* name; test::JpegOptions options; int frame; };
    const Case cases[] = {
        {"baseline", {}, 0xC0},
        {"progressive", {.progressive = true}, 0xC2},
        {"sequential, luminance scan first", {.lumaScanFirst = true}, 0xC2},
    };
    for (const Case& c : cases) {
        TJPEGImage jpeg = Loaded(MakeJpeg(48, 32, test::Gradient, c.options));
        Raster24 r;
        jpeg.decodeInto(r);
        jpeg.takeRaster(r);
        jpeg.setEncodeQuality(75);
        EXPECT_EQ(test::FrameMarker(jpeg.encodedBytes()), c.frame) << c.name;
    }
    EXPECT_EQ(test::FrameMarker(Encoded(75)), 0xC0);  // a fresh object writes baseline
}

TEST(TJPEGImage, WritesJfif101WithTheStandardTablesScaled)
{
    const std::vector<std::uint8_t> q50 = Encoded(50);
    const std::vector<std::uint8_t> jfif = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00,
                                            0x01, 0x01, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00};
    EXPECT_EQ(std::vector<std::uint8_t>(q50.begin(), q50.begin() + 20), jfif);
    // Annex K luminance and chrominance tables, in the zigzag order they are stored.
    const std::vector<int> luminance = {16, 11, 12, 14, 12, 10, 16, 14, 13, 14, 18, 17, 16, 19, 24, 40,
                                        26, 24, 22, 22, 24, 49, 35, 37, 29, 40, 58, 51, 61, 60, 57, 51,
                                        56, 55, 64, 72, 92, 78, 64, 68, 87, 69, 55, 56, 80, 109, 81, 87,
                                        95, 98, 103, 104, 103, 62, 77, 113, 121, 112, 100, 120, 92, 101, 103, 99};
    EXPECT_EQ(QuantTable(q50, 0), luminance);
    const std::vector<int> chroma = QuantTable(q50, 1);
    ASSERT_EQ(chroma.size(), 64u);
    EXPECT_EQ(chroma[0], 17);
    EXPECT_EQ(chroma[1], 18);
    EXPECT_EQ(chroma[63], 99);

    struct Case { int quality, lumaDc, chromaDc, last; };
    for (const Case& c : {Case{90, 3, 3, 20}, Case{75, 8, 9, 50}, Case{60, 13, 14, 79}, Case{30, 27, 28, 164}}) {
        const std::vector<std::uint8_t> b = Encoded(c.quality);
        EXPECT_EQ(QuantTable(b, 0)[0], c.lumaDc) << c.quality;
        EXPECT_EQ(QuantTable(b, 1)[0], c.chromaDc) << c.quality;
        EXPECT_EQ(QuantTable(b, 1)[63], c.last) << c.quality;
    }
}

TEST(TJPEGImage, OneRowPicturesDecodeAndEncode)
{
    Raster24 r = Decoded(MakeJpeg(40, 1, test::Gradient));
    EXPECT_EQ(r.height(), 1);
    TJPEGImage jpeg;
    jpeg.takeRaster(r);
    const Raster24 again = Decoded(jpeg.encodedBytes());
    EXPECT_EQ(again.width(), 40);
    EXPECT_EQ(again.height(), 1);
}

TEST(TJPEGImage, SavesAtomicallyAndIdenticallyTwice)
{
    ScratchDir dir;
    TJPEGImage jpeg = Loaded(MakeJpeg(30, 20, test::Gradient));
    Raster24 r;
    jpeg.decodeInto(r);
    jpeg.takeRaster(r);
    jpeg.saveToFile(dir.file("a.jpg"));
    jpeg.saveToFile(dir.file("b.jpg"));
    EXPECT_EQ(test::ReadBytes(dir.file("a.jpg")), test::ReadBytes(dir.file("b.jpg")));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);

    TJPEGImage empty;
    empty.takeRaster(Raster24());
    empty.saveToFile(dir.file("empty.jpg"));
    EXPECT_EQ(std::filesystem::file_size(dir.file("empty.jpg")), 0u);

    EXPECT_EQ(ErrorOf([&] { jpeg.saveToFile(dir.file("missing/x.jpg"), "x.jpg"); }), "Cannot create file x.jpg");
    std::filesystem::create_directory(dir.path() / "folder.jpg");
    EXPECT_EQ(ErrorOf([&] { jpeg.saveToFile(dir.file("folder.jpg"), "folder.jpg"); }), "Cannot create file folder.jpg");
}

TEST(TJPEGImage, FailedWriteLeavesTheOldFileAndNoTemporary)
{
    ScratchDir dir;
    const std::vector<std::uint8_t> old = {1, 2, 3};
    test::WriteBytes(dir.file("out.jpg"), old);
    TJPEGImage jpeg;
    jpeg.takeRaster(Decoded(MakeJpeg(200, 200, test::Gradient)));
    jpeg.encodedBytes();

    // Writes beyond 100 bytes now fail with EFBIG.
    struct sigaction ignore {}, previous {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, &previous);
    rlimit saved {};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small = saved;
    small.rlim_cur = 100;
    setrlimit(RLIMIT_FSIZE, &small);
    const std::string error = ErrorOf([&] { jpeg.saveToFile(dir.file("out.jpg"), "out.jpg"); });
    setrlimit(RLIMIT_FSIZE, &saved);
    sigaction(SIGXFSZ, &previous, nullptr);

    EXPECT_EQ(error, "Stream write error");
    EXPECT_EQ(test::ReadBytes(dir.file("out.jpg")), old);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

}  // namespace
}  // namespace pictavo
