// The area-averaging reduction fed one source row at a time, so a decoder can
// stream its rows through it without ever holding the whole picture.
#pragma once

#include "imaging/Raster24.h"

#include <cstdint>
#include <vector>

namespace pictavo {

// The boxes along one axis of the rows as they arrive: `skip` source pixels
// that fall in no box, then each box's size in arrival order.
struct BoxAxis {
    int skip = 0;
    std::vector<int> sizes;
};

// The boxes of `destinationSize` over `sourceSize` pixels counted from the
// start: box k starts at trunc(k * scale). The last pixels fall in no box
// whenever the single-precision scale lies below the exact ratio. Raises
// "Floating point division by zero" for a destination of 0 and "Division by
// zero" when some box would be empty.
BoxAxis BoxesFromStart(int sourceSize, int destinationSize);
// The same boxes for pixels that arrive from the far end.
BoxAxis Reversed(const BoxAxis& axis, int sourceSize);

// Both axes of a reduction laid from the top left. Both scales are checked
// before either axis can report an empty box.
struct BoxGrid {
    BoxAxis across;
    BoxAxis down;
};
BoxGrid BoxesFromTopLeft(int sourceWidth, int sourceHeight, int destinationWidth, int destinationHeight);

class BoxReducer {
public:
    // Boxes given per axis (BoxesFromTopLeft, Reversed), so that rows may
    // arrive mirrored or transposed with respect to the picture the boxes
    // were laid over. `destination` is a 24-bit raster sized to
    // columns.sizes x rows.sizes. With a `scale` above 1 the rows arrive
    // that many times narrower, each pixel standing for `scale` columns (the
    // last for what is left of the picture's width); rows are still counted
    // as the picture's, so a row standing for several is given by addRows.
    BoxReducer(Raster24& destination, BoxAxis columns, BoxAxis rows, int scale = 1);

    // Memory the reducer itself holds for a source row of `sourceWidth`
    // reduced to `destinationWidth` boxes.
    static std::uint64_t MemoryFor(int sourceWidth, int destinationWidth);

    // Source rows from the top, 3 * sourceWidth bytes of blue, green, red.
    // Rows past the last box are ignored.
    void addRow(const std::uint8_t* row);
    // `count` source rows that are all `row`, in time that grows with the
    // boxes they fall in rather than with `count`.
    void addRows(const std::uint8_t* row, std::int64_t count);
    // True once every destination row is written.
    bool done() const { return band_ >= rowHeights_.size(); }

    // A box's channel total: up to 255 x (2^31)^2, wider than 64 bits.
    __extension__ typedef unsigned __int128 Total;

private:
    void startBand();
    void addToColumns(const std::uint8_t* row, int k);  // k alike rows, all within the band
    template <class Sum, class Acc>
    void fold(const Sum* sums, Acc* totals) const;
    template <class Sum>
    void values(const Sum* sums, std::uint8_t* out) const;
    void foldColumns();
    void finishBand();

    Raster24& destination_;
    void start();

    std::vector<int> columnWidths_;
    std::vector<int> rowHeights_;
    std::size_t skipBytes_ = 0;  // leading bytes of a row that fall in no box
    std::size_t usedBytes_ = 0;  // the bytes after them that fall into a box
    int rowsToSkip_ = 0;
    std::size_t band_ = 0;
    int rowsInBand_ = 0;
    // Column sums of the rows since the last fold: sixteen bits hold up to
    // 257 rows, thirty-two bits 16,843,009; taller bands fold them into
    // the box totals before they could wrap.
    int rowsInColumns_ = 0;
    // With a scale, each box's first and last arriving pixel and their
    // weights; those between weigh the scale.
    struct Piece {
        int first, firstWeight, last, lastWeight;
    };
    int scale_ = 1;
    std::vector<Piece> pieces_;
    bool totalsUsed_ = false;  // the band's totals hold part of it
    int leastWidth_ = 0;       // the narrowest box
    bool twoWidths_ = false;   // every box is leastWidth_ or one wider
    bool oneWidth_ = false;    // every box is leastWidth_
    // For boxes under five columns: where each box's values lie among those
    // taken at every position (NarrowBoxValues).
    std::vector<std::uint32_t> picks_;
    std::size_t positions_ = 0;
    mutable std::vector<std::uint8_t> scratch_;
    std::vector<std::uint16_t> narrow_;
    std::vector<std::uint32_t> wide_;
    std::vector<Total> totals_;  // the band's box totals, blue, green, red
};

// A box's value from the sum of one channel over its n pixels, by the rule
// the reducer uses.
std::uint8_t BoxAverage(BoxReducer::Total sum, std::uint64_t n);

}  // namespace pictavo
