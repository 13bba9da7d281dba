// Rotate/Mirror and Resize.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "core/image_orient.h"
#include "core/runner.h"
#include "framework/registry.h"
#include "support/image_helpers.h"
#include "support/module_helpers.h"
#include "support/resample_reference.h"
#include "support/sample_rows.h"
#include "transformations/resize.h"

namespace tessaly {
namespace {

using namespace testing;

// Rows top first, as a person sees them; Images keep their bottom row first.
SampleRows stored(SampleRows seen) {
    std::reverse(seen.begin(), seen.end());
    return seen;
}

// 1 2 3      codes as seen:  1: 4 1   3: 3 6   5: 1 4   7: 6 3
// 4 5 6                         5 2      2 5      2 5      5 2
//                               6 3      1 4      3 6      4 1
TEST(Rotref, EveryCodeAsSeen) {
    const SampleRows expected[orientation_count] = {
        {{1, 2, 3}, {4, 5, 6}},    // unchanged
        {{4, 1}, {5, 2}, {6, 3}},  // clockwise
        {{6, 5, 4}, {3, 2, 1}},    // half turn
        {{3, 6}, {2, 5}, {1, 4}},  // counterclockwise
        {{3, 2, 1}, {6, 5, 4}},    // left to right
        {{1, 4}, {2, 5}, {3, 6}},  // transpose
        {{4, 5, 6}, {1, 2, 3}},    // top to bottom
        {{6, 3}, {5, 2}, {4, 1}},  // transverse
    };
    Node input, node;
    input.parent = &tree_root();
    node.parent = &input;
    input.image = image_of_rows(image_gray8, stored({{1, 2, 3}, {4, 5, 6}}));
    for (int code = 0; code < orientation_count; ++code) {
        const std::string line = "rotref 0 orientation " + std::to_string(code);
        ASSERT_EQ(find_transformation("rotref")->run(&input, &node, split(line)), 0);
        EXPECT_EQ(rows_of(node.image), stored(expected[code])) << code;
    }
}

// The plain form: each pixel's bytes, or its bit, moved on their own to where source pixel
// (x, y) of a W x H picture lands, rows stored bottom first.
Image plain_orient(const Image& src, int code) {
    using Dest = void (*)(int W, int H, int x, int y, int& dx, int& dy);
    const Dest table[orientation_count] = {
        [](int, int, int x, int y, int& dx, int& dy) { dx = x, dy = y; },
        [](int W, int, int x, int y, int& dx, int& dy) { dx = y, dy = W - 1 - x; },
        [](int W, int H, int x, int y, int& dx, int& dy) { dx = W - 1 - x, dy = H - 1 - y; },
        [](int, int H, int x, int y, int& dx, int& dy) { dx = H - 1 - y, dy = x; },
        [](int W, int, int x, int y, int& dx, int& dy) { dx = W - 1 - x, dy = y; },
        [](int W, int H, int x, int y, int& dx, int& dy) { dx = H - 1 - y, dy = W - 1 - x; },
        [](int, int H, int x, int y, int& dx, int& dy) { dx = x, dy = H - 1 - y; },
        [](int, int, int x, int y, int& dx, int& dy) { dx = y, dy = x; },
    };
    const int W = static_cast<int>(src.width), H = static_cast<int>(src.height);
    const bool swap = orientation_swaps_sides(code);
    Image out;
    EXPECT_FALSE(image_alloc_with(out, src.type, swap ? H : W, swap ? W : H, src.dpi, src.profile,
                                  src.profile_size, nullptr));
    const std::size_t p = image_pixel_bytes(src.type);
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x) {
            int dx, dy;
            table[code](W, H, x, y, dx, dy);
            if (src.type != image_binary) {
                std::memcpy(out.rows[dy] + dx * p, src.rows[y] + x * p, p);
            } else if (bit_get(src.rows[y], x)) {
                bit_set(out.rows[dy], dx);
            }
        }
    }
    return out;
}

