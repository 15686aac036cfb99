// The tool against hostile files, careless spellings and being stopped: no
// listed photo is ever replaced, memory stays within the budget, nothing
// blocks, and nothing partial is left behind.
#include "codecs/BmpReader.h"
#include "codecs/TJPEGImage.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <csignal>
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
using test::ScratchDir;

// The 64 MB budget and the program itself. The sanitizer keeps a heap of its
// own, with shadow memory, and ignores the program's allocator settings.
#if defined(__SANITIZE_ADDRESS__)
constexpr long PeakBoundKiB = 112 * 1024;
#else
constexpr long PeakBoundKiB = 80 * 1024;
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
    return test::MakeBmp({.width = width, .height = height, .bits = static_cast<std::uint16_t>(bits), .pixels = {1, 2, 3}});
}

// A small JPEG whose frame header claims another size.
std::vector<std::uint8_t> Claiming(std::vector<std::uint8_t> jpeg, int width, int height)
{
    for (std::size_t i = 2; i + 9 < jpeg.size();) {
        const int marker = jpeg[i + 1];
        if (marker == 0xC0 || marker == 0xC2) {
            jpeg[i + 5] = static_cast<std::uint8_t>(height >> 8), jpeg[i + 6] = static_cast<std::uint8_t>(height);
            jpeg[i + 7] = static_cast<std::uint8_t>(width >> 8), jpeg[i + 8] = static_cast<std::uint8_t>(width);
            break;
        }
        i += 2 + (jpeg[i + 2] << 8 | jpeg[i + 3]);
    }
    return jpeg;
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

// Tiny files that declare huge pictures run within a small budget: refused
// before their memory is taken, or streamed through it.
TEST(Safety, HostileFilesStayWithinTheMemoryBudget)
{
    const std::vector<std::uint8_t> progressive = test::MakeJpeg(16, 16, test::Gradient, {.progressive = true});
    // Each file is made only for its own case: a child's peak counts this
    // process's size when it forks, and 70 MB of markers would hide the tool's.
    struct Case {
        const char* name;
        std::function<std::vector<std::uint8_t>()> bytes;
        const char* message;  // "" when it must be written
    };
    const Case cases[] = {
        {"wide.bmp", [] { return Bmp(0x7FFFFFFF, 1, 24); }, "Out of memory"},
        {"huge.bmp", [] { return Bmp(30000, 30000, 24); }, ""},
        {"huge.jpg", [&] { return Claiming(progressive, 30000, 30000); }, "Out of memory"},
        {"turned.jpg",
         [] {
             return Claiming(test::MakeJpeg(16, 16, test::Gradient, {.app1 = test::ExifWithOrientation(6)}), 6000, 4000);
         },
         ""},
        {"scans.jpg", [] { return WithScans(test::MakeJpeg(256, 256, test::Gradient, {.progressive = true}), 1000); },
         "JPEG file has more than 100 scans"},
        {"sparse.jpg", [] { return std::vector<std::uint8_t>(); }, "JPEG error #52"},
        {"markers.jpg", [] { return WithMarkers(test::MakeJpeg(16, 16, test::Gradient), 1100); }, "Out of memory"},
    };
    for (const Case& c : cases) {
        ScratchDir dir, out;
        {
            const std::vector<std::uint8_t> bytes = c.bytes();
            test::WriteBytes(dir.file(c.name), bytes);
            if (bytes.empty()) {
                ASSERT_EQ(truncate(dir.file(c.name).c_str(), off_t(1) << 32), 0);  // 4 GiB of holes
            }
        }
        const bool bitmap = fs::path(c.name).extension() == ".bmp";
        const auto started = std::chrono::steady_clock::now();
        const Outcome r = RunTool({"--format", bitmap ? "bmp" : "jpg", "--memory-limit", "64M", "--size", "160x120",
                               "--output", out.path().string(), dir.path().string()});
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        EXPECT_EQ(r.status, *c.message ? 1 : 0) << c.name << ": " << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.name << ": " << r.err;
        EXPECT_LT(r.peakKiB, PeakBoundKiB) << c.name;
        EXPECT_LT(seconds, 20) << c.name;
    }
    // Honest pictures at several jobs: what the process keeps from one
    // picture for the next counts against the budget too, and so do the
    // bytes of files read whole before their headers are known (a PNG of
    // one pixel followed by 24 MB).
    const std::uint8_t pixel[] = {
        0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48, 0x44, 0x52, 0x00, 0x00,
        0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x08, 0x02, 0x00, 0x00, 0x00, 0x90, 0x77, 0x53, 0xDE, 0x00, 0x00, 0x00,
        0x0C, 0x49, 0x44, 0x41, 0x54, 0x78, 0x9C, 0x63, 0x68, 0x70, 0x50, 0x00, 0x00, 0x02, 0x24, 0x00, 0xE1, 0xAB,
        0x59, 0x62, 0x27, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};
    const struct {
        const char* name;
        int copies;
        std::function<std::vector<std::uint8_t>()> bytes;
    } honest[] = {
        {"p%d.jpg", 8, [] { return test::MakeJpeg(3000, 2000, test::Gradient, {.progressive = true}); }},
        {"p%d.png", 4,
         [&] {
             std::vector<std::uint8_t> bytes(std::begin(pixel), std::end(pixel));
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
                test::WriteBytes(dir.file(name), bytes);
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
        test::WriteBytes((folder / name).string(), test::MakeJpeg(64, 48, test::Gradient));
    const std::string f = folder.string();
    const std::vector<std::vector<std::string>> spellings = {
        {"--output", f},          {"--output", f + "/"},       {"--output", f + "//"},
        {"--output", f + "/./."}, {"--output", f + "/../photos"}, {"--output", (root.path() / "link").string()},
        {"--series", "RurOdi"},  // RurOdi02.jpg, second in the list, would replace itself
    };
    const auto a = test::ReadBytes((folder / "a.jpg").string());
    const auto b = test::ReadBytes((folder / "RurOdi02.jpg").string());
    for (const auto& spelling : spellings) {
        std::vector<std::string> args = spelling;
        args.push_back(f);
        const Outcome r = RunTool(args);
        EXPECT_EQ(r.status, 1) << spelling.back();
        EXPECT_NE(r.err.find("would replace the listed picture"), std::string::npos) << r.err;
        EXPECT_EQ(std::distance(fs::directory_iterator(folder), {}), 2) << spelling.back();
    }
    EXPECT_EQ(test::ReadBytes((folder / "a.jpg").string()), a);
    EXPECT_EQ(test::ReadBytes((folder / "RurOdi02.jpg").string()), b);
}

// A FIFO put where a picture was must not block the reader.
TEST(Safety, AFifoIsRefusedWithoutWaiting)
{
    ScratchDir dir;
    const std::string fifo = dir.file("x.jpg");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(test::ErrorOf([&] { TJPEGImage().streamFromFile(fifo, "x.jpg"); }), "Cannot open file x.jpg");
    EXPECT_EQ(test::ErrorOf([&] { TJPEGImage().loadFromFile(fifo, "x.jpg"); }), "Cannot open file x.jpg");
    EXPECT_EQ(test::ErrorOf([&] { OpenBitmapSource(fifo, "x.bmp"); }), "Cannot open file x.bmp");
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
        test::WriteBytes(dir.file("p" + std::to_string(10 + i) + ".jpg"), test::MakeJpeg(1600, 1200, test::Gradient));
    ASSERT_EQ(RunTool({"--output", full.path().string(), "--jobs", "2", dir.path().string()}).status, 0);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        ScratchDir out;
        const Outcome r = RunTool({"--output", out.path().string(), "--jobs", "2", dir.path().string()}, [&](pid_t pid) {
            while (fs::is_empty(out.path())) std::this_thread::sleep_for(std::chrono::milliseconds(2));
            kill(pid, signal);
        });
        EXPECT_EQ(r.status, 128 + signal);
        EXPECT_TRUE(NoTemporaries(out.path()));
        for (const auto& entry : fs::directory_iterator(out.path()))
            EXPECT_EQ(test::ReadBytes(entry.path().string()),
                      test::ReadBytes((full.path() / entry.path().filename()).string()));
    }
    ScratchDir limited;
    const Outcome r = RunTool({"--output", limited.path().string(), dir.path().string()}, {}, 4096);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Stream write error: File too large"), std::string::npos) << r.err;
    EXPECT_TRUE(NoTemporaries(limited.path()));
}

}  // namespace
}  // namespace pictavo
