#include "batch/RunRecord.h"

#include "base/Errors.h"
#include "base/MemoryBudget.h"
#include "batch/InputList.h"
#include "codecs/OutputFormats.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <set>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pictavo {
namespace {

// Raised whenever a change to the engine alters the bytes of outputs, so
// that --update makes them again.
constexpr int OutputBytesVersion = 1;

constexpr std::string_view Header = "pictavo record ";
constexpr int FormatVersion = 1;

// A line of another run that was saved this recently may still be about to
// be put in place: it is kept as it is.
constexpr std::int64_t PendingGraceNs = 600'000'000'000;

std::mutex WarningLock;
std::function<void(const std::string&)> WarningSink;
std::set<std::string> Warned;

void Warn(const std::string& key, const std::string& message)
{
    std::lock_guard lock(WarningLock);
    if (WarningSink && Warned.insert(key).second) WarningSink(message);
}

std::string Escaped(std::string_view text)
{
    std::string out;
    for (const char c : text) {
        if (c == '\\') out += "\\\\";
        else if (c == '\t') out += "\\t";
        else if (c == '\n') out += "\\n";
        else out += c;
    }
    return out;
}

std::optional<std::string> Unescaped(std::string_view text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i == text.size()) return std::nullopt;
        if (text[i] == '\\') out += '\\';
        else if (text[i] == 't') out += '\t';
        else if (text[i] == 'n') out += '\n';
        else return std::nullopt;
    }
    return out;
}

std::vector<std::string_view> Fields(std::string_view line)
{
    std::vector<std::string_view> fields;
    for (std::size_t at = 0;;) {
        const std::size_t tab = line.find('\t', at);
        fields.push_back(line.substr(at, tab == std::string_view::npos ? tab : tab - at));
        if (tab == std::string_view::npos) return fields;
        at = tab + 1;
    }
}

template <typename T>
bool Number(std::string_view text, T& value)
{
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size();
}

