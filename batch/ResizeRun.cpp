#include "batch/ResizeRun.h"

#include "base/FreedMemory.h"
#include "base/MemoryBudget.h"
#include "batch/ByteTargets.h"
#include "batch/InputList.h"
#include "batch/ListOrderRun.h"
#include "batch/OutputNames.h"
#include "batch/Pipeline.h"
#include "batch/RunRecord.h"
#include "batch/TotalSize.h"
#include "base/Files.h"
#include "imaging/AlphaReducer.h"
#include "imaging/ColourProfile.h"
#include "imaging/Extended.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <optional>
#include <mutex>
#include <stdexcept>
#include <filesystem>

namespace pictavo {
namespace {

// The identities of the listed inputs that exist, each with its index.
std::map<FileIdentity, std::size_t> ListedIdentities(const std::string& inputFolder,
                                                    const std::vector<std::string>& names)
{
    std::map<FileIdentity, std::size_t> inputs;
    for (std::size_t i = 0; i < names.size(); ++i)
        if (const auto id = IdentityOf(InputPath(inputFolder, names[i]))) inputs.emplace(*id, i);
    return inputs;
}

// Refuses output `output` of input `i` when it is a listed input's file.
void CheckCollision(const std::map<FileIdentity, std::size_t>& inputs, const std::vector<std::string>& names,
                    std::size_t i, const std::string& outputFolder, const std::string& output)
{
    const auto id = IdentityOf(outputFolder + output);
    if (!id) return;
    const auto it = inputs.find(*id);
    if (it != inputs.end())
        throw ResizeError("The output " + outputFolder + output + " of " + names[i] +
                              " would replace the listed picture " + names[it->second] +
                              ". Nothing was written; choose another series name or output folder.",
                          names[i]);
}

}  // namespace

// No output may replace a listed input, its own included: that photo would
// be lost. Files are compared by identity, not by name, so no spelling of
// the folders (a trailing slash, "./.", a symbolic link) slips past. Names
// that hold the output's size are checked as each is written.
void CheckCollisions(const std::string& inputFolder, const std::vector<std::string>& names,
                     const std::string& outputFolder, const std::vector<std::string>& outputs)
{
    const std::map<FileIdentity, std::size_t> inputs = ListedIdentities(inputFolder, names);
    for (std::size_t i = 0; i < outputs.size(); ++i)
        if (!HasSizeFields(outputs[i])) CheckCollision(inputs, names, i, outputFolder, outputs[i]);
}

OutputSize TargetFor(int w, int h, TargetSize target)
{
    const double f = w > h ? ScaleFactor(target.width, w) : ScaleFactor(target.height, h);
    const auto side = [f](int s) { return static_cast<int>(std::max<std::int64_t>(RoundedProduct(s, f), 1)); };
    return {side(w), side(h)};
}

std::vector<ResizedOutput> ResizeEach(const BatchModel& model, const std::string& path, const std::string& name,
                                      DecodeWarnings* warnings)
{
    ReducedSizes reduced = ReduceEach(model, path, name, warnings);
    std::vector<ResizedOutput> outputs;
    for (WaitingOutput& output : reduced.outputs) {
        outputs.push_back({output.colour.width(), output.colour.height(),
                           EncodeOutput(model, output, reduced.header, model.quality())});
        output = {};
    }
    return outputs;
}

std::vector<std::uint8_t> ResizeOne(const BatchModel& model, const std::string& path, const std::string& name,
                                    DecodeWarnings* warnings)
{
    BatchModel one = model;
    one.moreSizes.clear();
    return std::move(ResizeEach(one, path, name, warnings).front().bytes);
}

std::vector<std::uint8_t> EncodeOutput(const BatchModel& model, const WaitingOutput& output,
                                       const PictureHeader& header, int quality)
{
    const auto encode = [&](int q) {
        return Encode(output.colour, header, q, model.output(), &output.metadata, output.alpha);
    };
    if (model.targetBytes == 0) return encode(quality);
    return FitQuality(encode, model.targetBytes, quality).bytes;
}

OutputSize OutputSizeOf(const ReductionPlan& plan)
{
    // A picture no larger than the target is copied, never enlarged.
    if (Reduction::Copies(plan)) return {Reduction::UprightWidth(plan), Reduction::UprightHeight(plan)};
    return {plan.targetWidth, plan.targetHeight};
}

std::vector<ReductionPlan> OutputPlans(const PictureHeader& header, const BatchModel& model)
{
    const bool alpha = header.alpha && model.output().alpha;
    std::vector<ReductionPlan> plans;
    for (const TargetSize target : model.targets()) {
        ReductionPlan plan = PlanFor(header, target, model.sharpen);
        plan.alpha = alpha;
        const OutputSize size = OutputSizeOf(plan);
        // Sizes that give the same output in this picture are made once.
        if (std::none_of(plans.begin(), plans.end(), [&](const ReductionPlan& p) {
                const OutputSize other = OutputSizeOf(p);
                return other.width == size.width && other.height == size.height;
            }))
            plans.push_back(plan);
    }
    return plans;
}

namespace {

// A picture opened with the memory for its whole resize held.
struct OpenedPicture {
    std::unique_ptr<PictureSource> source;
    MemoryReservation memory;
    std::vector<ReductionPlan> plans;
    std::vector<ResizedOutput> outputs;
    int factor = 1;
};

// Opens the picture and reserves what its resize needs. Without `wait` it
// takes memory only when it is free at once, and gives up (nothing) when it
// is not, holding nothing.
std::optional<OpenedPicture> OpenWithMemory(const BatchModel& model, const std::string& path, const std::string& name,
                                            bool encoderMemory, bool wait)
{
    const auto reserve = [wait](std::uint64_t bytes) -> std::optional<MemoryReservation> {
        if (wait) return MemoryReservation(bytes);
        return MemoryReservation::IfFree(bytes);
    };
    std::error_code unknown;  // a missing file fails in the reader, with its message
    const std::uintmax_t fileBytes = std::filesystem::file_size(path, unknown);
    std::optional<MemoryReservation> fileShare = reserve(unknown ? 0 : std::min<std::uint64_t>(fileBytes, MemoryBudget()));
    if (!fileShare) return std::nullopt;
    OpenedPicture opened;
    MemoryReservation& memory = opened.memory;
    memory = std::move(*fileShare);
    opened.source = OpenPicture(path, name, model.format);
    PictureSource& source = *opened.source;
    const PictureHeader& header = source.header();
    if (header.width == 0 && header.height == 0) throw EEmptyFile();
    if (!header.workFollowsData && std::uint64_t(header.width) * std::uint64_t(header.height) > model.maxPixels)
        throw EInvalidGraphic("The picture is " + std::to_string(header.width) + " x " + std::to_string(header.height) +
                              " pixels, more than the " + std::to_string(model.maxPixels) + " allowed");
    // Transparency is kept where the output has it; an opaque picture, or
    // one written as JPEG, comes composited over the background as before.
    const bool alpha = header.alpha && model.output().alpha;
    source.setDelivery({.keepAlpha = alpha, .background = model.background});
    opened.plans = OutputPlans(header, model);
    std::uint64_t need = 0, largestEncoder = 0;
    for (const ReductionPlan& plan : opened.plans) {
        // The decoder's share is counted once, and the encoder's: the sizes
        // are encoded one after another.
        const std::uint64_t encoder = model.output().memory(plan.targetWidth, plan.targetHeight);
        need += MemoryFor(header, plan, model.output()) - encoder - (opened.outputs.empty() ? 0 : header.decodeMemory);
        largestEncoder = std::max(largestEncoder, encoder);
        const OutputSize size = OutputSizeOf(plan);
        opened.outputs.push_back({size.width, size.height, {}});
    }
    if (encoderMemory) need += largestEncoder;
    opened.factor = model.fast ? DecodeFewerPixels(source, opened.plans) : 1;
    memory.release();  // what the header declares includes the file's bytes where they are held
    if (model.metadata != MetadataPolicy::None) need += MetadataMemory(source, path);
    std::optional<MemoryReservation> all = reserve(need);  // waiting, for other jobs to free enough
    if (!all) return std::nullopt;
    memory = std::move(*all);
    return opened;
}

}  // namespace

ReducedSizes ReduceEach(const BatchModel& model, const std::string& path, const std::string& name,
                        DecodeWarnings* warnings, bool encoderMemory)
{
    // Most decoders hold the whole file before they know what else they
    // need, so its bytes are reserved before it is read. A picture whose
    // share is free at once takes it without waiting; the others take turns,
    // so only one picture at a time holds part of its share while it waits
    // for the rest. The others hold all of theirs and will free it, so no
    // two jobs can wait on each other.
    static std::mutex opening;
    std::optional<OpenedPicture> opened = OpenWithMemory(model, path, name, encoderMemory, false);
    if (!opened) {
        const std::lock_guard oneAtATime(opening);
        opened = OpenWithMemory(model, path, name, encoderMemory, true);
    }
    PictureSource* const source = opened->source.get();
    const PictureHeader& header = source->header();
    const std::vector<ReductionPlan>& plans = opened->plans;
    const std::vector<ResizedOutput>& outputs = opened->outputs;
    const int factor = opened->factor;
    MemoryReservation& memory = opened->memory;
    std::vector<ReducedPicture> reduced = Reduce(*source, plans, factor);
    DecodeWarnings damage = source->warnings();
    const std::vector<std::uint8_t> profile = ProfileForRows(header.iccProfile, header.gray);
    ReducedSizes sizes{header, {}, std::move(memory)};
    for (std::size_t k = 0; k < plans.size(); ++k) {
        ConvertToSrgb(reduced[k].colour, profile);
        if (!reduced[k].alpha.empty() && model.output().lossy) FillUnderTransparency(reduced[k].colour, reduced[k].alpha);
        // Each output's metadata names its own pixel size; damage is told once.
        DecodeWarnings again;
        OutputMetadata metadata = ReadMetadata(*source, path, model.metadata, outputs[k].width, outputs[k].height,
                                               k == 0 ? damage : again);
        sizes.outputs.push_back({std::move(reduced[k].colour), std::move(reduced[k].alpha), std::move(metadata)});
    }
    if (warnings) *warnings = damage;
    return sizes;
}

// The names a picture's outputs get from `pattern`. Names that hold the
// output's size need the picture's header; none when it cannot be read.
std::vector<std::string> ExpectedOutputs(const BatchModel& model, const std::string& path, const std::string& name,
                                         const std::string& pattern)
{
    if (!HasSizeFields(pattern)) return {pattern};
    std::vector<std::string> made;
    try {
        const std::unique_ptr<PictureSource> source = OpenPicture(path, name, model.format);
        for (const ReductionPlan& plan : OutputPlans(source->header(), model)) {
            const OutputSize size = OutputSizeOf(plan);
            made.push_back(WithSize(pattern, size.width, size.height));
        }
    } catch (const std::exception&) {
        return {};  // read again, to fail with its message
    }
    return made;
}

void RunResize(BatchModel& model, const RunHooks& hooks, const RunOptions& options)
{
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
    const std::string key = SettingsKey(settings);
    std::map<std::string, RecordKeeper> keepers;  // by output folder, made when first needed
    // The record keeper of an output's folder, and the output's name there.
    const auto keeperOf = [&](const std::string& output) -> std::pair<RecordKeeper&, std::string> {
        const std::size_t slash = output.rfind('/');
        const std::string folder = outputFolder + output.substr(0, slash == std::string::npos ? 0 : slash + 1);
        auto it = keepers.find(folder);
        if (it == keepers.end()) it = keepers.emplace(folder, RecordKeeper(folder)).first;
        return {it->second, output.substr(slash == std::string::npos ? 0 : slash + 1)};
    };
    const auto inputPath = [&](int i) { return InputPath(settings.imageFolder, names[static_cast<std::size_t>(i)]); };

    // The pictures to work on: all, or with update those not up to date.
    std::vector<int> todo;
    for (int i = 0; i < count; ++i) {
        if (options.update) {
            std::string& output = outputs[static_cast<std::size_t>(i)];
            const std::vector<std::string> made = ExpectedOutputs(settings, inputPath(i), names[static_cast<std::size_t>(i)], output);
            if (!made.empty() && std::all_of(made.begin(), made.end(), [&](const std::string& one) {
                    const auto [keeper, name] = keeperOf(one);
                    return keeper.upToDate(name, inputPath(i), key);
                })) {
                output = made.front();  // the list shows the first
                if (hooks.progressChanged) hooks.progressChanged(i);
                if (hooks.upToDate) hooks.upToDate(i, output);
                continue;
            }
        }
        todo.push_back(i);
    }
    const int work = static_cast<int>(todo.size());
    std::vector<std::string> todoNames;
    for (const int i : todo) todoNames.push_back(names[static_cast<std::size_t>(i)]);

    // One slot a picture: each is written by the job that reads it.
    std::vector<DecodeWarnings> damage(names.size());
    std::vector<std::optional<RecordLine>> read(names.size());  // the input as it was before reading
    std::vector<std::vector<ResizedOutput>> results(names.size());
    const auto process = [&](int k) {
        const int i = todo[static_cast<std::size_t>(k)];
        const std::string& name = names[static_cast<std::size_t>(i)];
        const std::string path = inputPath(i);
        RecordLine line;
        if (ReadInputState(path, line)) read[static_cast<std::size_t>(i)] = std::move(line);
        results[static_cast<std::size_t>(i)] = ResizeEach(settings, path, name, &damage[static_cast<std::size_t>(i)]);
        return std::vector<std::uint8_t>();
    };
    const bool sizedNames = std::any_of(outputs.begin(), outputs.end(), HasSizeFields);
    std::map<FileIdentity, std::size_t> inputs;
    if (sizedNames) inputs = ListedIdentities(model.imageFolder, names);
    std::map<FileIdentity, std::size_t> written;  // files this run wrote
    // Outputs written whole and waiting to be put in place, a few at a time
    // when the records are long, so that saving them stays a small part of
    // the run: each save names the files about to be put in place.
    struct Staged {
        int index;
        StagedFile file;
        RecordKeeper* keeper;  // nullptr when the input could not be looked at
        std::string name;      // within the keeper's folder
        std::string output;    // within the output folder
        bool last;             // the picture's last size
    };
    std::vector<Staged> staged;
    std::size_t recordLines = 0;  // the longest record written to, roughly
    auto oldest = std::chrono::steady_clock::now();
    const auto drop = [&](std::size_t from) {
        for (std::size_t j = from; j < staged.size(); ++j)
            if (staged[j].keeper) staged[j].keeper->dropped(staged[j].name);
        while (staged.size() > from) staged.pop_back();
    };
    // Puts the staged outputs in place in list order. A failure is that
    // picture's: with keepGoing the others still go in, else they are dropped.
    const auto flush = [&] {
        for (Staged& s : staged)
            if (s.keeper) s.keeper->save(false);  // once a keeper: later calls find nothing new
        for (std::size_t j = 0; j < staged.size(); ++j) {
            Staged& s = staged[j];
            const std::size_t i = static_cast<std::size_t>(s.index);
            const std::string path = outputFolder + s.output;
            try {
                // Names told apart here may still meet in one file where the
                // file system ignores case (a memory card): never replace this
                // run's own.
                if (const auto id = IdentityOf(path, false))
                    if (const auto it = written.find(*id); it != written.end())
                        throw ResizeError(it->second == i ? "Two sizes of " + names[i] +
                                                                " would both be written to the one file " + path +
                                                                ": the name template does not tell them apart."
                                                          : names[it->second] + " and " + names[i] +
                                                                " would both be written to the one file " + path +
                                                                ": the output folder does not tell their names apart.",
                                          names[i]);
                s.file.commit();
            } catch (const std::exception& e) {
                if (s.keeper) s.keeper->dropped(s.name);
                if (!options.keepGoing) {
                    drop(j + 1);
                    staged.clear();  // with their temporaries
                    throw ResizeError(e, names[i]);
                }
                if (hooks.failed) hooks.failed(s.index, ResizeError(e, names[i]));
                continue;
            }
            if (s.keeper) s.keeper->committed(s.name);
            if (const auto id = IdentityOf(path, false)) written.emplace(*id, i);
            if (s.last) {
                if (hooks.progressChanged) hooks.progressChanged(s.index);
            }
            if (hooks.written) hooks.written(s.index, s.output);
            const DecodeWarnings& warnings = damage[i];
            if (s.last && warnings.count > 0 && hooks.damaged) hooks.damaged(s.index, names[i], warnings);
        }
        staged.clear();
    };
    const auto commit = [&](int k, const std::vector<std::uint8_t>&) {
        const int i = todo[static_cast<std::size_t>(k)];
        const std::vector<ResizedOutput> done = std::move(results[static_cast<std::size_t>(i)]);
        const std::string pattern = outputs[static_cast<std::size_t>(i)];
        for (const ResizedOutput& output : done) {
            const std::string name = WithSize(pattern, output.width, output.height);
            if (HasSizeFields(pattern)) CheckCollision(inputs, names, static_cast<std::size_t>(i), outputFolder, name);
            if (&output == &done.front()) outputs[static_cast<std::size_t>(i)] = name;  // the list shows the first
            if (const std::size_t slash = name.rfind('/'); slash != std::string::npos) {
                std::error_code ignored;  // a folder that cannot be made fails the write below
                std::filesystem::create_directories(outputFolder + name.substr(0, slash), ignored);
            }
            StagedFile file(outputFolder + name, output.bytes.data(), output.bytes.size(), name);
            const std::optional<RecordLine>& read_ = read[static_cast<std::size_t>(i)];
            const auto [keeper, bare] = keeperOf(name);
            if (read_) {
                RecordLine line = *read_;
                line.output = file.stamp();
                line.settings = key;
                std::error_code ec;
                const std::filesystem::path absolute = std::filesystem::absolute(inputPath(i), ec);
                line.inputPath = ec ? inputPath(i) : absolute.lexically_normal().string();
                keeper.staging(bare, line);
                recordLines = std::max(recordLines, keeper.lines());
            }
            if (staged.empty()) oldest = std::chrono::steady_clock::now();
            staged.push_back({i, std::move(file), read_ ? &keeper : nullptr, bare, name, &output == &done.back()});
        }
        // A save costs as much as the record is long: one a picture while it
        // is short, one every 16th of its length when it is long, so each
        // picture's share stays that of a short one (a sixteen-line record
        // costs about what making the temporary and renaming an output does),
        // and at least once a second.
        const std::size_t batch = std::clamp<std::size_t>(recordLines / 16, 1, 64);
        if (staged.size() >= batch || std::chrono::steady_clock::now() - oldest >= std::chrono::seconds(1)) flush();
    };
    const auto failed = [&](int k, const ResizeError& error) {
        flush();  // the pictures before it are told first
        if (hooks.failed) hooks.failed(todo[static_cast<std::size_t>(k)], error);
    };
    std::vector<std::uintmax_t> costs;
    std::vector<std::uint64_t> held;  // by the decoders, where the headers tell
    // Read ahead only when they decide the order: several jobs, costliest first.
    if (options.costliestFirst && options.jobs > 1 && work > 1) {
        for (const int i : todo) {
            // A card of thousands of files takes a while to look through.
            if (options.stop != nullptr && options.stop->load()) throw RunStopped();
            std::uint64_t memory = 0;
            costs.push_back(EstimatedCost(inputPath(i), names[static_cast<std::size_t>(i)], settings.format, &memory));
            held.push_back(memory);
        }
    } else {
        costs.assign(todo.size(), 0);
    }
    const int jobs = std::max(1, options.jobs);
    // Whatever ends the run, the records name what it wrote.
    const auto saveRecords = [&keepers] {
        for (auto& [folder, keeper] : keepers) keeper.save(true);
    };
    try {
        const FreedMemoryKept kept;
        // Room for what the pictures will hold at once, when every header told it.
        const bool allKnown = std::none_of(held.begin(), held.end(), [](std::uint64_t m) { return m == 0; });
        PrepareHeapForPictures(std::min(jobs, work), allKnown ? MemoryInFlightLimit(held, jobs) : 0);
        if (options.totalBytes > 0) {
            const auto reduce = [&](int k) {
                const int i = todo[static_cast<std::size_t>(k)];
                const std::string path = inputPath(i);
                RecordLine line;
                if (ReadInputState(path, line)) read[static_cast<std::size_t>(i)] = std::move(line);
                // Encoded later, under a reservation of their own, unless a
                // byte target is fitted at once.
                return ReduceEach(settings, path, names[static_cast<std::size_t>(i)], &damage[static_cast<std::size_t>(i)],
                                  settings.targetBytes > 0);
            };
            const auto encoded = [&](int k, std::vector<ResizedOutput> outputs) {
                results[static_cast<std::size_t>(todo[static_cast<std::size_t>(k)])] = std::move(outputs);
                commit(k, {});
            };
            RunWithinTotal(settings, todoNames, reduce, encoded, failed, hooks.qualityChosen, outputFolder, options,
                           costs);
        } else if (options.keepGoing)
            RunPastFailures(work, jobs, process, commit, todoNames, costs, failed, options.stop,
                            options.costliestFirst, held);
        else RunInListOrder(work, jobs, process, commit, todoNames, costs, options.stop, options.costliestFirst, held);
        flush();
    } catch (const RunStopped&) {
        drop(0);  // nothing more is put in place once stopped
        saveRecords();
        throw;
    } catch (...) {
        // The pictures before the one that failed are still put in place.
        try {
            flush();
        } catch (...) {
            saveRecords();
            throw;
        }
        saveRecords();
        throw;
    }
    saveRecords();
    if (work > 0) SyncFileSystemOf(outputFolder, outputs.back());

    model.names = outputs;
    if (hooks.beep) hooks.beep();
    if (hooks.progressChanged) hooks.progressChanged(0);
}

}  // namespace pictavo
