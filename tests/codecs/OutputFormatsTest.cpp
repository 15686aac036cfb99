// Every output format written and read back: by the program's own decoders
// (djxl first for JPEG XL, which it does not read), and its metadata by exiftool.
// An encoder's failure is tested through the tool (PictavoTool.OutputFormatsAndEncoderFailures).
#include "codecs/OutputFormats.h"
#include "codecs/PictureFormats.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace pictavo {
namespace {

constexpr int Width = 97, Height = 61;  // odd: chroma planes and blocks end mid-way

// What `command` prints on standard output.
std::string Output(const std::string& command)
{
    return test::RunCommand("(" + command + " 2>/dev/null)").out;
}

// A TIFF block holding only an Artist tag.
std::string ExifWithArtist(const std::string& artist)
{
    std::string tiff("II*\0\x08\0\0\0\x01\0\x3b\x01\x02\0", 14);
    const std::uint32_t count = static_cast<std::uint32_t>(artist.size() + 1), offset = 26;
    tiff.append(reinterpret_cast<const char*>(&count), 4).append(reinterpret_cast<const char*>(&offset), 4);
    tiff.append(4, '\0');  // no next directory
    return tiff + artist + '\0';
}

// The picture as blue, green, red, alpha: the gradient, its right third
// fully transparent.
std::vector<std::uint8_t> Bgra()
{
    std::vector<std::uint8_t> pixels;
    for (int y = 0; y < Height; ++y)
        for (int x = 0; x < Width; ++x) {
            const test::Rgb c = test::Gradient(x, y);
            pixels.insert(pixels.end(), {c.b, c.g, c.r, static_cast<std::uint8_t>(x < Width * 2 / 3 ? 255 : 0)});
        }
    return pixels;
}

// The file decoded as the run reads pictures: rows of blue, green, red,
// transparency composited over white.
std::vector<std::uint8_t> DecodeFile(const std::string& path)
{
    std::string readable = path;
    if (LowerExtension(path) == "jxl") {
        readable = path + ".png";
        Output("djxl '" + path + "' '" + readable + "'");
    }
    const auto source = OpenPictureByContent(readable, readable);
    EXPECT_EQ(source->header().width, Width);
    EXPECT_EQ(source->header().height, Height);
    std::vector<std::uint8_t> bgr;
    source->readRows([&](const std::uint8_t* row) { bgr.insert(bgr.end(), row, row + 3 * Width); });
    return bgr;
}

TEST(OutputFormats, EachFormatReadsBackWithItsMetadata)
{
    ASSERT_EQ(OutputFormatNames("|"), "jpg|webp|avif|jxl|png");
    const std::vector<std::uint8_t> bgra = Bgra();
    std::vector<std::uint8_t> bgr, alpha;
    for (std::size_t i = 0; i < bgra.size(); i += 4) {
        bgr.insert(bgr.end(), &bgra[i], &bgra[i] + 3);
        alpha.push_back(bgra[i + 3]);
    }
    const OutputMetadata metadata{ExifWithArtist("Ada Lovelace"),
                                  "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF "
                                  "xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'><rdf:Description "
                                  "xmlns:dc='http://purl.org/dc/elements/1.1/'><dc:rights>Shop "
                                  "Ltd</dc:rights></rdf:Description></rdf:RDF></x:xmpmeta>"};
    const bool exiftool = test::HaveProgram("exiftool");
    test::ScratchDir dir;
    for (const OutputFormat& format : OutputFormats()) {
        // The same picture opaque, with a separate alpha plane, and interleaved.
        for (int layout = 0; layout < 3; ++layout) {
            SCOPED_TRACE(std::string(format.name) + " layout " + std::to_string(layout));
            EncoderPicture picture{.width = Width, .height = Height, .stride = 3 * Width, .pixels = bgr.data()};
            if (layout == 1) picture.alpha = alpha.data(), picture.alphaStride = Width;
            if (layout == 2) picture = {.width = Width, .height = Height, .stride = 4 * Width, .pixels = bgra.data(), .bgra = true};
            const std::string path = dir.file("out" + std::to_string(layout) + "." + format.extension);
            test::WriteBytes(path, format.encode(picture, {.quality = 90, .metadata = &metadata}));
            const std::vector<std::uint8_t> decoded = DecodeFile(path);
            ASSERT_EQ(decoded.size(), bgr.size());
            double error = 0;
            for (std::size_t i = 0; i < bgr.size(); ++i) {
                const bool clear = layout > 0 && format.alpha && alpha[i / 3] == 0;
                error += std::abs(int(decoded[i]) - int(clear ? 255 : bgr[i]));
            }
            error /= double(bgr.size());
            if (format.lossy) EXPECT_LT(error, 8);  // lost alpha or swapped channels are far worse
            else EXPECT_EQ(error, 0);  // exactly the picture
            if (!exiftool || layout > 0) continue;
            const std::string tags = Output("exiftool -s3 -Artist -XMP-dc:Rights '" + path + "'");
            EXPECT_EQ(tags, "Ada Lovelace\nShop Ltd\n");
        }
    }
}

}  // namespace
}  // namespace pictavo
