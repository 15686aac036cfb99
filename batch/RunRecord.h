// The record a run keeps in each folder it writes into: which files there
// are its outputs, what each was made from, and with which settings. Later
// runs use it to skip work already done and to tell earlier outputs from
// photos when they list the folder.
#pragma once

#include "batch/Model.h"
#include "base/Files.h"

#include <algorithm>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pictavo {

// Hidden, and a name no temporary (".pictavo-" and six letters) can take.
inline constexpr const char* RecordFileName = ".pictavo.record";

// The settings that shape an output's bytes as one canonical text: runs
// whose outputs could differ have different keys.
std::string SettingsKey(const BatchModel& model);

// One way an output was written.
struct RecordLine {
    FileStamp output;  // the output's size and modification time
    FileIdentity input{};
    FileStamp inputStamp;
    std::string settings;   // SettingsKey
    std::string inputPath;  // for people reading the record
    bool pending = false;   // saved just before the file was put in place
};
// File name within the folder -> the ways it may have been written.
using Record = std::map<std::string, std::vector<RecordLine>>;

std::string FormatRecord(const Record& record);
// Nothing, with the reason in `why`, for a text this version cannot trust.
std::optional<Record> ParseRecord(std::string_view text, std::string& why);

// The record kept in `folder` (ending in '/'), empty when there is none. One
// that cannot be read counts as none, with a warning.
Record ReadRecord(const std::string& folder);

// Where warnings about records go (nowhere by default); each is given once.
void SetRecordWarnings(std::function<void(const std::string&)> sink);

// The input's identity and stamp, read with one stat; false when it is gone.
bool ReadInputState(const std::string& path, RecordLine& line);

// The line the file now at folder + name matches, or nullptr.
const RecordLine* MatchingLine(const Record& record, const std::string& folder, const std::string& name);

// Drops from `names` (as InputPath(folder, name) reads them) the files their
// folder's record names as outputs that have not changed since.
void DropEarlierOutputs(const std::string& folder, std::vector<std::string>& names);

// Keeps the record of one folder while a run writes into it. Other runs
// writing the same folder at once keep their lines: every save locks the
// record file itself (flock), reads what others saved since, and puts this
// run's lines over theirs.
class RecordKeeper {
public:
    // Reads the record, and removes temporaries killed runs left.
    explicit RecordKeeper(std::string folder);
    // Whether output `name` was, as the run found the record, made from the
    // file now at `input`, unchanged since, with `settings`, and is unchanged
    // itself.
    bool upToDate(const std::string& name, const std::string& input, const std::string& settings) const;
    // The line of the record as the run found it that the file `name` now matches, or nullptr.
    const RecordLine* earlierLine(const std::string& name) const { return MatchingLine(earlier_, folder_, name); }
    // Before output `name` is put in place, to be saved before it is: the
    // record names the file it is about to become alongside the one it is,
    // so that no moment leaves an output of the program unnamed.
    void staging(const std::string& name, RecordLine line);
    // Once it is in place, or when it could not be.
    void committed(const std::string& name);
    void dropped(const std::string& name);
    // Saves this run's lines when it has any; the last save of a run also
    // drops the lines of files that are gone or changed.
    void save(bool last);
    // Lines of the record as last saved, and of this run's.
    std::size_t lines() const { return std::max(earlier_.size(), others_.size()) + mine_.size(); }

private:
    std::string folder_;
    Record earlier_;
    Record mine_;    // this run's lines, by name
    Record others_;  // the record as last read or saved
    ino_t savedInode_ = 0;  // the record this run saved last, to tell whether another saved since
    FileStamp savedStamp_;
    bool dirty_ = false;
    bool disabled_ = false;
};

}  // namespace pictavo
