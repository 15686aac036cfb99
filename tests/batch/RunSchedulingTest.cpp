// Jobs side by side: list order, what a picture throws, stop requests.
#include "tests/batch/RunTestSupport.h"

#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>

namespace pictavo {
namespace {

TEST(ListOrderRun, StartsTheCostliestOrTheFirstPicturesFirst)
{
    for (bool costliestFirst : {true, false}) {
        std::mutex lock;
        std::condition_variable both;
        std::vector<int> started;
        const auto process = [&](int i) {
            std::unique_lock guard(lock);
            started.push_back(i);
            both.notify_all();
            // The first two pictures run side by side: hold each until the other began.
            both.wait_for(guard, std::chrono::seconds(5), [&] { return started.size() >= 2; });
            return std::vector<std::uint8_t>{static_cast<std::uint8_t>(i)};
        };
        std::vector<int> committed;
        const auto commit = [&](int i, const std::vector<std::uint8_t>& bytes) {
            EXPECT_EQ(bytes.at(0), i);
            committed.push_back(i);
        };
        RunInListOrder(6, 2, process, commit, std::vector<std::string>(6), {1, 2, 3, 4, 5, 6}, nullptr, costliestFirst);
        EXPECT_EQ(std::set<int>(started.begin(), started.begin() + 2), (costliestFirst ? std::set<int>{4, 5} : std::set<int>{0, 1}));
        EXPECT_EQ(committed, (std::vector<int>{0, 1, 2, 3, 4, 5}));
    }
}

// Whatever a picture throws fails that picture, at any number of jobs.
TEST(ListOrderRun, PicturesWithHugeBuffersTakeTurns)
{
    // The costliest pictures hold the most: costliest first alone would start both at once.
    const std::vector<std::uint64_t> memory{1, 100, 1, 1, 100, 1, 1, 1};
    const std::vector<std::uintmax_t> costs{1, 9, 1, 1, 8, 1, 1, 1};
    ASSERT_EQ(MemoryInFlightLimit(memory, 2), 150u);
    std::mutex lock;
    std::uint64_t held = 0, most = 0;
    const auto process = [&](int i) {
        {
            std::lock_guard guard(lock);
            held += memory[static_cast<std::size_t>(i)];
            most = std::max(most, held);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::lock_guard guard(lock);
        held -= memory[static_cast<std::size_t>(i)];
        return std::vector<std::uint8_t>{static_cast<std::uint8_t>(i)};
    };
    std::vector<int> committed;
    const auto commit = [&](int i, const std::vector<std::uint8_t>&) { committed.push_back(i); };
    RunInListOrder(8, 2, process, commit, std::vector<std::string>(8), costs, nullptr, true, memory);
    EXPECT_LE(most, 101u);  // a huge one beside a small one at most, never two huge ones
    EXPECT_EQ(MemoryInFlightLimit({10, 10, 12}, 2), 22u);  // alike pictures still run two at once
    EXPECT_EQ(committed, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7}));
}

TEST(ListOrderRun, AnythingThrownIsThatPicturesFailure)
{
    const std::vector<std::string> names{"a", "b", "c"};
    const auto process = [](int i) -> std::vector<std::uint8_t> {
        if (i == 1) throw 42;
        return {1};
    };
    for (const int jobs : {1, 2}) {
        std::vector<int> committed;
        const auto commit = [&](int i, const std::vector<std::uint8_t>&) { committed.push_back(i); };
        try {
            RunInListOrder(3, jobs, process, commit, names, {0, 0, 0});
            ADD_FAILURE() << jobs;
        } catch (const ResizeError& e) {
            EXPECT_EQ(e.input(), "b");
            EXPECT_STREQ(e.what(), "Unknown error");
        }
        EXPECT_EQ(committed, std::vector<int>{0});
        std::vector<std::string> failed;
        RunPastFailures(3, jobs, process, commit, names, {0, 0, 0},
                        [&](int, const ResizeError& e) { failed.push_back(e.input() + " " + e.what()); });
        EXPECT_EQ(committed, (std::vector<int>{0, 0, 2}));
        EXPECT_EQ(failed, std::vector<std::string>{"b Unknown error"});
    }
}

TEST(ResizeRun, AStopRequestEndsTheRunBetweenPictures)
{
    for (int jobs : {1, 3}) {
        for (bool costliestFirst : {true, false}) {
            ScratchDir dir;
            for (const char* name : {"a.jpg", "b.jpg", "c.jpg", "d.jpg", "e.jpg", "f.jpg"}) WriteJpeg(dir, name, 320, 200);
            BatchModel model = Scanned(dir);
            const std::vector<std::string> inputs = model.names;
            std::atomic<bool> stop = false;
            RunHooks hooks;
            hooks.written = [&](int index, const std::string&) { stop = index == 1; };
            int position = -1;
            hooks.progressChanged = [&](int p) { position = p; };
            EXPECT_EQ(ErrorOf([&] { RunResize(model, hooks, {.jobs = jobs, .stop = &stop, .costliestFirst = costliestFirst}); }),
                      "Stopped");
            for (const char* name : {"RurOdi01.jpg", "RurOdi02.jpg"}) EXPECT_EQ(JpegSize(dir.file(name)), (Size{160, 100}));
            EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), 9);  // and the record, nothing partial
            EXPECT_EQ(model.names, inputs);
            EXPECT_EQ(position, 1);
        }
    }
}

