// Profiled and CMYK pictures end in sRGB; sRGB itself is left alone.
#include "base/MemoryBudget.h"
#include "codecs/bmp/BmpProfile.h"
#include "codecs/bmp/BmpReader.h"
#include "codecs/png/PngSource.h"
#include "codecs/jpeg/TJPEGImage.h"
#include "imaging/ColourProfile.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>
#include <lcms2.h>
#include <zlib.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <optional>

namespace pictavo {
namespace {

namespace fs = std::filesystem;
using test::operator+;
const std::string Icc = "/usr/share/color/icc/";

std::vector<std::uint8_t> Saved(cmsHPROFILE profile)
{
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile, nullptr, &size);
    std::vector<std::uint8_t> bytes(size);
    cmsSaveProfileToMem(profile, bytes.data(), &size);
    cmsCloseProfile(profile);
    return bytes;
}

// Display P3: P3 primaries, D65, sRGB's tone curve.
std::vector<std::uint8_t> DisplayP3()
{
    const cmsCIExyY d65{0.3127, 0.3290, 1};
    const cmsCIExyYTRIPLE p3{{0.680, 0.320, 1}, {0.265, 0.690, 1}, {0.150, 0.060, 1}};
    const double params[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
    cmsToneCurve* curve = cmsBuildParametricToneCurve(nullptr, 4, params);
    cmsToneCurve* curves[3] = {curve, curve, curve};
    std::vector<std::uint8_t> bytes = Saved(cmsCreateRGBProfile(&d65, &p3, curves));
    cmsFreeToneCurve(curve);
    return bytes;
}

std::vector<std::uint8_t> Grey()
{
    cmsToneCurve* curve = cmsBuildGamma(nullptr, 2.2);
    std::vector<std::uint8_t> bytes = Saved(cmsCreateGrayProfile(cmsD50_xyY(), curve));
    cmsFreeToneCurve(curve);
    return bytes;
}

// A profile by file name under /usr/share/color/icc, or nothing when that package is absent.
std::optional<std::vector<std::uint8_t>> Installed(const std::string& name)
{
    if (!fs::exists(Icc + name)) return std::nullopt;
    return test::ReadBytes(Icc + name);
}

// Saturated colours, greys and everything between.
Raster24 Colours()
{
    Raster24 r;
    r.reset(48, 40, PixelFormat::Bgr24, 0);
    for (int y = 0; y < r.height(); ++y)
        for (int x = 0; x < r.width(); ++x) {
            std::uint8_t* p = r.scanLine(y) + 3 * x;
            p[0] = static_cast<std::uint8_t>(x * 255 / 47);
            p[1] = static_cast<std::uint8_t>(y * 255 / 39);
            p[2] = static_cast<std::uint8_t>(y < 20 ? 255 - x * 5 : x * 5);
        }
    return r;
}

TEST(ColourProfile, SrgbIsRecognisedByItsColoursNotItsBytes)
{
    struct Case { std::string name; std::optional<std::vector<std::uint8_t>> icc; bool srgb; };
    const Case cases[] = {
        {"icc-profiles-free sRGB (version 2, D65 white)", Installed("sRGB.icc"), true},
        {"colord sRGB (version 4)", Installed("colord/sRGB.icc"), true},
        {"Little CMS's sRGB", Saved(cmsCreate_sRGBProfile()), true},
        {"Adobe RGB", Installed("colord/AdobeRGB1998.icc"), false},
        {"ProPhoto RGB", Installed("colord/ProPhotoRGB.icc"), false},
        {"sRGB primaries, Rec. 709 curve", Installed("colord/Rec709.icc"), false},
        {"Display P3", DisplayP3(), false},
        {"grey", Grey(), false},
        {"not a profile", std::vector<std::uint8_t>{'a', 'c', 's', 'p', 1, 2, 3}, false},
        {"empty", std::vector<std::uint8_t>{}, false},
    };
    for (const Case& c : cases) {
        if (!c.icc) continue;  // that package is not installed
        EXPECT_EQ(IsSrgbProfile(*c.icc), c.srgb) << c.name;
    }
}

TEST(ColourProfile, PixelsConvertAsLittleCmsConvertsThem)
{
    struct Case { std::string name; std::optional<std::vector<std::uint8_t>> icc; bool changes; };
    const Case cases[] = {
        {"Adobe RGB", Installed("colord/AdobeRGB1998.icc"), true},
        {"Adobe RGB, version 2 with a D65 white", Installed("compatibleWithAdobeRGB1998.icc"), true},
        {"ProPhoto RGB", Installed("colord/ProPhotoRGB.icc"), true},
        {"Display P3", DisplayP3(), true},
        {"sRGB", Installed("colord/sRGB.icc"), false},
        {"damaged", std::vector<std::uint8_t>(200, 7), false},
    };
    const Raster24 original = Colours();
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    for (const Case& c : cases) {
        if (!c.icc) continue;
        Raster24 converted = original;
        ConvertToSrgb(converted, *c.icc);
        if (!c.changes) {
            for (int y = 0; y < original.height(); ++y)
                ASSERT_TRUE(std::equal(original.scanLine(y), original.scanLine(y) + 3 * original.width(),
                                       converted.scanLine(y)))
                    << c.name;
            continue;
        }
        // The reference: the same intent in floating point, unoptimised.
        cmsHPROFILE in = cmsOpenProfileFromMem(c.icc->data(), static_cast<cmsUInt32Number>(c.icc->size()));
        cmsHTRANSFORM exact = cmsCreateTransform(in, TYPE_RGB_DBL, srgb, TYPE_RGB_DBL, INTENT_RELATIVE_COLORIMETRIC,
                                                 cmsFLAGS_BLACKPOINTCOMPENSATION | cmsFLAGS_NOOPTIMIZE);
        int worst = 0, moved = 0;
        for (int y = 0; y < original.height(); ++y)
            for (int x = 0; x < original.width(); ++x) {
                const std::uint8_t* p = original.scanLine(y) + 3 * x;
                const std::uint8_t* q = converted.scanLine(y) + 3 * x;
                double rgb[3] = {p[2] / 255.0, p[1] / 255.0, p[0] / 255.0}, out[3];
                cmsDoTransform(exact, rgb, out, 1);
                for (int k = 0; k < 3; ++k) {
                    const int expected = static_cast<int>(std::lround(std::clamp(out[k], 0.0, 1.0) * 255));
                    worst = std::max(worst, std::abs(q[2 - k] - expected));
                    moved = std::max(moved, std::abs(q[2 - k] - p[2 - k]));
                }
            }
        cmsDeleteTransform(exact);
        cmsCloseProfile(in);
        EXPECT_LE(worst, 2) << c.name;
        EXPECT_GE(moved, 20) << c.name;
    }
    cmsCloseProfile(srgb);
}

// Mean and largest difference of a decoded picture from RGB bytes.
std::pair<double, int> Difference(const Raster24& picture, const std::vector<std::uint8_t>& rgb)
{
    double total = 0;
    int worst = 0;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            for (int k = 0; k < 3; ++k) {
                const int d = std::abs(picture.scanLine(y)[3 * x + 2 - k] -
                                       rgb[(static_cast<std::size_t>(y) * picture.width() + x) * 3 + k]);
                total += d;
                worst = std::max(worst, d);
            }
    return {total / (3.0 * picture.width() * picture.height()), worst};
}

TEST(CmykJpeg, LooksAsImageMagickShowsIt)
{
    if (std::system("convert -version >/dev/null 2>&1") != 0) GTEST_SKIP() << "ImageMagick is not installed";
    test::ScratchDir dir;
    test::WriteBytes(dir.file("rgb.jpg"), test::MakeJpeg(96, 64, test::Gradient, {.quality = 100}));
    // ImageMagick writes YCCK with Adobe's inverted inks.
    ASSERT_EQ(std::system(("convert " + dir.file("rgb.jpg") + " -colorspace CMYK -quality 95 " + dir.file("plain.jpg"))
                              .c_str()),
              0);
    struct Case { std::string file, profile, render; };
    std::vector<Case> cases = {{"plain.jpg", "", "-colorspace sRGB"}};
    const std::string cmykProfile = Icc + "ghostscript/default_cmyk.icc";
    if (fs::exists(cmykProfile) && fs::exists(Icc + "colord/sRGB.icc")) {
        ASSERT_EQ(std::system(("convert " + dir.file("plain.jpg") + " -profile " + cmykProfile + " " +
                               dir.file("tagged.jpg"))
                                  .c_str()),
                  0);
        cases.push_back({"tagged.jpg", cmykProfile, "-intent relative -black-point-compensation -profile " + Icc +
                                                        "colord/sRGB.icc"});
    }
    std::vector<std::uint8_t> plain;  // ImageMagick's rendering of the untagged file
    for (const Case& c : cases) {
        TJPEGImage jpeg;
        jpeg.loadFromFile(dir.file(c.file));
        EXPECT_TRUE(jpeg.iccProfile().empty()) << "CMYK rows are turned into sRGB while decoding";
        Raster24 ours;
        jpeg.decodeInto(ours);
        ASSERT_EQ(std::system(("convert " + dir.file(c.file) + " " + c.render + " -depth 8 rgb:" + dir.file("im.rgb"))
                                  .c_str()),
                  0);
        const std::vector<std::uint8_t> theirs = test::ReadBytes(dir.file("im.rgb"));
        const auto [mean, worst] = Difference(ours, theirs);
        // Mean 0.4 plain and 0.7 through the profile, whose 8-bit table
        // interpolates a little differently at the edges of the ink range.
        EXPECT_LT(mean, 1.5) << c.file;
        EXPECT_LE(worst, 24) << c.file;
        // The profile was used: print inks do not reach sRGB's saturation.
        if (!plain.empty()) {
            EXPECT_GT(Difference(ours, plain).first, 5.0) << c.file;
        }
        plain = theirs;
    }
}

// A one-pixel grey PNG of `level` with a gAMA chunk of `gamma` (x 100000).
std::vector<std::uint8_t> GreyPng(std::uint8_t level, std::uint32_t gamma)
{
    std::vector<std::uint8_t> value;
    test::PutBig(value, gamma, 4);
    return test::MakePng({.raw = {0, level}, .extra = test::PngChunk("gAMA", value)});
}

// Grey pictures follow their tone curve, from a grey profile or a PNG's
// gAMA: ImageMagick shows grey 64 of a linear file as 137.
TEST(ColourProfile, GreyPicturesFollowTheirToneCurve)
{
    const auto shown = [](std::uint8_t level, const std::vector<std::uint8_t>& icc) {
        Raster24 r;
        r.reset(1, 1, PixelFormat::Bgr24, level);
        ConvertToSrgb(r, icc);
        return r.scanLine(0)[0] == r.scanLine(0)[2] ? int(r.scanLine(0)[1]) : -1;
    };
    // Every level as Little CMS turns grey into sRGB.
    const std::vector<std::uint8_t> grey = Grey();
    cmsHPROFILE in = cmsOpenProfileFromMem(grey.data(), static_cast<cmsUInt32Number>(grey.size()));
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsHTRANSFORM reference = cmsCreateTransform(in, TYPE_GRAY_8, srgb, TYPE_RGB_8, INTENT_RELATIVE_COLORIMETRIC, 0);
    for (int level = 0; level < 256; ++level) {
        const std::uint8_t from = static_cast<std::uint8_t>(level);
        std::uint8_t to[3];
        cmsDoTransform(reference, &from, to, 1);
        EXPECT_NEAR(shown(from, grey), to[1], 1) << level;
    }
    cmsDeleteTransform(reference);
    cmsCloseProfile(srgb);
    cmsCloseProfile(in);
    EXPECT_EQ(shown(64, MakeGreyProfile(SrgbTransfer)), 64);
    const PictureHeader linear = OpenPngBytes(GreyPng(64, 100000))->header();
    EXPECT_TRUE(linear.gray);
    EXPECT_TRUE(IsGreyProfile(linear.iccProfile));
    EXPECT_EQ(shown(64, linear.iccProfile), 137);
    EXPECT_TRUE(OpenPngBytes(GreyPng(64, 45455))->header().iccProfile.empty());  // sRGB's own gamma
}

TEST(BitmapProfile, OnlyAnEmbeddedProfileInsideTheFileIsTaken)
{
    const std::vector<std::uint8_t> profile = {'p', 'r', 'o', 'f', 'i', 'l', 'e'};
    // A version 5 header, its colour space, where the profile starts (from the header) and how long it is.
    const auto file = [&](std::uint32_t headerSize, const char* space, std::uint32_t at, std::uint32_t length) {
        const auto word = static_cast<std::uint32_t>(space[3] | space[2] << 8 | space[1] << 16 | space[0] << 24);
        return test::MakeBmp({.headerSize = headerSize, .width = 1, .height = 1, .pixels = {1, 2, 3, 0},
                              .colourSpace = word, .profileAt = at, .profileLength = length}) + profile;
    };
    const std::size_t end = file(124, "MBED", 0, 0).size() - profile.size() - 14;
    struct Case { const char* name; std::vector<std::uint8_t> bytes; bool found; };
    const Case cases[] = {
        {"embedded", file(124, "MBED", static_cast<std::uint32_t>(end), 7), true},
        {"named sRGB", file(124, "sRGB", static_cast<std::uint32_t>(end), 7), false},
        {"linked", file(124, "LINK", static_cast<std::uint32_t>(end), 7), false},
        {"past the end", file(124, "MBED", static_cast<std::uint32_t>(end), 8), false},
        {"far past the end", file(124, "MBED", 0xFFFFFFF0u, 7), false},
        {"longer than the file", file(124, "MBED", static_cast<std::uint32_t>(end), 2000000000), false},
        {"version 4 header", file(108, "MBED", 0, 0), false},
    };
    // Streamed, the file is read as it stands on disk: nothing is taken for
    // a profile said to lie past its end.
    test::ScratchDir dir;
    const ScopedMemoryBudget budget(1 << 20);
    for (const Case& c : cases) {
        const std::vector<std::uint8_t> expected = c.found ? profile : std::vector<std::uint8_t>();
        EXPECT_EQ(EmbeddedBitmapProfile(c.bytes.data(), c.bytes.size()), expected) << c.name;
        test::WriteBytes(dir.file("p.bmp"), c.bytes);
        EXPECT_EQ(OpenBitmapSource(dir.file("p.bmp"), "p.bmp")->header().iccProfile, expected) << c.name;
    }
}

}  // namespace
}  // namespace pictavo
