#include "codecs/Encoders.h"

#include <memory>

#include "codecs/EncoderLibraries.h"

namespace pictavo {
namespace {

constexpr int Effort = 3;

struct Encoder {
    JxlEncoder* encoder = Jxl().JxlEncoderCreate(nullptr);
    ~Encoder() { Jxl().JxlEncoderDestroy(encoder); }
};

void Check(JxlEncoder* encoder, JxlEncoderStatus status)
{
    if (status == JXL_ENC_SUCCESS) return;
    switch (Jxl().JxlEncoderGetError(encoder)) {
    case JXL_ENC_ERR_OOM: RaiseEncodeError("JPEG XL", "out of memory");
    case JXL_ENC_ERR_BAD_INPUT: RaiseEncodeError("JPEG XL", "the picture was refused");
    case JXL_ENC_ERR_NOT_SUPPORTED: RaiseEncodeError("JPEG XL", "not supported by the library");
    default: RaiseEncodeError("JPEG XL", "the encoder failed");
    }
}

void AddBox(JxlEncoder* encoder, const char* type, const std::string& body)
{
    const JxlBoxType box = {type[0], type[1], type[2], type[3]};
    Check(encoder, Jxl().JxlEncoderAddBox(encoder, box, reinterpret_cast<const uint8_t*>(body.data()), body.size(), JXL_FALSE));
}

}  // namespace

double JxlDistance(int quality)
{
    return SettingFor({{5, 25}, {15, 10.16}, {30, 5.29}, {45, 4.27}, {60, 3.51}, {70, 2.63}, {75, 2.32}, {80, 1.94},
                       {85, 1.54}, {90, 1.08}, {95, 0.57}, {100, 0.1}},
                      quality);
}

std::vector<std::uint8_t> EncodeJxl(const EncoderPicture& picture, const EncodeSettings& settings)
{
    return EncodeJxlWith(picture, JxlDistance(settings.quality), settings.metadata);
}

std::vector<std::uint8_t> EncodeJxlWith(const EncoderPicture& picture, double distance, const OutputMetadata* metadata)
{
    const Encoder enc;
    if (!enc.encoder) RaiseEncodeError("JPEG XL", "out of memory");
    JxlEncoder* e = enc.encoder;
    const bool alpha = picture.hasAlpha();
    const int channels = alpha ? 4 : 3;

    const bool boxes = metadata && (!metadata->exif.empty() || !metadata->xmp.empty());
    if (boxes) Check(e, Jxl().JxlEncoderUseBoxes(e));

    JxlBasicInfo info;
    Jxl().JxlEncoderInitBasicInfo(&info);
    info.xsize = static_cast<uint32_t>(picture.width);
    info.ysize = static_cast<uint32_t>(picture.height);
    info.bits_per_sample = 8;
    info.num_color_channels = 3;
    info.uses_original_profile = JXL_FALSE;
    if (alpha) {
        info.num_extra_channels = 1;
        info.alpha_bits = 8;
    }
    Check(e, Jxl().JxlEncoderSetBasicInfo(e, &info));
    JxlColorEncoding colour;
    Jxl().JxlColorEncodingSetToSRGB(&colour, JXL_FALSE);
    Check(e, Jxl().JxlEncoderSetColorEncoding(e, &colour));

    if (boxes) {
        // The Exif box starts with the offset of the TIFF header in what follows.
        if (!metadata->exif.empty()) AddBox(e, "Exif", std::string(4, '\0') + metadata->exif);
        if (!metadata->xmp.empty()) AddBox(e, "xml ", metadata->xmp);
        Jxl().JxlEncoderCloseBoxes(e);
    }

    JxlEncoderFrameSettings* frame = Jxl().JxlEncoderFrameSettingsCreate(e, nullptr);
    Check(e, Jxl().JxlEncoderFrameSettingsSetOption(frame, JXL_ENC_FRAME_SETTING_EFFORT, Effort));
    Check(e, Jxl().JxlEncoderSetFrameDistance(frame, static_cast<float>(distance)));

    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(picture.width) * channels * picture.height);
    for (int y = 0; y < picture.height; ++y)
        RowToRgb(picture, y, rgb.data() + static_cast<std::size_t>(y) * picture.width * channels, alpha);
    const JxlPixelFormat format = {static_cast<uint32_t>(channels), JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
    Check(e, Jxl().JxlEncoderAddImageFrame(frame, &format, rgb.data(), rgb.size()));
    Jxl().JxlEncoderCloseInput(e);
    rgb = {};

    std::vector<std::uint8_t> bytes(64 * 1024);
    std::size_t used = 0;
    for (;;) {
        std::uint8_t* next = bytes.data() + used;
        std::size_t available = bytes.size() - used;
        const JxlEncoderStatus status = Jxl().JxlEncoderProcessOutput(e, &next, &available);
        used = static_cast<std::size_t>(next - bytes.data());
        if (status != JXL_ENC_NEED_MORE_OUTPUT) {
            Check(e, status);
            break;
        }
        bytes.resize(bytes.size() * 2);
    }
    bytes.resize(used);
    return bytes;
}

}  // namespace pictavo
