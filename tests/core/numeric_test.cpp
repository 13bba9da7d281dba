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

// x <- 41358 x mod (2^31 - 1), with a 64-bit product: the same numbers for any state in range.
std::int32_t reference_step(std::int32_t x) {
    return static_cast<std::int32_t>((41358LL * x) % 2147483647LL);
}

// The Lehmer generator, also when two threads draw from it at once: no step lost or repeated.
TEST(Numeric, RandomSequenceIsTheLehmerGeneratorFromEveryThread) {
    std::vector<std::int32_t> expected;
    std::int32_t x = random_repeatable_seed;
    for (int i = 0; i < 40000; ++i) expected.push_back(x = reference_step(x));
    random_set_state(random_repeatable_seed);
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(random_int(), expected[i]) << "step " << i;
    EXPECT_EQ(random_step(2147483646), reference_step(2147483646));
    random_set_state(random_repeatable_seed);
    EXPECT_DOUBLE_EQ(random_real(), expected[0] / 2147483648.0);
    EXPECT_GE(random_step(-5), -2147483647);  // a negative state (after mixing) stays in range

    random_set_state(random_repeatable_seed);
    std::vector<std::int32_t> a(20000), b(20000);
    auto draw = [](std::vector<std::int32_t>& v) {
        for (auto& n : v) n = random_int();
    };
    std::thread t1(draw, std::ref(a)), t2(draw, std::ref(b));
    t1.join();
    t2.join();
    a.insert(a.end(), b.begin(), b.end());
    std::sort(a.begin(), a.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(a, expected);
    random_set_state(random_repeatable_seed);
}

}  // namespace
}  // namespace tessaly
