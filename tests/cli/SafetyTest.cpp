// The tool against hostile files, careless spellings and being stopped: no
// listed photo is ever replaced, memory stays within the budget, nothing
// blocks, and nothing partial is left behind.
#include "codecs/bmp/BmpReader.h"
#include "preview/PreviewDecode.h"
#include "codecs/jpeg/TJPEGImage.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <cstdio>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace pictavo {
namespace {

namespace fs = std::filesystem;
using namespace test;

// The 64 MB budget and the program itself. The sanitizer keeps a heap of its
// own, with shadow memory, and ignores the program's allocator settings.
#if defined(__SANITIZE_ADDRESS__)
constexpr long PeakBoundKiB = 160 * 1024;
constexpr double SecondsBound = 60;  // its checks slow every row
#else
constexpr long PeakBoundKiB = 80 * 1024;
constexpr double SecondsBound = 20;
#endif

struct Outcome {
    int status = -1;  // exit status, or 128 + the signal that ended it
    std::string err;
    long peakKiB = 0;
};

// Runs the tool with `args`; `during` gets the child's pid while it runs.
Outcome RunTool(const std::vector<std::string>& args, const std::function<void(pid_t)>& during = {},
            rlim_t fileSizeLimit = RLIM_INFINITY)
{
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(pipeFds[1], STDERR_FILENO);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        close(pipeFds[0]);
        const rlimit limit{fileSizeLimit, fileSizeLimit};
        setrlimit(RLIMIT_FSIZE, &limit);
        std::vector<char*> argv{const_cast<char*>(PICTAVO_TOOL)};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(PICTAVO_TOOL, argv.data());
        _exit(127);
    }
    close(pipeFds[1]);
    if (during) during(pid);
    Outcome outcome;
    char buffer[4096];
    ssize_t n;
    while ((n = read(pipeFds[0], buffer, sizeof buffer)) > 0) outcome.err.append(buffer, static_cast<std::size_t>(n));
    close(pipeFds[0]);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    outcome.peakKiB = usage.ru_maxrss;
    return outcome;
}

std::vector<std::uint8_t> Bmp(int width, int height, int bits)
{
    return MakeBmp({.width = width, .height = height, .bits = static_cast<std::uint16_t>(bits), .pixels = {1, 2, 3}});
}

// A progressive JPEG whose last scan is repeated until it has `scans` of them.
std::vector<std::uint8_t> WithScans(const std::vector<std::uint8_t>& jpeg, int scans)
{
    std::size_t lastScan = 0;
    int count = 0;
    for (std::size_t i = 2; i + 1 < jpeg.size(); ++i)
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDA) lastScan = i, ++count;
    const std::size_t end = jpeg.size() - 2;  // before the end-of-image marker
    std::vector<std::uint8_t> out(jpeg.begin(), jpeg.begin() + static_cast<std::ptrdiff_t>(end));
    for (int k = count; k < scans; ++k) out.insert(out.end(), jpeg.begin() + static_cast<std::ptrdiff_t>(lastScan),
                                                   jpeg.begin() + static_cast<std::ptrdiff_t>(end));
    out.insert(out.end(), {0xFF, 0xD9});
    return out;
}

// The JPEG up to the end of its first scan's header: no picture data.
std::vector<std::uint8_t> HeadersOnly(std::vector<std::uint8_t> jpeg)
{
    const JpegSegment scan = FindSegment(jpeg, 0xDA);
    jpeg.resize(scan.at + 2 + scan.length);
    return jpeg;
}

// A 16 x 16 CMYK JPEG tagged with a CMYK profile, as ImageMagick writes it.
std::vector<std::uint8_t> CmykJpeg()
{
    ScratchDir dir;
    const std::string profile = "/usr/share/color/icc/ghostscript/default_cmyk.icc";
    const std::string command = "convert -size 16x16 gradient:red-blue -colorspace CMYK " +
                                (fs::exists(profile) ? "-profile " + profile + " " : std::string()) + dir.file("c.jpg");
    if (std::system(command.c_str()) != 0) return {};
    return ReadBytes(dir.file("c.jpg"));
}

