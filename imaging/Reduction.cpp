#include "imaging/Reduction.h"

#include "base/Stop.h"

#include "imaging/Orient.h"
#include "imaging/Sharpen.h"

#include <cstring>

namespace pictavo {
namespace {

int Normalised(int orientation)
{
    return orientation >= 1 && orientation <= 8 ? orientation : 1;
}

// Rows that arrive from the bottom are the stored picture mirrored top to
// bottom; this is the orientation that turns them upright in one step.
int EffectiveOrientation(const ReductionPlan& plan)
{
    static constexpr int AfterFlip[9] = {0, 4, 3, 2, 1, 6, 5, 8, 7};
    const int o = Normalised(plan.orientation);
    return plan.bottomUp ? AfterFlip[o] : o;
}

}  // namespace

int Reduction::UprightWidth(const ReductionPlan& plan)
{
    return OrientationSwapsSides(Normalised(plan.orientation)) ? plan.height : plan.width;
}

int Reduction::UprightHeight(const ReductionPlan& plan)
{
    return OrientationSwapsSides(Normalised(plan.orientation)) ? plan.width : plan.height;
}

bool Reduction::Copies(const ReductionPlan& plan)
{
    return UprightWidth(plan) <= plan.targetWidth && UprightHeight(plan) <= plan.targetHeight;
}

std::uint64_t Reduction::MemoryFor(const ReductionPlan& plan)
{
    const auto raster = [](int w, int h) {
        return static_cast<std::uint64_t>(RowBytes(w, 24)) * static_cast<std::uint64_t>(h < 0 ? 0 : h);
    };
    const bool copies = Copies(plan);
    // The picture as collected or reduced and its turned copy; colour is
    // sharpened in place.
    const auto plane = [&plan](int w, int h) {
        return plan.alpha ? static_cast<std::uint64_t>(w) * static_cast<std::uint64_t>(h < 0 ? 0 : h) : 0;
    };
    if (copies) return 2 * raster(plan.width, plan.height) + 2 * plane(plan.width, plan.height);
    const int boxesAcross = OrientationSwapsSides(EffectiveOrientation(plan)) ? plan.targetHeight : plan.targetWidth;
    // With alpha, sharpening works on a copy of four bytes a pixel beside
    // the plane and its turned copy.
    return (plan.alpha ? AlphaBoxReducer::MemoryFor(plan.width) : BoxReducer::MemoryFor(plan.width, boxesAcross)) +
           2 * raster(plan.targetWidth, plan.targetHeight) + 6 * plane(plan.targetWidth, plan.targetHeight);
}

Reduction::Reduction(const ReductionPlan& plan, int scale) : plan_(plan), effectiveOrientation_(EffectiveOrientation(plan))
{
    const int uw = UprightWidth(plan), uh = UprightHeight(plan);
    copies_ = Copies(plan);
    if (copies_) {
        collected_.reset(plan.width, plan.height, PixelFormat::Bgr24, std::nullopt);  // every row arrives
        if (plan.alpha) alpha_.assign(static_cast<std::size_t>(plan.width) * static_cast<std::size_t>(plan.height), 0);
        return;
    }
    const auto [across, down] = BoxesFromTopLeft(uw, uh, plan.targetWidth, plan.targetHeight);

    // Sums do not depend on the order pixels arrive in: lay the upright
    // boxes over the rows as they arrive, turn the small result afterwards.
    const int e = effectiveOrientation_;
    const bool swap = OrientationSwapsSides(e);
    const bool columnsReversed = swap ? (e == 7 || e == 8) : (e == 2 || e == 3);
    const bool rowsReversed = swap ? (e == 6 || e == 7) : (e == 3 || e == 4);
    const BoxAxis& columnsFrom = swap ? down : across;
    const BoxAxis& rowsFrom = swap ? across : down;
    BoxAxis columns = columnsReversed ? Reversed(columnsFrom, plan.width) : columnsFrom;
    BoxAxis rows = rowsReversed ? Reversed(rowsFrom, plan.height) : rowsFrom;
    // Black where rows never arrive.
    reduced_.reset(static_cast<int>(columns.sizes.size()), static_cast<int>(rows.sizes.size()), PixelFormat::Bgr24, 0);
    if (plan.alpha) alphaReducer_.emplace(reduced_, alpha_, std::move(columns), std::move(rows));
    else reducer_.emplace(reduced_, std::move(columns), std::move(rows), scale);
}

void Reduction::addRow(const std::uint8_t* row)
{
    LeaveIfStopped();
    if (!copies_) return alphaReducer_ ? alphaReducer_->addRow(row) : reducer_->addRow(row);
    if (rowsIn_ >= plan_.height) return;
    std::uint8_t* out = collected_.scanLine(rowsIn_);
    if (!plan_.alpha) {
        std::memcpy(out, row, 3 * static_cast<std::size_t>(plan_.width));
    } else {
        std::uint8_t* alpha = alpha_.data() + static_cast<std::size_t>(rowsIn_) * static_cast<std::size_t>(plan_.width);
        for (int x = 0; x < plan_.width; ++x, row += 4, out += 3) {
            std::memcpy(out, row, 3);
            alpha[x] = row[3];
        }
    }
    ++rowsIn_;
}

void Reduction::addRows(const std::uint8_t* row, std::int64_t count)
{
    LeaveIfStopped();
    if (!copies_) return alphaReducer_ ? alphaReducer_->addRows(row, count) : reducer_->addRows(row, count);
    // A copied picture is no taller than its target, so few rows are taken.
    for (; count > 0 && rowsIn_ < plan_.height; --count) addRow(row);
}

bool Reduction::done() const
{
    if (copies_) return rowsIn_ >= plan_.height;
    return alphaReducer_ ? alphaReducer_->done() : reducer_->done();
}

Raster24 Reduction::finish()
{
    if (copies_) {
        // Rows that never arrived stay black rather than show stale memory.
        for (int r = rowsIn_; r < plan_.height; ++r)
            std::memset(collected_.scanLine(r), 0, 3 * static_cast<std::size_t>(plan_.width));
        rowsIn_ = plan_.height;
        if (plan_.alpha) alpha_ = OrientPlane(alpha_, plan_.width, plan_.height, effectiveOrientation_);
        return Orient(collected_, effectiveOrientation_);
    }
    if (plan_.alpha) alpha_ = OrientPlane(alpha_, reduced_.width(), reduced_.height(), effectiveOrientation_);
    Raster24 upright = Orient(reduced_, effectiveOrientation_);
    reduced_.release();
    if (plan_.sharpen && plan_.targetHeight >= 3) {
        if (plan_.alpha) Sharpen(upright, alpha_);
        else Sharpen(upright);
    }
    return upright;
}

}  // namespace pictavo
