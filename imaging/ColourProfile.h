// Colour management over Little CMS: pictures that carry an ICC profile are
// turned into the sRGB every untagged JPEG is taken to be.
#pragma once

#include "imaging/Raster24.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace pictavo {

// True for the usual sRGB profiles (IEC 61966-2.1 as cameras, phones and
// Debian's profile packages write it): primaries, tone curves and white
// point are compared with a tolerance, not the bytes. False for any other
// profile and for one that cannot be read.
bool IsSrgbProfile(const std::vector<std::uint8_t>& icc);

// Turns a 24-bit picture in the colours of an RGB profile into sRGB, in
// place. Leaves the pixels as they are when the profile is empty, sRGB,
// not an RGB profile (a grey one, say) or unreadable.
void ConvertToSrgb(Raster24& picture, const std::vector<std::uint8_t>& icc);

// CMYK rows to sRGB rows of blue, green, red: through `icc` when it is a
// usable CMYK profile, otherwise by the plain formula
// red = (255 - C) * (255 - K) / 255 (and likewise green, blue).
// `adobeInverted`: the samples are stored as 255 - ink, as Adobe writes them.
class CmykToSrgb {
public:
    CmykToSrgb(const std::vector<std::uint8_t>& icc, bool adobeInverted);
    // 4 * width bytes in, 3 * width bytes out.
    void convertRow(const std::uint8_t* cmyk, std::uint8_t* bgr, int width) const;
    bool usesProfile() const { return transform_ != nullptr; }

private:
    std::shared_ptr<void> transform_;
    bool inverted_;
};

}  // namespace pictavo
