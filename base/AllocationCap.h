// Libraries that size their buffers from a file's own words (a picture grid,
// a coded size) can ask for gigabytes before anything of ours sees the
// request. While an AllocationCap lives, any single allocation of the C++
// heap on its thread larger than the cap fails with std::bad_alloc instead,
// which the decoder reports as "Out of memory".
#pragma once

#include <cstddef>

namespace pictavo {

class AllocationCap {
public:
    explicit AllocationCap(std::size_t bytes);
    ~AllocationCap();
    AllocationCap(const AllocationCap&) = delete;
    AllocationCap& operator=(const AllocationCap&) = delete;

private:
    std::size_t previous_;
};

}  // namespace pictavo
