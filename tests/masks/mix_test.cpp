#include "framework/mix.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "core/tables.h"
#include "support/recording_interaction.h"

namespace tessaly {
namespace {

Image make(std::uint32_t type, std::uint32_t w, std::uint32_t h) {
    Image im;
    EXPECT_FALSE(image_alloc(im, type, w, h, 0.0));
    return im;
}

// Gray 1 x n images of one depth from a list of values.
Image row8(std::initializer_list<int> v) {
    Image im = make(image_gray8, static_cast<std::uint32_t>(v.size()), 1);
    int x = 0;
    for (int s : v) im.rows[0][x++] = static_cast<std::uint8_t>(s);
    return im;
}
Image row16(std::initializer_list<int> v) {
    Image im = make(image_gray16, static_cast<std::uint32_t>(v.size()), 1);
    int x = 0;
    for (int s : v) set_sample16(im.rows[0], x++, static_cast<std::uint16_t>(s));
    return im;
}

AmountSettings amounts(std::int32_t a, std::int32_t b = -1) {
    AmountSettings s;
    s.amount = a;
    s.second = b;
    return s;
}

TEST(MixArithmetic, AgreesWithPlainFormulas) {
    for (int p = 0; p < 256; ++p) {
        for (int q = 0; q < 256; ++q) {
            for (int t = 0; t < 256; ++t) {
                ASSERT_EQ(mix8(p, q, t), blend8(p, q, t)) << p << " " << q << " " << t;
                ASSERT_EQ(mix16by8(p * 257, q * 251, t), blend16(p * 257, q * 251, t));
            }
        }
    }
    for (std::int64_t p = 0; p < 65536; p += 97) {
        for (std::int64_t q : {0L, 1L, 12345L, 65534L, 65535L}) {
            for (std::int64_t t : {0L, 1L, 255L, 32767L, 40000L, 65535L}) {
                const std::int64_t expected = p + (q - p) * t / 65535;  // C++ truncates
                ASSERT_EQ(mix16(p, q, t), expected) << p << " " << q << " " << t;
            }
        }
    }
    EXPECT_EQ(amount_weight8(10008), 255);
    EXPECT_EQ(amount_weight8(5004), 127);
    EXPECT_EQ(amount_weight16(10008), 65535);
    EXPECT_EQ(amount_weight16(5004), 32767);
}

TEST(MixIntoOutput, AmountWithoutMask) {
    // 5004 = weight 127: 0 -> 255 gives floor((255 x 127 + 127) / 255) = 127; 255 -> 0 gives
    // 255 - 127; 10 -> 20 gives 10 + floor(1397 / 255) = 15.
    Image in = row8({0, 255, 10});
    Image res = row8({255, 0, 20});
    Image out;
    ASSERT_FALSE(mix_into_output(in, res, out, amounts(5004), nullptr));
    EXPECT_EQ(out.rows[0][0], 127);
    EXPECT_EQ(out.rows[0][1], 128);
    EXPECT_EQ(out.rows[0][2], 15);
    // 10008: exactly the result.
    ASSERT_FALSE(mix_into_output(in, res, out, amounts(10008), nullptr));
    EXPECT_TRUE(image_equal(out, res));

    // 16 bits at 5004: weight 32767; 65535 x 32767 / 65535 = 32767.
    Image in16 = row16({0, 65535});
    Image res16 = row16({65535, 0});
    ASSERT_FALSE(mix_in_place(in16, res16, amounts(5004), nullptr));
    EXPECT_EQ(sample16(res16.rows[0], 0), 32767);
    EXPECT_EQ(sample16(res16.rows[0], 1), 32768);

    // A gray input reaches each channel of a colour result; a 16-bit input is narrowed.
    Image gray = row16({100 * 257});
    Image colour = make(image_color24, 1, 1);
    colour.rows[0][0] = 200, colour.rows[0][1] = 50, colour.rows[0][2] = 0;
    ASSERT_FALSE(mix_in_place(gray, colour, amounts(5004), nullptr));
    EXPECT_EQ(colour.rows[0][0], 100 + 50);  // floor((100 x 127 + 127) / 255) = 50
    EXPECT_EQ(colour.rows[0][1], 50 + 25);   // floor((50 x 127 + 127) / 255) = 25
    EXPECT_EQ(colour.rows[0][2], 100 - 50);
}

TEST(MixIntoOutput, MaskBetweenTwoAmounts) {
    // Amounts 0 (black) and 10008 (white): the mask value is the weight.
    Image in = row8({0, 0, 0, 40});
    Image res = row8({255, 255, 255, 240});
    Image mask8 = row8({0, 255, 128, 100});
    Image out;
    ASSERT_FALSE(mix_into_output(in, res, out, amounts(0, 10008), &mask8));
    EXPECT_EQ(out.rows[0][0], 0);
    EXPECT_EQ(out.rows[0][1], 255);
    EXPECT_EQ(out.rows[0][2], 128);      // floor((255 x 128 + 127) / 255)
    EXPECT_EQ(out.rows[0][3], 40 + 78);  // floor((200 x 100 + 127) / 255) = 78

    // A 16-bit mask on an 8-bit image is narrowed: 32896 -> 128.
    Image mask16 = row16({0, 65535, 32896, 100 * 257});
    ASSERT_FALSE(mix_into_output(in, res, out, amounts(0, 10008), &mask16));
    EXPECT_EQ(out.rows[0][2], 128);
    EXPECT_EQ(out.rows[0][3], 118);

    // Amounts 5004 and 10008 on a 16-bit image with a 16-bit mask: w = mix16(32767, 65535, m).
    Image in16 = row16({0, 0});
    Image res16 = row16({65535, 65535});
    Image m16 = row16({0, 30000});
    ASSERT_FALSE(mix_in_place(in16, res16, amounts(5004, 10008), &m16));
    EXPECT_EQ(sample16(res16.rows[0], 0), 32767);
    EXPECT_EQ(sample16(res16.rows[0], 1), 32767 + 32768 * 30000 / 65535);

    // An 8-bit mask on a 16-bit image weighs by an 8-bit weight divided by 255.
    Image a16 = row16({0, 1000});
    Image b16 = row16({65535, 0});
    Image m8 = row8({128, 100});
    ASSERT_FALSE(mix_in_place(a16, b16, amounts(0, 10008), &m8));
    EXPECT_EQ(sample16(b16.rows[0], 0), 65535 * 128 / 255);
    EXPECT_EQ(sample16(b16.rows[0], 1), 1000 - 1000 * 100 / 255);

    // Both amounts full: the result itself.
    Image r2 = row8({1, 2, 3, 4});
    ASSERT_FALSE(mix_into_output(in, r2, out, amounts(10008, 10008), &mask8));
    EXPECT_TRUE(image_equal(out, r2));
    EXPECT_TRUE(amount_leaves_input(amounts(-1), nullptr));
    EXPECT_FALSE(amount_leaves_input(amounts(0, 10), &mask8));
}

// A wide colour picture goes through the vector loops; every sample must still be
// blend8(in, res, blend8(a8, b8, m)).
TEST(MixIntoOutput, WideColourPictureWithMask) {
    constexpr std::uint32_t w = 53, h = 3;
    Image in = make(image_color24, w, h), res = make(image_color24, w, h);
    Image mask = make(image_gray8, w, h);
    std::uint32_t state = 7;
    auto next = [&] {
        return static_cast<std::uint8_t>((state = state * 1103515245u + 12345u) >> 23);
    };
    for (std::uint32_t y = 0; y < h; ++y) {
        for (std::uint32_t i = 0; i < 3 * w; ++i) in.rows[y][i] = next(), res.rows[y][i] = next();
        for (std::uint32_t x = 0; x < w; ++x) mask.rows[y][x] = next();
    }
    Image out;
    ASSERT_FALSE(mix_into_output(in, res, out, amounts(1500, 9000), &mask));
    const std::uint8_t a8 = 1500 * 255 / 10008, b8 = 9000 * 255 / 10008;
    for (std::uint32_t y = 0; y < h; ++y) {
        for (std::uint32_t i = 0; i < 3 * w; ++i) {
            const std::uint8_t weight = blend8(a8, b8, mask.rows[y][i / 3]);
            ASSERT_EQ(out.rows[y][i], blend8(in.rows[y][i], res.rows[y][i], weight))
                << y << " " << i;
        }
    }
}

// 16-bit pictures go through 16-bit vector lanes; every sample must still be p + trunc((q - p)
// t / 65535), or t / 255 with an 8-bit mask.
TEST(MixIntoOutput, SixteenBitLanesAgreeWithPlainFormulas) {
    auto plain = [](std::int64_t p, std::int64_t q, std::int64_t t, std::int64_t full) {
        return p + (q - p) * t / full;
    };
    std::uint32_t state = 11;
    auto next = [&] { return (state = state * 1103515245u + 12345u) >> 8; };
    // Every difference, up and down, against many weights: with amounts 0 and full the 16-bit
    // mask value is the weight.
    constexpr std::uint32_t w = 4096, h = 16;
    Image in = make(image_gray16, w, h), res = make(image_gray16, w, h);
    Image mask = make(image_gray16, w, h), out;
    for (int pass = 0; pass < 40; ++pass) {
        for (std::uint32_t i = 0; i < w * h; ++i) {
            set_sample16(in.rows[i / w], i % w, static_cast<std::uint16_t>(i));
            set_sample16(res.rows[i / w], i % w, pass % 2 ? 65535 : 0);
            const std::uint32_t t = pass < 4 ? 65535 - pass / 2 : next() & 0xffff;
            set_sample16(mask.rows[i / w], i % w, static_cast<std::uint16_t>(t));
        }
        ASSERT_FALSE(mix_into_output(in, res, out, amounts(0, 10008), &mask));
        for (std::uint32_t i = 0; i < w * h; ++i) {
            const std::uint32_t y = i / w, x = i % w;
            ASSERT_EQ(sample16(out.rows[y], x),
                      plain(i, sample16(res.rows[y], x), sample16(mask.rows[y], x), 65535))
                << pass << " " << i;
        }
    }
    // Colour pictures with 8- and 16-bit masks between two amounts, odd widths for the tails,
    // and the mix of two results.
    constexpr std::uint32_t cw = 53, ch = 3;
    Image a = make(image_color48, cw, ch), b = make(image_color48, cw, ch);
    Image c = make(image_color48, cw, ch), m8 = make(image_gray8, cw, ch);
    Image m16 = make(image_gray16, cw, ch);
    for (std::uint32_t y = 0; y < ch; ++y) {
        for (std::uint32_t i = 0; i < 3 * cw; ++i) {
            set_sample16(a.rows[y], i, static_cast<std::uint16_t>(next()));
            set_sample16(b.rows[y], i, static_cast<std::uint16_t>(next()));
            set_sample16(c.rows[y], i, static_cast<std::uint16_t>(next()));
        }
        for (std::uint32_t x = 0; x < cw; ++x) {
            m8.rows[y][x] = static_cast<std::uint8_t>(next());
            set_sample16(m16.rows[y], x, static_cast<std::uint16_t>(next()));
        }
    }
    const auto a8 = static_cast<std::uint8_t>(amount_weight8(1500));
    const auto b8 = static_cast<std::uint8_t>(amount_weight8(9000));
    const std::int32_t a16 = amount_weight16(1500), b16 = amount_weight16(9000);
    Image by8, by16, two8, two16;
    ASSERT_FALSE(mix_into_output(a, b, by8, amounts(1500, 9000), &m8));
    ASSERT_FALSE(mix_into_output(a, b, by16, amounts(1500, 9000), &m16));
    ASSERT_FALSE(mix_two_results(a, b, c, two8, amounts(1500, 9000), &m8));
    ASSERT_FALSE(mix_two_results(a, b, c, two16, amounts(1500, 9000), &m16));
    for (std::uint32_t y = 0; y < ch; ++y) {
        for (std::uint32_t i = 0; i < 3 * cw; ++i) {
            const std::int64_t p = sample16(a.rows[y], i), q = sample16(b.rows[y], i);
            const std::int64_t k = plain(p, q, a16, 65535);
            const std::int64_t l = plain(p, sample16(c.rows[y], i), b16, 65535);
            const std::int64_t t8 = m8.rows[y][i / 3], t16 = sample16(m16.rows[y], i / 3);
            ASSERT_EQ(sample16(by8.rows[y], i), plain(p, q, blend8(a8, b8, t8), 255));
            ASSERT_EQ(sample16(by16.rows[y], i), plain(p, q, plain(a16, b16, t16, 65535), 65535));
            ASSERT_EQ(sample16(two8.rows[y], i), plain(k, l, t8, 255));
            ASSERT_EQ(sample16(two16.rows[y], i), plain(k, l, t16, 65535));
        }
    }
}

TEST(MixTwoResults, BlackAndWhiteResults) {
    Image in = row8({100, 100, 100});
    Image black = row8({0, 0, 0});
    Image white = row8({200, 200, 200});
    Image mask = row8({0, 255, 128});
    Image out;
    ASSERT_FALSE(mix_two_results(in, black, white, out, amounts(10008, 10008), &mask));
    EXPECT_EQ(out.rows[0][0], 0);
    EXPECT_EQ(out.rows[0][1], 200);
    EXPECT_EQ(out.rows[0][2], 100);  // floor((200 x 128 + 127) / 255)
    // Amount 5004 toward black: 100 - floor((100 x 127 + 127) / 255) = 50 where the mask is 0.
    ASSERT_FALSE(mix_two_results(in, black, white, out, amounts(5004, 10008), &mask));
    EXPECT_EQ(out.rows[0][0], 50);

    Image in16 = row16({1000});
    Image black16 = row16({0});
    Image white16 = row16({3000});
    Image m16 = row16({32768});
    Image out16;
    ASSERT_FALSE(mix_two_results(in16, black16, white16, out16, amounts(10008, 10008), &m16));
    EXPECT_EQ(sample16(out16.rows[0], 0), 3000 * 32768 / 65535);
}

TEST(MixChecks, MessagesOnMismatch) {
    testing::RecordingScope scope;
    Image in = row8({1, 2});
    Image res = row8({3, 4});
    Image small = row8({5});
    Image wide = make(image_color24, 2, 1);
    Image out = row8({0, 0});
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
