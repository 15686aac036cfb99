// The failure of a resize run, raised by the run and by its parallel runner.
#pragma once

#include "base/Errors.h"

#include <string>

namespace pictavo {

// what() is the message the error box shows; input names the listed file
// the run stopped at, empty when it stopped before reading any.
class ResizeError : public Exception {
public:
    ResizeError(std::string message, std::string input) : Exception(std::move(message)), input_(std::move(input)) {}
    // The failure of a picture, with all the command line says about it.
    ResizeError(const std::exception& cause, std::string input) : ResizeError(cause.what(), std::move(input))
    {
        if (const auto* own = dynamic_cast<const Exception*>(&cause))
            setDetail(own->detail()).setPath(own->path()).setHeadline(own->headline());
    }
    const std::string& input() const { return input_; }

private:
    std::string input_;
};

}  // namespace pictavo
