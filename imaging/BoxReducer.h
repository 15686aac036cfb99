// The area-averaging reduction fed one source row at a time, so a decoder can
// stream its rows through it without ever holding the whole picture.
#pragma once

#include "imaging/Raster24.h"

#include <cstdint>
#include <vector>

namespace pictavo {

class BoxReducer {
public:
    // `destination` is a 24-bit raster already sized to the reduced picture;
    // the source is sourceWidth x sourceHeight. Raises "Floating point
    // division by zero" for a destination side of 0 and "Division by zero"
    // when some box would be empty, before any pixel is written.
    BoxReducer(Raster24& destination, int sourceWidth, int sourceHeight);

    // Source rows from the top, 3 * sourceWidth bytes of blue, green, red.
    // Rows past the last box are ignored.
    void addRow(const std::uint8_t* row);
    // True once every destination row is written.
    bool done() const { return band_ >= rowHeights_.size(); }

private:
    void finishBand();

    Raster24& destination_;
    std::vector<int> columnWidths_;
    std::vector<int> rowHeights_;
    std::size_t usedBytes_;  // the source bytes of a row that fall into a box
    std::size_t band_ = 0;
    int rowsInBand_ = 0;
    // Column sums of the band so far: sixteen bits hold up to 257 rows.
    std::vector<std::uint16_t> narrow_;
    std::vector<std::uint32_t> wide_;
};

}  // namespace pictavo
