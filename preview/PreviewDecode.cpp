#include "preview/PreviewDecode.h"

#include "base/Limits.h"

#include "codecs/bmp/BmpReader.h"
#include "base/Files.h"
#include "codecs/jpeg/JpegHeader.h"
#include "codecs/jpeg/JpegLibrary.h"
#include "codecs/ByteStream.h"
#include "codecs/PictureFormats.h"
#include "codecs/jpeg/TJPEGImage.h"
#include "imaging/ColourProfile.h"
#include "imaging/Orient.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace pictavo {
namespace {

constexpr int ScaleDenominator = 8;  // libjpeg scales by n/8, n = 1 ... 8 here

// Bitmap header fields, for the size alone.
constexpr std::size_t BitmapInfoSizeOffset = BitmapFileHeaderSize;
constexpr std::size_t BitmapWidthOffset = BitmapFileHeaderSize + 4;

// The fitted scale of a w x h picture in the room, at most 1.
double FitScale(int w, int h, int roomWidth, int roomHeight)
{
    if (w <= 0 || h <= 0) return 1;
    return std::min({1.0, double(std::max(roomWidth, 1)) / w, double(std::max(roomHeight, 1)) / h});
}

// The largest subsampling step that keeps at least the fitted size.
int StepFor(int w, int h, int roomWidth, int roomHeight)
{
    return std::max(1, static_cast<int>(std::floor(1 / FitScale(w, h, roomWidth, roomHeight))));
}

// Zigzag position of each coefficient in natural (row-major) order.
constexpr int ZigzagOf[64] = {
    0,  1,  5,  6,  14, 15, 27, 28, 2,  4,  7,  13, 16, 26, 29, 42, 3,  8,  12, 17, 25, 30,
    41, 43, 9,  11, 18, 24, 31, 40, 44, 53, 10, 19, 23, 32, 39, 45, 52, 54, 20, 22, 33, 38,
    46, 51, 55, 60, 21, 34, 37, 47, 50, 56, 59, 61, 35, 36, 48, 49, 57, 58, 62, 63,
};

using Reader = jpeg::Decompressor;

// Reads the header and chooses the scale; false for colour spaces the
// library cannot turn into blue, green, red rows. The preview holds no
// reservation of a run, so it checks its need against the budget here.
// `header` is the caller's: nothing with a destructor lives here while the
// library can jump out.
bool StartScaled(Reader& r, const std::vector<std::uint8_t>& bytes, int roomWidth, int roomHeight,
                 const PreviewCallbacks& callbacks, JpegHeader& header)
{
    if (setjmp(r.errors.jump)) jpeg::RaiseLibraryError(r.errors);
    jpeg_create_decompress(&r.cinfo);
    jpeg::AttachSource(&r.cinfo, r.source, bytes.data(), bytes.size());
    header = ReadJpegHeader(r, true);
    if (header.arithmetic) throw EJPEG(1);  // as the full reader
    const bool swap = OrientationSwapsSides(header.orientation);
    const int w = swap ? header.height : header.width;
    const int h = swap ? header.width : header.height;
    if (callbacks.sized) callbacks.sized(w, h);
    if (header.fourComponents()) return false;
    const double scale = FitScale(w, h, roomWidth, roomHeight);
    const int eighths = std::clamp(int(std::ceil(scale * ScaleDenominator - 1e-9)), 1, ScaleDenominator);
    CheckMemoryBudget(DecodeMemory(header, {.format = PixelFormat::Bgr24, .wholeRaster = true, .scaleNum = eighths,
                                            .scaleDenom = ScaleDenominator}));
    r.cinfo.scale_num = static_cast<unsigned>(eighths);
    r.cinfo.scale_denom = ScaleDenominator;
    r.cinfo.out_color_space = JCS_EXT_BGR;
    // A progressive file is shown from its first scans that carry what the
    // scale needs; the costly refinements after them are skipped.
    r.cinfo.buffered_image = header.progressive;
    jpeg_calc_output_dimensions(&r.cinfo);
    return true;
}

// Every component has some data for each coefficient a scale of n/8 uses:
// the n x n lowest frequencies.
bool HasCoefficientsFor(const jpeg_decompress_struct& cinfo, unsigned n)
{
    for (int c = 0; c < cinfo.num_components; ++c)
        for (unsigned row = 0; row < n; ++row)
            for (unsigned column = 0; column < n; ++column)
                if (cinfo.coef_bits[c][ZigzagOf[row * 8 + column]] < 0) return false;
    return true;
}

// Decodes into `picture`, sized by the caller; false when cancelled.
bool ReadRows(Reader& r, Raster24& picture, const PreviewCallbacks& callbacks)
{
    if (setjmp(r.errors.jump)) jpeg::RaiseLibraryError(r.errors);
    const auto cancelled = [&] { return callbacks.cancelled && callbacks.cancelled(); };
    jpeg_start_decompress(&r.cinfo);
    if (r.cinfo.buffered_image) {
        for (;;) {
            if (cancelled()) return false;
            const int status = jpeg_consume_input(&r.cinfo);
            if (status == JPEG_REACHED_EOI || status == JPEG_SUSPENDED) break;
            if (status == JPEG_SCAN_COMPLETED && HasCoefficientsFor(r.cinfo, r.cinfo.scale_num)) break;
        }
        jpeg_start_output(&r.cinfo, r.cinfo.input_scan_number);
    }
    while (r.cinfo.output_scanline < r.cinfo.output_height) {
        if (cancelled()) return false;
        JSAMPROW row = picture.scanLine(static_cast<int>(r.cinfo.output_scanline));
        if (jpeg_read_scanlines(&r.cinfo, &row, 1) == 0) break;
    }
    if (r.cinfo.buffered_image) {
        jpeg_finish_output(&r.cinfo);
        jpeg_abort_decompress(&r.cinfo);  // the rest of the file is not needed
    } else {
        jpeg_finish_decompress(&r.cinfo);
    }
    return true;
}

// The upright size from a bitmap's header, if it has a plausible one.
void ReportBitmapSize(const std::string& path, const PreviewCallbacks& callbacks)
{
    if (!callbacks.sized) return;
    std::uint8_t header[26] = {};
    // Opened as every picture is: a FIFO named .bmp must not hold the preview.
    const FileDescriptor fd = OpenRegularFile(path, path);
    if (ReadUpTo(fd.get(), header, sizeof header) != sizeof header || KindOfContent(header, sizeof header) != &BitmapKind())
        return;
    const auto u16 = [&](std::size_t at) { return LittleEndian16(header + at); };
    const auto i32 = [&](std::size_t at) { return static_cast<std::int32_t>(LittleEndian32(header + at)); };
    const bool core = u16(BitmapInfoSizeOffset) == BitmapCoreHeaderSize;
    const std::int64_t w = core ? u16(BitmapWidthOffset) : i32(BitmapWidthOffset);
    const std::int64_t h = core ? u16(BitmapWidthOffset + 2) : std::abs(std::int64_t(i32(BitmapWidthOffset + 4)));
    if (w > 0 && h > 0 && w <= MaxPictureSide && h <= MaxPictureSide) callbacks.sized(int(w), int(h));
}

Raster24 SubsampledToRoom(Raster24& picture, int roomWidth, int roomHeight)
{
    return Subsample(picture, StepFor(picture.width(), picture.height(), roomWidth, roomHeight));
}

}  // namespace

