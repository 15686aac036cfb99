// The resize run: every listed picture read, reduced to the chosen size,
// optionally sharpened and written as the next JPEG of the series.
#pragma once

#include "batch/Model.h"
#include "batch/ResizeError.h"
#include "codecs/PictureSource.h"
#include "base/Errors.h"
#include "base/MemoryBudget.h"
#include "imaging/Raster24.h"
#include "imaging/Reduction.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace pictavo {

struct RunHooks {
    std::function<void()> beep;
    // The list index a progress bar shows: each picture's once it is
    // written (or found up to date), and 0 when the run ends.
    std::function<void(int position)> progressChanged;
    // After output `index` was written as `name`: once for each of its sizes.
    std::function<void(int index, const std::string& name)> written;
    // After output `index` was written from the listed `input` that the
    // decoder found damaged: the picture is written all the same.
    std::function<void(int index, const std::string& input, const DecodeWarnings& warnings)> damaged;
    // With update: output `index` was left as it was, being up to date.
    std::function<void(int index, const std::string& name)> upToDate;
    // With keepGoing: output `index` failed and was skipped.
    std::function<void(int index, const ResizeError& error)> failed;
    // With totalBytes: the quality every output is written at, and their
    // bytes together, before the first is written.
    std::function<void(int quality, std::uint64_t bytes)> qualityChosen;
};

struct RunOptions {
    // Pictures decoded and reduced at once; results are still written one
    // by one in list order, so the files are those of a run with 1.
    int jobs = 1;
    // Where outputs go; imageFolder when empty.
    std::string outputFolder;
    // The output name of each listed picture, relative to the output folder
    // (see NameOutputs); the numbered series when empty.
    std::vector<std::string> outputs;
    // Go on past a failing picture; its output is skipped, the others keep
    // their names.
    bool keepGoing = false;
    // When set and true, no further picture is started or written; pictures
    // in flight are abandoned and dropped, and the run leaves with RunStopped.
    // Outputs written before stay whole; nothing partial is left.
    const std::atomic<bool>* stop = nullptr;
    // Leave an output as it is when the record of its folder says it was
    // made from the same input file, unchanged, with the same settings, and
    // it has not changed since. Numbers and names stay the whole list's.
    bool update = false;
    // Start the costliest picture of the look-ahead window first (best
    // throughput), or start them in list order (steadier progress).
    bool costliestFirst = true;
    // When set, all outputs together are at most this many bytes, all at the
    // highest quality up to the model's that fits. Reduced pictures wait
    // under the memory budget, or in one temporary file in the output folder.
    std::uint64_t totalBytes = 0;
};

// The size of the reduced picture for a w x h source: the longer side meets
// the target (the width when w > h), the other is Round(side * f), and a side
// that rounds to 0 becomes 1.
struct OutputSize {
    int width;
    int height;
};
OutputSize TargetFor(int w, int h, TargetSize target);

// The plans of a picture's outputs, in the order of model.targets(), one a
// distinct output size, and the size each output comes out at.
std::vector<ReductionPlan> OutputPlans(const PictureHeader& header, const BatchModel& model);
OutputSize OutputSizeOf(const ReductionPlan& plan);

// Reads `path` in the model's format, reduces and encodes it: the bytes of
// its output file. Errors name the file as `name`. The damage the decoder
// read past goes to `warnings` when given.
std::vector<std::uint8_t> ResizeOne(const BatchModel& model, const std::string& path, const std::string& name,
                                    DecodeWarnings* warnings = nullptr);

// One output of a picture: its size and its file's bytes.
struct ResizedOutput {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> bytes;
};

// The outputs of `path` at every size of model.targets(), from one decode,
// in that order; sizes that come out the same in this picture give one
// output. Each is the file a run at that size alone writes.
std::vector<ResizedOutput> ResizeEach(const BatchModel& model, const std::string& path, const std::string& name,
                                      DecodeWarnings* warnings = nullptr);

// One size of a picture, reduced and in sRGB, waiting to be encoded: its
// colour, its alpha when kept, and the metadata its file gets.
struct WaitingOutput {
    Raster24 colour;
    std::vector<std::uint8_t> alpha;
    OutputMetadata metadata;
};
// The first half of ResizeEach: the picture reduced to each of its sizes,
// the header it came with, and the memory held for them until encoded,
// including the encoder's when `encoderMemory`.
struct ReducedSizes {
    PictureHeader header;
    std::vector<WaitingOutput> outputs;
    MemoryReservation memory;
};
ReducedSizes ReduceEach(const BatchModel& model, const std::string& path, const std::string& name,
                        DecodeWarnings* warnings = nullptr, bool encoderMemory = true);
// The second half, for one size: the output's bytes at `quality`, or within
// the model's byte target at the highest quality up to `quality` that fits.
std::vector<std::uint8_t> EncodeOutput(const BatchModel& model, const WaitingOutput& output,
                                       const PictureHeader& header, int quality);

// Refuses (ResizeError) before anything is written when an output would
// replace a listed input, its own included. Files are compared by identity.
void CheckCollisions(const std::string& inputFolder, const std::vector<std::string>& names,
                     const std::string& outputFolder, const std::vector<std::string>& outputs);

// The whole run over model.names. Before anything is written it stops with
// a ResizeError when the series name would leave the folder or an output
// would overwrite another listed input. A failing picture ends the run
// there: earlier outputs stay, the list keeps the input names. A stop
// request ends it the same way, with RunStopped. Each output folder keeps
// the record of what the run wrote there (see RecordKeeper).
void RunResize(BatchModel& model, const RunHooks& hooks = {}, const RunOptions& options = {});

}  // namespace pictavo