// A picture in flight is abandoned at once rather than finished: in the JPEG
// library's passes (a progressive file is read whole before its first row)
// or at its next row on the way into the reduction.
TEST(ResizeRun, AStopRequestAbandonsThePictureInFlight)
{
    ScratchDir dir;
    WriteJpeg(dir, "baseline.jpg", 320, 200);
    WriteJpeg(dir, "progressive.jpg", 320, 200, {.progressive = true});
    test::WriteBytes(dir.file("bitmap.bmp"), Bmp24(320, 200));
    BatchModel model;
    model.format = InputFormat::Auto;
    model.sizeIndex = 5;
    for (const char* second : {"baseline.jpg", "progressive.jpg", "bitmap.bmp"})
        for (const int jobs : {1, 2})
            for (const bool keepGoing : {false, true}) {
                SCOPED_TRACE(testing::Message() << second << ", jobs " << jobs << ", keep going " << keepGoing);
                const std::vector<std::string> names = {"baseline.jpg", second, "baseline.jpg"};
                std::atomic<bool> stop = false, secondFinished = false;
                const auto process = [&](int i) {
                    if (i == 1) stop = true;  // as if the window closed while it is read
                    const std::string& name = names[static_cast<std::size_t>(i)];
                    std::vector<std::uint8_t> bytes = ResizeOne(model, dir.file(name), name);
                    if (i == 1) secondFinished = true;
                    return bytes;
                };
                std::vector<int> committed;
                std::vector<std::string> failures;
                const auto commit = [&](int i, const std::vector<std::uint8_t>&) { committed.push_back(i); };
                const auto failed = [&](int, const ResizeError& e) { failures.push_back(e.what()); };
                const std::vector<std::uintmax_t> costs(3, 0);
                EXPECT_EQ(ErrorOf([&] {
                              if (keepGoing) RunPastFailures(3, jobs, process, commit, names, costs, failed, &stop, false);
                              else RunInListOrder(3, jobs, process, commit, names, costs, &stop, false);
                          }),
                          "Stopped");
                EXPECT_TRUE(failures.empty());
                // One job finishes the first picture before the second starts;
                // with two the first may be abandoned too.
                EXPECT_TRUE(committed == std::vector<int>{0} || (jobs > 1 && committed.empty()));
                EXPECT_FALSE(secondFinished);
            }
}

}  // namespace
}  // namespace pictavo