TEST(Rotref, EveryTypeFollowsThePlainFormOnSeveralThreads) {
    const std::uint8_t profile[] = {1, 2, 3, 4, 5};
    const int previous = processor_count();
    for (int threads : {1, 3}) {
        set_processor_count(threads);
        for (std::uint32_t type = image_binary; type <= image_color48; ++type) {
            // Wider than one band of rows, with a binary width not a multiple of 8; one pixel wide.
            for (const auto& [W, H] : {std::pair{101u, 37u}, std::pair{1u, 9u}}) {
                Image src;
                ASSERT_FALSE(image_alloc(src, type, W, H, 240.0));
                ASSERT_FALSE(image_set_profile(src, profile, sizeof profile) ||
                             image_add_tag(src, 306, 2, 5, "2026:"));
                fill_pattern(src, type == image_binary ? (W + 7) / 8 : W * image_pixel_bytes(type));
                for (std::uint32_t y = 0; type == image_binary && W % 8 && y < H; ++y) {
                    src.rows[y][W / 8] &= static_cast<std::uint8_t>(0xFF00u >> (W % 8));
                }
                for (int code = 0; code < orientation_count; ++code) {
                    Image out;
                    ASSERT_FALSE(image_orient(src, out, code));
                    // The resolution, the profile and the padding included.
                    EXPECT_TRUE(image_equal(out, plain_orient(src, code)))
                        << threads << " threads, type " << type << " " << W << "x" << H << " code "
                        << code;
                    ASSERT_NE(out.tags, nullptr);
                    EXPECT_EQ(out.tags->tag, 306u);
                }
            }
        }
    }
    set_processor_count(previous);
}

TEST(Rotref, DiagonalMirrorsUndoThemselvesInPlace) {
    for (std::int32_t diagonal : {orientation_transpose, orientation_transverse}) {
        Image im = image_of_rows(image_gray16, {{1, 2, 3}, {4, 5, 6}});
        ASSERT_FALSE(image_orient(im, im, diagonal));
        EXPECT_EQ(im.width, 2u);
        ASSERT_FALSE(image_orient(im, im, diagonal));
        EXPECT_EQ(rows_of(im), (SampleRows{{1, 2, 3}, {4, 5, 6}}));
    }
}

TEST(Rotref, EmptySidesAndFailures) {
    Image flat, out;
    ASSERT_FALSE(image_alloc(flat, image_color24, 0, 5, 72.0));
    ASSERT_FALSE(image_rotate_cw(flat, out));
    EXPECT_TRUE(out.width == 5u && out.height == 0u);
    ASSERT_FALSE(image_rotate_180(flat, out));
    EXPECT_EQ(out.rows, nullptr);
    // A failed allocation, or a batch abort of the pixel loop, leaves no picture.
    const Image src = image_of_rows(image_gray8, {{1, 2}, {3, 4}});
    {
        AllocationFailureScope failing;
        image_fail_allocations_after(0);
        EXPECT_TRUE(image_orient(src, out, orientation_rotate_cw));
    }
    EXPECT_TRUE(is_empty_record(out));
    ASSERT_FALSE(image_orient(src, out, orientation_rotate_cw));
    set_run_abort(true);
    EXPECT_TRUE(image_orient(src, out, orientation_mirror_top_bottom));
    set_run_abort(false);
    EXPECT_TRUE(is_empty_record(out));
}

