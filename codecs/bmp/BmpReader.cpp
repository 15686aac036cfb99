#include "codecs/bmp/BmpReader.h"

#include "base/Errors.h"
#include "codecs/bmp/BmpProfile.h"
#include "codecs/ByteStream.h"
#include "base/Files.h"
#include "imaging/ColourProfile.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pictavo {
namespace {

// File header.
constexpr std::uint16_t Signature = 0x4D42;  // "BM"
// Info header fields, as offsets into the header (its size: BmpReader.h).
constexpr std::size_t KeptHeaderBytes = 56;  // through the masks of larger headers
constexpr std::size_t MinimumHeaderSize = 16;  // the shortest OS/2 2.x header
constexpr std::size_t WidthAt = 4, HeightAt = 8, PlanesAt = 12, BitCountAt = 14, CompressionAt = 16,
                      ImageSizeAt = 20, ColorsUsedAt = 32, MasksAt = 40;
constexpr std::size_t MaskBytes = 12;
// Compression values.
constexpr std::uint32_t Uncompressed = 0, Rle8 = 1, Rle4 = 2, BitFields = 3;
constexpr std::size_t MaxColorTable = 256;

constexpr auto U16 = LittleEndian16;
constexpr auto U32 = LittleEndian32;

[[noreturn]] void NotValid() { throw EInvalidGraphic(msg::BitmapNotValid); }

// Sequential reads from a file or from memory; `left` is the count of bytes
// not read yet.
class Input {
public:
    virtual ~Input() = default;
    std::uint64_t left = 0;
    // Exactly `count` bytes, else "Stream read error".
    void readExactly(void* target, std::size_t count)
    {
        if (count > left || readSome(target, count) != count) throw EReadError();
        left -= count;
    }
    void skip(std::uint64_t count)
    {
        std::uint8_t scrap[4096];
        while (count > 0) {
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(count, sizeof scrap));
            readExactly(scrap, n);
            count -= n;
        }
    }
    // Up to `count` bytes; what arrives.
    std::size_t readUpTo(void* target, std::size_t count)
    {
        const std::size_t n = readSome(target, static_cast<std::size_t>(std::min<std::uint64_t>(count, left)));
        left -= n;
        return n;
    }

protected:
    virtual std::size_t readSome(void* target, std::size_t count) = 0;
};

class MemoryInput : public Input {
public:
    MemoryInput(const std::uint8_t* data, std::size_t size) : data_(data) { left = size; }

protected:
    std::size_t readSome(void* target, std::size_t count) override
    {
        if (count == 0) return 0;
        std::memcpy(target, data_, count);
        data_ += count;
        return count;
    }

private:
    const std::uint8_t* data_;
};

class FileInput : public Input {
public:
    FileInput(const std::string& path, const std::string& shownName)
    {
        std::uint64_t size = 0;
        fd_ = OpenRegularFile(path, shownName, &size);
        left = size_ = size;
    }
    std::uint64_t size() const { return size_; }

    // Bytes at `offset`, wherever the reading stands; fewer past the end.
    std::vector<std::uint8_t> readAt(std::uint64_t offset, std::size_t count)
    {
        std::vector<std::uint8_t> bytes(count);
        const ssize_t n = ::pread(fd_.get(), bytes.data(), count, static_cast<off_t>(offset));
        bytes.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
        return bytes;
    }

protected:
    std::size_t readSome(void* target, std::size_t count) override { return ReadUpTo(fd_.get(), target, count); }

private:
    FileDescriptor fd_;
    std::uint64_t size_ = 0;
};

bool Contiguous(std::uint32_t mask)
{
    if (mask == 0) return true;
    const std::uint32_t run = mask >> std::countr_zero(mask);
    return (run & (run + 1)) == 0;
}

// What the headers and the colour table say, read up to the pixel data.
struct Layout {
    int width = 0;
    int rows = 0;
    bool bottomUp = false;
    int bits = 0;
    PixelFormat format = PixelFormat::Bgr24;
    bool rle = false;
    std::vector<PaletteEntry> palette;
    ChannelMasks masks;
    std::uint64_t area = 0;       // bytes of uncompressed rows
    std::uint64_t available = 0;  // pixel bytes the file holds, at most what the header says
};

