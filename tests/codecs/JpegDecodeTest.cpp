// Decoding JPEGs: sizes, colours, grey levels as the library quantizes them,
// rows streamed, stop requests, the shared corpus.
#include "tests/codecs/JpegTestSupport.h"
#include "base/Stop.h"

#include <cstdio>
#include <jpeglib.h>

namespace pictavo {
namespace {

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

// Decoded row by row as whole; a palette holds at most 236 colours.
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
        EXPECT_EQ(expected.format() == PixelFormat::Indexed8, c.palette || c.options.gray) << c.name;
        EXPECT_LE(expected.palette().size(), 236u) << c.name;
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
    int w = 0, h = 0;
    const std::vector<std::uint8_t> ppm = test::PpmAsBgr(test::ReadBytes((corpus / "jpeg/testorig.ppm").string()), w, h);
    ASSERT_EQ(ppm.size(), 227u * 149 * 3);
    long long diff = 0;
    for (int y = 0; y < 149; ++y)
        for (int x = 0; x < 3 * 227; ++x) diff += std::abs(int(r.scanLine(y)[x]) - int(ppm[3 * 227 * y + x]));
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
