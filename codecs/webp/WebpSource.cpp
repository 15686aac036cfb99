#include "codecs/webp/WebpSource.h"

#include "base/Errors.h"
#include "base/MemoryBudget.h"
#include "base/Files.h"
#include "codecs/Exif.h"
#include "codecs/SampleRows.h"
#include "codecs/jpeg/TJPEGImage.h"
#include "imaging/ColourProfile.h"
#include "imaging/Raster24.h"

#include <algorithm>
#include <cstring>

#include <webp/decode.h>
#include <webp/demux.h>

namespace pictavo {
namespace {

constexpr std::size_t SignatureSize = 12;
constexpr std::uint64_t LossyDecoderMemory = 256 << 10;  // contexts and a few macroblock rows
constexpr int LosslessFormat = 2;                        // WebPBitstreamFeatures::format

[[noreturn]] void Fail(const std::string& reason)
{
    throw EInvalidGraphic(LibraryErrorText("WebP", reason));
}

[[noreturn]] void Fail(VP8StatusCode status)
{
    switch (status) {
    case VP8_STATUS_OUT_OF_MEMORY: throw EOutOfMemory();
    case VP8_STATUS_INVALID_PARAM: Fail("invalid parameter");
    case VP8_STATUS_UNSUPPORTED_FEATURE: Fail("unsupported feature");
    case VP8_STATUS_NOT_ENOUGH_DATA: Fail("file ends too early");
    default: Fail("bitstream error");
    }
}

struct DemuxDeleter {
    void operator()(WebPDemuxer* d) const { WebPDemuxDelete(d); }
};
using Demuxer = std::unique_ptr<WebPDemuxer, DemuxDeleter>;

class WebpSource : public PictureSource {
public:
    explicit WebpSource(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) { readHeader(); }
    const PictureHeader& header() const override { return header_; }
    DecodeWarnings warnings() const override { return warnings_; }
    void readRows(const RowSink& sink) override;
    std::span<const std::uint8_t> fileBytes() const override { return bytes_; }

private:
    Demuxer demux() const;
    void readHeader();
    // Decodes the frame into `pixels`: the rows it could decode, all of
    // them unless the data is cut short or damaged.
    int decode(const WebPData& fragment, std::uint8_t* pixels, std::size_t stride, std::size_t size, bool complete);

    std::vector<std::uint8_t> bytes_;
    PictureHeader header_;
    DecodeWarnings warnings_;
};

Demuxer WebpSource::demux() const
{
    const WebPData data{bytes_.data(), bytes_.size()};
    Demuxer d(WebPDemux(&data));
    if (d) return d;
    // A file cut short still holds the start of its first frame.
    WebPDemuxState state = WEBP_DEMUX_PARSE_ERROR;
    Demuxer partial(WebPDemuxPartial(&data, &state));
    WebPIterator frame;
    if (partial && state == WEBP_DEMUX_PARSED_HEADER && WebPDemuxGetFrame(partial.get(), 1, &frame)) {
        WebPDemuxReleaseIterator(&frame);
        return partial;
    }
    Fail(partial && state != WEBP_DEMUX_PARSE_ERROR ? "file ends too early" : "not a valid WebP container");
}

int WebpSource::decode(const WebPData& fragment, std::uint8_t* pixels, std::size_t stride, std::size_t size,
                       bool complete)
{
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config)) Fail("library version mismatch");
    config.output.colorspace = MODE_BGRA;
    config.output.is_external_memory = 1;
    config.output.u.RGBA.rgba = pixels;
    config.output.u.RGBA.stride = static_cast<int>(stride);
    config.output.u.RGBA.size = size;
    VP8StatusCode status = complete ? WebPDecode(fragment.bytes, fragment.size, &config) : VP8_STATUS_NOT_ENOUGH_DATA;
    WebPFreeDecBuffer(&config.output);
    if (status == VP8_STATUS_OK) return static_cast<int>(size / stride);
    if (status == VP8_STATUS_OUT_OF_MEMORY) Fail(status);
    // Damaged or cut short: decoded again row by row, to keep what it can.
    int rows = 0;
    if (WebPIDecoder* rowwise = WebPINewDecoder(&config.output)) {
        status = WebPIUpdate(rowwise, fragment.bytes, fragment.size);
        if (!WebPIDecGetRGB(rowwise, &rows, nullptr, nullptr, nullptr)) rows = 0;
        WebPIDelete(rowwise);
    }
    if (rows <= 0 || status == VP8_STATUS_OUT_OF_MEMORY) Fail(status == VP8_STATUS_SUSPENDED ? VP8_STATUS_NOT_ENOUGH_DATA : status);
    warnings_ = {1, complete ? "Corrupt WebP data" : "Premature end of WebP file"};
    return rows;
}

