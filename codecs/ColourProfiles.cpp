#include "codecs/ColourProfiles.h"

#include <lcms2.h>

#include <memory>

namespace pictavo {
namespace {

struct ProfileDeleter {
    void operator()(void* p) const { cmsCloseProfile(p); }
};
struct CurveDeleter {
    void operator()(cmsToneCurve* c) const { cmsFreeToneCurve(c); }
};

}  // namespace

std::vector<std::uint8_t> MakeRgbProfile(const Chromaticities& p, const TransferCurve& transfer)
{
    const cmsCIExyY white{p.whiteX, p.whiteY, 1.0};
    const cmsCIExyYTRIPLE primaries{{p.redX, p.redY, 1.0}, {p.greenX, p.greenY, 1.0}, {p.blueX, p.blueY, 1.0}};
    std::unique_ptr<cmsToneCurve, CurveDeleter> curve(cmsBuildParametricToneCurve(nullptr, transfer.type, transfer.parameters));
    if (!curve) return {};
    cmsToneCurve* curves[3] = {curve.get(), curve.get(), curve.get()};
    std::unique_ptr<void, ProfileDeleter> profile(cmsCreateRGBProfile(&white, &primaries, curves));
    cmsUInt32Number size = 0;
    if (!profile || !cmsSaveProfileToMem(profile.get(), nullptr, &size) || size == 0) return {};
    std::vector<std::uint8_t> bytes(size);
    if (!cmsSaveProfileToMem(profile.get(), bytes.data(), &size)) return {};
    bytes.resize(size);
    return bytes;
}

}  // namespace pictavo
