#include "batch/ListOrderRun.h"

#include "base/Stop.h"
#include "batch/ResizeError.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

namespace pictavo {
namespace {

// The window of pictures ahead of the last one written that may be worked
// on; their results are small encoded files, so memory stays bounded.
constexpr int Ahead = 32;

// The exception being handled as the failure of picture `name`; whatever was
// thrown, the run reports it rather than ending the process.
[[noreturn]] void FailAt(const std::string& name)
{
    try {
        throw;
    } catch (const RunStopped&) {
        throw;
    } catch (const ResizeError& e) {
        // A commit may put earlier pictures in place too: a failure that
        // names its picture keeps it.
        throw ResizeError(e, e.input().empty() ? name : e.input());
    } catch (const std::exception& e) {
        throw ResizeError(e, name);
    } catch (...) {
        throw ResizeError("Unknown error", name);
    }
}

}  // namespace

std::uint64_t MemoryInFlightLimit(const std::vector<std::uint64_t>& memory, int jobs)
{
    if (memory.empty() || *std::max_element(memory.begin(), memory.end()) == 0) return 0;
    std::vector<std::uint64_t> sorted = memory;
    const auto middle = sorted.begin() + static_cast<std::ptrdiff_t>(sorted.size() / 2);
    std::nth_element(sorted.begin(), middle, sorted.end());
    const std::uint64_t largest = *std::max_element(memory.begin(), memory.end());
    return largest + static_cast<std::uint64_t>(std::max(jobs - 1, 0)) * std::max(*middle, largest / 2);
}

void RunInListOrder(int count, int jobs, const std::function<std::vector<std::uint8_t>(int)>& process,
                    const std::function<void(int, const std::vector<std::uint8_t>&)>& commit,
                    const std::vector<std::string>& names, const std::vector<std::uintmax_t>& costs,
                    const std::atomic<bool>* stop, bool costliestFirst, const std::vector<std::uint64_t>& memory)
{
    const auto stopRequested = [stop] { return stop != nullptr && stop->load(); };
    const auto fail = [&](int i) { FailAt(names[static_cast<std::size_t>(i)]); };
    const auto oneAtATime = [&] {
        const StopFlagOfThread flag(stop);
        for (int i = 0; i < count; ++i) {
            if (stopRequested()) throw RunStopped();
            std::vector<std::uint8_t> bytes;
            try {
                bytes = process(i);
            } catch (...) {
                fail(i);
            }
            if (stopRequested()) throw RunStopped();
            try {
                commit(i, bytes);
            } catch (...) {
                fail(i);
            }
        }
    };
    if (jobs == 1 || count <= 1) return oneAtATime();

    struct Result {
        bool ready = false;
        std::vector<std::uint8_t> bytes;
        std::exception_ptr error;
    };
    std::vector<Result> results(static_cast<std::size_t>(count));
    std::vector<bool> started(static_cast<std::size_t>(count));
    std::mutex lock;
    std::condition_variable changed;
    int committed = 0, remaining = count;
    bool done = false;
    const bool limited = memory.size() == static_cast<std::size_t>(count);
    const std::uint64_t limit = limited ? MemoryInFlightLimit(memory, jobs) : 0;
    std::uint64_t inFlight = 0;  // what the pictures being worked on hold
    const auto held = [&](int i) { return limited ? memory[static_cast<std::size_t>(i)] : 0; };
    // The next picture to start within the window, or -1.
    const auto pick = [&] {
        int best = -1;
        if (stopRequested()) return best;
        for (int i = committed; i < std::min(count, committed + Ahead); ++i) {
            if (started[static_cast<std::size_t>(i)]) continue;
            if (inFlight > 0 && inFlight + held(i) > limit) continue;  // waits for those in flight
            if (!costliestFirst) return i;
            if (best < 0 || costs[static_cast<std::size_t>(i)] > costs[static_cast<std::size_t>(best)]) best = i;
        }
        return best;
    };

    const auto worker = [&] {
        const StopFlagOfThread flag(stop);
        for (;;) {
            std::unique_lock guard(lock);
            int i = -1;
            changed.wait(guard, [&] { return done || remaining == 0 || (i = pick()) >= 0; });
            if (done || remaining == 0) return;
            started[static_cast<std::size_t>(i)] = true;
            --remaining;
            inFlight += held(i);
            guard.unlock();
            Result r;
            try {
                r.bytes = process(i);
            } catch (...) {
                r.error = std::current_exception();
            }
            r.ready = true;
            guard.lock();
            inFlight -= held(i);
            results[static_cast<std::size_t>(i)] = std::move(r);
            changed.notify_all();
        }
    };
    const auto finish = [&] {
        {
            std::lock_guard guard(lock);
            done = true;
        }
        changed.notify_all();
    };
    // However the run leaves, the workers are told to end before they are
    // joined (the threads' destructors join them).
    struct Finisher {
        std::function<void()> run;
        ~Finisher() { run(); }
    };
    std::vector<std::jthread> threads;
    const Finisher finisher{finish};
    // A system short of threads runs the pictures with those it could start.
    for (int t = 0; t < std::min(jobs, count); ++t) {
        try {
            threads.emplace_back(worker);
        } catch (const std::system_error&) {
            break;
        }
    }
    if (threads.empty()) return oneAtATime();

    for (int i = 0; i < count; ++i) {
        Result r;
        {
            std::unique_lock guard(lock);
            // A stop request comes from outside without a notification: look now and then.
            while (!changed.wait_for(guard, std::chrono::milliseconds(20),
                                     [&] { return results[static_cast<std::size_t>(i)].ready || stopRequested(); })) {
            }
            r = std::move(results[static_cast<std::size_t>(i)]);
        }
        if (stopRequested()) throw RunStopped();
        try {
            if (r.error) std::rethrow_exception(r.error);
            commit(i, r.bytes);
        } catch (...) {
            fail(i);
        }
        {
            std::lock_guard guard(lock);
            committed = i + 1;
        }
        changed.notify_all();
    }
}

void RunPastFailures(int count, int jobs, const std::function<std::vector<std::uint8_t>(int)>& process,
                     const std::function<void(int, const std::vector<std::uint8_t>&)>& commit,
                     const std::vector<std::string>& names, const std::vector<std::uintmax_t>& costs,
                     const std::function<void(int, const ResizeError&)>& failed, const std::atomic<bool>* stop,
                     bool costliestFirst, const std::vector<std::uint64_t>& memory)
{
    // Written by the worker of picture i, read when i's turn to commit comes.
    std::vector<std::exception_ptr> errors(static_cast<std::size_t>(count));
    const auto tryProcess = [&](int i) -> std::vector<std::uint8_t> {
        try {
            return process(i);
        } catch (const RunStopped&) {
            throw;  // the run ends; no picture failed
        } catch (...) {
            errors[static_cast<std::size_t>(i)] = std::current_exception();
            return {};
        }
    };
    const auto tryCommit = [&](int i, const std::vector<std::uint8_t>& bytes) {
        try {
            if (errors[static_cast<std::size_t>(i)]) std::rethrow_exception(errors[static_cast<std::size_t>(i)]);
            commit(i, bytes);
        } catch (const RunStopped&) {
            throw;
        } catch (...) {
            try {
                FailAt(names[static_cast<std::size_t>(i)]);
            } catch (const ResizeError& e) {
                if (failed) failed(i, e);
            }
        }
    };
    RunInListOrder(count, jobs, tryProcess, tryCommit, names, costs, stop, costliestFirst, memory);
}

}  // namespace pictavo
