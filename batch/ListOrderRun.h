// Work on several pictures at once whose results are still committed one by
// one in list order.
#pragma once

#include "batch/ResizeError.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace pictavo {

// Runs process(i) for every picture, on `jobs` threads, and commit(i, bytes)
// on the calling thread strictly in list order. With costliestFirst the
// costliest picture (by `costs`) of the look-ahead window is started first,
// so a large one late in the list does not run alone at the end; without it
// pictures start in list order. Once *stop is true nothing more is started
// or committed: work in flight is abandoned at its next row (the threads
// running process() name `stop` as their stop flag) and dropped, and
// RunStopped leaves. A failure at picture i stops the
// run there exactly as a one-at-a-time run would: pictures before i are
// committed, none after, and work already started is waited for and dropped.
// The failure leaves as a ResizeError naming names[i].
// When `memory` gives what each picture holds while it is worked on (0 when
// unknown), pictures are started only while those in flight hold no more
// than the largest alone and, for each further job, half the largest or a
// typical one (the median), whichever is more: two pictures with huge
// buffers do not run at once, one beside a smaller one does. A picture
// always starts when none is in flight.
void RunInListOrder(int count, int jobs, const std::function<std::vector<std::uint8_t>(int)>& process,
                    const std::function<void(int, const std::vector<std::uint8_t>&)>& commit,
                    const std::vector<std::string>& names, const std::vector<std::uintmax_t>& costs,
                    const std::atomic<bool>* stop = nullptr, bool costliestFirst = true,
                    const std::vector<std::uint64_t>& memory = {});

// What pictures of `memory` (as above) may hold at once with `jobs` jobs;
// 0 when nothing is known.
std::uint64_t MemoryInFlightLimit(const std::vector<std::uint64_t>& memory, int jobs);

// The same, but a failing picture does not stop the run: failed(i, error)
// is called in its place in list order, and the run goes on.
void RunPastFailures(int count, int jobs, const std::function<std::vector<std::uint8_t>(int)>& process,
                     const std::function<void(int, const std::vector<std::uint8_t>&)>& commit,
                     const std::vector<std::string>& names, const std::vector<std::uintmax_t>& costs,
                     const std::function<void(int, const ResizeError&)>& failed,
                     const std::atomic<bool>* stop = nullptr, bool costliestFirst = true,
                     const std::vector<std::uint64_t>& memory = {});

}  // namespace pictavo
