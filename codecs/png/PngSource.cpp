#include "codecs/png/PngSource.h"

#include "base/Errors.h"
#include "base/Limits.h"
#include "base/MemoryBudget.h"
#include "base/Stop.h"
#include "codecs/Exif.h"
#include "imaging/ColourProfile.h"
#include "codecs/ByteStream.h"
#include "base/Files.h"
#include "codecs/SampleRows.h"
#include "codecs/jpeg/TJPEGImage.h"

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <optional>

#include <png.h>

namespace pictavo {
namespace {

constexpr std::uint8_t Signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr png_alloc_size_t MaxChunk = png_alloc_size_t(16) << 20;  // iCCP, eXIf and the like
constexpr std::uint64_t InflateMemory = 48 << 10;          // zlib's window and tables
constexpr double SrgbFileGamma = 1 / 2.2;
// Known chunks that play no part in the rows or their colours: skipped
// unread, so a file full of large text chunks costs neither time nor memory.
constexpr png_byte UnusedChunks[] = "bKGD\0eXIf\0hIST\0iTXt\0oFFs\0pCAL\0pHYs\0sBIT\0sCAL\0sPLT\0sTER\0tEXt\0tIME\0zTXt";
constexpr int UnusedChunkCount = sizeof UnusedChunks / 5;
constexpr png_byte HeaderOnlyChunks[] = "iCCP";
constexpr std::size_t IdatPiece = 256;

// What the library's callbacks reach. Plain data: the callbacks are C and
// must not throw.
struct Callbacks {
    const std::vector<std::uint8_t>* bytes = nullptr;
    std::size_t offset = 0;
    char error[256] = {};
    char firstWarning[256] = {};
    char lastWarning[256] = {};
    int warnings = 0;
    bool ranOut = false;  // the data ended before the library was done
};

void ReadData(png_structp png, png_bytep out, std::size_t count)
{
    Callbacks& c = *static_cast<Callbacks*>(png_get_io_ptr(png));
    if (count > c.bytes->size() - c.offset) {
        c.ranOut = true;
        png_error(png, "file ends too early");
    }
    std::memcpy(out, c.bytes->data() + c.offset, count);
    c.offset += count;
}

void OnError(png_structp png, png_const_charp message)
{
    Callbacks& c = *static_cast<Callbacks*>(png_get_error_ptr(png));
    std::snprintf(c.error, sizeof c.error, "%s", message);
    png_longjmp(png, 1);
}

void OnWarning(png_structp png, png_const_charp message)
{
    Callbacks& c = *static_cast<Callbacks*>(png_get_error_ptr(png));
    if (c.warnings++ == 0) std::snprintf(c.firstWarning, sizeof c.firstWarning, "%s", message);
    std::snprintf(c.lastWarning, sizeof c.lastWarning, "%s", message);
}

// One library object per pass over the file, destroyed however it ends.
struct Library {
    png_structp png = nullptr;
    png_infop info = nullptr;

    // `rowsOnly`: the header has been read before, so its profile and
    // metadata are skipped unread this time.
    explicit Library(Callbacks& callbacks, bool rowsOnly = false)
    {
        png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &callbacks, OnError, OnWarning);
        if (png) info = png_create_info_struct(png);
        if (!png || !info) {
            png_destroy_read_struct(&png, &info, nullptr);
            throw EOutOfMemory();
        }
        png_set_read_fn(png, &callbacks, ReadData);
        png_set_user_limits(png, MaxPngSide, MaxPngSide);
        png_set_chunk_malloc_max(png, std::min<std::uint64_t>(MaxChunk, MemoryBudget()));
        png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, UnusedChunks, UnusedChunkCount);
        if (rowsOnly) {
            png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, HeaderOnlyChunks, 1);
            // The data is taken in small pieces, so that the rows of a file
            // cut short are decoded up to near where it ends.
            png_set_compression_buffer_size(png, IdatPiece);
        }
    }
    ~Library() { png_destroy_read_struct(&png, &info, nullptr); }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
};

[[noreturn]] void Fail(const Callbacks& c)
{
    // The header check names each fault in a warning before its one error.
    if (std::strcmp(c.error, "Invalid IHDR data") == 0 && c.lastWarning[0] != '\0')
        RaiseLibraryError("PNG", std::string(c.error) + ": " + c.lastWarning);
    RaiseLibraryError("PNG", c.error);
}

