// HEIF files (HEIC from phones, AVIF) through libheif: the primary image,
// turned upright by its irot/imir/clap transformations, alpha, 8 to 12-bit
// samples, an ICC profile or one made from the nclx colour facts. Pictures
// are decoded whole.
#pragma once

#include "codecs/PictureSource.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace pictavo {

// An ISO base media 'ftyp' box naming a HEIF or AVIF still-image brand
// (heic, heix, heim, heis, mif1, msf1, avif, avis, ...) as major or
// compatible brand. Reads the box within the first `size` bytes; 64 suffice
// for the usual files.
bool IsHeifSignature(const std::uint8_t* bytes, std::size_t size);

// Reads the file and its primary image's header. Damage raises
// EInvalidGraphic with "HEIF error: <libheif's reason>" ("AVIF error: ..."
// for AVIF files); sizes past the memory budget "Out of memory".
std::unique_ptr<PictureSource> OpenHeifSource(const std::string& path, const std::string& shownName);
std::unique_ptr<PictureSource> OpenHeifBytes(std::vector<std::uint8_t> bytes);

}  // namespace pictavo
