#include "base/Errors.h"
#include "batch/ByteTargets.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

namespace pictavo {
namespace {

// Sizes that grow with quality, as encoders' do: 100 bytes a quality step.
TEST(ByteTargets, HighestQualityThatFits)
{
    struct Case { std::uint64_t limit; int ceiling; int quality; std::string error; };
    const Case cases[] = {
        {4550, 95, 45, ""},
        {4500, 95, 45, ""},
        {100000, 95, 95, ""},  // fits at the ceiling: no search
        {100000, 60, 60, ""},
        {100, 95, 1, ""},
        {99, 95, 0, "the smallest output, at quality 1, is 100 bytes (0.1K); the target is 99 bytes (0.1K)"},
        {99, 1, 0, "the smallest output, at quality 1, is 100 bytes (0.1K); the target is 99 bytes (0.1K)"},
    };
    for (const Case& c : cases) {
        int encodes = 0;
        const auto encode = [&](int q) {
            ++encodes;
            return std::vector<std::uint8_t>(static_cast<std::size_t>(q) * 100, std::uint8_t(q));
        };
        SCOPED_TRACE(c.limit);
        if (!c.error.empty()) {
            try {
                FitQuality(encode, c.limit, c.ceiling);
                ADD_FAILURE() << "fitted";
            } catch (const Exception& e) {
                EXPECT_STREQ(e.what(), "Does not fit the target size");
                EXPECT_EQ(e.detail(), c.error);
            }
            continue;
        }
        const Fitted fitted = FitQuality(encode, c.limit, c.ceiling);
        EXPECT_EQ(fitted.quality, c.quality);
        EXPECT_EQ(fitted.bytes, encode(c.quality));
        EXPECT_LE(encodes, 10);
    }
}

}  // namespace
}  // namespace pictavo
