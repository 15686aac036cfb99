// The record each run keeps in its output folder: what --update skips, what
// a later listing leaves out, and records that cannot be trusted.
#include "batch/FolderScan.h"
#include "batch/ResizeRun.h"
#include "batch/RunRecord.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

namespace pictavo {
namespace {

namespace fs = std::filesystem;
using test::ScratchDir;

void Photo(const std::string& path, int width)
{
    // Written beside and renamed, as a copy replaces a file: a new file.
    test::WriteBytes(path + ".new", test::MakeJpeg(width, 150, test::Gradient));
    fs::rename(path + ".new", path);
}

struct Outcome {
    std::vector<std::string> written, upToDate, failed;
};

Outcome Resize(const std::string& folder, const std::string& output, bool update, int quality = 75)
{
    BatchModel model;
    model.sizeIndex = 5;  // 160 x 120
    model.customQuality = quality;
    ScanFolderPath(model, folder);
    Outcome o;
    RunHooks hooks;
    hooks.written = [&](int, const std::string& name) { o.written.push_back(name); };
    hooks.upToDate = [&](int, const std::string& name) { o.upToDate.push_back(name); };
    hooks.failed = [&](int i, const ResizeError&) { o.failed.push_back(OutputName("RurOdi", i)); };
    RunResize(model, hooks, {.jobs = 2, .outputFolder = output, .keepGoing = true, .update = update});
    return o;
}

using Names = std::vector<std::string>;

TEST(RunRecord, UpdateRedoesOnlyWhatChangedAndMatchesACleanRun)
{
    struct Case {
        const char* what;
        std::function<void(const ScratchDir&)> change;
        Names photos;  // the folder's photos afterwards
        Outcome expected;
        bool update = true;
        int quality = 75;
        bool warns = false;  // and writes into a folder of its own
    };
    const Case cases[] = {
        {"unchanged", [](const ScratchDir&) {}, {"a", "c", "e"}, {{}, {"RurOdi01.jpg", "RurOdi02.jpg", "RurOdi03.jpg"}}},
        {"an input replaced by another file of its name", [](const ScratchDir& d) { Photo(d.file("c.jpg"), 333); },
         {"a", "c", "e"}, {{"RurOdi02.jpg"}, {"RurOdi01.jpg", "RurOdi03.jpg"}}},
        {"an output deleted", [](const ScratchDir& d) { fs::remove(d.file("RurOdi03.jpg")); }, {"a", "c", "e"},
         {{"RurOdi03.jpg"}, {"RurOdi01.jpg", "RurOdi02.jpg"}}},
        {"settings changed", [](const ScratchDir&) {}, {"a", "c", "e"},
         {{"RurOdi01.jpg", "RurOdi02.jpg", "RurOdi03.jpg"}, {}}, true, 90},
        {"a photo added in the middle", [](const ScratchDir& d) { Photo(d.file("b.jpg"), 444); },
         {"a", "b", "c", "e"}, {{"RurOdi02.jpg", "RurOdi03.jpg", "RurOdi04.jpg"}, {"RurOdi01.jpg"}}},
        // Earlier outputs it named are photos now: they are kept apart.
        {"an unreadable record", [](const ScratchDir& d) { test::WriteBytes(d.file("out/.pictavo.record"), {'?'}); },
         {"a", "c", "e"}, {{"RurOdi01.jpg", "RurOdi02.jpg", "RurOdi03.jpg"}, {}}, true, 75, true},
        {"a second plain run in the same folder", [](const ScratchDir&) {}, {"a", "c", "e"},
         {{"RurOdi01.jpg", "RurOdi02.jpg", "RurOdi03.jpg"}, {}}, false},
        {"a picture that fails", [](const ScratchDir& d) { test::WriteBytes(d.file("c.jpg"), {'B', 'M'}); },
         {"a", "c", "e"}, {{}, {"RurOdi01.jpg", "RurOdi03.jpg"}, {"RurOdi02.jpg"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir dir;
        for (const char* name : {"a", "c", "e"}) Photo(dir.file(std::string(name) + ".jpg"), 200 + 7 * name[0]);
        const std::string folder = dir.path().string() + "/";
        const std::string out = c.warns ? folder + "out/" : folder;
        fs::create_directory(out);
        Resize(folder, out, false);
        c.change(dir);
        Names warnings;
        SetRecordWarnings([&](const std::string& w) { warnings.push_back(w); });
        const Outcome o = Resize(folder, out, c.update, c.quality);
        SetRecordWarnings(nullptr);
        EXPECT_EQ(o.written, c.expected.written);
        EXPECT_EQ(o.upToDate, c.expected.upToDate);
        EXPECT_EQ(o.failed, c.expected.failed);
        EXPECT_EQ(warnings.size(), c.warns ? 1u : 0u);

        // The same files as one run over the same photos in a fresh folder,
        // and the record is whole again: the next --update has nothing to do
        // but try the failed pictures again.
        ScratchDir clean;
        for (const std::string& photo : c.photos) fs::copy_file(dir.file(photo + ".jpg"), clean.file(photo + ".jpg"));
        Resize(clean.path().string(), "", false, c.quality);
        for (std::size_t i = 0; i < c.photos.size(); ++i) {
            const std::string output = OutputName("RurOdi", static_cast<int>(i));
            if (std::find(o.failed.begin(), o.failed.end(), output) != o.failed.end()) continue;
            EXPECT_EQ(test::ReadBytes(out + output), test::ReadBytes(clean.file(output))) << output;
        }
        const Outcome again = Resize(folder, out, true, c.quality);
        EXPECT_EQ(again.written, Names());
        EXPECT_EQ(again.failed, o.failed);
        EXPECT_EQ(again.upToDate.size() + again.failed.size(), c.photos.size());
    }
}

TEST(RunRecord, UntrustedRecordsAreIgnoredAndLinesRoundTrip)
{
    RecordLine line{{1234, 1733740000123456789}, {2049, 99}, {3000, 1733700000000000007}, "size=1 q\t2", "/p/a\\b\nc.jpg"};
    const Record record = {{"Rur\tOdi01.jpg", {line}}, {"x.jpg", {line, line}}};
    std::string why;
    const std::optional<Record> back = ParseRecord(FormatRecord(record), why);
    ASSERT_TRUE(back) << why;
    EXPECT_EQ(FormatRecord(*back), FormatRecord(record));
    EXPECT_EQ(back->at("x.jpg").size(), 2u);

    const std::string good = FormatRecord(record);
    const struct {
        std::string text;
        const char* why;
    } untrusted[] = {
        {"GIF89a", "not a record of pictavo's"},
        {"pictavo record 2\n", "written by another version of pictavo"},
        {good.substr(0, good.size() - 3), "it is cut short"},
        {good + "done\t../a.jpg\t1\t2\t3\t4\t5\t6\t1\tx\n", "damaged at line 5"},
        {good + "done\ta.jpg\t1\t2\t3\t4\t5\t6\t9\tx\n", "damaged at line 5"},
        {good + "done\ta.jpg\t1\t-\t3\t4\t5\t6\t1\tx\n", "damaged at line 5"},
    };
    for (const auto& u : untrusted) {
        EXPECT_FALSE(ParseRecord(u.text, why)) << u.text;
        EXPECT_EQ(why, u.why) << u.text;
    }
}

}  // namespace
}  // namespace pictavo
