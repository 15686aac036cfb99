// The PNG, WebP, TIFF and HEIF decoders against independent decodes of a
// corpus the command-line tools make at test time, and against hostile files.
#include "base/Errors.h"
#include "base/MemoryBudget.h"
#include "imaging/ColourProfile.h"
#include "codecs/heif/HeifSource.h"
#include "codecs/png/PngSource.h"
#include "codecs/tiff/TiffSource.h"
#include "codecs/webp/WebpSource.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace pictavo {
namespace {

using Opener = std::unique_ptr<PictureSource> (*)(std::vector<std::uint8_t>);
using Signature = bool (*)(const std::uint8_t*, std::size_t);

constexpr int Width = 41, Height = 29;  // odd, so strides, tiles and chroma planes end mid-way

bool Shell(const std::string& command)
{
    return std::system(("(" + command + ") >/dev/null 2>&1").c_str()) == 0;
}

using namespace test;

struct Decoded {
    PictureHeader header;
    std::vector<std::uint8_t> bgr;
};

Decoded Decode(Opener open, const std::vector<std::uint8_t>& bytes, const RowDelivery& delivery = {})
{
    const std::unique_ptr<PictureSource> source = open(bytes);
    source->setDelivery(delivery);
    Decoded d{source->header(), {}};
    const int bytesPerPixel = delivery.keepAlpha && d.header.alpha ? 4 : 3;
    source->readRows([&](const std::uint8_t* row) { d.bgr.insert(d.bgr.end(), row, row + bytesPerPixel * d.header.width); });
    return d;
}

struct Corpus {
    ScratchDir dir;
    Corpus()
    {
        std::ofstream ppm(dir.file("base.ppm"), std::ios::binary);
        ppm << "P6\n" << Width << ' ' << Height << "\n255\n";
        for (int y = 0; y < Height; ++y)
            for (int x = 0; x < Width; ++x) {
                const Rgb c = Gradient(x, y);
                ppm.put(static_cast<char>(c.r)).put(static_cast<char>(c.g)).put(static_cast<char>(c.b));
            }
        ppm.close();
        const std::vector<std::uint8_t> icc = MakeRgbProfile({0.68, 0.32, 0.265, 0.69, 0.15, 0.06, 0.3127, 0.329}, SrgbTransfer);
        WriteBytes(dir.file("p3.icc"), icc);
        if (HaveProgram("convert")) {
            Shell("cd " + dir.path().string() + " && convert base.ppm base.png && convert base.ppm -depth 16 -evaluate multiply 0.93 deep.png"
                " && convert base.ppm \\( -size " + std::to_string(Width) + "x" + std::to_string(Height) +
                " gradient:white-black \\) -alpha off -compose copy-opacity -composite rgba.png");
        }
    }
};

struct Case {
    const char* file;
    const char* make;       // run in the corpus folder
    // "magick", "heif", or the file the picture was made from where the
    // tools would apply the file's colour facts
    const char* reference;
    Opener open;
    int tolerance;          // largest difference from the reference decode in any sample
    int orientation = 1;
    bool gray = false;
    bool profile = false;
    bool alpha = false;
};

const Case Cases[] = {
    {"rgb.png", "convert base.ppm png24:rgb.png", "magick", OpenPngBytes, 0},
    {"palette.png", "convert base.ppm -colors 16 png8:palette.png", "magick", OpenPngBytes, 0},
    // Palette and low-bit grey rows are expanded by table lookup, not by libpng.
    {"bilevel.png", "convert base.ppm -threshold 40% -type Bilevel bilevel.png", "magick", OpenPngBytes, 0, 1, true},
    {"gray2.png", "convert base.ppm -colorspace gray -define png:bit-depth=2 -define png:color-type=0 gray2.png", "magick", OpenPngBytes, 0, 1, true},
    {"palette4.png", "convert base.ppm -colors 16 -define png:bit-depth=4 png8:palette4.png", "magick", OpenPngBytes, 0},
    {"bilevel-trns.png", "convert base.ppm -threshold 40% -type Bilevel -transparent black -define png:bit-depth=1 -define png:color-type=0 bilevel-trns.png", "magick", OpenPngBytes, 0, 1, true, false, true},
    {"palette2-trns.png", "convert rgba.png -colors 4 -define png:bit-depth=2 png8:palette2-trns.png", "magick", OpenPngBytes, 0, 1, false, false, true},
    {"gray16.png", "convert deep.png -colorspace gray -depth 16 gray16.png", "magick", OpenPngBytes, 1, 1, true},
    {"rgba16-interlaced.png", "convert rgba.png -depth 16 -evaluate multiply 0.93 -interlace PNG png64:rgba16-interlaced.png", "magick", OpenPngBytes, 1, 1, false, false, true},
    {"icc.png", "convert base.ppm -profile p3.icc icc.png", "magick", OpenPngBytes, 0, 1, false, true},
    {"linear.png", "convert base.ppm -set gamma 1.0 linear.png", "base.ppm", OpenPngBytes, 0, 1, false, true},
    {"lossy.webp", "cwebp -quiet -q 90 base.png -o lossy.webp", "magick", OpenWebpBytes, 2},
    {"alpha.webp", "cwebp -quiet -lossless rgba.png -o alpha.webp", "magick", OpenWebpBytes, 1, 1, false, false, true},
    {"icc.webp", "cwebp -quiet -metadata icc -lossless icc.png -o icc.webp", "magick", OpenWebpBytes, 0, 1, false, true},
    {"anim.webp", "convert base.ppm -flop flop.png && img2webp -lossless rgba.png flop.png -o anim.webp", "rgba.png", OpenWebpBytes, 1, 1, false, false, true},
    {"lzw.tif", "convert base.ppm -compress lzw lzw.tif", "magick", OpenTiffBytes, 0},
    {"tiled16.tif", "convert rgba.png -depth 16 -evaluate multiply 0.93 -define tiff:tile-geometry=16x16 tiled16.tif", "magick", OpenTiffBytes, 1, 1, false, false, true},
    {"palette.tif", "convert base.ppm -colors 16 -type Palette palette.tif", "magick", OpenTiffBytes, 1},
    {"bilevel.tif", "convert base.ppm -threshold 40% -type Bilevel -compress Group4 bilevel.tif", "magick", OpenTiffBytes, 0, 1, true},
    {"gray16.tif", "convert deep.png -colorspace gray -depth 16 -orient RightTop gray16.tif", "magick", OpenTiffBytes, 1, 6, true},
    {"cmyk.tif", "convert base.ppm -colorspace CMYK cmyk.tif", "magick", OpenTiffBytes, 2},
    {"jpeg.tif", "convert base.ppm -profile p3.icc -compress jpeg -quality 95 jpeg.tif", "magick", OpenTiffBytes, 2, 1, false, true},
    {"photo.heic", "heif-enc -q 90 base.png -o photo.heic", "heif", OpenHeifBytes, 1},
    {"deep.heic", "heif-enc -q 90 -b 10 deep.png -o deep.heic", "heif", OpenHeifBytes, 1},
    {"alpha.heic", "heif-enc -q 90 rgba.png -o alpha.heic", "heif", OpenHeifBytes, 1, 1, false, false, true},
    {"icc.heic", "heif-enc -q 90 icc.png -o icc.heic", "heif", OpenHeifBytes, 1, 1, false, true},
    {"photo.avif", "heif-enc -A -q 90 base.png -o photo.avif", "heif", OpenHeifBytes, 1},
    {"alpha.avif", "heif-enc -A -q 90 rgba.png -o alpha.avif", "heif", OpenHeifBytes, 1, 1, false, false, true},
};

const Signature Signatures[] = {IsPngSignature, IsWebpSignature, IsTiffSignature, IsHeifSignature};
const Opener Openers[] = {OpenPngBytes, OpenWebpBytes, OpenTiffBytes, OpenHeifBytes};

// The decode another tool makes, over `background` (or with its alpha, as
// blue, green, red, alpha, when "none"), as blue, green, red.
std::vector<std::uint8_t> Reference(const Corpus& corpus, const Case& c, const std::string& background = "white")
{
    const std::string ref = corpus.dir.file("ref.ppm"), cd = "cd " + corpus.dir.path().string() + " && ";
    std::string source = c.reference;
    if (source == "magick") source = std::string(c.file) + "[0]";
    if (source == "heif") {
        if (!Shell(cd + "heif-convert " + c.file + " ref.png")) return {};
        source = "ref.png";
    }
    if (background == "none") {
        if (!Shell(cd + "convert " + source + " -depth 8 rgba:ref.rgba")) return {};
        std::vector<std::uint8_t> bgra = ReadBytes(corpus.dir.file("ref.rgba"));
        for (std::size_t i = 0; i + 2 < bgra.size(); i += 4) std::swap(bgra[i], bgra[i + 2]);
        return bgra.size() == 4 * std::size_t(Width) * Height ? bgra : std::vector<std::uint8_t>{};
    }
    if (!Shell(cd + "convert " + source + " -background " + background + " -alpha remove -alpha off -depth 8 " + ref))
        return {};
    int width = 0, height = 0;
    std::vector<std::uint8_t> bgr = PpmAsBgr(ReadBytes(ref), width, height);
    return width == Width && height == Height ? bgr : std::vector<std::uint8_t>{};
}

TEST(PictureSourcesTest, DecodesLikeIndependentTools)
{
    if (!HaveProgram("convert")) GTEST_SKIP() << "ImageMagick is not installed";
    Corpus corpus;
    int checked = 0;
    std::string missing;
    for (const Case& c : Cases) {
        SCOPED_TRACE(c.file);
        const std::string tool = std::string(c.make).substr(0, std::string(c.make).find(' '));
        if (!HaveProgram(tool) || (std::string(c.reference) == "heif" && !HaveProgram("heif-convert"))) {
            missing += " " + tool;
            continue;
        }
        ASSERT_TRUE(Shell("cd " + corpus.dir.path().string() + " && " + c.make));
        const std::vector<std::uint8_t> bytes = ReadBytes(corpus.dir.file(c.file));
        const std::size_t kind = static_cast<std::size_t>(std::find(Openers, std::end(Openers), c.open) - Openers);
        for (std::size_t s = 0; s < std::size(Signatures); ++s)
            EXPECT_EQ(Signatures[s](bytes.data(), std::min<std::size_t>(bytes.size(), 64)), s == kind) << s;

        const Decoded d = Decode(c.open, bytes);
        EXPECT_EQ(d.header.width, Width);
        EXPECT_EQ(d.header.height, Height);
        EXPECT_EQ(d.header.orientation, c.orientation);
        EXPECT_EQ(d.header.gray, c.gray);
        EXPECT_EQ(!d.header.iccProfile.empty(), c.profile);
        EXPECT_GT(d.header.decodeMemory, bytes.size());
        const std::vector<std::uint8_t> reference = Reference(corpus, c);
        ASSERT_EQ(reference.size(), d.bgr.size());
        int worst = 0;
        for (std::size_t i = 0; i < reference.size(); ++i) worst = std::max(worst, std::abs(reference[i] - d.bgr[i]));
        EXPECT_LE(worst, c.tolerance);
        for (std::size_t i = 0; c.gray && i < d.bgr.size(); i += 3)
            ASSERT_TRUE(d.bgr[i] == d.bgr[i + 1] && d.bgr[i] == d.bgr[i + 2]);

        // Transparency kept, or composited over another colour.
        EXPECT_EQ(d.header.alpha, c.alpha);
        const Decoded kept = Decode(c.open, bytes, {.keepAlpha = true});
        const Decoded black = Decode(c.open, bytes, {.background = {0, 0, 0}});
        if (!c.alpha) {
            EXPECT_EQ(kept.bgr, d.bgr);
            EXPECT_EQ(black.bgr, d.bgr);
        } else {
            const std::vector<std::uint8_t> overBlack = Reference(corpus, c, "black");
            ASSERT_EQ(overBlack.size(), black.bgr.size());
            for (std::size_t i = 0; i < overBlack.size(); ++i) ASSERT_LE(std::abs(overBlack[i] - black.bgr[i]), c.tolerance) << i;
            const std::vector<std::uint8_t> straight = Reference(corpus, c, "none");
            ASSERT_EQ(straight.size(), kept.bgr.size());
            for (std::size_t i = 0; i < straight.size(); i += 4) {
                ASSERT_LE(std::abs(straight[i + 3] - kept.bgr[i + 3]), c.tolerance) << i;
                // Colour under little alpha carries little precision.
                for (std::size_t k = 0; k < 3 && straight[i + 3] >= 128; ++k)
                    ASSERT_LE(std::abs(straight[i + k] - kept.bgr[i + k]), 2 * c.tolerance) << i;
            }
        }

        // Cut before its first row, the file fails with the format's own message.
        const std::string prefix = kind == 0 ? "PNG error: " : kind == 1 ? "WebP error: " : kind == 2 ? "TIFF error: "
                                   : std::string(c.file).ends_with(".avif") ? "AVIF error: " : "HEIF error: ";
        const std::vector<std::uint8_t> cut(bytes.begin(), bytes.begin() + 20);
        EXPECT_EQ(ErrorOf([&] { Decode(c.open, cut); }).rfind(prefix, 0), 0u) << ErrorOf([&] { Decode(c.open, cut); });
        ++checked;
    }
    EXPECT_GE(checked, 11);  // at least the ImageMagick-made PNG and TIFF files
    if (!missing.empty()) GTEST_SKIP() << "cases left out, their tools missing:" << missing;
}

// An 8-bit grey TIFF of a gradient in strips of `rows`, its directory first.
std::vector<std::uint8_t> GreyStripsTiff(std::uint32_t width, std::uint32_t height, std::uint32_t rows)
{
    std::vector<std::vector<std::uint8_t>> strips;
    for (std::uint32_t y = 0; y < height; ++y) {
        if (y % rows == 0) strips.emplace_back();
        for (std::uint32_t x = 0; x < width; ++x) strips.back().push_back(static_cast<std::uint8_t>(1 + (x * 7 + y * 3) % 250));
    }
    return MakeGreyTiff(width, height, rows, 1, strips);
}

// A file cut short is written as far as it could be read, the rest as zero
// samples (black where there is no alpha), with a warning, as a JPEG is.
// HEIF and AVIF decoders make up the rest from the zeros in place of the
// missing data.
TEST(PictureSourcesTest, FilesCutShortAreReadAsFarAsTheyGo)
{
    if (!HaveProgram("convert")) GTEST_SKIP() << "ImageMagick is not installed";
    ScratchDir dir;
    const struct {
        const char* file;
        const char* make;
        Opener open;
        bool blackRest = true;
        bool grid = false;  // the file made is the tile of a grid of 4 x 3, each tile a copy
    } cases[] = {
        {"cut.png", "convert noise.ppm cut.png", OpenPngBytes},
        {"cut-interlaced.png", "convert noise.ppm -interlace PNG cut-interlaced.png", OpenPngBytes},
        {"cut-palette.png", "convert noise.ppm -colors 16 -define png:bit-depth=4 png8:cut-palette.png", OpenPngBytes},
        {"cut.webp", "cwebp -quiet -q 90 noise.ppm -o cut.webp", OpenWebpBytes},
        {"cut-lossless.webp", "cwebp -quiet -lossless noise.ppm -o cut-lossless.webp", OpenWebpBytes},
        // ImageMagick writes the directory last, so the file is made here.
        {"cut.tif", "", OpenTiffBytes},
        {"cut.heic", "heif-enc -q 90 noise.png -o cut.heic", OpenHeifBytes, false},
        {"cut.avif", "heif-enc -A -q 90 noise.png -o cut.avif", OpenHeifBytes, false},
        // The tiles the file lacks are black; a grid fails whole in libheif.
        {"cut-grid.heic", "convert noise.png -crop 64x64+0+0 tile.png && heif-enc -q 90 tile.png -o cut-grid.heic", OpenHeifBytes, true, true},
    };
    ASSERT_TRUE(Shell("cd " + dir.path().string() + " && convert -size 200x160 plasma:red-blue -seed 1 noise.ppm && convert noise.ppm PNG24:noise.png"));
    std::string missing;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        if (const std::string tool = std::string(c.make).substr(0, std::string(c.make).find(' '));
            *c.make && !HaveProgram(tool)) {
            missing += " " + tool;
            continue;
        }
        ASSERT_TRUE(!*c.make || Shell("cd " + dir.path().string() + " && " + c.make));
        std::vector<std::uint8_t> bytes = *c.make ? ReadBytes(dir.file(c.file)) : GreyStripsTiff(200, 160, 16);
        if (c.grid) bytes = MakeHeifGrid(bytes, 4, 3, 64, 200, 160, GridTiles::CopyEach);
        const Decoded whole = Decode(c.open, bytes);
        bytes.resize(bytes.size() / 2);
        std::unique_ptr<PictureSource> source;
        std::vector<std::uint8_t> rows;
        EXPECT_EQ(ErrorOf([&] {
            source = c.open(bytes);
            source->readRows([&](const std::uint8_t* row) { rows.insert(rows.end(), row, row + 3 * 200); });
        }), "");
        ASSERT_EQ(rows.size(), whole.bgr.size());
        EXPECT_GE(source->warnings().count, 1);
        EXPECT_FALSE(source->warnings().text.empty());
        const auto row = [](const std::vector<std::uint8_t>& bgr, int y) { return std::vector<std::uint8_t>(bgr.begin() + 600 * y, bgr.begin() + 600 * (y + 1)); };
        if (std::string(c.file).find("interlaced") == std::string::npos) {
            EXPECT_EQ(row(rows, 0), row(whole.bgr, 0));
        }
        if (c.blackRest) {
            EXPECT_EQ(row(rows, 159), std::vector<std::uint8_t>(600, 0));
        }
    }
    if (!missing.empty()) GTEST_SKIP() << "cases left out, their tools missing:" << missing;
}

