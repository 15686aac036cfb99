// How the tool ends when it is told to stop.
#pragma once

namespace pictavo::cli {

// From here on SIGINT, SIGTERM and SIGHUP end the process at once with
// status 128 + the signal, after removing every temporary file in flight, so
// only whole outputs remain. SIGXFSZ is ignored, so a write past the file
// size limit fails as a write error instead of killing the process. Call
// before any thread starts: the threads inherit the blocked signals.
void StopCleanlyOnSignals();

}  // namespace pictavo::cli
