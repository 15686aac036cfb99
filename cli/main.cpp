// pictavo: the resize run of the desktop program, for scripts and large folders.
#include "base/MemoryBudget.h"
#include "batch/FolderScan.h"
#include "batch/ResizeRun.h"
#include "cli/Options.h"
#include "cli/ProgressBar.h"
#include "cli/Signals.h"
#include "cli/Signals.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <thread>
#include <unistd.h>

using namespace pictavo;

namespace {

int Fail(const std::string& name, const std::string& message, const std::string& detail = {})
{
    // The system's own text first, then the cause the system or a library gave.
    const std::string shown = DisplayMessage(detail.empty() ? message : message + ": " + detail);
    if (name.empty()) std::fprintf(stderr, "pictavo: %s\n", shown.c_str());
    else std::fprintf(stderr, "pictavo: %s: %s\n", name.c_str(), shown.c_str());
    return 1;
}

int Fail(const std::string& name, const std::exception& error)
{
    std::fprintf(stderr, "pictavo: %s\n", CommandLineMessage(name, error).c_str());
    return 1;
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

}  // namespace

int main(int argc, char** argv)
{
    std::string error;
    const auto options = cli::Parse(std::vector<std::string>(argv + 1, argv + argc), error);
    if (!options) {
        std::fprintf(stderr, "pictavo: %s\n%s\n", error.c_str(), cli::Usage);
        return 2;
    }
    if (options->help) {
        std::printf("%s\n\n"
                    "Shrinks every JPEG (or BMP) picture in FOLDER so that its longer side meets the\n"
                    "chosen size and writes them as a numbered JPEG series: RurOdi01.jpg, RurOdi02.jpg...\n"
                    "Defaults: --format jpg --size 800x600 --quality 75 --series RurOdi, outputs into FOLDER\n"
                    "(--output DIR is made when missing). No output ever replaces a listed picture.\n"
                    "--memory-limit caps the memory of the whole run (K, M or G; default the smaller of\n"
                    "2G and half the physical memory): a picture that needs more than is free waits for\n"
                    "the others, one that needs more than the whole limit fails with \"Out of memory\".\n"
                    "Damaged pictures are written all the same, with a warning; --strict makes the run\n"
                    "fail (exit status 1) when any picture was damaged.\n",
                    cli::Usage);
        return 0;
    }
    if (options->version) {
        std::printf("pictavo %s\n", PICTAVO_VERSION);
        return 0;
    }

    cli::StopCleanlyOnSignals();
    if (options->memoryLimit) SetMemoryBudget(options->memoryLimit);
    std::error_code ec;
    if (!std::filesystem::is_directory(options->folder, ec)) return Fail(options->folder, "No such folder");
    RunOptions run;
    run.jobs = options->jobs > 0 ? options->jobs : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    if (!options->outputFolder.empty()) {
        // Made with its parents, as other tools' output folders are.
        std::filesystem::create_directories(options->outputFolder, ec);
        if (!std::filesystem::is_directory(options->outputFolder))
            return Fail(options->outputFolder, "Cannot create folder", ec.message());
        run.outputFolder = WithSlash(options->outputFolder);
    }

    BatchModel model = options->model;
    try {
        ScanFolderPath(model, WithSlash(options->folder));
    } catch (const Exception& e) {
        return Fail("", e);
    }
    const int total = static_cast<int>(model.names.size());
    if (total == 0) {
        if (!options->quiet)
            std::fprintf(stderr, "pictavo: no %s pictures in %s\n",
                         model.format == InputFormat::Jpeg ? "JPEG" : "BMP", options->folder.c_str());
        return 0;
    }

    const std::string outputFolder = run.outputFolder.empty() ? model.imageFolder : run.outputFolder;
    std::unique_ptr<cli::ProgressBar> bar;
    if (!options->quiet && isatty(STDERR_FILENO)) bar = std::make_unique<cli::ProgressBar>(stderr, total);
    RunHooks hooks;
    hooks.written = [&](int index, const std::string& name) {
        if (bar) bar->update(index + 1);
        else if (!options->quiet) std::printf("%s%s\n", outputFolder.c_str(), name.c_str());
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
    const std::string damage = damaged == 0 ? "" : ", " + std::to_string(damaged) + " of them damaged";
    if (bar) {
        bar->finish();
        std::fprintf(stderr, "%d pictures written to %s: %s ... %s%s\n", total, outputFolder.c_str(),
                     model.names.front().c_str(), model.names.back().c_str(), damage.c_str());
    } else if (damaged > 0) {
        std::fprintf(stderr, "pictavo: %d pictures written%s\n", total, damage.c_str());
    }
    return options->strict && damaged > 0 ? 1 : 0;
}
