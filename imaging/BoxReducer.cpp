#include "imaging/BoxReducer.h"

#include "base/Errors.h"
#include "imaging/Extended.h"

#include <algorithm>
#include <type_traits>

// The hot passes are made twice, for AVX2 and for any x86-64 processor, and
// the C library picks one as the program loads. Not under ThreadSanitizer,
// whose runtime is not up yet when that pick runs.
#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define PICTAVO_THREAD_SANITIZER 1
#endif
#endif
#if defined(__x86_64__) && !defined(__SANITIZE_THREAD__) && !defined(PICTAVO_THREAD_SANITIZER)
#define PICTAVO_MADE_TWICE [[gnu::target_clones("avx2", "default")]]
#else
#define PICTAVO_MADE_TWICE
#endif

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
// Repeated rows up to this many are added down the columns.
constexpr std::int64_t FewRows = 64;

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

// The same for the usual band, whose every box holds at most 2,047 pixels:
// the reciprocal rule throughout, and a box's total (at most 255 x 2,047)
// times its reciprocal stays within 32 bits, so plain 32-bit lanes give the
// same bytes. Boxes are `Least` columns, or with `twoWidths` one more where
// `widths` says so; with `Least` fixed the inner sums unroll and the
// compiler vectorises across channels.
template <int Least, class Sum>
void SmallBoxValues(const Sum* __restrict sums, const std::vector<int>& widths, int least, bool twoWidths,
                    std::uint32_t hLeast, std::uint32_t hMore, std::uint8_t* __restrict out)
{
    const int count = Least > 0 ? Least : least;
    // Bytes written may alias anything: the box count is read once.
    const std::size_t boxes = widths.size();
    const int* __restrict width = widths.data();
    if (!twoWidths) {
        for (std::size_t j = 0; j < boxes; ++j, sums += 3 * count, out += 3) {
            std::uint32_t b = 0, g = 0, r = 0;
            for (int k = 0; k < count; ++k) {
                b += sums[3 * k];
                g += sums[3 * k + 1];
                r += sums[3 * k + 2];
            }
            out[0] = static_cast<std::uint8_t>((b * hLeast) >> 16);
            out[1] = static_cast<std::uint8_t>((g * hLeast) >> 16);
            out[2] = static_cast<std::uint8_t>((r * hLeast) >> 16);
        }
        return;
    }
    for (std::size_t j = 0; j < boxes; ++j) {
        // One more column, times 0 or 1: no branch on the alternating widths.
        const std::uint32_t more = static_cast<std::uint32_t>(width[j] - count);
        const std::uint32_t h = more ? hMore : hLeast;
        std::uint32_t b = more * sums[3 * count], g = more * sums[3 * count + 1], r = more * sums[3 * count + 2];
        for (int k = 0; k < count; ++k) {
            b += sums[3 * k];
            g += sums[3 * k + 1];
            r += sums[3 * k + 2];
        }
        out[0] = static_cast<std::uint8_t>((b * h) >> 16);
        out[1] = static_cast<std::uint8_t>((g * h) >> 16);
        out[2] = static_cast<std::uint8_t>((r * h) >> 16);
        sums += 3 * (static_cast<std::size_t>(count) + more);
        out += 3;
    }
}

// Boxes of `Least` columns, or with `Both` of `Least` or `Least + 1`, over
// at most 257 pixels, whose channel totals (at most 255 x 257) and
// reciprocals fit 16 bits: the same bytes as SmallBoxValues, from the high
// half of 16-bit products. The values of each width are first taken at every
// position, in one plain pass the compiler vectorises, into `scratch` (the
// wider ones `positions` on), and each box's three picked from where `picks`
// says. Inlined only into NarrowValues, whose switch holds nothing else:
// inlined into more, the compiler loses sight of the 16-bit product.
template <int Least, bool Both>
[[gnu::always_inline]] inline void NarrowBoxValues(const std::uint16_t* __restrict sums, std::size_t positions,
                                                    std::uint16_t hLeast, std::uint16_t hMore,
                                                    const std::uint32_t* picks, std::size_t boxes,
                                                    std::uint8_t* __restrict scratch, std::uint8_t* __restrict out)
{
    for (std::size_t x = 0; x < positions; ++x) {
        std::uint16_t total = sums[x];
        for (int k = 1; k < Least; ++k) total = static_cast<std::uint16_t>(total + sums[x + 3 * k]);
        scratch[x] = static_cast<std::uint8_t>(static_cast<std::uint16_t>((std::uint32_t(total) * hLeast) >> 16));
        if constexpr (Both) {
            // The wider box's last column; past the last box, the spare pixel.
            total = static_cast<std::uint16_t>(total + sums[x + 3 * Least]);
            scratch[positions + x] =
                static_cast<std::uint8_t>(static_cast<std::uint16_t>((std::uint32_t(total) * hMore) >> 16));
        }
    }
    for (std::size_t j = 0; j < boxes; ++j, out += 3) {
        const std::uint8_t* value = scratch + picks[j];
        out[0] = value[0];
        out[1] = value[1];
        out[2] = value[2];
    }
}

