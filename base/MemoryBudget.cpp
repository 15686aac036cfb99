#include "base/MemoryBudget.h"

#include "base/Errors.h"
#include "base/FreedMemory.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <unistd.h>

namespace pictavo {
namespace {

std::uint64_t DefaultBudget()
{
    constexpr std::uint64_t Cap = std::uint64_t(2) << 30;
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0) return Cap;
    return std::min(Cap, static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize) / 2);
}

struct Budget {
    std::mutex mutex;
    std::condition_variable freed;
    std::uint64_t total = DefaultBudget();
    std::uint64_t held = 0;
    int waiting = 0;  // reservations waiting for others to free memory
};

Budget& TheBudget()
{
    static Budget budget;
    return budget;
}

}  // namespace

std::uint64_t MemoryBudget()
{
    Budget& b = TheBudget();
    std::lock_guard lock(b.mutex);
    return b.total;
}

void SetMemoryBudget(std::uint64_t bytes)
{
    Budget& b = TheBudget();
    {
        std::lock_guard lock(b.mutex);
        b.total = bytes;
    }
    b.freed.notify_all();
}

void CheckMemoryBudget(std::uint64_t bytes)
{
    if (bytes > MemoryBudget()) throw EOutOfMemory();
}

std::uint64_t MemoryBudgetFree()
{
    Budget& b = TheBudget();
    std::lock_guard lock(b.mutex);
    return b.total > b.held ? b.total - b.held : 0;
}

std::size_t MemoryReservationsWaiting()
{
    Budget& b = TheBudget();
    std::lock_guard lock(b.mutex);
    return static_cast<std::size_t>(b.waiting);
}

MemoryReservation::MemoryReservation(std::uint64_t bytes)
{
    Budget& b = TheBudget();
    std::unique_lock lock(b.mutex);
    if (bytes > b.total) throw EOutOfMemory();
    // Nobody else holds anything when held is 0, so a fitting request always
    // gets through eventually.
    const auto fits = [&] { return bytes > b.total || b.held + bytes <= b.total; };
    if (!fits()) {
        ++b.waiting;
        b.freed.wait(lock, fits);
        --b.waiting;
    }
    if (bytes > b.total) throw EOutOfMemory();  // the budget shrank while waiting
    b.held += bytes;
    bytes_ = bytes;
    const std::uint64_t total = b.total;
    lock.unlock();
    ReturnFreedMemoryBeyond(total, bytes);
}

std::optional<MemoryReservation> MemoryReservation::IfFree(std::uint64_t bytes)
{
    Budget& b = TheBudget();
    std::unique_lock lock(b.mutex);
    if (b.waiting > 0 || b.held > b.total || bytes > b.total - b.held) return std::nullopt;
    b.held += bytes;
    const std::uint64_t total = b.total;
    lock.unlock();
    std::optional<MemoryReservation> taken(std::in_place);
    taken->bytes_ = bytes;
    ReturnFreedMemoryBeyond(total, bytes);
    return taken;
}

MemoryReservation& MemoryReservation::operator=(MemoryReservation&& other) noexcept
{
    if (this != &other) {
        release();
        bytes_ = other.bytes_;
        other.bytes_ = 0;
    }
    return *this;
}

void MemoryReservation::release()
{
    if (bytes_ == 0) return;
    Budget& b = TheBudget();
    {
        std::lock_guard lock(b.mutex);
        b.held -= bytes_;
    }
    bytes_ = 0;
    b.freed.notify_all();
}

std::optional<std::uint64_t> ParseMemorySize(const std::string& text)
{
    std::size_t digits = 0;
    std::uint64_t value = 0;
    for (; digits < text.size() && text[digits] >= '0' && text[digits] <= '9'; ++digits) {
        if (value > (std::uint64_t(1) << 62) / 10) return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(text[digits] - '0');
    }
    if (digits == 0 || value == 0) return std::nullopt;
    int shift = 0;
    if (digits + 1 == text.size()) {
        switch (text[digits]) {
        case 'k': case 'K': shift = 10; break;
        case 'm': case 'M': shift = 20; break;
        case 'g': case 'G': shift = 30; break;
        default: return std::nullopt;
        }
    } else if (digits != text.size()) {
        return std::nullopt;
    }
    if (value > (std::uint64_t(1) << (63 - shift))) return std::nullopt;
    return value << shift;
}

}  // namespace pictavo
