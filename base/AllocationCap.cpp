#include "base/AllocationCap.h"

#include "base/MemoryBudget.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <new>

namespace pictavo {
namespace {

// The tightest cap the current thread holds.
thread_local std::size_t ThreadCap = SIZE_MAX;

// The largest cap any thread holds: what library threads are held to.
std::atomic<std::size_t> ProcessCap = SIZE_MAX;
std::atomic<std::uint64_t> Refused = 0;
std::mutex CapsMutex;
AllocationCap* LiveCaps = nullptr;

}  // namespace

AllocationCap::AllocationCap(std::size_t bytes) : bytes_(bytes), previous_(ThreadCap)
{
    ThreadCap = bytes < ThreadCap ? bytes : ThreadCap;
    const std::lock_guard lock(CapsMutex);
    next_ = LiveCaps;
    LiveCaps = this;
    std::size_t largest = 0;
    for (const AllocationCap* c = LiveCaps; c; c = c->next_) largest = c->bytes_ > largest ? c->bytes_ : largest;
    ProcessCap.store(largest, std::memory_order_relaxed);
}

AllocationCap::~AllocationCap()
{
    ThreadCap = previous_;
    const std::lock_guard lock(CapsMutex);
    std::size_t largest = 0;
    bool any = false;
    for (AllocationCap** c = &LiveCaps; *c;) {
        if (*c == this) {
            *c = next_;
            continue;
        }
        largest = (*c)->bytes_ > largest ? (*c)->bytes_ : largest;
        any = true;
        c = &(*c)->next_;
    }
    ProcessCap.store(any ? largest : SIZE_MAX, std::memory_order_relaxed);
}

std::uint64_t AllocationsRefused() { return Refused.load(std::memory_order_relaxed); }

bool AllocationCapEnforced()
{
    // Only this thread's cap, so no other thread ever sees the probe.
    const std::size_t previous = ThreadCap;
    ThreadCap = 1;
    bool enforced = false;
    try {
        void* volatile probe = ::operator new(2);  // kept, so the pair is not optimised away
        ::operator delete(probe);
    } catch (const std::bad_alloc&) {
        enforced = true;
    }
    ThreadCap = previous;
    return enforced;
}

}  // namespace pictavo

namespace {

bool OverCap(std::size_t size)
{
    using namespace pictavo;
    if (size > ThreadCap) return true;
    if (size <= ProcessCap.load(std::memory_order_relaxed)) return false;
    // Another job may take this much for its own picture, reserved first.
    const std::uint64_t budget = MemoryBudget();
    const std::uint64_t free = MemoryBudgetFree();
    return size > (budget > free ? budget - free : 0);
}

void* Allocate(std::size_t size, std::size_t alignment, bool nothrow)
{
    if (OverCap(size)) {
        pictavo::Refused.fetch_add(1, std::memory_order_relaxed);
        if (nothrow) return nullptr;
        throw std::bad_alloc();
    }
    if (size == 0) size = 1;
    for (;;) {
        void* p = nullptr;
        if (alignment <= alignof(std::max_align_t)) p = std::malloc(size);
        else if (posix_memalign(&p, alignment, size) != 0) p = nullptr;
        if (p) return p;
        const std::new_handler handler = std::get_new_handler();
        if (!handler) {
            if (nothrow) return nullptr;
            throw std::bad_alloc();
        }
        if (nothrow) {
            try {
                handler();
            } catch (const std::bad_alloc&) {
                return nullptr;
            }
        } else {
            handler();
        }
    }
}

constexpr std::size_t Plain = 0;

}  // namespace

// The program's operator new checks the caps and otherwise does what the
// standard one does. Every form is replaced, so whatever one form allocates
// another frees. Weak, so a sanitizer runtime linked in statically keeps its
// own (AllocationCapEnforced() then says false); one linked in as a shared
// library sees these as the program's.
#define PICTAVO_WEAK __attribute__((weak))
PICTAVO_WEAK void* operator new(std::size_t size) { return Allocate(size, Plain, false); }
PICTAVO_WEAK void* operator new[](std::size_t size) { return Allocate(size, Plain, false); }
PICTAVO_WEAK void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size, Plain, true); }
PICTAVO_WEAK void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size, Plain, true); }
PICTAVO_WEAK void* operator new(std::size_t size, std::align_val_t a) { return Allocate(size, std::size_t(a), false); }
PICTAVO_WEAK void* operator new[](std::size_t size, std::align_val_t a) { return Allocate(size, std::size_t(a), false); }
PICTAVO_WEAK void* operator new(std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept
{
    return Allocate(size, std::size_t(a), true);
}
PICTAVO_WEAK void* operator new[](std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept
{
    return Allocate(size, std::size_t(a), true);
}
PICTAVO_WEAK void operator delete(void* p) noexcept { std::free(p); }
PICTAVO_WEAK void operator delete[](void* p) noexcept { std::free(p); }
PICTAVO_WEAK void operator delete(void* p, std::size_t) noexcept { std::free(p); }
PICTAVO_WEAK void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
PICTAVO_WEAK void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
PICTAVO_WEAK void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
PICTAVO_WEAK void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
PICTAVO_WEAK void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
PICTAVO_WEAK void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
PICTAVO_WEAK void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
PICTAVO_WEAK void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free(p); }
PICTAVO_WEAK void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free(p); }
