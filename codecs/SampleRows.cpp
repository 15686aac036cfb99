#include "codecs/SampleRows.h"

#include <algorithm>

namespace pictavo {
namespace {

unsigned Sample(const std::uint8_t* p, const SampleLayout& layout)
{
    if (layout.bytesPerSample == 1) return *p;
    return layout.bigEndian ? unsigned(p[0]) << 8 | p[1] : unsigned(p[1]) << 8 | p[0];
}

// round(((colour * alpha) + max * (max - alpha)) * 255 / max²): the colour
// over white at full precision, reduced to 8 bits once.
std::uint8_t OverWhite(unsigned colour, unsigned alpha, const SampleLayout& layout)
{
    const std::uint64_t max = layout.maxValue;
    colour = std::min<unsigned>(colour, layout.maxValue);
    if (layout.premultiplied) {
        const std::uint64_t value = std::min<std::uint64_t>(colour + (max - alpha), max);
        return ScaleToByte(static_cast<unsigned>(value), layout.maxValue);
    }
    const std::uint64_t square = max * max;
    return static_cast<std::uint8_t>(((colour * std::uint64_t(alpha) + max * (max - alpha)) * 255 + square / 2) / square);
}

}  // namespace

void SamplesToBgr(const std::uint8_t* samples, int width, const SampleLayout& layout, std::uint8_t* bgr)
{
    const int colours = layout.channels >= 3 ? 3 : 1;
    const bool alpha = layout.channels == 2 || layout.channels == 4;
    const std::size_t step = static_cast<std::size_t>(layout.bytesPerSample);
    const std::size_t pixel = step * static_cast<std::size_t>(std::max(layout.channels, layout.samplesPerPixel));
    const int red = layout.bgr ? 2 : 0, blue = layout.bgr ? 0 : 2;
    if (!alpha && layout.bytesPerSample == 1 && layout.maxValue == 255) {
        // The common case, without arithmetic.
        for (int x = 0; x < width; ++x, samples += pixel, bgr += 3) {
            bgr[0] = samples[colours == 1 ? 0 : blue];
            bgr[1] = samples[colours == 1 ? 0 : 1];
            bgr[2] = samples[colours == 1 ? 0 : red];
        }
        return;
    }
    for (int x = 0; x < width; ++x, samples += pixel, bgr += 3) {
        const unsigned a = alpha ? std::min(Sample(samples + step * static_cast<std::size_t>(colours), layout), layout.maxValue)
                                 : layout.maxValue;
        auto channel = [&](int c) {
            const unsigned v = Sample(samples + step * static_cast<std::size_t>(c), layout);
            return alpha ? OverWhite(v, a, layout) : ScaleToByte(v, layout.maxValue);
        };
        if (colours == 1) {
            bgr[0] = bgr[1] = bgr[2] = channel(0);
        } else {
            bgr[0] = channel(blue);
            bgr[1] = channel(1);
            bgr[2] = channel(red);
        }
    }
}

}  // namespace pictavo