TEST(ResizeTarget, EverySetWithAndWithoutResampling) {
    const ResizeSource landscape{4000, 3000, 300, 36.0}, portrait{3000, 4000, 300, 36.0};
    // a and b go to every field a set may read (pixel_w, physical_w, memory, percent and
    // pixel_area; pixel_h and physical_h): each set reads only its own. The resolution is 100.
    struct Case {
        int resample, set;
        double a, b;
        ResizeSource source;
        int width, height;
        double resolution;
    };
    const Case cases[] = {
        {0, resize_pixel_width, 1000, 0, landscape, 1000, 750, 100},
        {0, resize_pixel_height, 0, 600, landscape, 800, 600, 100},
        {0, resize_pixel_width_height, 123, 456, landscape, 123, 456, 100},
        {0, resize_physical_width, 5, 0, landscape, 500, 375, 100},  // 5 in at 100 dpi
        {0, resize_physical_height, 0, 2, landscape, 267, 200, 100},
        {0, resize_physical_width_height, 2, 3, landscape, 200, 300, 100},
        {0, resize_memory, 9, 0, landscape, 2000, 1500, 100},  // a quarter: half of each side
        // Short and long sides follow the orientation.
        {0, resize_pixel_short_side, 600, 500, landscape, 667, 500, 100},
        {0, resize_pixel_short_side, 600, 500, portrait, 600, 800, 100},
        {0, resize_pixel_long_side, 600, 500, landscape, 600, 450, 100},
        {0, resize_pixel_long_side, 600, 500, portrait, 375, 500, 100},
        {0, resize_physical_short_side, 4, 3, landscape, 400, 300, 100},
        {0, resize_physical_short_side, 4, 3, portrait, 400, 533, 100},
        {0, resize_physical_long_side, 4, 3, landscape, 400, 300, 100},
        {0, resize_physical_long_side, 4, 3, portrait, 225, 300, 100},
        // Bounding rectangles: the width first, the height when the width makes it too tall.
        {0, resize_pixel_bounding_rectangle, 1000, 800, landscape, 1000, 750, 100},
        {0, resize_pixel_bounding_rectangle, 1000, 700, landscape, 933, 700, 100},
        {0, resize_physical_bounding_rectangle, 10, 8, landscape, 1000, 750, 100},
        {0, resize_physical_bounding_rectangle, 10, 5, landscape, 667, 500, 100},
        {0, resize_pixel_percent, 25, 0, landscape, 1000, 750, 100},
        {0, resize_megapixels, 1e6, 0, landscape, 1155, 866, 100},
        {0, resize_resolution, 0, 0, landscape, 4000, 3000, 300},
        {0, resize_physical_percent, 50, 0, landscape, 4000, 3000, 300},
        // Halves round away from zero; nothing ends below 2 pixels.
        {0, resize_pixel_width, 3, 0, {4, 6, 72, 0}, 3, 5, 100},
        {0, resize_pixel_width, 1, 0, landscape, 2, 2, 100},
        // Don't Resample: only the resolution changes.
        {1, resize_physical_width, 20, 5, landscape, 4000, 3000, 200},
        {1, resize_physical_height, 20, 5, landscape, 4000, 3000, 600},
        {1, resize_resolution, 20, 5, landscape, 4000, 3000, 100},
        {1, resize_physical_short_side, 20, 5, landscape, 4000, 3000, 600},
        {1, resize_physical_short_side, 20, 5, portrait, 3000, 4000, 150},
        {1, resize_physical_long_side, 20, 5, landscape, 4000, 3000, 200},
        {1, resize_physical_long_side, 20, 5, portrait, 3000, 4000, 800},
        {1, resize_physical_bounding_rectangle, 20, 5, landscape, 4000, 3000, 600},
        {1, resize_physical_percent, 50, 5, landscape, 4000, 3000, 600},  // half: twice the dpi
        {1, resize_pixel_width, 20, 5, landscape, 4000, 3000, 300},
        {1, resize_megapixels, 20, 5, landscape, 4000, 3000, 300},
    };
    for (const Case& c : cases) {
        ResizeSettings s = resize_module.defaults();
        s.resample = c.resample, s.set = c.set, s.resolution = 100;
        s.pixel_w = static_cast<std::int32_t>(c.a), s.pixel_h = static_cast<std::int32_t>(c.b);
        s.physical_w = s.memory = s.percent = s.pixel_area = c.a;
        s.physical_h = c.b;
        const ResizeTarget t = resize_target(s, c.source);
        EXPECT_EQ(t.width, c.width) << c.resample << " set " << c.set << " " << c.a;
        EXPECT_EQ(t.height, c.height) << c.resample << " set " << c.set << " " << c.a;
        EXPECT_DOUBLE_EQ(t.resolution, c.resolution) << c.resample << " set " << c.set;
    }
}

