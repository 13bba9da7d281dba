#include "core/numeric.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <vector>

namespace tessaly {
namespace {

TEST(Numeric, RoundToIntHalvesAwayFromZeroAndSaturates) {
    const std::pair<double, int> cases[] = {{2.5, 3},           {-2.5, -3},
                                            {2.4999999, 2},     {-0.49, 0},
                                            {1e20, 2147483647}, {-1e20, -2147483647 - 1}};
    for (auto [value, expected] : cases) EXPECT_EQ(round_to_int(value), expected) << value;
}

// The generator is x <- 41358 x mod (2^31 - 1); a 64-bit product gives the same numbers for any
// state in range.
std::int32_t reference_step(std::int32_t x) {
    return static_cast<std::int32_t>((41358LL * x) % 2147483647LL);
}

TEST(Numeric, RandomSequenceIsTheLehmerGenerator) {
    random_set_state(random_repeatable_seed);
    std::int32_t x = random_repeatable_seed;
    for (int i = 0; i < 1000; ++i) {
        x = reference_step(x);
        ASSERT_EQ(random_int(), x) << "step " << i;
    }
    EXPECT_EQ(random_step(2147483646), reference_step(2147483646));
    random_set_state(random_repeatable_seed);
    EXPECT_DOUBLE_EQ(random_real(), reference_step(random_repeatable_seed) / 2147483648.0);
    // A negative state (after mixing) still gives a number in range.
    std::int32_t n = random_step(-5);
    EXPECT_GE(n, -2147483647);
    random_set_state(random_repeatable_seed);
}

TEST(Numeric, RandomDrawsFromSeveralThreadsLoseNoStep) {
    random_set_state(random_repeatable_seed);
    std::vector<std::int32_t> expected;
    std::int32_t x = random_repeatable_seed;
    for (int i = 0; i < 40000; ++i) expected.push_back(x = reference_step(x));

    random_set_state(random_repeatable_seed);
    std::vector<std::int32_t> a(20000), b(20000);
    std::thread t1([&] {
        for (auto& v : a) v = random_int();
    });
    std::thread t2([&] {
        for (auto& v : b) v = random_int();
    });
    t1.join();
    t2.join();
    std::vector<std::int32_t> all(a);
    all.insert(all.end(), b.begin(), b.end());
    std::sort(all.begin(), all.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(all, expected);
    random_set_state(random_repeatable_seed);
}

}  // namespace
}  // namespace tessaly
