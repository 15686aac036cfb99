// Broken, unsupported and hostile JPEGs: the library's numbered errors and
// its words, damage that still decodes, declared sizes beyond the budget.
#include "tests/codecs/JpegTestSupport.h"

namespace pictavo {
namespace {

// The picture's frame rewritten with `count` components (1, 2, ... as
// identifiers) and its first scan with the first min(count, 3) of them.
std::vector<std::uint8_t> WithComponents(std::vector<std::uint8_t> b, int count)
{
    const auto segment = [&](int marker) { return test::FindSegment(b, marker).at; };
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

// Files whose header loads and whose decode fails, whole or row by row (a
// sequential picture streamed row by row needs no more than a row).
// A reserved marker in place of the end one fails after rows have come, which
// must neither pass unnoticed nor leave the row buffers behind.
TEST(TJPEGImage, LoadedPicturesThatFailToDecode)
{
    const auto endless = [](bool gray) {
        std::vector<std::uint8_t> bytes = MakeJpeg(40, 24, test::Gradient, {.gray = gray});
        bytes.back() = 0x02;
        return bytes;
    };
    const auto huge = [](bool progressive) {
        return test::WithFrameSize(MakeJpeg(16, 16, test::Gradient, {.progressive = progressive}), 65500, 65500);
    };
    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
        int width;
        const char* message;
        bool palette = false;
        bool streams = false;
    };
    const Case cases[] = {
        {"empty", {}, 0, "JPEG error #41"},
        {"arithmetic coding", MakeJpeg(40, 30, test::Gradient, {.arithmetic = true}), 40, "JPEG error #1"},
        {"colour, no end", endless(false), 40, "JPEG error #67"},
        {"colour in a palette, no end", endless(false), 40, "JPEG error #67", true},
        {"grey, no end", endless(true), 40, "JPEG error #67"},
        {"65500 x 65500", huge(false), 65500, "Out of memory", false, true},
        {"65500 x 65500 progressive", huge(true), 65500, "Out of memory"},
    };
    const ScopedMemoryBudget budget(std::uint64_t(1) << 30);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TJPEGImage jpeg = Loaded(c.bytes);
        EXPECT_EQ(jpeg.width(), c.width);
        jpeg.setDecodesToPalette(c.palette);
        Raster24 r;
        EXPECT_EQ(ErrorOf([&] { jpeg.decodeInto(r); }), c.message);
        if (!c.streams) {
            EXPECT_EQ(ErrorOf([&] { jpeg.decodeRows([](const std::uint8_t*) {}); }), c.message);
        }
    }
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

TEST(TJPEGImage, MissingFileIsNamedAsPassed)
{
    TJPEGImage jpeg;
    EXPECT_EQ(ErrorOf([&] { jpeg.loadFromFile("/nonexistent/photo.jpg", "photo.jpg"); }), "Cannot open file photo.jpg");
    EXPECT_EQ(ErrorOf([&] { jpeg.loadFromFile("/tmp"); }), "Cannot open file /tmp");
}

}  // namespace
}  // namespace pictavo