// A JPEG with `count` full-length ICC segments (APP2) before its frame.
std::vector<std::uint8_t> WithMarkers(const std::vector<std::uint8_t>& jpeg, int count)
{
    std::vector<std::uint8_t> out(jpeg.begin(), jpeg.begin() + 2);
    std::vector<std::uint8_t> segment = {0xFF, 0xE2, 0xFF, 0xFF};
    segment.resize(2 + 0xFFFF, 0);
    for (int k = 0; k < count; ++k) out.insert(out.end(), segment.begin(), segment.end());
    out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
    return out;
}

// An AVIF whose 'ispe' says 64 x 64 and whose AV1 sequence header, the size
// the decoder allocates for, says side x side.
std::vector<std::uint8_t> LyingAvif(int side)
{
    // A reduced still-picture header: profile 0, level 31, 15-bit sizes.
    std::uint64_t bits = 0b000'1'1'11111'1110'1110;
    bits = (bits << 15 | (side - 1)) << 15 | (side - 1);
    std::vector<std::uint8_t> obu{0x0A, 7};
    PutBig(obu, bits << 8, 7);
    std::vector<std::uint8_t> ispe, ipma, iloc;
    PutBig(ispe, 64, 4), PutBig(ispe, 64, 4);
    PutBig(ipma, 1, 4), PutBig(ipma, 1, 2), ipma.insert(ipma.end(), {2, 0x01, 0x82});
    const std::vector<std::uint8_t> infe{0, 1, 0, 0, 'a', 'v', '0', '1', 0};
    const auto file = [&](std::uint32_t at) {
        iloc = {0x44, 0, 0, 1, 0, 1, 0, 0, 0, 1};
        PutBig(iloc, at, 4), PutBig(iloc, obu.size(), 4);
        const std::vector<std::uint8_t> hdlr{0, 0, 0, 0, 'p', 'i', 'c', 't', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
        const std::vector<std::uint8_t> iinf = std::vector<std::uint8_t>{0, 1} + IsoBox("infe", infe, 2);
        const std::vector<std::uint8_t> av1C = std::vector<std::uint8_t>{0x81, 0x1F, 0x0C, 0} + obu;
        const std::vector<std::uint8_t> ftyp{'a', 'v', 'i', 'f', 0, 0, 0, 0, 'a', 'v', 'i', 'f', 'm', 'i', 'f', '1'};
        return IsoBox("ftyp", ftyp) +
               IsoBox("meta", IsoBox("hdlr", hdlr, 0) + IsoBox("pitm", {0, 1}, 0) + IsoBox("iloc", iloc, 0) + IsoBox("iinf", iinf, 0) +
                               IsoBox("iprp", IsoBox("ipco", IsoBox("ispe", ispe, 0) + IsoBox("av1C", av1C)) + IsoBox("ipma", ipma, 0)),
                   0);
    };
    const std::size_t head = file(0).size() + 8;
    return file(static_cast<std::uint32_t>(head)) + IsoBox("mdat", obu);
}

// A HEIF grid of `tiles` x `tiles` tiles that declare `declared` pixels a
// side but code `side`, made from what heif-enc writes for a flat picture;
// empty when the tools are missing.
std::vector<std::uint8_t> LyingGrid(const ScratchDir& dir, int side, int tiles = 2,
                                    GridTiles items = GridTiles::OneItem, std::uint32_t declared = 64)
{
    const std::string size = std::to_string(side) + "x" + std::to_string(side);
    if (std::system(("cd " + dir.path().string() + " && convert -size " + size + " xc:gray50 t.png && heif-enc -q 50 t.png -o t.heic >/dev/null 2>&1").c_str()) != 0)
        return {};
    return MakeHeifGrid(ReadBytes(dir.file("t.heic")), tiles, tiles, declared, tiles * declared, tiles * declared, items);
}

// A one-pixel grey PNG with `extra` chunks before its data.
std::vector<std::uint8_t> PngWith(const std::vector<std::uint8_t>& extra)
{
    return MakePng({.raw = {0, 64}, .extra = extra});
}

// An iCCP chunk whose profile inflates to `bytes`, with a header libpng accepts.
std::vector<std::uint8_t> HugeIccp(std::size_t bytes)
{
    std::vector<std::uint8_t> profile(bytes);
    for (int k = 0; k < 4; ++k) profile[k] = static_cast<std::uint8_t>(bytes >> (24 - 8 * k));
    std::memcpy(&profile[12], "mntrRGB XYZ ", 12);
    std::memcpy(&profile[36], "acsp", 4);
    std::vector<std::uint8_t> packed(compressBound(static_cast<uLong>(bytes)));
    uLongf size = packed.size();
    compress2(packed.data(), &size, profile.data(), static_cast<uLong>(bytes), 9);
    packed.resize(size);
    return PngChunk("iCCP", std::vector<std::uint8_t>{'x', 0, 0} + packed);
}

// Tiny files that declare huge pictures run within a small budget: refused
// before their memory is taken, or streamed through it.
TEST(Safety, HostileFilesStayWithinTheMemoryBudget)
{
    const std::vector<std::uint8_t> progressive = MakeJpeg(16, 16, Gradient, {.progressive = true});
    // Each file is made only for its own case: a child's peak counts this
    // process's size when it forks, and 70 MB of markers would hide the tool's.
    struct Case {
        const char* name;
        std::function<std::vector<std::uint8_t>()> bytes;
        const char* message;  // "" when it must be written
        off_t holes = 0;      // the file is extended to this size with holes
        bool white = false;   // the output must be white
    };
    const ScratchDir scratch;
    const char* tiles = "HEIF error: the picture is made of 4225 tiles, more than the 4096 allowed";
    const Case cases[] = {
        {"wide.bmp", [] { return Bmp(0x7FFFFFFF, 1, 24); }, "Out of memory"},
        {"huge.bmp", [] { return Bmp(30000, 30000, 24); }, ""},
        {"huge.jpg", [&] { return WithFrameSize(progressive, 30000, 30000); }, "Out of memory"},
        {"turned.jpg", [] { return WithFrameSize(MakeJpeg(16, 16, Gradient, {.app1 = ExifWithOrientation(6)}), 6000, 4000); }, ""},
        {"scans.jpg", [] { return WithScans(MakeJpeg(256, 256, Gradient, {.progressive = true}), 1000); },
         "JPEG file has more than 100 scans"},
        {"sparse.jpg", [] { return std::vector<std::uint8_t>(); }, "JPEG error #52", off_t(1) << 32},
        // The scan count stops at the end of the picture's data.
        {"trailing.jpg", [&] { return progressive; }, "", off_t(64) << 30},
        {"headers.jpg", [] { return HeadersOnly(MakeJpeg(64, 64, Gradient)); },
         "The picture's data ends before its first row"},
        // Rows past the end of the data cost one row, however many they are:
        // 6 gigapixels from 24 KB, 65500 x 65500 CMYK through a profile.
        {"reallybig.bmp",
         [] {
             std::vector<std::uint8_t> bytes = Bmp(3000000, 2000000, 24);
             bytes.resize(24630, 0x80);
             return bytes;
         },
         ""},
        {"cmyk.jpg", [] { return WithFrameSize(CmykJpeg(), 65500, 65500); }, ""},
        // Box sums past 32 bits: index 0 of the table is white.
        {"tall.bmp",
         [] { return MakeBmp({.width = 1, .height = 0x7FFFFFFF, .bits = 1, .palette = {0xFFFFFF, 0}, .pixels = std::vector<std::uint8_t>(1024)}); },
         "", 0, true},
        // A run of two bytes can paint a row: the size alone is refused.
        {"runs.bmp", [] { return MakeBmp({.width = 100000, .height = 100000, .bits = 8, .compression = 1, .colorsUsed = 1, .palette = {0}}); },
         "The picture is 100000 x 100000 pixels, more than the 1000000000 allowed"},
        {"markers.jpg", [] { return WithMarkers(MakeJpeg(16, 16, Gradient), 1100); }, "Out of memory"},
        // Sizes only the libraries see: the AV1 sequence header's, libjpeg's
        // coefficients inside libtiff, profiles and metadata.
        {"coded.avif", [] { return LyingAvif(16384); }, "Out of memory"},
        {"strip.tif",  // libjpeg inside libtiff holds every coefficient of a progressive strip
         [&] {
             const auto strip = MakeJpeg(16, 16, Gradient, {.progressive = true, .gray = true});
             return MakeGreyTiff(30000, 30000, 30000, 7, {WithFrameSize(strip, 30000, 30000)});
         },
         "Out of memory"},
        {"profile.tif", [] { return MakeGreyTiff(4, 4, 4, 1, {std::vector<std::uint8_t>(16, 64)}, 60 << 20); }, ""},
        {"grid.heic", [&] { return LyingGrid(scratch, 2048); }, ""},  // libheif's threads decoded tiles side by side
        // libheif decodes tile after tile, each as dear as a picture: 835 KB
        // of 141 x 141 tiles took minutes. Refused before any is decoded.
        {"tiles.heic", [&] { return LyingGrid(scratch, 16, 65, GridTiles::ItemEach, 16); }, tiles},
        {"cells.heic", [&] { return LyingGrid(scratch, 16, 65, GridTiles::OneItem, 16); }, tiles},
        // A 1 x 1 bitmap whose profile is said to take 2 GB.
        {"profile.bmp",
         [] {
             return MakeBmp({.headerSize = 124, .width = 1, .height = 1, .pixels = {1, 2, 3, 0},
                             .colourSpace = 0x4D424544, .profileAt = 124 + 4, .profileLength = 2000000000});
         },
         ""},
        {"iccp.png", [] { return PngWith(HugeIccp(16 << 20)); }, ""},
        {"exif.png", [] { return PngWith(PngChunk("eXIf", std::vector<std::uint8_t>(40 << 20))); }, ""},
    };
    for (const Case& c : cases) {
        ScratchDir dir, out;
        {
            const std::vector<std::uint8_t> bytes = c.bytes();
            if (bytes.empty() && std::string(c.name).ends_with(".heic")) continue;  // heif-enc is missing
            ASSERT_FALSE(bytes.empty() && c.holes == 0) << c.name;
            WriteBytes(dir.file(c.name), bytes);
            if (c.holes) {
                ASSERT_EQ(truncate(dir.file(c.name).c_str(), c.holes), 0);
            }
        }
        const std::string extension = fs::path(c.name).extension().string();
        const auto started = std::chrono::steady_clock::now();
        const Outcome r = RunTool({"--format", extension == ".bmp" ? "bmp" : extension == ".jpg" ? "jpg" : "auto",
                                   "--memory-limit", "64M", "--size", "160x120",
                               "--output", out.path().string(), dir.path().string()});
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        EXPECT_EQ(r.status, *c.message ? 1 : 0) << c.name << ": " << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.name << ": " << r.err;
        EXPECT_LT(r.peakKiB, PeakBoundKiB) << c.name;
        EXPECT_LT(seconds, SecondsBound) << c.name;
        if (!c.white) continue;
        Raster24 written;
        TJPEGImage jpeg;
        jpeg.loadFromFile((out.path() / "RurOdi01.jpg").string());
        jpeg.decodeInto(written);
        written.make24Bit();
        for (int y = 0; y < written.height(); ++y)
            for (int x = 0; x < 3 * written.width(); ++x) ASSERT_EQ(written.scanLine(y)[x], 255) << c.name;
    }
    // Honest pictures at several jobs: what the process keeps from one
    // picture for the next counts against the budget too, and so do the
    // bytes of files read whole before their headers are known (a PNG of
    // one pixel followed by 24 MB).
    const struct {
        const char* name;
        int copies;
        std::function<std::vector<std::uint8_t>()> bytes;
    } honest[] = {
        {"p%d.jpg", 8, [] { return MakeJpeg(3000, 2000, Gradient, {.progressive = true}); }},
        {"p%d.png", 4,
         [&] {
             std::vector<std::uint8_t> bytes = MakePng({.colour = 2, .raw = {0, 1, 2, 3}});
             bytes.resize(bytes.size() + (24 << 20), 1);
             return bytes;
         }},
    };
    for (const auto& c : honest) {
        ScratchDir dir, out;
        {
            const std::vector<std::uint8_t> bytes = c.bytes();
            char name[16];
            for (int i = 0; i < c.copies; ++i) {
                std::snprintf(name, sizeof name, c.name, i);
                WriteBytes(dir.file(name), bytes);
            }
        }
        const Outcome r = RunTool({"--jobs", "4", "--memory-limit", "64M", "--size", "160x120", "--output",
                                   out.path().string(), dir.path().string()});
        EXPECT_EQ(r.status, 0) << c.name << ": " << r.err;
        EXPECT_LT(r.peakKiB, PeakBoundKiB) << c.name;
    }
}

// However the output folder is spelled, and whatever the series, no output
// may replace a listed picture; nothing is written then.
TEST(Safety, NoSpellingLetsAnOutputReplaceAnInput)
{
    ScratchDir root;
    const fs::path folder = root.path() / "photos";
    fs::create_directory(folder);
    fs::create_directory_symlink(folder, root.path() / "link");
    for (const char* name : {"a.jpg", "RurOdi02.jpg"})
        WriteBytes((folder / name).string(), MakeJpeg(64, 48, Gradient));
    const std::string f = folder.string();
    const std::vector<std::vector<std::string>> spellings = {
        {"--output", f},          {"--output", f + "/"},       {"--output", f + "//"},
        {"--output", f + "/./."}, {"--output", f + "/../photos"}, {"--output", (root.path() / "link").string()},
        {"--series", "RurOdi"},  // RurOdi02.jpg, second in the list, would replace itself
    };
    const auto a = ReadBytes((folder / "a.jpg").string());
    const auto b = ReadBytes((folder / "RurOdi02.jpg").string());
    for (const auto& spelling : spellings) {
        std::vector<std::string> args = spelling;
        args.push_back(f);
        const Outcome r = RunTool(args);
        EXPECT_EQ(r.status, 1) << spelling.back();
        EXPECT_NE(r.err.find("would replace the listed picture"), std::string::npos) << r.err;
        EXPECT_EQ(std::distance(fs::directory_iterator(folder), {}), 2) << spelling.back();
    }
    EXPECT_EQ(ReadBytes((folder / "a.jpg").string()), a);
    EXPECT_EQ(ReadBytes((folder / "RurOdi02.jpg").string()), b);
}

// A FIFO put where a picture was must not block the reader.
TEST(Safety, AFifoIsRefusedWithoutWaiting)
{
    ScratchDir dir;
    const std::string fifo = dir.file("x.jpg");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(ErrorOf([&] { TJPEGImage().streamFromFile(fifo, "x.jpg"); }), "Cannot open file x.jpg");
    EXPECT_EQ(ErrorOf([&] { TJPEGImage().loadFromFile(fifo, "x.jpg"); }), "Cannot open file x.jpg");
    EXPECT_EQ(ErrorOf([&] { OpenBitmapSource(fifo, "x.bmp"); }), "Cannot open file x.bmp");
    // The window's preview, which reads a bitmap's size first.
    const std::string bmp = dir.file("y.bmp");
    ASSERT_EQ(mkfifo(bmp.c_str(), 0600), 0);
    EXPECT_EQ(ErrorOf([&] { DecodePreview(bmp, 64, 48, {.sized = [](int, int) {}}); }), "Cannot open file " + bmp);
}

bool NoTemporaries(const fs::path& folder)
{
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().filename().string().rfind(".pictavo-", 0) == 0) return false;
    return true;
}

