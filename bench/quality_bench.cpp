// One quality scale for every output format, measured: photographs reduced
// to 800 x 600 as a run reduces them, each format's luma SSIM, bytes and
// encode time beside JPEG's at the same --quality.
//
//   quality_bench table [PHOTO...]        the shipped mapping: format, Q, SSIM,
//                                         its distance from JPEG's, bytes as a
//                                         share of JPEG's, encode ms a picture
//                                         (processor time, all threads)
//   quality_bench calibrate[:FORMAT] [PHOTO...]
//                                         the setting of each format that meets
//                                         JPEG's mean SSIM at each Q (the curves
//                                         in the encoders)
//   quality_bench avif-codecs [PHOTO...]  aom, SVT-AV1 and rav1e at several
//                                         speeds, each at JPEG's SSIM at Q 75
//
// QUALITIES="50 75" limits the qualities measured. The default photos are
// eight Plasma wallpapers (plasma-workspace-wallpapers).
#include "batch/ResizeRun.h"
#include "codecs/Encoders.h"
#include "codecs/OutputFormats.h"
#include "codecs/jpeg/TJPEGImage.h"

#include <avif/avif.h>
#include <jxl/decode.h>
#include <webp/decode.h>

#include <algorithm>
#include <ctime>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

using namespace pictavo;
using Bytes = std::vector<std::uint8_t>;

const char* const DefaultPhotos[] = {"Autumn", "BytheWater", "ColdRipple", "DarkestHour",
                                     "EveningGlow", "FallenLeaf", "OneStandsOut", "Path"};

// Luma, Rec. 601, from rows of blue, green, red.
std::vector<float> Luma(const std::uint8_t* bgr, int width, int height, std::ptrdiff_t stride)
{
    std::vector<float> y(static_cast<std::size_t>(width) * height);
    for (int r = 0; r < height; ++r)
        for (int x = 0; x < width; ++x) {
            const std::uint8_t* p = bgr + r * stride + 3 * x;
            y[static_cast<std::size_t>(r) * width + x] = 0.114f * p[0] + 0.587f * p[1] + 0.299f * p[2];
        }
    return y;
}

// Gaussian-weighted 11 x 11 SSIM (sigma 1.5), the mean over every window
// that lies inside the picture.
double Ssim(const std::vector<float>& a, const std::vector<float>& b, int width, int height)
{
    constexpr int Radius = 5;
    float kernel[2 * Radius + 1];
    float sum = 0;
    for (int i = -Radius; i <= Radius; ++i) sum += kernel[i + Radius] = std::exp(-(i * i) / (2 * 1.5f * 1.5f));
    for (float& k : kernel) k /= sum;
    const std::size_t n = a.size();
    std::vector<float> planes[5] = {a, b, std::vector<float>(n), std::vector<float>(n), std::vector<float>(n)};
    for (std::size_t i = 0; i < n; ++i) {
        planes[2][i] = a[i] * a[i];
        planes[3][i] = b[i] * b[i];
        planes[4][i] = a[i] * b[i];
    }
    const int w = width - 2 * Radius, h = height - 2 * Radius;
    std::vector<float> blurred[5];
    for (int p = 0; p < 5; ++p) {
        std::vector<float> across(static_cast<std::size_t>(w) * height);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < w; ++x) {
                float s = 0;
                for (int k = 0; k <= 2 * Radius; ++k) s += kernel[k] * planes[p][static_cast<std::size_t>(y) * width + x + k];
                across[static_cast<std::size_t>(y) * w + x] = s;
            }
        blurred[p].resize(static_cast<std::size_t>(w) * h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                float s = 0;
                for (int k = 0; k <= 2 * Radius; ++k) s += kernel[k] * across[static_cast<std::size_t>(y + k) * w + x];
                blurred[p][static_cast<std::size_t>(y) * w + x] = s;
            }
    }
    constexpr double C1 = (0.01 * 255) * (0.01 * 255), C2 = (0.03 * 255) * (0.03 * 255);
    double total = 0;
    for (std::size_t i = 0; i < blurred[0].size(); ++i) {
        const double ma = blurred[0][i], mb = blurred[1][i];
        const double va = blurred[2][i] - ma * ma, vb = blurred[3][i] - mb * mb, cov = blurred[4][i] - ma * mb;
        total += ((2 * ma * mb + C1) * (2 * cov + C2)) / ((ma * ma + mb * mb + C1) * (va + vb + C2));
    }
    return total / double(blurred[0].size());
}

