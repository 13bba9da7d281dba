#include "masks/mask_reshape.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/runner.h"
#include "masks/mask_command_line.h"
#include "support/mask_helpers.h"
#include "support/recording_interaction.h"

namespace tessaly {
namespace {

using testing::RecordingScope;

using MaskReshape = ::testing::Test;

MaskOperation feather_op(std::int32_t radius, std::int32_t style = 0, std::int32_t corners = 0) {
    MaskOperation o;
    o.code = mask_op_feather;
    o.parameters.feather = {radius, style, corners};
    return o;
}
MaskOperation pinhole_op(std::int32_t size, std::int32_t threshold, std::int32_t removal) {
    MaskOperation o;
    o.code = mask_op_pinholes;
    o.parameters.pinhole = {size, threshold, removal};
    return o;
}
MaskOperation median_op(double radius, double level) {
    MaskOperation o;
    o.code = mask_op_median;
    o.parameters.median = {radius, level};
    return o;
}
MaskOperation blur_op(std::int32_t radius) {
    MaskOperation o;
    o.code = mask_op_blur;
    o.parameters.blur_radius = radius;
    return o;
}

// Runs a renderer as the replay does: after starts as a copy of the current mask.
Image apply(MaskRenderer renderer, const Image& mask, const MaskOperation& op) {
    MaskState state;
    state.mask16 = mask.type == image_gray16 ? 1 : 0;
    EXPECT_FALSE(image_copy(mask, state.current_mask));
    Image after;
    EXPECT_FALSE(image_copy(mask, after));
    EXPECT_FALSE(renderer(state, op, after));
    return after;
}

Rows uniform(std::size_t w, std::size_t h, std::uint32_t v) {
    return Rows(h, std::vector<std::uint32_t>(w, v));
}

Rows scaled(Rows rows, std::uint32_t factor) {
    for (auto& row : rows) {
        for (auto& v : row) v *= factor;
    }
    return rows;
}

Rows random_rows(std::size_t w, std::size_t h, std::uint32_t range, std::uint32_t seed) {
    Rows rows = uniform(w, h, 0);
    for (auto& row : rows) {
        for (auto& v : row) {
            seed = seed * 1103515245u + 12345u;
            v = (seed >> 8) % range;
        }
    }
    return rows;
}

std::uint32_t clamped(const Rows& rows, long y, long x) {
    const long h = static_cast<long>(rows.size());
    const long w = static_cast<long>(rows[0].size());
    return rows[static_cast<std::size_t>(std::clamp(y, 0L, h - 1))]
               [static_cast<std::size_t>(std::clamp(x, 0L, w - 1))];
}

TEST_F(MaskReshape, FeatherKernels) {
    using K = std::vector<std::uint8_t>;
    EXPECT_EQ(feather_kernel(1, 0, 0), (K{75, 128, 75, 128, 255, 128, 75, 128, 75}));
    EXPECT_EQ(feather_kernel(-1, 0, 1), (K{128, 128, 128, 128, 255, 128, 128, 128, 128}));
    EXPECT_EQ(feather_kernel(1, 2, 0), (K{50, 128, 50, 128, 255, 128, 50, 128, 50}));
    const K cosine_square = feather_kernel(2, 2, 1);
    EXPECT_EQ(cosine_square[0], 64);   // d = 2/3: (cos(2 pi / 3) + 1) x 127.5 = 63.75
    EXPECT_EQ(cosine_square[6], 191);  // d = 1/3
    EXPECT_EQ(cosine_square[12], 255);
    const K step = feather_kernel(3, 1, 0);  // 7 x 7, x and y in quarters
    EXPECT_EQ(step[0], 0);                   // (0.75, 0.75) lies outside the unit circle
    EXPECT_EQ(step[1], 255);                 // (0.5, 0.75) inside
    EXPECT_EQ(std::count(step.begin(), step.end(), 0), 4);
    const K step_square = feather_kernel(3, 1, 1);
    EXPECT_EQ(std::count(step_square.begin(), step_square.end(), 255), 49);
}

TEST_F(MaskReshape, FeatherExpandsOnePixelIntoTheKernel) {
    const auto pattern = [](std::uint32_t corner, std::uint32_t edge, std::uint32_t centre) {
        return Rows{{0, 0, 0, 0, 0},
                    {0, corner, edge, corner, 0},
                    {0, edge, centre, edge, 0},
                    {0, corner, edge, corner, 0},
                    {0, 0, 0, 0, 0}};
    };
    const auto dot = [](std::uint32_t type, std::uint32_t v) {
        Rows rows = uniform(5, 5, 0);
        rows[2][2] = v;
        return mask_of(type, rows);
    };
    EXPECT_EQ(seen(apply(render_feather, dot(image_gray8, 255), feather_op(1))),
              pattern(75, 128, 255));
    // round(K v / 255) for a gray pixel; 16-bit truncates.
    EXPECT_EQ(seen(apply(render_feather, dot(image_gray8, 128), feather_op(1))),
              pattern(38, 64, 128));
    EXPECT_EQ(seen(apply(render_feather, dot(image_gray16, 65535), feather_op(1))),
              pattern(75 * 257, 128 * 257, 65535));
    EXPECT_EQ(seen(apply(render_feather, dot(image_gray16, 32768), feather_op(1))),
              pattern(9637, 16448, 32768));
    // Radius 0 leaves the mask as it is.
    EXPECT_EQ(seen(apply(render_feather, dot(image_gray8, 9), feather_op(0))),
              seen(dot(image_gray8, 9)));
}

TEST_F(MaskReshape, FeatherContractShrinksWhite) {
    for (std::uint32_t type : {image_gray8, image_gray16}) {
        const std::uint32_t unit = type == image_gray16 ? 257 : 1;
        const Image white = mask_of(type, uniform(4, 3, 255 * unit));
        EXPECT_EQ(seen(apply(render_feather, white, feather_op(-1))), seen(white));
        EXPECT_EQ(seen(apply(render_feather, white, feather_op(-3, 2, 1))), seen(white));

        // A 5 x 5 white square in black: its border drops to 255 - 128, its inside stays white.
        Rows square = uniform(9, 9, 0);
        Rows expected = uniform(9, 9, 0);
        for (std::size_t y = 2; y <= 6; ++y) {
            for (std::size_t x = 2; x <= 6; ++x) {
                square[y][x] = 255;
                expected[y][x] = (x == 2 || x == 6 || y == 2 || y == 6) ? 127 : 255;
            }
        }
        EXPECT_EQ(seen(apply(render_feather, mask_of(type, scaled(square, unit)), feather_op(-1))),
                  scaled(expected, unit));
    }
}

// The triangular filter written out: weights (2r + 1 - |d|) in each direction, edges repeated.
Rows triangle(const Rows& in, long r) {
    Rows out = in;
    const double norm = std::pow(2.0 * r + 1, 4);
    for (long y = 0; y < static_cast<long>(in.size()); ++y) {
        for (long x = 0; x < static_cast<long>(in[0].size()); ++x) {
            double sum = 0;
            for (long dy = -2 * r; dy <= 2 * r; ++dy) {
                for (long dx = -2 * r; dx <= 2 * r; ++dx) {
                    sum += static_cast<double>((2 * r + 1 - std::abs(dy)) *
                                               (2 * r + 1 - std::abs(dx))) *
                           clamped(in, y + dy, x + dx);
                }
            }
            out[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)] =
                static_cast<std::uint32_t>(std::lround(sum / norm));
        }
    }
    return out;
}

void expect_near(const Rows& a, const Rows& b, std::uint32_t tolerance) {
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t y = 0; y < a.size(); ++y) {
        for (std::size_t x = 0; x < a[y].size(); ++x) {
            EXPECT_LE(std::max(a[y][x], b[y][x]) - std::min(a[y][x], b[y][x]), tolerance)
                << "at " << x << ", " << y;
        }
    }
}

