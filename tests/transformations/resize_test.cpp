#include "transformations/resize.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "core/image_convert.h"
#include "core/runner.h"
#include "framework/registry.h"
#include "support/module_helpers.h"
#include "support/image_helpers.h"
#include "support/recording_interaction.h"

namespace tessaly {
namespace {

int channels(const Image& im) {
    return im.type == image_color24 || im.type == image_color48 ? 3 : 1;
}
bool deep(const Image& im) {
    return im.type == image_gray16 || im.type == image_color48;
}

// Sample c of pixel x in stored row y (binary reads 0 or 255).
int at(const Image& im, std::uint32_t x, std::uint32_t y, int c = 0) {
    const std::uint8_t* r = im.rows[y];
    if (im.type == image_binary) return bit_get(r, x);
    const std::size_t i = static_cast<std::size_t>(x) * channels(im) + c;
    return deep(im) ? sample16(r, i) : r[i];
}
void put(Image& im, std::uint32_t x, std::uint32_t y, int c, int v) {
    std::uint8_t* r = im.rows[y];
    const std::size_t i = static_cast<std::size_t>(x) * channels(im) + c;
    if (deep(im))
        set_sample16(r, i, static_cast<std::uint16_t>(v));
    else
        r[i] = static_cast<std::uint8_t>(v);
}

// Every byte of every pixel random, so 16-bit samples use their whole range.
Image random_image(std::uint32_t type, std::uint32_t w, std::uint32_t h, std::uint32_t seed) {
    Image im;
    EXPECT_FALSE(image_alloc(im, type, w, h, 300.0));
    const std::uint32_t bits[] = {0, 1, 8, 24, 16, 48};
    testing::fill_pattern(im, (w * bits[type] + 7) / 8, seed);
    return im;
}

Image row_image(std::uint32_t type, const std::vector<int>& values, std::uint32_t height = 1) {
    Image im;
    EXPECT_FALSE(image_alloc(im, type, static_cast<std::uint32_t>(values.size()), height, 72.0));
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < im.width; ++x) put(im, x, y, 0, values[x]);
    }
    return im;
}

std::vector<int> first_row(const Image& im) {
    std::vector<int> v;
    for (std::uint32_t x = 0; x < im.width; ++x) v.push_back(at(im, x, 0));
    return v;
}

// ---------------------------------------------------------------------------------------------
// The algorithm written out plainly, one sample at a time in doubles, to hold the table-driven,
// vectorised scaler to.

std::vector<std::pair<int, int>> plain_taps(int method, double a, int s, int d, int i,
                                            bool vertical) {
    std::vector<std::pair<int, int>> taps;
    if (d == 1) return {{0, 255}};
    const double p = i * (s - 1.0) / (d - 1.0);
    const int base = static_cast<int>(std::floor(p));
    const double f = p - base;
    if (s < d) {
        if (vertical && std::trunc(255.0 * f) == 0) return {{base, 255}};
        const int n = method == resample_lanczos6 ? 6 : method == resample_lanczos8 ? 8 : 4;
        for (int k = 1 - n / 2; k <= n / 2; ++k) {
            if (base + k < 0 || base + k >= s) continue;
            taps.push_back({base + k, static_cast<int>(
                                          std::trunc(255.0 * resample_kernel(method, a, k - f)))});
        }
        return taps;
    }
    const int reach = static_cast<int>(std::floor((s - 1.0) / (d - 1.0))) + 1;
    for (int k = -reach; k <= reach; ++k) {
        if (base + k < 0 || base + k >= s) continue;
        const double w = resample_kernel(method, a, (k - f) / (static_cast<double>(s) / d));
        if (w == 0.0) continue;
        taps.push_back({base + k, std::clamp(static_cast<int>(std::trunc(255.0 * w)), 0, 255)});
    }
    return taps;
}

template <class Read>
int plain_sample(const std::vector<std::pair<int, int>>& taps, Read read, int top) {
    std::int64_t sum = 0, weights = 0;
    for (auto [index, w] : taps) {
        sum += static_cast<std::int64_t>(w) * read(index);
        weights += w;
    }
    if (weights == 0) weights = 1;
    return static_cast<int>(std::clamp<std::int64_t>(sum / weights, 0, top));
}

