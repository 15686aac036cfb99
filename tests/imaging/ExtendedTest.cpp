#include "base/Errors.h"
#include "imaging/Extended.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <random>

namespace pictavo {
namespace {

TEST(Extended, ReductionScaleMatchesKnownValues)
{
    struct Case { int source, destination; double scale; };
    const Case cases[] = {
        {5, 2, 2.5},
        {10, 3, 3.3333332538604736},
        {1024, 800, 1.2799999713897705},
        {3000, 800, 3.75},
        {1001, 1000, 1.0010000467300415},
        {7, 7, 1.0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(static_cast<double>(ReductionScale(c.source, c.destination)), c.scale)
            << c.source << " -> " << c.destination;
}

TEST(Extended, ZeroSizesRaiseFloatingPointErrors)
{
    EXPECT_THROW(ReductionScale(2000, 0), EZeroDivide);
    EXPECT_THROW(ReductionScale(0, 5), EZeroDivide);
    EXPECT_THROW(ReductionScale(0, 0), EInvalidOp);
    EXPECT_THROW(ScaleFactor(800.0f, 0), EZeroDivide);
    try {
        ReductionScale(1, 0);
        FAIL();
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "Floating point division by zero");
    }
}

// Where long double is the 80-bit format, it is an independent oracle.
TEST(Extended, AgreesWithHardwareExtendedPrecision)
{
    if (LDBL_MANT_DIG != 64) GTEST_SKIP() << "long double is not 80-bit here";
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> size(1, 20000);
    for (int i = 0; i < 20000; ++i) {
        const int s = size(rng), d = size(rng);
        const long double q = static_cast<long double>(d) / s;
        const long double r = 1.0L / q;
        const float expected = static_cast<float>(r);
        ASSERT_EQ(ReductionScale(s, d), expected) << s << " -> " << d;
        const int k = size(rng);
        ASSERT_EQ(TruncatedProduct(k, expected),
                  static_cast<std::int64_t>(static_cast<long double>(k) * expected));

        const float target = static_cast<float>(size(rng) % 2000 + 1);
        const double f = static_cast<double>(static_cast<long double>(target) / s);
        ASSERT_EQ(ScaleFactor(target, s), f);
        const long double product = static_cast<long double>(d) * f;
        ASSERT_EQ(RoundedProduct(d, f), std::llrint(product)) << d << " * " << f;
    }
}

TEST(Extended, RoundedQuotientCarriesIntoTheNextBinade)
{
    // (2^25 - 1) / 2^25 rounds up to exactly 1 at 24 bits.
    const BinaryFloat v = RoundedQuotient((1u << 25) - 1, 1u << 25, 0, 24);
    EXPECT_EQ(ToDouble(v), 1.0);
}

}  // namespace
}  // namespace pictavo
