#include "base/MemoryBudget.h"
#include "codecs/jpeg/JpegSource.h"
#include "codecs/jpeg/TJPEGImage.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <jpeglib.h>

namespace pictavo {
namespace {

// A four-component JPEG, stored as CMYK or as YCCK, with the Adobe marker
// the library writes for both.
std::vector<std::uint8_t> InkJpeg(int width, int height, bool ycck)
{
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr errors{};
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &out, &size);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = 4;
    cinfo.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&cinfo);
    jpeg_set_colorspace(&cinfo, ycck ? JCS_YCCK : JCS_CMYK);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<std::uint8_t> row(4 * static_cast<std::size_t>(width));
    while (cinfo.next_scanline < cinfo.image_height) {
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 4; ++c) row[4 * x + c] = static_cast<std::uint8_t>(x * (c + 1) + cinfo.next_scanline);
        JSAMPROW rows[] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::vector<std::uint8_t> bytes(out, out + size);
    std::free(out);
    return bytes;
}

// The header's facts, and the memory it declares for the decode: the run
// reserves that much before reading the rows, and the decode must fit in
// it, whether held to the reservation (in a run) or checking its own need
// (on its own). Grey and four-component pictures once declared less than
// their decode checked for, and failed in a run that had reserved it.
TEST(JpegHeader, FactsAndTheMemoryTheDecodeFitsIn)
{
    constexpr int W = 300, H = 40;
    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
        JpegColour colour;
        int components;
        bool multiScan;
    };
    const Case cases[] = {
        {"colour baseline", test::MakeJpeg(W, H, test::Gradient), JpegColour::Colour, 3, false},
        {"progressive", test::MakeJpeg(W, H, test::Gradient, {.progressive = true}), JpegColour::Colour, 3, true},
        {"grey", test::MakeJpeg(W, H, test::Gradient, {.gray = true}), JpegColour::Grey, 1, false},
        {"progressive grey", test::MakeJpeg(W, H, test::Gradient, {.progressive = true, .gray = true}), JpegColour::Grey, 1, true},
        {"CMYK", InkJpeg(W, H, false), JpegColour::Cmyk, 4, false},
        {"YCCK", InkJpeg(W, H, true), JpegColour::Ycck, 4, false},
    };
    test::ScratchDir dir;
    const std::string path = dir.file("p.jpg");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::WriteBytes(path, c.bytes);
        TJPEGImage alone;
        alone.streamFromFile(path);
        const JpegHeader& facts = alone.header();
        EXPECT_EQ(facts.width, W);
        EXPECT_EQ(facts.height, H);
        EXPECT_EQ(facts.colour, c.colour);
        EXPECT_EQ(facts.components, c.components);
        EXPECT_EQ(facts.multiScan, c.multiScan);
        EXPECT_EQ(facts.coefficientMemory > 0, c.multiScan);

        const std::unique_ptr<PictureSource> source = OpenJpegSource(path, "p.jpg");
        const std::uint64_t declared = source->header().decodeMemory;
        EXPECT_EQ(declared, alone.decodeMemory());
        int rows = 0, aloneRows = 0;
        {
            // As a run holds it: the header's figure and the one delivered row.
            const ScopedMemoryBudget budget(declared + 3 * std::uint64_t(W));
            EXPECT_EQ(test::ErrorOf([&] { source->readRows([&](const std::uint8_t*) { ++rows; }); }), "");
        }
        {
            const ScopedMemoryBudget budget(declared);
            EXPECT_EQ(test::ErrorOf([&] { alone.decodeRows([&](const std::uint8_t*) { ++aloneRows; }); }), "");
        }
        EXPECT_EQ(rows, H);
        EXPECT_EQ(aloneRows, H);
    }
}

}  // namespace
}  // namespace pictavo
