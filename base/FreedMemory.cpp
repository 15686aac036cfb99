#include "base/FreedMemory.h"

#include "base/MemoryBudget.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#if defined(__GLIBC__)
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace pictavo {
namespace {

std::mutex Lock;
int Holders = 0;  // FreedMemoryKept objects alive
bool Tuned = false;  // the allocator's settings are this program's
std::vector<void*> Pins;  // small blocks above the readied room, freed at the end
// What the process held when last looked at, and the reservations made
// since: large memory is reserved before it is taken, so the process holds
// no more than their sum, give or take small blocks.
bool Looked = false;
std::uint64_t LastHeld = 0;
std::uint64_t ReservedSince = 0;

#if defined(__GLIBC__)
// The largest block the C library will serve from its heaps rather than from
// a mapping of its own (the ceiling of its dynamic threshold on 64-bit
// systems); larger blocks are mapped and returned at once, as before.
constexpr int LargestKept = 32 << 20;
constexpr std::size_t BlockOverhead = 8192;  // enough that a block and its header stay below the ceiling
constexpr std::uintptr_t HugePage = 2 << 20;
// Room readied for each job: a picture of three components, each just small
// enough to be kept (about 15 megapixels, progressive, at full colour).
constexpr std::uint64_t RoomPerJob = 3 * std::uint64_t(LargestKept);

bool UserTunedAllocator()
{
    for (const char* name :
         {"MALLOC_MMAP_THRESHOLD_", "MALLOC_TRIM_THRESHOLD_", "MALLOC_TOP_PAD_", "MALLOC_MMAP_MAX_", "MALLOC_ARENA_MAX"})
        if (std::getenv(name) != nullptr) return true;
    const char* tunables = std::getenv("GLIBC_TUNABLES");
    return tunables != nullptr && std::strstr(tunables, "glibc.malloc.") != nullptr;
}

void ReadyRoom(int jobs, std::uint64_t atOnce)
{
    // Blocks taken one after another grow the heap without touching it;
    // marked and freed, they stay there (nothing is trimmed while memory is
    // kept), and the picture buffers carved from them later fault in as huge
    // pages. Each is as large as the heap serves; a small budget gets less.
    std::uint64_t room = std::min<std::uint64_t>(std::uint64_t(std::max(jobs, 1)) * RoomPerJob, MemoryBudget() / 8);
    if (atOnce > 0) room = std::min(room, atOnce);
    std::vector<void*> blocks;
    while (room >= HugePage) {
        const std::size_t bytes = std::min<std::uint64_t>(room, LargestKept - BlockOverhead);
        void* block = std::malloc(bytes);
        if (block == nullptr) break;
        blocks.push_back(block);
        room -= bytes;
        const auto start = reinterpret_cast<std::uintptr_t>(block);
        const std::uintptr_t first = (start + HugePage - 1) & ~(HugePage - 1);
        const std::uintptr_t last = (start + bytes) & ~(HugePage - 1);
        if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
    }
    if (blocks.empty()) return;
    // The C library hands the free top of its heap back as soon as it passes
    // twice its threshold; the start of the highest block stays taken above
    // the others, so the room below it is kept until the run ends.
    const auto highest = std::max_element(blocks.begin(), blocks.end());
    Pins.push_back(std::realloc(*highest, 64));  // shrinks in place
    blocks.erase(highest);
    for (void* block : blocks) std::free(block);
}

// The C library raises its thresholds itself, as it does whenever a large
// mapped block is freed; setting them would end that for the rest of the
// process, which the window outlives a run by.
void RaiseThresholds()
{
    void* block = std::malloc(LargestKept - BlockOverhead);
    if (block != nullptr) static_cast<volatile char*>(block)[0] = 0;
    std::free(block);
}
#endif

}  // namespace

FreedMemoryKept::FreedMemoryKept()
{
    std::lock_guard guard(Lock);
    if (Holders++ > 0) return;
    Looked = false;
#if defined(__GLIBC__)
    Tuned = !UserTunedAllocator();
    if (!Tuned) return;
    // Jobs share one heap, so that what one job frees serves the next
    // picture of any job, and what is kept can be handed back when the
    // budget needs it: malloc_trim left a running thread's own heap as it
    // was. It stays so once set, as the C library fixes its number of heaps
    // the first time it chooses one.
    mallopt(M_ARENA_MAX, 1);
    RaiseThresholds();
#endif
}

FreedMemoryKept::~FreedMemoryKept()
{
    std::lock_guard guard(Lock);
    if (--Holders > 0 || !Tuned) return;
    Tuned = false;
#if defined(__GLIBC__)
    for (void* pin : Pins) std::free(pin);
    Pins.clear();
    malloc_trim(0);
#endif
}

void PrepareHeapForPictures(int jobs, std::uint64_t atOnce)
{
#if defined(__GLIBC__)
    std::lock_guard guard(Lock);
    if (Tuned) ReadyRoom(jobs, atOnce);
#else
    (void)jobs;
    (void)atOnce;
#endif
}

void ReturnFreedMemoryBeyond(std::uint64_t budget, std::uint64_t more)
{
#if defined(__GLIBC__)
    {
        // Looking costs three system calls a reservation, a tenth of a small
        // picture's resize: skipped while what the process can hold stays
        // clear of the budget, with an eighth of it to spare for small blocks.
        std::lock_guard guard(Lock);
        if (!Tuned) return;
        if (Looked && LastHeld + ReservedSince + more <= budget - budget / 8) {
            ReservedSince += more;
            return;
        }
    }
    // What the process holds in memory now: the second field, in pages.
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    if (statm == nullptr) return;
    unsigned long long pages = 0, resident = 0;
    const bool read = std::fscanf(statm, "%llu %llu", &pages, &resident) == 2;
    std::fclose(statm);
    const std::uint64_t held = resident * static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
    const bool trim = !read || held + more > budget;
    // Under the lock: when another allocator serves the program's blocks (a
    // sanitizer's, or one preloaded), this may be the first call into the C
    // library's own, which sets itself up unsafely if two threads come at
    // once, and aborts as the second of them ends.
    std::lock_guard guard(Lock);
    if (trim) malloc_trim(0);
    Looked = !trim;  // after a trim, the next reservation looks again
    LastHeld = held;
    ReservedSince = more;
#else
    (void)budget;
    (void)more;
#endif
}

}  // namespace pictavo
