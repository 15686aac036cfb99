#include "base/Stop.h"

#include "base/Errors.h"

namespace pictavo {
namespace {

thread_local const std::atomic<bool>* Flag = nullptr;

}  // namespace

StopFlagOfThread::StopFlagOfThread(const std::atomic<bool>* stop) : previous_(Flag) { Flag = stop; }
StopFlagOfThread::~StopFlagOfThread() { Flag = previous_; }

bool StopRequested() { return Flag != nullptr && Flag->load(std::memory_order_relaxed); }

void LeaveIfStopped()
{
    if (StopRequested()) throw RunStopped();
}

}  // namespace pictavo
