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

// The most rows whose bytes column sums can hold: 255 x 257 = 2^16 - 1,
// 255 x 16,843,009 = 2^32 - 1.
constexpr int NarrowRows = 257;
constexpr int WideRows = 16843009;

using Total = BoxReducer::Total;

// One box's value from its channel total: sum * (65535 div n) shifted right
// by 16 bits, or for boxes of more than 2,047 pixels the average rounded half up.
std::uint8_t BoxValue(Total sum, std::uint64_t n, std::uint32_t h)
{
    if (h >= SmallestReciprocal) return static_cast<std::uint8_t>((static_cast<std::uint64_t>(sum) * h) >> 16);
    if (sum <= UINT64_MAX - n / 2) return static_cast<std::uint8_t>((static_cast<std::uint64_t>(sum) + n / 2) / n);
    return static_cast<std::uint8_t>((sum + n / 2) / n);
}

// The same for a total known to fit 64 bits, without wide arithmetic.
std::uint8_t BoxValue64(std::uint64_t sum, std::uint64_t n, std::uint32_t h)
{
    if (h >= SmallestReciprocal) return static_cast<std::uint8_t>((sum * h) >> 16);
    if (sum <= UINT64_MAX - n / 2) return static_cast<std::uint8_t>((sum + n / 2) / n);
    return static_cast<std::uint8_t>((Total(sum) + n / 2) / n);
}

// Each box's value straight from the column sums of all its band's rows: the
// common case, where the sums were never folded into the totals. Boxes whose
// widths are all `least` or one more sum `least` columns and then the next
// one times 0 or 1, with no branch that the alternating widths would
// mispredict; the sums hold one spare pixel for the last box's look past its end.
template <class Sum>
void BoxValues(const Sum* sums, const std::vector<int>& widths, int least, bool twoWidths, int rows,
               std::uint8_t* out)
{
    int lastWidth = -1;
    std::uint64_t n = 0;
    std::uint32_t h = 0;
    const auto divisors = [&](int width) {
        if (width == lastWidth) return;
        lastWidth = width;
        n = std::uint64_t(width) * static_cast<std::uint64_t>(rows);
        h = n > 65535 ? 0 : static_cast<std::uint32_t>(65535 / n);
    };
    for (const int width : widths) {
        std::uint64_t b = 0, g = 0, r = 0;
        if (twoWidths) {
            for (int k = 0; k < least; ++k, sums += 3) {
                b += sums[0];
                g += sums[1];
                r += sums[2];
            }
            const std::uint64_t more = static_cast<std::uint64_t>(width - least);
            b += more * sums[0];
            g += more * sums[1];
            r += more * sums[2];
            sums += 3 * more;
        } else {
            for (int k = 0; k < width; ++k, sums += 3) {
                b += sums[0];
                g += sums[1];
                r += sums[2];
            }
        }
        divisors(width);
        out[0] = BoxValue64(b, n, h);
        out[1] = BoxValue64(g, n, h);
        out[2] = BoxValue64(r, n, h);
        out += 3;
    }
}

// Adds each box's share of the column sums to its totals. A box's share
// stays below 2^31 columns x 2^32, within 64 bits.
template <class Sum, class Acc>
void FoldColumns(const Sum* columnSums, const std::vector<int>& columnWidths, Acc* totals)
{
    for (const int width : columnWidths) {
        std::uint64_t b = 0, g = 0, r = 0;
        for (int k = 0; k < width; ++k, columnSums += 3) {
            b += columnSums[0];
            g += columnSums[1];
            r += columnSums[2];
        }
        totals[0] += b;
        totals[1] += g;
        totals[2] += r;
        totals += 3;
    }
}

}  // namespace

std::uint8_t BoxAverage(BoxReducer::Total sum, std::uint64_t n)
{
    return BoxValue(sum, n, n > 65535 ? 0 : static_cast<std::uint32_t>(65535 / n));
}

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
    if (!columnWidths_.empty()) {
        const auto [least, most] = std::minmax_element(columnWidths_.begin(), columnWidths_.end());
        leastWidth_ = *least;
        twoWidths_ = *most - *least <= 1;
    }
    totals_.assign(3 * columnWidths_.size(), 0);
    startBand();
}

std::uint64_t BoxReducer::MemoryFor(int sourceWidth, int destinationWidth)
{
    const std::uint64_t boxes = 3 * static_cast<std::uint64_t>(destinationWidth < 0 ? 0 : destinationWidth);
    return 3 * (static_cast<std::uint64_t>(sourceWidth) + 1) * sizeof(std::uint32_t) +
           boxes * (sizeof(Total) + sizeof(std::uint64_t));
}