bool BareName(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

std::int64_t Now()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string FolderOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace

std::string SettingsKey(const BatchModel& model)
{
    // One line a setting; a new option that shapes the bytes adds its own.
    std::string size;
    for (const TargetSize target : model.targets()) {
        char one[64];
        std::snprintf(one, sizeof one, "%s%gx%g", size.empty() ? "" : ",", static_cast<double>(target.width),
                      static_cast<double>(target.height));
        size += one;
    }
    std::string key;
    const OutputFormat& format = model.output();
    key += std::string("format=") + format.name;
    key += " size=" + std::string(size);
    key += " quality=" + (format.lossy ? std::to_string(model.quality()) : std::string("-"));
    key += std::string(" sharpen=") + (model.sharpen ? "yes" : "no");
    if (model.background != std::array<std::uint8_t, 3>{255, 255, 255}) {
        char colour[32];
        std::snprintf(colour, sizeof colour, " background=%02x%02x%02x", model.background[2], model.background[1],
                      model.background[0]);
        key += colour;
    }
    if (model.targetBytes > 0) key += " target=" + std::to_string(model.targetBytes);
    if (model.fast) key += " decode=fast";  // exact outputs keep the key they always had
    key += " colour=srgb";
    key += std::string(" metadata=") + MetadataPolicyNames[static_cast<std::size_t>(model.metadata)];
    key += " engine=" + std::to_string(OutputBytesVersion);
    return key;
}

std::string FormatRecord(const Record& record)
{
    std::string text = std::string(Header) + std::to_string(FormatVersion) + "\n";
    std::map<std::string, int> ids;  // settings texts, each written once
    for (const auto& [name, lines] : record)
        for (const RecordLine& line : lines)
            if (ids.emplace(line.settings, static_cast<int>(ids.size()) + 1).second)
                text += "settings\t" + std::to_string(ids[line.settings]) + "\t" + Escaped(line.settings) + "\n";
    for (const auto& [name, lines] : record)
        for (const RecordLine& l : lines) {
            text += l.pending ? "pending\t" : "done\t";
            text += Escaped(name);
            const auto field = [&text](auto n) {
                text += '\t';
                text += std::to_string(n);
            };
            field(l.output.size);
            field(l.output.mtimeNs);
            field(static_cast<std::uint64_t>(l.input.first));
            field(static_cast<std::uint64_t>(l.input.second));
            field(l.inputStamp.size);
            field(l.inputStamp.mtimeNs);
            field(ids[l.settings]);
            text += '\t';
            text += Escaped(l.inputPath);
            text += '\n';
        }
    return text;
}

std::optional<Record> ParseRecord(std::string_view text, std::string& why)
{
    Record record;
    if (text.empty()) return record;  // made to be locked, before its first save
    const std::size_t end = text.find('\n');
    const std::string_view first = text.substr(0, end);
    int version = 0;
    if (end == std::string_view::npos || !first.starts_with(Header) || !Number(first.substr(Header.size()), version))
        return why = "not a record of pictavo's", std::nullopt;
    if (version != FormatVersion) return why = "written by another version of pictavo", std::nullopt;
    if (text.back() != '\n') return why = "it is cut short", std::nullopt;
    std::map<std::uint64_t, std::string> settings;
    const auto damaged = [&why](std::size_t number) {
        why = "damaged at line " + std::to_string(number);
        return std::nullopt;
    };
    std::size_t number = 1;
    for (std::size_t at = end + 1; at < text.size(); ++number) {
        const std::size_t next = text.find('\n', at);
        const std::vector<std::string_view> f = Fields(text.substr(at, next - at));
        at = next + 1;
        if (f[0] == "settings" && f.size() == 3) {
            std::uint64_t id = 0;
            std::optional<std::string> key = Unescaped(f[2]);
            if (!Number(f[1], id) || !key || !settings.emplace(id, std::move(*key)).second) return damaged(number);
            continue;
        }
        if ((f[0] != "done" && f[0] != "pending") || f.size() != 10) return damaged(number);
        RecordLine line;
        line.pending = f[0] == "pending";
        std::uint64_t dev = 0, ino = 0, id = 0;
        const std::optional<std::string> name = Unescaped(f[1]);
        const std::optional<std::string> input = Unescaped(f[9]);
        if (!name || !BareName(*name) || !input || !Number(f[2], line.output.size) ||
            !Number(f[3], line.output.mtimeNs) || !Number(f[4], dev) || !Number(f[5], ino) ||
            !Number(f[6], line.inputStamp.size) || !Number(f[7], line.inputStamp.mtimeNs) || !Number(f[8], id) ||
            !settings.contains(id))
            return damaged(number);
        line.input = {static_cast<dev_t>(dev), static_cast<ino_t>(ino)};
        line.settings = settings[id];
        line.inputPath = *input;
        record[*name].push_back(std::move(line));
    }
    return record;
}

void SetRecordWarnings(std::function<void(const std::string&)> sink)
{
    std::lock_guard lock(WarningLock);
    WarningSink = std::move(sink);
}

namespace {

// Parses `bytes` read from the record at `path`; an unreadable one is empty.
Record Parsed(const std::string& path, std::string_view bytes)
{
    std::string why;
    std::optional<Record> record = ParseRecord(bytes, why);
    if (record) return std::move(*record);
    Warn(path, "warning: ignoring the record " + path + ": " + why);
    return {};
}

// What the open file holds, or nothing when it cannot be read.
std::optional<std::string> Contents(int fd)
{
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
    std::string bytes;
    try {
        CheckMemoryBudget(static_cast<std::uint64_t>(info.st_size));
        bytes.resize(static_cast<std::size_t>(info.st_size));
        bytes.resize(ReadUpTo(fd, bytes.data(), bytes.size()));
    } catch (const std::exception&) {
        return std::nullopt;
    }
    return bytes;
}

}  // namespace

Record ReadRecord(const std::string& folder)
{
    const std::string path = folder + RecordFileName;
    const FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (fd.get() < 0) {
        if (errno != ENOENT && errno != ENOTDIR)
            Warn(path, "warning: ignoring the record " + path + ": " + std::strerror(errno));
        return {};
    }
    const std::optional<std::string> bytes = Contents(fd.get());
    if (!bytes) {
        Warn(path, "warning: ignoring the record " + path + ": it cannot be read");
        return {};
    }
    return Parsed(path, *bytes);
}

bool ReadInputState(const std::string& path, RecordLine& line)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return false;
    line.input = {info.st_dev, info.st_ino};
    line.inputStamp = StampFrom(info);
    return true;
}

const RecordLine* MatchingLine(const Record& record, const std::string& folder, const std::string& name)
{
    const auto it = record.find(name);
    if (it == record.end()) return nullptr;
    const std::optional<FileStamp> stamp = StampOf(folder + name);
    if (!stamp) return nullptr;
    for (const RecordLine& line : it->second)
        if (line.output == *stamp) return &line;
    return nullptr;
}

