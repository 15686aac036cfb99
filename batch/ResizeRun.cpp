#include "batch/ResizeRun.h"

#include "batch/ListOrderRun.h"
#include "codecs/BmpReader.h"
#include "codecs/Files.h"
#include "codecs/TJPEGImage.h"
#include "imaging/BoxReducer.h"
#include "imaging/Extended.h"
#include "imaging/Orient.h"
#include "imaging/ReduceBitmap.h"
#include "imaging/Sharpen.h"

#include <algorithm>
#include <filesystem>
#include <unordered_map>

namespace pictavo {
namespace {

std::vector<std::uint8_t> Finish(TJPEGImage& jpeg, const Raster24& reduced, const BatchModel& model)
{
    jpeg.takeRaster(reduced);
    jpeg.setEncodeQuality(static_cast<std::uint8_t>(model.quality()));
    return jpeg.encodedBytes();
}

std::vector<std::uint8_t> ReduceAndEncode(TJPEGImage& jpeg, Raster24& source, OutputSize size, const BatchModel& model)
{
    Raster24 destination;
    destination.setWidth(size.width);
    destination.setHeight(size.height);
    ReduceBitmap(source, destination, model.sharpen);
    source.release();  // the decoded picture is no longer needed
    return Finish(jpeg, destination, model);
}

void CheckSeries(const std::string& series)
{
    const bool leaves = series.find_first_of(std::string("/\\\0", 3)) != std::string::npos;
    if (leaves)
        throw ResizeError("The series name \"" + series + "\" must not contain / or \\: outputs are written "
                          "into the folder of the pictures",
                          "");
}

// No output may replace another listed input: it could be overwritten before
// its turn. An output with its own input's name is fine; that input is read
// whole before it is replaced.
void CheckCollisions(const std::vector<std::string>& names, const std::vector<std::string>& outputs)
{
    std::unordered_map<std::string, std::size_t> index;
    for (std::size_t i = 0; i < names.size(); ++i) index.emplace(names[i], i);
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        const auto it = index.find(outputs[i]);
        if (it != index.end() && it->second != i)
            throw ResizeError("The output " + outputs[i] + " of " + names[i] + " would overwrite the listed picture " +
                                  names[it->second] + ". Nothing was written; choose another series name.",
                              names[i]);
    }
}

}  // namespace

OutputSize TargetFor(int w, int h, TargetSize target)
{
    const double f = w > h ? ScaleFactor(target.width, w) : ScaleFactor(target.height, h);
    const auto side = [f](int s) { return static_cast<int>(std::max<std::int64_t>(RoundedProduct(s, f), 1)); };
    return {side(w), side(h)};
}

std::vector<std::uint8_t> ResizeOne(const BatchModel& model, const std::string& path, const std::string& name)
{
    Raster24 source;
    if (model.format == InputFormat::Jpeg) {
        TJPEGImage jpeg;
        jpeg.loadFromFile(path, name);
        // Cameras store pictures sideways and say so: size and reduce the
        // upright picture. The size comes from the header, before decoding.
        const int orientation = jpeg.orientation();
        const bool swap = OrientationSwapsSides(orientation);
        const OutputSize size = TargetFor(swap ? jpeg.height() : jpeg.width(), swap ? jpeg.width() : jpeg.height(),
                                          model.target());
        // Written through the same object: a progressive input stays progressive.
        if (orientation == 1 && (jpeg.width() > size.width || jpeg.height() > size.height)) {
            // Reduced as the rows arrive: the whole picture is never held.
            Raster24 destination;
            destination.setWidth(size.width);
            destination.setHeight(size.height);
            destination.make24Bit();
            BoxReducer reducer(destination, jpeg.width(), jpeg.height());
            jpeg.decodeRows([&reducer](const std::uint8_t* row) { reducer.addRow(row); });
            if (model.sharpen && size.height >= 3) Sharpen(destination);
            return Finish(jpeg, destination, model);
        }
        jpeg.decodeInto(source);
        if (orientation != 1) source = Orient(source, orientation);
        return ReduceAndEncode(jpeg, source, size, model);
    }
    LoadBitmapFile(source, path, name);
    const OutputSize size = TargetFor(source.width(), source.height(), model.target());
    TJPEGImage jpeg;
    return ReduceAndEncode(jpeg, source, size, model);
}

void RunResize(BatchModel& model, const RunHooks& hooks, const RunOptions& options)
{
    model.resizeEnabled = false;
    const std::vector<std::string> names = model.names;
    const int count = static_cast<int>(names.size());
    const std::string series = Trim(model.series);
    CheckSeries(series);
    std::vector<std::string> outputs;
    for (int i = 0; i < count; ++i) outputs.push_back(OutputName(series, i));
    const std::string outputFolder = options.outputFolder.empty() ? model.imageFolder : options.outputFolder;
    if (outputFolder == model.imageFolder) CheckCollisions(names, outputs);

    const BatchModel settings = model;  // what every picture is read with
    const auto process = [&settings, &names](int i) {
        const std::string& name = names[static_cast<std::size_t>(i)];
        return ResizeOne(settings, settings.imageFolder + name, name);
    };
    const auto commit = [&](int i, const std::vector<std::uint8_t>& bytes) {
        const std::string& name = outputs[static_cast<std::size_t>(i)];
        WriteFileAtomically(outputFolder + name, bytes.data(), bytes.size(), name);
        model.progressPosition = i;
        if (hooks.progressChanged) hooks.progressChanged(model);
        if (hooks.written) hooks.written(i, name);
    };
    std::vector<std::uintmax_t> costs;
    for (const std::string& name : names) {
        std::error_code ec;
        const std::uintmax_t size = std::filesystem::file_size(settings.imageFolder + name, ec);
        costs.push_back(ec ? 0 : size);
    }
    RunInListOrder(count, std::max(1, options.jobs), process, commit, names, costs, options.stop, options.costliestFirst);

    model.names = outputs;
    model.okVisible = true;
    if (hooks.beep) hooks.beep();
    model.progressPosition = 0;
    if (hooks.progressChanged) hooks.progressChanged(model);
}

}  // namespace pictavo
