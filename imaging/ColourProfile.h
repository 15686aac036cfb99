// Colour management over Little CMS: pictures that carry an ICC profile are
// turned into the sRGB every untagged JPEG is taken to be.
#pragma once

#include "imaging/Raster24.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace pictavo {

// No honest profile comes near this (large printer profiles take a few MB,
// and a JPEG carries at most 255 segments of 64 KB): a larger one is not
// read, and the picture is taken as sRGB.
inline constexpr std::uint64_t LargestProfile = 16 << 20;
// What a profile of `bytes` costs while a picture is converted through it:
// the bytes the decoder hands on and Little CMS's own copy.
inline constexpr std::uint64_t ProfileMemory(std::uint64_t bytes) { return 2 * bytes; }

// True for the usual sRGB profiles (IEC 61966-2.1 as cameras, phones and
// Debian's profile packages write it): primaries, tone curves and white
// point are compared with a tolerance, not the bytes. False for any other
// profile and for one that cannot be read.
bool IsSrgbProfile(const std::vector<std::uint8_t>& icc);

// Turns a 24-bit picture in the colours of an RGB or grey profile into
// sRGB, in place. Leaves the pixels as they are when the profile is empty,
// sRGB, of another colour space or unreadable.
void ConvertToSrgb(Raster24& picture, const std::vector<std::uint8_t>& icc);

// Profiles made from colour facts a file states without a profile: the
// primaries and transfer function of a HEIF nclx box, a PNG gAMA chunk.
struct Chromaticities {
    double redX, redY, greenX, greenY, blueX, blueY, whiteX, whiteY;
};
inline constexpr Chromaticities SrgbPrimaries{0.64, 0.33, 0.30, 0.60, 0.15, 0.06, 0.3127, 0.3290};

// A transfer function as an ICC parametric curve: type 1 is a pure power
// law (one parameter), type 4 a power law with a linear toe (five).
struct TransferCurve {
    int type;
    double parameters[5];
};
inline constexpr TransferCurve SrgbTransfer{4, {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045}};
inline constexpr TransferCurve Bt709Transfer{4, {1 / 0.45, 1 / 1.099, 0.099 / 1.099, 1 / 4.5, 0.081}};
inline TransferCurve GammaTransfer(double gamma) { return {1, {gamma, 0, 0, 0, 0}}; }

// A matrix/curve RGB profile; empty when the facts make none (primaries
// that span no colour space), so the rows are taken as sRGB.
std::vector<std::uint8_t> MakeRgbProfile(const Chromaticities& primaries, const TransferCurve& transfer);
// A grey profile of that transfer function.
std::vector<std::uint8_t> MakeGreyProfile(const TransferCurve& transfer);
bool IsGreyProfile(const std::vector<std::uint8_t>& icc);
// The profile rows are converted through: `icc` when it is of their kind,
// none when it is not (an RGB profile says nothing of grey rows, a grey one
// nothing of colour).
std::vector<std::uint8_t> ProfileForRows(const std::vector<std::uint8_t>& icc, bool grey);

// CMYK rows to sRGB rows of blue, green, red: through `icc` when it is a
// usable CMYK profile, otherwise by the plain formula
// red = (255 - C) * (255 - K) / 255 (and likewise green, blue).
// `adobeInverted`: the samples are stored as 255 - ink, as Adobe writes them.
class CmykToSrgb {
public:
    CmykToSrgb(const std::vector<std::uint8_t>& icc, bool adobeInverted);
    // 4 * width bytes in, 3 * width bytes out. Not for two threads at once.
    void convertRow(const std::uint8_t* cmyk, std::uint8_t* bgr, int width) const;
    bool usesProfile() const { return transform_ != nullptr; }
    // Memory convertRow keeps besides the transform, for rows of `width`.
    static std::uint64_t RowMemory(std::uint64_t width) { return 7 * width; }

private:
    std::shared_ptr<void> transform_;
    bool inverted_;
    mutable std::vector<std::uint8_t> lastIn_, lastOut_;  // the last row through the transform
};

}  // namespace pictavo
