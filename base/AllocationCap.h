// Libraries that size their buffers from a file's own words (a picture grid,
// a coded size) can ask for gigabytes before anything of ours sees the
// request, some of them on threads of their own. While an AllocationCap
// lives, a single allocation of the C++ heap larger than the cap fails with
// std::bad_alloc instead, which the decoder reports as "Out of memory":
// always on the thread that holds the cap, and on every other thread unless
// the memory budget has handed out as much (another job's honest picture).
#pragma once

#include <cstddef>
#include <cstdint>

namespace pictavo {

class AllocationCap {
public:
    explicit AllocationCap(std::size_t bytes);
    ~AllocationCap();
    AllocationCap(const AllocationCap&) = delete;
    AllocationCap& operator=(const AllocationCap&) = delete;

private:
    std::size_t bytes_;
    std::size_t previous_;
    AllocationCap* next_ = nullptr;
};

// How many allocations the caps have refused since the program started: a
// library that reports a refused allocation as a failure of its own (a
// decoder plugin's "Unspecified") is then known to have run out of memory.
std::uint64_t AllocationsRefused();

// False where a runtime linked in statically (a sanitizer's) owns operator
// new, so caps are not enforced.
bool AllocationCapEnforced();

}  // namespace pictavo