// A PNG of zero samples: `raw` bytes of them, filter bytes included, or
// every row's when 0.
std::vector<std::uint8_t> Png(std::uint32_t width, std::uint32_t height, bool interlaced, std::uint8_t depth = 8,
                              std::uint8_t colour = 6, std::size_t raw = 1000)
{
    const int channels = colour == 2 ? 3 : colour == 4 ? 2 : colour == 6 ? 4 : 1;
    if (raw == 0) raw = height * (1 + (std::size_t(width) * channels * depth + 7) / 8);
    return MakePng({width, height, depth, colour, interlaced, std::vector<std::uint8_t>(raw)});
}

// A lossless WebP header alone: 14-bit width and height less one.
std::vector<std::uint8_t> WebpLossless(std::uint32_t width, std::uint32_t height)
{
    std::vector<std::uint8_t> b{'R', 'I', 'F', 'F'};
    PutLittle(b, 4 + 8 + 6, 4);
    b.insert(b.end(), {'W', 'E', 'B', 'P', 'V', 'P', '8', 'L'});
    PutLittle(b, 6, 4);
    b.push_back(0x2F);
    PutLittle(b, (width - 1) | (height - 1) << 14, 4);
    b.push_back(0);
    return b;
}

// An 8-bit grey TIFF in one strip of 16 stored bytes (libtiff splits an
// uncompressed one into small strips itself).
std::vector<std::uint8_t> Tiff(std::uint32_t width, std::uint32_t height, std::uint32_t compression)
{
    return MakeGreyTiff(width, height, height, compression, {std::vector<std::uint8_t>(16)});
}

