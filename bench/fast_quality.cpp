// How far --fast lies from the exact output: each picture reduced both ways
// to WxH (the rasters before encoding, so the encoder's own loss does not
// blur the comparison), with its PSNR and mean absolute difference per
// channel, and the worst of each.
//   fast_quality WxH FILE...
#include "batch/Pipeline.h"
#include "imaging/ColourProfile.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

using namespace pictavo;

namespace {

Raster24 Reduced(const std::string& path, TargetSize target, bool fast)
{
    const std::unique_ptr<PictureSource> source = OpenPicture(path, path, InputFormat::Auto);
    const ReductionPlan plan = PlanFor(source->header(), target, false);
    const int factor = fast ? DecodeFewerPixels(*source, {plan}) : 1;
    Raster24 reduced = std::move(Reduce(*source, {plan}, factor).front().colour);
    ConvertToSrgb(reduced, source->header().gray ? std::vector<std::uint8_t>() : source->header().iccProfile);
    return reduced;
}

}  // namespace

int main(int argc, char** argv)
{
    int w = 0, h = 0;
    if (argc < 3 || std::sscanf(argv[1], "%dx%d", &w, &h) != 2) {
        std::fprintf(stderr, "usage: fast_quality WxH FILE...\n");
        return 2;
    }
    const TargetSize target{static_cast<float>(w), static_cast<float>(h)};
    double worstPsnr = INFINITY, worstMean = 0;
    for (int f = 2; f < argc; ++f) {
        const Raster24 exact = Reduced(argv[f], target, false);
        const Raster24 fast = Reduced(argv[f], target, true);
        if (exact.width() != fast.width() || exact.height() != fast.height()) {
            std::printf("%s: sizes differ\n", argv[f]);
            return 1;
        }
        double squares = 0, absolutes = 0;
        const std::size_t count = 3 * static_cast<std::size_t>(exact.width()) * exact.height();
        for (int y = 0; y < exact.height(); ++y) {
            const std::uint8_t* a = exact.scanLine(y);
            const std::uint8_t* b = fast.scanLine(y);
            for (int i = 0; i < 3 * exact.width(); ++i) {
                const double d = double(a[i]) - double(b[i]);
                squares += d * d;
                absolutes += std::abs(d);
            }
        }
        const double psnr = squares == 0 ? INFINITY : 10 * std::log10(255.0 * 255.0 * count / squares);
        const double mean = absolutes / count;
        worstPsnr = std::min(worstPsnr, psnr);
        worstMean = std::max(worstMean, mean);
        std::printf("%-40s %5dx%-5d  PSNR %6.2f dB  mean abs diff %5.3f\n", argv[f], exact.width(), exact.height(),
                    psnr, mean);
    }
    std::printf("worst at %dx%d: PSNR %.2f dB (target >= 40), mean abs diff %.3f (target <= 1.0)\n", w, h, worstPsnr,
                worstMean);
    return worstPsnr >= 40 && worstMean <= 1.0 ? 0 : 1;
}
