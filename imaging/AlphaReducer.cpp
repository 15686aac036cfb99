#include "imaging/AlphaReducer.h"

#include <algorithm>
#include <utility>

namespace pictavo {

AlphaBoxReducer::AlphaBoxReducer(Raster24& colour, std::vector<std::uint8_t>& alpha, BoxAxis columns, BoxAxis rows)
    : colour_(colour), alpha_(alpha)
{
    skipBytes_ = 4 * static_cast<std::size_t>(columns.skip);
    rowsToSkip_ = rows.skip;
    columnWidths_ = std::move(columns.sizes);
    rowHeights_ = std::move(rows.sizes);
    std::size_t used = 0;
    for (const int w : columnWidths_) used += static_cast<std::size_t>(w);
    sums_.assign(4 * used, 0);
    alpha_.assign(columnWidths_.size() * rowHeights_.size(), 0);
}

std::uint64_t AlphaBoxReducer::MemoryFor(int sourceWidth)
{
    return 4 * static_cast<std::uint64_t>(sourceWidth) * sizeof(std::uint64_t);
}

void AlphaBoxReducer::addRow(const std::uint8_t* row)
{
    if (done()) return;
    if (rowsToSkip_ > 0) {
        --rowsToSkip_;
        return;
    }
    row += skipBytes_;
    std::uint64_t* sums = sums_.data();
    for (std::size_t x = 0; x < sums_.size(); x += 4) {
        const std::uint32_t a = row[x + 3];
        sums[x] += row[x] * a;
        sums[x + 1] += row[x + 1] * a;
        sums[x + 2] += row[x + 2] * a;
        sums[x + 3] += a;
    }
    if (++rowsInBand_ == rowHeights_[band_]) finishBand();
}

void AlphaBoxReducer::addRows(const std::uint8_t* row, std::int64_t count)
{
    const std::int64_t skipped = std::clamp<std::int64_t>(count, 0, rowsToSkip_);
    rowsToSkip_ -= static_cast<int>(skipped);
    count -= skipped;
    row += skipBytes_;
    // A column's sums stay below 65,025 x 2^31 rows, within 64 bits.
    while (count > 0 && !done()) {
        const std::int64_t k = std::min<std::int64_t>(count, rowHeights_[band_] - rowsInBand_);
        const auto n = static_cast<std::uint64_t>(k);
        for (std::size_t x = 0; x < sums_.size(); x += 4) {
            const std::uint64_t a = row[x + 3];
            sums_[x] += row[x] * a * n;
            sums_[x + 1] += row[x + 1] * a * n;
            sums_[x + 2] += row[x + 2] * a * n;
            sums_[x + 3] += a * n;
        }
        count -= k;
        rowsInBand_ += static_cast<int>(k);
        if (rowsInBand_ == rowHeights_[band_]) finishBand();
    }
}

void AlphaBoxReducer::finishBand()
{
    std::uint8_t* out = colour_.scanLine(static_cast<int>(band_));
    std::uint8_t* alphaOut = alpha_.data() + band_ * columnWidths_.size();
    const std::uint64_t* sums = sums_.data();
    for (const int width : columnWidths_) {
        // A box's totals can pass 64 bits: 65,025 x 2^31 columns x 2^31 rows.
        BoxReducer::Total b = 0, g = 0, r = 0, a = 0;
        for (int k = 0; k < width; ++k, sums += 4) {
            b += sums[0];
            g += sums[1];
            r += sums[2];
            a += sums[3];
        }
        const std::uint64_t n = std::uint64_t(width) * static_cast<std::uint64_t>(rowsInBand_);
        if (a == BoxReducer::Total(255) * n) {
            // Opaque: every alpha is 255, so the sums divide exactly.
            out[0] = BoxAverage(b / 255, n);
            out[1] = BoxAverage(g / 255, n);
            out[2] = BoxAverage(r / 255, n);
            *alphaOut = 255;
        } else if (a == 0) {
            out[0] = out[1] = out[2] = 0;
            *alphaOut = 0;
        } else {
            out[0] = static_cast<std::uint8_t>(std::min<BoxReducer::Total>((b + a / 2) / a, 255));
            out[1] = static_cast<std::uint8_t>(std::min<BoxReducer::Total>((g + a / 2) / a, 255));
            out[2] = static_cast<std::uint8_t>(std::min<BoxReducer::Total>((r + a / 2) / a, 255));
            *alphaOut = static_cast<std::uint8_t>((a + n / 2) / n);
        }
        out += 3;
        ++alphaOut;
    }
    ++band_;
    rowsInBand_ = 0;
    std::fill(sums_.begin(), sums_.end(), 0);
}

void FillUnderTransparency(Raster24& colour, const std::vector<std::uint8_t>& alpha, int reach)
{
    const int w = colour.width(), h = colour.height();
    if (alpha.size() != static_cast<std::size_t>(w) * static_cast<std::size_t>(h)) return;
    enum : std::uint8_t { Hidden, Queued, Filled };
    std::vector<std::uint8_t> state(alpha.size());
    for (std::size_t i = 0; i < alpha.size(); ++i) state[i] = alpha[i] != 0 ? Filled : Hidden;
    const auto neighbours = [w, h](std::size_t i, auto&& each) {
        const int x = static_cast<int>(i % static_cast<std::size_t>(w)), y = static_cast<int>(i / static_cast<std::size_t>(w));
        if (x > 0) each(i - 1);
        if (x + 1 < w) each(i + 1);
        if (y > 0) each(i - static_cast<std::size_t>(w));
        if (y + 1 < h) each(i + static_cast<std::size_t>(w));
    };
    // Only pixels next to filled ones are visited: the work follows the
    // filled ring, not the picture.
    std::vector<std::size_t> ring, next;
    for (std::size_t i = 0; i < state.size(); ++i)
        if (state[i] == Filled)
            neighbours(i, [&](std::size_t n) {
                if (state[n] == Hidden) state[n] = Queued, ring.push_back(n);
            });
    std::vector<std::uint8_t> values;
    for (int pass = 0; pass < reach && !ring.empty(); ++pass) {
        // Each takes its filled neighbours' average, as they were before the pass.
        values.assign(3 * ring.size(), 0);
        for (std::size_t r = 0; r < ring.size(); ++r) {
            unsigned sum[3] = {0, 0, 0}, n = 0;
            neighbours(ring[r], [&](std::size_t m) {
                if (state[m] != Filled) return;
                const std::uint8_t* p = colour.scanLine(static_cast<int>(m / static_cast<std::size_t>(w))) +
                                        3 * (m % static_cast<std::size_t>(w));
                for (int k = 0; k < 3; ++k) sum[k] += p[k];
                ++n;
            });
            for (int k = 0; k < 3; ++k) values[3 * r + static_cast<std::size_t>(k)] = static_cast<std::uint8_t>((sum[k] + n / 2) / n);
        }
        next.clear();
        for (std::size_t r = 0; r < ring.size(); ++r) {
            const std::size_t i = ring[r];
            std::uint8_t* p = colour.scanLine(static_cast<int>(i / static_cast<std::size_t>(w))) + 3 * (i % static_cast<std::size_t>(w));
            for (int k = 0; k < 3; ++k) p[k] = values[3 * r + static_cast<std::size_t>(k)];
            state[i] = Filled;
        }
        for (const std::size_t i : ring)
            neighbours(i, [&](std::size_t n) {
                if (state[n] == Hidden) state[n] = Queued, next.push_back(n);
            });
        ring.swap(next);
    }
}

}  // namespace pictavo
