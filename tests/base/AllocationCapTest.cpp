#include "base/AllocationCap.h"
#include "base/MemoryBudget.h"

#include <gtest/gtest.h>

#include <new>
#include <thread>

namespace pictavo {
namespace {

bool Allocates(std::size_t bytes)
{
    try {
        char* volatile kept = new char[bytes];  // volatile, so the pair is not optimised away
        delete[] kept;
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool AllocatesOnAnotherThread(std::size_t bytes)
{
    bool result = false;
    std::thread([&] { result = Allocates(bytes); }).join();
    return result;
}

// A library's own threads are held to the cap too, unless the budget has
// handed out as much to someone (another job's picture).
TEST(AllocationCap, HoldsOnEveryThreadWhileItLives)
{
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    ASSERT_TRUE(AllocationCapEnforced());
#endif
    if (!AllocationCapEnforced()) GTEST_SKIP() << "the sanitizer runtime owns operator new: caps are not enforced";
    constexpr std::size_t MiB = 1 << 20;
    const ScopedMemoryBudget budget(64 * MiB);
    {
        const AllocationCap cap(MiB);
        EXPECT_TRUE(Allocates(MiB));
        EXPECT_FALSE(Allocates(2 * MiB));
        EXPECT_FALSE(AllocatesOnAnotherThread(2 * MiB));
        {
            const AllocationCap looser(8 * MiB);
            EXPECT_FALSE(Allocates(2 * MiB));  // the holder keeps its own
            EXPECT_TRUE(AllocatesOnAnotherThread(4 * MiB));
            EXPECT_FALSE(AllocatesOnAnotherThread(16 * MiB));
        }
        const MemoryReservation honest(4 * MiB);
        EXPECT_TRUE(AllocatesOnAnotherThread(4 * MiB));
        EXPECT_FALSE(AllocatesOnAnotherThread(5 * MiB));
        EXPECT_FALSE(Allocates(2 * MiB));
    }
    EXPECT_TRUE(Allocates(16 * MiB));
    EXPECT_TRUE(AllocatesOnAnotherThread(16 * MiB));
}

}  // namespace
}  // namespace pictavo