TEST_F(MaskReshape, BlurIsTheTriangularFilter) {
    const Rows noise8 = random_rows(13, 9, 256, 1);
    expect_near(seen(apply(render_blur, mask_of(image_gray8, noise8), blur_op(2))),
                triangle(noise8, 2), 1);
    const Rows noise16 = random_rows(11, 7, 65536, 2);
    expect_near(seen(apply(render_blur, mask_of(image_gray16, noise16), blur_op(1))),
                triangle(noise16, 1), 1);
    // A radius beyond the picture still sees the repeated edges.
    const Rows small = random_rows(5, 4, 256, 3);
    expect_near(seen(apply(render_blur, mask_of(image_gray8, small), blur_op(6))),
                triangle(small, 6), 1);

    EXPECT_EQ(seen(apply(render_blur, mask_of(image_gray8, noise8), blur_op(0))), noise8);
    EXPECT_EQ(seen(apply(render_blur, mask_of(image_gray8, uniform(7, 5, 77)), blur_op(3))),
              uniform(7, 5, 77));
    EXPECT_EQ(seen(apply(render_blur, mask_of(image_gray16, uniform(7, 5, 40000)), blur_op(3))),
              uniform(7, 5, 40000));

    // One white pixel spreads symmetrically and keeps (about) its total.
    Rows dot = uniform(15, 15, 0);
    dot[7][7] = 65535;
    const Rows spread = seen(apply(render_blur, mask_of(image_gray16, dot), blur_op(2)));
    long total = 0;
    for (std::size_t y = 0; y < 15; ++y) {
        for (std::size_t x = 0; x < 15; ++x) {
            total += spread[y][x];
            EXPECT_EQ(spread[y][x], spread[x][y]);
            EXPECT_EQ(spread[y][x], spread[14 - y][14 - x]);
        }
    }
    EXPECT_EQ(spread[7][7], 2621u);  // 65535 x 25 / 625
    EXPECT_NEAR(total, 65535, 41);

    // In place gives the same picture.
    Image in_place = mask_of(image_gray8, noise8);
    ASSERT_EQ(blur_gray(in_place, in_place, 2), FilterStatus::done);
    EXPECT_EQ(seen(in_place), seen(apply(render_blur, mask_of(image_gray8, noise8), blur_op(2))));
}

