// Exact stand-ins for 80-bit extended-precision arithmetic.
//
// Box boundaries and output sizes depend on every bit of a few divisions and
// products carried out with a 64-bit significand, round to nearest, ties to
// even. long double differs across platforms, so these helpers do the same
// arithmetic with integers and give identical answers everywhere.
#pragma once

#include <cstdint>

namespace pictavo {

__extension__ typedef unsigned __int128 UInt128;

// A non-negative binary floating-point value: significand * 2^exponent.
struct BinaryFloat {
    std::uint64_t significand = 0;
    int exponent = 0;
};

// numerator / denominator * 2^exponent rounded to `bits` significant bits
// (1 ... 64), ties to even. denominator must not be 0.
BinaryFloat RoundedQuotient(UInt128 numerator, UInt128 denominator,
                            int exponent, int bits);

BinaryFloat FromFloat(float value);    // exact; value >= 0
BinaryFloat FromDouble(double value);  // exact; value >= 0
double ToDouble(BinaryFloat value);    // exact when it has at most 53 bits

// The reduction's scale for one axis: q = destination / source and
// r = 1 / q in extended precision, r then rounded to single precision.
// Raises "Floating point division by zero" when q is 0 or source is 0.
float ReductionScale(int sourceSize, int destinationSize);

// trunc(k * scale), with the product formed exactly.
std::int64_t TruncatedProduct(std::int64_t k, float scale);

// f = target / size in extended precision, stored as a double.
double ScaleFactor(float target, int size);

// Round(size * f): the product rounded to a 64-bit significand, then to the
// nearest integer with ties to even.
std::int64_t RoundedProduct(std::int64_t size, double factor);

}  // namespace pictavo
