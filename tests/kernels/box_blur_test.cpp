// The box blur: the tent by hand, the running-sum and plain forms against each other, the rows
// handed to a sink, and the chrominance-only form.
#include "kernels/box_blur.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/runner.h"
#include "support/image_helpers.h"
#include "support/sample_rows.h"

namespace tessaly {
namespace {

using Rows = testing::SampleRows;
using testing::image_of_rows;
using testing::rows_of;

constexpr std::uint32_t all_types[] = {image_gray8,   image_color24,    image_gray16,
                                       image_color48, image_float_gray, image_float_color};

Rows blurred(const Image& in, int radius, bool chrominance_only = false) {
    Image out;
    EXPECT_FALSE(box_blur_image(in, out, radius, chrominance_only));
    return rows_of(out);
}

// Random samples of every pixel type (floats in 0..1).
Image random_image(std::uint32_t type, std::uint32_t w, std::uint32_t h, std::uint32_t seed) {
    Image im;
    EXPECT_FALSE(image_alloc(im, type, w, h, 0.0));
    testing::fill_pattern(im, image_row_bytes(type, w), seed);
    const std::uint32_t floats = type == image_float_gray    ? w
                                 : type == image_float_color ? 3 * w
                                                             : 0;
    for (std::uint32_t y = 0; y < h; ++y) {
        for (std::uint32_t i = 0; i < floats; ++i)
            reinterpret_cast<float*>(im.rows[y])[i] = static_cast<float>(i * 7919 % 1000) / 999;
    }
    return im;
}

// The plain column-by-column form on one thread.
Image plain_blur(const Image& in, int radius) {
    Image out;
    const int saved = processor_count();
    set_processor_count(1);
    box_blur_allow_fast_path(false);
    EXPECT_FALSE(box_blur_image(in, out, radius, false));
    box_blur_allow_fast_path(true);
    set_processor_count(saved);
    return out;
}

// The rows box_blur_rows hands over, gathered into a picture; each row must come once, in runs
// of at most the sink's length.
Image sunk(const Image& in, int radius) {
    Image rows;
    EXPECT_FALSE(image_alloc(rows, in.type, in.width, in.height, 0.0));
    const std::size_t pixels = std::size_t{in.width} * image_pixel_bytes(in.type);
    std::vector<int> seen(in.height, 0);
    EXPECT_FALSE(box_blur_rows(
        in, radius,
        [&](int first, int n, const std::uint8_t* const* blurred) -> std::uint8_t {
            EXPECT_TRUE(n >= 1 && n <= box_blur_sink_rows) << n;
            for (int i = 0; i < n; ++i) {
                ++seen[static_cast<std::size_t>(first + i)];
                std::memcpy(rows.rows[first + i], blurred[i], pixels);
            }
            return 0;
        },
        ""));
    EXPECT_EQ(seen, std::vector<int>(in.height, 1));
    return rows;
}

// Radius 1 is the tent 1,2,3,2,1 reached by two truncating divisions by 3.
TEST(BoxBlur, RadiusOneByHand) {
    // One row: the column pass leaves it alone. 90 -> 30 30 30 -> 10 20 30 20 10.
    EXPECT_EQ(blurred(image_of_rows(image_gray8, {{0, 0, 90, 0, 0}}), 1),
              (Rows{{10, 20, 30, 20, 10}}));
    // 14 -> 4 4 4 -> 1 2 4 2 1 (one division by 9 would give 1 3 4 3 1).
    EXPECT_EQ(blurred(image_of_rows(image_gray8, {{0, 0, 14, 0, 0}}), 1), (Rows{{1, 2, 4, 2, 1}}));
    // Columns beyond the edge repeat it: line 50 50 | 50 0 0 0 0 | 0 0, first filter 50 33 16 0
    // ..., second 33 16 5 0 0.
    EXPECT_EQ(blurred(image_of_rows(image_gray8, {{50, 0, 0, 0, 0}}), 1),
              (Rows{{33, 16, 5, 0, 0}}));
    // Rows beyond the edge mirror it (row -1 reads row 1): line 0 60 | 0 60 0 0 0 | 0 0, first
    // filter 20 40 20 20 0 0 0, second 26 26 13 6 0.
    EXPECT_EQ(blurred(image_of_rows(image_gray16, {{0}, {60}, {0}, {0}, {0}}), 1),
              (Rows{{26}, {26}, {13}, {6}, {0}}));
    // Shorter than the kernel: rows -2, -1 read row 1, rows 2, 3 read row 0: line 90 90 0 90 0
    // 0, first filter 60 60 30 30, second 50 40.
    EXPECT_EQ(blurred(image_of_rows(image_gray8, {{0}, {90}}), 1), (Rows{{50}, {40}}));
    // Radius 0 copies exactly.
    Image random = random_image(image_color48, 9, 4, 3), copy;
    ASSERT_FALSE(box_blur_image(random, copy, 0, false));
    EXPECT_TRUE(image_equal(copy, random));
}

// The running sums over many columns at once give the plain form's pixels for every type,
// radius and band split, the whole picture or its rows handed to a sink: each row once, without
// its padding, in runs of at most the sink's length; a sink's failure stops the run. Constant
// pictures stay constant.
TEST(BoxBlur, FastAndPlainFormsAgreeWholeOrHandedToASink) {
    for (std::uint32_t type : all_types) {
        for (int radius : {1, 2, 7, 129, 256}) {
            const Image in = random_image(type, 37, 53, static_cast<std::uint32_t>(radius + type));
            const Image plain = plain_blur(in, radius);
            for (int run = 0; run < 4; ++run) {  // fast or plain, one thread or three
                SCOPED_TRACE(::testing::Message() << type << " r " << radius << " run " << run);
                box_blur_allow_fast_path(run < 2);
                set_processor_count(run % 2 ? 3 : 1);
                Image whole;
                ASSERT_FALSE(box_blur_image(in, whole, radius, false));
                EXPECT_TRUE(image_equal(whole, plain));
                EXPECT_TRUE(image_equal(sunk(in, radius), plain));
            }
            box_blur_allow_fast_path(true);
            set_processor_count(0);
        }
    }
    // Rows long enough to be summed in several blocks and to end in partial runs of 32 and 16
    // samples, bands of several 16-row groups with a partial one, and the radii on either side
    // of the largest 8-bit sums that fit in 16 bits; whole or handed over in place.
    for (std::uint32_t type : {image_gray8, image_color24, image_color48}) {
        for (int radius : {3, 128, 129}) {
            const Image in = random_image(type, 1501, 37, 11);
            const Image plain = plain_blur(in, radius);
            Image fast;
            ASSERT_FALSE(box_blur_image(in, fast, radius, false));
            EXPECT_TRUE(image_equal(fast, plain)) << type << " r " << radius;
            EXPECT_TRUE(image_equal(sunk(in, radius), plain)) << type << " r " << radius;
        }
    }
    // The largest sums: white pictures at the largest radius and, for 8 bits, at the largest
    // radius whose sums fit in 16 bits.
    const Image white = image_of_rows(image_gray16, Rows(3, std::vector<int>(600, 65535)));
    EXPECT_EQ(blurred(white, 256), rows_of(white));
    const Image white8 = image_of_rows(image_gray8, Rows(20, std::vector<int>(300, 255)));
    for (int radius : {128, 256}) EXPECT_EQ(blurred(white8, radius), rows_of(white8));

    // One 254 in a white line: every window over it sums to 255 w - 1, where a division by one
    // 16-bit product first goes wrong for the widths that cannot use it. The same with 65534 in
    // 65535 for the 16-bit division in floats, on either side of the widest window it takes
    // (63): the quotients lie as close to an integer as any can. Along a row and along a column.
    for (const int full : {255, 65535}) {
        const std::uint32_t type = full == 255 ? image_gray8 : image_gray16;
        Image row = image_of_rows(type, Rows(1, std::vector<int>(600, full)));
        Image column = image_of_rows(type, Rows(600, std::vector<int>(1, full)));
        testing::set_sample_at(row, 300, 0, 0, full - 1);
        testing::set_sample_at(column, 0, 300, 0, full - 1);
        for (int radius = 1; radius <= (full == 255 ? 128 : 40); ++radius) {
            for (const Image* line : {&row, &column}) {
                Image fast;
                ASSERT_FALSE(box_blur_image(*line, fast, radius, false));
                ASSERT_TRUE(image_equal(fast, plain_blur(*line, radius)))
                    << full << " r " << radius;
            }
        }
    }

    // On one band the failure stops the calls at once.
    set_processor_count(1);
    const Image in = random_image(image_color24, 30, 70, 5);
    int calls = 0;
    EXPECT_TRUE(box_blur_rows(
        in, 2, [&](int, int, const std::uint8_t* const*) -> std::uint8_t { return ++calls == 2; },
        ""));
    EXPECT_EQ(calls, 2);
    EXPECT_TRUE(box_blur_rows(
        in, 0, [](int, int, const std::uint8_t* const*) -> std::uint8_t { return 0; }, ""));
    set_processor_count(0);
}

// Each pixel keeps its largest channel; a gray picture ignores the option.
TEST(BoxBlur, ChrominanceOnly) {
    for (std::uint32_t type : {image_color24, image_color48, image_float_color}) {
        const Image in = random_image(type, 23, 17, type);
        Image out;
        ASSERT_FALSE(box_blur_image(in, out, 3, true));
        int changed = 0;
        for (std::uint32_t y = 0; y < in.height; ++y) {
            for (std::uint32_t x = 0; x < in.width; ++x) {
                double a[3], b[3];
                for (std::size_t c = 0, i = 3 * x; c < 3; ++c, ++i) {
                    if (type == image_float_color) {
                        a[c] = reinterpret_cast<const float*>(in.rows[y])[i];
                        b[c] = reinterpret_cast<const float*>(out.rows[y])[i];
                    } else {
                        a[c] = testing::sample_at(in, x, y, static_cast<int>(c));
                        b[c] = testing::sample_at(out, x, y, static_cast<int>(c));
                    }
                }
                ASSERT_EQ(*std::max_element(a, a + 3), *std::max_element(b, b + 3))
                    << type << " " << x << "," << y;
                changed += !std::equal(a, a + 3, b);
            }
        }
        EXPECT_GT(changed, 100) << type;
    }
    const Image g = random_image(image_gray16, 19, 11, 5);
    EXPECT_EQ(blurred(g, 4, true), blurred(g, 4, false));
}

}  // namespace
}  // namespace tessaly
