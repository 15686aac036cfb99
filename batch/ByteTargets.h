// Byte targets: the highest quality whose output fits a size, for one
// picture (--target-size) or for all outputs of a run together
// (--total-size). Reduced pictures are encoded again, never decoded again.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace pictavo {

struct Fitted {
    int quality = 0;
    std::vector<std::uint8_t> bytes;
};

// The highest quality from 1 to `ceiling` whose bytes (from `encode`) are at
// most `limit`, found by halving the range. Raises an Exception naming the
// smallest size reached and the target when not even quality 1 fits.
Fitted FitQuality(const std::function<std::vector<std::uint8_t>(int quality)>& encode, std::uint64_t limit,
                  int ceiling);

// The same over sizes that grow with quality: the highest quality from 1 to
// `ceiling` with total(quality) at most `limit`, or 0 when not even quality
// 1 fits (`smallest` is then its total).
int HighestFitting(const std::function<std::uint64_t(int quality)>& total, std::uint64_t limit, int ceiling,
                   std::uint64_t& smallest);

// "40960 bytes (40K)": a size as the options take it, and exactly.
std::string SizeText(std::uint64_t bytes);

}  // namespace pictavo
