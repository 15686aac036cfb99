#include "codecs/tiff/TiffSource.h"

#include "imaging/ColourProfile.h"

#include "base/Errors.h"
#include "base/Limits.h"
#include "base/MemoryBudget.h"
#include "base/Files.h"
#include "codecs/SampleRows.h"
#include "imaging/Raster24.h"

#include <algorithm>
#include <bit>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <optional>

#include <tiffio.h>

namespace pictavo {
namespace {

constexpr std::uint64_t CodecMemory = 256 << 10;  // a codec's own state: zlib window, JPEG tables

enum class Kind { Gray, Rgb, Palette, Cmyk };

// Where the library's messages land. Plain data: the handlers are C.
struct Messages {
    char error[256] = {};
    char firstWarning[256] = {};
    int warnings = 0;
};

// Some of the library's messages run over several lines; ours take one.
void OneLine(char* text)
{
    char* end = text;
    for (char* p = text; *p; ++p) {
        if (*p == '\n' || *p == '\r') *p = ' ';
        if (*p != ' ') end = p + 1;
    }
    *end = '\0';
}

int OnError(TIFF*, void* user, const char* module, const char* format, va_list args)
{
    Messages& m = *static_cast<Messages*>(user);
    if (m.error[0] == '\0') {
        const int n = module && *module ? std::snprintf(m.error, sizeof m.error, "%s: ", module) : 0;
        std::vsnprintf(m.error + n, sizeof m.error - static_cast<std::size_t>(n), format, args);
        OneLine(m.error);
    }
    return 1;
}

int OnWarning(TIFF*, void* user, const char*, const char* format, va_list args)
{
    Messages& m = *static_cast<Messages*>(user);
    if (m.warnings++ == 0) {
        std::vsnprintf(m.firstWarning, sizeof m.firstWarning, format, args);
        OneLine(m.firstWarning);
    }
    return 1;
}

// The file's bytes as the library's file: read-only, mapped in place.
struct MemoryFile {
    const std::uint8_t* data;
    std::uint64_t size;
    std::uint64_t position = 0;
};

tmsize_t ReadFile(thandle_t handle, void* buffer, tmsize_t count)
{
    MemoryFile& f = *static_cast<MemoryFile*>(handle);
    if (count <= 0 || f.position >= f.size) return 0;
    const std::uint64_t n = std::min<std::uint64_t>(static_cast<std::uint64_t>(count), f.size - f.position);
    std::memcpy(buffer, f.data + f.position, static_cast<std::size_t>(n));
    f.position += n;
    return static_cast<tmsize_t>(n);
}
tmsize_t WriteFile(thandle_t, void*, tmsize_t) { return 0; }
toff_t SeekFile(thandle_t handle, toff_t offset, int whence)
{
    MemoryFile& f = *static_cast<MemoryFile*>(handle);
    // Offsets are unsigned; SEEK_CUR and SEEK_END wrap as the library intends.
    f.position = whence == SEEK_SET ? offset : whence == SEEK_CUR ? f.position + offset : f.size + offset;
    return f.position;
}
int CloseFile(thandle_t) { return 0; }
toff_t FileSize(thandle_t handle) { return static_cast<MemoryFile*>(handle)->size; }
int MapFile(thandle_t handle, void** base, toff_t* size)
{
    MemoryFile& f = *static_cast<MemoryFile*>(handle);
    *base = const_cast<std::uint8_t*>(f.data);
    *size = f.size;
    return 1;
}
void UnmapFile(thandle_t, void*, toff_t) {}

struct TiffCloser {
    void operator()(TIFF* t) const { TIFFClose(t); }
};
struct OptionsDeleter {
    void operator()(TIFFOpenOptions* o) const { TIFFOpenOptionsFree(o); }
};

class TiffSource : public PictureSource {
public:
    explicit TiffSource(std::vector<std::uint8_t> bytes);
    const PictureHeader& header() const override { return header_; }
    DecodeWarnings warnings() const override
    {
        if (messages_.warnings == 0) return damage_;
        return {messages_.warnings + damage_.count, messages_.firstWarning};
    }
    void readRows(const RowSink& sink) override;
    std::span<const std::uint8_t> fileBytes() const override { return bytes_; }

private:
    [[noreturn]] void fail(const char* fallback) const;
    // A strip or tile the library could not read: written as zero samples
    // and counted as damage, as a JPEG cut short is; a failure for want of
    // memory, or before any row was read, fails the picture.
    void damaged(std::uint64_t rowsRead, std::uint64_t offset, std::uint64_t length, const char* fallback);
    void readLayout();
    // Hands every stored row, as the library decodes it, to `row`; rows of
    // a strip that its data does not reach go to `rest` as a count.
    using Rows = std::function<void(const std::uint8_t* samples, std::uint64_t count)>;
    void readStrips(const std::function<void(const std::uint8_t*)>& row, const Rows& rest);
    void readTiles(const std::function<void(const std::uint8_t*)>& row);
    void convert(std::uint8_t* samples, std::uint8_t* bgr) const;

