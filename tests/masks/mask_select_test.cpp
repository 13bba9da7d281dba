#include "masks/mask_select.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <utility>
#include <vector>

#include "masks/mask_command_line.h"
#include "support/image_helpers.h"
#include "support/mask_helpers.h"
#include "support/recording_interaction.h"

namespace tessaly {
namespace {

using Limits = std::array<std::int32_t, 12>;

// 24-bit colour from rows of red, green, blue (top row first; stored blue, green, red).
Image colour24(const std::vector<std::vector<std::array<int, 3>>>& rows) {
    Image im;
    const auto h = static_cast<std::uint32_t>(rows.size());
    EXPECT_FALSE(image_alloc(im, image_color24, static_cast<std::uint32_t>(rows[0].size()), h, 0));
    for (std::uint32_t y = 0; y < h; ++y) {
        for (std::size_t i = 0; i < 3 * rows[y].size(); ++i) {
            im.rows[h - 1 - y][i] = static_cast<std::uint8_t>(rows[y][i / 3][2 - i % 3]);
        }
    }
    return im;
}

class MaskSelect : public ::testing::Test {
  protected:
    // The mask after one operation on a uniform base mask of level.
    Rows run(const Image& base, const MaskOperation& op, std::int32_t level = 0,
             std::int32_t mask16 = 0, bool failed = false) {
        return mask_after(base, op, level, mask16, failed);
    }

