// The formats the run writes: one table, read by the option parser, the
// help, the completions, the manual page and the name checks, so nothing
// else lists them.
#pragma once

#include "codecs/OutputMetadata.h"
#include "imaging/Raster24.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pictavo {

// The reduced picture as an encoder reads it: `height` rows from the top,
// each `stride` bytes after the one before, of blue, green, red bytes. With
// `bgra`, every pixel has a fourth byte, its alpha; otherwise `alpha`, when
// set, is a plane of one byte a pixel, rows `alphaStride` apart. Alpha is
// straight: colour is not multiplied by it. JPEG has no alpha and ignores it
// (the caller composites first).
struct EncoderPicture {
    int width = 0;
    int height = 0;
    std::ptrdiff_t stride = 0;
    const std::uint8_t* pixels = nullptr;
    bool bgra = false;
    const std::uint8_t* alpha = nullptr;
    std::ptrdiff_t alphaStride = 0;

    bool hasAlpha() const { return bgra || alpha != nullptr; }
};

// A 24-bit raster as an opaque picture.
EncoderPicture PictureOf(const Raster24& raster);

// Row `y` as red, green, blue (and alpha when `withAlpha`, 255 where the
// picture has none) into `out`.
void RowToRgb(const EncoderPicture& picture, int y, std::uint8_t* out, bool withAlpha);

struct EncodeSettings {
    int quality = 75;          // 1 to 100, on JPEG's scale in every format
    bool progressive = false;  // JPEG only
    const OutputMetadata* metadata = nullptr;
};

struct OutputFormat {
    const char* name;       // as --output-format takes it
    const char* extension;  // of the output files, without the dot
    const char* title;      // "JPEG", "WebP", ... for messages
    bool alpha;             // keeps transparency
    bool metadata;          // can carry EXIF and XMP
    bool lossy;             // --quality applies
    // The file's bytes. Failures raise an Exception whose detail is the
    // library's reason.
    std::vector<std::uint8_t> (*encode)(const EncoderPicture& picture, const EncodeSettings& settings);
    // The most the encoder holds while coding a width x height picture
    // (its own buffers and the output), reserved before it starts.
    std::uint64_t (*memory)(int width, int height);
    // The encoder's own setting for quality Q, as the help shows it.
    std::string (*setting)(int quality);
};

// jpg first: the default.
const std::vector<OutputFormat>& OutputFormats();
const OutputFormat& DefaultOutputFormat();
// The format of that name (letter case ignored), or none.
const OutputFormat* OutputFormatNamed(std::string_view name);
// The names joined by `separator`: "jpg|webp|avif|jxl|png".
std::string OutputFormatNames(std::string_view separator);

// Raised when an encoder fails: "Cannot write <title>", the library's reason
// as the detail.
[[noreturn]] void RaiseEncodeError(const char* title, const std::string& reason);

}  // namespace pictavo