// The profile the samples are in: iCCP as stored; sRGB means none. A gAMA
// chunk alone describes a plain power law; the usual 1/2.2 is taken for
// sRGB, any other is turned into a profile (with cHRM's primaries if given)
// so that, say, linear files are not shown too dark.
std::vector<std::uint8_t> ColourProfile(png_structp png, png_infop info)
{
    png_charp name = nullptr;
    png_bytep profile = nullptr;
    png_uint_32 length = 0;
    int compression = 0;
    if (png_get_iCCP(png, info, &name, &compression, &profile, &length) && profile && length > 0)
        return {profile, profile + length};
    double gamma = 0;
    if (png_get_valid(png, info, PNG_INFO_sRGB) || !png_get_gAMA(png, info, &gamma) || gamma <= 0) return {};
    if (std::abs(gamma - SrgbFileGamma) < 0.01) return {};
    if ((png_get_color_type(png, info) & PNG_COLOR_MASK_COLOR) == 0) return MakeGreyProfile(GammaTransfer(1 / gamma));
    Chromaticities primaries = SrgbPrimaries;
    if (png_get_valid(png, info, PNG_INFO_cHRM))
        png_get_cHRM(png, info, &primaries.whiteX, &primaries.whiteY, &primaries.redX, &primaries.redY,
                     &primaries.greenX, &primaries.greenY, &primaries.blueX, &primaries.blueY);
    return MakeRgbProfile(primaries, GammaTransfer(1 / gamma));
}

// The orientation in the eXIf chunk, read from the file's bytes: the
// library would take the whole chunk into memory, whatever its size, where
// the tag stands in its first bytes.
int Orientation(const std::vector<std::uint8_t>& bytes)
{
    constexpr std::size_t Read = 64 << 10;
    for (std::size_t at = sizeof Signature; at + 8 <= bytes.size();) {
        const std::uint64_t length = BigEndian32(&bytes[at]);
        const std::uint8_t* type = &bytes[at + 4];
        if (std::memcmp(type, "IDAT", 4) == 0) break;  // eXIf comes before the data
        if (std::memcmp(type, "eXIf", 4) == 0) {
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>({length, Read, bytes.size() - at - 8}));
            return TiffOrientation(type + 4, n);
        }
        at += 12 + static_cast<std::size_t>(length);
    }
    return 1;
}

// Palette pictures and grey ones of fewer than 8 bits, read as stored: each
// byte of a row is up to 8 pixels, turned into colours by one look-up in a
// table made from what libpng's expansion would give.
class PackedRows {
public:
    // `expanded`: the layout of the expanded rows, with its delivery.
    PackedRows(png_structp png, png_infop info, const SampleLayout& expanded)
        : bits_(png_get_bit_depth(png, info)), pixel_(expanded.keepAlpha && (expanded.channels % 2 == 0) ? 4 : 3)
    {
        const int indices = 1 << bits_;
        const unsigned mask = static_cast<unsigned>(indices - 1);
        png_colorp palette = nullptr;
        int colours = 0;
        png_bytep alphas = nullptr;
        int transparent = 0;
        png_color_16p grey = nullptr;
        png_get_PLTE(png, info, &palette, &colours);
        if (!png_get_tRNS(png, info, &alphas, &transparent, &grey)) transparent = 0, grey = nullptr;
        const bool indexed = png_get_color_type(png, info) == PNG_COLOR_TYPE_PALETTE;
        // Each index once, as expanded samples: palette entries past the
        // table are black, alpha past the tRNS entries opaque.
        std::vector<std::uint8_t> samples;
        for (int i = 0; i < indices; ++i) {
            if (indexed) {
                const bool known = palette && i < colours;
                samples.insert(samples.end(), {known ? palette[i].red : png_byte(0), known ? palette[i].green : png_byte(0),
                                               known ? palette[i].blue : png_byte(0)});
                if (expanded.channels == 4) samples.push_back(alphas && i < transparent ? alphas[i] : 255);
            } else {
                samples.push_back(static_cast<std::uint8_t>(i * (255 / mask)));
                if (expanded.channels == 2) samples.push_back(grey && unsigned(i) == (grey->gray & mask) ? 0 : 255);
            }
        }
        std::vector<std::uint8_t> pixels(static_cast<std::size_t>(pixel_ * indices));
        SamplesToBgr(samples.data(), indices, expanded, pixels.data());
        perByte_ = 8 / bits_;
        table_.resize(256 * static_cast<std::size_t>(perByte_ * pixel_));
        for (unsigned byte = 0; byte < 256; ++byte)
            for (int k = 0; k < perByte_; ++k) {
                const unsigned index = byte >> (8 - bits_ * (k + 1)) & mask;
                std::memcpy(&table_[static_cast<std::size_t>((byte * perByte_ + k) * pixel_)], &pixels[index * pixel_], pixel_);
            }
    }

    // The layout libpng's expansion would give these rows.
    static SampleLayout Expanded(png_structp png, png_infop info)
    {
        SampleLayout layout;
        const bool transparent = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
        layout.channels = png_get_color_type(png, info) == PNG_COLOR_TYPE_PALETTE ? (transparent ? 4 : 3) : (transparent ? 2 : 1);
        return layout;
    }

