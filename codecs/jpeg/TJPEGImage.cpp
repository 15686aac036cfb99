#include "codecs/jpeg/TJPEGImage.h"

#include "codecs/Encoders.h"
#include "base/Files.h"
#include "codecs/Exif.h"
#include "codecs/jpeg/JpegLibrary.h"

#include "imaging/ColourProfile.h"
#include "imaging/GreyDither.h"

#include <algorithm>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>

#include <jerror.h>

namespace pictavo {
namespace {

constexpr int RowsPerCall = JpegRowsPerCall;

using jpeg::Decompressor;

struct Compressor {
    jpeg_compress_struct cinfo{};
    jpeg::ErrorManager errors{};
    jpeg::MemoryDestination destination{};

    Compressor() { cinfo.err = jpeg::InstallErrorManager(errors); }
    ~Compressor() { jpeg_destroy_compress(&cinfo); }
    Compressor(const Compressor&) = delete;
    Compressor& operator=(const Compressor&) = delete;
};

// APP1 payloads must fit one marker segment.
void WriteApp1(j_compress_ptr cinfo, const std::string& prefix, const std::string& body)
{
    constexpr std::size_t MaxPayload = 65533;
    if (body.empty() || prefix.size() + body.size() > MaxPayload) return;
    const std::string payload = prefix + body;
    jpeg_write_marker(cinfo, JPEG_APP0 + 1, reinterpret_cast<const JOCTET*>(payload.data()),
                      static_cast<unsigned>(payload.size()));
}

void EncodeRows(const EncoderPicture& picture, int quality, bool progressive, const OutputMetadata* metadata,
                std::vector<std::uint8_t>& bytes)
{
    Compressor c;
    if (setjmp(c.errors.jump)) jpeg::RaiseLibraryError(c.errors);
    jpeg_create_compress(&c.cinfo);
    jpeg::AttachDestination(&c.cinfo, c.destination, bytes);
    c.cinfo.image_width = static_cast<JDIMENSION>(picture.width);
    c.cinfo.image_height = static_cast<JDIMENSION>(picture.height);
    c.cinfo.input_components = picture.bgra ? 4 : 3;
    // The picture's byte order, read in place; JPEG has no alpha.
    c.cinfo.in_color_space = picture.bgra ? JCS_EXT_BGRX : JCS_EXT_BGR;
    jpeg_set_defaults(&c.cinfo);
    c.cinfo.dct_method = JDCT_FLOAT;
    jpeg_set_quality(&c.cinfo, quality, TRUE);
    if (progressive) jpeg_simple_progression(&c.cinfo);
    jpeg_start_compress(&c.cinfo, TRUE);
    if (metadata) {
        WriteApp1(&c.cinfo, std::string(ExifPrefix), metadata->exif);
        WriteApp1(&c.cinfo, std::string("http://ns.adobe.com/xap/1.0/\0", 29), metadata->xmp);
    }
    while (c.cinfo.next_scanline < c.cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(picture.pixels + picture.stride * c.cinfo.next_scanline);
        jpeg_write_scanlines(&c.cinfo, &row, 1);
    }
    jpeg_finish_compress(&c.cinfo);
}

// The quantizer's colours as a colour table.
std::vector<PaletteEntry> Colormap(const jpeg_decompress_struct& cinfo)
{
    std::vector<PaletteEntry> palette(static_cast<std::size_t>(cinfo.actual_number_of_colors));
    const bool gray = cinfo.out_color_components == 1;
    for (std::size_t i = 0; i < palette.size(); ++i) {
        const std::uint8_t r = cinfo.colormap[0][i];
        palette[i] = gray ? PaletteEntry{r, r, r, 0} : PaletteEntry{cinfo.colormap[2][i], cinfo.colormap[1][i], r, 0};
    }
    return palette;
}

// One, three and four components are read; CMYK, and YCCK (CMYK coded like
// YCbCr, which the library turns back into CMYK), come out as CMYK.
bool AsksForCmyk(jpeg_decompress_struct& cinfo)
{
    if (cinfo.num_components == 4) {
        cinfo.out_color_space = JCS_CMYK;
        return true;
    }
    if (cinfo.num_components == 1 || cinfo.num_components == 3) return false;
    EJPEG error(jpeg::MessageNumber(JERR_CONVERSION_NOTIMPL));
    error.setDetail("Unsupported color conversion request: pictures of " + std::to_string(cinfo.num_components) +
                    " components cannot be read, only grey (1), colour (3) and CMYK (4)");
    throw error;
}

// CMYK rows as the library delivers them, a call's worth (their memory is
// counted by DecodeMemory), turned into sRGB
// through the file's profile, or plainly when it has none. Adobe stores the
// inks inverted, and says so with its marker.
class CmykRows {
public:
    CmykRows(const jpeg_decompress_struct& cinfo, const std::vector<std::uint8_t>& icc)
        : inks_(icc, cinfo.saw_Adobe_marker), width_(static_cast<int>(cinfo.output_width)),
          buffer_(4 * static_cast<std::size_t>(width_) * RowsPerCall)
    {
    }
    JSAMPROW row(int slot) { return buffer_.data() + 4 * static_cast<std::size_t>(width_) * slot; }
    void convert(int slot, std::uint8_t* bgr) { inks_.convertRow(row(slot), bgr, width_); }

private:
    CmykToSrgb inks_;
    int width_;
    std::vector<std::uint8_t> buffer_;
};

// Grey rows as the library delivers them, a call's worth (counted by
// DecodeMemory), dithered to their
// grey levels: as level numbers for a raster with a palette, or as blue,
// green, red for streamed rows.
class GreyRows {
public:
    GreyRows(const jpeg_decompress_struct& cinfo, bool levels)
        : width_(static_cast<int>(cinfo.output_width)), levels_(levels), dither_(width_),
          buffer_(static_cast<std::size_t>(width_) * RowsPerCall)
    {
    }
    static std::vector<PaletteEntry> Palette()
    {
        std::vector<PaletteEntry> palette;
        for (const std::uint8_t v : GreyDither::LevelValues()) palette.push_back({v, v, v, 0});
        return palette;
    }
    JSAMPROW row(int slot) { return buffer_.data() + static_cast<std::size_t>(width_) * slot; }
    void convert(int slot, std::uint8_t* out)
    {
        if (levels_) dither_.toLevels(row(slot), out);
        else dither_.toBgr(row(slot), out);
    }

private:
    int width_;
    bool levels_;
    GreyDither dither_;
    std::vector<std::uint8_t> buffer_;
};

}  // namespace

JpegDefaults& JPEGDefaults()
{
    static JpegDefaults defaults;
    return defaults;
}

TJPEGImage::TJPEGImage()
    : quality_(JPEGDefaults().quality),
      writesProgressive_(JPEGDefaults().progressiveOutput),
      decodesToPalette_(JPEGDefaults().decodesToPalette)
{
}

void TJPEGImage::loadFromFile(const std::string& path, const std::string& shownName)
{
    const std::string& shown = shownName.empty() ? path : shownName;
    {
        const FileDescriptor fd = OpenRegularFile(path, shown);
        std::uint8_t start[2];
        if (ReadUpTo(fd.get(), start, 2) == 2 && !(start[0] == 0xFF && start[1] == 0xD8))
            throw EJPEG(jpeg::MessageNumber(JERR_NO_SOI));
    }
    loadFromBytes(ReadWholeFile(path, shown));
}

void TJPEGImage::streamFromFile(const std::string& path, const std::string& shownName)
{
    opened_.reset();
    data_ = TJPEGData{};
    std::uint64_t size = 0;
    file_ = std::make_shared<FileDescriptor>(OpenRegularFile(path, shownName.empty() ? path : shownName, &size));
    if (size == 0) file_.reset();  // an empty file has no header, as an empty datastream has none
    raster_.release();
    hasRaster_ = false;
    readHeader();
}

template <class D>
void TJPEGImage::attachSource(D& d) const
{
    jpeg_create_decompress(&d.cinfo);
    jpeg::StopWhenAsked(&d.cinfo, d.progress);
    if (file_) jpeg::AttachFileSource(&d.cinfo, d.source, file_->get());
    else jpeg::AttachSource(&d.cinfo, d.source, data_.bytes.data(), data_.bytes.size());
}

std::uint64_t TJPEGImage::decodeMemory() const
{
    if (data_.header.width == 0) return 0;
    return DecodeMemory(data_.header, AdapterRows(data_.header, decodesToPalette_, false, 1));
}

void TJPEGImage::readEmbedded(ByteStream& stream)
{
    std::uint8_t count[4];
    stream.readExactly(count, 4);
    const std::int32_t n = static_cast<std::int32_t>(LittleEndian32(count));
    if (n < 0 || static_cast<std::size_t>(n) > stream.remaining()) throw EReadError();
    std::vector<std::uint8_t> bytes(stream.current(), stream.current() + n);
    stream.skip(static_cast<std::size_t>(n));
    loadFromBytes(std::move(bytes));
}

void TJPEGImage::loadFromBytes(std::vector<std::uint8_t> bytes)
{
    opened_.reset();
    data_ = TJPEGData{};
    data_.bytes = std::move(bytes);
    data_.hasBytes = true;
    file_.reset();
    raster_.release();
    hasRaster_ = false;
    warnings_ = {};
    readHeader();
}

void TJPEGImage::readHeader()
{
    opened_.reset();
    if (!file_ && data_.bytes.empty()) return;
    auto d = std::make_unique<Decompressor>();
    if (setjmp(d->errors.jump)) jpeg::RaiseLibraryError(d->errors);
    attachSource(*d);
    data_.header = ReadJpegHeader(*d, true);
    writesProgressive_ = data_.header.multiScan;
    if (file_) opened_ = std::move(d);
}

const std::vector<std::uint8_t>& TJPEGImage::iccProfile() const
{
    static const std::vector<std::uint8_t> none;
    return data_.header.components == 4 ? none : data_.header.iccProfile;
}

int TJPEGImage::width() const
{
    return hasRaster_ ? raster_.width() : data_.header.width;
}

int TJPEGImage::height() const
{
    return hasRaster_ ? raster_.height() : data_.header.height;
}

void TJPEGImage::decodeInto(Raster24& destination)
{
    if (!hasRaster_) decode();
    destination.assign(&raster_);
}

void TJPEGImage::decode()
{
    struct Keep : RowTarget {
        TJPEGImage& image;
        explicit Keep(TJPEGImage& i) : image(i) {}
        void start(int w, int h, PixelFormat format, std::vector<PaletteEntry> palette) override
        {
            image.raster_.reset(w, h, format, std::nullopt);  // every row is written
            image.raster_.setPalette(std::move(palette));
            image.hasRaster_ = true;  // a failure from here on leaves the part decoded so far
        }
        std::uint8_t* row(int r, int) override { return image.raster_.scanLine(r); }
        void rowDone(int, int) override {}
        void abandon(int fromRow) override
        {
            // Rows the library never reached show black, not stale memory.
            for (int r = fromRow; r < image.raster_.height(); ++r)
                std::memset(image.raster_.scanLine(r), 0, static_cast<std::size_t>(image.raster_.stride()));
        }
    } keep(*this);
    run(keep, true);
}

void TJPEGImage::decodeRows(const RowSink& consumer)
{
    struct Stream : RowTarget {
        const RowSink& consumer;
        std::vector<std::uint8_t> lines, colours;
        std::size_t lineBytes = 0;
        int height = 0;
        std::vector<PaletteEntry> palette;
        explicit Stream(const RowSink& c) : consumer(c) {}
        void start(int w, int h, PixelFormat format, std::vector<PaletteEntry> p) override
        {
            height = h;
            lineBytes = static_cast<std::size_t>(RowBytes(w, BitsPerPixel(format)));
            lines.resize(lineBytes * RowsPerCall);
            if (format == PixelFormat::Indexed8) colours.resize(3 * static_cast<std::size_t>(w));
            palette = std::move(p);
        }
        std::uint8_t* row(int, int slot) override { return lines.data() + static_cast<std::size_t>(slot) * lineBytes; }
        void rowDone(int, int slot) override
        {
            const std::uint8_t* line = lines.data() + static_cast<std::size_t>(slot) * lineBytes;
            if (colours.empty()) return consumer(line);
            IndexedRowToBgr(line, colours.data(), static_cast<int>(colours.size() / 3), 8, palette);
            consumer(colours.data());
        }
        void abandon(int) override {}
        bool takeRest(const std::uint8_t* bgr, int fromRow) override
        {
            consumer.repeat(bgr, height - fromRow);
            return true;
        }
    } stream(consumer);
    run(stream, false);
}

void TJPEGImage::run(RowTarget& target, bool wholeRaster)
{
    // A streamed file's first decode goes on from its header, unless the
    // file is to be read without its AC scans, which starts at its start.
    std::unique_ptr<Decompressor> owned = std::move(opened_);
    if (!owned || (scale_ == 8 && data_.header.multiScan)) owned = std::make_unique<Decompressor>();
    Decompressor& d = *owned;
    // Everything that outlives a library error is made before the setjmp:
    // the jump back skips the destructors of anything made after it.
    std::optional<CmykRows> inks;
    std::optional<GreyRows> greys;
    std::vector<std::uint8_t> plainRow;  // a grey row of one value, as blue, green, red
    JpegHeader header;
    if (setjmp(d.errors.jump)) {
        if (d.started) target.abandon(static_cast<int>(d.cinfo.output_scanline));
        warnings_ = d.errors.warnings;
        jpeg::RaiseLibraryError(d.errors);
    }
    warnings_ = {};
    if (d.headerRead) {
        header = data_.header;
    } else {
        attachSource(d);
        if (scale_ == 8 && file_ && data_.header.multiScan) d.source.spans = jpeg::WithoutAcScans(file_->get());
        header = ReadJpegHeader(d, false);
    }
    // The library's large buffers are made as the decode starts, under this limit.
    jpeg::LimitMemory(&d.cinfo, reserved_ ? reserved_ : MemoryBudget());
    // The library could decode arithmetic coding; this program never has.
    if (header.arithmetic) throw EJPEG(1);
    if (header.multiScan) jpeg::CheckScanCount(d.source);
    if (!d.source.spans.empty() && d.cinfo.progressive_mode) jpeg::KeepOnlyDcCoefficients(&d.cinfo);
    // Rows made up for data that is not there are no picture.
    if (!wholeRaster && !jpeg::ReadScans(d.source, false).hasData) throw EInvalidGraphic(msg::NoPictureData);
    const bool cmyk = AsksForCmyk(d.cinfo);

    d.cinfo.scale_num = 1;
    d.cinfo.scale_denom = static_cast<unsigned int>(scale_);
    d.cinfo.do_block_smoothing = scale_ == 8 ? FALSE : TRUE;
    d.cinfo.dct_method = JDCT_FLOAT;
    const JpegRows rows = AdapterRows(header, decodesToPalette_, wholeRaster, scale_);
    const bool grey = rows.greyLevels;
    // Only colour pictures asked for in a palette go through the library's
    // quantizer; grey ones are dithered to their levels by GreyRows.
    const bool quantized = !cmyk && !grey && decodesToPalette_;
    if (quantized) {
        d.cinfo.quantize_colors = TRUE;
        d.cinfo.desired_number_of_colors = PaletteColours;
    } else if (!cmyk && !grey) {
        // Rows come out in the raster's blue, green, red order directly.
        d.cinfo.out_color_space = JCS_EXT_BGR;
    }
    // A raster kept whole holds grey pictures as levels of a palette;
    // streamed rows are blue, green, red whatever the picture.
    const PixelFormat format = rows.format;
    const bool indexed = format == PixelFormat::Indexed8;
    // Used on its own, the decode checks its need; in a run the memory was
    // reserved from the header, by the same figure at full size.
    if (!reserved_) CheckMemoryBudget(DecodeMemory(header, rows));

    jpeg_start_decompress(&d.cinfo);
    target.start(static_cast<int>(d.cinfo.output_width), static_cast<int>(d.cinfo.output_height), format,
                 quantized ? Colormap(d.cinfo) : (indexed ? GreyRows::Palette() : std::vector<PaletteEntry>()));
    d.started = true;
    if (cmyk) inks.emplace(d.cinfo, data_.header.iccProfile);
    if (grey) greys.emplace(d.cinfo, indexed);
    // Once a single-scan file's data has ended (without restart markers,
    // after which it could resume), every block still to come is empty, so
    // past the rows that share blocks or upsampling with the last data (three
    // rows of blocks are more than enough) the rows are all one value: the
    // rest is handed on as a count instead of decoded.
    const bool sequential = !jpeg_has_multiple_scans(&d.cinfo) && !quantized && d.cinfo.restart_interval == 0;
    const int components = d.cinfo.out_color_components;
    const std::size_t rawBytes = static_cast<std::size_t>(d.cinfo.output_width) * static_cast<std::size_t>(components);
    std::optional<int> plainFrom;
    bool restTaken = false;
    // Several rows a call: the library then upsamples without copying rows
    // aside. The pixels are the same whatever the count.
    JSAMPROW lines[RowsPerCall];
    while (d.cinfo.output_scanline < d.cinfo.output_height && !restTaken) {
        const int first = static_cast<int>(d.cinfo.output_scanline);
        const int count = std::min(RowsPerCall, static_cast<int>(d.cinfo.output_height) - first);
        for (int k = 0; k < count; ++k) lines[k] = inks ? inks->row(k) : greys ? greys->row(k) : target.row(first + k, k);
        const int got = static_cast<int>(jpeg_read_scanlines(&d.cinfo, lines, static_cast<JDIMENSION>(count)));
        if (got == 0) break;
        if (sequential && d.errors.dataEnded && !plainFrom) plainFrom = first + 3 * d.cinfo.max_v_samp_factor * DCTSIZE;
        for (int k = 0; k < got && !restTaken; ++k) {
            const int r = first + k;
            // All pixels alike: each byte equals the one a pixel further on.
            const bool plain = plainFrom && r >= *plainFrom &&
                               std::memcmp(lines[k], lines[k] + components, rawBytes - static_cast<std::size_t>(components)) == 0;
            if (plain && greys) {
                plainRow.assign(3 * static_cast<std::size_t>(d.cinfo.output_width), lines[k][0]);
                restTaken = target.takeRest(plainRow.data(), r);
                if (restTaken) break;
            }
            if (inks) inks->convert(k, target.row(r, k));
            if (greys) greys->convert(k, target.row(r, k));
            if (plain && !greys) restTaken = target.takeRest(target.row(r, k), r);
            if (!restTaken) target.rowDone(r, k);
        }
    }
    if (restTaken) jpeg_abort_decompress(&d.cinfo);
    else jpeg_finish_decompress(&d.cinfo);
    warnings_ = d.errors.warnings;
}

void TJPEGImage::takeRaster(const Raster24& source)
{
    opened_.reset();
    data_ = TJPEGData{};
    file_.reset();
    raster_.assign(&source);
    hasRaster_ = true;
}

void TJPEGImage::setEncodeQuality(std::uint8_t quality)
{
    quality_ = quality < 1 ? 1 : (quality > 100 ? 100 : quality);
}

const std::vector<std::uint8_t>& TJPEGImage::encodedBytes()
{
    if (!data_.hasBytes) encode();
    return data_.bytes;
}

void TJPEGImage::saveToFile(const std::string& path, const std::string& shownName)
{
    const std::vector<std::uint8_t>& bytes = encodedBytes();
    WriteFileAtomically(path, bytes.data(), bytes.size(), shownName.empty() ? path : shownName);
}

void TJPEGImage::encode()
{
    data_.bytes.clear();
    if (!hasRaster_ || raster_.width() == 0 || raster_.height() == 0) {
        data_.hasBytes = true;  // an empty picture saves as an empty file
        return;
    }
    std::vector<std::uint8_t> bytes;
    if (raster_.is24Bit()) {
        EncodeRows(PictureOf(raster_), quality_, writesProgressive_, nullptr, bytes);
    } else {
        Raster24 converted = raster_;
        converted.make24Bit();
        EncodeRows(PictureOf(converted), quality_, writesProgressive_, nullptr, bytes);
    }
    data_.header.width = raster_.width();
    data_.header.height = raster_.height();
    data_.bytes = std::move(bytes);
    data_.hasBytes = true;
}

std::vector<std::uint8_t> EncodeJpeg(const EncoderPicture& picture, const EncodeSettings& settings)
{
    std::vector<std::uint8_t> bytes;
    EncodeRows(picture, settings.quality, settings.progressive, settings.metadata, bytes);
    return bytes;
}

}  // namespace pictavo