    testing::RecordingScope scope;
};

MaskOperation range_op(Limits limits, std::int32_t colorspace = 0, std::int32_t mode = mask_add) {
    MaskOperation o;
    o.code = mask_op_color_range;
    o.mode = mode;
    o.parameters.color_range.colorspace = colorspace;
    o.parameters.color_range.limits = limits;
    return o;
}

MaskOperation fill_op(double x, double y, double threshold, std::int32_t mode = mask_add) {
    MaskOperation o;
    o.code = mask_op_flood_fill;
    o.mode = mode;
    o.parameters.floodfill_x = x;
    o.parameters.floodfill_y = y;
    o.parameters.floodfill_threshold = threshold;
    return o;
}

Rows uniform(std::uint32_t w, std::uint32_t h, std::uint32_t v) {
    return Rows(h, std::vector<std::uint32_t>(w, v));
}

TEST(ColorRangeTable, RampsWrappedRangesAndNarrowBands) {
    // minb 10, maxb 90, minw 30, maxw 50: rising 10..30, falling 50..90, truncated.
    auto t = color_range_table(101, 255, 10, 90, 30, 50, false, 8);
    EXPECT_EQ((std::vector<int>{t[5], t[10], t[20], t[29], t[30], t[50], t[60], t[90]}),
              (std::vector<int>{0, 0, 127, 242, 255, 255, 191, 0}));
    // Wrapped: none from maxw 40 to minw 60, ramps out to maxb 20 and minb 70.
    t = color_range_table(101, 255, 70, 20, 60, 40, false, 8);
    EXPECT_EQ((std::vector<int>{t[10], t[30], t[40], t[60], t[65], t[80]}),
              (std::vector<int>{255, 128, 0, 0, 128, 255}));

    // Equal limits on every channel: a band of 8 steps on 12-bit tables, 1 on 8-bit RGB ones.
    ColorRangeSettings s;
    s.limits.fill(512);
    ColorRangeMembership m;
    ASSERT_FALSE(m.build(s, image_color24, 255));
    ASSERT_EQ(m.table_size(), 4097u);
    EXPECT_EQ((std::vector<std::uint32_t>{m.channel(2, 2039), m.channel(2, 2040),
                                          m.channel(2, 2056), m.channel(2, 2057)}),
              (std::vector<std::uint32_t>{0, 255, 255, 0}));
    s.colorspace = 2;  // centre 512 x 255 / 1024 = 127
    ASSERT_FALSE(m.build(s, image_color24, 255));
    EXPECT_EQ((std::vector<std::uint32_t>{m.channel(0, 125), m.channel(0, 126), m.channel(0, 128),
                                          m.channel(0, 129)}),
              (std::vector<std::uint32_t>{0, 255, 255, 0}));
    s.limits[7] = 1024;  // one channel unlike the others: ordinary ranges again
    ASSERT_FALSE(m.build(s, image_color24, 255));
    EXPECT_EQ(m.channel(0, 200), 255u);
    EXPECT_TRUE(m.build(s, image_float_color, 255));
}

TEST_F(MaskSelect, ColorRangeOnGrayRampsAndColourPixels) {
    // Channel 1 wrapped: minb = minw = 200, maxb = maxw = 100 (49 and 24 on 8 bits).
    const Limits wrapped{200, 100, 0, 1024, 0, 1024, 200, 100, 0, 1024, 0, 1024};
    Image ramp;
    ASSERT_FALSE(image_alloc(ramp, image_gray8, 256, 1, 0));
    for (std::uint32_t x = 0; x < 256; ++x) ramp.rows[0][x] = static_cast<std::uint8_t>(x);
    const Rows r8 = run(ramp, range_op(wrapped));
    for (std::uint32_t v = 0; v < 256; ++v) EXPECT_EQ(r8[0][v], v < 24 || v > 49 ? 255u : 0u);
    // 16-bit gray on a 16-bit mask: 100 and 200 become 6399 and 12799.
    const Image ramp16 = mask_of(image_gray16, {{0, 6398, 6399, 12799, 12800, 65535}});
    EXPECT_EQ(run(ramp16, range_op(wrapped), 0, 1), Rows({{65535, 65535, 0, 0, 65535, 65535}}));

    // RGB: red at least 127 and green at most 63; Subtract from a full mask.
    const Image rgb = colour24({{{255, 0, 0}, {0, 255, 0}, {255, 255, 0}, {200, 50, 10}}});
    EXPECT_EQ(
        run(rgb,
            range_op({512, 1024, 0, 256, 0, 1024, 512, 1024, 0, 256, 0, 1024}, 2, mask_subtract),
            255),
        Rows({{0, 255, 255, 0}}));
    // 12-bit HSV hue 0..200 takes red and (200, 50, 10) (hue 143), not green or yellow (682).
    EXPECT_EQ(run(rgb, range_op({0, 50, 0, 1024, 0, 1024, 0, 50, 0, 1024, 0, 1024})),
              Rows({{255, 0, 0, 255}}));

    Image floating;
    ASSERT_FALSE(image_alloc(floating, image_float_gray, 2, 1, 0));
    EXPECT_EQ(run(floating, range_op(wrapped), 9, 0, true), Rows({{9, 9}}));
    EXPECT_EQ(scope.recorder.errors(), std::vector<std::string>{"Error creating color range mask"});
}

TEST_F(MaskSelect, FloodFillThresholdsSeedsAndBox) {
    const Image flat = mask_of(image_gray8, uniform(4, 3, 77));
    EXPECT_EQ(run(flat, fill_op(1.4, 1.6, 0)), uniform(4, 3, 255));
    EXPECT_EQ(run(flat, fill_op(-0.5, 1, 50), 9), uniform(4, 3, 9));  // rounds off the picture
    EXPECT_EQ(run(flat, fill_op(1, 2.5, 50), 9), uniform(4, 3, 9));

    // 8-bit gray counts a difference three times (1 needs sqrt(3)), 16-bit gray once.
    const Image steps = mask_of(image_gray8, {{10, 11, 10, 13}});
    EXPECT_EQ(run(steps, fill_op(0, 0, 1.7)), Rows({{255, 0, 0, 0}}));
    EXPECT_EQ(run(steps, fill_op(0, 0, 1.75)), Rows({{255, 255, 255, 0}}));
    EXPECT_EQ(run(steps, fill_op(0, 0, 2)), Rows({{255, 255, 255, 0}}));
    const Image steps16 = mask_of(image_gray16, {{2570, 2827, 2570, 3341}});  // 10, 11, 10, 13
    EXPECT_EQ(run(steps16, fill_op(0, 0, 0.9)), Rows({{255, 0, 0, 0}}));
    EXPECT_EQ(run(steps16, fill_op(0, 0, 1), 0, 1), Rows({{65535, 65535, 65535, 0}}));
    // Colour: squared distance 1 + 4.
    const Image rgb = colour24({{{10, 10, 10}, {11, 12, 10}, {10, 10, 10}}});
    EXPECT_EQ(run(rgb, fill_op(2, 0, 2.2)), Rows({{0, 0, 255}}));
    EXPECT_EQ(run(rgb, fill_op(2, 0, 2.24)), Rows({{255, 255, 255}}));

    // The L of zeros has the box of columns and rows 1-2; (2, 2) is in it but not filled.
    const Image el =
        mask_of(image_gray8,
                {{200, 200, 200, 200}, {200, 0, 0, 200}, {200, 0, 200, 200}, {200, 200, 200, 200}});
    Rows expected = uniform(4, 4, 100);
    expected[2][2] = 0;
    EXPECT_EQ(run(el, fill_op(1, 1, 0, mask_overlap), 100), expected);
    EXPECT_EQ(run(el, fill_op(1, 1, 0, mask_invert_mode), 15),
              Rows({{15, 15, 15, 15}, {15, 240, 240, 15}, {15, 240, 15, 15}, {15, 15, 15, 15}}));

    // A fill map that cannot be made leaves the mask as it was.
    MaskState state;
    mask_state_set_base(state, &el);
    ASSERT_FALSE(mask_list_reset(state));
    Image after;
    ASSERT_FALSE(image_copy(state.current_mask, after));
    testing::AllocationFailureScope failing;
    image_fail_allocations_after(0);
    EXPECT_TRUE(render_flood_fill(state, fill_op(1, 1, 0), after));
    EXPECT_EQ(seen(after), uniform(4, 4, 0));
    EXPECT_EQ(scope.recorder.errors(),
              std::vector<std::string>{"Cannot create flood fill temporary image"});
}

TEST_F(MaskSelect, FloodFillThroughALargeSerpentine) {
    // 3000 x 3000 corridors one pixel high, joined alternately at the right and left ends: every
    // column holds 1500 separate runs and the path is 4.5 million pixels long.
    const std::uint32_t n = 3000;
    Image maze;
    ASSERT_FALSE(image_alloc(maze, image_gray8, n, n, 0));
    for (std::uint32_t y = 0; y < n; ++y) {
        for (std::uint32_t x = 0; x < n; ++x) {
            const bool wall = y % 2 == 1 && x != (y % 4 == 1 ? n - 1 : 0);
            maze.rows[n - 1 - y][x] = wall ? 255 : 0;
        }
    }
    MaskState state;
    mask_state_set_base(state, &maze);
    ASSERT_FALSE(mask_list_reset(state));
    ASSERT_FALSE(mask_record(state, fill_op(0, 0, 10)));
    std::uint64_t wrong = 0;
    for (std::uint32_t r = 0; r < n; ++r) {
        for (std::uint32_t x = 0; x < n; ++x) {
            wrong += (state.current_mask.rows[r][x] == 255) != (maze.rows[r][x] == 0) ? 1 : 0;
        }
    }
    EXPECT_EQ(wrong, 0u);
}

TEST_F(MaskSelect, CommandLinesReplayOnAnotherSize) {
    // Fill the light right half, then invert by the range "blue at least 31" (the dark left).
    const std::string text =
        "mask 0 nx 20 ny 10 mask_mode 0 mask16 0 initial_level 0 n_op 2"
        " command1 operation 10 mask_mode 0 mask_operation 10 floodfill_x 0.9 floodfill_y 0.5 "
        "floodfill_threshold 10 "
        " command2 operation 7 mask_mode 3 mask_operation 7 colorspace 2 sample ff minb1 0 "
        "maxb1 1024 minb2 0 maxb2 1024 minb3 128 maxb3 1024 minw1 0 maxw1 1024 minw2 0 "
        "maxw2 1024 minw3 128 maxw3 1024 ";
    for (const auto& [w, h] : {std::pair<std::uint32_t, std::uint32_t>{20, 10}, {41, 7}}) {
        std::vector<std::array<int, 3>> row(w, {20, 30, 40});
        std::fill(row.begin() + w / 2, row.end(), std::array<int, 3>{220, 200, 10});
        const Image base = colour24(std::vector(h, row));
        Rows right = uniform(w, h, 0);
        for (auto& r : right) std::fill(r.begin() + w / 2, r.end(), 255u);
        MaskState state;
        mask_state_set_base(state, &base);
        EXPECT_FALSE(read_mask_command_line(text, state));
        EXPECT_EQ(seen(state.records[1].after), right) << w;
        EXPECT_EQ(seen(state.current_mask), uniform(w, h, 255)) << w;
    }
    EXPECT_TRUE(scope.recorder.messages.empty());
}

}  // namespace
}  // namespace tessaly
