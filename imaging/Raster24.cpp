#include "imaging/Raster24.h"

#include "base/Errors.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

namespace pictavo {
namespace {

std::shared_ptr<PixelBuffer> NewPixels(std::uint64_t bytes, std::optional<std::uint8_t> fill)
{
    CheckMemoryBudget(bytes);
    return WithMemoryErrors([&] {
        if (!fill) return std::make_shared<PixelBuffer>(static_cast<std::size_t>(bytes));
        return std::make_shared<PixelBuffer>(static_cast<std::size_t>(bytes), *fill);
    });
}

// One channel under a mask, widened to 8 bits by repeating its bits.
struct Channel {
    std::uint32_t mask = 0;
    int shift = 0;
    int width = 0;

    explicit Channel(std::uint32_t m) : mask(m)
    {
        if (m == 0) return;
        shift = std::countr_zero(m);
        width = 32 - std::countl_zero(m >> shift);
    }

    std::uint8_t operator()(std::uint32_t pixel) const
    {
        if (width == 0) return 0;
        const std::uint32_t v = (pixel & mask) >> shift;
        if (width >= 8) return static_cast<std::uint8_t>(v >> (width - 8));
        std::uint32_t out = 0;
        int filled = 0;
        while (filled < 8) {
            out = (out << width) | v;
            filled += width;
        }
        return static_cast<std::uint8_t>(out >> (filled - 8));
    }
};

void ConvertMaskedRow(const std::uint8_t* src, std::uint8_t* dst, int width, int bytesPerPixel,
                      const Channel& red, const Channel& green, const Channel& blue, const Channel* alpha)
{
    for (int x = 0; x < width; ++x) {
        std::uint32_t pixel = 0;
        for (int b = bytesPerPixel - 1; b >= 0; --b) pixel = (pixel << 8) | src[b];
        dst[0] = blue(pixel);
        dst[1] = green(pixel);
        dst[2] = red(pixel);
        if (alpha) {  // over white, as every other format's transparency
            const unsigned a = (*alpha)(pixel);
            for (int c = 0; c < 3; ++c) dst[c] = static_cast<std::uint8_t>((dst[c] * a + 255 * (255 - a) + 127) / 255);
        }
        src += bytesPerPixel;
        dst += 3;
    }
}

}  // namespace

void IndexedRowToBgr(const std::uint8_t* src, std::uint8_t* dst, int width, int bits,
                     const std::vector<PaletteEntry>& palette)
{
    const int perByte = 8 / bits;
    const unsigned valueMask = (1u << bits) - 1;
    for (int x = 0; x < width; ++x) {
        const int shift = 8 - bits * (x % perByte + 1);
        const unsigned index = (src[x / perByte] >> shift) & valueMask;
        // Indices beyond the table show black.
        if (index < palette.size()) {
            const PaletteEntry& e = palette[index];
            dst[0] = e.blue;
            dst[1] = e.green;
            dst[2] = e.red;
        } else {
            dst[0] = dst[1] = dst[2] = 0;
        }
        dst += 3;
    }
}

void RowToBgr(const std::uint8_t* src, std::uint8_t* dst, int width, PixelFormat format,
              const std::vector<PaletteEntry>& palette, ChannelMasks masks)
{
    const bool rgb555 = format == PixelFormat::Rgb555;
    switch (format) {
    case PixelFormat::Indexed1: IndexedRowToBgr(src, dst, width, 1, palette); break;
    case PixelFormat::Indexed4: IndexedRowToBgr(src, dst, width, 4, palette); break;
    case PixelFormat::Indexed8: IndexedRowToBgr(src, dst, width, 8, palette); break;
    case PixelFormat::Rgb555:
    case PixelFormat::Masked16:
    case PixelFormat::Masked32: {
        const Channel red(rgb555 ? 0x7C00 : masks.red);
        const Channel green(rgb555 ? 0x03E0 : masks.green);
        const Channel blue(rgb555 ? 0x001F : masks.blue);
        const Channel alpha(rgb555 ? 0 : masks.alpha);
        ConvertMaskedRow(src, dst, width, format == PixelFormat::Masked32 ? 4 : 2, red, green, blue,
                         masks.alpha != 0 && !rgb555 ? &alpha : nullptr);
        break;
    }
    case PixelFormat::Bgrx32:
        for (int x = 0; x < width; ++x) {
            dst[3 * x] = src[4 * x];
            dst[3 * x + 1] = src[4 * x + 1];
            dst[3 * x + 2] = src[4 * x + 2];
        }
        break;
    case PixelFormat::Device:
    case PixelFormat::Bgr24:
        if (dst != src) std::memcpy(dst, src, 3 * static_cast<std::size_t>(width));
        break;
    }
}

int BitsPerPixel(PixelFormat format)
{
    switch (format) {
    case PixelFormat::Indexed1: return 1;
    case PixelFormat::Indexed4: return 4;
    case PixelFormat::Indexed8: return 8;
    case PixelFormat::Rgb555:
    case PixelFormat::Masked16: return 16;
    case PixelFormat::Device:
    case PixelFormat::Bgr24: return 24;
    case PixelFormat::Bgrx32:
    case PixelFormat::Masked32: return 32;
    }
    return 24;
}

std::int64_t RowBytes(std::int64_t width, int bitsPerPixel)
{
    return ((width * bitsPerPixel + 31) & ~std::int64_t(31)) / 8;
}


void Raster24::make24Bit()
{
    if (format_ == PixelFormat::Bgr24) return;
    if (format_ == PixelFormat::Device) {  // already holds 24-bit colours
        format_ = PixelFormat::Bgr24;
        return;
    }
    const std::int64_t stride = RowBytes(width_, 24);
    std::shared_ptr<PixelBuffer> pixels;
    if (pixels_) {
        pixels = NewPixels(static_cast<std::uint64_t>(stride) * static_cast<std::uint64_t>(height_), std::nullopt);
        for (int r = 0; r < height_; ++r)
            RowToBgr(rowAddress(r), pixels->data() + r * stride, width_, format_, palette_, masks_);
    }
    format_ = PixelFormat::Bgr24;
    stride_ = static_cast<std::ptrdiff_t>(stride);
    bottomUp_ = false;
    pixels_ = std::move(pixels);
    palette_.clear();
    masks_ = {};
}

std::uint8_t* Raster24::rowAddress(int row) const
{
    const std::ptrdiff_t index = bottomUp_ ? height_ - 1 - row : row;
    return pixels_->data() + index * stride_;
}

std::uint8_t* Raster24::scanLine(int row)
{
    if (row < 0 || row >= height_ || !pixels_) throw EInvalidGraphicOperation(msg::ScanLineOutOfRange);
    detach();
    return rowAddress(row);
}

const std::uint8_t* Raster24::scanLine(int row) const
{
    if (row < 0 || row >= height_ || !pixels_) throw EInvalidGraphicOperation(msg::ScanLineOutOfRange);
    return rowAddress(row);
}

void Raster24::detach()
{
    if (pixels_ && pixels_.use_count() > 1) {
        auto copy = NewPixels(pixels_->size(), std::nullopt);
        std::memcpy(copy->data(), pixels_->data(), pixels_->size());
        pixels_ = std::move(copy);
    }
}

void Raster24::assign(const Raster24* source)
{
    if (source == this) return;
    if (source == nullptr) {
        release();
        return;
    }
    *this = *source;
}

void Raster24::release()
{
    *this = Raster24();
}

void Raster24::reset(int width, int height, PixelFormat format, std::optional<std::uint8_t> fill, bool bottomUp)
{
    if (width < 0 || height < 0) throw EInvalidGraphicOperation(msg::InvalidImageSize);
    const std::int64_t stride = RowBytes(width, BitsPerPixel(format));
    std::shared_ptr<PixelBuffer> pixels;
    if (width > 0 && height > 0)
        pixels = NewPixels(static_cast<std::uint64_t>(stride) * static_cast<std::uint64_t>(height), fill);
    width_ = width;
    height_ = height;
    format_ = format;
    bottomUp_ = bottomUp;
    stride_ = static_cast<std::ptrdiff_t>(stride);
    pixels_ = std::move(pixels);
    palette_.clear();
    masks_ = {};
}

std::uint8_t* Raster24::pixelBytes()
{
    if (!pixels_) return nullptr;
    detach();
    return pixels_->data();
}

std::size_t Raster24::pixelByteCount() const
{
    return pixels_ ? pixels_->size() : 0;
}

}  // namespace pictavo
