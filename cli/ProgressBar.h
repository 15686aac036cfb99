// A one-line progress display for a terminal: bar, count, rate, time left.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

namespace pictavo::cli {

class ProgressBar {
public:
    ProgressBar(std::FILE* out, int total);
    void update(int done);
    void finish();
    // Prints a line of its own above the bar, which is drawn again below it.
    void note(const std::string& line);

    // The line shown after `done` of `total` in `seconds`, `width` columns of bar.
    static std::string Line(int done, int total, double seconds, int width);

private:
    std::FILE* out_;
    int total_;
    int done_ = 0;
    std::chrono::steady_clock::time_point start_;
};

}  // namespace pictavo::cli