void WebpSource::readHeader()
{
    const Demuxer d = demux();
    header_.width = static_cast<int>(WebPDemuxGetI(d.get(), WEBP_FF_CANVAS_WIDTH));
    header_.height = static_cast<int>(WebPDemuxGetI(d.get(), WEBP_FF_CANVAS_HEIGHT));
    WebPIterator frame;
    if (!WebPDemuxGetFrame(d.get(), 1, &frame)) Fail("no frame");
    WebPBitstreamFeatures features;
    const VP8StatusCode status = WebPGetFeatures(frame.fragment.bytes, frame.fragment.size, &features);
    const bool lossless = status == VP8_STATUS_OK && features.format == LosslessFormat;
    // The canvas around a smaller first frame is transparent too.
    header_.alpha = (status == VP8_STATUS_OK && features.has_alpha) || frame.width != header_.width ||
                    frame.height != header_.height;
    WebPDemuxReleaseIterator(&frame);
    if (status != VP8_STATUS_OK) Fail(status);

    // The first frame is decoded whole, as BGRA; a lossless one also keeps
    // its own ARGB picture while it decodes.
    const std::uint64_t framePixels = std::uint64_t(features.width) * std::uint64_t(features.height);
    header_.decodeMemory = bytes_.size() + 4 * framePixels + (lossless ? 4 * framePixels : LossyDecoderMemory);
    CheckDeclaredMemory(header_);

    const std::uint32_t flags = WebPDemuxGetI(d.get(), WEBP_FF_FORMAT_FLAGS);
    WebPChunkIterator chunk;
    if ((flags & ICCP_FLAG) && WebPDemuxGetChunk(d.get(), "ICCP", 1, &chunk)) {
        if (chunk.chunk.size <= LargestProfile)
            header_.iccProfile.assign(chunk.chunk.bytes, chunk.chunk.bytes + chunk.chunk.size);
        WebPDemuxReleaseChunkIterator(&chunk);
        header_.decodeMemory += ProfileMemory(header_.iccProfile.size());
    }
    if ((flags & EXIF_FLAG) && WebPDemuxGetChunk(d.get(), "EXIF", 1, &chunk)) {
        // Some writers put the JPEG prefix in front of the TIFF block.
        header_.orientation = EitherExifOrientation(chunk.chunk.bytes, chunk.chunk.size);
        WebPDemuxReleaseChunkIterator(&chunk);
    }
}

void WebpSource::readRows(const RowSink& sink)
{
    const Demuxer d = demux();
    WebPIterator frame;
    if (!WebPDemuxGetFrame(d.get(), 1, &frame)) Fail("no frame");
    const WebPData fragment = frame.fragment;
    const bool complete = frame.complete != 0;
    const int left = frame.x_offset, top = frame.y_offset, width = frame.width, height = frame.height;
    WebPDemuxReleaseIterator(&frame);
    if (left < 0 || top < 0 || width <= 0 || height <= 0 || left + width > header_.width || top + height > header_.height)
        Fail("frame outside the canvas");

    const std::size_t stride = 4 * static_cast<std::size_t>(width);
    PixelBuffer pixels;
    WithMemoryErrors([&] { pixels.resize(stride * static_cast<std::size_t>(height)); });
    const int decoded = decode(fragment, pixels.data(), stride, pixels.size(), complete);
    // Rows the data does not reach are black.
    for (std::size_t i = stride * static_cast<std::size_t>(decoded); i < pixels.size(); i += 4)
        pixels[i] = pixels[i + 1] = pixels[i + 2] = 0, pixels[i + 3] = 255;

    // Canvas outside the first frame is transparent: the background, or
    // no alpha at all.
    const SampleLayout layout{.channels = 4, .bgr = true, .keepAlpha = keepsAlpha(), .background = delivery_.background};
    const std::size_t bytes = keepsAlpha() ? 4 : 3;
    std::vector<std::uint8_t> canvas(bytes * static_cast<std::size_t>(header_.width));
    for (std::size_t x = 0; !keepsAlpha() && x < canvas.size(); ++x) canvas[x] = layout.background[x % 3];
    std::vector<std::uint8_t> row = canvas;
    for (int y = 0; y < header_.height; ++y) {
        if (y >= top && y < top + height)
            SamplesToBgr(pixels.data() + stride * static_cast<std::size_t>(y - top), width, layout,
                         row.data() + bytes * static_cast<std::size_t>(left));
        sink(row.data());
        if (y == top + height - 1) row = canvas;
    }
}

}  // namespace

bool IsWebpSignature(const std::uint8_t* bytes, std::size_t size)
{
    return size >= SignatureSize && std::memcmp(bytes, "RIFF", 4) == 0 && std::memcmp(bytes + 8, "WEBP", 4) == 0;
}

std::unique_ptr<PictureSource> OpenWebpSource(const std::string& path, const std::string& shownName)
{
    return OpenWebpBytes(ReadWholeFile(path, shownName));
}

std::unique_ptr<PictureSource> OpenWebpBytes(std::vector<std::uint8_t> bytes)
{
    return std::make_unique<WebpSource>(std::move(bytes));
}

}  // namespace pictavo
