// Helpers shared by the tests: scratch folders and the outside test corpus.
#pragma once

#include "imaging/Raster24.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace pictavo::test {

// A fresh folder removed again when the object goes.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// ../shared/corpus beside the checkout, or an empty path when it is absent.
std::filesystem::path CorpusDir();

std::vector<std::uint8_t> ReadBytes(const std::string& path);

// A shell command's exit status (-1 when it did not exit) and what it
// printed on standard output and standard error.
struct CommandResult {
    int status;
    std::string out;
};
CommandResult RunCommand(const std::string& command);
bool HaveProgram(const std::string& name);

// The message of what `action` throws, or "" when it throws nothing.
std::string ErrorOf(const std::function<void()>& action);
void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);

struct Rgb {
    std::uint8_t r = 0, g = 0, b = 0;
};
using PixelFunction = std::function<Rgb(int x, int y)>;

// A smooth, asymmetric test picture.
Rgb Gradient(int x, int y);

struct JpegOptions {
    int quality = 95;
    bool progressive = false;
    bool arithmetic = false;
    bool gray = false;
    bool lumaScanFirst = false;  // sequential, but luminance alone in the first scan
    enum { Rgb, Cmyk, Ycck } ink = Rgb;  // four inks: red, green, blue and their mean as C, M, Y, K
    std::vector<std::uint8_t> app1;  // an APP1 payload to write, if any
    std::vector<std::uint8_t> icc;   // an ICC profile to embed, if any
};

// A JPEG made by the library directly, from RGB pixels.
std::vector<std::uint8_t> MakeJpeg(int width, int height, const PixelFunction& pixel, const JpegOptions& options = {});

// An EXIF APP1 payload holding only an orientation tag.
std::vector<std::uint8_t> ExifWithOrientation(int orientation, bool bigEndian = false);

// Bytes of `value`, most significant first (PutBig) or last (PutLittle).
void PutBig(std::vector<std::uint8_t>& b, std::uint64_t value, int bytes);
void PutLittle(std::vector<std::uint8_t>& b, std::uint64_t value, int bytes);
std::vector<std::uint8_t> operator+(std::vector<std::uint8_t> a, const std::vector<std::uint8_t>& b);

// A JPEG's segments from the start up to and including the first scan
// header: where each marker stands, and the length its segment declares.
struct JpegSegment {
    std::size_t at;
    int marker;
    std::size_t length;
};
std::vector<JpegSegment> JpegSegments(const std::vector<std::uint8_t>& jpeg);
// The first segment with `marker`; `at` is npos when there is none.
JpegSegment FindSegment(const std::vector<std::uint8_t>& jpeg, int marker);
// Where a JPEG's frame header (its SOFn marker) starts; npos when there is none.
std::size_t FrameOffset(const std::vector<std::uint8_t>& jpeg);
// The frame type of a JPEG: 0xC0 baseline, 0xC2 progressive, ...; 0 if none.
int FrameMarker(const std::vector<std::uint8_t>& jpeg);
// The JPEG with its frame header claiming `width` x `height`, its data unchanged.
std::vector<std::uint8_t> WithFrameSize(std::vector<std::uint8_t> jpeg, int width, int height);

// A bitmap file assembled field by field, for the reader's tests.
struct BmpFields {
    std::uint32_t headerSize = 40;
    std::int32_t width = 0, height = 0;
    std::uint16_t planes = 1, bits = 24;
    std::uint32_t compression = 0;
    std::uint32_t imageSize = 0;
    std::uint32_t colorsUsed = 0;
    std::vector<std::uint32_t> masks;      // after a 40-byte header, or inside larger ones
    std::vector<std::uint32_t> palette;    // 0x00RRGGBB entries
    std::vector<std::uint8_t> pixels;      // as stored
    std::uint32_t gapAfterTable = 0;       // bytes between the table and the pixels
    // A version 5 header's colour space ('MBED' embeds a profile), and where
    // its profile starts (from the header) and how long it is.
    std::uint32_t colourSpace = 0, profileAt = 0, profileLength = 0;
};
std::vector<std::uint8_t> MakeBmp(const BmpFields& fields);

// An ISO box (HEIF, AVIF), with version and flags when `version` is not negative.
std::vector<std::uint8_t> IsoBox(const char* type, const std::vector<std::uint8_t>& payload, int version = -1);

// A PNG chunk, and a PNG of its header, `extra` chunks and one data chunk
// compressing `raw` (filter bytes included).
std::vector<std::uint8_t> PngChunk(const char* type, const std::vector<std::uint8_t>& data);
struct PngFields {
    std::uint32_t width = 1, height = 1;
    std::uint8_t depth = 8, colour = 0;
    bool interlaced = false;
    std::vector<std::uint8_t> raw;
    std::vector<std::uint8_t> extra;
};
std::vector<std::uint8_t> MakePng(const PngFields& fields);

// A little-endian 8-bit grey TIFF of `strips` of `rowsPerStrip` rows, its
// directory first, with a profile of `profile` zero bytes when not 0.
std::vector<std::uint8_t> MakeGreyTiff(std::uint32_t width, std::uint32_t height, std::uint32_t rowsPerStrip,
                                       std::uint32_t compression, const std::vector<std::vector<std::uint8_t>>& strips,
                                       std::uint32_t profile = 0);

// A binary PPM's pixels as blue, green, red; empty when it is not one of
// 8-bit samples.
std::vector<std::uint8_t> PpmAsBgr(const std::vector<std::uint8_t>& ppm, int& width, int& height);
// The largest difference of any sample of two pictures of one size.
int MaxDifference(const Raster24& a, const Raster24& b);

// A HEIF grid of `columns` x `rows` cells showing `width` x `height`, each a
// tile that declares `tileSide` pixels a side, coded as the one picture of
// `heic` (as heif-enc writes it): every cell one item, each cell its own item
// over the same coded data, or each its own item and copy of the data.
enum class GridTiles { OneItem, ItemEach, CopyEach };
std::vector<std::uint8_t> MakeHeifGrid(const std::vector<std::uint8_t>& heic, int columns, int rows, std::uint32_t tileSide,
                                       std::uint32_t width, std::uint32_t height, GridTiles tiles);

// The reduction written plainly from its rules, pixel by pixel, to check the
// streaming one against: boxes from the single-precision scale, fixed-point
// averages for boxes of up to 2,047 pixels and exact ones above, then the
// sharpening filter on results of 3 rows or more. A picture no larger than
// the target is copied. Raises what a run raises for a target side of 0 or
// an empty box. Needs 80-bit long double (HaveExtendedPrecision).
Raster24 SlowReduced(const Raster24& source, int width, int height, bool sharpen);
bool HaveExtendedPrecision();

}  // namespace pictavo::test