// A small HEIC whose 'ispe' boxes declare a huge picture, when heif-enc is at hand.
std::vector<std::uint8_t> HugeHeic(const ScratchDir& dir)
{
    if (!HaveProgram("heif-enc") || !HaveProgram("convert") ||
        !Shell("cd " + dir.path().string() + " && convert -size 16x16 xc:red r.png && heif-enc r.png -o r.heic"))
        return {};
    std::vector<std::uint8_t> b = ReadBytes(dir.file("r.heic"));
    for (std::size_t at = 0; at + 16 <= b.size(); ++at)
        if (std::memcmp(&b[at], "ispe", 4) == 0)
            for (std::size_t i = 8; i < 16; i += 4) b[at + i] = 0, b[at + i + 1] = 0x01, b[at + i + 2] = 0, b[at + i + 3] = 0;
    return b;
}

// A row equal to the one before goes on as a count: a plain picture costs
// one row however tall it is (1,000,000 x 8,000 pixels at 1 bit took 20 s).
TEST(PictureSourcesTest, RepeatedPngRowsGoOnAsACount)
{
    const struct {
        std::uint8_t depth, colour;
    } cases[] = {{1, 0}, {4, 0}, {8, 2}, {16, 2}};
    constexpr std::uint32_t W = 20000, H = 300;
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.depth) * 10 + c.colour);
        const std::unique_ptr<PictureSource> source = OpenPngBytes(Png(W, H, false, c.depth, c.colour, 0));
        int plain = 0;
        std::int64_t repeated = 0;
        bool black = true;
        source->readRows({[&](const std::uint8_t* row) {
                              ++plain;
                              black = black && std::all_of(row, row + 3 * W, [](std::uint8_t v) { return v == 0; });
                          },
                          [&](const std::uint8_t*, std::int64_t count) { repeated += count; }});
        EXPECT_EQ(plain, 1);
        EXPECT_EQ(repeated, H - 1);
        EXPECT_TRUE(black);
        EXPECT_EQ(source->warnings().count, 0);
    }
}