    void toBgr(const std::uint8_t* packed, int width, std::uint8_t* bgr) const
    {
        switch (perByte_ * pixel_) {
        case 24: return run<24>(packed, width, bgr);
        case 32: return run<32>(packed, width, bgr);
        case 12: return run<12>(packed, width, bgr);
        case 16: return run<16>(packed, width, bgr);
        case 6: return run<6>(packed, width, bgr);
        case 8: return run<8>(packed, width, bgr);
        case 3: return run<3>(packed, width, bgr);
        default: return run<4>(packed, width, bgr);
        }
    }

private:
    template <std::size_t Bytes>
    void run(const std::uint8_t* packed, int width, std::uint8_t* bgr) const
    {
        const int whole = width / perByte_, rest = width % perByte_;
        for (int i = 0; i < whole; ++i, bgr += Bytes) std::memcpy(bgr, &table_[packed[i] * Bytes], Bytes);
        if (rest > 0) std::memcpy(bgr, &table_[packed[whole] * Bytes], static_cast<std::size_t>(rest * pixel_));
    }

    int bits_;
    int pixel_;  // bytes a delivered pixel
    int perByte_ = 1;
    std::vector<std::uint8_t> table_;  // for each byte value, its pixels' colours
};

class PngSource : public PictureSource {
public:
    explicit PngSource(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) { readHeader(); }
    const PictureHeader& header() const override { return header_; }
    DecodeWarnings warnings() const override { return warnings_; }
    void readRows(const RowSink& sink) override;
    std::span<const std::uint8_t> fileBytes() const override { return bytes_; }

private:
    void readHeader();
    // Expansions so that every file arrives as 8 or 16-bit grey or RGB,
    // with or without alpha; the layout of those rows.
    static SampleLayout Expand(png_structp png, png_infop info);

    std::vector<std::uint8_t> bytes_;
    PictureHeader header_;
    DecodeWarnings warnings_;
    bool interlaced_ = false;
    std::uint64_t sampleRow_ = 0;  // bytes of one expanded row
    SampleLayout layout_;          // of the expanded rows, once reading has begun
};

void PngSource::readHeader()
{
    Callbacks callbacks;
    callbacks.bytes = &bytes_;
    Library lib(callbacks);
    if (setjmp(png_jmpbuf(lib.png))) Fail(callbacks);
    png_read_info(lib.png, lib.info);
    // Only getters from here on: the library raises no more errors.
    header_.width = static_cast<int>(png_get_image_width(lib.png, lib.info));
    header_.height = static_cast<int>(png_get_image_height(lib.png, lib.info));
    header_.gray = (png_get_color_type(lib.png, lib.info) & PNG_COLOR_MASK_COLOR) == 0;
    header_.alpha = (png_get_color_type(lib.png, lib.info) & PNG_COLOR_MASK_ALPHA) != 0 ||
                    png_get_valid(lib.png, lib.info, PNG_INFO_tRNS) != 0;
    interlaced_ = png_get_interlace_type(lib.png, lib.info) != PNG_INTERLACE_NONE;
    const int bitDepth = png_get_bit_depth(lib.png, lib.info);
    // Expanded rows hold at most four 8 or 16-bit samples a pixel.
    sampleRow_ = std::uint64_t(header_.width) * 4 * (bitDepth == 16 ? 2 : 1);
    const std::uint64_t libraryRows = 2 * (std::uint64_t(png_get_rowbytes(lib.png, lib.info)) + 1);
    header_.decodeMemory = bytes_.size() + libraryRows + InflateMemory +
                           sampleRow_ * (interlaced_ ? std::uint64_t(header_.height) : 2);
    CheckDeclaredMemory(header_);
    header_.orientation = Orientation(bytes_);
    header_.iccProfile = ColourProfile(lib.png, lib.info);
    header_.decodeMemory += ProfileMemory(header_.iccProfile.size());
}

SampleLayout PngSource::Expand(png_structp png, png_infop info)
{
    png_set_expand(png);  // palette to RGB, grey to 8 bits, tRNS to alpha
    png_read_update_info(png, info);
    SampleLayout layout;
    layout.channels = png_get_channels(png, info);
    layout.bytesPerSample = png_get_bit_depth(png, info) == 16 ? 2 : 1;
    layout.maxValue = layout.bytesPerSample == 2 ? 65535 : 255;
    layout.bigEndian = true;
    return layout;
}

