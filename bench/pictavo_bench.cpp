// Speed of the engine's parts, each beside the reference it is judged by, in
// one run:
//   reduction of 6000 x 4000 to 800 x 533   vs  libjpeg decoding 6000 x 4000 (float IDCT)
//   TJPEGImage decoding a photograph        vs  the same library calls made directly
//   TJPEGImage encoding 800 x 533           vs  the same library calls made directly
//   loading a 6000 x 4000 24-bit BMP        vs  reading the file's bytes
//   a run over photos tagged Adobe RGB      vs  the same photos untagged (and tagged sRGB)
//   each part of a small picture's resize   vs  the whole of it
// Run with --benchmark_repetitions=5 and compare medians (bench/ratios.py).
// PICTAVO_PHOTO names the photograph (default: a Plasma wallpaper, else a
// made-up picture).
#include "batch/Pipeline.h"
#include "batch/ResizeRun.h"
#include "codecs/bmp/BmpReader.h"
#include "base/Files.h"
#include "base/FreedMemory.h"
#include "base/MemoryBudget.h"
#include "codecs/jpeg/TJPEGImage.h"
#include "imaging/ColourProfile.h"
#include "imaging/Reduction.h"

#include <benchmark/benchmark.h>
#include <jpeglib.h>

#include <algorithm>
#include <cmath>
#include <utility>
#include <cstdlib>
#include <filesystem>
#include <random>

namespace {

using namespace pictavo;

// A picture with smooth shading and fine noise, roughly as hard to code as a photograph.
Raster24 MadeUpPhoto(int w, int h)
{
    Raster24 r;
    r.reset(w, h, PixelFormat::Bgr24, 0);
    std::mt19937 rng(1);
    for (int y = 0; y < h; ++y) {
        std::uint8_t* row = r.scanLine(y);
        for (int x = 0; x < w; ++x) {
            const int noise = static_cast<int>(rng() % 24);
            row[3 * x] = static_cast<std::uint8_t>(128 + 100 * std::sin(x / 300.0) * std::cos(y / 500.0) + noise / 2);
            row[3 * x + 1] = static_cast<std::uint8_t>((x * 255 / w + noise) & 0xFF);
            row[3 * x + 2] = static_cast<std::uint8_t>((y * 255 / h + noise) & 0xFF);
        }
    }
    return r;
}

const std::vector<std::uint8_t>& BigJpeg()
{
    static const std::vector<std::uint8_t> bytes = [] {
        TJPEGImage jpeg;
        jpeg.takeRaster(MadeUpPhoto(6000, 4000));
        jpeg.setEncodeQuality(90);
        return jpeg.encodedBytes();
    }();
    return bytes;
}

const std::vector<std::uint8_t>& Photo()
{
    static const std::vector<std::uint8_t> bytes = [] {
        const char* env = std::getenv("PICTAVO_PHOTO");
        const std::string path = env ? env : "/usr/share/wallpapers/Flow/contents/images/5120x2880.jpg";
        if (std::filesystem::exists(path)) return ReadWholeFile(path, path);
        return BigJpeg();
    }();
    return bytes;
}

// libjpeg's own decoding with the float IDCT into one row buffer, as djpeg does.
void DecodeDirect(const std::vector<std::uint8_t>& bytes)
{
    jpeg_decompress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, bytes.data(), bytes.size());
    jpeg_read_header(&cinfo, TRUE);
    cinfo.dct_method = JDCT_FLOAT;
    cinfo.out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(&cinfo);
    std::vector<JSAMPLE> out(static_cast<std::size_t>(cinfo.output_width) * 3 * cinfo.output_height);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = out.data() + static_cast<std::size_t>(cinfo.output_scanline) * cinfo.output_width * 3;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    benchmark::DoNotOptimize(out.data());
}

void BM_LibjpegDecodeFloat6000x4000(benchmark::State& state)
{
    for (auto _ : state) DecodeDirect(BigJpeg());
}
BENCHMARK(BM_LibjpegDecodeFloat6000x4000)->Unit(benchmark::kMillisecond);

// The reduction alone, for a camera photograph, a wallpaper and a small
// picture halved; the second argument sharpens.
struct ReduceCase {
    int width, height, targetWidth, targetHeight;
};
constexpr ReduceCase ReduceCases[] = {{6000, 4000, 800, 533}, {2560, 1600, 800, 500}, {640, 480, 320, 240}};

