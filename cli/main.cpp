// pictavo: the resize run of the desktop program, for scripts and large folders.
#include "base/MemoryBudget.h"
#include "batch/ByteTargets.h"
#include "batch/FolderScan.h"
#include "batch/InputList.h"
#include "batch/OutputNames.h"
#include "batch/ResizeRun.h"
#include "batch/RunRecord.h"
#include "codecs/OutputFormats.h"
#include "cli/Options.h"
#include "cli/ProgressBar.h"
#include "cli/Signals.h"
#include "cli/Signals.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <filesystem>
#include <memory>
#include <thread>
#include <unistd.h>

using namespace pictavo;

namespace {

int Fail(const std::string& name, const std::exception& error)
{
    std::fprintf(stderr, "pictavo: %s\n", CommandLineMessage(name, error).c_str());
    return 1;
}

// A failure of the tool's own, worded as the engine's are.
int Fail(const std::string& name, const std::string& message, const std::string& detail = {})
{
    Exception error(message);
    error.setDetail(detail);
    return Fail(name, error);
}


std::string WarningLine(const std::string& input, const DecodeWarnings& warnings)
{
    const std::string text = warnings.text.empty() ? "damaged data" : warnings.text;
    return "pictavo: " + input + ": warning: " + text + " (" + std::to_string(warnings.count) +
           (warnings.count == 1 ? " warning)" : " warnings)");
}

std::string WithSlash(std::string folder)
{
    if (!folder.empty() && folder.back() != '/') folder += '/';
    return folder;
}

// A name on a line of INPUT<tab>OUTPUT, so that any name reads back.
std::string Escaped(const std::string& name)
{
    std::string out;
    for (const char c : name) {
        if (c == '\\') out += "\\\\";
        else if (c == '\t') out += "\\t";
        else if (c == '\n') out += "\\n";
        else out += c;
    }
    return out;
}

// Whether files of `folder` were left out of the list as earlier outputs.
bool HoldsEarlierOutputs(const std::string& folder)
{
    const Record record = ReadRecord(folder);
    return std::any_of(record.begin(), record.end(),
                       [&](const auto& entry) { return MatchingLine(record, folder, entry.first) != nullptr; });
}

// Fills model.names and model.imageFolder as the options say.
void ListPictures(const cli::Options& options, BatchModel& model, const std::string& outputFolder)
{
    if (options.recursive) return ScanTree(model, options.folder, outputFolder);
    if (options.filesFrom.empty()) return ScanFolderPath(model, WithSlash(options.folder));
    std::ifstream file;
    if (options.filesFrom != "-") {
        file.open(options.filesFrom);
        if (!file) throw EFOpenError(options.filesFrom, options.filesFrom, std::strerror(errno));
    }
    std::istream& in = options.filesFrom == "-" ? std::cin : file;
    model.imageFolder = WithSlash(options.folder);
    model.names = ReadNameList(in);
    if (in.bad()) {
        EReadError error;
        error.setPath(options.filesFrom).setDetail(std::strerror(errno));
        throw error;
    }
    DropEarlierOutputs(model.imageFolder, model.names);
}

}  // namespace

