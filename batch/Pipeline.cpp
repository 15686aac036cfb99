#include "batch/Pipeline.h"

#include "base/Errors.h"
#include "batch/ResizeRun.h"
#include "codecs/PictureFormats.h"
#include "codecs/jpeg/TJPEGImage.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

namespace pictavo {

std::unique_ptr<PictureSource> OpenPicture(const std::string& path, const std::string& name, InputFormat format)
{
    // The choice decides which names are listed, the content how each is
    // read: a phone's HEIC picture named .JPG is read as HEIC.
    switch (format) {
    case InputFormat::Jpeg: return OpenPictureByContent(path, name, &JpegKind());
    case InputFormat::Bitmap: return OpenPictureByContent(path, name, &BitmapKind());
    case InputFormat::Auto: break;
    }
    return OpenPictureByContent(path, name);
}

std::uint64_t EstimatedCost(const std::string& path, const std::string& name, InputFormat format,
                            std::uint64_t* memory) noexcept
{
    if (memory) *memory = 0;
    try {
        // A JPEG header is a few hundred bytes into the file: cheap to read
        // ahead. Other decoders read more before they know their size.
        if (format == InputFormat::Jpeg || (format == InputFormat::Auto && KindOfName(name) == &JpegKind())) {
            const std::unique_ptr<PictureSource> source = JpegKind().open(path, name);
            if (memory) *memory = source->header().decodeMemory;
            return source->header().decodeCost;
        }
        return static_cast<std::uint64_t>(std::filesystem::file_size(path));
    } catch (...) {
        return 0;  // the picture's own turn will say what is wrong
    }
}

ReductionPlan PlanFor(const PictureHeader& header, TargetSize target, bool sharpen)
{
    ReductionPlan plan{.width = header.width,
                       .height = header.height,
                       .bottomUp = header.bottomUp,
                       .orientation = header.orientation,
                       .sharpen = sharpen};
    // Cameras store pictures sideways and say so: size the upright picture.
    const OutputSize size = TargetFor(Reduction::UprightWidth(plan), Reduction::UprightHeight(plan), target);
    plan.targetWidth = size.width;
    plan.targetHeight = size.height;
    return plan;
}

int DecodeFewerPixels(PictureSource& source, const std::vector<ReductionPlan>& plans)
{
    // The largest target decides; targets are upright, the rows arrive as stored.
    int across = 0, down = 0;
    for (const ReductionPlan& plan : plans) {
        const bool turned = Reduction::UprightWidth(plan) != plan.width;
        across = std::max(across, turned ? plan.targetHeight : plan.targetWidth);
        down = std::max(down, turned ? plan.targetWidth : plan.targetHeight);
    }
    return source.decodeSmaller(2 * across, 2 * down);
}

std::uint64_t MemoryFor(const PictureHeader& header, const ReductionPlan& plan, const OutputFormat& format)
{
    const std::uint64_t row = (plan.alpha ? 4 : 3) * static_cast<std::uint64_t>(plan.width);
    return header.decodeMemory + row + Reduction::MemoryFor(plan) + format.memory(plan.targetWidth, plan.targetHeight);
}

std::vector<ReducedPicture> Reduce(PictureSource& source, const std::vector<ReductionPlan>& plans, int factor)
{
    const ReductionPlan& first = plans.front();
    // Rows decoded smaller go to the reducers as they are, each pixel
    // standing for `factor` columns; alpha and copied pictures take them
    // widened back to the picture's width.
    const bool narrow = factor > 1 && !first.alpha &&
                        std::none_of(plans.begin(), plans.end(), [](const ReductionPlan& p) { return Reduction::Copies(p); });
    // Each reducer writes into its own member: they stay where they are made.
    std::vector<std::unique_ptr<Reduction>> reductions;
    for (const ReductionPlan& plan : plans) reductions.push_back(std::make_unique<Reduction>(plan, narrow ? factor : 1));
    const std::size_t pixel = first.alpha ? 4 : 3;
    std::vector<std::uint8_t> whole(factor > 1 && !narrow ? pixel * static_cast<std::size_t>(first.width) : 0);
    const auto widened = [&](const std::uint8_t* row) {
        if (factor == 1 || narrow) return row;
        for (std::size_t x = 0, from = 0; x < whole.size(); from += pixel)
            for (int k = 0; k < factor && x < whole.size(); ++k, x += pixel) std::memcpy(&whole[x], row + from, pixel);
        return static_cast<const std::uint8_t*>(whole.data());
    };
    bool decoded = false;
    std::int64_t rows = 0;  // full-size rows given, when decoded smaller
    // `count` decoded rows that are all `row`: each stands for `factor` of
    // the picture's rows, up to its height.
    const auto give = [&](const std::uint8_t* row, std::int64_t count) {
        if (factor > 1) {
            count = std::min<std::int64_t>(count * factor, first.height - rows);
            if (count <= 0) return;
            rows += count;
        }
        const std::uint8_t* wide = widened(row);
        for (const auto& reduction : reductions) {
            if (count == 1) reduction->addRow(wide);
            else reduction->addRows(wide, count);
        }
    };
    source.readRows({[&](const std::uint8_t* row) {
                         decoded = true;
                         give(row, 1);
                     },
                     give});
    // Rows made up for data that is not there are no picture.
    if (!decoded) throw EInvalidGraphic(msg::NoPictureData);
    std::vector<ReducedPicture> reduced;
    for (const auto& reduction : reductions) {
        Raster24 colour = reduction->finish();
        reduced.push_back({std::move(colour), reduction->takeAlpha()});
    }
    return reduced;
}

std::vector<std::uint8_t> Encode(const Raster24& picture, const PictureHeader& header, int quality,
                                 const OutputFormat& format, const OutputMetadata* metadata,
                                 const std::vector<std::uint8_t>& alpha)
{
    if (picture.width() == 0 || picture.height() == 0) return {};
    const EncodeSettings settings{.quality = std::clamp(quality, 1, 100),
                                  .progressive = header.progressive.value_or(JPEGDefaults().progressiveOutput),
                                  .metadata = metadata};
    EncoderPicture encoded = PictureOf(picture);
    if (!alpha.empty()) {
        encoded.alpha = alpha.data();
        encoded.alphaStride = picture.width();
    }
    return format.encode(encoded, settings);
}

}  // namespace pictavo