// NarrowBoxValues for boxes of `least` columns, 1 to 4, or with `both` of
// `least` or `least + 1`. Made twice, and the one for the processor taken at
// start-up: 32-byte vectors where the processor has them do the pass in
// about two thirds of the time (the same integer arithmetic, the same bytes).
PICTAVO_MADE_TWICE
void NarrowValues(int least, bool both, const std::uint16_t* sums, std::size_t positions, std::uint16_t hLeast,
                  std::uint16_t hMore, const std::vector<std::uint32_t>& picks, std::uint8_t* scratch,
                  std::uint8_t* out)
{
    // Called directly, so that each is made inside both versions.
    const std::uint32_t* p = picks.data();
    const std::size_t n = picks.size();
    switch (2 * least + (both ? 1 : 0)) {
    case 2: return NarrowBoxValues<1, false>(sums, positions, hLeast, hMore, p, n, scratch, out);
    case 3: return NarrowBoxValues<1, true>(sums, positions, hLeast, hMore, p, n, scratch, out);
    case 4: return NarrowBoxValues<2, false>(sums, positions, hLeast, hMore, p, n, scratch, out);
    case 5: return NarrowBoxValues<2, true>(sums, positions, hLeast, hMore, p, n, scratch, out);
    case 6: return NarrowBoxValues<3, false>(sums, positions, hLeast, hMore, p, n, scratch, out);
    case 7: return NarrowBoxValues<3, true>(sums, positions, hLeast, hMore, p, n, scratch, out);
    case 8: return NarrowBoxValues<4, false>(sums, positions, hLeast, hMore, p, n, scratch, out);
    default: return NarrowBoxValues<4, true>(sums, positions, hLeast, hMore, p, n, scratch, out);
    }
}

