// A run asked to stop should not wait for a large picture to finish. The
// thread working on a picture names its run's stop flag for as long as it
// works, and the long loops (the JPEG library's passes, the rows on their way
// into the reduction) look at it.
#pragma once

#include <atomic>

namespace pictavo {

class StopFlagOfThread {
public:
    explicit StopFlagOfThread(const std::atomic<bool>* stop);
    ~StopFlagOfThread();
    StopFlagOfThread(const StopFlagOfThread&) = delete;
    StopFlagOfThread& operator=(const StopFlagOfThread&) = delete;

private:
    const std::atomic<bool>* previous_;
};

// True when the calling thread's stop flag is set.
bool StopRequested();
// Raises RunStopped when it is.
void LeaveIfStopped();

}  // namespace pictavo
