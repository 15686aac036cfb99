#include "base/Stop.h"
#include "codecs/Exif.h"
#include "codecs/jpeg/TJPEGImage.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <set>
#include <sys/resource.h>

#include <cstdio>
#include <jpeglib.h>

namespace pictavo {
namespace {

using test::ErrorOf;

using test::MakeJpeg;
using test::ScratchDir;

TJPEGImage Loaded(const std::vector<std::uint8_t>& bytes)
{
    TJPEGImage jpeg;
    jpeg.loadFromBytes(bytes);
    return jpeg;
}

Raster24 Decoded(const std::vector<std::uint8_t>& bytes)
{
    TJPEGImage jpeg = Loaded(bytes);
    Raster24 r;
    jpeg.decodeInto(r);
    return r;
}

// Entries of quantization table `index` in the order they are stored.
std::vector<int> QuantTable(const std::vector<std::uint8_t>& jpeg, int index)
{
    for (std::size_t i = 2; i + 4 < jpeg.size();) {
        const int marker = jpeg[i + 1];
        const std::size_t length = jpeg[i + 2] << 8 | jpeg[i + 3];
        if (marker == 0xDB)
            for (std::size_t t = i + 4; t + 65 <= i + 2 + length; t += 65)
                if ((jpeg[t] & 0x0F) == index) return std::vector<int>(jpeg.begin() + t + 1, jpeg.begin() + t + 65);
        if (marker == 0xDA) break;
        i += 2 + length;
    }
    return {};
}

std::vector<std::uint8_t> Encoded(int quality, bool progressive = false, int w = 32, int h = 24)
{
    Raster24 r = Decoded(MakeJpeg(w, h, test::Gradient));
    TJPEGImage jpeg;
    jpeg.setProgressiveOutput(progressive);
    jpeg.takeRaster(r);
    jpeg.setEncodeQuality(static_cast<std::uint8_t>(quality));
    return jpeg.encodedBytes();
}

TEST(TJPEGImage, ReportsTheHeaderSizeWithoutDecoding)
{
    TJPEGImage jpeg = Loaded(MakeJpeg(227, 149, test::Gradient));
    EXPECT_EQ(jpeg.width(), 227);
    EXPECT_EQ(jpeg.height(), 149);
    EXPECT_FALSE(jpeg.progressiveOutput());
    EXPECT_FALSE(jpeg.gray());
}

TEST(TJPEGImage, DecodesColoursInBlueGreenRedOrder)
{
    const Raster24 r = Decoded(MakeJpeg(16, 16, [](int, int) { return test::Rgb{250, 120, 10}; }));
    ASSERT_TRUE(r.is24Bit());
    const std::uint8_t* p = r.scanLine(8) + 3 * 8;
    EXPECT_NEAR(p[0], 10, 3);
    EXPECT_NEAR(p[1], 120, 3);
    EXPECT_NEAR(p[2], 250, 3);
}

// The picture's frame rewritten with `count` components (1, 2, ... as
// identifiers) and its first scan with the first min(count, 3) of them.
std::vector<std::uint8_t> WithComponents(std::vector<std::uint8_t> b, int count)
{
    const auto segment = [&](std::uint8_t marker) {
        for (std::size_t i = 2; i + 1 < b.size(); ++i)
            if (b[i] == 0xFF && b[i + 1] == marker) return i;
        return b.size();
    };
    const auto replace = [&](std::size_t at, const std::vector<std::uint8_t>& with) {
        const std::size_t length = b[at + 2] << 8 | b[at + 3];
        b.erase(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at + 2 + length));
        b.insert(b.begin() + static_cast<long>(at), with.begin(), with.end());
    };
    const std::size_t sof = segment(0xC0);
    std::vector<std::uint8_t> frame(b.begin() + static_cast<long>(sof), b.begin() + static_cast<long>(sof + 10));
    frame[3] = static_cast<std::uint8_t>(8 + 3 * count);
    frame[9] = static_cast<std::uint8_t>(count);
    for (int id = 1; id <= count; ++id) frame.insert(frame.end(), {static_cast<std::uint8_t>(id), 0x11, 0});
    replace(sof, frame);
    const int inScan = std::min(count, 3);
    std::vector<std::uint8_t> scan = {0xFF, 0xDA, 0, static_cast<std::uint8_t>(6 + 2 * inScan),
                                      static_cast<std::uint8_t>(inScan)};
    for (int id = 1; id <= inScan; ++id) scan.insert(scan.end(), {static_cast<std::uint8_t>(id), 0});
    scan.insert(scan.end(), {0, 63, 0});
    replace(segment(0xDA), scan);
    return b;
}

TEST(TJPEGImage, LibraryErrorsShowTheirClassicNumbers)
{
    const std::vector<std::uint8_t> good = MakeJpeg(16, 16, test::Gradient);
    // Patches bytes of the SOF0 segment, counted from its marker.
    const std::size_t frame = test::FrameOffset(good);
    ASSERT_EQ(good.at(frame + 1), 0xC0);
    auto patched = [&](std::size_t offsetInSof, std::vector<std::uint8_t> values) {
        std::vector<std::uint8_t> b = good;
        std::copy(values.begin(), values.end(), b.begin() + static_cast<long>(frame + offsetInSof));
        return b;
    };
    const std::vector<std::uint8_t> beforeFrame(good.begin(), good.begin() + static_cast<long>(frame));
    std::vector<std::uint8_t> unknown = good;
    unknown.insert(unknown.begin() + 2, {0xFF, 0x02, 0x00, 0x02});  // a reserved marker

    struct Case { const char* name; std::vector<std::uint8_t> bytes; const char* message; };
    const Case cases[] = {
        {"not a JPEG", {'B', 'M', 0, 0, 0, 0}, "JPEG error #52"},
        {"end before any frame", {0xFF, 0xD8, 0xFF, 0xD9}, "JPEG error #50"},
        {"cut before the frame", beforeFrame, "JPEG error #50"},
        {"12-bit samples", patched(4, {12}), "JPEG error #13"},
        {"lossless frame", patched(1, {0xC3}), "JPEG error #59"},
        {"eleven components", WithComponents(good, 11), "JPEG error #24"},
        {"sampling factor 5", patched(11, {0x51}), "JPEG error #16"},
        {"width above 65500", patched(7, {0xFF, 0xFF}), "JPEG error #40"},
        {"unknown marker", unknown, "JPEG error #67"},
    };
    for (const Case& c : cases) {
        TJPEGImage jpeg;
        EXPECT_EQ(ErrorOf([&] { jpeg.loadFromBytes(c.bytes); }), c.message) << c.name;
        EXPECT_EQ(jpeg.width(), 0) << c.name;
    }
}

TEST(TJPEGImage, ErrorsCarryTheLibrarysWordsForTheCommandLine)
{
    const std::vector<std::uint8_t> good = MakeJpeg(16, 16, test::Gradient);
    struct Case { const char* name; std::vector<std::uint8_t> bytes; const char* message; const char* detail; };
    const Case cases[] = {
        {"not a JPEG", {'B', 'M', 0, 0, 0, 0}, "JPEG error #52", "Not a JPEG file: starts with 0x42 0x4d"},
        {"two components", WithComponents(good, 2), "JPEG error #27",
         "Unsupported color conversion request: pictures of 2 components cannot be read, only grey (1), colour "
         "(3) and CMYK (4)"},
        {"five components", WithComponents(good, 5), "JPEG error #27",
         "Unsupported color conversion request: pictures of 5 components cannot be read, only grey (1), colour "
         "(3) and CMYK (4)"},
    };
    for (const Case& c : cases) {
        try {
            TJPEGImage jpeg;
            jpeg.loadFromBytes(c.bytes);
            Raster24 r;
            jpeg.decodeInto(r);
            ADD_FAILURE() << c.name << " decoded";
        } catch (const Exception& e) {
            EXPECT_EQ(e.message(), c.message) << c.name;
            EXPECT_EQ(e.detail(), c.detail) << c.name;
        }
    }
}

TEST(TJPEGImage, EmptyDataLoadsButDoesNotDecode)
{
    TJPEGImage jpeg;
    jpeg.loadFromBytes({});
    EXPECT_EQ(jpeg.width(), 0);
    Raster24 r;
    EXPECT_EQ(ErrorOf([&] { jpeg.decodeInto(r); }), "JPEG error #41");
}

TEST(TJPEGImage, TruncatedCompressedDataStillDecodes)
{
    std::vector<std::uint8_t> bytes = MakeJpeg(64, 64, test::Gradient);
    TJPEGImage whole = Loaded(bytes);
    Raster24 r;
    whole.decodeInto(r);
    EXPECT_EQ(whole.warnings().count, 0);
    bytes.resize(bytes.size() * 2 / 3);
    TJPEGImage cut = Loaded(bytes);
    cut.decodeInto(r);
    EXPECT_EQ(r.width(), 64);
    EXPECT_EQ(r.height(), 64);
    EXPECT_GE(cut.warnings().count, 1);
    EXPECT_EQ(cut.warnings().text, "Premature end of JPEG file");
}


// The end marker made a reserved one: the library fails after rows have come,
// which must neither pass unnoticed nor leave the row buffers behind.
TEST(TJPEGImage, LibraryErrorsAfterTheFirstRowsFailTheDecode)
{
    const struct { const char* name; bool gray, palette; } cases[] = {
        {"colour", false, false}, {"colour in a palette", false, true}, {"grey", true, false}};
    for (const auto& c : cases) {
        std::vector<std::uint8_t> bytes = MakeJpeg(40, 24, test::Gradient, {.gray = c.gray});
        ASSERT_EQ(bytes.back(), 0xD9) << c.name;
        bytes.back() = 0x02;
        TJPEGImage jpeg = Loaded(bytes);
        jpeg.setDecodesToPalette(c.palette);
        Raster24 r;
        EXPECT_EQ(ErrorOf([&] { jpeg.decodeInto(r); }), "JPEG error #67") << c.name;
        EXPECT_EQ(ErrorOf([&] { jpeg.decodeRows([](const std::uint8_t*) {}); }), "JPEG error #67") << c.name;
    }
}
TEST(TJPEGImage, EmbeddedProfilesAreReadWhole)
{
    // Longer than one marker holds, so it comes in several chunks.
    std::vector<std::uint8_t> icc(150000);
    for (std::size_t i = 0; i < icc.size(); ++i) icc[i] = static_cast<std::uint8_t>(i * 7 / 3);
    EXPECT_EQ(Loaded(MakeJpeg(16, 16, test::Gradient, {.icc = icc})).iccProfile(), icc);
    EXPECT_TRUE(Loaded(MakeJpeg(16, 16, test::Gradient)).iccProfile().empty());
}

TEST(TJPEGImage, ArithmeticCodingLoadsButFailsToDecode)
{
    TJPEGImage jpeg = Loaded(MakeJpeg(40, 30, test::Gradient, {.arithmetic = true}));
    EXPECT_EQ(jpeg.width(), 40);
    Raster24 r;
    EXPECT_EQ(ErrorOf([&] { jpeg.decodeInto(r); }), "JPEG error #1");
}

// The library's own one-pass quantizer over a grey file: its level numbers
// row by row, and its colour map.
struct LibraryLevels {
    std::vector<std::vector<std::uint8_t>> rows;
    std::vector<std::uint8_t> map;
};

LibraryLevels QuantizedByLibrary(std::vector<std::uint8_t> bytes)
{
    jpeg_decompress_struct cinfo{};
    jpeg_error_mgr errors{};
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&cinfo, TRUE);
    cinfo.dct_method = JDCT_FLOAT;
    cinfo.do_block_smoothing = TRUE;
    cinfo.quantize_colors = TRUE;
    cinfo.desired_number_of_colors = 236;
    jpeg_start_decompress(&cinfo);
    LibraryLevels out;
    out.map.assign(cinfo.colormap[0], cinfo.colormap[0] + cinfo.actual_number_of_colors);
    while (cinfo.output_scanline < cinfo.output_height) {
        std::vector<std::uint8_t> row(cinfo.output_width);
        JSAMPROW p = row.data();
        jpeg_read_scanlines(&cinfo, &p, 1);
        out.rows.push_back(std::move(row));
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return out;
}

TEST(TJPEGImage, GreyPicturesDitherExactlyAsTheLibraryQuantizerDoes)
{
    // Noise drives errors of both signs through every column; black and
    // white push the corrected values past both ends of the range.
    const auto noise = [](int x, int y) {
        const auto v = static_cast<std::uint8_t>((x * 7919 + y * 104729) * 2654435761u >> 24);
        return test::Rgb{v, v, v};
    };
    const auto extremes = [](int x, int y) {
        const std::uint8_t v = (x / 3 + y) % 2 ? 255 : 0;
        return test::Rgb{v, v, v};
    };
    const struct {
        int width, height;
        test::PixelFunction pixel;
        bool progressive;
    } cases[] = {
        {1, 9, noise, false},        {2, 3, noise, false},        {17, 33, noise, true},
        {255, 40, noise, false},     {1001, 7, noise, true},      {64, 64, test::Gradient, false},
        {90, 30, extremes, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
        const std::vector<std::uint8_t> bytes =
            MakeJpeg(c.width, c.height, c.pixel, {.progressive = c.progressive, .gray = true});
        const LibraryLevels library = QuantizedByLibrary(bytes);

        TJPEGImage jpeg = Loaded(bytes);
        EXPECT_TRUE(jpeg.gray());
        Raster24 r;
        jpeg.decodeInto(r);
        ASSERT_EQ(r.format(), PixelFormat::Indexed8);
        ASSERT_EQ(r.palette().size(), library.map.size());
        for (std::size_t i = 0; i < library.map.size(); ++i)
            ASSERT_TRUE(r.palette()[i].blue == library.map[i] && r.palette()[i].green == library.map[i] &&
                        r.palette()[i].red == library.map[i]);
        // Streamed rows carry each level's grey value in all three bytes.
        std::vector<std::uint8_t> streamed;
        Loaded(bytes).decodeRows(
            [&](const std::uint8_t* row) { streamed.insert(streamed.end(), row, row + 3 * c.width); });
        ASSERT_EQ(streamed.size(), 3u * c.width * c.height);
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x) {
                const std::uint8_t level = library.rows[y][x];
                ASSERT_EQ(r.scanLine(y)[x], level) << x << "," << y;
                const std::uint8_t* p = &streamed[3 * (std::size_t(y) * c.width + x)];
                ASSERT_TRUE(p[0] == library.map[level] && p[1] == p[0] && p[2] == p[0]) << x << "," << y;
            }
    }
    // Still a three-component file when written out.
    Raster24 r = Decoded(MakeJpeg(16, 16, test::Gradient, {.gray = true}));
    TJPEGImage out;
    out.takeRaster(r);
    EXPECT_FALSE(Loaded(out.encodedBytes()).gray());
}

// A stop request is seen inside the library's passes, before the first row:
// a progressive file is otherwise read whole before it gives one.
TEST(TJPEGImage, AStopRequestEndsDecodingBeforeAnyRow)
{
    const std::atomic<bool> stop = true;
    const StopFlagOfThread flag(&stop);
    for (const bool progressive : {false, true}) {
        int rows = 0;
        TJPEGImage jpeg = Loaded(MakeJpeg(64, 48, test::Gradient, {.progressive = progressive}));
        EXPECT_EQ(ErrorOf([&] { jpeg.decodeRows([&](const std::uint8_t*) { ++rows; }); }), "Stopped");
        EXPECT_EQ(rows, 0) << progressive;
    }
}

TEST(TJPEGImage, PaletteDecodingLimitsColoursTo236)
{
    TJPEGImage jpeg = Loaded(MakeJpeg(64, 64, test::Gradient));
    jpeg.setDecodesToPalette(true);
    Raster24 r;
    jpeg.decodeInto(r);
    EXPECT_EQ(r.format(), PixelFormat::Indexed8);
    EXPECT_LE(r.palette().size(), 236u);
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

TEST(TJPEGImage, MissingFileIsNamedAsPassed)
{
    TJPEGImage jpeg;
    EXPECT_EQ(ErrorOf([&] { jpeg.loadFromFile("/nonexistent/photo.jpg", "photo.jpg"); }), "Cannot open file photo.jpg");
    EXPECT_EQ(ErrorOf([&] { jpeg.loadFromFile("/tmp"); }), "Cannot open file /tmp");
}

TEST(TJPEGImage, HugeDeclaredSizesFailWithOutOfMemory)
{
    for (bool progressive : {false, true}) {
        std::vector<std::uint8_t> bytes = MakeJpeg(16, 16, test::Gradient, {.progressive = progressive});
        const std::size_t frame = test::FrameOffset(bytes);
        ASSERT_NE(frame, std::string::npos);
        bytes[frame + 5] = 0xFF;  // height 65500
        bytes[frame + 6] = 0xDC;
        bytes[frame + 7] = 0xFF;  // width 65500
        bytes[frame + 8] = 0xDC;
        const ScopedMemoryBudget budget(std::uint64_t(1) << 30);
        TJPEGImage jpeg = Loaded(bytes);
        EXPECT_EQ(jpeg.width(), 65500);
        Raster24 r;
        EXPECT_EQ(ErrorOf([&] { jpeg.decodeInto(r); }), "Out of memory");
    }
}

TEST(TJPEGImage, EmbeddedPayloadIsCountThenBytes)
{
    const std::vector<std::uint8_t> jpegBytes = MakeJpeg(20, 10, test::Gradient);
    std::vector<std::uint8_t> payload = {std::uint8_t(jpegBytes.size()), std::uint8_t(jpegBytes.size() >> 8), 0, 0};
    payload.insert(payload.end(), jpegBytes.begin(), jpegBytes.end());
    ByteStream stream(payload.data(), payload.size());
    TJPEGImage jpeg;
    jpeg.readEmbedded(stream);
    EXPECT_EQ(jpeg.width(), 20);
    EXPECT_EQ(stream.remaining(), 0u);

    ByteStream shortStream(payload.data(), payload.size() - 1);
    EXPECT_EQ(ErrorOf([&] { jpeg.readEmbedded(shortStream); }), "Stream read error");
}

TEST(TJPEGImage, ExifOrientationIsReadAndDamageMeansUpright)
{
    for (int o = 1; o <= 8; ++o)
        for (bool big : {false, true})
            EXPECT_EQ(Loaded(MakeJpeg(8, 8, test::Gradient, {.app1 = test::ExifWithOrientation(o, big)})).orientation(), o);

    const std::vector<std::uint8_t> good = test::ExifWithOrientation(6);
    auto broken = [&](std::size_t at, std::uint8_t value) {
        std::vector<std::uint8_t> b = good;
        b[at] = value;
        return b;
    };
    const std::vector<std::pair<const char*, std::vector<std::uint8_t>>> cases = {
        {"truncated", std::vector<std::uint8_t>(good.begin(), good.begin() + 20)},
        {"directory offset past the end", broken(10, 0xF0)},
        {"directory pointing at itself", broken(10, 0)},
        {"wrong byte-order mark", broken(6, 'X')},
        {"value out of range", broken(6 + 8 + 2 + 8, 9)},
        {"wrong type", broken(6 + 8 + 2 + 2, 4)},
        {"entry count past the end", broken(6 + 8, 200)},
        {"not EXIF", broken(0, 'e')},
        // Another tag, and the next directory pointing back at this one.
        {"a loop of directories", [&] {
             std::vector<std::uint8_t> b = broken(6 + 8 + 2, 0x10);  // tag 0x0110 instead of 0x0112
             b[6 + 8 + 2 + 12] = 8;  // next directory: offset 8, itself
             return b;
         }()},
    };
    for (const auto& [name, block] : cases) {
        EXPECT_EQ(ExifOrientation(block.data(), block.size()), 1) << name;
        EXPECT_EQ(Loaded(MakeJpeg(8, 8, test::Gradient, {.app1 = block})).orientation(), 1) << name;
    }
}

TEST(TJPEGImage, CorpusFilesBehaveAsExpected)
{
    const std::filesystem::path corpus = test::CorpusDir();
    if (corpus.empty()) GTEST_SKIP() << "no shared corpus";
    TJPEGImage orig;
    orig.loadFromFile((corpus / "jpeg/testorig.jpg").string());
    EXPECT_EQ(orig.width(), 227);
    EXPECT_EQ(orig.height(), 149);
    Raster24 r;
    orig.decodeInto(r);
    // Compare with the reference decoding (another IDCT, so loosely).
    const std::vector<std::uint8_t> ppm = test::ReadBytes((corpus / "jpeg/testorig.ppm").string());
    const std::size_t header = ppm.size() - 227 * 149 * 3;
    long long diff = 0;
    for (int y = 0; y < 149; ++y)
        for (int x = 0; x < 227; ++x)
            for (int c = 0; c < 3; ++c)
                diff += std::abs(int(r.scanLine(y)[3 * x + c]) - int(ppm[header + (y * 227 + x) * 3 + (2 - c)]));
    EXPECT_LT(double(diff) / (227 * 149 * 3), 1.0);

    TJPEGImage ari;
    ari.loadFromFile((corpus / "jpeg/testimgari.jpg").string());
    EXPECT_EQ(ari.width(), 227);
    EXPECT_EQ(ErrorOf([&] { ari.decodeInto(r); }), "JPEG error #1");
    TJPEGImage twelve;
    EXPECT_EQ(ErrorOf([&] { twelve.loadFromFile((corpus / "jpeg/monkey12.jpg").string()); }), "JPEG error #13");
}

}  // namespace
}  // namespace pictavo