TEST_F(MaskReshape, PinholesWhiteBlackAndBoth) {
    Rows specks = uniform(7, 7, 0);
    specks[3][3] = 255;
    specks[0][0] = 255;  // no centre's square reaches the corner
    Rows cleaned = uniform(7, 7, 0);
    cleaned[0][0] = 255;
    const Image white_specks = mask_of(image_gray8, specks);
    EXPECT_EQ(seen(apply(render_pinholes, white_specks, pinhole_op(1, 32, 0))), cleaned);
    EXPECT_EQ(seen(apply(render_pinholes, white_specks, pinhole_op(1, 32, 1))), specks);
    EXPECT_EQ(seen(apply(render_pinholes, white_specks, pinhole_op(0, 32, 2))), specks);

    // Both kinds at once, replaced by the ring mean; a pixel within the threshold stays.
    Rows mixed = uniform(9, 9, 100);
    mixed[2][2] = 255;
    mixed[6][6] = 0;
    mixed[2][6] = 120;
    Rows mixed_cleaned = uniform(9, 9, 100);
    mixed_cleaned[2][6] = 120;
    EXPECT_EQ(seen(apply(render_pinholes, mask_of(image_gray8, mixed), pinhole_op(1, 32, 2))),
              mixed_cleaned);
    Rows only_white = mixed_cleaned;
    only_white[6][6] = 0;
    EXPECT_EQ(seen(apply(render_pinholes, mask_of(image_gray8, mixed), pinhole_op(1, 32, 0))),
              only_white);

    // Centres (3,3) .. (5,5) all replace the speck at (4,4); only the ring of (5,5) holds the 40,
    // and as the last one visited its mean, 40 / 16, is the one that stays.
    Rows overlap = uniform(9, 9, 0);
    overlap[4][4] = 255;
    overlap[7][7] = 40;
    Rows overlap_cleaned = uniform(9, 9, 0);
    overlap_cleaned[4][4] = 2;
    overlap_cleaned[7][7] = 40;
    EXPECT_EQ(seen(apply(render_pinholes, mask_of(image_gray8, overlap), pinhole_op(1, 32, 0))),
              overlap_cleaned);

    // 16-bit: rings are measured in 8 bits and the mean widened (40000 narrows to 156).
    Rows hole16 = uniform(9, 9, 40000);
    hole16[4][4] = 0;
    Rows filled16 = hole16;
    filled16[4][4] = 156 * 257;
    EXPECT_EQ(seen(apply(render_pinholes, mask_of(image_gray16, hole16), pinhole_op(1, 32, 1))),
              filled16);

    // A 4 x 4 speck outlasts size 1 (every ring that could judge it crosses it) but not size 2.
    Rows block = uniform(12, 12, 0);
    for (std::size_t y = 4; y <= 7; ++y) {
        for (std::size_t x = 4; x <= 7; ++x) block[y][x] = 255;
    }
    EXPECT_EQ(seen(apply(render_pinholes, mask_of(image_gray8, block), pinhole_op(1, 32, 0))),
              block);
    EXPECT_EQ(seen(apply(render_pinholes, mask_of(image_gray8, block), pinhole_op(2, 32, 0))),
              uniform(12, 12, 0));
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

TEST_F(MaskReshape, MedianFilter) {
    const Rows noise8 = random_rows(12, 9, 256, 4);
    EXPECT_EQ(seen(apply(render_median, mask_of(image_gray8, noise8), median_op(1, 1))),
              median_of(noise8, 1, 1024));
    EXPECT_EQ(seen(apply(render_median, mask_of(image_gray8, noise8), median_op(2.6, 1))),
              median_of(noise8, 3, 1024));
    // 16-bit values far apart make the search cross many empty stretches of the histogram.
    const Rows noise16 = random_rows(10, 8, 65536, 5);
    EXPECT_EQ(seen(apply(render_median, mask_of(image_gray16, noise16), median_op(2, 1))),
              median_of(noise16, 2, 1024));
    EXPECT_EQ(seen(apply(render_median, mask_of(image_gray16, noise16), median_op(1, 0.25))),
              median_of(noise16, 1, 256));

    // Salt goes, a step edge stays; half the level keeps half of the salt.
    Rows salt = uniform(9, 9, 100);
    salt[1][1] = salt[4][6] = salt[7][2] = 255;
    EXPECT_EQ(seen(apply(render_median, mask_of(image_gray8, salt), median_op(0.4, 1))),
              uniform(9, 9, 100));
    Rows half = uniform(9, 9, 100);
    half[1][1] = half[4][6] = half[7][2] = 178;  // (255 + 100) / 2 rounded
    EXPECT_EQ(seen(apply(render_median, mask_of(image_gray8, salt), median_op(1, 0.5))), half);
    Rows step = uniform(9, 6, 0);
    for (auto& row : step) std::fill(row.begin() + 4, row.end(), 65535);
    EXPECT_EQ(seen(apply(render_median, mask_of(image_gray16, step), median_op(2, 1))), step);
}

TEST_F(MaskReshape, FailuresCancellationAndCaptions) {
    RecordingScope scope;
    const MaskOperation ops[] = {feather_op(2), blur_op(2), pinhole_op(1, 32, 2), median_op(1, 1)};
    const MaskRenderer renderers[] = {render_feather, render_blur, render_pinholes, render_median};
    MaskState state;
    state.current_mask = mask_of(image_gray8, random_rows(400, 300, 256, 6));

    // A cancelled operation fails quietly.
    set_run_abort(true);
    for (int i = 0; i < 4; ++i) {
        Image after;
        ASSERT_FALSE(image_copy(state.current_mask, after));
        EXPECT_TRUE(renderers[i](state, ops[i], after)) << i;
    }
    set_run_abort(false);
    EXPECT_TRUE(scope.recorder.errors().empty());

    Image after;
    ASSERT_FALSE(image_copy(state.current_mask, after));
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

TEST_F(MaskReshape, BuiltFromACommandLineAndReplayedOnAnotherSize) {
    RecordingScope scope;
    const std::string text =
        "mask 0 nx 40 ny 30 mask16 0 n_op 5"
        " command1 operation 20 mask_mode 0 mask_operation 20"
        " command2 operation 5 mask_mode 0 mask_operation 5 feather_radius 3 feather_style 2 "
        "feather_corners 0"
        " command3 operation 6 mask_mode 0 mask_operation 6 blur_radius 2"
        " command4 operation 15 mask_mode 0 mask_operation 15 pinhole 1 10 2"
        " command5 operation 16 mask_mode 0 mask_operation 16 median 1.2 1";
    Image base;
    ASSERT_FALSE(image_alloc(base, image_gray8, 40, 30, 0));
    MaskState built;
    mask_state_set_base(built, &base);
    ASSERT_FALSE(read_mask_command_line(text, built));
    ASSERT_EQ(built.records.size(), 6u);
    const Rows first = seen(built.current_mask);
    EXPECT_EQ(first[15][0], 255u);
    EXPECT_EQ(first[15][39], 0u);
    EXPECT_GT(first[15][21], 0u);  // feathered past the half
    EXPECT_LT(first[15][19], 255u);

    // The written recipe rebuilds on a 23 x 17 picture, in both depths, what the operations give
    // when applied one by one to a left half of that size.
    std::string written = mask_command_line(built);
    for (std::uint32_t type : {image_gray8, image_gray16}) {
        if (type == image_gray16) written.replace(written.find("mask16 0"), 8, "mask16 1");
        Image other;
        ASSERT_FALSE(image_alloc(other, image_gray8, 23, 17, 0));
        MaskState replayed;
        mask_state_set_base(replayed, &other);
        ASSERT_FALSE(read_mask_command_line(written, replayed));

        const std::uint32_t full = type == image_gray16 ? 65535 : 255;
        Rows left = uniform(23, 17, 0);
        for (auto& row : left) std::fill(row.begin(), row.begin() + 11, full);
        Image expected = mask_of(type, left);
        expected = apply(render_feather, expected, built.records[2].operation);
        expected = apply(render_blur, expected, built.records[3].operation);
        expected = apply(render_pinholes, expected, built.records[4].operation);
        expected = apply(render_median, expected, built.records[5].operation);
        EXPECT_EQ(replayed.current_mask.type, type);
        EXPECT_EQ(seen(replayed.current_mask), seen(expected));
    }
    EXPECT_TRUE(scope.recorder.errors().empty());
}

}  // namespace
}  // namespace tessaly
