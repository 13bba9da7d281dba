#include "transformations/gaussian_blur.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "core/runner.h"
#include "framework/registry.h"
#include "support/image_helpers.h"
#include "support/recording_interaction.h"

namespace tessaly {
namespace {

// A gray image from its stored rows (row 0 first), 8 or 16 bits.
Image gray(std::uint32_t type, const std::vector<std::vector<int>>& rows) {
    Image im;
    EXPECT_FALSE(image_alloc(im, type, static_cast<std::uint32_t>(rows[0].size()),
                             static_cast<std::uint32_t>(rows.size()), 0.0));
    for (std::size_t y = 0; y < rows.size(); ++y) {
        for (std::size_t x = 0; x < rows[y].size(); ++x) {
            if (type == image_gray8) {
                im.rows[y][x] = static_cast<std::uint8_t>(rows[y][x]);
            } else {
                set_sample16(im.rows[y], x, static_cast<std::uint16_t>(rows[y][x]));
            }
        }
    }
    return im;
}

std::vector<std::vector<int>> values(const Image& im) {
    std::vector<std::vector<int>> out(im.height);
    for (std::uint32_t y = 0; y < im.height; ++y) {
        for (std::uint32_t x = 0; x < im.width; ++x) {
            out[y].push_back(im.type == image_gray8 ? im.rows[y][x] : sample16(im.rows[y], x));
        }
    }
    return out;
}

using Rows = std::vector<std::vector<int>>;

Rows blurred(const Image& in, int radius, int what = 0) {
    Image out;
    EXPECT_FALSE(gaussian_blur_image(in, out, radius, what));
    return values(out);
}

// Random samples of every pixel type (floats in 0..1).
Image random_image(std::uint32_t type, std::uint32_t w, std::uint32_t h, std::uint32_t seed) {
    Image im;
    EXPECT_FALSE(image_alloc(im, type, w, h, 0.0));
    const std::uint32_t bytes = image_row_bytes(type, w);
    testing::fill_pattern(im, bytes, seed);
    if (type == image_float_gray || type == image_float_color) {
        const std::uint32_t n = w * (type == image_float_color ? 3 : 1);
        for (std::uint32_t y = 0; y < h; ++y) {
            auto* f = reinterpret_cast<float*>(im.rows[y]);
            for (std::uint32_t i = 0; i < n; ++i)
                f[i] = static_cast<float>(i * 7919 % 1000) / 999.0f;
        }
    }
    return im;
}

class ProcessorCount {
  public:
    explicit ProcessorCount(int n) : saved_(processor_count()) { set_processor_count(n); }
    ~ProcessorCount() { set_processor_count(saved_); }

