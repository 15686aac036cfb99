// Arbitrary bytes as a JPEG datastream: load, decode, turn upright and encode
// again; and the same bytes as an EXIF block.
#include "codecs/TJPEGImage.h"
#include "base/Errors.h"
#include "imaging/Orient.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const bool limited = [] {
        pictavo::SetMemoryBudget(std::uint64_t(16) << 20);
        return true;
    }();
    (void)limited;
    (void)pictavo::ExifOrientation(data, size);
    try {
        pictavo::TJPEGImage jpeg;
        jpeg.setPaletteOutput(size % 2 == 1);
        jpeg.loadFromBytes(std::vector<std::uint8_t>(data, data + size));
        pictavo::Raster24 raster;
        jpeg.decodeInto(raster);
        pictavo::Raster24 upright = pictavo::Orient(raster, jpeg.orientation());
        if (upright.width() <= 256 && upright.height() <= 256) {
            jpeg.takeRaster(upright);
            jpeg.encodedBytes();
        }
    } catch (const pictavo::Exception&) {
    }
    return 0;
}