Raster24 Subsample(Raster24& source, int step)
{
    source.make24Bit();
    if (step <= 1) return source;
    const int w = (source.width() + step - 1) / step, h = (source.height() + step - 1) / step;
    Raster24 out;
    out.reset(w, h, PixelFormat::Bgr24, std::nullopt);
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* from = static_cast<const Raster24&>(source).scanLine(y * step);
        std::uint8_t* to = out.scanLine(y);
        for (int x = 0; x < w; ++x) std::memcpy(to + 3 * x, from + 3 * std::size_t(x) * step, 3);
        std::memset(to + 3 * w, 0, static_cast<std::size_t>(out.stride()) - 3 * std::size_t(w));
    }
    return out;
}

Raster24 DecodePreview(const std::string& path, int roomWidth, int roomHeight, const PreviewCallbacks& callbacks)
{
    const PictureKind* kind = KindOfName(path);
    Raster24 picture;
    if (kind == &JpegKind()) {
        const std::vector<std::uint8_t> bytes = ReadWholeFile(path, path);
        Reader r;
        JpegHeader header;
        if (StartScaled(r, bytes, roomWidth, roomHeight, callbacks, header)) {
            picture.reset(static_cast<int>(r.cinfo.output_width), static_cast<int>(r.cinfo.output_height),
                          PixelFormat::Bgr24, std::uint8_t(0));
            if (!ReadRows(r, picture, callbacks)) return {};
            // Shown as the resize run writes it: in sRGB. Grey pictures stay as they are.
            ConvertToSrgb(picture, ProfileForRows(header.iccProfile, header.colour == JpegColour::Grey));
            return Orient(picture, header.orientation);
        }
        // Colour spaces only the full reader knows.
        TJPEGImage jpeg;
        jpeg.loadFromBytes(bytes);
        jpeg.decodeInto(picture);
        Raster24 upright = Orient(picture, jpeg.orientation());
        ConvertToSrgb(upright, ProfileForRows(jpeg.iccProfile(), jpeg.gray()));
        return SubsampledToRoom(upright, roomWidth, roomHeight);
    }
    if (kind != &BitmapKind()) return {};  // the window previews its own formats only
    ReportBitmapSize(path, callbacks);
    LoadBitmapFile(picture, path);
    if (callbacks.cancelled && callbacks.cancelled()) return {};
    return SubsampledToRoom(picture, roomWidth, roomHeight);
}

}  // namespace pictavo
