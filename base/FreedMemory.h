// Every picture allocates and frees buffers of many megabytes (the JPEG
// library's coefficient arrays above all). Left alone, the C library hands
// each back to the system at once and maps it afresh for the next picture,
// whose every page is then faulted in again, 4 KiB at a time: on a virtual
// machine that was a fifth of a run's time, and more with two jobs.
#pragma once

#include <cstdint>

namespace pictavo {

// While one lives, freed memory stays in the process for the next picture,
// in one heap that every job shares. The last one to end hands the surplus
// back to the system. Settings the user gave the C library's allocator
// through its environment are left alone.
class FreedMemoryKept {
public:
    FreedMemoryKept();
    ~FreedMemoryKept();
    FreedMemoryKept(const FreedMemoryKept&) = delete;
    FreedMemoryKept& operator=(const FreedMemoryKept&) = delete;
};

// Readies the heap for `jobs` pictures at once while a FreedMemoryKept
// lives: the room their buffers will take is asked to be backed by huge
// pages where the system offers them, so it faults in 2 MiB at a time.
// `atOnce`, when not 0, is the most their buffers will hold together (from
// their headers): no more room than that is readied, none for small ones.
void PrepareHeapForPictures(int jobs, std::uint64_t atOnce = 0);

// Kept memory counts against the memory budget like any other: when what
// the process holds from the system, with `more` besides, would pass
// `budget`, what is kept goes back first.
void ReturnFreedMemoryBeyond(std::uint64_t budget, std::uint64_t more);

}  // namespace pictavo