int main(int argc, char** argv)
{
    std::string error;
    const auto options = cli::Parse(std::vector<std::string>(argv + 1, argv + argc), error);
    if (!options) {
        std::fprintf(stderr, "pictavo: %s\n%s\nTry 'pictavo --help' for more information.\n", error.c_str(),
                     cli::Usage);
        return 2;
    }
    if (options->help || options->version) {
        std::fputs(options->help ? cli::HelpText().c_str() : cli::VersionText(PICTAVO_VERSION).c_str(), stdout);
        return 0;
    }

    if (options->qualityGiven && !options->model.output().lossy && !options->quiet)
        std::fprintf(stderr, "pictavo: %s is lossless: --quality is ignored\n", options->model.output().title);
    cli::StopCleanlyOnSignals();
    if (options->memoryLimit) SetMemoryBudget(options->memoryLimit);
    std::error_code ec;
    if (!std::filesystem::is_directory(options->folder, ec)) return Fail(options->folder, "No such folder");
    RunOptions run;
    run.jobs = options->jobs > 0 ? options->jobs : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    if (!options->outputFolder.empty()) run.outputFolder = WithSlash(options->outputFolder);

    std::unique_ptr<cli::ProgressBar> bar;
    SetRecordWarnings([&bar, quiet = options->quiet](const std::string& warning) {
        if (bar) bar->note("pictavo: " + warning);
        else if (!quiet) std::fprintf(stderr, "pictavo: %s\n", warning.c_str());
    });
    BatchModel model = options->model;
    try {
        ListPictures(*options, model, run.outputFolder);
    } catch (const Exception& e) {
        return Fail("", e);
    }
    if (model.names.empty()) {
        if (!options->quiet && !options->filesFrom.empty())
            std::fprintf(stderr, "pictavo: no pictures listed in %s\n", options->filesFrom.c_str());
        else if (const PictureKind* kind = KindOfFormat(model.format); !options->quiet)
            std::fprintf(stderr, "pictavo: no %spictures in %s%s\n", kind ? (kind->name + " ").c_str() : "",
                         options->folder.c_str(),
                         !HoldsEarlierOutputs(model.imageFolder)
                             ? ""
                             : " but outputs of earlier runs, which its record .pictavo.record names (without "
                               "the record they are pictures)");
        return 0;
    }

    const std::string outputFolder = run.outputFolder.empty() ? model.imageFolder : run.outputFolder;
    // Names and collisions are checked over the whole list, so every shard
    // refuses what one run would refuse.
    try {
        const std::vector<std::string> outputs =
            NameOutputs(options->nameTemplate, model.series, model.names, options->recursive, model.output().extension,
                        static_cast<int>(model.targets().size()));
        CheckCollisions(model.imageFolder, model.names, outputFolder, outputs);
        const std::vector<std::string> all = std::move(model.names);
        model.names.clear();
        for (const int i : ShardIndices(static_cast<int>(all.size()), options->shard, options->shards)) {
            model.names.push_back(all[static_cast<std::size_t>(i)]);
            run.outputs.push_back(outputs[static_cast<std::size_t>(i)]);
        }
    } catch (const ResizeError& e) {
        return Fail(e.input(), e);
    }
    const int total = static_cast<int>(model.names.size());
    if (total == 0) return 0;  // a shard beyond the list's end
    if (!options->outputFolder.empty()) {
        // Made with its parents, as other tools' output folders are, once
        // the names are known to be sound.
        std::filesystem::create_directories(options->outputFolder, ec);
        if (!std::filesystem::is_directory(options->outputFolder))
            return Fail(options->outputFolder, "Cannot create folder", ec.message());
    }
    run.keepGoing = options->keepGoing;
    run.update = options->update;
    run.totalBytes = options->totalSize;
    if (!options->quiet && isatty(STDERR_FILENO)) bar = std::make_unique<cli::ProgressBar>(stderr, total);
    // A script reading the output learns which input became which output.
    const bool pairs = !options->quiet && !isatty(STDOUT_FILENO);
    if (pairs) std::setvbuf(stdout, nullptr, _IOLBF, 0);  // each line out as soon as its file is whole
    const std::vector<std::string> inputs = model.names;  // the run puts the outputs in their place
    int written = 0, failed = 0, upToDate = 0, lastWritten = -1;
    RunHooks hooks;
    hooks.written = [&](int index, const std::string& name) {
        if (index != lastWritten) ++written;  // pictures, not the files of their sizes
        lastWritten = index;
        if (bar) bar->update(written + failed + upToDate);
        if (pairs) {
            const std::string& input = inputs[static_cast<std::size_t>(index)];
            std::printf("%s\t%s\n", Escaped(InputPath(model.imageFolder, input)).c_str(),
                        Escaped(outputFolder + name).c_str());
        } else if (!bar && !options->quiet) std::printf("%s%s\n", outputFolder.c_str(), name.c_str());
    };
    hooks.upToDate = [&](int, const std::string&) {
        ++upToDate;
        if (bar) bar->update(written + failed + upToDate);
    };
    hooks.failed = [&](int, const ResizeError& e) {
        ++failed;
        if (bar) bar->note("pictavo: " + CommandLineMessage(e.input(), e));
        else Fail(e.input(), e);
        if (bar) bar->update(written + failed + upToDate);
    };
    hooks.qualityChosen = [&](int quality, std::uint64_t bytes) {
        if (options->quiet) return;
        const std::string line = "pictavo: quality " + std::to_string(quality) + ": the outputs take " +
                                 SizeText(bytes) + " of " + SizeText(options->totalSize);
        if (bar) return bar->note(line);
        std::fflush(stdout);
        std::fprintf(stderr, "%s\n", line.c_str());
    };
    // Damaged pictures are written all the same, and said so once each.
    int damaged = 0;
    hooks.damaged = [&](int, const std::string& input, const DecodeWarnings& warnings) {
        ++damaged;
        if (bar) return bar->note(WarningLine(input, warnings));
        std::fflush(stdout);  // after the name of the output it concerns
        std::fprintf(stderr, "%s\n", WarningLine(input, warnings).c_str());
    };
    try {
        RunResize(model, hooks, run);
    } catch (const ResizeError& e) {
        if (bar) bar->finish();
        return Fail(e.input(), e);
    } catch (const std::exception& e) {
        if (bar) bar->finish();
        return Fail("", e);
    }
    if (bar) bar->finish();
    const std::string damage = damaged == 0 ? "" : ", " + std::to_string(damaged) + " of them damaged";
    const std::string current = options->update ? ", " + std::to_string(upToDate) + " up to date" : "";
    if (failed > 0) {
        std::fprintf(stderr, "%d written%s, %d failed%s\n", written, current.c_str(), failed, damage.c_str());
        return 1;
    }
    if (options->update) {
        if (!options->quiet) std::fprintf(stderr, "%d written, %d up to date%s\n", written, upToDate, damage.c_str());
        return options->strict && damaged > 0 ? 1 : 0;
    }
    if (bar)
        std::fprintf(stderr, "%d pictures written to %s: %s ... %s%s\n", total, outputFolder.c_str(),
                     model.names.front().c_str(), model.names.back().c_str(), damage.c_str());
    else if (damaged > 0)
        std::fprintf(stderr, "pictavo: %d pictures written%s\n", total, damage.c_str());
    return options->strict && damaged > 0 ? 1 : 0;
}