Image plain_resample(const Image& src, int w, int h, int method, double a) {
    Image out;
    EXPECT_FALSE(image_alloc(out, src.type, w, h, src.dpi));
    const int top = deep(src) ? 65535 : 255;
    const int sw = static_cast<int>(src.width), sh = static_cast<int>(src.height);
    std::vector<int> column(static_cast<std::size_t>(sw) * channels(src));
    for (int y = 0; y < h; ++y) {
        auto vt = plain_taps(method, a, sh, h, y, true);
        for (int x = 0; x < sw; ++x) {
            for (int c = 0; c < channels(src); ++c) {
                column[x * channels(src) + c] = plain_sample(
                    vt, [&](int r) { return at(src, x, r, c); }, top);
            }
        }
        for (int x = 0; x < w; ++x) {
            auto ht = plain_taps(method, a, sw, w, x, false);
            for (int c = 0; c < channels(src); ++c) {
                put(out, x, y, c,
                    plain_sample(
                        ht, [&](int i) { return column[i * channels(src) + c]; }, top));
            }
        }
    }
    return out;
}

::testing::AssertionResult same_pixels(const Image& a, const Image& b) {
    if (a.type != b.type || a.width != b.width || a.height != b.height) {
        return ::testing::AssertionFailure()
               << "shape " << a.width << "x" << a.height << " vs " << b.width << "x" << b.height;
    }
    for (std::uint32_t y = 0; y < a.height; ++y) {
        for (std::uint32_t x = 0; x < a.width; ++x) {
            for (int c = 0; c < channels(a); ++c) {
                if (at(a, x, y, c) != at(b, x, y, c)) {
                    return ::testing::AssertionFailure()
                           << "pixel " << x << "," << y << " channel " << c << ": "
                           << at(a, x, y, c) << " vs " << at(b, x, y, c);
                }
            }
        }
    }
    return ::testing::AssertionSuccess();
}

// ---------------------------------------------------------------------------------------------

TEST(ResizeKernel, HandComputedWeightsGiveTheseSamples) {
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
    EXPECT_EQ(at(out, 3, 0), (-23 * 1000 + 151 * 2000 + 151 * 60000 - 23 * 4000) / 256);
    EXPECT_EQ(out.rows[0][8], 60000 & 0xff);  // pixel 4 is source pixel 2
    EXPECT_EQ(out.rows[0][9], 60000 >> 8);

    // 4 -> 2 bilinear reduces with the kernel stretched by 2 and reaches 4 taps out:
    // K(0) = 1 -> 255, K(1/2) = 0.5 -> 127, K(1) = 0 skipped.
    ASSERT_FALSE(resample(src, out, 2, 2, 72.0, resample_bilinear, -0.75, false));
    EXPECT_EQ(first_row(out),
              (std::vector<int>{(255 * 10 + 127 * 20) / 382, (127 * 200 + 255 * 40) / 382}));
}

TEST(ResizeKernel, KernelShapes) {
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

TEST(ResizeKernel, MatchesThePlainAlgorithm) {
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
    };
    for (bool vector_code : {true, false}) {
        resample_allow_vector_code(vector_code);
        for (const Case& c : cases) {
            SCOPED_TRACE(::testing::Message()
                         << c.sw << "x" << c.sh << " -> " << c.w << "x" << c.h << " type " << c.type
                         << " method " << c.method << " vector code " << vector_code);
            Image src = random_image(c.type, c.sw, c.sh, c.sw * 7 + c.h);
            Image out;
            ASSERT_FALSE(resample(src, out, c.w, c.h, 96.0, c.method, c.a, false));
            EXPECT_TRUE(same_pixels(out, plain_resample(src, c.w, c.h, c.method, c.a)));
            EXPECT_EQ(out.dpi, 96.0);
        }
    }
    resample_allow_vector_code(true);
}

TEST(ResizeScaler, SameSizeIsACopyWithTheNewResolution) {
    for (int method = resample_nearest; method <= resample_lanczos8; ++method) {
        Image src = random_image(image_color48, 9, 5, 3);
        ASSERT_FALSE(image_set_profile(src, reinterpret_cast<const std::uint8_t*>("prof"), 4));
        const char text[] = "x";
        ASSERT_FALSE(image_add_tag(src, 305, 2, 2, text));
        Image out;
        ASSERT_FALSE(resample(src, out, 9, 5, 600.0, method, -0.75, false));
        EXPECT_EQ(out.dpi, 600.0);
        ASSERT_EQ(out.profile_size, 4u);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(out.profile), 4), "prof");
        ASSERT_NE(out.tags, nullptr);
        EXPECT_EQ(out.tags->tag, 305u);
        out.dpi = src.dpi;
        EXPECT_TRUE(image_equal(src, out));
    }
}

