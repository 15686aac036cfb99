#include "imaging/ColourProfile.h"

#include <lcms2.h>

#include <cmath>
#include <cstring>

namespace pictavo {
namespace {

// Relative colorimetric keeps every colour that sRGB can show exactly as it
// is, and black-point compensation maps a profile's black (a print's ink
// black, say) onto sRGB's black instead of a grey. Perceptual would change
// nothing for the matrix profiles cameras and phones write: they carry no
// perceptual tables.
constexpr cmsUInt32Number Intent = INTENT_RELATIVE_COLORIMETRIC;
constexpr cmsUInt32Number Flags = cmsFLAGS_BLACKPOINTCOMPENSATION;

// sRGB's colorants may differ in the fourth decimal between writers (how they
// rounded, which chromatic adaptation they used); other RGB spaces differ in
// the second.
constexpr double ColorantTolerance = 0.003;
// A tone curve that moves no 8-bit level by a whole step is sRGB's.
constexpr double CurveTolerance = 1.0 / 255;

using Profile = std::unique_ptr<void, decltype(&cmsCloseProfile)>;

Profile Open(const std::vector<std::uint8_t>& icc)
{
    if (icc.empty()) return {nullptr, cmsCloseProfile};
    return {cmsOpenProfileFromMem(icc.data(), static_cast<cmsUInt32Number>(icc.size())), cmsCloseProfile};
}

Profile Srgb()
{
    return {cmsCreate_sRGBProfile(), cmsCloseProfile};
}

bool Near(const cmsCIEXYZ& a, const cmsCIEXYZ& b, double tolerance)
{
    return std::fabs(a.X - b.X) <= tolerance && std::fabs(a.Y - b.Y) <= tolerance &&
           std::fabs(a.Z - b.Z) <= tolerance;
}

// The decoded value of sRGB's tone curve at `linear`.
double SrgbEncode(double linear)
{
    return linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
}

bool SrgbCurve(const cmsToneCurve* curve)
{
    if (curve == nullptr) return false;
    for (int level = 0; level <= 255; ++level) {
        const double x = level / 255.0;
        const double linear = cmsEvalToneCurveFloat(curve, static_cast<cmsFloat32Number>(x));
        if (std::fabs(SrgbEncode(linear) - x) > CurveTolerance) return false;
    }
    return true;
}

bool SrgbWhite(const cmsCIEXYZ* white)
{
    // Version 2 writers stored D65 here, version 4 always stores D50.
    static constexpr cmsCIEXYZ D50{0.9642, 1.0, 0.8249}, D65{0.9505, 1.0, 1.0890};
    return white == nullptr || Near(*white, D50, 0.01) || Near(*white, D65, 0.01);
}

}  // namespace

bool IsSrgbProfile(const std::vector<std::uint8_t>& icc)
{
    const Profile profile = Open(icc);
    if (!profile || cmsGetColorSpace(profile.get()) != cmsSigRgbData) return false;
    // Tables would be used instead of the colorants and curves compared here.
    if (cmsIsTag(profile.get(), cmsSigAToB0Tag) || cmsIsTag(profile.get(), cmsSigAToB1Tag)) return false;
    const Profile srgb = Srgb();
    for (const cmsTagSignature tag : {cmsSigRedColorantTag, cmsSigGreenColorantTag, cmsSigBlueColorantTag}) {
        const auto* mine = static_cast<const cmsCIEXYZ*>(cmsReadTag(profile.get(), tag));
        const auto* reference = static_cast<const cmsCIEXYZ*>(cmsReadTag(srgb.get(), tag));
        if (mine == nullptr || reference == nullptr || !Near(*mine, *reference, ColorantTolerance)) return false;
    }
    for (const cmsTagSignature tag : {cmsSigRedTRCTag, cmsSigGreenTRCTag, cmsSigBlueTRCTag})
        if (!SrgbCurve(static_cast<const cmsToneCurve*>(cmsReadTag(profile.get(), tag)))) return false;
    return SrgbWhite(static_cast<const cmsCIEXYZ*>(cmsReadTag(profile.get(), cmsSigMediaWhitePointTag)));
}

void ConvertToSrgb(Raster24& picture, const std::vector<std::uint8_t>& icc)
{
    if (icc.empty() || picture.width() == 0 || picture.height() == 0 || IsSrgbProfile(icc)) return;
    const Profile profile = Open(icc);
    if (!profile || cmsGetColorSpace(profile.get()) != cmsSigRgbData) return;
    const Profile srgb = Srgb();
    const cmsHTRANSFORM transform =
        cmsCreateTransform(profile.get(), TYPE_BGR_8, srgb.get(), TYPE_BGR_8, Intent, Flags);
    if (transform == nullptr) return;  // a profile lcms cannot use: the picture stays as it was
    picture.make24Bit();
    const std::size_t bytes = 3 * static_cast<std::size_t>(picture.width());
    std::vector<std::uint8_t> converted(bytes);
    for (int r = 0; r < picture.height(); ++r) {
        std::uint8_t* row = picture.scanLine(r);
        cmsDoTransform(transform, row, converted.data(), static_cast<cmsUInt32Number>(picture.width()));
        std::memcpy(row, converted.data(), bytes);
    }
    cmsDeleteTransform(transform);
}

CmykToSrgb::CmykToSrgb(const std::vector<std::uint8_t>& icc, bool adobeInverted) : inverted_(adobeInverted)
{
    const Profile profile = Open(icc);
    if (!profile || cmsGetColorSpace(profile.get()) != cmsSigCmykData) return;
    const Profile srgb = Srgb();
    const cmsHTRANSFORM transform = cmsCreateTransform(profile.get(), adobeInverted ? TYPE_CMYK_8_REV : TYPE_CMYK_8,
                                                       srgb.get(), TYPE_BGR_8, Intent, Flags);
    if (transform != nullptr) transform_.reset(transform, cmsDeleteTransform);
}

void CmykToSrgb::convertRow(const std::uint8_t* cmyk, std::uint8_t* bgr, int width) const
{
    if (transform_) {
        cmsDoTransform(transform_.get(), cmyk, bgr, static_cast<cmsUInt32Number>(width));
        return;
    }
    for (int x = 0; x < width; ++x, cmyk += 4, bgr += 3) {
        // What is left of each channel after its ink and the black ink.
        const int c = inverted_ ? cmyk[0] : 255 - cmyk[0];
        const int m = inverted_ ? cmyk[1] : 255 - cmyk[1];
        const int y = inverted_ ? cmyk[2] : 255 - cmyk[2];
        const int k = inverted_ ? cmyk[3] : 255 - cmyk[3];
        bgr[0] = static_cast<std::uint8_t>((y * k + 127) / 255);
        bgr[1] = static_cast<std::uint8_t>((m * k + 127) / 255);
        bgr[2] = static_cast<std::uint8_t>((c * k + 127) / 255);
    }
}

}  // namespace pictavo