TEST(PictureSourcesTest, HostileHeadersFailBeforeTakingMemory)
{
    ScratchDir dir;
    struct Hostile {
        const char* name;
        Opener open;
        std::vector<std::uint8_t> bytes;
        const char* openError;  // "" when the header is acceptable
        const char* rowsError;  // the start of the message reading the rows gives
    };
    const Hostile cases[] = {
        {"interlaced PNG, decoded whole", OpenPngBytes, Png(20000, 20000, true), "Out of memory", ""},
        {"streamed PNG, one row at a time", OpenPngBytes, Png(20000, 20000, false), "", "PNG error: "},
        {"PNG past libpng's limit", OpenPngBytes, Png(2000000, 1, false), "PNG error: Invalid IHDR data: Image width exceeds user limit in IHDR", ""},
        {"WebP 16383 x 16383", OpenWebpBytes, WebpLossless(16383, 16383), "Out of memory", ""},
        {"TIFF in one huge LZW strip", OpenTiffBytes, Tiff(50000, 50000, 5), "Out of memory", ""},
        {"TIFF with its strip cut short", OpenTiffBytes, Tiff(100, 100, 1), "", "TIFF error: "},
        {"TIFF of 50000 x 50000 in small strips", OpenTiffBytes, Tiff(50000, 50000, 1), "", "TIFF error: "},
        {"HEIC with huge ispe", OpenHeifBytes, HugeHeic(dir), "Out of memory", ""},
    };
    std::string missing;
    const ScopedMemoryBudget budget(1 << 20);
    for (const Hostile& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.bytes.empty()) {
            missing = " heif-enc";  // the only case made by a tool
            continue;
        }
        std::unique_ptr<PictureSource> source;
        EXPECT_EQ(ErrorOf([&] { source = c.open(c.bytes); }), c.openError);
        if (!source) continue;
        const std::string error = ErrorOf([&] { source->readRows([](const std::uint8_t*) {}); });
        EXPECT_EQ(error.rfind(c.rowsError, 0), 0u) << error;
        EXPECT_NE(error, "");
    }
    if (!missing.empty()) GTEST_SKIP() << "cases left out, their tools missing:" << missing;
}

}  // namespace
}  // namespace pictavo
