#include "cli/ProgressBar.h"

#include <cmath>

namespace pictavo::cli {

ProgressBar::ProgressBar(std::FILE* out, int total)
    : out_(out), total_(total), start_(std::chrono::steady_clock::now())
{
    update(0);
}

void ProgressBar::update(int done)
{
    done_ = done;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    std::fprintf(out_, "\r%s", Line(done, total_, seconds, 30).c_str());
    std::fflush(out_);
}

void ProgressBar::finish()
{
    std::fprintf(out_, "\n");
    std::fflush(out_);
}

void ProgressBar::note(const std::string& line)
{
    std::fprintf(out_, "\r\033[K%s\n", line.c_str());
    update(done_);
}

std::string ProgressBar::Line(int done, int total, double seconds, int width)
{
    const int filled = total > 0 ? done * width / total : width;
    std::string line(static_cast<std::size_t>(width) + 2, '.');
    line.front() = '[';
    line.back() = ']';
    line.replace(1, static_cast<std::size_t>(filled), static_cast<std::size_t>(filled), '#');
    char text[96];
    std::snprintf(text, sizeof text, " %d/%d", done, total);
    line.append(text);
    if (done > 0 && seconds > 0) {
        const double rate = done / seconds;
        const int left = static_cast<int>(std::lround((total - done) / rate));
        std::snprintf(text, sizeof text, "  %.1f files/s  %d:%02d left", rate, left / 60, left % 60);
        line.append(text);
    }
    return line;
}

}  // namespace pictavo::cli
