// The EXIF orientation, read from the block as each container stores it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace pictavo {

// What EXIF in a JPEG's APP1 marker starts with, before its TIFF block.
inline constexpr std::string_view ExifPrefix{"Exif\0\0", 6};
bool HasExifPrefix(const std::uint8_t* data, std::size_t size);

// The EXIF orientation in an APP1 marker's payload (ExifPrefix and a TIFF
// block); 1 when it is missing, damaged or outside 1 ... 8.
int ExifOrientation(const std::uint8_t* payload, std::size_t size);
// The same for a bare TIFF block, as PNG stores EXIF.
int TiffOrientation(const std::uint8_t* block, std::size_t size);
// The same for a block that has the prefix or not, as WebP writers differ.
int EitherExifOrientation(const std::uint8_t* data, std::size_t size);

}  // namespace pictavo