void BM_Reduce(benchmark::State& state)
{
    const ReduceCase& c = ReduceCases[state.range(0)];
    Raster24 source = MadeUpPhoto(c.width, c.height);
    source.make24Bit();
    const Raster24& rows = source;
    for (auto _ : state) {
        Reduction reduction({.width = c.width, .height = c.height, .targetWidth = c.targetWidth,
                             .targetHeight = c.targetHeight, .sharpen = state.range(1) != 0});
        for (int r = 0; r < c.height && !reduction.done(); ++r) reduction.addRow(rows.scanLine(r));
        Raster24 destination = reduction.finish();
        benchmark::DoNotOptimize(destination.scanLine(0));
    }
    state.SetLabel(std::to_string(c.width) + "x" + std::to_string(c.height) + " to " + std::to_string(c.targetWidth) +
                   "x" + std::to_string(c.targetHeight));
}
BENCHMARK(BM_Reduce)->ArgsProduct({{0, 1, 2}, {0, 1}})->Unit(benchmark::kMillisecond);

void BM_PhotoDecodeDirect(benchmark::State& state)
{
    for (auto _ : state) DecodeDirect(Photo());
}
BENCHMARK(BM_PhotoDecodeDirect)->Unit(benchmark::kMillisecond);

void BM_PhotoDecodeTJPEGImage(benchmark::State& state)
{
    for (auto _ : state) {
        TJPEGImage jpeg;
        jpeg.loadFromBytes(Photo());
        Raster24 r;
        jpeg.decodeInto(r);
        benchmark::DoNotOptimize(std::as_const(r).scanLine(0));  // reading shares, writing would copy
    }
}
BENCHMARK(BM_PhotoDecodeTJPEGImage)->Unit(benchmark::kMillisecond);

const Raster24& Small()
{
    static const Raster24 r = MadeUpPhoto(800, 533);
    return r;
}

void BM_Encode800x533Direct(benchmark::State& state)
{
    for (auto _ : state) {
        jpeg_compress_struct cinfo{};
        jpeg_error_mgr err{};
        cinfo.err = jpeg_std_error(&err);
        jpeg_create_compress(&cinfo);
        unsigned char* out = nullptr;
        unsigned long size = 0;
        jpeg_mem_dest(&cinfo, &out, &size);
        cinfo.image_width = 800;
        cinfo.image_height = 533;
        cinfo.input_components = 3;
        cinfo.in_color_space = JCS_EXT_BGR;
        jpeg_set_defaults(&cinfo);
        cinfo.dct_method = JDCT_FLOAT;
        jpeg_set_quality(&cinfo, 75, TRUE);
        jpeg_start_compress(&cinfo, TRUE);
        while (cinfo.next_scanline < cinfo.image_height) {
            JSAMPROW row = const_cast<JSAMPROW>(Small().scanLine(static_cast<int>(cinfo.next_scanline)));
            jpeg_write_scanlines(&cinfo, &row, 1);
        }
        jpeg_finish_compress(&cinfo);
        jpeg_destroy_compress(&cinfo);
        benchmark::DoNotOptimize(out);
        std::free(out);
    }
}
BENCHMARK(BM_Encode800x533Direct)->Unit(benchmark::kMillisecond);

void BM_Encode800x533TJPEGImage(benchmark::State& state)
{
    for (auto _ : state) {
        TJPEGImage jpeg;
        jpeg.takeRaster(Small());
        jpeg.setEncodeQuality(75);
        benchmark::DoNotOptimize(jpeg.encodedBytes().data());
    }
}
BENCHMARK(BM_Encode800x533TJPEGImage)->Unit(benchmark::kMillisecond);

