#include "codecs/Encoders.h"

#include <memory>

#include <webp/encode.h>
#include <webp/mux.h>

namespace pictavo {
namespace {

const char* WebpReason(WebPEncodingError error)
{
    switch (error) {
    case VP8_ENC_ERROR_OUT_OF_MEMORY:
    case VP8_ENC_ERROR_BITSTREAM_OUT_OF_MEMORY: return "out of memory";
    case VP8_ENC_ERROR_BAD_DIMENSION: return "the picture is larger than 16383 x 16383 pixels";
    case VP8_ENC_ERROR_PARTITION0_OVERFLOW:
    case VP8_ENC_ERROR_PARTITION_OVERFLOW: return "the picture's data is too large for one partition";
    case VP8_ENC_ERROR_FILE_TOO_BIG: return "the file would be larger than 4 GiB";
    default: return "the encoder failed";
    }
}

struct Picture {
    WebPPicture p;
    Picture() { WebPPictureInit(&p); }
    ~Picture() { WebPPictureFree(&p); }
};

struct Writer {
    WebPMemoryWriter w;
    Writer() { WebPMemoryWriterInit(&w); }
    ~Writer() { WebPMemoryWriterClear(&w); }
};

struct Mux {
    WebPMux* mux;
    explicit Mux(const WebPData& image) : mux(WebPMuxCreate(&image, 0)) {}
    ~Mux() { WebPMuxDelete(mux); }
};

void AddChunk(WebPMux* mux, const char* fourcc, const std::string& body)
{
    if (body.empty()) return;
    const WebPData data{reinterpret_cast<const std::uint8_t*>(body.data()), body.size()};
    if (WebPMuxSetChunk(mux, fourcc, &data, 0) != WEBP_MUX_OK) RaiseEncodeError("WebP", "the metadata was refused");
}

}  // namespace

double WebpQuality(int quality)
{
    return SettingFor({{5, 0}, {15, 8.19}, {30, 25.22}, {45, 37.32}, {60, 47.71}, {70, 58.76}, {75, 66.81}, {80, 75.56},
                       {85, 79.64}, {90, 85.21}, {95, 92.64}, {100, 100}},
                      quality);
}

std::vector<std::uint8_t> EncodeWebp(const EncoderPicture& picture, const EncodeSettings& settings)
{
    return EncodeWebpWith(picture, WebpQuality(settings.quality), settings.metadata);
}

std::vector<std::uint8_t> EncodeWebpWith(const EncoderPicture& picture, double quality, const OutputMetadata* metadata)
{
    WebPConfig config;
    if (!WebPConfigPreset(&config, WEBP_PRESET_PHOTO, static_cast<float>(quality)))
        RaiseEncodeError("WebP", "the library does not match its header");
    config.method = 4;
    config.thread_level = 0;
    config.exact = 0;
    Picture pic;
    pic.p.width = picture.width;
    pic.p.height = picture.height;
    if (picture.width > WEBP_MAX_DIMENSION || picture.height > WEBP_MAX_DIMENSION)
        RaiseEncodeError("WebP", WebpReason(VP8_ENC_ERROR_BAD_DIMENSION));
    int imported = 0;
    if (picture.bgra) {
        imported = WebPPictureImportBGRA(&pic.p, picture.pixels, static_cast<int>(picture.stride));
    } else if (picture.alpha) {
        std::vector<std::uint8_t> rgba(static_cast<std::size_t>(picture.width) * 4 * picture.height);
        for (int y = 0; y < picture.height; ++y)
            RowToRgb(picture, y, rgba.data() + static_cast<std::size_t>(y) * picture.width * 4, true);
        imported = WebPPictureImportRGBA(&pic.p, rgba.data(), picture.width * 4);
    } else {
        imported = WebPPictureImportBGR(&pic.p, picture.pixels, static_cast<int>(picture.stride));
    }
    if (!imported) RaiseEncodeError("WebP", WebpReason(pic.p.error_code));
    Writer writer;
    pic.p.writer = WebPMemoryWrite;
    pic.p.custom_ptr = &writer.w;
    if (!WebPEncode(&config, &pic.p)) RaiseEncodeError("WebP", WebpReason(pic.p.error_code));
    const bool withMetadata = metadata && (!metadata->exif.empty() || !metadata->xmp.empty());
    if (!withMetadata) return {writer.w.mem, writer.w.mem + writer.w.size};

    const Mux mux(WebPData{writer.w.mem, writer.w.size});
    if (!mux.mux) RaiseEncodeError("WebP", "the encoded picture could not be read back for its metadata");
    AddChunk(mux.mux, "EXIF", metadata->exif);
    AddChunk(mux.mux, "XMP ", metadata->xmp);
    WebPData assembled;
    WebPDataInit(&assembled);
    if (WebPMuxAssemble(mux.mux, &assembled) != WEBP_MUX_OK) RaiseEncodeError("WebP", "the metadata was refused");
    std::vector<std::uint8_t> bytes(assembled.bytes, assembled.bytes + assembled.size);
    WebPDataClear(&assembled);
    return bytes;
}

}  // namespace pictavo
