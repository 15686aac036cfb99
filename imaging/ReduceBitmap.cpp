#include "imaging/ReduceBitmap.h"

#include "imaging/Errors.h"
#include "imaging/Extended.h"
#include "imaging/Sharpen.h"

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

namespace pictavo {
namespace {

// Where box k starts: trunc(k * scale), never past the source.
std::int64_t TruncatedBoundary(int k, float scale, int sourceSize)
{
    return std::min<std::int64_t>(TruncatedProduct(k, scale), sourceSize);
}

// Box sizes along one axis: box i covers source[start(i) .. start(i + 1) - 1].
// The last source column or row is left out whenever the single-precision
// scale lies below the exact ratio.
std::vector<int> BoxSizes(int sourceSize, int destinationSize, float scale)
{
    std::vector<int> sizes(static_cast<std::size_t>(destinationSize));
    std::int64_t previous = 0;
    for (int k = 1; k <= destinationSize; ++k) {
        const std::int64_t boundary = TruncatedBoundary(k, scale, sourceSize);
        sizes[static_cast<std::size_t>(k - 1)] = static_cast<int>(boundary - previous);
        previous = boundary;
    }
    return sizes;
}

// columnSums[x] += byte x of each of `rows` source rows from `first`.
template <class Sum>
void SumRows(const Raster24& src, int first, int rows, Sum* columnSums, std::size_t bytes)
{
    for (int r = 0; r < rows; ++r) {
        const std::uint8_t* p = src.scanLine(first + r);
        for (std::size_t x = 0; x < bytes; ++x) columnSums[x] = static_cast<Sum>(columnSums[x] + p[x]);
    }
}

// One destination row from the column sums of its band: each box's sum
// times 65535 div n, shifted right by 16 bits.
template <class Sum>
void AverageBoxes(const Sum* columnSums, const std::vector<int>& columnWidths, int rows, std::uint8_t* out)
{
    for (const int width : columnWidths) {
        const std::int64_t n = std::int64_t(width) * rows;
        // A box of 65536 or more pixels gets H = 0 and shows black.
        const std::uint32_t h = n > 65535 ? 0 : static_cast<std::uint32_t>(65535 / n);
        std::uint32_t b = 0, g = 0, r = 0;
        for (int k = 0; k < width; ++k, columnSums += 3) {
            b += columnSums[0];
            g += columnSums[1];
            r += columnSums[2];
        }
        // With h > 0 the box holds at most 65535 pixels, so sum * h stays below 2^24.
        out[0] = static_cast<std::uint8_t>(h == 0 ? 0 : (b * h) >> 16);
        out[1] = static_cast<std::uint8_t>(h == 0 ? 0 : (g * h) >> 16);
        out[2] = static_cast<std::uint8_t>(h == 0 ? 0 : (r * h) >> 16);
        out += 3;
    }
}

}  // namespace

void ReduceBitmap(Raster24& source, Raster24& destination, bool sharpen)
{
    source.make24Bit();
    destination.make24Bit();
    const int sw = source.width(), sh = source.height();
    const int dw = destination.width(), dh = destination.height();

    if (sw <= dw && sh <= dh) {  // never enlarge
        destination.assign(&source);
        return;
    }

    const float xs = ReductionScale(sw, dw);
    const float ys = ReductionScale(sh, dh);
    const std::vector<int> columnWidths = BoxSizes(sw, dw, xs);
    const std::vector<int> rowHeights = BoxSizes(sh, dh, ys);
    // An empty box would divide by zero; say so before any pixel is written.
    const auto empty = [](const std::vector<int>& v) { return std::find(v.begin(), v.end(), 0) != v.end(); };
    if (empty(columnWidths) || empty(rowHeights)) throw EDivByZero();

    // Each band of rows is first summed down every column (a plain, vectorisable
    // pass over the source bytes), then across each box's columns.
    const Raster24& src = source;  // read without taking a private copy
    const std::size_t usedBytes = 3 * static_cast<std::size_t>(TruncatedBoundary(dw, xs, sw));
    std::vector<std::uint16_t> narrow;
    std::vector<std::uint32_t> wide(usedBytes);
    int sourceRow = 0;
    for (int j = 0; j < dh; ++j) {
        const int rows = rowHeights[static_cast<std::size_t>(j)];
        // Sixteen bits hold the sum of up to 257 rows.
        if (rows <= 257) {
            narrow.assign(usedBytes, 0);
            SumRows(src, sourceRow, rows, narrow.data(), usedBytes);
            AverageBoxes(narrow.data(), columnWidths, rows, destination.scanLine(j));
        } else {
            std::fill(wide.begin(), wide.end(), 0u);
            SumRows(src, sourceRow, rows, wide.data(), usedBytes);
            AverageBoxes(wide.data(), columnWidths, rows, destination.scanLine(j));
        }
        sourceRow += rows;
    }

    if (sharpen && dh >= 3) Sharpen(destination);
}

}  // namespace pictavo
