// PNG files through libpng: palette, grey, 8 and 16 bits, transparency,
// interlacing; iCCP, sRGB and gAMA colour facts, eXIf orientation. Rows of
// non-interlaced files stream; interlaced files are decoded whole.
#pragma once

#include "codecs/PictureSource.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace pictavo {

// The 8-byte PNG signature starts `bytes`.
bool IsPngSignature(const std::uint8_t* bytes, std::size_t size);

// Reads the file and its header. Damage raises EInvalidGraphic with
// "PNG error: <libpng's reason>"; sizes past the memory budget "Out of memory".
std::unique_ptr<PictureSource> OpenPngSource(const std::string& path, const std::string& shownName);
std::unique_ptr<PictureSource> OpenPngBytes(std::vector<std::uint8_t> bytes);

}  // namespace pictavo
