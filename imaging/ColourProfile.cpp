#include "imaging/ColourProfile.h"

#include <lcms2.h>
#include <lcms2_plugin.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <list>
#include <mutex>
#include <optional>

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

// A profile made here, as the bytes a file would carry.
std::vector<std::uint8_t> Saved(cmsHPROFILE made)
{
    const Profile profile(made, cmsCloseProfile);
    cmsUInt32Number size = 0;
    if (!profile || !cmsSaveProfileToMem(profile.get(), nullptr, &size) || size == 0) return {};
    std::vector<std::uint8_t> bytes(size);
    if (!cmsSaveProfileToMem(profile.get(), bytes.data(), &size)) return {};
    bytes.resize(size);
    return bytes;
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

namespace {

// Matrix profiles, the kind cameras and phones write, as Little CMS reads
// them: three tone curves into light, one matrix into sRGB's light, and
// sRGB's curve back. Little CMS's own 8-bit transform would cost as much as
// encoding the reduced picture; this gives its colours to within a level at
// a third of the cost. Both spaces are relative to D50, so the matrix is the
// relative colorimetric rendering, and both blacks are 0, so black-point
// compensation changes nothing.
class MatrixShaper {
public:
    static std::optional<MatrixShaper> Make(cmsHPROFILE profile)
    {
        if (!cmsIsMatrixShaper(profile) || cmsIsCLUT(profile, Intent, LCMS_USED_AS_INPUT)) return std::nullopt;
        MatrixShaper m;
        const cmsTagSignature curves[3] = {cmsSigRedTRCTag, cmsSigGreenTRCTag, cmsSigBlueTRCTag};
        for (int c = 0; c < 3; ++c) {
            const auto* curve = static_cast<const cmsToneCurve*>(cmsReadTag(profile, curves[c]));
            if (curve == nullptr) return std::nullopt;
            for (int level = 0; level < 256; ++level)
                m.light_[c][level] = cmsEvalToneCurveFloat(curve, static_cast<cmsFloat32Number>(level / 255.0));
        }
        cmsMAT3 mine, srgb, fromXyz, toSrgb;
        const Profile reference = Srgb();
        if (!Colorants(profile, mine) || !Colorants(reference.get(), srgb) || !_cmsMAT3inverse(&srgb, &fromXyz))
            return std::nullopt;
        _cmsMAT3per(&toSrgb, &fromXyz, &mine);
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c) m.matrix_[r][c] = static_cast<float>(toSrgb.v[r].n[c]);
        m.encoded_.resize(EncodeSteps + 1);
        for (int i = 0; i <= EncodeSteps; ++i)
            m.encoded_[static_cast<std::size_t>(i)] =
                static_cast<std::uint8_t>(std::lround(SrgbEncode(static_cast<double>(i) / EncodeSteps) * 255));
        return m;
    }

    void convertRow(std::uint8_t* bgr, int width) const
    {
        for (int x = 0; x < width; ++x, bgr += 3) {
            const float in[3] = {light_[0][bgr[2]], light_[1][bgr[1]], light_[2][bgr[0]]};
            for (int c = 0; c < 3; ++c) {
                const float out = matrix_[c][0] * in[0] + matrix_[c][1] * in[1] + matrix_[c][2] * in[2];
                const float clamped = std::min(std::max(out, 0.0f), 1.0f);  // without branches
                bgr[2 - c] = encoded_[static_cast<unsigned>(static_cast<int>(clamped * EncodeSteps + 0.5f))];
            }
        }
    }

private:
    // Fine enough that the step from black to sRGB's first level is six steps.
    static constexpr int EncodeSteps = 16384;

    // The colorants as the columns of a matrix from RGB light to XYZ.
    static bool Colorants(cmsHPROFILE profile, cmsMAT3& matrix)
    {
        const cmsTagSignature tags[3] = {cmsSigRedColorantTag, cmsSigGreenColorantTag, cmsSigBlueColorantTag};
        for (int c = 0; c < 3; ++c) {
            const auto* xyz = static_cast<const cmsCIEXYZ*>(cmsReadTag(profile, tags[c]));
            if (xyz == nullptr) return false;
            matrix.v[0].n[c] = xyz->X;
            matrix.v[1].n[c] = xyz->Y;
            matrix.v[2].n[c] = xyz->Z;
        }
        return true;
    }

    float light_[3][256];
    float matrix_[3][3];
    std::vector<std::uint8_t> encoded_;
};

// How an RGB profile's pixels become sRGB: by a matrix profile's tables, or
// by a transform of Little CMS's for other profiles. Neither for sRGB itself
// and for a profile that is not RGB or cannot be used: those pixels stay.
struct SrgbConversion {
    std::optional<MatrixShaper> matrix;
    std::optional<std::array<std::uint8_t, 256>> grey;  // a grey profile's levels in sRGB
    std::shared_ptr<void> transform;  // shared between threads: no pixel cache

    void convertRow(std::uint8_t* row, std::vector<std::uint8_t>& scratch, int width) const
    {
        if (grey) {
            for (std::size_t i = 0; i < 3 * static_cast<std::size_t>(width); ++i) row[i] = (*grey)[row[i]];
            return;
        }
        if (matrix) return matrix->convertRow(row, width);
        cmsDoTransform(transform.get(), row, scratch.data(), static_cast<cmsUInt32Number>(width));
        std::memcpy(row, scratch.data(), 3 * static_cast<std::size_t>(width));
    }
};

std::shared_ptr<const SrgbConversion> MakeSrgbConversion(const std::vector<std::uint8_t>& icc)
{
    if (IsSrgbProfile(icc)) return nullptr;
    const Profile profile = Open(icc);
    if (profile && cmsGetColorSpace(profile.get()) == cmsSigGrayData) {
        // Grey light is the same in every space: through the tone curve
        // into light, and sRGB's curve back.
        const auto* curve = static_cast<const cmsToneCurve*>(cmsReadTag(profile.get(), cmsSigGrayTRCTag));
        if (curve == nullptr) return nullptr;
        auto conversion = std::make_shared<SrgbConversion>();
        conversion->grey.emplace();
        for (int level = 0; level < 256; ++level) {
            const double light = cmsEvalToneCurveFloat(curve, static_cast<cmsFloat32Number>(level / 255.0));
            (*conversion->grey)[static_cast<std::size_t>(level)] =
                static_cast<std::uint8_t>(std::lround(SrgbEncode(std::clamp(light, 0.0, 1.0)) * 255));
        }
        return conversion;
    }
    if (!profile || cmsGetColorSpace(profile.get()) != cmsSigRgbData) return nullptr;
    auto conversion = std::make_shared<SrgbConversion>();
    conversion->matrix = MatrixShaper::Make(profile.get());
    if (conversion->matrix) return conversion;
    const Profile srgb = Srgb();
    const cmsHTRANSFORM transform =
        cmsCreateTransform(profile.get(), TYPE_BGR_8, srgb.get(), TYPE_BGR_8, Intent, Flags | cmsFLAGS_NOCACHE);
    if (transform == nullptr) return nullptr;
    conversion->transform.reset(transform, cmsDeleteTransform);
    return conversion;
}

// A folder's photos mostly share a profile or two, and reading one costs
// more than converting a reduced picture: the last few are kept. Only the
// small ones a camera writes: a large profile kept would hold memory that
// no picture's budget counts.
std::shared_ptr<const SrgbConversion> SrgbConversionFor(const std::vector<std::uint8_t>& icc)
{
    constexpr std::size_t Kept = 8;
    constexpr std::size_t LargestKept = 64 << 10;
    if (icc.size() > LargestKept) return MakeSrgbConversion(icc);
    static std::mutex lock;
    static std::list<std::pair<std::vector<std::uint8_t>, std::shared_ptr<const SrgbConversion>>> recent;
    const std::lock_guard guard(lock);
    const auto known = std::find_if(recent.begin(), recent.end(), [&](const auto& entry) { return entry.first == icc; });
    if (known != recent.end()) {
        recent.splice(recent.begin(), recent, known);
        return known->second;
    }
    recent.emplace_front(icc, MakeSrgbConversion(icc));
    if (recent.size() > Kept) recent.pop_back();
    return recent.front().second;
}

}  // namespace

