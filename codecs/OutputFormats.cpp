#include "codecs/OutputFormats.h"

#include "base/Errors.h"
#include "codecs/Encoders.h"

#include <algorithm>
#include <cstdio>

namespace pictavo {
namespace {

constexpr std::uint64_t MiB = 1u << 20;

std::uint64_t Pixels(int width, int height)
{
    return static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
}

// Peaks measured while coding photographs of 0.3 to 15 megapixels (beyond a
// JPEG run's: AVIF 6 to 9 bytes a pixel, JPEG XL 20 to 36), with room to
// spare; far more would refuse an 800 x 600 output under a 64 MiB budget.
std::uint64_t JpegMemory(int width, int height)
{
    // The output stays below the raw picture's size; the library's own
    // buffers are a few rows.
    return static_cast<std::uint64_t>(RowBytes(width, 24)) * static_cast<std::uint64_t>(height);
}
std::uint64_t WebpMemory(int width, int height) { return 12 * Pixels(width, height) + 4 * MiB; }
std::uint64_t AvifMemory(int width, int height) { return 12 * Pixels(width, height) + 8 * MiB; }
std::uint64_t JxlMemory(int width, int height) { return 40 * Pixels(width, height) + 8 * MiB; }
std::uint64_t PngMemory(int width, int height) { return 9 * Pixels(width, height) + 2 * MiB; }

std::string Fixed(double value, int decimals)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string JpegSetting(int quality) { return "quality " + std::to_string(quality); }
std::string WebpSetting(int quality) { return "quality " + Fixed(WebpQuality(quality), 0); }
std::string AvifSetting(int quality) { return "quantizer " + std::to_string(AvifQuantizer(quality)); }
std::string JxlSetting(int quality) { return "distance " + Fixed(JxlDistance(quality), 2); }
std::string PngSetting(int) { return "lossless"; }

std::string Lower(std::string_view text)
{
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
    return lower;
}

}  // namespace

EncoderPicture PictureOf(const Raster24& raster)
{
    EncoderPicture picture;
    if (raster.width() <= 0 || raster.height() <= 0) return picture;
    picture.width = raster.width();
    picture.height = raster.height();
    picture.stride = raster.rowStep();
    picture.pixels = raster.scanLine(0);
    return picture;
}

void RowToRgb(const EncoderPicture& picture, int y, std::uint8_t* out, bool withAlpha)
{
    const std::uint8_t* row = picture.pixels + picture.stride * y;
    const std::uint8_t* alpha = picture.alpha ? picture.alpha + picture.alphaStride * y : nullptr;
    const int step = picture.bgra ? 4 : 3;
    for (int x = 0; x < picture.width; ++x, row += step) {
        *out++ = row[2];
        *out++ = row[1];
        *out++ = row[0];
        if (withAlpha) *out++ = picture.bgra ? row[3] : alpha ? alpha[x] : 255;
    }
}

double SettingFor(std::initializer_list<QualityPoint> curve, int quality)
{
    const QualityPoint* below = curve.begin();
    for (const QualityPoint* p = curve.begin(); p != curve.end(); ++p) {
        if (p->quality == quality) return p->setting;
        if (p->quality > quality) {
            if (p == curve.begin()) return p->setting;
            const double t = double(quality - below->quality) / double(p->quality - below->quality);
            return below->setting + t * (p->setting - below->setting);
        }
        below = p;
    }
    return below->setting;
}

const std::vector<OutputFormat>& OutputFormats()
{
    static const std::vector<OutputFormat> formats = {
        {"jpg", "jpg", "JPEG", false, true, true, EncodeJpeg, JpegMemory, JpegSetting},
        {"webp", "webp", "WebP", true, true, true, EncodeWebp, WebpMemory, WebpSetting},
        {"avif", "avif", "AVIF", true, true, true, EncodeAvif, AvifMemory, AvifSetting},
        {"jxl", "jxl", "JPEG XL", true, true, true, EncodeJxl, JxlMemory, JxlSetting},
        {"png", "png", "PNG", true, true, false, EncodePng, PngMemory, PngSetting},
    };
    return formats;
}

const OutputFormat& DefaultOutputFormat() { return OutputFormats().front(); }

const OutputFormat* OutputFormatNamed(std::string_view name)
{
    const std::string lower = Lower(name);
    for (const OutputFormat& format : OutputFormats())
        if (lower == format.name) return &format;
    return nullptr;
}

std::string OutputFormatNames(std::string_view separator)
{
    std::string names;
    for (const OutputFormat& format : OutputFormats()) {
        if (!names.empty()) names += separator;
        names += format.name;
    }
    return names;
}

void RaiseEncodeError(const char* title, const std::string& reason)
{
    Exception error(std::string("Cannot write ") + title);
    error.setDetail(reason);
    throw error;
}

}  // namespace pictavo
