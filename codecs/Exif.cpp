// Reads the one EXIF field the program needs, the orientation tag of the
// first image directory. Every offset is checked against the block's end; a
// damaged block means "upright as stored".
#include "codecs/Exif.h"

#include "codecs/ByteStream.h"
#include "codecs/jpeg/JpegLibrary.h"
#include "codecs/jpeg/TJPEGImage.h"

#include <algorithm>
#include <cstring>

namespace pictavo {
namespace {

constexpr std::size_t TiffHeaderSize = 8;
constexpr std::size_t DirectoryEntrySize = 12;
constexpr std::uint16_t OrientationTag = 0x0112;
constexpr std::uint16_t TypeShort = 3;

struct Tiff {
    const std::uint8_t* data;
    std::size_t size;
    bool bigEndian;

    std::uint16_t u16(std::size_t at) const { return bigEndian ? BigEndian16(data + at) : LittleEndian16(data + at); }
    std::uint32_t u32(std::size_t at) const { return bigEndian ? BigEndian32(data + at) : LittleEndian32(data + at); }
};

}  // namespace

bool HasExifPrefix(const std::uint8_t* data, std::size_t size)
{
    return size >= ExifPrefix.size() && std::memcmp(data, ExifPrefix.data(), ExifPrefix.size()) == 0;
}

int ExifOrientation(const std::uint8_t* payload, std::size_t size)
{
    if (!HasExifPrefix(payload, size)) return 1;
    return TiffOrientation(payload + ExifPrefix.size(), size - ExifPrefix.size());
}

int EitherExifOrientation(const std::uint8_t* data, std::size_t size)
{
    return HasExifPrefix(data, size) ? ExifOrientation(data, size) : TiffOrientation(data, size);
}

int TiffOrientation(const std::uint8_t* block, std::size_t size)
{
    if (size < TiffHeaderSize) return 1;
    Tiff tiff{block, size, false};
    if (tiff.data[0] == 'M' && tiff.data[1] == 'M') tiff.bigEndian = true;
    else if (!(tiff.data[0] == 'I' && tiff.data[1] == 'I')) return 1;
    if (tiff.u16(2) != 42) return 1;

    const std::uint32_t directory = tiff.u32(4);
    if (directory < TiffHeaderSize || directory > tiff.size - 2) return 1;
    const std::size_t count = tiff.u16(directory);
    const std::size_t first = directory + 2;
    if (first + count * DirectoryEntrySize > tiff.size) return 1;  // a directory cut short
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t entry = first + i * DirectoryEntrySize;
        if (tiff.u16(entry) != OrientationTag) continue;
        if (tiff.u16(entry + 2) != TypeShort || tiff.u32(entry + 4) < 1) return 1;
        const int value = tiff.u16(entry + 8);  // a single short sits at the start of the value field
        return value >= 1 && value <= 8 ? value : 1;
    }
    return 1;
}

namespace jpeg {

int SavedOrientation(const jpeg_decompress_struct& cinfo)
{
    for (jpeg_saved_marker_ptr m = cinfo.marker_list; m != nullptr; m = m->next)
        if (m->marker == JPEG_APP0 + 1 && HasExifPrefix(m->data, m->data_length))
            return ExifOrientation(m->data, m->data_length);
    return 1;
}

}  // namespace jpeg
}  // namespace pictavo
