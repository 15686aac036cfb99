#include "codecs/Encoders.h"

#include "codecs/EncoderLibraries.h"

namespace pictavo {
namespace {

struct Image {
    avifImage* image;
    Image(int width, int height)
        : image(Avif().avifImageCreate(static_cast<uint32_t>(width), static_cast<uint32_t>(height), 8, AVIF_PIXEL_FORMAT_YUV420))
    {
    }
    ~Image() { Avif().avifImageDestroy(image); }
};

struct Encoder {
    avifEncoder* encoder = Avif().avifEncoderCreate();
    ~Encoder() { Avif().avifEncoderDestroy(encoder); }
};

struct Output {
    avifRWData data = AVIF_DATA_EMPTY;
    ~Output() { Avif().avifRWDataFree(&data); }
};

void Check(avifResult result, const avifDiagnostics* diagnostics = nullptr)
{
    if (result == AVIF_RESULT_OK) return;
    std::string reason = Avif().avifResultToString(result);
    if (diagnostics && diagnostics->error[0]) reason += std::string(" (") + diagnostics->error + ")";
    RaiseEncodeError("AVIF", reason);
}

}  // namespace

int AvifQuantizer(int quality)
{
    return static_cast<int>(SettingFor({{1, 63}, {10, 52}, {30, 40}, {50, 35}, {75, 29}, {90, 17}, {97, 5}, {100, 0}}, quality) + 0.5);
}

std::vector<std::uint8_t> EncodeAvifWith(const EncoderPicture& picture, int quantizer, const char* codec, int speed,
                                         const char* tune, const OutputMetadata* metadata)
{
    const Image image(picture.width, picture.height);
    if (!image.image) RaiseEncodeError("AVIF", "out of memory");
    avifRGBImage rgb;
    Avif().avifRGBImageSetDefaults(&rgb, image.image);
    std::vector<std::uint8_t> rows;
    if (picture.alpha || picture.stride < 0) {
        // The library reads one interleaved layout, top row first.
        const int channels = picture.hasAlpha() ? 4 : 3;
        rows.resize(static_cast<std::size_t>(picture.width) * channels * picture.height);
        for (int y = 0; y < picture.height; ++y)
            RowToRgb(picture, y, rows.data() + static_cast<std::size_t>(y) * picture.width * channels, channels == 4);
        rgb.format = channels == 4 ? AVIF_RGB_FORMAT_RGBA : AVIF_RGB_FORMAT_RGB;
        rgb.pixels = rows.data();
        rgb.rowBytes = static_cast<uint32_t>(picture.width * channels);
    } else {
        rgb.format = picture.bgra ? AVIF_RGB_FORMAT_BGRA : AVIF_RGB_FORMAT_BGR;
        rgb.pixels = const_cast<std::uint8_t*>(picture.pixels);  // only read
        rgb.rowBytes = static_cast<uint32_t>(picture.stride);
    }
    Check(Avif().avifImageRGBToYUV(image.image, &rgb));
    if (metadata) {
        if (!metadata->exif.empty())
            Avif().avifImageSetMetadataExif(image.image, reinterpret_cast<const uint8_t*>(metadata->exif.data()),
                                     metadata->exif.size());
        if (!metadata->xmp.empty())
            Avif().avifImageSetMetadataXMP(image.image, reinterpret_cast<const uint8_t*>(metadata->xmp.data()),
                                    metadata->xmp.size());
    }
    const Encoder encoder;
    if (!encoder.encoder) RaiseEncodeError("AVIF", "out of memory");
    encoder.encoder->codecChoice = Avif().avifCodecChoiceFromName(codec);
    encoder.encoder->maxThreads = 1;
    encoder.encoder->speed = speed;
    encoder.encoder->minQuantizer = encoder.encoder->maxQuantizer = quantizer;
    encoder.encoder->minQuantizerAlpha = encoder.encoder->maxQuantizerAlpha = 0;  // edges stay exact
    if (tune) Avif().avifEncoderSetCodecSpecificOption(encoder.encoder, "tune", tune);
    Output output;
    Check(Avif().avifEncoderWrite(encoder.encoder, image.image, &output.data), &encoder.encoder->diag);
    return {output.data.data, output.data.data + output.data.size};
}

std::vector<std::uint8_t> EncodeAvif(const EncoderPicture& picture, const EncodeSettings& settings)
{
    return EncodeAvifWith(picture, AvifQuantizer(settings.quality), AvifCodec, AvifSpeed, AvifTune, settings.metadata);
}

}  // namespace pictavo
