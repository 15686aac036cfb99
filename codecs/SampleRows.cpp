#include "codecs/SampleRows.h"

#include "codecs/ByteStream.h"

#include <algorithm>

namespace pictavo {
namespace {

unsigned Sample(const std::uint8_t* p, const SampleLayout& layout)
{
    if (layout.bytesPerSample == 1) return *p;
    return layout.bigEndian ? BigEndian16(p) : LittleEndian16(p);
}

// round((colour * alpha + background * (max - alpha)) / max), to 8 bits:
// the colour over the background at full precision, reduced to 8 bits once.
std::uint8_t Over(unsigned colour, unsigned alpha, unsigned background, const SampleLayout& layout)
{
    const std::uint64_t max = layout.maxValue;
    colour = std::min<unsigned>(colour, layout.maxValue);
    if (layout.premultiplied) {
        const std::uint64_t value = std::uint64_t(colour) * 255 + std::uint64_t(background) * (max - alpha);
        return static_cast<std::uint8_t>(std::min<std::uint64_t>((value + max / 2) / max, 255));
    }
    const std::uint64_t square = max * max;
    return static_cast<std::uint8_t>((colour * std::uint64_t(alpha) * 255 + background * max * (max - alpha) + square / 2) /
                                     square);
}

// The straight colour of a sample, to 8 bits.
std::uint8_t Straight(unsigned colour, unsigned alpha, const SampleLayout& layout)
{
    if (!layout.premultiplied) return ScaleToByte(colour, layout.maxValue);
    if (alpha == 0) return 0;
    return static_cast<std::uint8_t>(std::min<std::uint64_t>((std::uint64_t(colour) * 255 + alpha / 2) / alpha, 255));
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
    const bool keep = alpha && layout.keepAlpha;
    const std::size_t out = keep ? 4 : 3;
    for (int x = 0; x < width; ++x, samples += pixel, bgr += out) {
        const unsigned a = alpha ? std::min(Sample(samples + step * static_cast<std::size_t>(colours), layout), layout.maxValue)
                                 : layout.maxValue;
        auto channel = [&](int c, int at) {
            const unsigned v = Sample(samples + step * static_cast<std::size_t>(c), layout);
            if (keep) return Straight(v, a, layout);
            return alpha ? Over(v, a, layout.background[static_cast<std::size_t>(at)], layout)
                         : ScaleToByte(v, layout.maxValue);
        };
        if (colours == 1) {
            bgr[0] = channel(0, 0);
            bgr[1] = keep || layout.background[1] == layout.background[0] ? bgr[0] : channel(0, 1);
            bgr[2] = keep || layout.background[2] == layout.background[0] ? bgr[0] : channel(0, 2);
        } else {
            bgr[0] = channel(blue, 0);
            bgr[1] = channel(1, 1);
            bgr[2] = channel(red, 2);
        }
        if (keep) bgr[3] = ScaleToByte(a, layout.maxValue);
    }
}

}  // namespace pictavo
