// The amount control's text and the mixing of a result with its input by amounts and a mask.
#include "framework/mix.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/tables.h"
#include "framework/transformation.h"
#include "support/image_helpers.h"
#include "support/recording_interaction.h"
#include "support/sample_rows.h"

namespace tessaly {
namespace {

using V = std::vector<int>;

Image make(std::uint32_t type, std::uint32_t w, std::uint32_t h) {
    Image im;
    EXPECT_FALSE(image_alloc(im, type, w, h, 0.0));
    return im;
}
// A gray 1 x n image of 8 or 16 bits, and the samples of an image's first row.
Image row_of(const V& v, std::uint32_t type = image_gray8) {
    return testing::image_of_rows(type, {v});
}
V values(const Image& im) {
    return testing::rows_of(im)[0];
}
AmountSettings amounts(std::int32_t a, std::int32_t b = -1,
                       std::int32_t mode = amount_mode_percent) {
    return {.amount = a, .second = b, .mode = mode};
}
ArgumentList args_of(const std::string& value) {
    return split("x 0 amount " + value + " next 3");
}

TEST(AmountText, WrittenAndReadBack) {
    EXPECT_EQ(amount_to_text(amount_init(0, true, amount_mode_percent)),
              "1 -1 0 1 \u2033Amount: \u2033 \u2033Mask\u2033");
    AmountSettings a{
        .amount = 5004, .second = 2502, .mode = amount_mode_separate, .flag = 0, .label = "Blur: "};
    EXPECT_EQ(amount_to_text(a), "0.5 0.25 2 1 \u2033Blur: \u2033 \u2033Mask\u2033");  // flag 1
    EXPECT_EQ(amount_to_text(amount_init(1, false, amount_mode_signed, "L", "C")),
              "-1 -1 1 1 \u2033L\u2033 \u2033C\u2033");
    EXPECT_EQ(amount_init(0, true, amount_mode_signed).amount, 5004);

    ASSERT_FALSE(
        amount_from_args(args_of("0.25 0.75 2 0 \u2033X: \u2033 \u2033M 1\u2033"), "amount", a));
    EXPECT_TRUE(a.amount == 2502 && a.second == 7506 && a.mode == 2 && a.flag == 1 &&
                a.label == "X: " && a.mask_caption == "M 1");
    // A mode that does not read is 0; labels are cut to 255 characters (code points, not bytes).
    std::string long_label;
    for (int i = 0; i < 300; ++i) long_label += "\u00e9";
    ASSERT_FALSE(amount_from_args(
        args_of("-1 -1 mode 1 \u2033" + long_label + "\u2033 \u2033\u2033"), "amount", a));
    EXPECT_TRUE(a.amount == -1 && a.second == -1 && a.mode == 0 && a.label.size() == 510u);
    // Too few tokens: unchanged.
    AmountSettings b;
    EXPECT_TRUE(amount_from_args(split("x amount 0.5 0.5"), "amount", b) &&
                b.amount == amount_full);
    // Every amount survives writing and reading.
    for (std::int32_t v = 0; v <= amount_full; ++v) {
        AmountSettings r;
        ASSERT_FALSE(
            amount_from_args(args_of(amount_to_text(amounts(v, amount_full - v))), "amount", r));
        ASSERT_TRUE(r.amount == v && r.second == amount_full - v) << v;
    }
}

TEST(AmountMasks, InUseConsistencyAndCaption) {
    Node with, without;
    with.masks.push_back(std::make_unique<MaskSettings>());
    ASSERT_FALSE(image_alloc(with.masks[0]->image, image_gray8, 2, 2, 0.0));
    AmountSettings a = amounts(0, 10008);
    EXPECT_TRUE(amount_mask_in_use(a, &with) && !amount_mask_in_use(a, &without));
    a.mask_number = 1;  // no such slot
    EXPECT_FALSE(amount_mask_in_use(a, &with) || amount_mask_in_use(amounts(0, -1), &with));
    EXPECT_TRUE(amount_mask_in_use(amounts(-1, -1), &with));  // switched off: the mask decides

    // Two amounts read for a control that has no built mask become one amount at its default.
    AmountSettings two = amounts(2500, 7000);
    amount_make_consistent(two, &with);
    ASSERT_EQ(two.second, 7000);
    amount_make_consistent(two, &without);
    EXPECT_TRUE(two.amount == 10008 && two.second == -1);
    two = amounts(2500, 3, amount_mode_signed);
    amount_make_consistent(two, &without);
    EXPECT_EQ(two.amount, 5004);  // the signed default
    two = amounts(-1, 3);
    amount_make_consistent(two, nullptr);
    EXPECT_TRUE(two.amount == -1 && two.second == -1);

    EXPECT_EQ(amount_caption(amounts(5004, -1)) + "|" + amount_caption(amounts(0, 10008)) + "|" +
                  amount_caption(amounts(5004, 0, amount_mode_signed)) + "|" +
                  amount_caption(amounts(-1, 0)),
              "Amount: 50.0%|Amount: 0.0% .. 100.0%|Amount: 0.0% .. -100.0%|Amount: ");
}

TEST(MixIntoOutput, HandComputedPixels) {
    // mix8 is blend8 for every sample and weight; the amounts' weights.
    for (int i = 0; i < 1 << 24; ++i) {
        const int p = i >> 16, q = (i >> 8) & 255, t = i & 255;
        ASSERT_EQ(mix8(p, q, t), blend8(p, q, t)) << p << " " << q << " " << t;
        ASSERT_EQ(mix16by8(p * 257, q * 251, t), blend16(p * 257, q * 251, t));
    }
    EXPECT_EQ((V{amount_weight8(10008), amount_weight8(5004), amount_weight16(10008),
                 amount_weight16(5004)}),
              (V{255, 127, 65535, 32767}));
    // 5004 is weight 127: 0 -> 255 gives floor((255 x 127 + 127) / 255) = 127, 10 -> 20 gives
    // 10 + floor(1397 / 255) = 15. 10008 is exactly the result.
    const Image in = row_of({0, 255, 10}), res = row_of({255, 0, 20});
    Image out;
    ASSERT_FALSE(mix_into_output(in, res, out, amounts(5004), nullptr));
    EXPECT_EQ(values(out), (V{127, 128, 15}));
    ASSERT_FALSE(mix_into_output(in, res, out, amounts(10008), nullptr));
    EXPECT_TRUE(image_equal(out, res));
    // 16 bits at 5004: weight 32767.
    Image res16 = row_of({65535, 0}, image_gray16);
    ASSERT_FALSE(mix_in_place(row_of({0, 65535}, image_gray16), res16, amounts(5004), nullptr));
    EXPECT_EQ(values(res16), (V{32767, 32768}));
    // A gray input reaches each channel of a colour result; a 16-bit input is narrowed.
    Image colour = make(image_color24, 1, 1);
    colour.rows[0][0] = 200, colour.rows[0][1] = 50, colour.rows[0][2] = 0;
    ASSERT_FALSE(mix_in_place(row_of({100 * 257}, image_gray16), colour, amounts(5004), nullptr));
    EXPECT_EQ(values(colour), (V{100 + 50, 50 + 25, 100 - 50}));

    // Amounts 0 (black) and 10008 (white): the mask value is the weight; a 16-bit mask on an
    // 8-bit image is narrowed (32896 -> 128).
    const Image in4 = row_of({0, 0, 0, 40}), res4 = row_of({255, 255, 255, 240});
    const Image mask8 = row_of({0, 255, 128, 100});
    const Image mask16 = row_of({0, 65535, 32896, 100 * 257}, image_gray16);
    for (const Image* mask : {&mask8, &mask16}) {
        Image out4;
        ASSERT_FALSE(mix_into_output(in4, res4, out4, amounts(0, 10008), mask));
        EXPECT_EQ(values(out4), (V{0, 255, 128, 40 + 78}));  // floor(20127 / 255)
    }
    // An 8-bit mask on a 16-bit image weighs by an 8-bit weight over 255.
    Image b16 = row_of({65535, 0}, image_gray16);
    const Image m8 = row_of({128, 100});
    ASSERT_FALSE(mix_in_place(row_of({0, 1000}, image_gray16), b16, amounts(0, 10008), &m8));
    EXPECT_EQ(values(b16), (V{65535 * 128 / 255, 1000 - 1000 * 100 / 255}));
    EXPECT_TRUE(amount_leaves_input(amounts(-1), nullptr));
    EXPECT_FALSE(amount_leaves_input(amounts(0, 10), &mask8));

    // Two results: set 0 where the mask is white, set 1 where black.
    const Image gray = row_of({100, 100, 100}), black = row_of({0, 0, 0});
    const Image white = row_of({200, 200, 200}), mask = row_of({0, 255, 128});
    ASSERT_FALSE(mix_two_results(gray, black, white, out, amounts(10008, 10008), &mask));
    EXPECT_EQ(values(out), (V{0, 200, 100}));  // floor((200 x 128 + 127) / 255)
    // Black at 5004: 100 - floor((100 x 127 + 127) / 255) = 50; white at 10008: 200; half way
    // 50 + floor((150 x 128 + 127) / 255) = 125.
    ASSERT_FALSE(mix_two_results(gray, black, white, out, amounts(5004, 10008), &mask));
    EXPECT_EQ(values(out), (V{50, 200, 125}));
}

// Wide pictures go through the vector loops (odd widths for the tails); every sample must still
// be the plain formula: blend8 of blend8 weights, or p + trunc((q - p) t / full) on 16 bits.
TEST(MixIntoOutput, VectorLanesAgreeWithPlainFormulas) {
    const auto plain = [](std::int64_t p, std::int64_t q, std::int64_t t, std::int64_t full) {
        return p + (q - p) * t / full;
    };
    constexpr std::uint32_t w = 53, h = 3;
    std::vector<Image> im;
    for (std::uint32_t type : {image_color24, image_color24, image_gray8, image_color48,
                               image_color48, image_color48, image_gray16}) {
        im.push_back(make(type, w, h));
        testing::fill_pattern(im.back(), w * image_pixel_bytes(type),
                              static_cast<std::uint32_t>(type + 7 * im.size()));
    }
    const Image &in = im[0], &res = im[1], &m8 = im[2], &a = im[3], &b = im[4], &c = im[5];
    const Image& m16 = im[6];
    Image out, by8, by16, two8, two16;
    ASSERT_FALSE(mix_into_output(in, res, out, amounts(1500, 9000), &m8));
    ASSERT_FALSE(mix_into_output(a, b, by8, amounts(1500, 9000), &m8));
    ASSERT_FALSE(mix_into_output(a, b, by16, amounts(1500, 9000), &m16));
    ASSERT_FALSE(mix_two_results(a, b, c, two8, amounts(1500, 9000), &m8));
    ASSERT_FALSE(mix_two_results(a, b, c, two16, amounts(1500, 9000), &m16));
    const std::uint8_t a8 = 1500 * 255 / 10008, b8 = 9000 * 255 / 10008;
    const std::int32_t a16 = amount_weight16(1500), b16 = amount_weight16(9000);
    for (std::uint32_t y = 0; y < h; ++y) {
        for (std::uint32_t i = 0; i < 3 * w; ++i) {
            const std::uint8_t t8 = m8.rows[y][i / 3];
            ASSERT_EQ(out.rows[y][i], blend8(in.rows[y][i], res.rows[y][i], blend8(a8, b8, t8)));
            const std::int64_t p = sample16(a.rows[y], i), q = sample16(b.rows[y], i);
            const std::int64_t k = plain(p, q, a16, 65535);
            const std::int64_t l = plain(p, sample16(c.rows[y], i), b16, 65535);
            const std::int64_t t16 = sample16(m16.rows[y], i / 3);
            ASSERT_EQ(sample16(by8.rows[y], i), plain(p, q, blend8(a8, b8, t8), 255));
            ASSERT_EQ(sample16(by16.rows[y], i), plain(p, q, plain(a16, b16, t16, 65535), 65535));
            ASSERT_EQ(sample16(two8.rows[y], i), plain(k, l, t8, 255));
            ASSERT_EQ(sample16(two16.rows[y], i), plain(k, l, t16, 65535));
        }
    }
}

TEST(MixChecks, MessagesOnMismatch) {
    testing::RecordingScope scope;
    const Image in = row_of({1, 2}), res = row_of({3, 4}), small = row_of({5});
    const Image wide = make(image_color24, 2, 1);
    Image out = row_of({0, 0});
    EXPECT_TRUE(mix_into_output(in, res, out, amounts(0, 10008), &small));
    EXPECT_TRUE(mix_into_output(small, res, out, amounts(5004), nullptr));
    EXPECT_TRUE(mix_into_output(in, wide, out, amounts(5004), nullptr));
    EXPECT_TRUE(mix_two_results(in, res, res, out, amounts(5004), nullptr));
    EXPECT_TRUE(mix_two_results(in, res, wide, out, amounts(0, 10008), &in));
    EXPECT_EQ(scope.recorder.errors(),
              (std::vector<std::string>{
                  "Amount Apply - Amount mask does not match image dimensions",
                  "Amount Apply - input image does not match output image dimensions",
                  "Amount Apply - temp and output images must be same type",
                  "Amount Apply - missing mask",
                  "Amount Apply - black, white and output images must be same type"}));
    EXPECT_EQ(out.rows[0][0], 0);
}

}  // namespace
}  // namespace tessaly
