#include "imaging/BoxReducer.h"

#include "base/Errors.h"
#include "imaging/Extended.h"

#include <algorithm>

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

// The reciprocal rule loses more the larger the box (255 becomes 233 in a
// 10,000-pixel box, and from 65,536 pixels on everything is black), so boxes
// whose reciprocal falls below this use the exact average instead.
constexpr std::uint32_t SmallestReciprocal = 32;

// One box's value from its channel sum: sum * (65535 div n) shifted right by
// 16 bits, or for boxes of more than 2,047 pixels the average rounded half up.
std::uint8_t BoxValue(std::uint64_t sum, std::uint64_t n, std::uint32_t h)
{
    if (h < SmallestReciprocal) return static_cast<std::uint8_t>((sum + n / 2) / n);
    return static_cast<std::uint8_t>((sum * h) >> 16);
}

// One destination row from the column sums of its band.
template <class Sum>
void AverageBoxes(const Sum* columnSums, const std::vector<int>& columnWidths, int rows, std::uint8_t* out)
{
    for (const int width : columnWidths) {
        const std::uint64_t n = std::uint64_t(width) * static_cast<std::uint64_t>(rows);
        const std::uint32_t h = n > 65535 ? 0 : static_cast<std::uint32_t>(65535 / n);
        // Up to 255 * 65500 * 65500 in the largest box: wider than 32 bits.
        std::uint64_t b = 0, g = 0, r = 0;
        for (int k = 0; k < width; ++k, columnSums += 3) {
            b += columnSums[0];
            g += columnSums[1];
            r += columnSums[2];
        }
        out[0] = BoxValue(b, n, h);
        out[1] = BoxValue(g, n, h);
        out[2] = BoxValue(r, n, h);
        out += 3;
    }
}

}  // namespace

BoxReducer::BoxReducer(Raster24& destination, int sourceWidth, int sourceHeight) : destination_(destination)
{
    const int dw = destination.width(), dh = destination.height();
    const float xs = ReductionScale(sourceWidth, dw);
    const float ys = ReductionScale(sourceHeight, dh);
    columnWidths_ = BoxSizes(sourceWidth, dw, xs);
    rowHeights_ = BoxSizes(sourceHeight, dh, ys);
    // An empty box would divide by zero; say so before any pixel is written.
    const auto empty = [](const std::vector<int>& v) { return std::find(v.begin(), v.end(), 0) != v.end(); };
    if (empty(columnWidths_) || empty(rowHeights_)) throw EDivByZero();
    usedBytes_ = 3 * static_cast<std::size_t>(TruncatedBoundary(dw, xs, sourceWidth));
    if (rowHeights_[0] <= 257) narrow_.assign(usedBytes_, 0);
    else wide_.assign(usedBytes_, 0);
}

void BoxReducer::addRow(const std::uint8_t* row)
{
    if (done()) return;
    // A plain pass down the columns that the compiler vectorises.
    if (!narrow_.empty()) {
        std::uint16_t* sums = narrow_.data();
        for (std::size_t x = 0; x < usedBytes_; ++x) sums[x] = static_cast<std::uint16_t>(sums[x] + row[x]);
    } else {
        std::uint32_t* sums = wide_.data();
        for (std::size_t x = 0; x < usedBytes_; ++x) sums[x] += row[x];
    }
    if (++rowsInBand_ == rowHeights_[band_]) finishBand();
}

void BoxReducer::finishBand()
{
    std::uint8_t* out = destination_.scanLine(static_cast<int>(band_));
    if (!narrow_.empty()) AverageBoxes(narrow_.data(), columnWidths_, rowsInBand_, out);
    else AverageBoxes(wide_.data(), columnWidths_, rowsInBand_, out);
    ++band_;
    rowsInBand_ = 0;
    narrow_.clear();
    wide_.clear();
    if (done()) return;
    if (rowHeights_[band_] <= 257) narrow_.assign(usedBytes_, 0);
    else wide_.assign(usedBytes_, 0);
}

}  // namespace pictavo