// Settings read against a source picture, as a run reads them.
bool resize_parse(std::string_view line, const Image* source, ResizeSettings& s) {
    TransformationContext<ResizeSettings> ctx;
    ctx.working_input = source;
    const bool failed = resize_module.parse(split(line), ctx);
    s = ctx.settings;
    return failed;
}

TEST(ResizeCommandLine, DefaultsFromTheSourceLegacyKeysAndFailures) {
    Image src;
    ASSERT_FALSE(image_alloc(src, image_color24, 40, 30, 300.0));  // rows of 120 bytes
    ResizeSettings s = resize_module.defaults();
    resize_input_defaults(s, src);
    EXPECT_EQ(resize_module.format(s),
              "resize 0 pixel_w 40 pixel_h 30 physical_w 0.13333 physical_h 0.1 resolution 300 "
              "memory 0.0036 percent 100 pixel_area 0.0012 iunits 0 wunits 0 runits 0 resample 0 "
              "set 0 method 2 sharpen -0.75 display 1 auto_preview 1");
    ASSERT_FALSE(resize_parse("resize 0 pixel_area 0.3072", &src, s));
    EXPECT_DOUBLE_EQ(s.pixel_area, 307200.0);

    // Missing keys keep the source's values, but a missing pixel_area means one megapixel.
    ASSERT_FALSE(image_alloc(src, image_gray8, 100, 50, 200.0));
    ASSERT_FALSE(resize_parse("resize 0 set 14 percent 50", &src, s));
    EXPECT_EQ((std::vector<double>{1.0 * s.pixel_w, s.physical_h, s.resolution, s.memory,
                                   s.pixel_area, s.percent}),
              (std::vector<double>{100, 0.25, 200, 100.0 * 50 / 1e6, 1e6, 50}));
    // Old lines give the new size and resolution; the present-day keys still win.
    ASSERT_FALSE(resize_parse("resize 0 onx 800 ony 600 dpi 250 percent 40", &src, s));
    EXPECT_EQ((std::vector<double>{1.0 * s.pixel_w, 1.0 * s.pixel_h, s.physical_w, s.physical_h,
                                   s.resolution, s.percent}),
              (std::vector<double>{800, 600, 3.2, 2.4, 250, 40}));
    ASSERT_FALSE(resize_parse("resize 0 onx 800 pixel_w 900", &src, s));
    // physical_w: 800 at the source's 200 dpi
    EXPECT_TRUE(s.pixel_w == 900 && s.pixel_h == 50 && s.physical_w == 4.0);
    // A resolution that cannot be computed.
    EXPECT_TRUE(resize_parse("resize 0 resample 1 set 3 physical_w 0", &src, s));
}

TEST(ResizeRun, ScalesTheInputKeepingTypeProfileAndTags) {
    Node input, node;
    input.parent = &tree_root();
    node.parent = &input;
    input.image = testing::random_pixels(image_color24, 40, 30, 6);
    ASSERT_FALSE(image_set_profile(input.image, reinterpret_cast<const std::uint8_t*>("icc"), 3));
    ASSERT_FALSE(image_add_tag(input.image, 271, 2, 4, "cam"));
    ASSERT_EQ(
        testing::run_line(&input, &node, "resize 0 set 14 percent 50 method 4 resolution 150"), 0);
    const Image& out = node.image;
    EXPECT_TRUE(out.dpi == 150.0 && out.profile_size == 3u && out.tags && out.tags->tag == 271u);
    EXPECT_TRUE(testing::same_pixels(
        out, testing::plain_resample(input.image, 20, 15, resample_lanczos6, 0)));

    // Don't Resample at 50 percent: the same pixels at twice the resolution.
    input.image = testing::random_pixels(image_gray16, 17, 9, 2);
    ASSERT_EQ(testing::run_line(&input, &node, "resize 0 resample 1 set 15 percent 50"), 0);
    EXPECT_EQ(node.image.dpi, 600.0);
    node.image.dpi = 300.0;
    EXPECT_TRUE(image_equal(node.image, input.image));
}

}  // namespace
}  // namespace tessaly
