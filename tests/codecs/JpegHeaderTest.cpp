#include "base/MemoryBudget.h"
#include "codecs/jpeg/JpegSource.h"
#include "codecs/jpeg/TJPEGImage.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

namespace pictavo {
namespace {

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
        {"CMYK", test::MakeJpeg(W, H, test::Gradient, {.ink = test::JpegOptions::Cmyk}), JpegColour::Cmyk, 4, false},
        {"YCCK", test::MakeJpeg(W, H, test::Gradient, {.ink = test::JpegOptions::Ycck}), JpegColour::Ycck, 4, false},
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
