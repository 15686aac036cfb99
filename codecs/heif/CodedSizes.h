// The largest picture a HEIF or AVIF file's coded data declare. The
// decoders size their buffers from their own parameter sets, whatever the
// file's 'ispe' says, so these are what must fit the memory budget.
#pragma once

#include "codecs/heif/HeifItems.h"

#include <cstdint>
#include <vector>

namespace pictavo {

// Pixels of the largest picture the HEVC sequence parameter sets in the
// items' 'hvcC' configurations declare; 0 when none can be read.
std::uint64_t LargestHevcPicture(const std::vector<std::uint8_t>& bytes, const HeifItems& items);

// Pixels of the largest frame the AV1 sequence headers allow, in the 'av1C'
// configurations and at the start of every item's coded data.
std::uint64_t LargestAv1Picture(const std::vector<std::uint8_t>& bytes, const HeifItems& items);

}  // namespace pictavo
