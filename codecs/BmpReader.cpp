#include "codecs/BmpReader.h"

#include "base/Errors.h"

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
constexpr std::size_t FileHeaderSize = 14;
constexpr std::uint16_t Signature = 0x4D42;  // "BM"
// Info header fields, as offsets into the header.
constexpr std::size_t CoreHeaderSize = 12;
constexpr std::size_t InfoHeaderSize = 40;
constexpr std::size_t KeptHeaderBytes = 56;  // through the masks of larger headers
constexpr std::size_t MinimumHeaderSize = 16;  // the shortest OS/2 2.x header
constexpr std::size_t WidthAt = 4, HeightAt = 8, PlanesAt = 12, BitCountAt = 14, CompressionAt = 16,
                      ImageSizeAt = 20, ColorsUsedAt = 32, MasksAt = 40;
constexpr std::size_t MaskBytes = 12;
// Compression values.
constexpr std::uint32_t Uncompressed = 0, Rle8 = 1, Rle4 = 2, BitFields = 3;
constexpr std::size_t MaxColorTable = 256;

std::uint16_t U16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
std::uint32_t U32(const std::uint8_t* p) { return std::uint32_t(U16(p)) | std::uint32_t(U16(p + 2)) << 16; }

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
    FileInput(const std::string& path, const std::string& shownName) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC))
    {
        struct stat info {};
        if (fd_ < 0 || ::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) {
            if (fd_ >= 0) ::close(fd_);
            throw EFOpenError(shownName);
        }
        left = static_cast<std::uint64_t>(info.st_size);
    }
    ~FileInput() override { ::close(fd_); }
    FileInput(const FileInput&) = delete;
    FileInput& operator=(const FileInput&) = delete;

protected:
    std::size_t readSome(void* target, std::size_t count) override
    {
        auto* p = static_cast<std::uint8_t*>(target);
        std::size_t done = 0;
        while (done < count) {
            const ssize_t n = ::read(fd_, p + done, count - done);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) throw EReadError();
            if (n == 0) break;
            done += static_cast<std::size_t>(n);
        }
        return done;
    }

private:
    int fd_;
};

bool Contiguous(std::uint32_t mask)
{
    if (mask == 0) return true;
    const std::uint32_t run = mask >> std::countr_zero(mask);
    return (run & (run + 1)) == 0;
}

void Read(Input& in, Raster24& raster)
{
    if (in.left == 0) {  // an empty file is an empty picture
        raster.release();
        return;
    }
    std::uint8_t fileHeader[FileHeaderSize];
    in.readExactly(fileHeader, FileHeaderSize);
    if (U16(fileHeader) != Signature) NotValid();
    // The pixel data offset (bytes 10 to 13) is not used: the pixels follow the colour table.

    std::uint8_t header[KeptHeaderBytes] = {};
    in.readExactly(header, 4);
    const std::uint32_t headerSize = U32(header);
    const bool core = headerSize == CoreHeaderSize;
    if (core) {
        std::uint8_t rest[CoreHeaderSize - 4];
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
    if (masked && headerSize == InfoHeaderSize) {
        std::uint8_t m[MaskBytes];
        in.readExactly(m, MaskBytes);
        masks = {U32(m), U32(m + 4), U32(m + 8)};
    } else if (masked && headerSize >= MasksAt + MaskBytes) {
        masks = {U32(header + MasksAt), U32(header + MasksAt + 4), U32(header + MasksAt + 8)};
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
    if (rle && height < 0) NotValid();  // encoded data is always stored bottom-up

    const int rows = height < 0 ? -height : height;
    const std::uint64_t area = static_cast<std::uint64_t>(RowBytes(width, bits)) * static_cast<std::uint64_t>(rows);
    std::uint64_t imageSize = U32(header + ImageSizeAt);
    if (imageSize == 0) imageSize = area;
    const std::uint64_t available = std::min(in.left, imageSize);

    Raster24 result;
    if (rle) {
        // Pixels the data leave out stay black.
        result.reset(width, rows, PixelFormat::Device, 0);
        std::vector<std::uint8_t> data(static_cast<std::size_t>(available));
        data.resize(in.readUpTo(data.data(), data.size()));
        DecodeBitmapRle(data.data(), data.size(), bits, palette, result);
    } else {
        // The file's rows are the raster's rows: read them straight in. Rows
        // that short data leave out stay black.
        result.reset(width, rows, format, std::nullopt, /*bottomUp=*/height > 0);
        const std::size_t got = in.readUpTo(result.pixelBytes(), static_cast<std::size_t>(std::min(available, area)));
        std::memset(result.pixelBytes() + got, 0, result.pixelByteCount() - got);
        result.setPalette(std::move(palette));
        result.setMasks(masks);
    }
    raster = std::move(result);
}

}  // namespace

void LoadBitmapFile(Raster24& raster, const std::string& path, const std::string& shownName)
{
    FileInput in(path, shownName.empty() ? path : shownName);
    Read(in, raster);
}

void LoadBitmapBytes(Raster24& raster, const std::uint8_t* data, std::size_t size)
{
    MemoryInput in(data, size);
    Read(in, raster);
}

}  // namespace pictavo
