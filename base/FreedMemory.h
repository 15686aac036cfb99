// Every picture allocates and frees buffers of many megabytes (the JPEG
// library's coefficient arrays above all). Left alone, the C library hands
// each back to the system at once and maps it afresh for the next picture,
// whose every page is then faulted in again, 4 KiB at a time: on a virtual
// machine that was a fifth of a run's time, and more with two jobs.
#pragma once

namespace pictavo {

// While one lives, freed memory stays in the process for the next picture;
// the memory budget still bounds what is in use at once. The last one to end
// hands the surplus back to the system.
class FreedMemoryKept {
public:
    FreedMemoryKept();
    ~FreedMemoryKept();
    FreedMemoryKept(const FreedMemoryKept&) = delete;
    FreedMemoryKept& operator=(const FreedMemoryKept&) = delete;
};

// Readies the calling thread's heap for pictures while a FreedMemoryKept
// lives: the room its buffers will take is asked to be backed by huge pages
// where the system offers them, so it faults in 2 MiB at a time.
void PrepareHeapForPictures();

}  // namespace pictavo
