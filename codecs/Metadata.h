// Which of a picture's EXIF, XMP and IPTC metadata its output keeps, read and
// filtered with libexiv2. The output is upright and in sRGB, so whatever is
// kept says so: orientation 1, the output's pixel dimensions, no colour
// profile, no thumbnail.
#pragma once

#include "codecs/OutputMetadata.h"
#include "codecs/PictureSource.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace pictavo {

// None: nothing, as ever. Safe: authorship, rights, description, capture
// time and camera settings, but no place, serial numbers, owner, maker
// notes or thumbnail. All: everything but the thumbnail.
enum class MetadataPolicy { None, Safe, All };
inline constexpr std::array<const char*, 3> MetadataPolicyNames = {"none", "safe", "all"};
std::optional<MetadataPolicy> MetadataPolicyNamed(const std::string& name);

// The memory reading the metadata of `source`, opened from `path`, takes at
// most: the blocks its file declares and the copies made of them.
std::uint64_t MetadataMemory(const PictureSource& source, const std::string& path);

// The metadata `policy` keeps for an output of width x height. A damaged
// EXIF or XMP block gives no metadata and one more warning in `warnings`.
OutputMetadata ReadMetadata(const PictureSource& source, const std::string& path, MetadataPolicy policy, int width,
                            int height, DecodeWarnings& warnings);

}  // namespace pictavo
