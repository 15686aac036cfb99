#include "codecs/bmp/BmpProfile.h"

#include "codecs/bmp/BmpReader.h"
#include "codecs/ByteStream.h"
#include "imaging/ColourProfile.h"

namespace pictavo {
namespace {

// Offsets inside the version 5 header.
constexpr std::size_t ColourSpaceType = 56;
constexpr std::size_t ProfileData = 112;  // counted from the header's start
constexpr std::size_t ProfileSize = 116;
constexpr std::uint32_t ProfileEmbedded = 0x4D424544;  // 'MBED'

constexpr auto U32 = LittleEndian32;

}  // namespace

ProfilePlace EmbeddedBitmapProfilePlace(const std::uint8_t* file, std::size_t size)
{
    if (size < BitmapFileHeaderSize + BitmapV5HeaderSize) return {};
    const std::uint8_t* header = file + BitmapFileHeaderSize;
    if (U32(header) < BitmapV5HeaderSize || U32(header + ColourSpaceType) != ProfileEmbedded) return {};
    return {BitmapFileHeaderSize + std::uint64_t(U32(header + ProfileData)), U32(header + ProfileSize)};
}

std::vector<std::uint8_t> EmbeddedBitmapProfile(const std::uint8_t* file, std::size_t size)
{
    const ProfilePlace place = EmbeddedBitmapProfilePlace(file, size);
    if (place.length == 0 || place.length > LargestProfile || place.offset > size || place.length > size - place.offset)
        return {};
    return {file + place.offset, file + place.offset + place.length};
}

}  // namespace pictavo
