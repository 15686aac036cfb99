// The BMP Suite's questionable and bad files must load or fail with one of
// the reader's messages, never crash.
#include "tests/codecs/BmpSuite.h"

#include <cstdio>
#include <cstdlib>
#include <set>

namespace pictavo {
namespace {

TEST(BmpSuite, QuestionableAndBadFilesLoadOrFailCleanly)
{
    if (Suite().empty()) GTEST_SKIP() << "no shared corpus";
    const std::set<std::string> messages = {"Stream read error", "Bitmap image is not valid", "Out of memory"};
    // No file here may need more than this; declared sizes beyond it fail.
    const ScopedMemoryBudget budget(std::uint64_t(64) << 20);
    for (const std::string group : {"q", "b"}) {
        for (const fs::path& file : Files(group)) {
            Raster24 r;
            std::string outcome = "loads";
            try {
                LoadBitmapFile(r, file.string());
                r.make24Bit();
            } catch (const std::exception& e) {
                outcome = e.what();
                EXPECT_TRUE(messages.count(outcome)) << file << ": " << outcome;
            }
            if (std::getenv("PICTAVO_SUITE_REPORT"))
                std::printf("%s/%s: %s\n", group.c_str(), file.filename().c_str(), outcome.c_str());
        }
    }
}

}  // namespace
}  // namespace pictavo
