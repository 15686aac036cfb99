#include "batch/ByteTargets.h"

#include "base/Errors.h"

#include <cstdio>

namespace pictavo {

std::string SizeText(std::uint64_t bytes)
{
    char text[64];
    if (bytes >= (1u << 20)) std::snprintf(text, sizeof text, "%llu bytes (%.1fM)", (unsigned long long)bytes, bytes / 1048576.0);
    else std::snprintf(text, sizeof text, "%llu bytes (%.1fK)", (unsigned long long)bytes, bytes / 1024.0);
    return text;
}

int HighestFitting(const std::function<std::uint64_t(int quality)>& total, std::uint64_t limit, int ceiling,
                   std::uint64_t& smallest)
{
    smallest = total(ceiling);
    if (smallest <= limit) return ceiling;
    if (ceiling > 1) smallest = total(1);
    if (smallest > limit) return 0;
    int fits = 1, over = ceiling;
    while (over - fits > 1) {
        const int middle = (fits + over) / 2;
        (total(middle) <= limit ? fits : over) = middle;
    }
    return fits;
}

Fitted FitQuality(const std::function<std::vector<std::uint8_t>(int quality)>& encode, std::uint64_t limit,
                  int ceiling)
{
    Fitted best;
    std::uint64_t smallest = 0;
    const int quality = HighestFitting(
        [&](int q) {
            std::vector<std::uint8_t> bytes = encode(q);
            const std::uint64_t size = bytes.size();
            if (size <= limit && q > best.quality) best = {q, std::move(bytes)};
            return size;
        },
        limit, ceiling, smallest);
    if (quality == 0) {
        Exception error("Does not fit the target size");
        error.setDetail("the smallest output, at quality 1, is " + SizeText(smallest) + "; the target is " +
                        SizeText(limit));
        throw error;
    }
    if (best.quality != quality) best = {quality, encode(quality)};  // sizes that do not grow with quality
    return best;
}

}  // namespace pictavo
