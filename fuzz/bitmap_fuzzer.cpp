// Arbitrary bytes as a bitmap file: must load or fail with an exception.
#include "codecs/BmpReader.h"
#include "base/Errors.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const bool limited = [] {
        pictavo::SetMemoryBudget(std::uint64_t(64) << 20);
        return true;
    }();
    (void)limited;
    pictavo::Raster24 raster;
    try {
        pictavo::LoadBitmapBytes(raster, data, size);
        raster.make24Bit();
    } catch (const pictavo::Exception&) {
    }
    return 0;
}