namespace pictavo {
namespace {

TEST(TJPEGImage, DecodingRowByRowGivesTheSamePixels)
{
    struct Case { const char* name; test::JpegOptions options; bool palette; bool truncate; };
    const Case cases[] = {
        {"baseline", {}, false, false},
        {"progressive", {.progressive = true}, false, false},
        {"grayscale", {.gray = true}, false, false},
        {"palette output", {}, true, false},
        {"cut short", {}, false, true},
    };
    for (const Case& c : cases) {
        std::vector<std::uint8_t> bytes = test::MakeJpeg(61, 37, test::Gradient, c.options);
        if (c.truncate) bytes.resize(bytes.size() / 2);
        TJPEGImage whole;
        whole.setDecodesToPalette(c.palette);
        whole.loadFromBytes(bytes);
        Raster24 expected;
        whole.decodeInto(expected);
        expected.make24Bit();

        TJPEGImage rows;
        rows.setDecodesToPalette(c.palette);
        rows.loadFromBytes(bytes);
        int y = 0;
        rows.decodeRows([&](const std::uint8_t* row) {
            ASSERT_LT(y, 37);
            EXPECT_TRUE(std::equal(row, row + 61 * 3, std::as_const(expected).scanLine(y))) << c.name << " row " << y;
            ++y;
        });
        EXPECT_EQ(y, 37) << c.name;
    }
}

}  // namespace
}  // namespace pictavo
