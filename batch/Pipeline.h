// The one flow every picture takes: decoder rows -> box reducer -> orient ->
// sharpen -> encoder. Each step is a function, so a resize reads as
// open -> size -> reduce -> encode.
#pragma once

#include "batch/Model.h"
#include "codecs/OutputFormats.h"
#include "codecs/PictureSource.h"
#include "imaging/Raster24.h"
#include "imaging/Reduction.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace pictavo {

// Opens `path` as the model's format reads it (by content when the format is
// Auto) and reads its header only.
// Errors name the file as `name`.
std::unique_ptr<PictureSource> OpenPicture(const std::string& path, const std::string& name, InputFormat format);

// Roughly the work of resizing `path`, to start costly pictures first: for a
// JPEG from its header (its samples, and whether it has many scans); for
// other files their size. 0 when it cannot be told. With `memory`, what
// the decoder will hold there too (a multi-scan JPEG's coefficients), or 0.
std::uint64_t EstimatedCost(const std::string& path, const std::string& name, InputFormat format,
                            std::uint64_t* memory = nullptr) noexcept;

// How the picture is reduced: its upright size fitted to the target.
ReductionPlan PlanFor(const PictureHeader& header, TargetSize target, bool sharpen);

// For pictures that need not be exact: lets the decoder deliver fewer
// pixels where it can, still at least two to an output pixel either way for
// every plan. The factor to hand Reduce; the plans stay the whole picture's.
int DecodeFewerPixels(PictureSource& source, const std::vector<ReductionPlan>& plans);

// All the memory a picture's resize holds at once: the decoder's, one row,
// the reduction's and the encoder's.
std::uint64_t MemoryFor(const PictureHeader& header, const ReductionPlan& plan,
                        const OutputFormat& format = DefaultOutputFormat());

// A reduced picture: its colour and, when its transparency is kept, its
// alpha, one byte a pixel, rows from the top.
struct ReducedPicture {
    Raster24 colour;
    std::vector<std::uint8_t> alpha;
};

// Streams the rows through one reduction a plan, from one decode: the small,
// upright pictures, each what its plan alone gives. Rows decoded `factor`
// times smaller stand each pixel for the factor x factor pixels it covers,
// so the boxes and their arithmetic are the exact run's.
std::vector<ReducedPicture> Reduce(PictureSource& source, const std::vector<ReductionPlan>& plans, int factor = 1);

// The output file's bytes, in `format`; a JPEG is progressive when the
// input was. `alpha`, when given, is the picture's alpha plane (see
// ReducedPicture), for formats that keep it.
std::vector<std::uint8_t> Encode(const Raster24& picture, const PictureHeader& header, int quality,
                                 const OutputFormat& format = DefaultOutputFormat(),
                                 const OutputMetadata* metadata = nullptr, const std::vector<std::uint8_t>& alpha = {});

}  // namespace pictavo