// BoxValues through SmallBoxValues where it applies (boxes of one width, or
// of two, one column apart, as `twoWidths`); true when it did.
template <class Sum>
bool SmallBoxValuesIfAny(const Sum* sums, const std::vector<int>& widths, int least, bool twoWidths, int rows,
                         std::uint8_t* out)
{
    const std::uint64_t largest = (std::uint64_t(least) + (twoWidths ? 1 : 0)) * static_cast<std::uint64_t>(rows);
    if (widths.empty() || least < 1 || largest > 65535 / SmallestReciprocal) return false;
    const auto reciprocal = [rows](int width) {
        return static_cast<std::uint32_t>(65535 / (std::uint64_t(width) * static_cast<std::uint64_t>(rows)));
    };
    const std::uint32_t hLeast = reciprocal(least), hMore = reciprocal(least + 1);
    switch (least) {
    case 1: SmallBoxValues<1>(sums, widths, least, twoWidths, hLeast, hMore, out); break;
    case 2: SmallBoxValues<2>(sums, widths, least, twoWidths, hLeast, hMore, out); break;
    case 3: SmallBoxValues<3>(sums, widths, least, twoWidths, hLeast, hMore, out); break;
    case 4: SmallBoxValues<4>(sums, widths, least, twoWidths, hLeast, hMore, out); break;
    case 5: SmallBoxValues<5>(sums, widths, least, twoWidths, hLeast, hMore, out); break;
    case 6: SmallBoxValues<6>(sums, widths, least, twoWidths, hLeast, hMore, out); break;
    case 7: SmallBoxValues<7>(sums, widths, least, twoWidths, hLeast, hMore, out); break;
    case 8: SmallBoxValues<8>(sums, widths, least, twoWidths, hLeast, hMore, out); break;
    default: SmallBoxValues<0>(sums, widths, least, twoWidths, hLeast, hMore, out); break;
    }
    return true;
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

// Adds `k` rows alike down the columns, or with `first` sets the sums to
// them: plain passes the compiler vectorises. Made twice, as NarrowValues is.
PICTAVO_MADE_TWICE
void AddToNarrowSums(std::uint16_t* __restrict sums, const std::uint8_t* __restrict row, std::size_t n, int k,
                     bool first)
{
    const auto times = static_cast<std::uint16_t>(k);
    if (first && k == 1) std::copy(row, row + n, sums);
    else if (first) for (std::size_t x = 0; x < n; ++x) sums[x] = static_cast<std::uint16_t>(row[x] * times);
    else if (k == 1) for (std::size_t x = 0; x < n; ++x) sums[x] = static_cast<std::uint16_t>(sums[x] + row[x]);
    else for (std::size_t x = 0; x < n; ++x) sums[x] = static_cast<std::uint16_t>(sums[x] + row[x] * times);
}

PICTAVO_MADE_TWICE
void AddToWideSums(std::uint32_t* __restrict sums, const std::uint8_t* __restrict row, std::size_t n, int k,
                   bool first)
{
    const auto times = static_cast<std::uint32_t>(k);
    if (first) for (std::size_t x = 0; x < n; ++x) sums[x] = row[x] * times;
    else for (std::size_t x = 0; x < n; ++x) sums[x] += row[x] * times;
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

BoxReducer::BoxReducer(Raster24& destination, BoxAxis columns, BoxAxis rows, int scale)
    : destination_(destination), scale_(std::max(scale, 1))
{
    rowsToSkip_ = rows.skip;
    columnWidths_ = std::move(columns.sizes);
    rowHeights_ = std::move(rows.sizes);
    if (scale_ == 1) {
        skipBytes_ = 3 * static_cast<std::size_t>(columns.skip);
        start();
        return;
    }
    // Each arriving pixel stands for `scale` of the picture's columns: a box
    // takes whole the pixels it covers and its share of those at its ends.
    std::int64_t at = columns.skip;
    for (const int width : columnWidths_) {
        const std::int64_t end = at + width;
        const int first = static_cast<int>(at / scale_), last = static_cast<int>((end - 1) / scale_);
        pieces_.push_back({first, static_cast<int>(std::min<std::int64_t>(end, std::int64_t(first + 1) * scale_) - at),
                           last, static_cast<int>(end - std::int64_t(last) * scale_)});
        at = end;
    }
    start();
}

template <class Sum, class Acc>
void BoxReducer::fold(const Sum* sums, Acc* totals) const
{
    if (scale_ == 1) return FoldColumns(sums, columnWidths_, totals);
    for (const Piece& piece : pieces_) {
        for (int c = 0; c < 3; ++c) {
            const Sum* column = sums + c;
            std::uint64_t middle = 0;
            for (int j = piece.first + 1; j < piece.last; ++j) middle += column[3 * j];
            std::uint64_t sum = std::uint64_t(piece.firstWeight) * column[3 * piece.first] + middle * std::uint64_t(scale_);
            if (piece.last > piece.first) sum += std::uint64_t(piece.lastWeight) * column[3 * piece.last];
            totals[c] += sum;
        }
        totals += 3;
    }
}

template <class Sum>
void BoxReducer::values(const Sum* sums, std::uint8_t* out) const
{
    if (scale_ == 1) {
        if constexpr (std::is_same_v<Sum, std::uint16_t>) {
            const std::uint64_t rows = static_cast<std::uint64_t>(rowsInBand_);
            const std::uint64_t n = std::uint64_t(leastWidth_) * rows;
            if (!picks_.empty() && n + (oneWidth_ ? 0 : rows) <= NarrowRows) {
                const std::size_t positions = positions_;
                // Made only beside 16-bit sums, in the room 32-bit sums would take.
                if (scratch_.empty()) scratch_.assign((oneWidth_ ? 1 : 2) * positions, 0);
                const auto hLeast = static_cast<std::uint16_t>(65535 / n);
                const auto hMore = static_cast<std::uint16_t>(65535 / (n + rows));
                return NarrowValues(leastWidth_, !oneWidth_, sums, positions, hLeast, hMore, picks_, scratch_.data(), out);
            }
        }
        if ((oneWidth_ || twoWidths_) && SmallBoxValuesIfAny(sums, columnWidths_, leastWidth_, !oneWidth_, rowsInBand_, out))
            return;
        return BoxValues(sums, columnWidths_, leastWidth_, twoWidths_, rowsInBand_, out);
    }
    // Boxes come in at most a few widths, mostly alternating between two:
    // each divisor is worked out once for the band, not once a box.
    int widths[2] = {-1, -1};
    std::uint32_t reciprocals[2] = {0, 0};
    const auto divisor = [&](int width, std::uint64_t n) {
        for (int slot = 0; slot < 2; ++slot)
            if (widths[slot] == width) return reciprocals[slot];
        const std::uint32_t h = n > 65535 ? 0 : static_cast<std::uint32_t>(65535 / n);
        widths[1] = widths[0];
        reciprocals[1] = reciprocals[0];
        widths[0] = width;
        reciprocals[0] = h;
        return h;
    };
    const std::uint64_t scale = static_cast<std::uint64_t>(scale_);
    for (std::size_t k = 0; k < pieces_.size(); ++k) {
        const Piece& piece = pieces_[k];
        // One box's totals: the folding above over that box alone.
        const Sum* first = sums + 3 * static_cast<std::size_t>(piece.first);
        const std::uint64_t fw = static_cast<std::uint64_t>(piece.firstWeight);
        std::uint64_t b = fw * first[0], g = fw * first[1], r = fw * first[2];
        std::uint64_t mb = 0, mg = 0, mr = 0;
        for (const Sum* column = first + 3; column < sums + 3 * static_cast<std::size_t>(piece.last); column += 3) {
            mb += column[0];
            mg += column[1];
            mr += column[2];
        }
        b += mb * scale;
        g += mg * scale;
        r += mr * scale;
        if (piece.last > piece.first) {
            const Sum* last = sums + 3 * static_cast<std::size_t>(piece.last);
            const std::uint64_t lw = static_cast<std::uint64_t>(piece.lastWeight);
            b += lw * last[0];
            g += lw * last[1];
            r += lw * last[2];
        }
        const std::uint64_t n = std::uint64_t(columnWidths_[k]) * static_cast<std::uint64_t>(rowsInBand_);
        const std::uint32_t h = divisor(columnWidths_[k], n);
        out[0] = BoxValue64(b, n, h);
        out[1] = BoxValue64(g, n, h);
        out[2] = BoxValue64(r, n, h);
        out += 3;
    }
}

void BoxReducer::start()
{
    std::size_t used = 0;
    for (const int w : columnWidths_) used += static_cast<std::size_t>(w);
    usedBytes_ = 3 * used;
    if (scale_ > 1) usedBytes_ = pieces_.empty() ? 0 : 3 * (static_cast<std::size_t>(pieces_.back().last) + 1);
    if (!columnWidths_.empty()) {
        const auto [least, most] = std::minmax_element(columnWidths_.begin(), columnWidths_.end());
        leastWidth_ = *least;
        twoWidths_ = *most - *least <= 1;
        oneWidth_ = *most == *least;
    }
    if (scale_ == 1 && twoWidths_ && leastWidth_ >= 1 && leastWidth_ <= 4) {
        const std::size_t positions = usedBytes_ - 3 * static_cast<std::size_t>(leastWidth_ - 1);
        std::size_t column = 0;
        for (const int width : columnWidths_) {
            picks_.push_back(static_cast<std::uint32_t>(3 * column + (width > leastWidth_ ? positions : 0)));
            column += static_cast<std::size_t>(width);
        }
        positions_ = positions;
    }
    totals_.assign(3 * columnWidths_.size(), 0);
    startBand();
}

std::uint64_t BoxReducer::MemoryFor(int sourceWidth, int destinationWidth)
{
    const std::uint64_t columns = static_cast<std::uint64_t>(sourceWidth < 0 ? 0 : sourceWidth);
    const std::uint64_t boxes = static_cast<std::uint64_t>(destinationWidth < 0 ? 0 : destinationWidth);
    // Column sums of 32 bits, and the box totals. Boxes under five columns
    // also keep where each box's values lie; those values, at most two bytes
    // a sample, are taken only beside 16-bit sums, in the room left.
    const std::uint64_t picks = columns < 5 * boxes ? boxes * sizeof(std::uint32_t) : 0;
    return 3 * (columns + 1) * sizeof(std::uint32_t) + picks + 3 * boxes * (sizeof(Total) + sizeof(std::uint64_t));
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
    if (!narrow_.empty()) fold(narrow_.data(), totals_.data());
    else fold(wide_.data(), totals_.data());
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
    addToColumns(row, 1);
}

void BoxReducer::addToColumns(const std::uint8_t* row, int k)
{
    row += skipBytes_;
    // The first row after a fold sets the sums instead of clearing them first.
    const bool first = rowsInColumns_ == 0;
    if (!narrow_.empty()) AddToNarrowSums(narrow_.data(), row, usedBytes_, k, first);
    else AddToWideSums(wide_.data(), row, usedBytes_, k, first);
    rowsInColumns_ += k;
    if (rowsInColumns_ == WideRows) foldColumns();
    rowsInBand_ += k;
    if (rowsInBand_ == rowHeights_[band_]) finishBand();
}

void BoxReducer::addRows(const std::uint8_t* row, std::int64_t count)
{
    if (count == 1) return addRow(row);
    const std::int64_t skipped = std::clamp<std::int64_t>(count, 0, rowsToSkip_);
    rowsToSkip_ -= static_cast<int>(skipped);
    count -= skipped;
    if (count <= 0 || done()) return;
    // A few rows go down the columns, each band's share at once.
    if (count <= FewRows) {
        while (count > 0 && !done()) {
            const int k = static_cast<int>(std::min<std::int64_t>(
                {count, rowHeights_[band_] - rowsInBand_, std::int64_t(WideRows) - rowsInColumns_}));
            addToColumns(row, k);
            count -= k;
        }
        return;
    }
    // The row's share of each box, taken once for every band the rows reach.
    std::vector<std::uint64_t> shares(totals_.size(), 0);
    fold(row + skipBytes_, shares.data());
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
        if (!narrow_.empty()) values(narrow_.data(), out);
        else values(wide_.data(), out);
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
