// The fixed limits on what files and options may declare, each with its reason.
#pragma once

#include <climits>
#include <cstdint>

namespace pictavo {

// The largest output side asked for: libjpeg refuses sides above 65500
// (JPEG_MAX_DIMENSION), and JPEG is the format every run can write.
inline constexpr int MaxOutputSide = 65500;

// The largest side a PNG may declare: libpng's own default user limit,
// stated so that a library built with another default reads the same files.
inline constexpr std::uint32_t MaxPngSide = 1000000;

// The largest side any picture may declare: pictures are addressed with
// int coordinates throughout.
inline constexpr std::int64_t MaxPictureSide = INT_MAX;

// Real encoders write at most a few dozen scans; a JPEG with thousands of
// them costs minutes of decoding for nothing. More than this is refused.
inline constexpr int MaxScans = 100;

// The most shards a run may be split into: far more than machines anyone
// has, and small enough that a shard's count never overflows.
inline constexpr int MaxShards = 1000000;

// The most tiles a HEIF or AVIF picture may be made of: libheif decodes each
// tile of a grid on its own, at a cost that grows faster than their count
// (141 x 141 tiles of 64 x 64 took minutes, from a file of 835 KB). Phones
// write tiles of 512 x 512, so this still allows a gigapixel.
inline constexpr std::uint64_t MaxHeifTiles = 4096;

}  // namespace pictavo