TEST(ResizeScaler, OnePixelDestinationReadsPositionZero) {
    for (std::uint32_t type : {image_gray8, image_color24, image_gray16, image_color48}) {
        for (int method = resample_nearest; method <= resample_lanczos8; ++method) {
            Image src = random_image(type, 13, 11, type + method);
            Image out;
            ASSERT_FALSE(resample(src, out, 1, 1, 72.0, method, -0.75, false));
            for (int c = 0; c < channels(src); ++c) EXPECT_EQ(at(out, 0, 0, c), at(src, 0, 0, c));
            // One row: the bottom row, scaled only across.
            ASSERT_FALSE(resample(src, out, 13, 1, 72.0, method, -0.75, false));
            for (std::uint32_t x = 0; x < 13; ++x) EXPECT_EQ(at(out, x, 0), at(src, x, 0));
        }
    }
}

TEST(ResizeScaler, EnlargingKeepsSamplesOnWholePositions) {
    // 5 x 4 -> 9 x 7: even destination indices map to whole source pixels.
    for (std::uint32_t type : {image_color24, image_gray16}) {
        for (int method = resample_bilinear; method <= resample_lanczos8; ++method) {
            for (double a : {-0.5, -1.3, -2.0}) {
                Image src = random_image(type, 5, 4, 11);
                Image out;
                ASSERT_FALSE(resample(src, out, 9, 7, 72.0, method, a, false));
                for (std::uint32_t y = 0; y < 4; ++y) {
                    for (std::uint32_t x = 0; x < 5; ++x) {
                        for (int c = 0; c < channels(src); ++c) {
                            EXPECT_EQ(at(out, 2 * x, 2 * y, c), at(src, x, y, c));
                        }
                    }
                }
            }
        }
    }
}

TEST(ResizeScaler, ReducingNeverOvershootsWhereEnlargingDoes) {
    // A hard edge between 50 and 200: negative lobes would ring past both levels.
    std::vector<int> edge(40, 50);
    for (std::size_t i = 20; i < edge.size(); ++i) edge[i] = 200;
    Image src = row_image(image_gray8, edge, 3);
    for (int method : {resample_bicubic, resample_lanczos4, resample_lanczos6, resample_lanczos8}) {
        Image out;
        ASSERT_FALSE(resample(src, out, 13, 3, 72.0, method, -2.0, false));
        for (int v : first_row(out)) {
            EXPECT_GE(v, 50);
            EXPECT_LE(v, 200);
        }
        ASSERT_FALSE(resample(src, out, 97, 3, 72.0, method, -2.0, false));
        auto row = first_row(out);
        EXPECT_LT(*std::min_element(row.begin(), row.end()), 50) << "method " << method;
        EXPECT_GT(*std::max_element(row.begin(), row.end()), 200) << "method " << method;
    }
}

TEST(ResizeScaler, NearestNeighbourMapping) {
    // ((S - 1) i + (D - 1) / 2) / (D - 1): 10 -> 4 takes 0, 3, 6, 9; 3 -> 7 takes 0 0 1 1 1 2 2.
    Image ten = row_image(image_gray8, {0, 10, 20, 30, 40, 50, 60, 70, 80, 90}, 2);
    Image out;
    ASSERT_FALSE(resample(ten, out, 4, 2, 72.0, resample_nearest, 0, false));
    EXPECT_EQ(first_row(out), (std::vector<int>{0, 30, 60, 90}));
    Image three = row_image(image_gray16, {1000, 40000, 65535});
    ASSERT_FALSE(resample(three, out, 7, 1, 72.0, resample_nearest, 0, false));
    EXPECT_EQ(first_row(out), (std::vector<int>{1000, 1000, 40000, 40000, 40000, 65535, 65535}));
    // Binary stays bits.
    Image bits = random_image(image_binary, 21, 5, 9);
    ASSERT_FALSE(resample(bits, out, 8, 3, 72.0, resample_nearest, 0, false));
    EXPECT_EQ(out.type, image_binary);
    for (std::uint32_t y = 0; y < 3; ++y) {
        for (std::uint32_t x = 0; x < 8; ++x) {
            EXPECT_EQ(at(out, x, y), at(bits, (20 * x + 3) / 7, (4 * y + 1) / 2));
        }
    }
}

