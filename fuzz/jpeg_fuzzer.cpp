// Arbitrary bytes as a JPEG datastream: load, decode, turn upright and encode
// again; and the same bytes as an EXIF block.
#include "codecs/jpeg/TJPEGImage.h"
#include "base/Errors.h"
#include "codecs/Exif.h"
#include "imaging/Orient.h"
#include "imaging/Reduction.h"

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
        jpeg.setDecodesToPalette(size % 2 == 1);
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
    // The same bytes streamed through the reduction, turned as their EXIF says.
    try {
        pictavo::TJPEGImage jpeg;
        jpeg.loadFromBytes(std::vector<std::uint8_t>(data, data + size));
        if (std::uint64_t(jpeg.width()) * std::uint64_t(jpeg.height()) > (1u << 22)) return 0;
        pictavo::Reduction reduction({jpeg.width(), jpeg.height(), false, jpeg.orientation(), 5, 7, true});
        jpeg.decodeRows([&](const std::uint8_t* row) { reduction.addRow(row); });
        reduction.finish();
    } catch (const pictavo::Exception&) {
    }
    return 0;
}
