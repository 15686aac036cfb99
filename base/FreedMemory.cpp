#include "base/FreedMemory.h"

#include <climits>
#include <mutex>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace pictavo {
namespace {

std::mutex Lock;
int Holders = 0;

#if defined(__GLIBC__)
// The largest size the C library will serve from its heap rather than a
// mapping of its own; larger blocks are mapped and returned as before.
constexpr int LargestKept = 32 << 20;
// The C library's own settings, as documented for mallopt.
constexpr int DefaultMappingThreshold = 128 << 10;
constexpr int DefaultTrimThreshold = 128 << 10;
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

}  // namespace pictavo
