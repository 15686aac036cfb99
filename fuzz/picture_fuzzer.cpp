// Arbitrary bytes as a picture file the tool resizes, through the run's own
// step for one picture (ResizeEach): opened by content, checked against the
// memory budget and the pixel cap, reduced, turned to sRGB and encoded. Each
// target takes the kind its name says and leaves other inputs alone, so its
// minute goes to that decoder. Every input must end in outputs or in one of
// the program's own exceptions, whose text is one line, within the budget.
#include "base/Errors.h"
#include "base/MemoryBudget.h"
#include "batch/Model.h"
#include "batch/ResizeRun.h"
#include "codecs/OutputFormats.h"
#include "codecs/PictureFormats.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <strings.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {
// The kind of file this target takes, from its name: picture_<kind>_fuzzer.
std::string Kind;
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char*** argv)
{
    const std::string program = (*argv)[0];
    const std::size_t start = program.rfind("picture_");
    const std::size_t end = program.rfind("_fuzzer");
    if (start == std::string::npos || end == std::string::npos || end <= start + 8) std::abort();
    Kind = program.substr(start + 8, end - start - 8);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // 64 MiB and 4 megapixels: no input may need more, however large it
    // says it is, and each one takes at most a few seconds.
    static const int fd = [] {
        pictavo::SetMemoryBudget(std::uint64_t(64) << 20);
        return memfd_create("picture", 0);
    }();
    const pictavo::PictureKind* kind = pictavo::KindOfContent(data, size);
    // Files no signature claims go to the JPEG decoder, as in the tool;
    // HEIF files whose brand says AV1 go to the AVIF target.
    std::string name = kind ? kind->name : "JPEG";
    if (name == "HEIF" && size >= 12 && (std::memcmp(data + 8, "avif", 4) == 0 || std::memcmp(data + 8, "avis", 4) == 0))
        name = "AVIF";
    if (strcasecmp(name.c_str(), Kind.c_str()) != 0) return -1;
    if (ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) return 0;

    pictavo::BatchModel model;
    model.format = pictavo::InputFormat::Auto;
    model.maxPixels = std::uint64_t(1) << 22;
    model.customSize = pictavo::TargetSize{160, 120};
    // The input's length picks the options, so the corpus covers them all
    // without the decoder seeing bytes of ours.
    model.sharpen = size & 1;
    if (size & 2) model.moreSizes = {{40, 30}};
    if (size & 4) model.metadata = pictavo::MetadataPolicy::All;
    if (size & 8) model.outputFormat = pictavo::OutputFormatNamed("png");
    // Small enough that --fast decodes a 640 x 480 JPEG at an eighth.
    if (size & 16) {
        model.fast = true;
        model.customSize = pictavo::TargetSize{40, 30};
    }
    // Failures and warnings are one line each on the command line.
    const auto oneLine = [](const std::string& text) {
        if (text.find_first_of("\r\n") != std::string::npos) std::abort();
    };
    try {
        pictavo::DecodeWarnings warnings;
        (void)pictavo::ResizeEach(model, "/proc/self/fd/" + std::to_string(fd), "fuzz", &warnings);
        oneLine(warnings.text);
    } catch (const pictavo::Exception& e) {
        if (e.message().empty()) std::abort();
        oneLine(pictavo::CommandLineMessage("fuzz", e));
    }
    // Any other exception escapes: the tool would show its bare name.
    return 0;
}
