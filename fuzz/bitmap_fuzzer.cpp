// Arbitrary bytes as a bitmap file: loaded whole, and streamed from a file
// through the reduction as a resize reads it; both must end in a picture or
// an exception.
#include "base/Errors.h"
#include "codecs/bmp/BmpReader.h"
#include "imaging/Reduction.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const int fd = [] {
        pictavo::SetMemoryBudget(std::uint64_t(64) << 20);
        return memfd_create("bitmap", 0);
    }();
    pictavo::Raster24 raster;
    try {
        pictavo::LoadBitmapBytes(raster, data, size);
        raster.make24Bit();
    } catch (const pictavo::Exception&) {
    }
    if (ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) return 0;
    try {
        const auto source = pictavo::OpenBitmapSource("/proc/self/fd/" + std::to_string(fd), "fuzz.bmp");
        const pictavo::PictureHeader& h = source->header();
        // Rows of huge pictures only cost time here; their memory is what matters.
        if (std::uint64_t(h.width) * std::uint64_t(h.height) > (1u << 24)) return 0;
        pictavo::Reduction reduction({h.width, h.height, h.bottomUp, 1, 7, 5, true});
        source->readRows([&](const std::uint8_t* row) { reduction.addRow(row); });
        reduction.finish();
    } catch (const pictavo::Exception&) {
    }
    return 0;
}