TEST(ResizeScaler, BinaryScalesThroughGrayAndThresholds) {
    Image bits = random_image(image_binary, 45, 30, 8);
    Image gray;
    ASSERT_FALSE(convert_1_to_2(bits, gray));
    for (int method = resample_bilinear; method <= resample_lanczos8; ++method) {
        Image out, scaled;
        ASSERT_FALSE(resample(bits, out, 20, 61, 150.0, method, -0.75, false));
        ASSERT_FALSE(resample(gray, scaled, 20, 61, 150.0, method, -0.75, false));
        ASSERT_EQ(out.type, image_binary);
        EXPECT_EQ(out.dpi, 150.0);
        int white = 0;
        for (std::uint32_t y = 0; y < 61; ++y) {
            for (std::uint32_t x = 0; x < 20; ++x) {
                ASSERT_EQ(at(out, x, y), at(scaled, x, y) >= 128 ? 255 : 0);
                white += at(out, x, y) != 0;
            }
        }
        EXPECT_GT(white, 0);
        EXPECT_LT(white, 20 * 61);
    }
}

TEST(ResizeScaler, ProgressCancelAndRefusals) {
    testing::RecordingInteraction recorder;
    ScopedInteraction scope(recorder);
    Image src = random_image(image_gray8, 300, 200, 1);
    Image out;
    // Two threads and 1000 x 1000 pixels: enough for a progress report.
    const int saved = processor_count();
    set_processor_count(2);
    ASSERT_FALSE(resample(src, out, 1000, 1000, 72.0, resample_bilinear, 0, false));
    EXPECT_TRUE(recorder.progress_titles.empty());
    ASSERT_FALSE(resample(src, out, 1000, 1000, 72.0, resample_bilinear, 0, true));
    set_processor_count(saved);
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

// ---------------------------------------------------------------------------------------------

ResizeSource landscape() {
    return {4000, 3000, 300, 12000.0 * 3000 / 1e6};
}
ResizeSource portrait() {
    return {3000, 4000, 300, 9000.0 * 4000 / 1e6};
}

std::pair<int, int> size_of(const ResizeSettings& s, const ResizeSource& src) {
    ResizeTarget t = resize_target(s, src);
    return {t.width, t.height};
}

TEST(ResizeTarget, EverySetWithResampling) {
    ResizeSettings s = resize_module.defaults();
    s.resolution = 100;
    using P = std::pair<int, int>;
    s.set = resize_pixel_width, s.pixel_w = 1000;
    EXPECT_EQ(size_of(s, landscape()), P(1000, 750));
    s.set = resize_pixel_height, s.pixel_h = 600;
    EXPECT_EQ(size_of(s, landscape()), P(800, 600));
    s.set = resize_pixel_width_height, s.pixel_w = 123, s.pixel_h = 456;
    EXPECT_EQ(size_of(s, landscape()), P(123, 456));
    s.set = resize_physical_width, s.physical_w = 5;  // 5 in at 100 dpi
    EXPECT_EQ(size_of(s, landscape()), P(500, 375));
    s.set = resize_physical_height, s.physical_h = 2;
    EXPECT_EQ(size_of(s, landscape()), P(267, 200));
    s.set = resize_physical_width_height, s.physical_w = 2, s.physical_h = 3;
    EXPECT_EQ(size_of(s, landscape()), P(200, 300));
    s.set = resize_memory, s.memory = 9;  // a quarter of 36 MB: half of each side
    EXPECT_EQ(size_of(s, landscape()), P(2000, 1500));

    // Short and long sides follow the orientation.
    s.pixel_w = 600, s.pixel_h = 500;
    s.set = resize_pixel_short_side;
    EXPECT_EQ(size_of(s, landscape()), P(667, 500));
    EXPECT_EQ(size_of(s, portrait()), P(600, 800));
    s.set = resize_pixel_long_side;
    EXPECT_EQ(size_of(s, landscape()), P(600, 450));
    EXPECT_EQ(size_of(s, portrait()), P(375, 500));
    s.physical_w = 4, s.physical_h = 3;
    s.set = resize_physical_short_side;
    EXPECT_EQ(size_of(s, landscape()), P(400, 300));
    EXPECT_EQ(size_of(s, portrait()), P(400, 533));
    s.set = resize_physical_long_side;
    EXPECT_EQ(size_of(s, landscape()), P(400, 300));
    EXPECT_EQ(size_of(s, portrait()), P(225, 300));

    // Bounding rectangles: the width first, the height when the width makes it too tall.
    s.set = resize_pixel_bounding_rectangle, s.pixel_w = 1000, s.pixel_h = 800;
    EXPECT_EQ(size_of(s, landscape()), P(1000, 750));
    s.pixel_h = 700;
    EXPECT_EQ(size_of(s, landscape()), P(933, 700));
    s.set = resize_physical_bounding_rectangle, s.physical_w = 10, s.physical_h = 8;
    EXPECT_EQ(size_of(s, landscape()), P(1000, 750));
    s.physical_h = 5;
    EXPECT_EQ(size_of(s, landscape()), P(667, 500));

    s.set = resize_pixel_percent, s.percent = 25;
    EXPECT_EQ(size_of(s, landscape()), P(1000, 750));
    s.set = resize_megapixels, s.pixel_area = 1e6;
    EXPECT_EQ(size_of(s, landscape()), P(1155, 866));

    for (int set : {resize_resolution, resize_physical_percent}) {
        s.set = set;
        ResizeTarget t = resize_target(s, landscape());
        EXPECT_EQ(P(t.width, t.height), P(4000, 3000));
        EXPECT_EQ(t.resolution, 300.0);
    }
    s.set = resize_pixel_width;
    EXPECT_EQ(resize_target(s, landscape()).resolution, 100.0);

    // Halves round away from zero; nothing ends below 2 pixels.
    s.pixel_w = 3;
    EXPECT_EQ(size_of(s, ResizeSource{4, 6, 72, 0}), P(3, 5));
    s.pixel_w = 1;
    EXPECT_EQ(size_of(s, landscape()), P(2, 2));
}

TEST(ResizeTarget, DontResampleChangesOnlyTheResolution) {
    ResizeSettings s = resize_module.defaults();
    s.resample = 1;
    s.physical_w = 20, s.physical_h = 5, s.resolution = 72, s.percent = 50;
    const std::pair<int, double> expected[] = {
        {resize_physical_width, 200.0},   // 4000 / 20
        {resize_physical_height, 600.0},  // 3000 / 5
        {resize_resolution, 72.0},
        {resize_physical_short_side, 600.0},  // the height is the short side
        {resize_physical_long_side, 200.0},
        {resize_physical_bounding_rectangle, 600.0},
        {resize_physical_percent, 600.0},  // 50 percent doubles it
        {resize_pixel_width, 300.0},
        {resize_megapixels, 300.0},
    };
    for (auto [set, resolution] : expected) {
        s.set = set;
        ResizeTarget t = resize_target(s, landscape());
        EXPECT_EQ(t.width, 4000) << set;
        EXPECT_EQ(t.height, 3000) << set;
        EXPECT_DOUBLE_EQ(t.resolution, resolution) << set;
    }
    s.set = resize_physical_short_side;
    EXPECT_DOUBLE_EQ(resize_target(s, portrait()).resolution, 3000.0 / 20);
    s.set = resize_physical_long_side;
    EXPECT_DOUBLE_EQ(resize_target(s, portrait()).resolution, 4000.0 / 5);
}

// ---------------------------------------------------------------------------------------------

// Settings read against a source picture, as a run reads them.
bool resize_parse(std::string_view line, const Image* source, ResizeSettings& s) {
    TransformationContext<ResizeSettings> ctx;
    ctx.working_input = source;
    const bool failed = resize_module.parse(split(line), ctx);
    s = ctx.settings;
    return failed;
}

TEST(ResizeCommandLine, DefaultsComeFromTheSource) {
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
}

TEST(ResizeCommandLine, DefaultsLegacyKeysAndFailures) {
    Image src;
    ASSERT_FALSE(image_alloc(src, image_gray8, 100, 50, 200.0));
    ResizeSettings s = resize_module.defaults();
    // Missing keys keep the source's values, but a missing pixel_area means one megapixel.
    ASSERT_FALSE(resize_parse(("resize 0 set 14 percent 50"), &src, s));
    EXPECT_EQ(s.pixel_w, 100);
    EXPECT_EQ(s.physical_h, 0.25);
    EXPECT_EQ(s.resolution, 200.0);
    EXPECT_EQ(s.memory, 100.0 * 50 / 1e6);
    EXPECT_EQ(s.pixel_area, 1e6);
    EXPECT_EQ(s.percent, 50.0);

    // Old lines give the new size and resolution; the present-day keys still win.
    ASSERT_FALSE(resize_parse(("resize 0 onx 800 ony 600 dpi 250 percent 40"), &src, s));
    EXPECT_EQ(s.pixel_w, 800);
    EXPECT_EQ(s.pixel_h, 600);
    EXPECT_DOUBLE_EQ(s.physical_w, 3.2);
    EXPECT_DOUBLE_EQ(s.physical_h, 2.4);
    EXPECT_EQ(s.resolution, 250.0);
    EXPECT_EQ(s.percent, 40.0);
    ASSERT_FALSE(resize_parse(("resize 0 onx 800 pixel_w 900"), &src, s));
    EXPECT_EQ(s.pixel_w, 900);
    EXPECT_EQ(s.pixel_h, 50);
    EXPECT_DOUBLE_EQ(s.physical_w, 4.0);  // 800 at the source's 200 dpi

    EXPECT_TRUE(resize_parse(("resize 0 method 6"), &src, s));
    EXPECT_TRUE(resize_parse(("resize 0 set 17"), &src, s));
    EXPECT_TRUE(resize_parse(("resize 0 resample 1 set 3 physical_w 0"), &src, s));
    EXPECT_TRUE(resize_parse(("crop 0"), &src, s));
    EXPECT_FALSE(resize_parse(("resize 0 method x unknown 5"), &src, s));
    EXPECT_EQ(s.method, resample_bicubic);
}

// ---------------------------------------------------------------------------------------------

struct Nodes {
    Node* input = new Node;
    Node* node = new Node;
    Nodes() { node->parent = input; }
    ~Nodes() {
        delete node;
        delete input;
    }
    Nodes(const Nodes&) = delete;
    Nodes& operator=(const Nodes&) = delete;
};

TEST(ResizeRun, ScalesTheInputKeepingTypeProfileAndTags) {
    ASSERT_NE(find_module("resize"), nullptr);
    Nodes n;
    n.input->image = random_image(image_color24, 40, 30, 6);
    ASSERT_FALSE(
        image_set_profile(n.input->image, reinterpret_cast<const std::uint8_t*>("icc"), 3));
    const char text[] = "cam";
    ASSERT_FALSE(image_add_tag(n.input->image, 271, 2, 4, text));
    ASSERT_EQ(testing::run_line(n.input, n.node,
                               ("resize 0 set 14 percent 50 method 4 resolution 150")),
              0);
    EXPECT_FALSE(n.node->error);
    const Image& out = n.node->image;
    EXPECT_EQ(out.type, image_color24);
    EXPECT_EQ(out.width, 20u);
    EXPECT_EQ(out.height, 15u);
    EXPECT_EQ(out.dpi, 150.0);
    EXPECT_EQ(out.profile_size, 3u);
    ASSERT_NE(out.tags, nullptr);
    EXPECT_EQ(out.tags->tag, 271u);
    EXPECT_TRUE(same_pixels(out, plain_resample(n.input->image, 20, 15, resample_lanczos6, 0)));
}

TEST(ResizeRun, DontResamplePhysicalPercentDoublesTheResolution) {
    Nodes n;
    n.input->image = random_image(image_gray16, 17, 9, 2);
    ASSERT_EQ(testing::run_line(n.input, n.node, ("resize 0 resample 1 set 15 percent 50")), 0);
    EXPECT_EQ(n.node->image.dpi, 600.0);
    n.node->image.dpi = 300.0;
    EXPECT_TRUE(image_equal(n.node->image, n.input->image));
}

TEST(ResizeRun, BinaryStaysBinaryOtherTypesFail) {
    Nodes n;
    n.input->image = random_image(image_binary, 33, 20, 2);
    ASSERT_EQ(testing::run_line(n.input, n.node, ("resize 0 set 2 pixel_w 10 pixel_h 60")), 0);
    EXPECT_EQ(n.node->image.type, image_binary);
    EXPECT_EQ(n.node->image.width, 10u);
    EXPECT_EQ(n.node->image.height, 60u);

    Image gray = random_image(image_gray8, 4, 4, 1);
    ASSERT_FALSE(convert_2_to_6(gray, n.input->image));
    EXPECT_EQ(testing::run_line(n.input, n.node, ("resize 0 set 14 percent 50")), 1);
    EXPECT_TRUE(n.node->error);
    EXPECT_EQ(n.node->error_text, "Illegal input image type");

    n.input->image = random_image(image_gray8, 4, 4, 1);
    n.node->error_text.clear();
    EXPECT_EQ(testing::run_line(n.input, n.node, ("resize 0 method 9")), 1);
    EXPECT_EQ(n.node->error_text, "Illegal Resize command line");
}

}  // namespace
}  // namespace tessaly
