// The failure of a resize run, raised by the run and by its parallel runner.
#pragma once

#include "base/Errors.h"

#include <string>

namespace pictavo {

// what() is the message the error box shows; input names the listed file
// the run stopped at, empty when it stopped before reading any.
class ResizeError : public Exception {
public:
    ResizeError(std::string message, std::string input, std::string detail = {})
        : Exception(std::move(message), std::move(detail)), input_(std::move(input))
    {
    }
    const std::string& input() const { return input_; }

private:
    std::string input_;
};

}  // namespace pictavo
