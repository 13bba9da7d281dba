// Transformations with two settings sets (Brightness Curve, Color Curves): under an all-white
// mask only the set of the white areas shows, under an all-black one only the other.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "transformations/point_filter_helpers.h"

namespace tessaly::testing {

// line holds both sets; white_result and black_result are each set's own result at 100 percent.
// Each set is mixed by its own amount: 0 or 100 percent where the mask is black, the other where
// it is white.
inline void expect_two_sets(const Image& in, const std::string& line, const Image& white_result,
                            const Image& black_result) {
    for (const int m : {0, 255}) {
        Image mask;
        ASSERT_FALSE(image_alloc(mask, image_gray8, in.width, in.height, 0.0));
        for (std::uint32_t y = 0; y < mask.height; ++y) std::fill_n(mask.rows[y], mask.width, m);
        PointRun run(in, &mask);
        EXPECT_TRUE(image_equal(run.run(line + " amount 0 1 2 1 ″A″ ″M″"), m ? white_result : in))
            << "mask " << m;
        EXPECT_TRUE(image_equal(run.run(line + " amount 1 0 2 1 ″A″ ″M″"), m ? in : black_result))
            << "mask " << m;
    }
}

}  // namespace tessaly::testing