// Any output decoded to rows of blue, green, red.
std::vector<std::uint8_t> Decode(const std::string& format, const Bytes& bytes, int width, int height)
{
    std::vector<std::uint8_t> bgr(static_cast<std::size_t>(width) * height * 3);
    if (format == "jpg") {
        TJPEGImage jpeg;
        jpeg.loadFromBytes(bytes);
        Raster24 r;
        jpeg.decodeInto(r);
        r.make24Bit();
        for (int y = 0; y < height; ++y) std::memcpy(&bgr[static_cast<std::size_t>(y) * width * 3], r.scanLine(y), width * 3u);
    } else if (format == "webp") {
        WebPDecodeBGRInto(bytes.data(), bytes.size(), bgr.data(), bgr.size(), width * 3);
    } else if (format == "avif") {
        avifDecoder* decoder = avifDecoderCreate();
        avifImage* image = avifImageCreateEmpty();
        avifDecoderReadMemory(decoder, image, bytes.data(), bytes.size());
        avifRGBImage rgb;
        avifRGBImageSetDefaults(&rgb, image);
        rgb.format = AVIF_RGB_FORMAT_BGR;
        rgb.pixels = bgr.data();
        rgb.rowBytes = static_cast<uint32_t>(width * 3);
        avifImageYUVToRGB(image, &rgb);
        avifImageDestroy(image);
        avifDecoderDestroy(decoder);
    } else if (format == "jxl") {
        JxlDecoder* d = JxlDecoderCreate(nullptr);
        JxlDecoderSubscribeEvents(d, JXL_DEC_FULL_IMAGE);
        JxlDecoderSetInput(d, bytes.data(), bytes.size());
        JxlDecoderCloseInput(d);
        const JxlPixelFormat pf = {3, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
        std::vector<std::uint8_t> rgb(bgr.size());
        for (JxlDecoderStatus s; (s = JxlDecoderProcessInput(d)) != JXL_DEC_SUCCESS && s != JXL_DEC_ERROR;)
            if (s == JXL_DEC_NEED_IMAGE_OUT_BUFFER) JxlDecoderSetImageOutBuffer(d, &pf, rgb.data(), rgb.size());
            else if (s == JXL_DEC_FULL_IMAGE) break;
        JxlDecoderDestroy(d);
        for (std::size_t i = 0; i < rgb.size(); i += 3) {
            bgr[i] = rgb[i + 2];
            bgr[i + 1] = rgb[i + 1];
            bgr[i + 2] = rgb[i];
        }
    }
    return bgr;
}

struct Photo {
    Raster24 reduced;
    std::vector<float> luma;
};

std::vector<Photo> LoadPhotos(const std::vector<std::string>& paths)
{
    std::vector<Photo> photos;
    BatchModel model;
    model.format = InputFormat::Auto;  // 800 x 600 by default
    for (const std::string& path : paths) {
        Photo p;
        p.reduced = std::move(ReduceEach(model, path, path).outputs.front().colour);
        p.luma = Luma(p.reduced.scanLine(0), p.reduced.width(), p.reduced.height(), p.reduced.rowStep());
        photos.push_back(std::move(p));
    }
    return photos;
}

struct Result {
    double ssim = 0;    // mean over the photos
    double bytes = 0;   // total
    double ms = 0;      // median encode time a picture
};

using Encoder = std::function<Bytes(const EncoderPicture&)>;

// Processor time of the whole process, the encoders' own threads included:
// what a picture costs at one job, however busy the shared machine is.
double ThreadMs()
{
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

Result Measure(const std::vector<Photo>& photos, const std::string& format, const Encoder& encode, bool timed)
{
    Result r;
    std::vector<double> times;
    for (const Photo& p : photos) {
        const EncoderPicture picture = PictureOf(p.reduced);
        const double start = ThreadMs();
        const Bytes bytes = encode(picture);
        times.push_back(ThreadMs() - start);
        if (timed)  // the best of three
            for (int i = 0; i < 2; ++i) {
                const double again = ThreadMs();
                encode(picture);
                times.back() = std::min(times.back(), ThreadMs() - again);
            }
        r.bytes += double(bytes.size());
        const std::vector<std::uint8_t> decoded = Decode(format, bytes, picture.width, picture.height);
        r.ssim += Ssim(p.luma, Luma(decoded.data(), picture.width, picture.height, picture.width * 3), picture.width,
                       picture.height);
    }
    r.ssim /= double(photos.size());
    std::sort(times.begin(), times.end());
    r.ms = times[times.size() / 2];
    return r;
}

Encoder AtQuality(const OutputFormat& format, int quality)
{
    return [&format, quality](const EncoderPicture& p) { return format.encode(p, {.quality = quality}); };
}

// The setting in [better, worse] whose mean SSIM meets `target`: bisection,
// whole numbers only when `integral`.
double Meet(const std::vector<Photo>& photos, const std::string& format, const std::function<Encoder(double)>& at,
            double target, double better, double worse, bool integral)
{
    for (int step = 0; step < 14; ++step) {
        if (integral && std::abs(better - worse) <= 1) break;
        double middle = (better + worse) / 2;
        if (integral) middle = std::round(middle);
        if (Measure(photos, format, at(middle), false).ssim >= target) better = middle;
        else worse = middle;
    }
    if (!integral) return (better + worse) / 2;
    // The whole number nearer the target.
    const double a = Measure(photos, format, at(better), false).ssim, b = Measure(photos, format, at(worse), false).ssim;
    return std::abs(a - target) <= std::abs(b - target) ? better : worse;
}

// The qualities measured: QUALITIES ("30 50 75") when set.
std::vector<int> Qualities(std::vector<int> qualities)
{
    if (const char* list = std::getenv("QUALITIES")) {
        qualities.clear();
        for (const char* at = list; *at;) {
            char* end;
            qualities.push_back(static_cast<int>(std::strtol(at, &end, 10)));
            at = *end ? end + 1 : end;
        }
    }
    return qualities;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "table";
    std::vector<std::string> paths(argv + std::min(argc, 2), argv + argc);
    if (paths.empty())
        for (const char* name : DefaultPhotos)
            paths.push_back(std::string("/usr/share/wallpapers/") + name + "/contents/images/2560x1600.jpg");
    const std::vector<Photo> photos = LoadPhotos(paths);
    std::printf("%zu photos reduced to %dx%d ...\n", photos.size(), photos[0].reduced.width(), photos[0].reduced.height());
    const OutputFormat& jpeg = DefaultOutputFormat();

    if (mode == "table") {
        std::printf("%-6s %4s  %-16s %7s %8s %7s %9s\n", "format", "Q", "setting", "SSIM", "vs JPEG", "bytes", "ms/pic");
        for (const int q : Qualities({30, 50, 60, 75, 85, 90})) {
            const Result base = Measure(photos, "jpg", AtQuality(jpeg, q), true);
            for (const OutputFormat& format : OutputFormats()) {
                const Result r = &format == &jpeg ? base : Measure(photos, format.name, AtQuality(format, q), true);
                std::printf("%-6s %4d  %-16s %7.4f %+8.4f %7.3f %9.1f\n", format.name, q, format.setting(q).c_str(),
                            r.ssim, r.ssim - base.ssim, r.bytes / base.bytes, r.ms);
            }
        }
    } else if (mode.starts_with("calibrate")) {
        // "calibrate:webp" calibrates WebP alone.
        const auto wanted = [&mode](const char* format) {
            return mode == "calibrate" || mode.substr(mode.find(':') + 1) == format;
        };
        std::printf("%4s %7s  %-24s %-24s %-24s\n", "Q", "SSIM", "webp quality", "avif quantizer", "jxl distance");
        for (const int q : Qualities({5, 15, 30, 45, 60, 70, 75, 80, 85, 90, 95})) {
            const double target = Measure(photos, "jpg", AtQuality(jpeg, q), false).ssim;
            const double webp = !wanted("webp") ? 0 : Meet(photos, "webp", [](double s) {
                return [s](const EncoderPicture& p) {
                    return EncodeWebpWith(p, s, nullptr);
                };
            }, target, 100, 0, false);
            const double avif = !wanted("avif") ? 0 : Meet(photos, "avif", [](double s) {
                return [s](const EncoderPicture& p) { return EncodeAvifWith(p, int(s), AvifCodec, AvifSpeed, AvifTune, nullptr); };
            }, target, 0, 63, true);
            const double jxl = !wanted("jxl") ? 0 : Meet(photos, "jxl", [](double s) {
                return [s](const EncoderPicture& p) { return EncodeJxlWith(p, s, nullptr); };
            }, target, 0.1, 25, false);
            std::printf("%4d %7.4f  %-24.2f %-24.0f %-24.3f\n", q, target, webp, avif, jxl);
            std::fflush(stdout);
        }
    } else if (mode == "avif-codecs") {
        const Result base = Measure(photos, "jpg", AtQuality(jpeg, 75), true);
        std::printf("JPEG Q75: SSIM %.4f, %.0f bytes, %.1f ms a picture\n", base.ssim, base.bytes / double(photos.size()),
                    base.ms);
        std::printf("%-6s %5s %5s %9s %7s %7s %9s\n", "codec", "speed", "tune", "quantizer", "SSIM", "bytes", "ms/pic");
        const struct { const char* codec; int speed; const char* tune; } choices[] = {
            {"aom", 6, nullptr}, {"aom", 7, nullptr}, {"aom", 8, nullptr}, {"aom", 9, nullptr}, {"aom", 7, "ssim"},
            {"aom", 8, "ssim"},  {"aom", 9, "ssim"},  {"svt", 8, nullptr}, {"svt", 10, nullptr}, {"rav1e", 8, nullptr},
            {"rav1e", 10, nullptr}};
        for (const auto& c : choices) {
            const auto at = [&c](double s) {
                return [&c, s](const EncoderPicture& p) { return EncodeAvifWith(p, int(s), c.codec, c.speed, c.tune, nullptr); };
            };
            const double quantizer = Meet(photos, "avif", at, base.ssim, 0, 63, true);
            const Result r = Measure(photos, "avif", at(quantizer), true);
            std::printf("%-6s %5d %5s %9.0f %7.4f %7.3f %9.1f\n", c.codec, c.speed, c.tune ? c.tune : "-", quantizer,
                        r.ssim, r.bytes / base.bytes, r.ms);
            std::fflush(stdout);
        }
    } else {
        std::fprintf(stderr, "usage: quality_bench table|calibrate|avif-codecs [PHOTO...]\n");
        return 2;
    }
    return 0;
}
