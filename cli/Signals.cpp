#include "cli/Signals.h"

#include "base/Files.h"

#include <csignal>
#include <pthread.h>
#include <thread>
#include <unistd.h>

namespace pictavo::cli {

void StopCleanlyOnSignals()
{
    std::signal(SIGXFSZ, SIG_IGN);
    sigset_t stopping;
    sigemptyset(&stopping);
    for (const int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stopping, s);
    pthread_sigmask(SIG_BLOCK, &stopping, nullptr);
    // A thread of its own takes the signal, so the clean-up may lock and
    // allocate as ordinary code does; a signal handler could not.
    std::thread([stopping] {
        int signal = 0;
        while (sigwait(&stopping, &signal) != 0) {
        }
        AbandonTemporaryFiles();
        _exit(128 + signal);
    }).detach();
}

}  // namespace pictavo::cli
