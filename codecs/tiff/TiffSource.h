// TIFF files through libtiff, first page only: strips and tiles; 1 to 16-bit
// grey, 8 and 16-bit RGB, palette, CMYK, with or without alpha; JPEG-coded
// YCbCr; the orientation tag and the ICC profile. Rows stream a strip or a
// row of tiles at a time.
#pragma once

#include "codecs/PictureSource.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace pictavo {

// "II*\0" or "MM\0*", or the BigTIFF forms with 43: the first 4 bytes.
bool IsTiffSignature(const std::uint8_t* bytes, std::size_t size);

// Reads the file and its first directory. Damage and unsupported layouts
// raise EInvalidGraphic with "TIFF error: <reason>"; sizes past the memory
// budget "Out of memory".
std::unique_ptr<PictureSource> OpenTiffSource(const std::string& path, const std::string& shownName);
std::unique_ptr<PictureSource> OpenTiffBytes(std::vector<std::uint8_t> bytes);


}  // namespace pictavo
