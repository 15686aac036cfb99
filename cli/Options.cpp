#include "cli/Options.h"

#include "base/MemoryBudget.h"

#include <algorithm>
#include <charconv>

namespace pictavo::cli {
namespace {

bool ParseInt(const std::string& text, int low, int high, int& value)
{
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end && value >= low && value <= high;
}

// "800x600" selects that preset ("999x750" the first); any other WxH is a
// custom target.
bool ParseSize(const std::string& text, BatchModel& model)
{
    const std::size_t x = text.find_first_of("xX");
    if (x == std::string::npos) return false;
    int w = 0, h = 0;
    if (!ParseInt(text.substr(0, x), 1, 65500, w) || !ParseInt(text.substr(x + 1), 1, 65500, h)) return false;
    for (std::size_t i = 0; i < SizeCaptions.size(); ++i) {
        std::string caption = SizeCaptions[i];
        caption.erase(std::remove(caption.begin(), caption.end(), ' '), caption.end());
        if (caption == std::to_string(w) + "x" + std::to_string(h)) {
            model.sizeIndex = static_cast<int>(i);
            model.customSize.reset();
            return true;
        }
    }
    model.customSize = TargetSize{static_cast<float>(w), static_cast<float>(h)};
    return true;
}

bool ParseQuality(const std::string& text, BatchModel& model)
{
    int q = 0;
    if (!ParseInt(text, 1, 100, q)) return false;
    for (std::size_t i = 0; i < QualityPresets.size(); ++i)
        if (QualityPresets[i] == q) {
            model.qualityIndex = static_cast<int>(i);
            model.customQuality.reset();
            return true;
        }
    model.customQuality = q;
    return true;
}

}  // namespace

std::optional<Options> Parse(const std::vector<std::string>& args, std::string& error)
{
    Options o;
    std::vector<std::string> positional;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        std::string value;
        bool hasValue = false;
        if (arg.rfind("--", 0) == 0 && arg.find('=') != std::string::npos) {
            value = arg.substr(arg.find('=') + 1);
            arg = arg.substr(0, arg.find('='));
            hasValue = true;
        }
        const auto take = [&]() -> bool {
            if (hasValue) return true;
            if (i + 1 >= args.size()) return false;
            value = args[++i];
            return true;
        };
        if (arg == "--help" || arg == "-h") {
            o.help = true;
        } else if (arg == "--version") {
            o.version = true;
        } else if (arg == "--sharpen") {
            o.model.sharpen = true;
        } else if (arg == "--quiet" || arg == "-q") {
            o.quiet = true;
        } else if (arg == "--strict") {
            o.strict = true;
        } else if (arg == "--format") {
            if (!take() || (value != "jpg" && value != "bmp")) return error = "--format takes jpg or bmp", std::nullopt;
            o.model.format = value == "bmp" ? InputFormat::Bitmap : InputFormat::Jpeg;
        } else if (arg == "--size") {
            if (!take() || !ParseSize(value, o.model)) return error = "--size takes WxH, such as 800x600", std::nullopt;
        } else if (arg == "--quality") {
            if (!take() || !ParseQuality(value, o.model)) return error = "--quality takes 1 to 100", std::nullopt;
        } else if (arg == "--series") {
            if (!take()) return error = "--series takes a name", std::nullopt;
            o.model.series = value;
        } else if (arg == "--output") {
            if (!take() || value.empty()) return error = "--output takes a folder", std::nullopt;
            o.outputFolder = value;
        } else if (arg == "--memory-limit") {
            const std::optional<std::uint64_t> bytes = take() ? ParseMemorySize(value) : std::nullopt;
            if (!bytes) return error = "--memory-limit takes a size such as 512M or 2G", std::nullopt;
            o.memoryLimit = *bytes;
        } else if (arg == "--jobs" || arg == "-j") {
            if (!take() || !ParseInt(value, 1, 256, o.jobs)) return error = "--jobs takes 1 to 256", std::nullopt;
        } else if (arg.size() > 1 && arg[0] == '-' && arg != "-") {
            return error = "unknown option " + arg, std::nullopt;
        } else {
            positional.push_back(arg);
        }
    }
    if (o.help || o.version) return o;
    if (positional.size() != 1) return error = positional.empty() ? "no folder given" : "one folder only", std::nullopt;
    o.folder = positional[0];
    return o;
}

}  // namespace pictavo::cli