void ConvertToSrgb(Raster24& picture, const std::vector<std::uint8_t>& icc)
{
    if (icc.empty() || icc.size() > LargestProfile || picture.width() == 0 || picture.height() == 0) return;
    const std::shared_ptr<const SrgbConversion> conversion = SrgbConversionFor(icc);
    if (!conversion) return;
    picture.make24Bit();
    std::vector<std::uint8_t> scratch(conversion->transform ? 3 * static_cast<std::size_t>(picture.width()) : 0);
    for (int r = 0; r < picture.height(); ++r) conversion->convertRow(picture.scanLine(r), scratch, picture.width());
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
        // Rows repeat (a plain background, the rows past the end of damaged
        // data): each distinct row goes through the transform once.
        const std::size_t in = 4 * static_cast<std::size_t>(width), out = 3 * static_cast<std::size_t>(width);
        if (lastIn_.size() == in && std::memcmp(lastIn_.data(), cmyk, in) == 0) {
            std::memcpy(bgr, lastOut_.data(), out);
            return;
        }
        cmsDoTransform(transform_.get(), cmyk, bgr, static_cast<cmsUInt32Number>(width));
        lastIn_.assign(cmyk, cmyk + in);
        lastOut_.assign(bgr, bgr + out);
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

std::vector<std::uint8_t> MakeRgbProfile(const Chromaticities& p, const TransferCurve& transfer)
{
    const cmsCIExyY white{p.whiteX, p.whiteY, 1.0};
    const cmsCIExyYTRIPLE primaries{{p.redX, p.redY, 1.0}, {p.greenX, p.greenY, 1.0}, {p.blueX, p.blueY, 1.0}};
    const std::unique_ptr<cmsToneCurve, decltype(&cmsFreeToneCurve)> curve(
        cmsBuildParametricToneCurve(nullptr, transfer.type, transfer.parameters), cmsFreeToneCurve);
    if (!curve) return {};
    cmsToneCurve* curves[3] = {curve.get(), curve.get(), curve.get()};
    return Saved(cmsCreateRGBProfile(&white, &primaries, curves));
}

std::vector<std::uint8_t> MakeGreyProfile(const TransferCurve& transfer)
{
    const std::unique_ptr<cmsToneCurve, decltype(&cmsFreeToneCurve)> curve(
        cmsBuildParametricToneCurve(nullptr, transfer.type, transfer.parameters), cmsFreeToneCurve);
    if (!curve) return {};
    return Saved(cmsCreateGrayProfile(cmsD50_xyY(), curve.get()));
}

bool IsGreyProfile(const std::vector<std::uint8_t>& icc)
{
    const Profile profile = Open(icc);
    return profile && cmsGetColorSpace(profile.get()) == cmsSigGrayData;
}

std::vector<std::uint8_t> ProfileForRows(const std::vector<std::uint8_t>& icc, bool grey)
{
    if (icc.empty() || grey != IsGreyProfile(icc)) return {};
    return icc;
}

}  // namespace pictavo
