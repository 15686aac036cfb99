#include "base/Errors.h"
#include "base/MemoryBudget.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

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
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(granted);
    EXPECT_EQ(MemoryBudgetFree(), 300u);
    first.reset();
    second.join();
    EXPECT_TRUE(granted);
    EXPECT_EQ(MemoryBudgetFree(), 1000u);
}

}  // namespace
}  // namespace pictavo
