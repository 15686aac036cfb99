// The encoders behind the output format table.
#pragma once

#include "codecs/OutputFormats.h"

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace pictavo {

// A point of an encoder's quality curve: JPEG quality `quality` gives the
// same luma SSIM on photographs as the encoder's `setting`.
struct QualityPoint {
    int quality;
    double setting;
};
// The setting for `quality`, straight between the two points around it.
double SettingFor(std::initializer_list<QualityPoint> curve, int quality);

std::vector<std::uint8_t> EncodeJpeg(const EncoderPicture& picture, const EncodeSettings& settings);
std::vector<std::uint8_t> EncodeWebp(const EncoderPicture& picture, const EncodeSettings& settings);
std::vector<std::uint8_t> EncodeAvif(const EncoderPicture& picture, const EncodeSettings& settings);
std::vector<std::uint8_t> EncodeJxl(const EncoderPicture& picture, const EncodeSettings& settings);
std::vector<std::uint8_t> EncodePng(const EncoderPicture& picture, const EncodeSettings& settings);

// The encoders at their own settings, for the benchmark that calibrates
// them: WebP quality 0 to 100, AVIF quantizer 0 to 63 with a chosen AV1
// encoder ("aom", "svt", "rav1e"), speed and tuning (an aomenc --tune
// value, or none), JPEG XL distance.
std::vector<std::uint8_t> EncodeWebpWith(const EncoderPicture& picture, double quality, const OutputMetadata* metadata);
std::vector<std::uint8_t> EncodeAvifWith(const EncoderPicture& picture, int quantizer, const char* codec, int speed,
                                         const char* tune, const OutputMetadata* metadata);
std::vector<std::uint8_t> EncodeJxlWith(const EncoderPicture& picture, double distance, const OutputMetadata* metadata);
inline constexpr const char* AvifCodec = "aom";
// Measured by bench/quality_bench: aom at speed 7 meets JPEG's SSIM with
// 0.58 of its bytes in 0.15 s a picture; speed 8 needs 0.61, SVT-AV1 and
// rav1e take two to three times as long, and tuning for SSIM changes nothing.
inline constexpr int AvifSpeed = 7;
inline constexpr const char* AvifTune = nullptr;

double WebpQuality(int quality);
int AvifQuantizer(int quality);
double JxlDistance(int quality);

}  // namespace pictavo
