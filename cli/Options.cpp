#include "cli/Options.h"

#include "base/Limits.h"
#include "base/MemoryBudget.h"
#include "batch/FolderScan.h"
#include "codecs/OutputFormats.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <utility>

namespace pictavo::cli {
namespace {

bool ParseInt(const std::string& text, int low, int high, int& value)
{
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end && value >= low && value <= high;
}

// One size of a --size list: WxH, or N for a long edge of N pixels
// whatever the orientation (as NxN). "800x600" is that preset ("999x750"
// the first, whose target is 1000x750).
std::optional<TargetSize> ParseOneSize(const std::string& text, std::optional<int>& preset)
{
    const std::size_t x = text.find_first_of("xX");
    int w = 0, h = 0;
    if (x == std::string::npos) {
        if (!ParseInt(text, 1, MaxOutputSide, w)) return std::nullopt;
        h = w;
    } else if (!ParseInt(text.substr(0, x), 1, MaxOutputSide, w) || !ParseInt(text.substr(x + 1), 1, MaxOutputSide, h)) {
        return std::nullopt;
    }
    preset.reset();
    for (std::size_t i = 0; i < SizeCaptions.size(); ++i) {
        std::string caption = SizeCaptions[i];
        caption.erase(std::remove(caption.begin(), caption.end(), ' '), caption.end());
        if (x != std::string::npos && caption == std::to_string(w) + "x" + std::to_string(h)) {
            preset = static_cast<int>(i);
            return SizePresets[i];
        }
    }
    return TargetSize{static_cast<float>(w), static_cast<float>(h)};
}

// A comma-separated list of sizes: the first is the model's target, the
// others are written from the same decode.
bool ParseSize(const std::string& text, BatchModel& model)
{
    std::vector<TargetSize> sizes;
    std::optional<int> firstPreset;
    for (std::size_t at = 0;;) {
        const std::size_t comma = std::min(text.find(',', at), text.size());
        std::optional<int> preset;
        const std::optional<TargetSize> size = ParseOneSize(text.substr(at, comma - at), preset);
        if (!size) return false;
        if (sizes.empty()) firstPreset = preset;
        sizes.push_back(*size);
        if (comma == text.size()) break;
        at = comma + 1;
    }
    if (firstPreset) {
        model.sizeIndex = *firstPreset;
        model.customSize.reset();
    } else {
        model.customSize = sizes.front();
    }
    model.moreSizes.assign(sizes.begin() + 1, sizes.end());
    return true;
}

// #rrggbb, or one of the sixteen colour names of HTML (grey as well as gray).
bool ParseColour(const std::string& text, BatchModel& model)
{
    static const std::pair<const char*, std::uint32_t> Names[] = {
        {"white", 0xffffff}, {"black", 0x000000}, {"silver", 0xc0c0c0}, {"gray", 0x808080}, {"grey", 0x808080},
        {"maroon", 0x800000}, {"red", 0xff0000}, {"purple", 0x800080}, {"fuchsia", 0xff00ff}, {"green", 0x008000},
        {"lime", 0x00ff00}, {"olive", 0x808000}, {"yellow", 0xffff00}, {"navy", 0x000080}, {"blue", 0x0000ff},
        {"teal", 0x008080}, {"aqua", 0x00ffff},
    };
    std::uint32_t rgb = 0;
    std::string lower = text;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    const auto named = std::find_if(std::begin(Names), std::end(Names), [&](const auto& n) { return lower == n.first; });
    if (named != std::end(Names)) {
        rgb = named->second;
    } else {
        if (text.size() != 7 || text[0] != '#' || !std::all_of(text.begin() + 1, text.end(), ::isxdigit)) return false;
        std::from_chars(text.data() + 1, text.data() + 7, rgb, 16);
    }
    model.background = {static_cast<std::uint8_t>(rgb), static_cast<std::uint8_t>(rgb >> 8),
                        static_cast<std::uint8_t>(rgb >> 16)};
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

// What --quality becomes in each lossy format, from the format table.
std::string QualityHelp()
{
    std::string text = "quality of the outputs, 1 to 100: 90, 75 (default), 60, 50, 30 or any other. It means the same "
                       "in every format: on photographs each gives the luma SSIM of a JPEG at that quality. ";
    for (const int q : {30, 50, 75, 90}) {
        text += std::to_string(q) + " gives";
        for (const OutputFormat& format : OutputFormats())
            if (format.lossy && &format != &DefaultOutputFormat())
                text += std::string(" ") + format.title + " " + format.setting(q) + ",";
        text.back() = ';';
        text += " ";
    }
    text.pop_back();
    text.back() = '.';
    for (const OutputFormat& format : OutputFormats())
        if (!format.lossy) text += std::string(" ") + format.title + " is lossless and ignores it.";
    return text;
}

std::string OutputFormatHelp()
{
    std::string text = "what the outputs are written as, each with its extension: ";
    for (const OutputFormat& format : OutputFormats()) {
        text += format.name;
        if (&format == &DefaultOutputFormat()) text += " (the default)";
        if (!format.lossy) text += std::string(" (lossless: the exact reduction)");
        text += &format == &OutputFormats().back() ? "" : &format == &OutputFormats().end()[-2] ? " or " : ", ";
    }
    std::string alpha;
    for (const OutputFormat& format : OutputFormats())
        if (!format.alpha) alpha += std::string(alpha.empty() ? "" : ", ") + format.title;
    return text + ". " + alpha + " outputs have no transparency";
}

bool ParseShard(const std::string& text, Options& o)
{
    const std::size_t slash = text.find('/');
    return slash != std::string::npos && ParseInt(text.substr(slash + 1), 1, MaxShards, o.shards) &&
           ParseInt(text.substr(0, slash), 1, o.shards, o.shard);
}

// Items joined as a sentence lists them: "a, b and c".
std::string Listed(const std::vector<std::string>& items)
{
    std::string text;
    for (std::size_t i = 0; i < items.size(); ++i)
        text += (i == 0 ? "" : i + 1 == items.size() ? " and " : ", ") + items[i];
    return text;
}

// The first `count` extensions of a kind, each with its dot.
std::vector<std::string> Dotted(const PictureKind& kind, std::size_t count)
{
    std::vector<std::string> dotted;
    for (std::size_t i = 0; i < count; ++i) dotted.push_back("." + kind.extensions[i]);
    return dotted;
}

std::string InputFormatHelp()
{
    std::vector<std::string> names;
    std::string all;
    for (const PictureKind& kind : PictureKinds()) {
        names.insert(names.end(), kind.shownNames.begin(), kind.shownNames.end());
        for (const std::string& extension : kind.extensions) all += (all.empty() ? "." : " .") + extension;
    }
    const PictureKind& jpeg = *KindOfFormat(InputFormat::Jpeg);
    const PictureKind& bmp = *KindOfFormat(InputFormat::Bitmap);
    return "which pictures to take: auto (the default) takes " + Listed(names) + " files by their extension (" + all +
           ") and reads each by its content; jpg takes " + Listed(Dotted(jpeg, jpeg.classicCount)) +
           " files only, bmp " + Listed(Dotted(bmp, bmp.classicCount)) + " files only, and still reads each by its "
           "content";
}

struct OptionRule {
    const char* name;
    char letter;           // the short form, or 0
    std::string argument;  // shown in the help; empty for a switch
    std::string help;
    bool (*apply)(Options&, const std::string&);
    std::string error;  // when apply refuses the value; empty: what the --name check says
};

// One table gives the parser and the help, so the two cannot drift.
const OptionRule Rules[] = {
    {"format", 0, "auto|jpg|bmp",
     InputFormatHelp(),
     [](Options& o, const std::string& v) {
         o.model.format = v == "bmp" ? InputFormat::Bitmap : v == "jpg" ? InputFormat::Jpeg : InputFormat::Auto;
         return v == "auto" || v == "jpg" || v == "bmp";
     },
     "--format takes auto, jpg or bmp"},
    {"size", 0, "WxH[,WxH]...",
     "size the longer side must meet: 999x750, 800x600 (default), 640x480, 480x360, 320x240, 160x120, any WxH, or "
     "N for a longer side of N pixels whatever the orientation (as NxN); several sizes separated by commas are "
     "all written from one decode of each picture, and the name template must then hold {w} or {h}",
     [](Options& o, const std::string& v) { return ParseSize(v, o.model); },
     "--size takes WxH or N, or a list of them such as 1600x1200,800x600,400"},
    {"output-format", 0, OutputFormatNames("|"), OutputFormatHelp(),
     [](Options& o, const std::string& v) { return (o.model.outputFormat = OutputFormatNamed(v)) != nullptr; },
     "--output-format takes " + OutputFormatNames(", ")},
    {"quality", 0, "Q", QualityHelp(),
     [](Options& o, const std::string& v) { return o.qualityGiven = ParseQuality(v, o.model); },
     "--quality takes 1 to 100"},
    {"metadata", 0, "none|safe|all",
     "EXIF, XMP and IPTC metadata the outputs keep: none (the default); safe keeps the creator, copyright and "
     "rights, the description, the capture date and time, and the camera, lens and exposure settings, but no GPS "
     "position or other place, serial number, owner name or maker notes; all keeps everything. Thumbnails are "
     "never kept, and kept metadata gives the output's size and orientation 1, as its pixels are upright",
     [](Options& o, const std::string& v) {
         const std::optional<MetadataPolicy> policy = MetadataPolicyNamed(v);
         o.model.metadata = policy.value_or(MetadataPolicy::None);
         return policy.has_value();
     },
     "--metadata takes none, safe or all"},
    {"target-size", 0, "SIZE",
     "make every output at most SIZE bytes (K and M as for --memory-limit), at the highest quality that fits, up "
     "to --quality when given, else 95; the reduced picture is encoded again, never decoded again. A picture that "
     "does not fit even at quality 1 fails. Not with a lossless format",
     [](Options& o, const std::string& v) { return (o.model.targetBytes = ParseMemorySize(v).value_or(0)) > 0; },
     "--target-size takes a size such as 40K or 2M"},
    {"total-size", 0, "SIZE",
     "make all outputs of the run together at most SIZE bytes, all at the same quality, the highest that fits "
     "(up to --quality when given, else 95), which is reported on standard error. Reduced pictures wait in memory, "
     "or in one temporary file in the output folder; nothing is written when not even quality 1 fits. Not with a "
     "lossless format",
     [](Options& o, const std::string& v) { return (o.totalSize = ParseMemorySize(v).value_or(0)) > 0; },
     "--total-size takes a size such as 200K or 5M"},
    {"sharpen", 0, {}, "sharpen each reduced picture",
     [](Options& o, const std::string&) { return o.model.sharpen = true; }, ""},
    {"background", 0, "COLOUR",
     "colour transparent pictures are composited over in outputs without transparency: #rrggbb, or a name such as "
     "white (the default), black, grey, red, green, blue, yellow, silver, navy or teal",
     [](Options& o, const std::string& v) { return ParseColour(v, o.model); },
     "--background takes #rrggbb or a colour name such as white or black"},
    {"fast", 0, {},
     "for thumbnails: decode each JPEG at a half, a quarter or an eighth of its size, so long as every output "
     "pixel still averages at least two decoded pixels across and down; several times faster, but the output is "
     "no longer exact and differs slightly from the default's (still the same at every --jobs and --shard); "
     "with several sizes the largest decides the decoding; other formats are read whole as always",
     [](Options& o, const std::string&) { return o.model.fast = true; }, ""},
    {"series", 0, "NAME", "name the outputs are numbered after (default " + std::string(DefaultSeries) + ")",
     [](Options& o, const std::string& v) {
         o.model.series = v;
         return true;
     },
     ""},
    {"name", 0, "TEMPLATE",
     "output names from the fields {series}, {n} (the number: 01, 02, ...), {stem} (the input's name without "
     "folder and extension), {w} and {h} (the output's width and height); the output format's extension is always added "
     "(default {series}{n})",
     [](Options& o, const std::string& v) {
         o.nameTemplate = v;
         return NameTemplateError(v).empty();
     },
     ""},
    {"output", 0, "DIR", "folder to write into, made when missing (default FOLDER)",
     [](Options& o, const std::string& v) {
         o.outputFolder = v;
         return !v.empty();
     },
     "--output takes a folder"},
    {"recursive", 'r', {},
     "take pictures from sub-folders too, symbolic links to folders aside, and mirror the tree under the output "
     "folder (requires --output); numbers start again in every folder",
     [](Options& o, const std::string&) { return o.recursive = true; }, ""},
    {"files-from", 0, "FILE",
     "take the pictures named in FILE (- for standard input), one a line, relative to FOLDER or absolute, in that "
     "order, instead of listing FOLDER",
     [](Options& o, const std::string& v) {
         o.filesFrom = v;
         return !v.empty();
     },
     "--files-from takes a file, or - for standard input"},
    {"shard", 0, "K/N",
     "take every N-th picture from the K-th on, numbered as in the whole run: shards 1/N to N/N together write "
     "what one run writes",
     [](Options& o, const std::string& v) { return ParseShard(v, o); }, "--shard takes K/N, 1 <= K <= N, such as 2/3"},
    {"update", 'u', {},
     "leave an output as it is when the record in its folder says it was made from the same input file, "
     "unchanged, with the same settings, and the output has not changed since; the others are written as a "
     "plain run writes them. Numbers are those of the whole list, so a picture added or taken away renumbers "
     "the outputs after it and they are written again; --name '{stem}' avoids that",
     [](Options& o, const std::string&) { return o.update = true; }, ""},
    {"keep-going", 'k', {}, "go on past a picture that fails; its number stays unused",
     [](Options& o, const std::string&) { return o.keepGoing = true; }, ""},
    {"jobs", 'j', "N", "pictures worked on at once, 1 to 256 (default one per processor)",
     [](Options& o, const std::string& v) { return ParseInt(v, 1, 256, o.jobs); }, "--jobs takes 1 to 256"},
    {"memory-limit", 0, "SIZE",
     "memory the whole run may use, in K, M or G (default the smaller of 2G and half the physical memory): a "
     "picture that needs more than is free waits for the others, one that needs more than the whole limit fails "
     "with \"Out of memory\"",
     [](Options& o, const std::string& v) {
         const std::optional<std::uint64_t> bytes = ParseMemorySize(v);
         o.memoryLimit = bytes.value_or(0);
         return bytes.has_value();
     },
     "--memory-limit takes a size such as 512M or 2G"},
    {"max-pixels", 0, "N",
     "refuse, before decoding, a picture of more than N pixels (default 1000000000) whose decoding costs more "
     "than its file's data: PNG, TIFF, WebP, HEIF, AVIF and run-length BMP; JPEG and plain BMP pictures are read "
     "to the end of their data whatever their size",
     [](Options& o, const std::string& v) {
         const char* end = v.data() + v.size();
         const auto [ptr, ec] = std::from_chars(v.data(), end, o.model.maxPixels);
         return ec == std::errc() && ptr == end && o.model.maxPixels > 0;
     },
     "--max-pixels takes a number of pixels, such as 2000000000"},
    {"strict", 0, {}, "make the run fail (exit status 1) when any picture was damaged; damaged pictures are "
     "written all the same, with a warning",
     [](Options& o, const std::string&) { return o.strict = true; }, ""},
    {"quiet", 'q', {}, "print nothing but errors", [](Options& o, const std::string&) { return o.quiet = true; },
     ""},
    {"help", 'h', {}, "show this help and exit", [](Options& o, const std::string&) { return o.help = true; },
     ""},
    {"version", 'V', {}, "show the version and licence and exit",
     [](Options& o, const std::string&) { return o.version = true; }, ""},
};

// Appends `text` to `out` in lines of at most `width` columns, each further
// line indented by `indent`.
void Wrap(std::string& out, const std::string& text, std::size_t column, std::size_t indent, std::size_t width)
{
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.size();
        if (column + (end - at) > width) {
            end = text.rfind(' ', at + (width - column));
            if (end == std::string::npos || end <= at) end = text.find(' ', at);
            if (end == std::string::npos) end = text.size();
        }
        out += text.substr(at, end - at);
        at = end < text.size() ? end + 1 : end;
        if (at < text.size()) {
            out += "\n" + std::string(indent, ' ');
            column = indent;
        }
    }
    out += "\n";
}

}  // namespace

std::string HelpText()
{
    constexpr std::size_t Column = 28, Width = 79;
    std::string text = std::string(Usage) + "\n";
    Wrap(text,
         "Shrink every picture in FOLDER so that its longer side meets the chosen size, by exact area "
         "averaging, and write them as a numbered JPEG series: " + std::string(DefaultSeries) + "01.jpg, " + DefaultSeries +
         "02.jpg, ... Transparent pictures "
         "keep their transparency where the output format has it, and are composited over white (or "
         "--background) where it has not; pictures with a colour profile are written in "
         "sRGB. No output ever replaces a listed picture, and a name that would leave the output folder or be given "
         "to two pictures is refused before anything is written. Each output folder keeps a record of what was "
         "written there (the hidden file .pictavo.record), so that a later run in the same folder does not take "
         "earlier outputs for pictures, and --update does only the work that changed.",
         0, 0, Width);
    text += "\nOptions:\n";
    for (const OptionRule& s : Rules) {
        std::string left = s.letter ? std::string("  -") + s.letter + ", --" : std::string("      --");
        left += s.name;
        if (!s.argument.empty()) left += "=" + s.argument;
        left += left.size() + 2 <= Column ? std::string(Column - left.size(), ' ') : "\n" + std::string(Column, ' ');
        text += left;
        Wrap(text, s.help, Column, Column, Width);
    }
    text += "\n";
    Wrap(text,
         "When standard output is not a terminal, each written output is reported on a line INPUT<tab>OUTPUT, "
         "with a tab, line feed or backslash in a name written as \\t, \\n or \\\\; outputs left up to date get "
         "no line. With --keep-going, a run in which pictures failed ends with status 1 and \"N written, M failed\" "
         "on standard error; with --update the run ends with \"N written, M up to date\".",
         0, 0, Width);
    return text;
}

std::string VersionText(const std::string& version)
{
    return "pictavo " + version +
           "\n"
           "Copyright \u00A9 2026 The Pictavo authors\n"
           "Free software, MIT licence: there is NO WARRANTY, to the extent permitted by law.\n";
}

std::optional<Options> Parse(const std::vector<std::string>& args, std::string& error)
{
    Options o;
    o.model.format = InputFormat::Auto;
    std::vector<std::string> positional;
    // Applies `rule`; its value is `attached`, or else the next argument.
    const auto use = [&](const OptionRule& rule, const std::string& shown, std::optional<std::string> attached,
                         std::size_t& i) {
        if (rule.argument.empty()) {
            if (attached) return error = "option '" + shown + "' doesn't allow an argument", false;
            return rule.apply(o, ""), true;
        }
        if (!attached) {
            if (i + 1 >= args.size()) return error = "option '" + shown + "' requires an argument", false;
            attached = args[++i];
        }
        if (rule.apply(o, *attached)) return true;
        error = !rule.error.empty() ? rule.error : "--name: " + NameTemplateError(*attached);
        return false;
    };
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            positional.push_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg[1] == '-') {
            const std::size_t equals = arg.find('=');
            const std::string name = arg.substr(2, equals == std::string::npos ? equals : equals - 2);
            std::vector<const OptionRule*> found;
            for (const OptionRule& s : Rules) {
                if (name == s.name) {
                    found = {&s};
                    break;
                }
                if (std::string_view(s.name).starts_with(name)) found.push_back(&s);
            }
            if (found.empty()) return error = "unrecognized option '--" + name + "'", std::nullopt;
            if (found.size() > 1) {
                error = "option '--" + name + "' is ambiguous; possibilities:";
                for (const OptionRule* s : found) error += std::string(" '--") + s->name + "'";
                return std::nullopt;
            }
            std::optional<std::string> attached;
            if (equals != std::string::npos) attached = arg.substr(equals + 1);
            if (!use(*found.front(), "--" + std::string(found.front()->name), attached, i)) return std::nullopt;
        } else {
            // Bundled short options: "-qr", "-j4", "-qj 4".
            for (std::size_t at = 1; at < arg.size(); ++at) {
                const auto rule = std::find_if(std::begin(Rules), std::end(Rules),
                                               [&](const OptionRule& s) { return s.letter == arg[at]; });
                if (rule == std::end(Rules))
                    return error = std::string("invalid option -- '") + arg[at] + "'", std::nullopt;
                std::optional<std::string> attached;
                if (!rule->argument.empty() && at + 1 < arg.size()) attached = arg.substr(at + 1);
                if (!use(*rule, std::string("-") + arg[at], attached, i)) return std::nullopt;
                if (!rule->argument.empty()) break;
            }
        }
    }
    if (o.help || o.version) return o;
    const OutputFormat& output = o.model.output();
    for (const auto& [given, name] : {std::pair(o.model.targetBytes > 0, "--target-size"),
                                      std::pair(o.totalSize > 0, "--total-size")}) {
        if (!given) continue;
        if (!output.lossy)
            return error = std::string(name) + " needs a lossy output format: " + output.title + " is lossless",
                   std::nullopt;
        if (!o.qualityGiven) o.model.customQuality = 95;  // the highest quality worth searching
    }
    if (positional.size() != 1) return error = positional.empty() ? "no folder given" : "one folder only", std::nullopt;
    if (o.recursive && o.outputFolder.empty()) return error = "--recursive requires --output", std::nullopt;
    if (o.recursive && !o.filesFrom.empty())
        return error = "--recursive lists FOLDER, --files-from lists the pictures: give one of them", std::nullopt;
    o.folder = positional[0];
    return o;
}

}  // namespace pictavo::cli
