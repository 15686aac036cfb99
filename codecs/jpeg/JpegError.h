// The one exception of the JPEG library, kept apart so the library glue and
// the adapter can both raise it without including each other.
#pragma once

#include "base/Errors.h"

#include <string>

namespace pictavo {

// Any error of the JPEG library: "JPEG error #<number>".
class EJPEG : public EInvalidGraphic {
public:
    explicit EJPEG(int number) : EInvalidGraphic("JPEG error #" + std::to_string(number)), number_(number) {}
    int number() const { return number_; }

private:
    int number_;
};

}  // namespace pictavo
