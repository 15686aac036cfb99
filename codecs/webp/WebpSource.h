// WebP files through libwebp: lossy and lossless, with or without alpha,
// the first frame of an animation, the ICCP profile and EXIF orientation.
// Pictures are decoded whole.
#pragma once

#include "codecs/PictureSource.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace pictavo {

// "RIFF", a size, "WEBP": the first 12 bytes.
bool IsWebpSignature(const std::uint8_t* bytes, std::size_t size);

// Reads the file and its header. Damage raises EInvalidGraphic with
// "WebP error: <libwebp's reason>"; sizes past the memory budget "Out of memory".
std::unique_ptr<PictureSource> OpenWebpSource(const std::string& path, const std::string& shownName);
std::unique_ptr<PictureSource> OpenWebpBytes(std::vector<std::uint8_t> bytes);

}  // namespace pictavo