void PngSource::readRows(const RowSink& sink)
{
    // Everything that outlives a library error is made before the setjmp.
    std::vector<std::uint8_t> samples, bgr((keepsAlpha() ? 4 : 3) * static_cast<std::size_t>(header_.width));
    WithMemoryErrors(
        [&] { samples.resize(static_cast<std::size_t>(sampleRow_ * (interlaced_ ? std::uint64_t(header_.height) : 2))); });
    std::optional<PackedRows> table;  // palette and low-bit grey rows
    Callbacks callbacks;
    callbacks.bytes = &bytes_;
    Library lib(callbacks, true);
    // Rows, or passes' rows, read before the data failed: what could be read
    // is written, the rest as zero samples, with a warning, as a JPEG cut
    // short is. A file that fails before its first row, or for want of
    // memory, fails.
    volatile int rowsRead = 0;
    volatile std::int64_t held = 0;  // rows equal to the last one handed on, not handed on yet
    if (setjmp(png_jmpbuf(lib.png))) {
        if (rowsRead == 0 || TellsOfMemory(callbacks.error)) Fail(callbacks);
        warnings_.count = callbacks.warnings + 1;
        warnings_.text = callbacks.warnings > 0 ? callbacks.firstWarning
                         : callbacks.ranOut       ? "Premature end of PNG file"
                                                  : callbacks.error;
        if (!interlaced_) {
            if (held > 0) sink.repeat(bgr.data(), held);
            std::fill(samples.begin(), samples.end(), 0);
            SamplesToBgr(samples.data(), header_.width, layout_, bgr.data());
            return sink.repeat(bgr.data(), header_.height - rowsRead);
        }
        for (int y = 0; y < header_.height; ++y) {  // every row holds what its passes gave
            SamplesToBgr(samples.data() + static_cast<std::size_t>(sampleRow_) * y, header_.width, layout_, bgr.data());
            sink(bgr.data());
        }
        return;
    }
    png_read_info(lib.png, lib.info);
    const int passes = interlaced_ ? png_set_interlace_handling(lib.png) : 1;
    const int colourType = png_get_color_type(lib.png, lib.info);
    const bool packed = !interlaced_ && (colourType == PNG_COLOR_TYPE_PALETTE ||
                                         (colourType == PNG_COLOR_TYPE_GRAY && png_get_bit_depth(lib.png, lib.info) < 8));
    layout_ = packed ? PackedRows::Expanded(lib.png, lib.info) : Expand(lib.png, lib.info);
    layout_.keepAlpha = keepsAlpha();
    layout_.background = delivery_.background;
    const SampleLayout& layout = layout_;
    if (SampleRowBytes(std::uint64_t(header_.width), layout) > sampleRow_ ||
        png_get_image_width(lib.png, lib.info) != std::uint32_t(header_.width))
        png_error(lib.png, "header changed between reads");
    const std::size_t stride = static_cast<std::size_t>(sampleRow_);
    if (!interlaced_) {
        if (packed) table.emplace(lib.png, lib.info, layout);
        // Rows are read into two buffers in turn: a row equal to the one
        // before goes on as a count, so a plain background costs one row.
        const std::size_t rowBytes = png_get_rowbytes(lib.png, lib.info);
        int current = 0;
        for (int y = 0; y < header_.height; ++y) {
            std::uint8_t* row = samples.data() + stride * static_cast<std::size_t>(current);
            png_read_row(lib.png, row, nullptr);
            rowsRead = y + 1;
            if (y > 0 && std::memcmp(row, samples.data() + stride * static_cast<std::size_t>(1 - current), rowBytes) == 0) {
                held = held + 1;
                LeaveIfStopped();
                continue;
            }
            if (held > 0) {
                sink.repeat(bgr.data(), held);
                held = 0;
            }
            if (table) table->toBgr(row, header_.width, bgr.data());
            else SamplesToBgr(row, header_.width, layout, bgr.data());
            sink(bgr.data());
            current = 1 - current;
        }
        if (held > 0) sink.repeat(bgr.data(), held);
    } else {
        // Every pass comes before the first row: a stop is looked for here too.
        for (int pass = 0; pass < passes; ++pass)
            for (int y = 0; y < header_.height; ++y) {
                LeaveIfStopped();
                png_read_row(lib.png, samples.data() + stride * static_cast<std::size_t>(y), nullptr);
                rowsRead = rowsRead + 1;
            }
        for (int y = 0; y < header_.height; ++y) {
            SamplesToBgr(samples.data() + stride * static_cast<std::size_t>(y), header_.width, layout, bgr.data());
            sink(bgr.data());
        }
    }
    warnings_.count = callbacks.warnings;
    warnings_.text = callbacks.firstWarning;
}

}  // namespace

bool IsPngSignature(const std::uint8_t* bytes, std::size_t size)
{
    return size >= sizeof Signature && std::memcmp(bytes, Signature, sizeof Signature) == 0;
}

std::unique_ptr<PictureSource> OpenPngSource(const std::string& path, const std::string& shownName)
{
    return OpenPngBytes(ReadWholeFile(path, shownName));
}

std::unique_ptr<PictureSource> OpenPngBytes(std::vector<std::uint8_t> bytes)
{
    return std::make_unique<PngSource>(std::move(bytes));
}

}  // namespace pictavo
