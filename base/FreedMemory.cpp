#include "base/FreedMemory.h"

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <mutex>

#if defined(__GLIBC__)
#include <malloc.h>
#include <sys/mman.h>
#endif

namespace pictavo {
namespace {

std::mutex Lock;
int Holders = 0;

#if defined(__GLIBC__)
// The largest block the C library will serve from its heaps rather than from
// a mapping of its own (its ceiling on 64-bit systems); larger blocks are
// mapped and returned at once, as before.
constexpr int LargestKept = 32 << 20;
// The C library's own settings, as documented for mallopt.
constexpr int DefaultMappingThreshold = 128 << 10;
constexpr int DefaultTrimThreshold = 128 << 10;
constexpr std::uintptr_t HugePage = 2 << 20;
#endif

}  // namespace

FreedMemoryKept::FreedMemoryKept()
{
    std::lock_guard guard(Lock);
    if (Holders++ > 0) return;
#if defined(__GLIBC__)
    mallopt(M_MMAP_THRESHOLD, LargestKept);
    mallopt(M_TRIM_THRESHOLD, INT_MAX);
#endif
}

FreedMemoryKept::~FreedMemoryKept()
{
    std::lock_guard guard(Lock);
    if (--Holders > 0) return;
#if defined(__GLIBC__)
    mallopt(M_TRIM_THRESHOLD, DefaultTrimThreshold);
    mallopt(M_MMAP_THRESHOLD, DefaultMappingThreshold);
    malloc_trim(0);
#endif
}

void PrepareHeapForPictures()
{
#if defined(__GLIBC__)
    {
        std::lock_guard guard(Lock);
        if (Holders == 0) return;
    }
    // One block as large as the heap serves grows this thread's heap by that
    // much without touching it; marked and freed, it stays there (nothing is
    // trimmed while memory is kept), and the picture buffers carved from it
    // later fault in as huge pages.
    const std::size_t bytes = LargestKept - 4096;
    void* block = std::malloc(bytes);
    if (block == nullptr) return;
    const auto start = reinterpret_cast<std::uintptr_t>(block);
    const std::uintptr_t first = (start + HugePage - 1) & ~(HugePage - 1);
    const std::uintptr_t last = (start + bytes) & ~(HugePage - 1);
    if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
    std::free(block);
#endif
}

}  // namespace pictavo
