// What the folder scan and the resize run read and write: the list and the
// choices the main window's controls hold. The window binds its controls to
// it and keeps what only it shows (the buttons' state, the progress) itself;
// the command-line tool and the tests drive it directly.
#pragma once

#include "codecs/Metadata.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pictavo {

struct OutputFormat;

// The window offers the first two; the command line also reads every format
// the registry knows, chosen by each file's content.
enum class InputFormat { Jpeg = 0, Bitmap = 1, Auto = 2 };

// Target sizes as the single-precision values the run computes with: the
// width for pictures wider than tall, the height for the others.
struct TargetSize {
    float width;
    float height;
};

inline constexpr std::array<TargetSize, 6> SizePresets = {{
    {1000, 750}, {800, 600}, {640, 480}, {480, 360}, {320, 240}, {160, 120},
}};
// The first caption says 999 while its target is 1000.
inline constexpr std::array<const char*, 6> SizeCaptions = {
    "999 x 750", "800 x 600", "640 x 480", "480 x 360", "320 x 240", "160 x 120",
};
inline constexpr std::array<int, 5> QualityPresets = {90, 75, 60, 50, 30};
// The series the outputs are numbered after unless named otherwise.
inline constexpr const char* DefaultSeries = "RurOdi";
// As large as any camera makes.
inline constexpr std::uint64_t DefaultMaxPixels = 1000000000;

struct BatchModel {
    std::vector<std::string> names;  // the list: bare file names
    InputFormat format = InputFormat::Jpeg;
    int sizeIndex = 1;     // "800 x 600"
    int qualityIndex = 1;  // "75%"
    bool sharpen = false;
    std::string series = DefaultSeries;
    std::string imageFolder;  // the chosen folder, ending in '/'

    // For the command-line tool: a target or quality outside the presets.
    std::optional<TargetSize> customSize;
    std::optional<int> customQuality;
    // What the outputs are written as; the default JPEG when none.
    const OutputFormat* outputFormat = nullptr;
    // When set, each output is at most this many bytes, at the highest
    // quality up to quality() that fits.
    std::uint64_t targetBytes = 0;

    const OutputFormat& output() const;
    MetadataPolicy metadata = MetadataPolicy::None;
    // Larger pictures whose decoding is not bounded by their data are refused.
    std::uint64_t maxPixels = DefaultMaxPixels;
    // Further targets written from the same decode of each picture.
    std::vector<TargetSize> moreSizes;
    // What transparency is composited over where it is not kept: blue,
    // green, red.
    std::array<std::uint8_t, 3> background{255, 255, 255};
    // For the command-line tool: JPEGs decoded at a half, quarter or eighth
    // of their size where that still leaves two pixels to an output pixel,
    // for thumbnails; close to the exact output, but not the same.
    bool fast = false;

    TargetSize target() const;
    // target(), then moreSizes.
    std::vector<TargetSize> targets() const;
    int quality() const;
};

// Removes characters of code 0 to 32 at both ends.
std::string Trim(const std::string& text);

// The number of 0-based `index` in a series: at least two digits, "01".
std::string SeriesNumber(int index);

// series + a number of at least two digits + ".jpg", for 0-based `index`.
std::string OutputName(const std::string& series, int index);

}  // namespace pictavo