Layout ReadLayout(Input& in)
{
    std::uint8_t fileHeader[BitmapFileHeaderSize];
    in.readExactly(fileHeader, BitmapFileHeaderSize);
    if (U16(fileHeader) != Signature) NotValid();
    // The pixel data offset (bytes 10 to 13) is not used: the pixels follow the colour table.

    std::uint8_t header[KeptHeaderBytes] = {};
    in.readExactly(header, 4);
    const std::uint32_t headerSize = U32(header);
    const bool core = headerSize == BitmapCoreHeaderSize;
    if (core) {
        std::uint8_t rest[BitmapCoreHeaderSize - 4];
        in.readExactly(rest, sizeof rest);
        // Rebuilt as an info header: unsigned 16-bit sizes, always bottom-up.
        std::memset(header, 0, sizeof header);
        std::memcpy(header + WidthAt, rest, 2);
        std::memcpy(header + HeightAt, rest + 2, 2);
        std::memcpy(header + PlanesAt, rest + 4, 4);
    } else {
        // Below 16 bytes no header holds the fields it must; OS/2 2.x headers
        // of 16 to 39 bytes leave the fields they omit at 0.
        if (headerSize < MinimumHeaderSize) NotValid();
        if (headerSize - 4 > in.left) throw EReadError();  // ends inside the header
        const std::size_t kept = std::min<std::size_t>(headerSize, KeptHeaderBytes);
        in.readExactly(header + 4, kept - 4);
        in.skip(headerSize - kept);
    }

    const std::int32_t width = static_cast<std::int32_t>(U32(header + WidthAt));
    const std::int32_t height = static_cast<std::int32_t>(U32(header + HeightAt));
    const int bits = U16(header + BitCountAt);
    const std::uint32_t compression = U32(header + CompressionAt);
    if (U16(header + PlanesAt) != 1) NotValid();

    ChannelMasks masks;
    const bool masked = compression == BitFields && (bits == 16 || bits == 32);
    if (masked && headerSize == BitmapInfoHeaderSize) {
        std::uint8_t m[MaskBytes];
        in.readExactly(m, MaskBytes);
        masks = {U32(m), U32(m + 4), U32(m + 8)};
    } else if (masked && headerSize >= MasksAt + MaskBytes) {
        masks = {U32(header + MasksAt), U32(header + MasksAt + 4), U32(header + MasksAt + 8)};
        // Version 3 headers and later add an alpha mask.
        if (bits == 32 && headerSize >= MasksAt + MaskBytes + 4) masks.alpha = U32(header + MasksAt + MaskBytes);
    } else if (masked) {
        NotValid();  // a short header with nowhere to keep its masks
    }

    // Colour table: the default count for the bit count when 0. A count
    // above 256 is read through, and the first 256 entries kept.
    std::uint64_t colors = U32(header + ColorsUsedAt);
    if (colors == 0) colors = bits == 1 ? 2 : bits == 4 ? 16 : bits == 8 ? 256 : 0;
    const std::size_t entrySize = core ? 3 : 4;
    if (colors * entrySize > in.left) throw EReadError();
    std::vector<PaletteEntry> palette(static_cast<std::size_t>(std::min<std::uint64_t>(colors, MaxColorTable)));
    for (PaletteEntry& e : palette) {
        std::uint8_t raw[4] = {};
        in.readExactly(raw, entrySize);
        e = {raw[0], raw[1], raw[2], 0};
    }
    in.skip((colors - palette.size()) * entrySize);

    // What the program decodes; everything else is refused.
    if (width <= 0 || height == 0 || height == INT_MIN) NotValid();
    PixelFormat format;
    switch (bits) {
    case 1: format = PixelFormat::Indexed1; break;
    case 4: format = PixelFormat::Indexed4; break;
    case 8: format = PixelFormat::Indexed8; break;
    case 16: format = masked ? PixelFormat::Masked16 : PixelFormat::Rgb555; break;
    case 24: format = PixelFormat::Bgr24; break;
    case 32: format = masked ? PixelFormat::Masked32 : PixelFormat::Bgrx32; break;
    default: NotValid();
    }
    const bool rle = (compression == Rle8 && bits == 8) || (compression == Rle4 && bits == 4);
    if (compression != Uncompressed && !masked && !rle) NotValid();
    if (masked && !(Contiguous(masks.red) && Contiguous(masks.green) && Contiguous(masks.blue))) NotValid();
    if (!Contiguous(masks.alpha) || (masks.alpha & (masks.red | masks.green | masks.blue)) != 0) masks.alpha = 0;
    if (rle && height < 0) NotValid();  // encoded data is always stored bottom-up

    Layout layout;
    layout.width = width;
    layout.rows = height < 0 ? -height : height;
    layout.bottomUp = height > 0;
    layout.bits = bits;
    layout.format = format;
    layout.rle = rle;
    layout.palette = std::move(palette);
    layout.masks = masks;
    layout.area = static_cast<std::uint64_t>(RowBytes(width, bits)) * static_cast<std::uint64_t>(layout.rows);
    std::uint64_t imageSize = U32(header + ImageSizeAt);
    if (imageSize == 0) imageSize = layout.area;
    layout.available = std::min(in.left, imageSize);
    return layout;
}

// Run-length data are read whole: they are never larger than the file.
std::vector<std::uint8_t> ReadRleData(Input& in, const Layout& layout)
{
    CheckMemoryBudget(layout.available);
    std::vector<std::uint8_t> data(static_cast<std::size_t>(layout.available));
    data.resize(in.readUpTo(data.data(), data.size()));
    return data;
}

