// Invert: the negative by channel, by HSV value or HSL lightness, and of binary pictures.
#include <gtest/gtest.h>

#include "point_filter_helpers.h"

namespace tessaly {
namespace {

using testing::Pixel;
using testing::PointRun;

std::string with_amount(const std::string& line, const char* amounts) {
    return line + " amount " + amounts + " 0 1 \u2033Amount: \u2033 \u2033Mask\u2033";
}

TEST(Invert, ColourModelsTurnTheValueOrLightnessOverAndKeepTheHue) {
    const Image in =
        testing::pixels_picture(image_color24, {{255, 0, 0}, {100, 0, 0}, {40, 40, 40}});
    PointRun run(in);
    // Pure red has V at the top of the 12-bit scale and turns black; dark red (V 1606 of 4096)
    // gets V 2490, a lighter red; gray 40 becomes 215.
    EXPECT_TRUE(testing::every_pixel(in, run.run("invert 0 colorspace 1"), [](const Pixel& p) {
        return p[0] == 255 ? Pixel{0, 0, 0} : p[0] == 100 ? Pixel{155, 0, 0} : Pixel{215, 215, 215};
    }));
    // HSL: red's lightness 2048 stays the middle; dark red's 803 becomes 3293, a pale red.
    const Image& hsl = run.run("invert 0 colorspace 2");
    EXPECT_EQ(testing::pixel_at(hsl, 0, 0), (Pixel{255, 0, 0}));
    EXPECT_EQ(testing::pixel_at(hsl, 1, 0), (Pixel{255, 155, 155}));
}

// Gray pictures in every model, and colour in "RGB", take the complement of each sample;
// twice gives the input back exactly.
TEST(Invert, EverySampleIsComplemented) {
    for (std::uint32_t type : {image_gray8, image_color24, image_gray16, image_color48}) {
        const Image in = testing::noise_picture(type, type + 7);
        const std::int32_t top = testing::is_deep(in) ? 65535 : 255;
        for (int model = 0; model < (testing::is_colour(in) ? 1 : 3); ++model) {
            PointRun run(in);
            const Image& out = run.run("invert 0 colorspace " + std::to_string(model));
            EXPECT_TRUE(testing::every_pixel(in, out, [top](const Pixel& p) {
                return Pixel{top - p[0], top - p[1], top - p[2]};
            }));
            PointRun again(out);
            EXPECT_TRUE(image_equal(again.run("invert 0"), in));
        }
    }
}

TEST(Invert, HalfTheAmountMixesEachPixelHalfwayWithItsNegative) {
    const Image in = testing::noise_picture(image_gray8, 3);
    PointRun run(in);
    // Weight 127: v moves 127/255 of the way to 255 - v, landing on 127 or 128.
    EXPECT_TRUE(
        testing::every_pixel(in, run.run(with_amount("invert 0", "0.5 -1")), [](const Pixel& p) {
            return Pixel{p[0] <= 127 ? 127 : 128, 0, 0};
        }));
}

// Binary rows are complemented whole; a pixel takes its inverse where the amount's weight, under
// a mask the mask's, reaches 128 of 255.
TEST(Invert, BinaryPicturesFlipTheirBits) {
    const Image in = testing::noise_picture(image_binary, 5, 21, 3);
    PointRun run(in);
    const Image& out = run.run("invert 0 colorspace 2");
    ASSERT_EQ(out.type, image_binary);
    for (std::uint32_t y = 0; y < in.height; ++y) {
        for (std::uint32_t i = 0; i < in.row_bytes; ++i) {
            EXPECT_EQ(out.rows[y][i], static_cast<std::uint8_t>(~in.rows[y][i]));
        }
    }
    EXPECT_TRUE(image_equal(run.run(with_amount("invert 0", "0.5 -1")), in));
    EXPECT_FALSE(image_equal(run.run(with_amount("invert 0", "0.51 -1")), in));

    const Image mask = testing::pixels_picture(image_gray8, {{0}, {127}, {128}, {255}});
    Image black;
    ASSERT_FALSE(image_alloc(black, image_binary, 4, 1, 0.0));
    PointRun masked(black, &mask);
    const Image& flipped = masked.run(with_amount("invert 0", "0 1"));
    for (std::uint32_t x = 0; x < 4; ++x) EXPECT_EQ(bit_get(flipped.rows[0], x), x < 2 ? 0 : 255);
}

}  // namespace
}  // namespace tessaly
