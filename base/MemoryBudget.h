// One budget covers all large memory of the process: file bytes, rasters,
// row buffers and the JPEG library's arrays. Every size a file declares is
// checked against it before memory is allocated, and parallel jobs share it,
// so a few tiny hostile files cannot take the machine's memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace pictavo {

// The whole budget in bytes. By default the smaller of 2 GiB and half the
// physical memory.
std::uint64_t MemoryBudget();
void SetMemoryBudget(std::uint64_t bytes);
// Raises "Out of memory" when `bytes` exceeds the whole budget. It holds
// nothing and counts no reservation: it guards an allocation that no
// reservation covers (a source's header, the window's preview, a decoder
// used on its own), or a size a file declares only as it is decoded.
void CheckMemoryBudget(std::uint64_t bytes);
// What no reservation holds at the moment.
std::uint64_t MemoryBudgetFree();
// How many reservations are waiting for memory others hold: a run that
// seems stuck may only be waiting.
std::size_t MemoryReservationsWaiting();

// A share of the budget held for one picture's work, returned when it ends.
// Waits while the other holders leave too little free; raises "Out of
// memory" at once when `bytes` exceeds the whole budget. A picture takes one
// reservation for all it needs, so two jobs can never wait on each other.
class MemoryReservation {
public:
    MemoryReservation() = default;
    explicit MemoryReservation(std::uint64_t bytes);
    // Takes `bytes` only when they are free now and no holder is waiting
    // for memory (a waiting one goes first); nothing otherwise. Never waits.
    static std::optional<MemoryReservation> IfFree(std::uint64_t bytes);
    ~MemoryReservation() { release(); }
    MemoryReservation(MemoryReservation&& other) noexcept : bytes_(other.bytes_) { other.bytes_ = 0; }
    MemoryReservation& operator=(MemoryReservation&& other) noexcept;
    MemoryReservation(const MemoryReservation&) = delete;
    MemoryReservation& operator=(const MemoryReservation&) = delete;

    std::uint64_t bytes() const { return bytes_; }
    void release();

private:
    std::uint64_t bytes_ = 0;
};

// Sets the budget for a scope and restores the previous one after.
class ScopedMemoryBudget {
public:
    explicit ScopedMemoryBudget(std::uint64_t bytes) : previous_(MemoryBudget()) { SetMemoryBudget(bytes); }
    ~ScopedMemoryBudget() { SetMemoryBudget(previous_); }
    ScopedMemoryBudget(const ScopedMemoryBudget&) = delete;
    ScopedMemoryBudget& operator=(const ScopedMemoryBudget&) = delete;

private:
    std::uint64_t previous_;
};

// "123", "64K", "512M", "2G" (letters in either case) as bytes; nothing for
// anything else, 0 or a size past 2^63.
std::optional<std::uint64_t> ParseMemorySize(const std::string& text);

}  // namespace pictavo
