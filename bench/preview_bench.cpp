// Speed of what the window waits for, each beside what it replaces, in one run:
//   preview of a photograph decoded at a reduced scale  vs  decoded whole
//   the same for a progressive photograph
//   a run over a folder started in list order          vs  costliest first
// Run with --benchmark_repetitions=5 and compare medians.
// PICTAVO_PREVIEW_PHOTO and PICTAVO_PREVIEW_PROGRESSIVE name the photographs
// (default: made-up 6000 x 4000 pictures); PICTAVO_RUN_FOLDER names a folder
// of JPEGs for the run order (skipped without it).
#include "batch/FolderScan.h"
#include "batch/ResizeRun.h"
#include "base/Files.h"
#include "preview/PreviewDecode.h"
#include "codecs/jpeg/TJPEGImage.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>

namespace {

using namespace pictavo;

// The pane of the picture dialog, and three quarters of a 1600 x 1000 screen.
constexpr int PaneRoom = 236;
constexpr int WindowRoomWidth = 1190, WindowRoomHeight = 740;

std::string Photo(const char* variable, bool progressive)
{
    if (const char* env = std::getenv(variable)) return env;
    const std::string path = (std::filesystem::temp_directory_path() /
                              (progressive ? "pictavo-bench-p.jpg" : "pictavo-bench-b.jpg")).string();
    if (!std::filesystem::exists(path)) {
        Raster24 r;
        r.reset(6000, 4000, PixelFormat::Bgr24, std::nullopt);
        for (int y = 0; y < 4000; ++y)
            for (int x = 0; x < 18000; ++x) r.scanLine(y)[x] = static_cast<std::uint8_t>((x * 7 + y * 3 + (x * y >> 9)) & 0xFF);
        TJPEGImage jpeg;
        jpeg.takeRaster(r);
        jpeg.setProgressiveOutput(progressive);
        jpeg.saveToFile(path);
    }
    return path;
}

const std::string& Baseline() { static const std::string p = Photo("PICTAVO_PREVIEW_PHOTO", false); return p; }
const std::string& Progressive() { static const std::string p = Photo("PICTAVO_PREVIEW_PROGRESSIVE", true); return p; }

void FullDecode(benchmark::State& state, const std::string& path)
{
    for (auto _ : state) {
        TJPEGImage jpeg;
        jpeg.loadFromFile(path);
        Raster24 r;
        jpeg.decodeInto(r);
        benchmark::DoNotOptimize(r.scanLine(0));
    }
}

void ScaledDecode(benchmark::State& state, const std::string& path, int w, int h)
{
    for (auto _ : state) benchmark::DoNotOptimize(DecodePreview(path, w, h).width());
}

void BM_PreviewFullDecode(benchmark::State& s) { FullDecode(s, Baseline()); }
void BM_PreviewPane(benchmark::State& s) { ScaledDecode(s, Baseline(), PaneRoom, PaneRoom); }
void BM_PreviewWindow(benchmark::State& s) { ScaledDecode(s, Baseline(), WindowRoomWidth, WindowRoomHeight); }
void BM_ProgressiveFullDecode(benchmark::State& s) { FullDecode(s, Progressive()); }
void BM_ProgressivePane(benchmark::State& s) { ScaledDecode(s, Progressive(), PaneRoom, PaneRoom); }
BENCHMARK(BM_PreviewFullDecode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PreviewPane)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PreviewWindow)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ProgressiveFullDecode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ProgressivePane)->Unit(benchmark::kMillisecond);

// Arg 1: costliest first; 0: list order. Two jobs, as on this machine.
void BM_RunOrder(benchmark::State& state)
{
    const char* folder = std::getenv("PICTAVO_RUN_FOLDER");
    if (folder == nullptr) return state.SkipWithError("PICTAVO_RUN_FOLDER is not set");
    const std::filesystem::path out = std::filesystem::temp_directory_path() / "pictavo-bench-run";
    std::filesystem::create_directories(out);
    BatchModel scanned;
    ScanFolder(scanned, (std::filesystem::path(folder) / "any.jpg").string());
    for (auto _ : state) {
        BatchModel model = scanned;
        RunOptions options;
        options.jobs = 2;
        options.outputFolder = out.string() + "/";
        options.costliestFirst = state.range(0) == 1;
        RunResize(model, {}, options);
    }
    std::filesystem::remove_all(out);
}
BENCHMARK(BM_RunOrder)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
