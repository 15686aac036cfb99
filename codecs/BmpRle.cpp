#include "codecs/BmpReader.h"

namespace pictavo {
namespace {

constexpr std::uint8_t Escape = 0;
constexpr std::uint8_t EndOfLine = 0;
constexpr std::uint8_t EndOfBitmap = 1;
constexpr std::uint8_t Delta = 2;

class Painter {
public:
    Painter(Raster24& picture, const std::vector<PaletteEntry>& palette)
        : picture_(picture), palette_(palette), width_(picture.width()), height_(picture.height())
    {
    }

    bool done() const { return y >= height_; }

    void put(unsigned index)
    {
        if (x < width_ && y < height_) {
            // Stored rows run bottom-up; row 0 of the picture is the top.
            std::uint8_t* p = picture_.scanLine(static_cast<int>(height_ - 1 - y)) + 3 * x;
            if (index < palette_.size()) {
                p[0] = palette_[index].blue;
                p[1] = palette_[index].green;
                p[2] = palette_[index].red;
            }  // indices beyond the table stay black
        }
        ++x;
    }

    std::int64_t x = 0, y = 0;

private:
    Raster24& picture_;
    const std::vector<PaletteEntry>& palette_;
    std::int64_t width_, height_;
};

}  // namespace

void DecodeBitmapRle(const std::uint8_t* data, std::size_t size, int bits,
                     const std::vector<PaletteEntry>& palette, Raster24& picture)
{
    Painter paint(picture, palette);
    std::size_t pos = 0;
    while (pos + 2 <= size && !paint.done()) {
        const std::uint8_t count = data[pos], value = data[pos + 1];
        pos += 2;
        if (count != Escape) {  // a run of one index, or of two alternating nibbles
            for (int k = 0; k < count; ++k)
                paint.put(bits == 8 ? value : (k % 2 == 0 ? value >> 4 : value & 0x0F));
            continue;
        }
        if (value == EndOfLine) {
            paint.x = 0;
            ++paint.y;
        } else if (value == EndOfBitmap) {
            return;
        } else if (value == Delta) {
            if (pos + 2 > size) return;
            paint.x += data[pos];
            paint.y += data[pos + 1];
            pos += 2;
        } else {  // `value` literal indices, padded to a 16-bit boundary
            const std::size_t bytes = bits == 8 ? value : (value + 1u) / 2;
            for (int k = 0; k < value; ++k) {
                const std::size_t at = pos + (bits == 8 ? k : k / 2);
                if (at >= size) return;
                paint.put(bits == 8 ? data[at] : (k % 2 == 0 ? data[at] >> 4 : data[at] & 0x0F));
            }
            pos += bytes + (bytes & 1);
        }
    }
}

}  // namespace pictavo
