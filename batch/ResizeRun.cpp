#include "batch/ResizeRun.h"

#include "base/FreedMemory.h"
#include "base/MemoryBudget.h"
#include "batch/InputList.h"
#include "batch/ListOrderRun.h"
#include "batch/OutputNames.h"
#include "batch/Pipeline.h"
#include "codecs/Files.h"
#include "imaging/ColourProfile.h"
#include "imaging/Extended.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <stdexcept>
#include <filesystem>

namespace pictavo {
namespace {

// An empty file sizes to nothing: the window keeps the message it always
// showed for that, the command line says why.
[[noreturn]] void FailEmpty()
{
    EZeroDivide empty;
    empty.setHeadline("The file is empty");
    throw empty;
}

}  // namespace

// No output may replace a listed input, its own included: that photo would
// be lost. Files are compared by identity, not by name, so no spelling of
// the folders (a trailing slash, "./.", a symbolic link) slips past.
void CheckCollisions(const std::string& inputFolder, const std::vector<std::string>& names,
                     const std::string& outputFolder, const std::vector<std::string>& outputs)
{
    std::map<FileIdentity, std::size_t> inputs;
    for (std::size_t i = 0; i < names.size(); ++i)
        if (const auto id = IdentityOf(InputPath(inputFolder, names[i]))) inputs.emplace(*id, i);
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        const auto id = IdentityOf(outputFolder + outputs[i]);
        if (!id) continue;
        const auto it = inputs.find(*id);
        if (it != inputs.end())
            throw ResizeError("The output " + outputFolder + outputs[i] + " of " + names[i] +
                                  " would replace the listed picture " + names[it->second] +
                                  ". Nothing was written; choose another series name or output folder.",
                              names[i]);
    }
}

OutputSize TargetFor(int w, int h, TargetSize target)
{
    const double f = w > h ? ScaleFactor(target.width, w) : ScaleFactor(target.height, h);
    const auto side = [f](int s) { return static_cast<int>(std::max<std::int64_t>(RoundedProduct(s, f), 1)); };
    return {side(w), side(h)};
}

std::vector<std::uint8_t> ResizeOne(const BatchModel& model, const std::string& path, const std::string& name,
                                    DecodeWarnings* warnings)
{
    // Most decoders hold the whole file before they know what else they
    // need, so its bytes are reserved before it is read. Only one picture at
    // a time holds part of its share while it waits for the rest; the
    // others hold all of theirs and will free it, so no two jobs can wait
    // on each other.
    static std::mutex opening;
    std::unique_lock oneAtATime(opening);
    std::error_code unknown;  // a missing file fails in the reader, with its message
    const std::uintmax_t fileBytes = std::filesystem::file_size(path, unknown);
    MemoryReservation memory(unknown ? 0 : std::min<std::uint64_t>(fileBytes, MemoryBudget()));
    const std::unique_ptr<PictureSource> source = OpenPicture(path, name, model.format);
    const PictureHeader& header = source->header();
    if (header.width == 0 && header.height == 0) FailEmpty();
    const ReductionPlan plan = PlanFor(header, model.target(), model.sharpen);
    memory.release();  // what the header declares includes the file's bytes where they are held
    memory = MemoryReservation(MemoryFor(header, plan, model.output()));  // waits for other jobs to free enough
    oneAtATime.unlock();
    Raster24 reduced = Reduce(*source, plan);
    if (warnings) *warnings = source->warnings();
    ConvertToSrgb(reduced, ProfileForRows(header.iccProfile, header.gray));
    return Encode(reduced, header, model.quality(), model.output());
}

void RunResize(BatchModel& model, const RunHooks& hooks, const RunOptions& options)
{
    model.resizeEnabled = false;
    const std::vector<std::string> names = model.names;
    const int count = static_cast<int>(names.size());
    const std::string series = Trim(model.series);
    std::vector<std::string> outputs = options.outputs;
    if (!outputs.empty() && outputs.size() != names.size())
        throw std::invalid_argument("RunResize: one output name a listed picture");
    if (outputs.empty()) {
        CheckSeries(series);
        for (int i = 0; i < count; ++i)
            outputs.push_back(ExpandName(DefaultNameTemplate, series, i, {}, model.output().extension));
    }
    const std::string outputFolder = options.outputFolder.empty() ? model.imageFolder : options.outputFolder;
    CheckCollisions(model.imageFolder, names, outputFolder, outputs);

    const BatchModel settings = model;  // what every picture is read with
    // One slot a picture: each is written by the job that reads it.
    std::vector<DecodeWarnings> damage(names.size());
    const auto process = [&settings, &names, &damage](int i) {
        const std::string& name = names[static_cast<std::size_t>(i)];
        return ResizeOne(settings, InputPath(settings.imageFolder, name), name, &damage[static_cast<std::size_t>(i)]);
    };
    std::map<FileIdentity, std::size_t> written;  // files this run wrote
    const auto commit = [&](int i, const std::vector<std::uint8_t>& bytes) {
        const std::string& name = outputs[static_cast<std::size_t>(i)];
        if (const std::size_t slash = name.rfind('/'); slash != std::string::npos) {
            std::error_code ignored;  // a folder that cannot be made fails the write below
            std::filesystem::create_directories(outputFolder + name.substr(0, slash), ignored);
        }
        const std::string path = outputFolder + name;
        // Names told apart here may still meet in one file where the file
        // system ignores case (a memory card): never replace this run's own.
        if (const auto id = IdentityOf(path, false))
            if (const auto it = written.find(*id); it != written.end())
                throw ResizeError(names[it->second] + " and " + names[static_cast<std::size_t>(i)] +
                                      " would both be written to the one file " + path +
                                      ": the output folder does not tell their names apart.",
                                  names[static_cast<std::size_t>(i)]);
        WriteFileAtomically(path, bytes.data(), bytes.size(), name);
        if (const auto id = IdentityOf(path, false)) written.emplace(*id, i);
        model.progressPosition = i;
        if (hooks.progressChanged) hooks.progressChanged(model);
        if (hooks.written) hooks.written(i, name);
        const DecodeWarnings& warnings = damage[static_cast<std::size_t>(i)];
        if (warnings.count > 0 && hooks.damaged) hooks.damaged(i, names[static_cast<std::size_t>(i)], warnings);
    };
    std::vector<std::uintmax_t> costs;
    // Read ahead only when they decide the order: several jobs, costliest first.
    if (options.costliestFirst && options.jobs > 1 && count > 1) {
        for (const std::string& name : names) {
            // A card of thousands of files takes a while to look through.
            if (options.stop != nullptr && options.stop->load()) throw RunStopped();
            costs.push_back(EstimatedCost(InputPath(settings.imageFolder, name), name, settings.format));
        }
    } else {
        costs.assign(names.size(), 0);
    }
    const int jobs = std::max(1, options.jobs);
    const FreedMemoryKept kept;
    PrepareHeapForPictures(std::min(jobs, count));
    if (options.keepGoing)
        RunPastFailures(count, jobs, process, commit, names, costs, hooks.failed, options.stop, options.costliestFirst);
    else RunInListOrder(count, jobs, process, commit, names, costs, options.stop, options.costliestFirst);
    if (count > 0) SyncFileSystemOf(outputFolder, outputs.back());

    model.names = outputs;
    model.okVisible = true;
    if (hooks.beep) hooks.beep();
    model.progressPosition = 0;
    if (hooks.progressChanged) hooks.progressChanged(model);
}

}  // namespace pictavo
