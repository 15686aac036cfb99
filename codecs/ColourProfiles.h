// ICC profiles made from colour facts a file states without a profile: the
// primaries and transfer function of a HEIF nclx box, a PNG gAMA chunk.
#pragma once

#include <cstdint>
#include <vector>

namespace pictavo {

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

}  // namespace pictavo
