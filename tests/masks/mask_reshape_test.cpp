#include "masks/mask_reshape.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/runner.h"
#include "support/mask_helpers.h"
#include "support/recording_interaction.h"

namespace tessaly {
namespace {

using K = std::vector<std::uint8_t>;

MaskOperation feather_op(std::int32_t radius, std::int32_t style = 0, std::int32_t corners = 0) {
    return {mask_op_feather, mask_add, 0, {.feather = {radius, style, corners}}};
}
MaskOperation blur_op(std::int32_t radius) {
    return {mask_op_blur, mask_add, 0, {.blur_radius = radius}};
}
MaskOperation pinhole_op(std::int32_t size, std::int32_t removal) {
    return {mask_op_pinholes, mask_add, 0, {.pinhole = {size, 32, removal}}};
}
MaskOperation median_op(double radius, double level) {
    return {mask_op_median, mask_add, 0, {.median = {radius, level}}};
}

// A renderer run as the replay runs it (after starts as a copy of the current mask) on a mask of
// the given values.
Rows reshaped(MaskRenderer renderer, std::uint32_t type, const Rows& values,
              const MaskOperation& op) {
    MaskState state;
    state.mask16 = type == image_gray16 ? 1 : 0;
    state.current_mask = mask_of(type, values);
    Image after = mask_of(type, values);
    EXPECT_FALSE(renderer(state, op, after));
    return seen(after);
}

Rows uniform(std::size_t w, std::size_t h, std::uint32_t v) {
    return Rows(h, std::vector<std::uint32_t>(w, v));
}

Rows random_rows(std::size_t w, std::size_t h, std::uint32_t range, std::uint32_t seed) {
    Rows rows = uniform(w, h, 0);
    for (auto& row : rows) {
        for (auto& v : row) v = ((seed = seed * 1103515245u + 12345u) >> 8) % range;
    }
    return rows;
}

std::uint32_t clamped(const Rows& rows, long y, long x) {
    return rows[static_cast<std::size_t>(std::clamp(y, 0L, static_cast<long>(rows.size()) - 1))]
               [static_cast<std::size_t>(std::clamp(x, 0L, static_cast<long>(rows[0].size()) - 1))];
}

TEST(MaskReshape, FeatherKernelsAndWhatTheyDo) {
    EXPECT_EQ(feather_kernel(1, 0, 0), (K{75, 128, 75, 128, 255, 128, 75, 128, 75}));
    EXPECT_EQ(feather_kernel(-1, 0, 1), (K{128, 128, 128, 128, 255, 128, 128, 128, 128}));
    EXPECT_EQ(feather_kernel(1, 2, 0), (K{50, 128, 50, 128, 255, 128, 50, 128, 50}));
    // Cosine, square: d = 2/3 gives (cos(2 pi / 3) + 1) x 127.5 = 63.75, d = 1/3 gives 191.
    const K cosine_square = feather_kernel(2, 2, 1);
    EXPECT_EQ((K{cosine_square[0], cosine_square[6], cosine_square[12]}), (K{64, 191, 255}));
    // Step, 7 x 7 in quarters: (0.75, 0.75) lies outside the unit circle, (0.5, 0.75) inside.
    const K step = feather_kernel(3, 1, 0);
    EXPECT_TRUE(step[0] == 0 && step[1] == 255 && std::count(step.begin(), step.end(), 0) == 4);

    // One pixel expands into the kernel: round(K v / 255) on 8 bits; 16-bit truncates.
    const auto dot = [](std::uint32_t v) {
        Rows rows = uniform(5, 5, 0);
        rows[2][2] = v;
        return rows;
    };
    const auto pattern = [](std::uint32_t corner, std::uint32_t edge, std::uint32_t centre) {
        return Rows{{0, 0, 0, 0, 0},
                    {0, corner, edge, corner, 0},
                    {0, edge, centre, edge, 0},
                    {0, corner, edge, corner, 0},
                    {0, 0, 0, 0, 0}};
    };
    EXPECT_EQ(reshaped(render_feather, image_gray8, dot(255), feather_op(1)),
              pattern(75, 128, 255));
    EXPECT_EQ(reshaped(render_feather, image_gray8, dot(128), feather_op(1)), pattern(38, 64, 128));
    EXPECT_EQ(reshaped(render_feather, image_gray16, dot(65535), feather_op(1)),
              pattern(75 * 257, 128 * 257, 65535));
    EXPECT_EQ(reshaped(render_feather, image_gray8, dot(9), feather_op(0)), dot(9));

    // Contracting leaves white white and drops the border of a 5 x 5 white square to 255 - 128.
    for (std::uint32_t unit : {1u, 257u}) {
        const std::uint32_t type = unit == 1 ? image_gray8 : image_gray16;
        const Rows white = uniform(4, 3, 255 * unit);
        EXPECT_EQ(reshaped(render_feather, type, white, feather_op(-1)), white);
        EXPECT_EQ(reshaped(render_feather, type, white, feather_op(-3, 2, 1)), white);
        Rows square = uniform(9, 9, 0), expected = uniform(9, 9, 0);
        for (std::size_t y = 2; y <= 6; ++y) {
            for (std::size_t x = 2; x <= 6; ++x) {
                square[y][x] = 255 * unit;
                expected[y][x] = (x == 2 || x == 6 || y == 2 || y == 6 ? 127 : 255) * unit;
            }
        }
        EXPECT_EQ(reshaped(render_feather, type, square, feather_op(-1)), expected);
    }
}

TEST(MaskReshape, PinholesWhiteBlackAndBoth) {
    // Removal 0 takes white specks, 1 black ones, 2 both, each replaced by its ring's mean; a pixel
    // within the threshold of its ring stays. No centre's square reaches the corner.
    Rows specks = uniform(7, 7, 0), cleaned = uniform(7, 7, 0);
    specks[3][3] = specks[0][0] = cleaned[0][0] = 255;
    Rows mixed = uniform(9, 9, 100), mixed_cleaned = uniform(9, 9, 100);
    mixed[2][2] = 255;
    mixed[6][6] = 0;
    mixed[2][6] = mixed_cleaned[2][6] = 120;
    Rows only_white = mixed_cleaned;
    only_white[6][6] = 0;
    const struct {
        Rows in;
        MaskOperation op;
        Rows out;
    } cases[] = {
        {specks, pinhole_op(1, 0), cleaned},   {specks, pinhole_op(1, 1), specks},
        {specks, pinhole_op(0, 2), specks},    {mixed, pinhole_op(1, 2), mixed_cleaned},
        {mixed, pinhole_op(1, 0), only_white},
    };
    for (const auto& c : cases)
        EXPECT_EQ(reshaped(render_pinholes, image_gray8, c.in, c.op), c.out);

    // 16-bit: rings are measured in 8 bits and the mean widened (40000 narrows to 156).
    Rows hole16 = uniform(9, 9, 40000);
    hole16[4][4] = 0;
    Rows filled16 = hole16;
    filled16[4][4] = 156 * 257;
    EXPECT_EQ(reshaped(render_pinholes, image_gray16, hole16, pinhole_op(1, 1)), filled16);
}

// The median written out, blended with the pixel by level / 1024.
Rows median_of(const Rows& in, long r, std::uint32_t level) {
    Rows out = in;
    for (long y = 0; y < static_cast<long>(in.size()); ++y) {
        for (long x = 0; x < static_cast<long>(in[0].size()); ++x) {
            std::vector<std::uint32_t> values;
            for (long dy = -r; dy <= r; ++dy) {
                for (long dx = -r; dx <= r; ++dx) values.push_back(clamped(in, y + dy, x + dx));
            }
            std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
            const std::uint32_t own = clamped(in, y, x);
            out[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)] =
                (own * (1024 - level) + values[values.size() / 2] * level + 512) / 1024;
        }
    }
    return out;
}

TEST(MaskReshape, MedianFilter) {
    const Rows noise8 = random_rows(12, 9, 256, 4);
    EXPECT_EQ(reshaped(render_median, image_gray8, noise8, median_op(1, 1)),
              median_of(noise8, 1, 1024));
    EXPECT_EQ(reshaped(render_median, image_gray8, noise8, median_op(2.6, 1)),
              median_of(noise8, 3, 1024));
    // 16-bit values far apart make the search cross many empty stretches of the histogram.
    const Rows noise16 = random_rows(10, 8, 65536, 5);
    EXPECT_EQ(reshaped(render_median, image_gray16, noise16, median_op(2, 1)),
              median_of(noise16, 2, 1024));
    EXPECT_EQ(reshaped(render_median, image_gray16, noise16, median_op(1, 0.25)),
              median_of(noise16, 1, 256));
}

TEST(MaskReshape, FailuresCancellationAndCaptions) {
    testing::RecordingScope scope;
    const MaskOperation ops[] = {feather_op(2), blur_op(2), pinhole_op(1, 2), median_op(1, 1)};
    const MaskRenderer renderers[] = {render_feather, render_blur, render_pinholes, render_median};
    MaskState state;
    state.current_mask = mask_of(image_gray8, random_rows(400, 300, 256, 6));
    Image after;
    ASSERT_FALSE(image_copy(state.current_mask, after));

    // A cancelled operation fails quietly; a failed allocation says so.
    set_run_abort(true);
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(renderers[i](state, ops[i], after)) << i;
    set_run_abort(false);
    EXPECT_TRUE(scope.recorder.errors().empty());
    image_fail_allocations_after(0);
    EXPECT_TRUE(render_blur(state, ops[1], after));
    image_fail_allocations_after(-1);
    EXPECT_EQ(scope.recorder.errors(), std::vector<std::string>{"Error blurring mask"});

    // One worker on 120000 pixels shows the progress captions.
    set_processor_count(1);
    for (int i = 0; i < 4; ++i) EXPECT_FALSE(renderers[i](state, ops[i], after)) << i;
    set_processor_count(0);
    const std::vector<std::string> titles = scope.recorder.progress_titles;
    for (const char* caption :
         {"Feather Mask", "Blur Pass 1", "Blur Pass 2", "Remove Pinholes", "Median Filter"}) {
        EXPECT_NE(std::find(titles.begin(), titles.end(), caption), titles.end()) << caption;
    }
}

}  // namespace
}  // namespace tessaly
