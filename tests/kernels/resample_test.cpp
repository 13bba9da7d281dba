// The general scaler: hand-computed weights, the kernels' shapes, the plain algorithm, and what
// it keeps, refuses and reports.
#include "kernels/resample.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "core/image_convert.h"
#include "core/runner.h"
#include "support/recording_interaction.h"
#include "support/resample_reference.h"

namespace tessaly {
namespace {

using testing::plain_resample;
using testing::random_pixels;
using testing::same_pixels;
using testing::sample_at;

Image row_image(std::uint32_t type, const std::vector<int>& values, std::uint32_t height = 1) {
    return testing::image_of_rows(type, testing::SampleRows(height, values));
}
std::vector<int> first_row(const Image& im) {
    return testing::rows_of(im)[0];
}

TEST(ResampleKernel, HandComputedWeightsGiveTheseSamples) {
    // 4 -> 7 pixels, bicubic a = -0.75: odd destinations sit half-way, where
    // K(0.5) = 1.25/8 - 2.25/4 + 1 = 0.59375 -> trunc(151.4) = 151 and
    // K(1.5) = a (3.375 - 11.25 + 12 - 4) = -0.09375 -> trunc(-23.9) = -23.
    Image src = row_image(image_gray8, {10, 20, 200, 40}, 2);
    Image out;
    ASSERT_FALSE(resample(src, out, 7, 2, 72.0, resample_bicubic, -0.75, false));
    const std::vector<int> expected = {
        10,
        std::max(0, (151 * 10 + 151 * 20 - 23 * 200) / (151 + 151 - 23)),  // tap -1 dropped
        20,
        (-23 * 10 + 151 * 20 + 151 * 200 - 23 * 40) / 256,
        200,
        (-23 * 20 + 151 * 200 + 151 * 40) / (256 + 23),  // tap 4 dropped
        40};
    EXPECT_EQ(first_row(out), expected);
    // The same at 16 bits, stored little-endian.
    Image deep_src = row_image(image_gray16, {1000, 2000, 60000, 4000});
    ASSERT_FALSE(resample(deep_src, out, 7, 1, 72.0, resample_bicubic, -0.75, false));
    EXPECT_EQ(sample_at(out, 3, 0), (-23 * 1000 + 151 * 2000 + 151 * 60000 - 23 * 4000) / 256);
    EXPECT_EQ(out.rows[0][8], 60000 & 0xff);  // pixel 4 is source pixel 2
    EXPECT_EQ(out.rows[0][9], 60000 >> 8);

    // 4 -> 2 bilinear reduces with the kernel stretched by 2 and reaches 4 taps out:
    // K(0) = 1 -> 255, K(1/2) = 0.5 -> 127, K(1) = 0 skipped.
    ASSERT_FALSE(resample(src, out, 2, 2, 72.0, resample_bilinear, -0.75, false));
    EXPECT_EQ(first_row(out),
              (std::vector<int>{(255 * 10 + 127 * 20) / 382, (127 * 200 + 255 * 40) / 382}));
}

TEST(ResampleKernel, KernelShapes) {
    // The scaler is held to a plain version of itself below, so the kernels are checked here.
    EXPECT_DOUBLE_EQ(resample_kernel(resample_bilinear, 0, -0.25), 0.75);
    for (double a : {-0.5, -2.0}) {
        EXPECT_NEAR(resample_kernel(resample_bicubic, a, 1.0), 0.0, 1e-12);
        EXPECT_DOUBLE_EQ(resample_kernel(resample_bicubic, a, -1.5), a * 0.125);
        EXPECT_EQ(resample_kernel(resample_bicubic, a, 2.5), 0.0);
    }
    const double pi = 3.14159265358979323846;
    EXPECT_DOUBLE_EQ(resample_kernel(resample_lanczos6, 0, 0.5),
                     std::sin(pi / 2) / (pi / 2) * std::sin(pi / 6) / (pi / 6));
    EXPECT_EQ(resample_kernel(resample_lanczos4, 0, 2.5), 0.0);
    EXPECT_NE(resample_kernel(resample_lanczos8, 0, 3.5), 0.0);
}

TEST(ResampleKernel, MatchesThePlainAlgorithm) {
    struct Case {
        std::uint32_t type;
        std::uint32_t sw, sh;
        int w, h;
        int method;
        double a;
    };
    const Case cases[] = {
        {image_gray8, 37, 23, 80, 50, resample_bicubic, -0.75},  // enlarge both
        {image_color24, 61, 40, 23, 17, resample_lanczos6, 0},   // reduce both
        {image_color24, 30, 70, 71, 9, resample_lanczos8, 0},    // wider, lower
        {image_gray16, 50, 20, 19, 41, resample_bicubic, -2.0},  // narrower, taller
        {image_color48, 25, 26, 53, 13, resample_lanczos4, 0},   // 16-bit color
        {image_color48, 90, 31, 31, 90, resample_bilinear, 0},   // 16-bit color, transposed
        {image_gray8, 40, 40, 40, 13, resample_bicubic, -1.1},   // width kept
        {image_color24, 40, 40, 97, 40, resample_lanczos6, 0},   // height kept
        {image_gray8, 3, 2, 100, 1, resample_lanczos8, 0},       // tiny source, 1 row out
        {image_color24, 1, 1, 5, 4, resample_bicubic, -0.75},    // 1 pixel enlarged
        {image_gray16, 600, 3, 2, 2, resample_bilinear, 0},      // sums beyond 32 bits
        {image_gray8, 70000, 1, 2, 1, resample_bilinear, 0},     // 8-bit sums beyond 2^31
        {image_gray8, 1000, 3, 3, 2, resample_lanczos6, 0},      // sums far beyond 2^24
        {image_color48, 13, 11, 1, 1, resample_lanczos8, 0},     // one pixel: position 0
        {image_gray16, 13, 11, 13, 1, resample_bicubic, -0.75},  // one row: the bottom one
        {image_color48, 9, 5, 9, 5, resample_lanczos6, 0},       // same size: a copy
    };
    for (bool vector_code : {true, false}) {
        resample_allow_vector_code(vector_code);
        for (const Case& c : cases) {
            SCOPED_TRACE(::testing::Message()
                         << c.sw << "x" << c.sh << " -> " << c.w << "x" << c.h << " type " << c.type
                         << " method " << c.method << " vector code " << vector_code);
            Image src = random_pixels(c.type, c.sw, c.sh, c.sw * 7 + c.h);
            Image out;
            ASSERT_FALSE(resample(src, out, c.w, c.h, 96.0, c.method, c.a, false));
            EXPECT_TRUE(same_pixels(out, plain_resample(src, c.w, c.h, c.method, c.a)));
            EXPECT_EQ(out.dpi, 96.0);
        }
    }
    resample_allow_vector_code(true);
}

TEST(Resample, NearestNeighbourAndBinary) {
    // ((S - 1) i + (D - 1) / 2) / (D - 1): 10 -> 4 takes 0, 3, 6, 9; 3 -> 7 takes 0 0 1 1 1 2 2.
    Image out;
    ASSERT_FALSE(resample(row_image(image_gray8, {0, 10, 20, 30, 40, 50, 60, 70, 80, 90}, 2), out,
                          4, 2, 72.0, resample_nearest, 0, false));
    EXPECT_EQ(first_row(out), (std::vector<int>{0, 30, 60, 90}));
    ASSERT_FALSE(resample(row_image(image_gray16, {1000, 40000, 65535}), out, 7, 1, 72.0,
                          resample_nearest, 0, false));
    EXPECT_EQ(first_row(out), (std::vector<int>{1000, 1000, 40000, 40000, 40000, 65535, 65535}));
    // Binary stays bits: the nearest bit, or the gray picture's scaling thresholded at 128.
    const Image bits = random_pixels(image_binary, 21, 30, 9);
    ASSERT_FALSE(resample(bits, out, 8, 3, 72.0, resample_nearest, 0, false));
    EXPECT_EQ(out.type, image_binary);
    for (std::uint32_t y = 0; y < 3; ++y) {
        for (std::uint32_t x = 0; x < 8; ++x)
            EXPECT_EQ(sample_at(out, x, y), sample_at(bits, (20 * x + 3) / 7, (29 * y + 1) / 2));
    }
    Image gray, scaled;
    ASSERT_FALSE(convert_1_to_2(bits, gray));
    for (int method = resample_bilinear; method <= resample_lanczos8; ++method) {
        ASSERT_FALSE(resample(bits, out, 20, 61, 150.0, method, -0.75, false));
        ASSERT_FALSE(resample(gray, scaled, 20, 61, 150.0, method, -0.75, false));
        ASSERT_EQ(out.type, image_binary);
        EXPECT_EQ(out.dpi, 150.0);
        int white = 0;
        for (std::uint32_t i = 0; i < 20 * 61; ++i) {
            ASSERT_EQ(sample_at(out, i % 20, i / 20),
                      sample_at(scaled, i % 20, i / 20) >= 128 ? 255 : 0);
            white += sample_at(out, i % 20, i / 20) != 0;
        }
        EXPECT_GT(white, 0);
        EXPECT_LT(white, 20 * 61);
    }
}

TEST(Resample, ProgressCancelAndRefusals) {
    testing::RecordingScope scope;
    auto& recorder = scope.recorder;
    Image src = random_pixels(image_gray8, 300, 200, 1);
    Image out;
    // Two threads and 1000 x 1000 pixels: enough for a progress report.
    set_processor_count(2);
    ASSERT_FALSE(resample(src, out, 1000, 1000, 72.0, resample_bilinear, 0, false));
    EXPECT_TRUE(recorder.progress_titles.empty());
    ASSERT_FALSE(resample(src, out, 1000, 1000, 72.0, resample_bilinear, 0, true));
    set_processor_count(0);
    EXPECT_EQ(recorder.progress_titles, std::vector<std::string>{"Resample"});

    EXPECT_TRUE(resample(src, out, 0, 5, 72.0, resample_bicubic, -0.75, false));
    EXPECT_TRUE(resample(src, out, 5, 5, 72.0, 6, -0.75, false));
    EXPECT_TRUE(resample(src, src, 5, 5, 72.0, resample_bicubic, -0.75, false));
    EXPECT_EQ(src.width, 300u);  // left alone
    Image floats;
    ASSERT_FALSE(convert_2_to_6(src, floats));
    EXPECT_TRUE(resample(floats, out, 5, 5, 72.0, resample_bicubic, -0.75, false));
    EXPECT_TRUE(out.empty());

    set_run_abort(true);
    const bool failed = resample(src, out, 5, 5, 72.0, resample_lanczos6, 0, false);
    set_run_abort(false);
    EXPECT_TRUE(failed);
    EXPECT_TRUE(out.empty());
}

}  // namespace
}  // namespace tessaly