void DropEarlierOutputs(const std::string& folder, std::vector<std::string>& names)
{
    std::map<std::string, Record> records;  // by folder, read once each
    std::erase_if(names, [&](const std::string& name) {
        const std::string path = InputPath(folder, name);
        const std::string dir = FolderOf(path);
        auto it = records.find(dir);
        if (it == records.end()) it = records.emplace(dir, ReadRecord(dir)).first;
        return MatchingLine(it->second, dir, path.substr(dir.size())) != nullptr;
    });
}

RecordKeeper::RecordKeeper(std::string folder) : folder_(std::move(folder)), earlier_(ReadRecord(folder_))
{
    RemoveStaleTemporaries(folder_);
}

bool RecordKeeper::upToDate(const std::string& name, const std::string& input, const std::string& settings) const
{
    const RecordLine* line = earlierLine(name);
    RecordLine now;
    return line && line->settings == settings && ReadInputState(input, now) && now.input == line->input &&
           now.inputStamp == line->inputStamp;
}

void RecordKeeper::staging(const std::string& name, RecordLine line)
{
    std::vector<RecordLine>& lines = mine_[name];
    lines.clear();
    if (const RecordLine* present = earlierLine(name)) {
        lines.push_back(*present);
        lines.back().pending = false;
    }
    line.pending = true;
    lines.push_back(std::move(line));
    dirty_ = true;
}

void RecordKeeper::committed(const std::string& name)
{
    std::vector<RecordLine>& lines = mine_[name];
    std::erase_if(lines, [](const RecordLine& l) { return !l.pending; });
    for (RecordLine& l : lines) l.pending = false;
    dirty_ = true;
}

void RecordKeeper::dropped(const std::string& name)
{
    std::erase_if(mine_[name], [](const RecordLine& l) { return l.pending; });
    dirty_ = true;
}

void RecordKeeper::save(bool last)
{
    if (disabled_ || !dirty_) return;
    const std::string path = folder_ + RecordFileName;
    const auto give_up = [&](const std::string& why) {
        disabled_ = true;
        Warn(path + "\n", "warning: no record is kept in " + (folder_.empty() ? "./" : folder_) + ": " + why);
    };
    // The lock is on the record itself: once locked, it must still be the
    // file under the name, not one another run has since replaced.
    FileDescriptor fd;
    struct stat held {};
    for (;;) {
        fd = FileDescriptor(::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666));
        if (fd.get() < 0 && errno == EACCES) fd = FileDescriptor(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
        if (fd.get() < 0) return give_up(std::strerror(errno));
        while (::flock(fd.get(), LOCK_EX) != 0)
            if (errno != EINTR) return give_up(std::strerror(errno));
        struct stat named {};
        if (::fstat(fd.get(), &held) == 0 && ::stat(path.c_str(), &named) == 0 && held.st_ino == named.st_ino &&
            held.st_dev == named.st_dev)
            break;
    }
    if (held.st_ino != savedInode_ || StampFrom(held) != savedStamp_) {  // another run saved since
        const std::optional<std::string> bytes = Contents(fd.get());
        others_ = bytes ? Parsed(path, *bytes) : Record();
    }
    Record merged = others_;
    for (const auto& [name, lines] : mine_) {
        if (lines.empty()) merged.erase(name);
        else merged[name] = lines;
    }
    if (last) {
        const std::int64_t now = Now();
        for (auto it = merged.begin(); it != merged.end();) {
            std::vector<RecordLine>& lines = it->second;
            const bool recent = std::any_of(lines.begin(), lines.end(), [now](const RecordLine& l) {
                return l.pending && now - l.output.mtimeNs < PendingGraceNs;
            });
            if (!mine_.contains(it->first) && !recent) {
                const RecordLine* present = MatchingLine(merged, folder_, it->first);
                if (present) {
                    RecordLine kept = *present;
                    kept.pending = false;
                    lines = {std::move(kept)};
                } else lines.clear();
            }
            it = lines.empty() ? merged.erase(it) : std::next(it);
        }
    }
    if (merged.empty()) {  // nothing to remember: no file either
        ::unlink(path.c_str());
        savedInode_ = 0;
        others_.clear();
        dirty_ = false;
        return;
    }
    const std::string text = FormatRecord(merged);
    try {
        StagedFile staged(path, reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), RecordFileName);
        staged.commit();
        savedInode_ = staged.inode();
        savedStamp_ = staged.stamp();
    } catch (const std::exception& e) {
        return give_up(e.what());
    }
    others_ = std::move(merged);
    dirty_ = false;
}

}  // namespace pictavo