    std::vector<std::uint8_t> bytes_;
    MemoryFile file_;
    Messages messages_;
    DecodeWarnings damage_;
    std::unique_ptr<TIFF, TiffCloser> tiff_;
    PictureHeader header_;
    Kind kind_ = Kind::Gray;
    int bits_ = 8;
    int samplesPerPixel_ = 1;
    bool alpha_ = false, premultiplied_ = false, minIsWhite_ = false;
    std::vector<PaletteEntry> palette_;  // palette files, and grey below 8 bits
    std::uint64_t scanline_ = 0;
    std::uint64_t buffer_ = 0;  // a strip, or a row of tiles
    // A CMYK file's profile: its rows are turned into sRGB through it (or
    // plainly without one), so the header names no profile.
    std::vector<std::uint8_t> cmykProfile_;
    mutable std::optional<CmykToSrgb> inks_;
};

TiffSource::TiffSource(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)), file_{bytes_.data(), bytes_.size()}
{
    std::unique_ptr<TIFFOpenOptions, OptionsDeleter> options(TIFFOpenOptionsAlloc());
    if (!options) throw EOutOfMemory();
    // The file's bytes are held already: no one block of the library's (a
    // profile, a table of strips) may take more than the rest of the budget,
    // and the library copies a tag's data once more as it reads it.
    const std::uint64_t budget = MemoryBudget();
    const std::uint64_t rest = budget > bytes_.size() ? (budget - bytes_.size()) / 2 : 0;
    TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), static_cast<tmsize_t>(std::min<std::uint64_t>(
                                                           std::max<std::uint64_t>(rest, 1 << 20), LLONG_MAX)));
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), OnError, &messages_);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), OnWarning, &messages_);
    tiff_.reset(TIFFClientOpenExt("TIFF", "r", &file_, ReadFile, WriteFile, SeekFile, CloseFile, FileSize, MapFile,
                                  UnmapFile, options.get()));
    if (!tiff_) fail("not a TIFF file");
    readLayout();
    // Unknown tags, or a tag too large to be read, are no damage.
    messages_.warnings = 0;
    messages_.firstWarning[0] = '\0';
    messages_.error[0] = '\0';
}

void TiffSource::fail(const char* fallback) const
{
    RaiseLibraryError("TIFF", messages_.error[0] ? messages_.error : fallback);
}

void TiffSource::damaged(std::uint64_t rowsRead, std::uint64_t offset, std::uint64_t length, const char* fallback)
{
    if (rowsRead == 0 || TellsOfMemory(messages_.error)) fail(fallback);
    if (damage_.count++ == 0)
        damage_.text = offset > bytes_.size() || length > bytes_.size() - offset ? "Premature end of TIFF file"
                       : messages_.error[0]                                       ? messages_.error
                                                                                  : fallback;
    messages_.error[0] = '\0';
}

