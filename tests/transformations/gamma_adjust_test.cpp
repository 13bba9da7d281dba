// Gamma Adjust: power-law tables through every channel, the HSV value, the HSL lightness, or one
// gamma per channel.
#include <gtest/gtest.h>

#include <cmath>

#include "core/numeric.h"
#include "kernels/tone.h"
#include "point_filter_helpers.h"

namespace tessaly {
namespace {

using testing::Pixel;
using testing::PointRun;

std::string line(int mode, double r, double g, double b) {
    return "gamma_adjust 0 gray " + std::to_string(mode) + " rgamma " + std::to_string(r) +
           " ggamma " + std::to_string(g) + " bgamma " + std::to_string(b);
}

TEST(GammaAdjust, WorkedExamples) {
    const Image gray = testing::pixels_picture(image_gray8, {{0}, {64}, {128}, {255}});
    PointRun run(gray);
    const Image& squared = run.run(line(0, 2.0, 1, 1));
    EXPECT_EQ(testing::pixel_at(squared, 2, 0)[0], 64);
    EXPECT_EQ(testing::pixel_at(squared, 0, 0)[0], 0);
    EXPECT_EQ(testing::pixel_at(squared, 3, 0)[0], 255);
    EXPECT_EQ(testing::pixel_at(run.run(line(1, 0.5, 1, 1)), 1, 0)[0], 128);
    // A gray picture in mode 3 uses the red gamma only.
    EXPECT_TRUE(image_equal(run.run(line(3, 1.0, 2.0, 2.0)), gray));
    EXPECT_EQ(testing::pixel_at(run.run(line(3, 2.0, 1.0, 1.0)), 2, 0)[0], 64);

    // Mode 3 with gammas 1, 1, 2 changes blue only.
    const Image colour = testing::pixels_picture(image_color24, {{128, 128, 128}, {200, 50, 128}});
    PointRun three(colour);
    const Image& out = three.run(line(3, 1.0, 1.0, 2.0));
    EXPECT_EQ(testing::pixel_at(out, 0, 0), (Pixel{128, 128, 64}));
    EXPECT_EQ(testing::pixel_at(out, 1, 0), (Pixel{200, 50, 64}));
}

// Every accepted type and mode against plain tables built here and the shared tone steps.
TEST(GammaAdjust, EveryTypeAndModeMatchesThePlainForm) {
    const double red = 1.7, green = 0.6, blue = 2.3;
    for (std::uint32_t type : {image_gray8, image_color24, image_gray16, image_color48}) {
        const Image in = testing::noise_picture(type, type);
        const bool deep = testing::is_deep(in);
        const std::int32_t top = deep ? 65535 : 255;
        auto table = [&](double g) {
            std::vector<std::int32_t> t(top + 1);
            for (std::int32_t i = 0; i <= top; ++i) {
                t[i] = round_to_int(std::pow(static_cast<double>(i) / top, g) * top);
            }
            return t;
        };
        const auto tr = table(red), tg = table(green), tb = table(blue);
        std::vector<std::uint8_t> t8(tr.begin(), tr.begin() + 256);
        std::vector<std::uint16_t> t16(tr.begin(), tr.end());
        for (int mode = 0; mode < 4; ++mode) {
            PointRun run(in);
            const Image& out = run.run(line(mode, red, green, blue));
            EXPECT_TRUE(testing::every_pixel(in, out,
                                             [&](const Pixel& p) {
                                                 if (!testing::is_colour(in))
                                                     return Pixel{tr[p[0]], 0, 0};
                                                 std::int32_t r = p[0], g = p[1], b = p[2];
                                                 if (mode == 0) return Pixel{tr[r], tr[g], tr[b]};
                                                 if (mode == 3) return Pixel{tr[r], tg[g], tb[b]};
                                                 if (mode == 1) {
                                                     deep ? value_through(r, g, b, t16.data())
                                                          : value_through(r, g, b, t8.data());
                                                 } else {
                                                     deep ? lightness_through16(r, g, b, t16.data())
                                                          : lightness_through8(r, g, b, t8.data());
                                                 }
                                                 return Pixel{r, g, b};
                                             }))
                << "mode " << mode;
        }
    }
}

}  // namespace
}  // namespace tessaly
