// Every picture allocates and frees buffers of many megabytes (the JPEG
// library's coefficient arrays above all). Left alone, the C library hands
// each back to the system at once and maps it afresh for the next picture,
// whose every page is then faulted in again: on a virtual machine that was a
// fifth of a run's time. While a FreedMemoryKept lives, freed memory stays in
// the process for the next picture; the memory budget still bounds what is in
// use at once, and the last one to end hands the surplus back.
#pragma once

namespace pictavo {

class FreedMemoryKept {
public:
    FreedMemoryKept();
    ~FreedMemoryKept();
    FreedMemoryKept(const FreedMemoryKept&) = delete;
    FreedMemoryKept& operator=(const FreedMemoryKept&) = delete;
};

}  // namespace pictavo
