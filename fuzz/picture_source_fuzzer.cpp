// Arbitrary bytes through one of the row decoders, chosen at build time:
// must decode or fail with an exception, within the memory budget.
#include "base/Errors.h"
#include "base/MemoryBudget.h"
#include "codecs/HeifSource.h"
#include "codecs/PngSource.h"
#include "codecs/TiffSource.h"
#include "codecs/WebpSource.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const bool limited = [] {
        pictavo::SetMemoryBudget(std::uint64_t(64) << 20);
        return true;
    }();
    (void)limited;
    (void)PICTAVO_SIGNATURE(data, size);
    try {
        const auto source = PICTAVO_OPENER(std::vector<std::uint8_t>(data, data + size));
        const pictavo::PictureHeader& header = source->header();
        pictavo::CheckMemoryBudget(header.decodeMemory);
        // Sparse or well-compressed files may declare billions of rows,
        // which decode correctly but slowly: not this target's business.
        if (std::uint64_t(header.width) * std::uint64_t(header.height) > (std::uint64_t(1) << 24)) return 0;
        std::uint64_t sum = 0;
        source->readRows([&](const std::uint8_t* row) { sum += row[0] + row[3 * header.width - 1]; });
        (void)source->warnings();
    } catch (const pictavo::Exception&) {
    }
    return 0;
}