const std::string& BigBmp()
{
    static const std::string path = [] {
        const std::string p = (std::filesystem::temp_directory_path() / "pictavo-bench-6000x4000.bmp").string();
        if (!std::filesystem::exists(p)) {
            const Raster24 r = MadeUpPhoto(6000, 4000);
            std::vector<std::uint8_t> file(54, 0);
            const std::uint32_t rowBytes = 18000, size = rowBytes * 4000;
            auto put = [&](std::size_t at, std::uint32_t v, int n) {
                for (int i = 0; i < n; ++i) file[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
            };
            file[0] = 'B';
            file[1] = 'M';
            put(2, 54 + size, 4);
            put(10, 54, 4);
            put(14, 40, 4);
            put(18, 6000, 4);
            put(22, 4000, 4);
            put(26, 1, 2);
            put(28, 24, 2);
            for (int y = 3999; y >= 0; --y) file.insert(file.end(), r.scanLine(y), r.scanLine(y) + rowBytes);
            WriteFileAtomically(p, file.data(), file.size(), p);
        }
        return p;
    }();
    return path;
}

void BM_BmpReadBytes6000x4000(benchmark::State& state)
{
    for (auto _ : state) benchmark::DoNotOptimize(ReadWholeFile(BigBmp(), BigBmp()).data());
}
BENCHMARK(BM_BmpReadBytes6000x4000)->Unit(benchmark::kMillisecond);

void BM_BmpLoad6000x4000(benchmark::State& state)
{
    for (auto _ : state) {
        Raster24 r;
        LoadBitmapFile(r, BigBmp());
        r.make24Bit();
        benchmark::DoNotOptimize(r.scanLine(0));
    }
}
BENCHMARK(BM_BmpLoad6000x4000)->Unit(benchmark::kMillisecond);

// The largest JPEG of each wallpaper, up to 18, re-tagged with one profile
// (or none) so that the arms differ only in it.
std::vector<std::uint8_t> Retagged(const std::vector<std::uint8_t>& jpeg, const std::vector<std::uint8_t>& icc)
{
    static const std::string Tag("ICC_PROFILE", 12);
    std::vector<std::uint8_t> out(jpeg.begin(), jpeg.begin() + 2);
    if (!icc.empty()) {
        const std::size_t length = 2 + Tag.size() + 2 + icc.size();
        out.insert(out.end(), {0xFF, 0xE2, static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length)});
        out.insert(out.end(), Tag.begin(), Tag.end());
        out.insert(out.end(), {1, 1});
        out.insert(out.end(), icc.begin(), icc.end());
    }
    std::size_t i = 2;
    while (i + 4 <= jpeg.size() && jpeg[i] == 0xFF && jpeg[i + 1] != 0xDA) {
        const std::size_t length = jpeg[i + 2] << 8 | jpeg[i + 3];
        const bool profile = jpeg[i + 1] == 0xE2 && length >= 2 + Tag.size() &&
                             std::equal(Tag.begin(), Tag.end(), jpeg.begin() + static_cast<long>(i + 4));
        if (!profile) out.insert(out.end(), jpeg.begin() + static_cast<long>(i), jpeg.begin() + static_cast<long>(i + 2 + length));
        i += 2 + length;
    }
    out.insert(out.end(), jpeg.begin() + static_cast<long>(i), jpeg.end());
    return out;
}

const std::vector<std::string>& Wallpapers(int arm)
{
    static const std::vector<std::vector<std::string>> sets = [] {
        namespace fs = std::filesystem;
        std::vector<fs::path> photos;
        std::error_code ec;
        for (const auto& folder : fs::directory_iterator("/usr/share/wallpapers", ec)) {
            fs::path largest;
            for (const auto& f : fs::recursive_directory_iterator(folder.path(), ec))
                if (f.path().extension() == ".jpg" &&
                    (largest.empty() || fs::file_size(f.path()) > fs::file_size(largest)))
                    largest = f.path();
            if (!largest.empty()) photos.push_back(largest);
        }
        std::sort(photos.begin(), photos.end());
        if (photos.size() > 18) photos.resize(18);
        const char* profiles[] = {"", "/usr/share/color/icc/colord/sRGB.icc", "/usr/share/color/icc/colord/AdobeRGB1998.icc"};
        std::vector<std::vector<std::string>> arms(3);
        for (int a = 0; a < 3; ++a) {
            const std::vector<std::uint8_t> icc = *profiles[a] && fs::exists(profiles[a])
                ? ReadWholeFile(profiles[a], profiles[a]) : std::vector<std::uint8_t>();
            const fs::path folder = fs::temp_directory_path() / ("pictavo-bench-photos-" + std::to_string(a));
            fs::create_directories(folder);
            for (std::size_t k = 0; k < photos.size(); ++k) {
                const std::string path = (folder / (std::to_string(k) + ".jpg")).string();
                const std::vector<std::uint8_t> bytes = Retagged(ReadWholeFile(photos[k], photos[k]), icc);
                WriteFileAtomically(path, bytes.data(), bytes.size(), path);
                arms[static_cast<std::size_t>(a)].push_back(path);
            }
        }
        return arms;
    }();
    return sets[static_cast<std::size_t>(arm)];
}

// The run over the photos at "800 x 600": untagged (0), tagged sRGB (1),
// tagged Adobe RGB, so converted (2).
void BM_PhotoRun(benchmark::State& state)
{
    const std::vector<std::string>& photos = Wallpapers(static_cast<int>(state.range(0)));
    if (photos.empty()) return state.SkipWithError("no wallpapers in /usr/share/wallpapers");
    BatchModel model;
    for (auto _ : state)
        for (const std::string& path : photos) benchmark::DoNotOptimize(ResizeOne(model, path, path).data());
    state.counters["photos"] = static_cast<double>(photos.size());
}
BENCHMARK(BM_PhotoRun)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

