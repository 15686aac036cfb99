// The one pixel container: rows of blue, green, red bytes padded to a
// multiple of 4, addressed from the top. Decoders may fill it in another
// layout first; make24Bit() turns any of them into 24-bit pixels.
#pragma once

#include "base/MemoryBudget.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace pictavo {

enum class PixelFormat {
    Device,    // a freshly sized raster: 24-bit bytes that are not yet "24-bit"
    Indexed1,  // 2-colour table, leftmost pixel in bit 7
    Indexed4,  // 16-colour table, leftmost pixel in the high nibble
    Indexed8,  // 256-colour table
    Rgb555,    // little-endian 16-bit, blue bits 0-4, green 5-9, red 10-14
    Masked16,  // little-endian 16-bit with channel masks
    Bgr24,     // the 24-bit layout
    Bgrx32,    // blue, green, red, one ignored byte
    Masked32,  // little-endian 32-bit with channel masks
};

struct PaletteEntry {
    std::uint8_t blue = 0, green = 0, red = 0, reserved = 0;
};

struct ChannelMasks {
    std::uint32_t red = 0, green = 0, blue = 0;
    std::uint32_t alpha = 0;  // none when 0; otherwise composited over white
};

// Pixel memory is left uninitialised where the code that allocates it
// writes every byte anyway: a decoder then costs one pass over memory, not two.
template <class T>
struct UninitialisedAllocator : std::allocator<T> {
    template <class U>
    struct rebind {
        using other = UninitialisedAllocator<U>;
    };
    using std::allocator<T>::allocator;
    template <class U>
    void construct(U* p) noexcept
    {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args)
    {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};
using PixelBuffer = std::vector<std::uint8_t, UninitialisedAllocator<std::uint8_t>>;

int BitsPerPixel(PixelFormat format);

// One row of 1, 4 or 8-bit indices (leftmost in the high bits) as blue,
// green, red bytes; indices beyond the table show black.
void IndexedRowToBgr(const std::uint8_t* src, std::uint8_t* dst, int width, int bits,
                     const std::vector<PaletteEntry>& palette);

// One row in `format` as blue, green, red bytes.
void RowToBgr(const std::uint8_t* src, std::uint8_t* dst, int width, PixelFormat format,
              const std::vector<PaletteEntry>& palette, ChannelMasks masks);

// Bytes of one row: ((width * bits + 31) and not 31) div 8.
std::int64_t RowBytes(std::int64_t width, int bitsPerPixel);


class Raster24 {
public:
    Raster24() = default;

    int width() const { return width_; }
    int height() const { return height_; }
    PixelFormat format() const { return format_; }

    bool is24Bit() const { return format_ == PixelFormat::Bgr24; }
    void make24Bit();

    // Row `row` counted from the top; "Scan line index out of range" outside
    // 0 .. height - 1. The writable form first gives this raster its own copy
    // of pixels it shares with another.
    std::uint8_t* scanLine(int row);
    const std::uint8_t* scanLine(int row) const;
    // Signed distance from the start of row r to the start of row r + 1.
    std::ptrdiff_t rowStep() const { return bottomUp_ ? -stride_ : stride_; }
    std::ptrdiff_t stride() const { return stride_; }

    // Value semantics; the pixels are shared until the next write.
    void assign(const Raster24* source);
    void release();

    // For decoders: a new pixel area in `format`, every byte set to `fill`,
    // or left unset when there is none (the caller writes every byte).
    // bottomUp stores row 0 last in memory (as a bottom-up file lays it out).
    void reset(int width, int height, PixelFormat format, std::optional<std::uint8_t> fill, bool bottomUp = false);
    // The pixel area in memory order (row height-1 first when bottom-up).
    std::uint8_t* pixelBytes();
    std::size_t pixelByteCount() const;

    const std::vector<PaletteEntry>& palette() const { return palette_; }
    void setPalette(std::vector<PaletteEntry> palette) { palette_ = std::move(palette); }
    ChannelMasks masks() const { return masks_; }
    void setMasks(ChannelMasks masks) { masks_ = masks; }

private:
    void detach();
    std::uint8_t* rowAddress(int row) const;

    int width_ = 0;
    int height_ = 0;
    PixelFormat format_ = PixelFormat::Device;
    bool bottomUp_ = false;
    std::ptrdiff_t stride_ = 0;
    std::shared_ptr<PixelBuffer> pixels_;
    std::vector<PaletteEntry> palette_;
    ChannelMasks masks_;
};

}  // namespace pictavo
