// A run whose outputs together fit one byte total: every picture is reduced
// once and waits, the highest quality whose outputs fit is found by encoding
// the waiting pictures again, and then they are written in list order.
#pragma once

#include "batch/Model.h"
#include "batch/ResizeRun.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace pictavo {

// `reduce`, `commit` and `failed` as for RunPastFailures, but reduce gives
// the picture reduced to its sizes and commit takes their outputs;
// `chosen` hears the quality before the first commit.
// Raises a ResizeError, before anything is written, when not even quality 1
// fits.
void RunWithinTotal(const BatchModel& settings, const std::vector<std::string>& names,
                    const std::function<ReducedSizes(int)>& reduce,
                    const std::function<void(int, std::vector<ResizedOutput>)>& commit,
                    const std::function<void(int, const ResizeError&)>& failed,
                    const std::function<void(int quality, std::uint64_t bytes)>& chosen,
                    const std::string& outputFolder, const RunOptions& options,
                    const std::vector<std::uintmax_t>& costs);

}  // namespace pictavo