void BoxReducer::startBand()
{
    // Column sums are zero here; only their width changes with the band's height.
    if (done()) {
        narrow_.clear();
        wide_.clear();
        return;
    }
    if (rowHeights_[band_] <= NarrowRows) {
        wide_.clear();
        if (narrow_.empty()) narrow_.assign(usedBytes_ + 3, 0);
    } else {
        narrow_.clear();
        if (wide_.empty()) wide_.assign(usedBytes_ + 3, 0);
    }
}

void BoxReducer::foldColumns()
{
    if (rowsInColumns_ == 0) return;
    // The next row starts the sums afresh.
    if (!narrow_.empty()) FoldColumns(narrow_.data(), columnWidths_, totals_.data());
    else FoldColumns(wide_.data(), columnWidths_, totals_.data());
    rowsInColumns_ = 0;
    totalsUsed_ = true;
}

void BoxReducer::addRow(const std::uint8_t* row)
{
    if (done()) return;
    if (rowsToSkip_ > 0) {
        --rowsToSkip_;
        return;
    }
    row += skipBytes_;
    // A plain pass down the columns that the compiler vectorises; the first
    // row after a fold sets the sums instead of clearing them first.
    if (!narrow_.empty()) {
        std::uint16_t* sums = narrow_.data();
        if (rowsInColumns_ == 0) std::copy(row, row + usedBytes_, sums);
        else for (std::size_t x = 0; x < usedBytes_; ++x) sums[x] = static_cast<std::uint16_t>(sums[x] + row[x]);
    } else {
        std::uint32_t* sums = wide_.data();
        if (rowsInColumns_ == 0) std::copy(row, row + usedBytes_, sums);
        else for (std::size_t x = 0; x < usedBytes_; ++x) sums[x] += row[x];
    }
    if (++rowsInColumns_ == WideRows) foldColumns();
    if (++rowsInBand_ == rowHeights_[band_]) finishBand();
}

void BoxReducer::addRows(const std::uint8_t* row, std::int64_t count)
{
    if (count == 1) return addRow(row);
    const std::int64_t skipped = std::clamp<std::int64_t>(count, 0, rowsToSkip_);
    rowsToSkip_ -= static_cast<int>(skipped);
    count -= skipped;
    if (count <= 0 || done()) return;
    // The row's share of each box, taken once for every band the rows reach.
    std::vector<std::uint64_t> shares(totals_.size(), 0);
    FoldColumns(row + skipBytes_, columnWidths_, shares.data());
    while (count > 0 && !done()) {
        totalsUsed_ = true;
        const std::int64_t k = std::min<std::int64_t>(count, rowHeights_[band_] - rowsInBand_);
        for (std::size_t i = 0; i < shares.size(); ++i) totals_[i] += Total(shares[i]) * static_cast<std::uint64_t>(k);
        count -= k;
        rowsInBand_ += static_cast<int>(k);
        if (rowsInBand_ == rowHeights_[band_]) finishBand();
    }
}

void BoxReducer::finishBand()
{
    std::uint8_t* out = destination_.scanLine(static_cast<int>(band_));
    if (!totalsUsed_) {
        if (!narrow_.empty()) BoxValues(narrow_.data(), columnWidths_, leastWidth_, twoWidths_, rowsInBand_, out);
        else BoxValues(wide_.data(), columnWidths_, leastWidth_, twoWidths_, rowsInBand_, out);
        rowsInColumns_ = 0;
        ++band_;
        rowsInBand_ = 0;
        startBand();
        return;
    }
    foldColumns();
    // Boxes of a band come in at most two widths: divide once for each.
    int lastWidth = -1;
    std::uint64_t n = 0;
    std::uint32_t h = 0;
    const Total* totals = totals_.data();
    for (const int width : columnWidths_) {
        if (width != lastWidth) {
            lastWidth = width;
            n = std::uint64_t(width) * static_cast<std::uint64_t>(rowsInBand_);
            h = n > 65535 ? 0 : static_cast<std::uint32_t>(65535 / n);
        }
        for (int c = 0; c < 3; ++c) out[c] = BoxValue(totals[c], n, h);
        out += 3;
        totals += 3;
    }
    std::fill(totals_.begin(), totals_.end(), 0);
    totalsUsed_ = false;
    ++band_;
    rowsInBand_ = 0;
    startBand();
}

}  // namespace pictavo