// Stopped by a signal, or by the file-size limit, the tool leaves only whole
// outputs: each equal to the one a complete run writes.
TEST(Safety, StoppedRunsLeaveOnlyWholeOutputs)
{
    ScratchDir dir, full;
    for (int i = 0; i < 24; ++i)
        WriteBytes(dir.file("p" + std::to_string(10 + i) + ".jpg"), MakeJpeg(1600, 1200, Gradient));
    ASSERT_EQ(RunTool({"--output", full.path().string(), "--jobs", "2", dir.path().string()}).status, 0);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        ScratchDir out;
        const Outcome r = RunTool({"--output", out.path().string(), "--jobs", "2", dir.path().string()}, [&](pid_t pid) {
            // Stopped once it has written something, or after a minute at most.
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
            while (fs::is_empty(out.path()) && std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            kill(pid, signal);
        });
        EXPECT_EQ(r.status, 128 + signal);
        EXPECT_TRUE(NoTemporaries(out.path()));
        for (const auto& entry : fs::directory_iterator(out.path())) {
            if (entry.path().filename() == ".pictavo.record") continue;  // the record of them, not an output
            EXPECT_EQ(ReadBytes(entry.path().string()), ReadBytes((full.path() / entry.path().filename()).string()));
        }
    }
    ScratchDir limited;
    const Outcome r = RunTool({"--output", limited.path().string(), dir.path().string()}, {}, 4096);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Stream write error: File too large"), std::string::npos) << r.err;
    EXPECT_TRUE(NoTemporaries(limited.path()));
}

}  // namespace
}  // namespace pictavo
