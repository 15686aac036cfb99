// The area-averaging reduction of rows that carry alpha: colour is averaged
// weighted by alpha (as if premultiplied) and alpha by area, so the edges
// of a cut-out take no colour from the transparent pixels around them.
#pragma once

#include "imaging/BoxReducer.h"
#include "imaging/Raster24.h"

#include <cstdint>
#include <vector>

namespace pictavo {

class AlphaBoxReducer {
public:
    // `colour` is sized to columns.sizes x rows.sizes; `alpha` becomes its
    // plane of one byte a pixel, rows from the top. A box that is fully
    // transparent comes out as 0 everywhere; a fully opaque one as the
    // opaque reduction gives it, with alpha 255.
    AlphaBoxReducer(Raster24& colour, std::vector<std::uint8_t>& alpha, BoxAxis columns, BoxAxis rows);

    // Memory the reducer itself holds for a source row of `sourceWidth`.
    static std::uint64_t MemoryFor(int sourceWidth);

    // Source rows in arrival order, 4 * sourceWidth bytes of blue, green,
    // red and alpha, colour not multiplied by alpha. Rows past the last box
    // are ignored.
    void addRow(const std::uint8_t* row);
    // `count` source rows that are all `row`, in time that grows with the
    // bands they reach rather than with `count`.
    void addRows(const std::uint8_t* row, std::int64_t count);
    bool done() const { return band_ >= rowHeights_.size(); }

private:
    void finishBand();

    Raster24& colour_;
    std::vector<std::uint8_t>& alpha_;
    std::vector<int> columnWidths_;
    std::vector<int> rowHeights_;
    std::size_t skipBytes_ = 0;
    int rowsToSkip_ = 0;
    std::size_t band_ = 0;
    int rowsInBand_ = 0;
    // Per source column of the band: blue, green and red times alpha, then
    // alpha. 65,025 x 65,500 rows passes 32 bits.
    std::vector<std::uint64_t> sums_;
};

// Gives fully transparent pixels the colour of their nearest visible
// neighbours, up to `reach` pixels from them. Lossy encoders blur colour
// across pixels (chroma subsampling, block transforms); without this the
// hidden colour would bleed into the visible edge as a fringe.
void FillUnderTransparency(Raster24& colour, const std::vector<std::uint8_t>& alpha, int reach = 16);

}  // namespace pictavo
