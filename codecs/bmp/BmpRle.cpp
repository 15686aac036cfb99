#include "codecs/bmp/BmpReader.h"

#include <algorithm>

namespace pictavo {
namespace {

constexpr std::uint8_t Escape = 0;
constexpr std::uint8_t EndOfLine = 0;
constexpr std::uint8_t EndOfBitmap = 1;
constexpr std::uint8_t Delta = 2;

// Paints one stored row at a time. Stored rows run bottom-up and only ever
// move up, so each row is handed on once the data leave it.
class Painter {
public:
    Painter(int width, int rows, const std::vector<PaletteEntry>& palette, const RleRowSink& sink)
        : palette_(palette), sink_(sink), width_(width), rows_(rows), row_(3 * static_cast<std::size_t>(width), 0)
    {
    }
    bool done() const { return y >= rows_; }
    // Every row painted, or all but the last up to its end (some writers
    // leave out the last end-of-line and the end-of-bitmap marker).
    bool complete() const { return done() || (y == rows_ - 1 && x >= width_); }
    void put(unsigned index)
    {
        if (x < width_ && y < rows_ && index < palette_.size()) {  // indices beyond the table stay black
            std::uint8_t* p = row_.data() + 3 * x;
            p[0] = palette_[index].blue;
            p[1] = palette_[index].green;
            p[2] = palette_[index].red;
        }
        ++x;
    }
    // Moves down the stored rows to `target`, handing on every row passed.
    void moveTo(std::int64_t target)
    {
        if (y < target && y < rows_) {
            sink_(row_.data());
            std::fill(row_.begin(), row_.end(), 0);
            // The rows jumped over are black, however many there are.
            const std::int64_t blank = std::min(target, rows_) - ++y;
            if (blank > 0) sink_.repeat(row_.data(), blank);
        }
        y = target;
    }
    void finish() { moveTo(rows_); }
    std::int64_t x = 0, y = 0;

private:
    const std::vector<PaletteEntry>& palette_;
    const RleRowSink& sink_;
    std::int64_t width_, rows_;
    std::vector<std::uint8_t> row_;  // blue, green, red of the row being painted
};

bool Decode(const std::uint8_t* data, std::size_t size, int bits, Painter& paint);

}  // namespace

void DecodeBitmapRle(const std::uint8_t* data, std::size_t size, int bits,
                     const std::vector<PaletteEntry>& palette, Raster24& picture)
{
    int stored = 0;
    const std::size_t bytes = 3 * static_cast<std::size_t>(picture.width());
    DecodeBitmapRleRows(data, size, bits, palette, picture.width(), picture.height(), [&](const std::uint8_t* row) {
        std::copy(row, row + bytes, picture.scanLine(picture.height() - 1 - stored++));
    });
}

bool DecodeBitmapRleRows(const std::uint8_t* data, std::size_t size, int bits,
                         const std::vector<PaletteEntry>& palette, int width, int rows, const RleRowSink& sink)
{
    if (size < 2 && rows > 0) {  // not one command: black rows made up are no picture
        const std::vector<std::uint8_t> black(3 * static_cast<std::size_t>(width), 0);
        sink.repeat(black.data(), rows);
        return false;
    }
    Painter paint(width, rows, palette, sink);
    const bool whole = Decode(data, size, bits, paint);
    paint.finish();
    return whole;
}

namespace {

// False when the data end before the end-of-bitmap marker with rows left to
// paint.
bool Decode(const std::uint8_t* data, std::size_t size, int bits, Painter& paint)
{
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
            paint.moveTo(paint.y + 1);
        } else if (value == EndOfBitmap) {
            return true;
        } else if (value == Delta) {
            if (pos + 2 > size) return false;
            paint.x += data[pos];
            paint.moveTo(paint.y + data[pos + 1]);
            pos += 2;
        } else {  // `value` literal indices, padded to a 16-bit boundary
            const std::size_t bytes = bits == 8 ? value : (value + 1u) / 2;
            for (int k = 0; k < value; ++k) {
                const std::size_t at = pos + (bits == 8 ? k : k / 2);
                if (at >= size) return false;
                paint.put(bits == 8 ? data[at] : (k % 2 == 0 ? data[at] >> 4 : data[at] & 0x0F));
            }
            pos += bytes + (bytes & 1);
        }
    }
    return paint.complete();
}

}  // namespace
}  // namespace pictavo
