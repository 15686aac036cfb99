// Rows as the libraries deliver them into the rows the pipeline reads:
// deeper samples reduced to 8 bits by rounding, grey widened, and
// transparency either kept or composited over a background (white, as other
// tools do when writing JPEG).
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

namespace pictavo {

struct SampleLayout {
    int channels = 3;             // 1 grey, 2 grey + alpha, 3 RGB, 4 RGBA
    int samplesPerPixel = 0;      // samples stored a pixel when more than `channels`; the rest are skipped
    int bytesPerSample = 1;       // 1, or 2 for samples deeper than 8 bits
    unsigned maxValue = 255;      // full scale: 255, 1023, 4095, 65535; larger values are clipped
    bool bigEndian = false;       // byte order of 2-byte samples
    bool bgr = false;             // colour channels stored blue first
    bool premultiplied = false;   // colour already multiplied by alpha
    bool keepAlpha = false;       // with alpha: 4 bytes out a pixel, blue, green, red, alpha (straight)
    std::array<std::uint8_t, 3> background{255, 255, 255};  // blue, green, red under transparency otherwise
};

// One sample of full scale `maxValue` as a byte: round(value * 255 / maxValue).
inline std::uint8_t ScaleToByte(unsigned value, unsigned maxValue)
{
    if (value >= maxValue) return 255;
    return static_cast<std::uint8_t>((std::uint64_t(value) * 255 + maxValue / 2) / maxValue);
}

// `width` pixels of `samples` as blue, green, red bytes into `bgr`, with
// alpha after them when layout.keepAlpha and the samples have it.
void SamplesToBgr(const std::uint8_t* samples, int width, const SampleLayout& layout, std::uint8_t* bgr);

// The bytes one row of `width` pixels takes in `layout`.
inline std::uint64_t SampleRowBytes(std::uint64_t width, const SampleLayout& layout)
{
    return width * static_cast<std::uint64_t>(std::max(layout.channels, layout.samplesPerPixel) * layout.bytesPerSample);
}

}  // namespace pictavo