[[noreturn]] void Unsupported(const std::string& what)
{
    throw EInvalidGraphic(LibraryErrorText("TIFF", what + " is not supported"));
}

void TiffSource::readLayout()
{
    TIFF* t = tiff_.get();
    std::uint32_t width = 0, height = 0;
    std::uint16_t bits = 1, samples = 1, photometric = 0, planar = PLANARCONFIG_CONTIG, format = SAMPLEFORMAT_UINT,
                  compression = COMPRESSION_NONE, orientation = ORIENTATION_TOPLEFT, inkSet = INKSET_CMYK;
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(t, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLEFORMAT, &format);
    TIFFGetFieldDefaulted(t, TIFFTAG_COMPRESSION, &compression);
    TIFFGetFieldDefaulted(t, TIFFTAG_ORIENTATION, &orientation);
    TIFFGetFieldDefaulted(t, TIFFTAG_INKSET, &inkSet);
    if (!TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photometric))
        photometric = samples >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
    std::uint16_t extraCount = 0;
    std::uint16_t* extraTypes = nullptr;
    TIFFGetField(t, TIFFTAG_EXTRASAMPLES, &extraCount, &extraTypes);

    if (width == 0 || height == 0 || width > MaxPictureSide || height > MaxPictureSide) fail("the picture has no size");
    if (!TIFFIsCODECConfigured(compression)) Unsupported("compression " + std::to_string(compression));
    if (format != SAMPLEFORMAT_UINT) Unsupported("sample format " + std::to_string(format));
    if (planar != PLANARCONFIG_CONTIG && samples > 1) Unsupported("separate colour planes");
    if (photometric == PHOTOMETRIC_YCBCR && compression == COMPRESSION_JPEG) {
        // The JPEG codec converts to RGB itself.
        TIFFSetField(t, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
        photometric = PHOTOMETRIC_RGB;
    }
    const int colours = photometric == PHOTOMETRIC_RGB ? 3 : photometric == PHOTOMETRIC_SEPARATED ? 4 : 1;
    const bool alphaStored = samples > colours && extraCount > 0 && extraTypes &&
                             (extraTypes[0] == EXTRASAMPLE_ASSOCALPHA || extraTypes[0] == EXTRASAMPLE_UNASSALPHA);
    const bool deep = bits == 8 || bits == 16;
    switch (photometric) {
    case PHOTOMETRIC_MINISWHITE:
    case PHOTOMETRIC_MINISBLACK:
        kind_ = Kind::Gray;
        if (!(deep || (bits < 8 && std::has_single_bit(bits) && samples == 1))) Unsupported(std::to_string(bits) + "-bit grey");
        break;
    case PHOTOMETRIC_RGB:
        kind_ = Kind::Rgb;
        if (!deep || samples < 3) Unsupported(std::to_string(bits) + "-bit RGB");
        break;
    case PHOTOMETRIC_PALETTE:
        kind_ = Kind::Palette;
        if (bits > 8 || !std::has_single_bit(bits) || samples != 1) Unsupported(std::to_string(bits) + "-bit palette");
        break;
    case PHOTOMETRIC_SEPARATED:
        kind_ = Kind::Cmyk;
        if (!deep || samples < 4 || inkSet != INKSET_CMYK) Unsupported("this ink set");
        break;
    default: Unsupported("photometric interpretation " + std::to_string(photometric));
    }
    bits_ = bits;
    samplesPerPixel_ = samples;
    alpha_ = alphaStored && kind_ != Kind::Cmyk;
    header_.alpha = alpha_;
    premultiplied_ = alpha_ && extraTypes[0] == EXTRASAMPLE_ASSOCALPHA;
    minIsWhite_ = photometric == PHOTOMETRIC_MINISWHITE;

    header_.width = static_cast<int>(width);
    header_.height = static_cast<int>(height);
    header_.orientation = orientation >= 1 && orientation <= 8 ? orientation : 1;
    header_.gray = kind_ == Kind::Gray;
    std::uint32_t profileSize = 0;
    void* profile = nullptr;
    if (TIFFGetField(t, TIFFTAG_ICCPROFILE, &profileSize, &profile) && profile && profileSize > 0 &&
        profileSize <= LargestProfile) {
        const auto* p = static_cast<const std::uint8_t*>(profile);
        (kind_ == Kind::Cmyk ? cmykProfile_ : header_.iccProfile).assign(p, p + profileSize);
    }

    if (kind_ == Kind::Palette) {
        std::uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
        if (!TIFFGetField(t, TIFFTAG_COLORMAP, &red, &green, &blue)) fail("the palette is missing");
        const std::size_t n = std::size_t(1) << bits;
        // Some writers store 8-bit entries; then no entry exceeds 255.
        const bool wide = std::any_of(red, red + n, [](auto v) { return v > 255; }) ||
                          std::any_of(green, green + n, [](auto v) { return v > 255; }) ||
                          std::any_of(blue, blue + n, [](auto v) { return v > 255; });
        auto byte = [&](std::uint16_t v) { return wide ? ScaleToByte(v, 65535) : static_cast<std::uint8_t>(v); };
        for (std::size_t i = 0; i < n; ++i) palette_.push_back({byte(blue[i]), byte(green[i]), byte(red[i]), 0});
    } else if (kind_ == Kind::Gray && bits < 8) {
        const unsigned levels = (1u << bits) - 1;
        for (unsigned i = 0; i <= levels; ++i) {
            const std::uint8_t v = ScaleToByte(minIsWhite_ ? levels - i : i, levels);
            palette_.push_back({v, v, v, 0});
        }
    }

    scanline_ = static_cast<std::uint64_t>(TIFFScanlineSize64(t));
    if (scanline_ == 0) fail("the row size overflows");
    std::uint64_t unitWidth = width, unitRows = height;  // of one strip or tile
    if (TIFFIsTiled(t)) {
        std::uint32_t tileWidth = 0, tileLength = 0;
        TIFFGetField(t, TIFFTAG_TILEWIDTH, &tileWidth);
        TIFFGetField(t, TIFFTAG_TILELENGTH, &tileLength);
        unitWidth = tileWidth;
        unitRows = tileLength;
        const std::uint64_t tile = static_cast<std::uint64_t>(TIFFTileSize64(t));
        if (tileWidth == 0 || tile == 0) fail("the tile size is invalid");
        if (std::uint64_t(tileWidth) * bits * samples % 8 != 0) Unsupported("this tile width");
        buffer_ = (width + std::uint64_t(tileWidth) - 1) / tileWidth * tile;
    } else {
        std::uint32_t rowsPerStrip = height;
        TIFFGetFieldDefaulted(t, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
        unitRows = std::clamp<std::uint32_t>(rowsPerStrip, 1, height);
        buffer_ = scanline_ * unitRows;
    }
    // A progressive or multi-scan JPEG strip makes libjpeg hold every
    // coefficient of the strip: 2 bytes a sample, in blocks of up to 16.
    const auto blocks = [](std::uint64_t side) { return (side + 15) / 16 * 16; };
    const std::uint64_t jpegMemory =
        compression == COMPRESSION_JPEG || compression == COMPRESSION_OJPEG ? 2 * samples * blocks(unitWidth) * blocks(unitRows) : 0;
    // The library's copy of the profile stays while the file is open.
    header_.decodeMemory = bytes_.size() + buffer_ + scanline_ + CodecMemory + jpegMemory + profileSize +
                           ProfileMemory(header_.iccProfile.size() + cmykProfile_.size());
    CheckDeclaredMemory(header_);
}

void TiffSource::readStrips(const std::function<void(const std::uint8_t*)>& row, const Rows& rest)
{
    TIFF* t = tiff_.get();
    const std::uint64_t rowsPerStrip = buffer_ / scanline_;
    PixelBuffer strip(static_cast<std::size_t>(buffer_));
    const std::uint32_t strips = TIFFNumberOfStrips(t);
    std::uint64_t y = 0;
    for (std::uint32_t s = 0; s < strips && y < std::uint64_t(header_.height); ++s) {
        const std::uint64_t rows = std::min<std::uint64_t>(rowsPerStrip, std::uint64_t(header_.height) - y);
        const tmsize_t wanted = static_cast<tmsize_t>(rows * scanline_);
        tmsize_t got = TIFFReadEncodedStrip(t, s, strip.data(), wanted);
        if (got < wanted) {
            damaged(y, TIFFGetStrileOffset(t, s), TIFFGetStrileByteCount(t, s), "a strip cannot be read");
            got = std::max<tmsize_t>(got, 0);
        }
        std::fill(strip.begin() + got, strip.begin() + wanted, 0);
        const std::uint64_t decoded = std::min<std::uint64_t>(rows, (static_cast<std::uint64_t>(got) + scanline_ - 1) / scanline_);
        for (std::uint64_t r = 0; r < decoded; ++r) row(strip.data() + r * scanline_);
        if (decoded < rows) rest(strip.data() + decoded * scanline_, rows - decoded);
        y += rows;
    }
    if (y < std::uint64_t(header_.height)) {
        damaged(y, 0, 0, "strips are missing");
        std::fill(strip.begin(), strip.begin() + static_cast<std::ptrdiff_t>(scanline_), 0);
        rest(strip.data(), std::uint64_t(header_.height) - y);
    }
}

void TiffSource::readTiles(const std::function<void(const std::uint8_t*)>& row)
{
    TIFF* t = tiff_.get();
    std::uint32_t tileWidth = 0, tileHeight = 0;
    TIFFGetField(t, TIFFTAG_TILEWIDTH, &tileWidth);
    TIFFGetField(t, TIFFTAG_TILELENGTH, &tileHeight);
    const std::uint64_t tileSize = static_cast<std::uint64_t>(TIFFTileSize64(t));
    const std::uint64_t tileRow = static_cast<std::uint64_t>(TIFFTileRowSize64(t));
    if (tileHeight == 0 || tileRow == 0) fail("the tile size is invalid");
    const std::uint64_t across = (std::uint64_t(header_.width) + tileWidth - 1) / tileWidth;
    PixelBuffer tiles(static_cast<std::size_t>(buffer_)), line(static_cast<std::size_t>(scanline_));
    for (std::uint32_t y = 0; y < std::uint32_t(header_.height); y += tileHeight) {
        for (std::uint64_t i = 0; i < across; ++i) {
            const std::uint32_t tile = TIFFComputeTile(t, static_cast<std::uint32_t>(i * tileWidth), y, 0, 0);
            std::uint8_t* at = tiles.data() + i * tileSize;
            const tmsize_t got = TIFFReadEncodedTile(t, tile, at, static_cast<tmsize_t>(tileSize));
            if (got < static_cast<tmsize_t>(tileSize)) {
                damaged(y + (i > 0 ? 1 : 0), TIFFGetStrileOffset(t, tile), TIFFGetStrileByteCount(t, tile),
                        "a tile cannot be read");
                std::fill(at + std::max<tmsize_t>(got, 0), at + tileSize, 0);
            }
        }
        const std::uint32_t rows = std::min(tileHeight, std::uint32_t(header_.height) - y);
        for (std::uint32_t r = 0; r < rows; ++r) {
            for (std::uint64_t i = 0; i < across; ++i) {
                const std::uint64_t at = i * tileRow;
                std::memcpy(line.data() + at, tiles.data() + i * tileSize + r * tileRow,
                            static_cast<std::size_t>(std::min(tileRow, scanline_ - at)));
            }
            row(line.data());
        }
    }
}

void TiffSource::convert(std::uint8_t* samples, std::uint8_t* bgr) const
{
    const int width = header_.width;
    if (!palette_.empty()) return IndexedRowToBgr(samples, bgr, width, bits_, palette_);
    const int bytes = bits_ / 8;
    if (kind_ == Kind::Cmyk) {
        if (bytes == 2)  // to 8 bits in place, so one conversion serves both depths
            for (std::size_t i = 0; i < std::size_t(width) * samplesPerPixel_; ++i) {
                std::uint16_t v;
                std::memcpy(&v, samples + 2 * i, 2);
                samples[i] = ScaleToByte(v, 65535);
            }
        if (samplesPerPixel_ != 4)  // extra samples (alpha) aside, in place
            for (int x = 0; x < width; ++x) std::memmove(samples + 4 * x, samples + std::size_t(x) * samplesPerPixel_, 4);
        if (!inks_) inks_.emplace(cmykProfile_, false);
        return inks_->convertRow(samples, bgr, width);
    }
    if (minIsWhite_) {
        for (int x = 0; x < width; ++x) {
            std::uint8_t* s = samples + std::size_t(x) * samplesPerPixel_ * bytes;
            if (bytes == 1) {
                s[0] = static_cast<std::uint8_t>(255 - s[0]);
            } else {
                std::uint16_t v;
                std::memcpy(&v, s, 2);
                v = static_cast<std::uint16_t>(65535 - v);
                std::memcpy(s, &v, 2);
            }
        }
    }
    SampleLayout layout;
    layout.channels = (kind_ == Kind::Rgb ? 3 : 1) + (alpha_ ? 1 : 0);
    layout.samplesPerPixel = samplesPerPixel_;
    layout.bytesPerSample = bytes;
    layout.maxValue = bytes == 2 ? 65535 : 255;
    layout.bigEndian = std::endian::native == std::endian::big;  // the library delivers host order
    layout.premultiplied = premultiplied_;
    layout.keepAlpha = keepsAlpha();
    layout.background = delivery_.background;
    SamplesToBgr(samples, width, layout, bgr);
}

void TiffSource::readRows(const RowSink& sink)
{
    std::vector<std::uint8_t> bgr((keepsAlpha() ? 4 : 3) * static_cast<std::size_t>(header_.width));
    const auto row = [&](const std::uint8_t* samples) {
        convert(const_cast<std::uint8_t*>(samples), bgr.data());
        sink(bgr.data());
    };
    const auto rest = [&](const std::uint8_t* samples, std::uint64_t count) {
        convert(const_cast<std::uint8_t*>(samples), bgr.data());
        sink.repeat(bgr.data(), static_cast<std::int64_t>(count));
    };
    WithMemoryErrors([&] {
        if (TIFFIsTiled(tiff_.get())) readTiles(row);
        else readStrips(row, rest);
    });
}

}  // namespace

bool IsTiffSignature(const std::uint8_t* bytes, std::size_t size)
{
    if (size < 4) return false;
    return (bytes[0] == 'I' && bytes[1] == 'I' && (bytes[2] == 42 || bytes[2] == 43) && bytes[3] == 0) ||
           (bytes[0] == 'M' && bytes[1] == 'M' && bytes[2] == 0 && (bytes[3] == 42 || bytes[3] == 43));
}

std::unique_ptr<PictureSource> OpenTiffSource(const std::string& path, const std::string& shownName)
{
    return OpenTiffBytes(ReadWholeFile(path, shownName));
}

std::unique_ptr<PictureSource> OpenTiffBytes(std::vector<std::uint8_t> bytes)
{
    return std::make_unique<TiffSource>(std::move(bytes));
}

}  // namespace pictavo
