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

// Box sizes along one axis: box i covers source[start(i) .. start(i + 1) - 1]
// with start(k) = trunc(k * scale). The last source column or row is left
// out whenever the single-precision scale lies below the exact ratio.
std::vector<int> BoxSizes(int sourceSize, int destinationSize, float scale)
{
    std::vector<int> sizes(static_cast<std::size_t>(destinationSize));
    std::int64_t previous = 0;
    for (int k = 1; k <= destinationSize; ++k) {
        // Never past the source, whatever the size.
        const std::int64_t boundary = std::min<std::int64_t>(TruncatedProduct(k, scale), sourceSize);
        sizes[static_cast<std::size_t>(k - 1)] = static_cast<int>(boundary - previous);
        previous = boundary;
    }
    return sizes;
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

    std::vector<std::uint32_t> sums(static_cast<std::size_t>(dw) * 3);
    const Raster24& src = source;  // read without taking a private copy
    int sourceRow = 0;
    for (int j = 0; j < dh; ++j) {
        const int rows = rowHeights[static_cast<std::size_t>(j)];
        std::fill(sums.begin(), sums.end(), 0u);
        for (int r = 0; r < rows; ++r) {
            const std::uint8_t* p = src.scanLine(sourceRow + r);
            std::uint32_t* acc = sums.data();
            for (int i = 0; i < dw; ++i) {
                std::uint32_t b = 0, g = 0, red = 0;
                for (int k = columnWidths[static_cast<std::size_t>(i)]; k > 0; --k) {
                    b += p[0];
                    g += p[1];
                    red += p[2];
                    p += 3;
                }
                acc[0] += b;
                acc[1] += g;
                acc[2] += red;
                acc += 3;
            }
        }
        sourceRow += rows;

        std::uint8_t* out = destination.scanLine(j);
        const std::uint32_t* acc = sums.data();
        for (int i = 0; i < dw; ++i) {
            const std::int64_t n = std::int64_t(columnWidths[static_cast<std::size_t>(i)]) * rows;
            const std::uint32_t h = n > 65535 ? 0 : static_cast<std::uint32_t>(65535 / n);
            // With h > 0 the box holds at most 65535 pixels, so sum * h stays below 2^24.
            out[0] = static_cast<std::uint8_t>(h == 0 ? 0 : (acc[0] * h) >> 16);
            out[1] = static_cast<std::uint8_t>(h == 0 ? 0 : (acc[1] * h) >> 16);
            out[2] = static_cast<std::uint8_t>(h == 0 ? 0 : (acc[2] * h) >> 16);
            out += 3;
            acc += 3;
        }
    }

    if (sharpen && dh >= 3) Sharpen(destination);
}

}  // namespace pictavo
