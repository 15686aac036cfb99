#include "base/AllocationCap.h"

#include <cstdint>
#include <cstdlib>
#include <new>

namespace pictavo {
namespace {

thread_local std::size_t Cap = SIZE_MAX;

}  // namespace

AllocationCap::AllocationCap(std::size_t bytes) : previous_(Cap) { Cap = bytes < Cap ? bytes : Cap; }
AllocationCap::~AllocationCap() { Cap = previous_; }

}  // namespace pictavo

#if defined(__SANITIZE_ADDRESS__)
#define PICTAVO_OWN_NEW 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PICTAVO_OWN_NEW 0
#endif
#endif
#ifndef PICTAVO_OWN_NEW
#define PICTAVO_OWN_NEW 1
#endif

// The sanitizers keep their own heap; elsewhere the program's operator new
// checks the cap and otherwise does what the standard one does.
#if PICTAVO_OWN_NEW
void* operator new(std::size_t size)
{
    if (size > pictavo::Cap) throw std::bad_alloc();
    for (;;) {
        if (void* p = std::malloc(size ? size : 1)) return p;
        const std::new_handler handler = std::get_new_handler();
        if (!handler) throw std::bad_alloc();
        handler();
    }
}

void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
#endif
