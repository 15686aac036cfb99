#include "batch/ResizeRun.h"

#include "codecs/BmpReader.h"
#include "codecs/Files.h"
#include "codecs/TJPEGImage.h"
#include "imaging/Extended.h"
#include "imaging/Orient.h"
#include "imaging/ReduceBitmap.h"

#include <algorithm>
#include <deque>
#include <future>
#include <unordered_map>

namespace pictavo {
namespace {

std::vector<std::uint8_t> Encode(TJPEGImage& jpeg, Raster24& source, OutputSize size, const BatchModel& model)
{
    Raster24 destination;
    destination.setWidth(size.width);
    destination.setHeight(size.height);
    ReduceBitmap(source, destination, model.sharpen);
    source.release();  // the decoded picture is no longer needed
    jpeg.takeRaster(destination);
    jpeg.setEncodeQuality(static_cast<std::uint8_t>(model.quality()));
    return jpeg.encodedBytes();
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
        jpeg.decodeInto(source);
        if (orientation != 1) source = Orient(source, orientation);
        // Written through the same object: a progressive input stays progressive.
        return Encode(jpeg, source, size, model);
    }
    LoadBitmapFile(source, path, name);
    const OutputSize size = TargetFor(source.width(), source.height(), model.target());
    TJPEGImage jpeg;
    return Encode(jpeg, source, size, model);
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
        return ResizeOne(settings, settings.imageFolder + names[static_cast<std::size_t>(i)],
                         names[static_cast<std::size_t>(i)]);
    };
    const int jobs = std::max(1, options.jobs);
    std::deque<std::future<std::vector<std::uint8_t>>> running;
    int next = 0;
    const auto launch = [&] {
        while (next < count && static_cast<int>(running.size()) < jobs)
            running.push_back(jobs == 1 ? std::async(std::launch::deferred, process, next++)
                                        : std::async(std::launch::async, process, next++));
    };
    for (int i = 0; i < count; ++i) {
        launch();
        std::vector<std::uint8_t> bytes;
        try {
            bytes = running.front().get();
            running.pop_front();
            WriteFileAtomically(outputFolder + outputs[static_cast<std::size_t>(i)], bytes.data(), bytes.size(),
                                outputs[static_cast<std::size_t>(i)]);
        } catch (const std::exception& e) {
            running.clear();  // waits for pictures already started, keeps their results unwritten
            throw ResizeError(e.what(), names[static_cast<std::size_t>(i)]);
        }
        model.progressPosition = i;
        if (hooks.progressChanged) hooks.progressChanged(model);
        if (hooks.written) hooks.written(i, outputs[static_cast<std::size_t>(i)]);
    }

    model.names = outputs;
    model.okVisible = true;
    if (hooks.beep) hooks.beep();
    model.progressPosition = 0;
    if (hooks.progressChanged) hooks.progressChanged(model);
}

}  // namespace pictavo