// The colour step alone on a reduced picture: no profile, sRGB, Adobe RGB.
void BM_ColourStep800x533(benchmark::State& state)
{
    const char* profiles[] = {"", "/usr/share/color/icc/colord/sRGB.icc", "/usr/share/color/icc/colord/AdobeRGB1998.icc"};
    const char* file = profiles[state.range(0)];
    const std::vector<std::uint8_t> icc =
        *file && std::filesystem::exists(file) ? ReadWholeFile(file, file) : std::vector<std::uint8_t>();
    for (auto _ : state) {
        Raster24 picture = Small();
        ConvertToSrgb(picture, icc);
        benchmark::DoNotOptimize(std::as_const(picture).scanLine(0));
    }
}
BENCHMARK(BM_ColourStep800x533)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

// A photograph of 640 pixels across, as a camera's small size or a web
// page's picture: the wallpaper cut down (else the made-up picture), written
// again as a baseline JPEG, as cameras write, so that its output is too.
const std::string& SmallPhoto()
{
    static const std::string path = [] {
        const std::string p = (std::filesystem::temp_directory_path() / "pictavo-bench-small.jpg").string();
        const std::string big = (std::filesystem::temp_directory_path() / "pictavo-bench-big.jpg").string();
        WriteFileAtomically(big, Photo().data(), Photo().size(), big);
        BatchModel model;
        model.sizeIndex = 2;     // "640 x 480"
        model.qualityIndex = 0;  // "90%", as a camera writes
        TJPEGImage progressive;
        progressive.loadFromBytes(ResizeOne(model, big, big));
        Raster24 pixels;
        progressive.decodeInto(pixels);
        TJPEGImage baseline;
        baseline.takeRaster(pixels);
        baseline.setEncodeQuality(90);
        const std::vector<std::uint8_t>& bytes = baseline.encodedBytes();
        WriteFileAtomically(p, bytes.data(), bytes.size(), p);
        return p;
    }();
    return path;
}

// What one small picture's resize to "320 x 240" costs beyond its decode,
// part by part. Parts 1 to 3 each include the one before, so the decode and
// the reduction are differences; the others stand alone.
//   0 the whole resize, file to output bytes (ResizeOne)
//   1 opening the file and reading its header
//   2 ... and decoding every row, the floor's share
//   3 ... and reducing them
//   4 the colour step on the reduced picture, the profile looked up
//   5 encoding the reduced picture
//   6 writing the output beside its name and renaming it into place
//   7 reserving the picture's memory and handing it back
void BM_SmallPicturePart(benchmark::State& state)
{
    const int part = static_cast<int>(state.range(0));
    static const char* labels[] = {"whole resize", "open and header", "+ decode", "+ reduce",
                                   "colour step", "encode", "write and rename", "memory reservation"};
    state.SetLabel(labels[part]);
    const std::string& path = SmallPhoto();
    BatchModel model;
    model.sizeIndex = 4;  // "320 x 240"
    const std::unique_ptr<PictureSource> opened = OpenPicture(path, path, InputFormat::Jpeg);
    const PictureHeader header = opened->header();
    const std::vector<ReductionPlan> plans = OutputPlans(header, model);
    const Raster24 reduced = Reduce(*opened, plans).front().colour;
    const std::vector<std::uint8_t> bytes = Encode(reduced, header, 75);
    const std::string output = (std::filesystem::temp_directory_path() / "pictavo-bench-output.jpg").string();
    const FreedMemoryKept kept;  // as in a run: freed memory serves the next picture
    for (auto _ : state) {
        switch (part) {
        case 0: benchmark::DoNotOptimize(ResizeOne(model, path, path).data()); break;
        case 1: benchmark::DoNotOptimize(OpenPicture(path, path, InputFormat::Jpeg)->header().width); break;
        case 2: {
            std::uint8_t last = 0;
            OpenPicture(path, path, InputFormat::Jpeg)->readRows([&](const std::uint8_t* row) { last ^= row[0]; });
            benchmark::DoNotOptimize(last);
            break;
        }
        case 3: {
            const std::unique_ptr<PictureSource> source = OpenPicture(path, path, InputFormat::Jpeg);
            benchmark::DoNotOptimize(Reduce(*source, plans).front().colour.scanLine(0));
            break;
        }
        case 4: {
            Raster24 picture = reduced;
            ConvertToSrgb(picture, ProfileForRows(header.iccProfile, header.gray));
            benchmark::DoNotOptimize(std::as_const(picture).scanLine(0));
            break;
        }
        case 5: benchmark::DoNotOptimize(Encode(reduced, header, 75).data()); break;
        case 6: StagedFile(output, bytes.data(), bytes.size(), output).commit(); break;
        case 7: {
            std::optional<MemoryReservation> memory = MemoryReservation::IfFree(MemoryFor(header, plans.front()));
            benchmark::DoNotOptimize(memory);
            break;
        }
        }
    }
}
BENCHMARK(BM_SmallPicturePart)->DenseRange(0, 7)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