void Read(Input& in, Raster24& raster)
{
    if (in.left == 0) {  // an empty file is an empty picture
        raster.release();
        return;
    }
    Layout layout = ReadLayout(in);

    Raster24 result;
    if (layout.rle) {
        // Pixels the data leave out stay black.
        result.reset(layout.width, layout.rows, PixelFormat::Device, 0);
        const std::vector<std::uint8_t> data = ReadRleData(in, layout);
        DecodeBitmapRle(data.data(), data.size(), layout.bits, layout.palette, result);
    } else {
        // The file's rows are the raster's rows: read them straight in. Rows
        // that short data leave out hold zero bytes.
        result.reset(layout.width, layout.rows, layout.format, std::nullopt, layout.bottomUp);
        const std::size_t got = in.readUpTo(result.pixelBytes(),
                                            static_cast<std::size_t>(std::min(layout.available, layout.area)));
        std::memset(result.pixelBytes() + got, 0, result.pixelByteCount() - got);
        result.setPalette(std::move(layout.palette));
        result.setMasks(layout.masks);
    }
    raster = std::move(result);
}

class BitmapSource : public PictureSource {
public:
    BitmapSource(const std::string& path, const std::string& shownName) : in_(path, shownName)
    {
        if (in_.left == 0) return;  // an empty picture, as the whole-file reader gives
        layout_ = ReadLayout(in_);
        header_.width = layout_.width;
        header_.height = layout_.rows;
        header_.bottomUp = layout_.bottomUp;
        header_.iccProfile = EmbeddedProfile();
        const std::uint64_t row = static_cast<std::uint64_t>(RowBytes(layout_.width, layout_.bits));
        header_.workFollowsData = !layout_.rle;  // a run of two bytes can paint a whole row
        header_.decodeMemory = (layout_.rle ? layout_.available + 3 * static_cast<std::uint64_t>(layout_.width) : row) +
                               ProfileMemory(header_.iccProfile.size());
        CheckDeclaredMemory(header_);
    }

    const PictureHeader& header() const override { return header_; }
    DecodeWarnings warnings() const override { return warnings_; }

    void readRows(const RowSink& sink) override
    {
        if (header_.height == 0) return;
        if (layout_.rle) {
            const std::vector<std::uint8_t> data = ReadRleData(in_, layout_);
            // Data that end before their end-of-bitmap marker are written as far as they go, and say so.
            if (!DecodeBitmapRleRows(data.data(), data.size(), layout_.bits, layout_.palette, layout_.width,
                                     layout_.rows, sink))
                warnings_ = {1, "Premature end of BMP file"};
            return;
        }
        const std::size_t rowBytes = static_cast<std::size_t>(RowBytes(layout_.width, layout_.bits));
        std::vector<std::uint8_t> stored(rowBytes), colours(3 * static_cast<std::size_t>(layout_.width));
        std::uint64_t left = std::min(layout_.available, layout_.area);
        // A file cut short is written as far as it goes, and says so.
        if (left < layout_.area) warnings_ = {1, "Premature end of BMP file"};
        for (int r = 0; r < layout_.rows; ++r) {
            // Rows that short data leave out hold zero bytes, as in the whole picture.
            if (left == 0) {
                std::memset(stored.data(), 0, rowBytes);
                RowToBgr(stored.data(), colours.data(), layout_.width, layout_.format, layout_.palette, layout_.masks);
                return sink.repeat(colours.data(), layout_.rows - r);
            }
            const std::size_t got = in_.readUpTo(stored.data(), std::min<std::uint64_t>(left, rowBytes));
            left -= got;
            if (got < rowBytes) {
                std::memset(stored.data() + got, 0, rowBytes - got);
                left = 0;
            }
            RowToBgr(stored.data(), colours.data(), layout_.width, layout_.format, layout_.palette, layout_.masks);
            sink(colours.data());
        }
    }

private:
    // A version 5 header may point past the pixels to an ICC profile.
    std::vector<std::uint8_t> EmbeddedProfile()
    {
        const std::vector<std::uint8_t> start = in_.readAt(0, BitmapProfileHeaderBytes);
        const ProfilePlace place = EmbeddedBitmapProfilePlace(start.data(), start.size());
        // One said to lie past the end, or larger than any profile, is none.
        if (place.length == 0 || place.length > LargestProfile || place.offset > in_.size() ||
            place.length > in_.size() - place.offset)
            return {};
        CheckMemoryBudget(place.length);
        std::vector<std::uint8_t> profile = in_.readAt(place.offset, static_cast<std::size_t>(place.length));
        if (profile.size() != place.length) return {};  // the file shrank meanwhile
        return profile;
    }

    FileInput in_;
    Layout layout_;
    PictureHeader header_;
    DecodeWarnings warnings_;
};

}  // namespace

void LoadBitmapFile(Raster24& raster, const std::string& path, const std::string& shownName)
{
    FileInput in(path, shownName.empty() ? path : shownName);
    Read(in, raster);
}

std::unique_ptr<PictureSource> OpenBitmapSource(const std::string& path, const std::string& shownName)
{
    return std::make_unique<BitmapSource>(path, shownName.empty() ? path : shownName);
}

void LoadBitmapBytes(Raster24& raster, const std::uint8_t* data, std::size_t size)
{
    MemoryInput in(data, size);
    Read(in, raster);
}

}  // namespace pictavo
