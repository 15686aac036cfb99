#include "imaging/Extended.h"

#include "base/Errors.h"

#include <bit>
#include <cmath>

namespace pictavo {
namespace {

using u128 = UInt128;

int BitLength(u128 v)
{
    const auto high = static_cast<std::uint64_t>(v >> 64);
    if (high != 0) return 128 - std::countl_zero(high);
    return 64 - std::countl_zero(static_cast<std::uint64_t>(v));
}

// Round a value given as significand * 2^exponent to an integer, ties to even.
std::int64_t RoundToInteger(BinaryFloat v)
{
    if (v.significand == 0) return 0;
    if (v.exponent >= 0) {
        if (v.exponent + (64 - std::countl_zero(v.significand)) > 63) return INT64_MAX;
        return static_cast<std::int64_t>(v.significand << v.exponent);
    }
    const int shift = -v.exponent;
    if (shift > 64) return 0;  // below one half
    const u128 sig = v.significand;
    const u128 whole = sig >> shift;
    const u128 rest = sig & ((u128(1) << shift) - 1);
    const u128 half = u128(1) << (shift - 1);
    u128 result = whole;
    if (rest > half || (rest == half && (whole & 1) != 0)) ++result;
    return static_cast<std::int64_t>(result);
}

}  // namespace

BinaryFloat RoundedQuotient(u128 numerator, u128 denominator, int exponent, int bits)
{
    if (numerator == 0) return {};
    // Align so that denominator <= numerator < 2 * denominator; the quotient
    // is then 1.xxx * 2^exponent.
    const int shift = BitLength(denominator) - BitLength(numerator);
    if (shift > 0) numerator <<= shift;
    else denominator <<= -shift;
    exponent -= shift;
    if (numerator < denominator) {
        numerator <<= 1;
        --exponent;
    }
    // Long division: bits + 1 quotient bits, the last one the guard bit.
    std::uint64_t q = 0;
    u128 guard = 0;
    for (int i = 0; i <= bits; ++i) {
        const bool one = numerator >= denominator;
        if (one) numerator -= denominator;
        numerator <<= 1;
        if (i < bits) q = (q << 1) | (one ? 1 : 0);
        else guard = one ? 1 : 0;
    }
    const bool sticky = numerator != 0;
    if (guard != 0 && (sticky || (q & 1) != 0)) ++q;
    int resultExponent = exponent - (bits - 1);
    if (bits < 64 && q == (std::uint64_t(1) << bits)) {
        q >>= 1;
        ++resultExponent;
    } else if (bits == 64 && q == 0) {  // carried out of 64 bits
        q = std::uint64_t(1) << 63;
        ++resultExponent;
    }
    return {q, resultExponent};
}

BinaryFloat FromFloat(float value)
{
    int e = 0;
    const float m = std::frexp(value, &e);
    return {static_cast<std::uint64_t>(std::ldexp(m, 24)), e - 24};
}

BinaryFloat FromDouble(double value)
{
    int e = 0;
    const double m = std::frexp(value, &e);
    return {static_cast<std::uint64_t>(std::ldexp(m, 53)), e - 53};
}

double ToDouble(BinaryFloat value)
{
    return std::ldexp(static_cast<double>(value.significand), value.exponent);
}

float ReductionScale(int sourceSize, int destinationSize)
{
    if (sourceSize == 0) {
        if (destinationSize == 0) throw EInvalidOp();
        throw EZeroDivide();
    }
    if (destinationSize == 0) throw EZeroDivide();  // 1 / 0
    const BinaryFloat q = RoundedQuotient(static_cast<std::uint64_t>(destinationSize),
                                          static_cast<std::uint64_t>(sourceSize), 0, 64);
    const BinaryFloat r = RoundedQuotient(1, q.significand, -q.exponent, 64);
    const BinaryFloat single = RoundedQuotient(r.significand, 1, r.exponent, 24);
    return static_cast<float>(ToDouble(single));
}

std::int64_t TruncatedProduct(std::int64_t k, float scale)
{
    const BinaryFloat s = FromFloat(scale);
    const u128 product = static_cast<u128>(k) * s.significand;
    if (s.exponent >= 0) return static_cast<std::int64_t>(product << s.exponent);
    if (-s.exponent >= 128) return 0;
    return static_cast<std::int64_t>(product >> -s.exponent);
}

double ScaleFactor(float target, int size)
{
    if (size == 0) {
        if (target == 0.0f) throw EInvalidOp();
        throw EZeroDivide();
    }
    const BinaryFloat t = FromFloat(target);
    const BinaryFloat q = RoundedQuotient(t.significand, static_cast<std::uint64_t>(size), t.exponent, 64);
    return ToDouble(RoundedQuotient(q.significand, 1, q.exponent, 53));
}

std::int64_t RoundedProduct(std::int64_t size, double factor)
{
    const BinaryFloat f = FromDouble(factor);
    const u128 product = static_cast<u128>(size) * f.significand;
    return RoundToInteger(RoundedQuotient(product, 1, f.exponent, 64));
}

}  // namespace pictavo
