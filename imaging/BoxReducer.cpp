#include "imaging/BoxReducer.h"

#include "base/Errors.h"
#include "imaging/Extended.h"

#include <algorithm>

namespace pictavo {
namespace {

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
    // Boxes of a band come in at most two widths: divide once for each.
    int lastWidth = -1;
    std::uint64_t n = 0;
    std::uint32_t h = 0;
    for (const int width : columnWidths) {
        if (width != lastWidth) {
            lastWidth = width;
            n = std::uint64_t(width) * static_cast<std::uint64_t>(rows);
            h = n > 65535 ? 0 : static_cast<std::uint32_t>(65535 / n);
        }
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

BoxAxis BoxesFromStart(int sourceSize, int destinationSize)
{
    const float scale = ReductionScale(sourceSize, destinationSize);
    BoxAxis axis;
    axis.sizes.resize(static_cast<std::size_t>(destinationSize));
    std::int64_t previous = 0;
    for (int k = 1; k <= destinationSize; ++k) {
        // Never past the source, whatever the scale says.
        const std::int64_t boundary = std::min<std::int64_t>(TruncatedProduct(k, scale), sourceSize);
        if (boundary == previous) throw EDivByZero();  // an empty box; no pixel is written yet
        axis.sizes[static_cast<std::size_t>(k - 1)] = static_cast<int>(boundary - previous);
        previous = boundary;
    }
    return axis;
}

BoxAxis Reversed(const BoxAxis& axis, int sourceSize)
{
    std::int64_t covered = axis.skip;
    for (const int size : axis.sizes) covered += size;
    return {static_cast<int>(sourceSize - covered), std::vector<int>(axis.sizes.rbegin(), axis.sizes.rend())};
}

BoxGrid BoxesFromTopLeft(int sourceWidth, int sourceHeight, int destinationWidth, int destinationHeight)
{
    ReductionScale(sourceWidth, destinationWidth);
    ReductionScale(sourceHeight, destinationHeight);
    return {BoxesFromStart(sourceWidth, destinationWidth), BoxesFromStart(sourceHeight, destinationHeight)};
}

BoxReducer::BoxReducer(Raster24& destination, int sourceWidth, int sourceHeight)
    : BoxReducer(destination, BoxesFromTopLeft(sourceWidth, sourceHeight, destination.width(), destination.height()))
{
}

BoxReducer::BoxReducer(Raster24& destination, BoxGrid grid)
    : BoxReducer(destination, std::move(grid.across), std::move(grid.down))
{
}

BoxReducer::BoxReducer(Raster24& destination, BoxAxis columns, BoxAxis rows) : destination_(destination)
{
    skipBytes_ = 3 * static_cast<std::size_t>(columns.skip);
    rowsToSkip_ = rows.skip;
    columnWidths_ = std::move(columns.sizes);
    rowHeights_ = std::move(rows.sizes);
    start();
}

void BoxReducer::start()
{
    std::size_t used = 0;
    for (const int w : columnWidths_) used += static_cast<std::size_t>(w);
    usedBytes_ = 3 * used;
    if (rowHeights_.empty()) return;
    if (rowHeights_[0] <= 257) narrow_.assign(usedBytes_, 0);
    else wide_.assign(usedBytes_, 0);
}

std::uint64_t BoxReducer::MemoryFor(int sourceWidth)
{
    return 3 * static_cast<std::uint64_t>(sourceWidth) * sizeof(std::uint32_t);
}

void BoxReducer::addRow(const std::uint8_t* row)
{
    if (done()) return;
    if (rowsToSkip_ > 0) {
        --rowsToSkip_;
        return;
    }
    row += skipBytes_;
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