  private:
    int saved_;
};

// Radius 1 is the tent 1,2,3,2,1 reached by two truncating divisions by 3.
TEST(GaussianBlurKernel, RadiusOneByHand) {
    ProcessorCount one(1);
    // One row: the column pass leaves it alone. 90 -> 30 30 30 -> 10 20 30 20 10.
    EXPECT_EQ(blurred(gray(image_gray8, {{0, 0, 90, 0, 0}}), 1), (Rows{{10, 20, 30, 20, 10}}));
    // 14 -> 4 4 4 -> 1 2 4 2 1 (one division by 9 would give 1 3 4 3 1).
    EXPECT_EQ(blurred(gray(image_gray8, {{0, 0, 14, 0, 0}}), 1), (Rows{{1, 2, 4, 2, 1}}));
    // Columns beyond the edge repeat it: line 50 50 | 50 0 0 0 0 | 0 0, first filter 50 33 16 0
    // ..., second 33 16 5 0 0.
    EXPECT_EQ(blurred(gray(image_gray8, {{50, 0, 0, 0, 0}}), 1), (Rows{{33, 16, 5, 0, 0}}));
    // Rows beyond the edge mirror it (row -1 reads row 1): line 0 60 | 0 60 0 0 0 | 0 0, first
    // filter 20 40 20 20 0 0 0, second 26 26 13 6 0.
    EXPECT_EQ(blurred(gray(image_gray16, {{0}, {60}, {0}, {0}, {0}}), 1),
              (Rows{{26}, {26}, {13}, {6}, {0}}));
    // Shorter than the kernel: rows -2, -1 read row 1, rows 2, 3 read row 0: line 90 90 0 90 0
    // 0, first filter 60 60 30 30, second 50 40.
    EXPECT_EQ(blurred(gray(image_gray8, {{0}, {90}}), 1), (Rows{{50}, {40}}));
    // Radius 0 copies exactly.
    Image random = random_image(image_color48, 9, 4, 3);
    Image copy;
    ASSERT_FALSE(gaussian_blur_image(random, copy, 0, 0));
    EXPECT_TRUE(image_equal(copy, random));
}

TEST(GaussianBlurKernel, ConstantImagesStayConstant) {
    for (std::uint32_t type : {image_gray8, image_color24, image_gray16, image_color48}) {
        const bool wide = type == image_gray16 || type == image_color48;
        for (auto [w, h] : {std::pair{7u, 5u}, std::pair{61u, 43u}}) {
            Image in;
            ASSERT_FALSE(image_alloc(in, type, w, h, 0.0));
            for (std::uint32_t y = 0; y < h; ++y) {
                const std::uint32_t channels =
                    type == image_color24 || type == image_color48 ? 3 : 1;
                const std::uint32_t samples = w * channels;
                for (std::uint32_t i = 0; i < samples; ++i) {
                    if (wide) {
                        set_sample16(in.rows[y], i,
                                     static_cast<std::uint16_t>(65535 - 1000 * (i % channels)));
                    } else {
                        in.rows[y][i] = static_cast<std::uint8_t>(255 - 100 * (i % channels));
                    }
                }
            }
            for (int radius : {1, 5, 50}) {
                Image out;
                ASSERT_FALSE(gaussian_blur_image(in, out, radius, 0));
                EXPECT_TRUE(image_equal(in, out)) << type << " " << w << " r " << radius;
            }
        }
    }
}

// The running sums over many columns at once and the plain column-by-column form give the same
// pixels for every type, radius and band split.
TEST(GaussianBlurKernel, FastAndPlainFormsAgree) {
    for (std::uint32_t type : {image_gray8, image_color24, image_gray16, image_color48,
                               image_float_gray, image_float_color}) {
        for (int radius : {1, 2, 7, 256}) {
            Image in = random_image(type, 37, 29, static_cast<std::uint32_t>(radius + type));
            Image plain;
            gaussian_blur_allow_fast_path(false);
            {
                ProcessorCount one(1);
                ASSERT_FALSE(gaussian_blur_image(in, plain, radius, 0));
            }
            gaussian_blur_allow_fast_path(true);
            for (int threads : {1, 3}) {
                ProcessorCount count(threads);
                Image fast;
                ASSERT_FALSE(gaussian_blur_image(in, fast, radius, 0));
                EXPECT_TRUE(image_equal(fast, plain))
                    << type << " r " << radius << " t " << threads;
            }
        }
    }
    // Rows long enough to be summed in several blocks, bands of several 16-row groups with a
    // partial one, and the radii on either side of the largest 8-bit sums that fit in 16 bits.
    for (std::uint32_t type : {image_gray8, image_color24, image_color48}) {
        for (int radius : {3, 128, 129}) {
            Image in = random_image(type, 1501, 37, 11);
            Image plain, fast;
            gaussian_blur_allow_fast_path(false);
            ASSERT_FALSE(gaussian_blur_image(in, plain, radius, 0));
            gaussian_blur_allow_fast_path(true);
            ASSERT_FALSE(gaussian_blur_image(in, fast, radius, 0));
            EXPECT_TRUE(image_equal(fast, plain)) << type << " r " << radius;
        }
    }
    // The largest sums: white pictures at the largest radius and, for 8 bits, at the largest
    // radius whose sums fit in 16 bits.
    Image white = gray(image_gray16, Rows(3, std::vector<int>(600, 65535)));
    EXPECT_EQ(blurred(white, 256), values(white));
    Image white8 = gray(image_gray8, Rows(20, std::vector<int>(300, 255)));
    EXPECT_EQ(blurred(white8, 128), values(white8));
    EXPECT_EQ(blurred(white8, 256), values(white8));
}

// The rows handed to a sink are the blurred image's, each once, in runs of at most the sink's
// length, for every type, both forms and several bands; a sink's failure stops the run.
TEST(GaussianBlurKernel, RowsHandedToASink) {
    for (std::uint32_t type : {image_gray8, image_color24, image_gray16, image_color48,
                               image_float_gray, image_float_color}) {
        for (int radius : {1, 3, 129}) {
            const Image in = random_image(type, 41, 53, static_cast<std::uint32_t>(radius + type));
            Image whole;
            ASSERT_FALSE(gaussian_blur_image(in, whole, radius, 0));
            for (bool fast : {true, false}) {
                gaussian_blur_allow_fast_path(fast);
                for (int threads : {1, 3}) {
                    ProcessorCount count(threads);
                    Image rows;
                    ASSERT_FALSE(image_alloc(rows, type, in.width, in.height, 0.0));
                    std::vector<int> seen(in.height, 0);
                    // The rows come without the padding.
                    const std::size_t pixels = std::size_t{in.width} * image_pixel_bytes(type);
                    const bool failed = gaussian_blur_rows(
                        in, radius,
                        [&](int first, int n, const std::uint8_t* const* blurred) -> std::uint8_t {
                            EXPECT_GE(n, 1);
                            EXPECT_LE(n, gaussian_blur_sink_rows);
                            for (int i = 0; i < n; ++i) {
                                ++seen[static_cast<std::size_t>(first + i)];
                                std::memcpy(rows.rows[first + i], blurred[i], pixels);
                            }
                            return 0;
                        },
                        "");
                    ASSERT_FALSE(failed);
                    EXPECT_EQ(seen, std::vector<int>(in.height, 1));
                    EXPECT_TRUE(image_equal(rows, whole))
                        << type << " r " << radius << " fast " << fast << " t " << threads;
                }
            }
            gaussian_blur_allow_fast_path(true);
        }
    }
    const Image in = random_image(image_color24, 30, 70, 5);
    ProcessorCount one(1);
    int calls = 0;
    EXPECT_TRUE(gaussian_blur_rows(
        in, 2, [&](int, int, const std::uint8_t* const*) -> std::uint8_t { return ++calls == 2; },
        ""));
    EXPECT_EQ(calls, 2);
    EXPECT_TRUE(gaussian_blur_rows(
        in, 0, [](int, int, const std::uint8_t* const*) -> std::uint8_t { return 0; }, ""));
}

TEST(GaussianBlurKernel, ChrominanceOnly) {
    for (std::uint32_t type : {image_color24, image_color48, image_float_color}) {
        Image in = random_image(type, 23, 17, type);
        Image out;
        ASSERT_FALSE(gaussian_blur_image(in, out, 3, gaussian_blur_chrominance));
        int changed = 0;
        for (std::uint32_t y = 0; y < in.height; ++y) {
            for (std::uint32_t x = 0; x < in.width; ++x) {
                double a[3], b[3];
                for (int c = 0; c < 3; ++c) {
                    const std::size_t i = 3 * x + c;
                    if (type == image_color24) {
                        a[c] = in.rows[y][i], b[c] = out.rows[y][i];
                    } else if (type == image_color48) {
                        a[c] = sample16(in.rows[y], i), b[c] = sample16(out.rows[y], i);
                    } else {
                        a[c] = reinterpret_cast<const float*>(in.rows[y])[i];
                        b[c] = reinterpret_cast<const float*>(out.rows[y])[i];
                    }
                }
                ASSERT_EQ(*std::max_element(a, a + 3), *std::max_element(b, b + 3))
                    << type << " " << x << "," << y;
                changed += a[0] != b[0] || a[1] != b[1] || a[2] != b[2];
            }
        }
        EXPECT_GT(changed, 100) << type;
    }
    // A gray picture ignores the option.
    Image g = random_image(image_gray16, 19, 11, 5);
    EXPECT_EQ(blurred(g, 4, gaussian_blur_chrominance), blurred(g, 4, gaussian_blur_all_channels));
}

class GaussianBlurRun : public ::testing::Test {
  protected:
    void SetUp() override {
        input.parent = &tree_root();
        node.parent = &input;
    }
    std::uint8_t run(const std::string& line) {
        return find_transformation("gaussian_blur")->run(&input, &node, split(line));
    }
    Node input, node;
};

TEST_F(GaussianBlurRun, AmountAndMask) {
    // Blur 0 0 90 0 0 -> 10 20 30 20 10; amount 5004 (weight 127): 5 10 60 10 5, e.g. 90 - floor
    // ((60 x 127 + 127) / 255) = 60.
    input.image = gray(image_gray8, {{0, 0, 90, 0, 0}});
    ASSERT_EQ(run("gaussian_blur 0 radius 1 amount 0.5 -1 0 1 \u2033A\u2033 \u2033M\u2033"), 0);
    EXPECT_EQ(values(node.image), (Rows{{5, 10, 60, 10, 5}}));
    // Radius 0 and amount 0 both copy the input.
    ASSERT_EQ(run("gaussian_blur 0 radius 0"), 0);
    EXPECT_TRUE(image_equal(node.image, input.image));
    ASSERT_EQ(run("gaussian_blur 0 radius 2 amount 0 -1 0 1 \u2033A\u2033 \u2033M\u2033"), 0);
    EXPECT_TRUE(image_equal(node.image, input.image));

    // An 8-bit mask on a 16-bit image: 9000 blurs to 1000 2000 3000 2000 1000; amounts 0 and
    // 10008 make the mask value the 8-bit weight: 0, 2000, 3000, 2000 x 128 / 255, 0.
    input.image = gray(image_gray16, {{0, 0, 9000, 0, 0}});
    node.masks.push_back(std::make_unique<MaskSettings>());
    node.masks[0]->image = gray(image_gray8, {{0, 255, 255, 128, 0}});
    ASSERT_EQ(run("gaussian_blur 0 radius 1 amount 0 1 0 1 \u2033A\u2033 \u2033M\u2033"), 0);
    EXPECT_EQ(values(node.image), (Rows{{0, 2000, 3000, 1003, 0}}));

    // A built mask of another size that no recipe can rebuild is reported and dropped before
    // the run, which then blurs at the single full amount.
    testing::RecordingScope scope;
    input.name = "in";
    node.name = "blurred";
    node.masks[0]->image = gray(image_gray8, {{0, 255}});
    EXPECT_EQ(run("gaussian_blur 0 radius 1 amount 0 1 0 1 \u2033A\u2033 \u2033M\u2033"), 0);
    EXPECT_EQ(scope.recorder.warnings(),
              std::vector<std::string>{
                  "Image and mask size mismatch (in and blurred ) - mask is being reset"});
    EXPECT_EQ(values(node.image), (Rows{{1000, 2000, 3000, 2000, 1000}}));

    input.image = Image();
    EXPECT_EQ(run("gaussian_blur 0 radius 1"), 1);
    EXPECT_EQ(node.error_text, "Illegal input image type");
}

}  // namespace
}  // namespace tessaly
