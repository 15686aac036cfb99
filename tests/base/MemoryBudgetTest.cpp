#include "base/Errors.h"
#include "base/FreedMemory.h"
#include "base/MemoryBudget.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace pictavo {
namespace {

TEST(MemoryBudget, SizesOnTheCommandLine)
{
    const struct {
        const char* text;
        std::uint64_t bytes;  // 0: refused
    } cases[] = {
        {"123", 123}, {"64K", 64 << 10}, {"512m", 512 << 20}, {"2G", std::uint64_t(2) << 30},
        {"", 0},      {"0", 0},          {"12MB", 0},         {"-1", 0},
        {"G", 0},     {"1.5G", 0},       {"99999999999G", 0}, {"9223372036854775807", 0},
    };
    for (const auto& c : cases) EXPECT_EQ(ParseMemorySize(c.text).value_or(0), c.bytes) << c.text;
}

// A reservation that does not fit waits for others to be returned; one
// larger than the whole budget fails at once.
TEST(MemoryBudget, ReservationsShareTheBudget)
{
    const ScopedMemoryBudget budget(1000);
    EXPECT_THROW(MemoryReservation(1001), EOutOfMemory);
    auto first = std::make_unique<MemoryReservation>(700);
    std::atomic<bool> granted = false;
    std::thread second([&] {
        const MemoryReservation r(600);
        granted = true;
    });
    while (MemoryReservationsWaiting() == 0) std::this_thread::yield();
    EXPECT_FALSE(granted);
    EXPECT_EQ(MemoryBudgetFree(), 300u);
    first.reset();
    second.join();
    EXPECT_TRUE(granted);
    EXPECT_EQ(MemoryBudgetFree(), 1000u);
}

// A run keeps what its pictures free for the next one, and hands it back to
// the system when it ends: the window lives on after a run.
TEST(FreedMemory, KeptDuringARunAndHandedBackAfter)
{
#if !defined(__GLIBC__) || defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the C library's own heap statistics are needed";
#else
    constexpr std::size_t Block = 16 << 20;
    const auto held = [] { return mallinfo2().arena; };  // bytes the main heap holds from the system
    {
        const FreedMemoryKept kept;
        const std::size_t before = held();
        void* block = std::malloc(Block);
        ASSERT_NE(block, nullptr);
        static_cast<volatile char*>(block)[0] = 1;
        std::free(block);
        EXPECT_GE(held(), before + Block);
    }
    EXPECT_LT(held(), std::size_t(Block));
    // The C library's own thresholds stay in force after it: a megabyte is
    // served from the heap, not mapped on its own as fixed defaults would.
    const std::size_t mapped = mallinfo2().hblkhd;
    void* block = std::malloc(1 << 20);
    EXPECT_EQ(mallinfo2().hblkhd, mapped);
    std::free(block);
#endif
}

}  // namespace
}  // namespace pictavo
