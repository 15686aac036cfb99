// The one flow from a decoder's rows to the finished small picture: rows are
// reduced in the order they arrive, the small result is turned upright, then
// sharpened. The whole picture is never held, except one that is not reduced
// at all (it is no larger than the target, so small).
#pragma once

#include "imaging/AlphaReducer.h"
#include "imaging/BoxReducer.h"
#include "imaging/Raster24.h"

#include <cstdint>
#include <optional>

namespace pictavo {

struct ReductionPlan {
    int width = 0;  // the picture as its rows arrive
    int height = 0;
    bool bottomUp = false;  // rows arrive from the bottom row up
    int orientation = 1;    // EXIF orientation that turns the stored picture upright
    int targetWidth = 0;    // the upright reduced size
    int targetHeight = 0;
    bool sharpen = false;
    bool alpha = false;  // rows carry alpha: 4 bytes a pixel, and the result an alpha plane
};

class Reduction {
public:
    // Raises the reducer's division errors before any row is taken. With a
    // `scale` above 1 (not for alpha, nor for a picture copied), rows arrive
    // that many times narrower, each pixel standing for `scale` of the
    // plan's columns; rows still count as the plan's (see BoxReducer).
    explicit Reduction(const ReductionPlan& plan, int scale = 1);

    // The upright size of the picture the rows make.
    static int UprightWidth(const ReductionPlan& plan);
    static int UprightHeight(const ReductionPlan& plan);
    // True when the picture is no larger than the target in both sides, so
    // copied rather than reduced (never enlarge).
    static bool Copies(const ReductionPlan& plan);
    // Memory held while rows stream in, beyond the row the caller supplies.
    static std::uint64_t MemoryFor(const ReductionPlan& plan);

    // One row of 3 * width bytes of blue, green, red, in arrival order (4 *
    // width with alpha after them when plan.alpha).
    void addRow(const std::uint8_t* row);
    // `count` rows that are all `row`, such as rows a file's data does not
    // reach: in time that grows with the reduced picture, not with `count`.
    void addRows(const std::uint8_t* row, std::int64_t count);
    // True when no further row can change the result.
    bool done() const;
    // True when the picture is not reduced but copied (never enlarge).
    bool copies() const { return copies_; }
    // The upright, reduced and optionally sharpened picture. A picture no
    // larger than the target in both sides is a copy of itself, unsharpened.
    Raster24 finish();
    // After finish(), with plan.alpha: the alpha of the picture finish()
    // gave, one byte a pixel, rows from the top.
    std::vector<std::uint8_t> takeAlpha() { return std::move(alpha_); }

private:
    ReductionPlan plan_;
    int effectiveOrientation_ = 1;  // turns the picture as the rows arrive upright
    bool copies_ = false;
    Raster24 collected_;  // copies_: the arriving rows, top row first
    int rowsIn_ = 0;
    Raster24 reduced_;  // otherwise: the reduced picture as the rows arrive
    std::optional<BoxReducer> reducer_;
    std::optional<AlphaBoxReducer> alphaReducer_;
    std::vector<std::uint8_t> alpha_;  // collected or reduced as the rows arrive, upright once finished
};

}  // namespace pictavo
