#include "core/image_convert.h"

#include <gtest/gtest.h>
#include <lcms2.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "core/builtin_profiles.h"
#include "core/runner.h"
#include "core/tables.h"
#include "support/image_helpers.h"

namespace tessaly {
namespace {

using testing::fill_pattern;
using testing::is_empty_record;

std::uint32_t pixel_bytes(std::uint32_t type, std::uint32_t width) {
    return type == image_binary ? (width + 7) / 8 : image_pixel_bytes(type) * width;
}

std::string bytes_text(const std::uint8_t* data, std::uint32_t size) {
    return std::string(reinterpret_cast<const char*>(data), size);
}

class ConversionTest : public ::testing::Test {
  protected:
    void TearDown() override {
        set_rgb_working_profile(nullptr, 0);
        set_gray_working_profile(nullptr, 0);
        set_color_managed_conversion(nullptr);
        set_color_management_enabled(false);
        set_processor_count(0);
    }
};

TEST(ConversionTables, ValuesAndArithmetic) {
    for (std::uint32_t v = 0; v < 256; ++v) ASSERT_EQ(to16[v], v * 257);
    // The division-free form the row loops use agrees with the definition everywhere.
    for (std::uint32_t v = 0; v < 65536; ++v) {
        const std::uint32_t defined = (v * 255 + 32767) / 65535;
        ASSERT_EQ(to8[v], defined) << v;
        ASSERT_EQ(to8_fast(static_cast<std::uint16_t>(v)), defined) << v;
    }
    // blend16 truncates toward zero both ways: 50.2 and 100 - 50.2.
    EXPECT_EQ(std::vector<int>({blend8(0, 255, 128), blend8(255, 0, 128), blend8(200, 10, 255),
                                blend16(0, 100, 128), blend16(100, 0, 128), luminance(255, 0, 0)}),
              std::vector<int>({128, 127, 10, 50, 50, 76}));
}

// Each conversion's rule, one pixel at a time and through sample16, independent of the row
// loops; which profile the target gets (the source's, else the gray or RGB working profile or
// the built-in one) and whether the color-managed path takes it.
using PixelRule = void (*)(const std::uint8_t* in, std::uint32_t x, std::uint8_t* out);
enum Profile { own_profile, gray_profile, rgb_profile };
struct Rule {
    std::uint32_t from, to;
    bool (*convert)(const Image&, Image&);
    Profile profile;
    bool managed;
    PixelRule pixel;
};

void put3(std::uint8_t* out, std::uint32_t x, std::uint8_t v) {
    out[3 * x] = out[3 * x + 1] = out[3 * x + 2] = v;
}
void put_float(std::uint8_t* out, std::uint32_t x, double v) {
    const float f = static_cast<float>(v);
    std::memcpy(out + 4 * x, &f, 4);
}

const Rule rules[] = {
    {1, 2, convert_1_to_2, gray_profile, false,
     [](auto in, auto x, auto out) { out[x] = bit_get(in, x); }},
    {1, 3, convert_1_to_3, rgb_profile, false,
     [](auto in, auto x, auto out) { put3(out, x, bit_get(in, x)); }},
    {2, 3, convert_2_to_3, rgb_profile, true,
     [](auto in, auto x, auto out) { put3(out, x, in[x]); }},
    {2, 4, convert_2_to_4, own_profile, false,
     [](auto in, auto x, auto out) { set_sample16(out, x, to16[in[x]]); }},
    {2, 6, convert_2_to_6, own_profile, false,
     [](auto in, auto x, auto out) { put_float(out, x, in[x] / 255.0); }},
    {3, 2, convert_3_to_2, gray_profile, true,
     [](auto in, auto x, auto out) {
         out[x] = static_cast<std::uint8_t>((in[3 * x] + in[3 * x + 1] + in[3 * x + 2]) / 3);
     }},
    {3, 5, convert_3_to_5, own_profile, false,
     [](auto in, auto x, auto out) {
         for (int c = 0; c < 3; ++c) set_sample16(out, 3 * x + c, to16[in[3 * x + c]]);
     }},
    {4, 2, convert_4_to_2, own_profile, false,
     [](auto in, auto x, auto out) { out[x] = to8[sample16(in, x)]; }},
    {4, 3, convert_4_to_3, rgb_profile, true,
     [](auto in, auto x, auto out) { put3(out, x, to8[sample16(in, x)]); }},
    {4, 5, convert_4_to_5, rgb_profile, true,
     [](auto in, auto x, auto out) {
         for (int c = 0; c < 3; ++c) set_sample16(out, 3 * x + c, sample16(in, x));
     }},
    {4, 6, convert_4_to_6, own_profile, false,
     [](auto in, auto x, auto out) { put_float(out, x, sample16(in, x) / 65535.0); }},
    {5, 2, convert_5_to_2, gray_profile, true,
     [](auto in, auto x, auto out) {
         out[x] =
             to8[(sample16(in, 3 * x) + sample16(in, 3 * x + 1) + sample16(in, 3 * x + 2)) / 3];
     }},
    {5, 3, convert_5_to_3, own_profile, false,
     [](auto in, auto x, auto out) {
         for (int c = 0; c < 3; ++c) out[3 * x + c] = to8[sample16(in, 3 * x + c)];
     }},
};

std::string name(const Rule& rule) {
    return std::to_string(rule.from) + " -> " + std::to_string(rule.to);
}

TEST_F(ConversionTest, EveryConversionFollowsItsPixelAndProfileRules) {
    set_processor_count(3);
    const std::uint8_t own[4] = {'o', 'w', 'n', 0}, rgb_bytes[3] = {'r', 'g', 'b'};
    const std::uint8_t gray_bytes[2] = {'g', 'y'};
    const ProfileBytes srgb = builtin_srgb_profile(), gray22 = builtin_gray_profile();
    for (const Rule& rule : rules) {
        // Widths with and without padding; more rows than threads; the wider two with working
        // profiles set.
        for (std::uint32_t width : {1u, 9u, 20u, 37u}) {
            SCOPED_TRACE(name(rule) + " width " + std::to_string(width));
            const bool working = width > 9;
            set_rgb_working_profile(working ? rgb_bytes : nullptr, working ? 3 : 0);
            set_gray_working_profile(working ? gray_bytes : nullptr, working ? 2 : 0);
            Image source, target, dispatched;
            ASSERT_FALSE(image_alloc_with(source, rule.from, width, 23, 123.0, own, 4, nullptr));
            ASSERT_FALSE(image_add_tag(source, 274, 3, 1, "\x03\x00"));
            fill_pattern(source, pixel_bytes(rule.from, width), width);
            // The target's rows are re-used: its padding, all ones now, must come back zero.
            ASSERT_FALSE(image_alloc(target, rule.to, width, 23, 1.0));
            for (std::uint32_t r = 0; r < 23; ++r)
                std::memset(target.rows[r], 0xff, target.row_bytes);
            ASSERT_FALSE(rule.convert(source, target));
            ASSERT_TRUE(target.type == rule.to && target.dpi == 123.0);
            const std::string profile =
                rule.profile == own_profile ? bytes_text(own, 4)
                : rule.profile == rgb_profile
                    ? (working ? "rgb" : bytes_text(srgb.data, srgb.size))
                    : (working ? "gy" : bytes_text(gray22.data, gray22.size));
            EXPECT_EQ(bytes_text(target.profile, target.profile_size), profile);
            EXPECT_TRUE(target.tags && target.tags->tag == 274u);
            for (std::uint32_t r = 0; r < 23; ++r) {
                std::vector<std::uint8_t> expected(target.row_bytes, 0);
                for (std::uint32_t x = 0; x < width; ++x)
                    rule.pixel(source.rows[r], x, expected.data());
                ASSERT_EQ(std::memcmp(target.rows[r], expected.data(), target.row_bytes), 0) << r;
            }
            ASSERT_FALSE(image_convert(source, dispatched, rule.to));
            EXPECT_TRUE(image_equal(dispatched, target));
        }
    }
    // The pitfall: the 16-bit mean first, then to8. (128 + 129 + 131) / 3 = 129 gives
    // 1; converting each channel first would give (0 + 1 + 1) / 3 = 0.
    Image color48, gray;
    ASSERT_FALSE(image_alloc(color48, image_color48, 1, 1, 1.0));
    for (int c = 0; c < 3; ++c) set_sample16(color48.rows[0], c, 128 + c + (c == 2));
    ASSERT_FALSE(convert_5_to_2(color48, gray));
    EXPECT_EQ(gray.rows[0][0], 1);
}

TEST_F(ConversionTest, DispatchAliasingAndWrongInput) {
    int pairs = 0;
    for (std::uint32_t from = 0; from <= 8; ++from) {
        for (std::uint32_t to = 0; to <= 8; ++to) pairs += image_conversion_exists(from, to);
    }
    EXPECT_EQ(pairs, 13);
    Image gray, target;
    ASSERT_FALSE(image_alloc(gray, image_gray8, 3, 3, 1.0));
    ASSERT_FALSE(image_alloc(target, image_gray8, 1, 1, 1.0));
    EXPECT_TRUE(image_convert(gray, target, image_gray8) && is_empty_record(target));
    EXPECT_TRUE(convert_3_to_5(gray, target) && is_empty_record(target));
    // Source and target may be one Image; a failure leaves it as it was.
    gray.rows[2][2] = 77;
    EXPECT_TRUE(convert_3_to_5(gray, gray) && gray.type == image_gray8);
    ASSERT_FALSE(image_convert(gray, gray, image_gray16));
    EXPECT_EQ(sample16(gray.rows[2], 2), 77 * 257);
    Image no_rows;
    ASSERT_FALSE(image_alloc(no_rows, image_color24, 0, 4, 1.0));
    ASSERT_FALSE(convert_3_to_5(no_rows, target));
    EXPECT_TRUE(target.type == image_color48 && target.rows == nullptr);
}

std::vector<std::pair<std::uint32_t, std::uint32_t>> managed_calls;
bool managed_fails = false;

bool fake_managed(const Image& source, Image& target) {
    // Called with the target allocated, zeroed and carrying its profile.
    EXPECT_GT(target.profile_size, 0u);
    EXPECT_EQ(target.rows[target.height - 1][target.row_bytes - 1], 0);
    managed_calls.emplace_back(source.type, target.type);
    target.rows[0][0] = 0x42;
    return managed_fails;
}

TEST_F(ConversionTest, ColorManagedPath) {
    managed_fails = false;
    set_color_managed_conversion(fake_managed);
    set_color_management_enabled(true);
    for (const Rule& rule : rules) {
        Image source, target;
        ASSERT_FALSE(image_alloc(source, rule.from, 3, 2, 1.0));
        fill_pattern(source, pixel_bytes(rule.from, 3));
        managed_calls.clear();
        ASSERT_FALSE(rule.convert(source, target));
        EXPECT_EQ(managed_calls.size(), rule.managed ? 1u : 0u) << name(rule);
        EXPECT_TRUE(!rule.managed || target.rows[0][0] == 0x42) << name(rule);
    }
    managed_fails = true;
    Image gray, target;
    ASSERT_FALSE(image_alloc(gray, image_gray8, 3, 2, 1.0));
    EXPECT_TRUE(convert_2_to_3(gray, target));
    EXPECT_TRUE(is_empty_record(target));
    // Disabled, or enabled without a path: the plain arithmetic.
    gray.rows[0][0] = 9;
    set_color_management_enabled(false);
    ASSERT_FALSE(convert_2_to_3(gray, target));
    EXPECT_EQ(target.rows[0][2], 9);
    set_color_management_enabled(true);
    set_color_managed_conversion(nullptr);
    ASSERT_FALSE(convert_2_to_3(gray, target));
    EXPECT_EQ(target.rows[0][1], 9);
}

// The built-in profiles are made once and carry their names.
TEST(BuiltinProfiles, Descriptions) {
    for (const auto& [bytes, description] : {std::pair{builtin_srgb_profile(), "sRGB IEC61966-2.1"},
                                             {builtin_gray_profile(), "Gray Gamma 2.2"},
                                             {builtin_adobe_rgb_profile(), "Adobe RGB (1998)"}}) {
        cmsHPROFILE profile = cmsOpenProfileFromMem(bytes.data, bytes.size);
        char text[128] = {};
        cmsGetProfileInfoASCII(profile, cmsInfoDescription, "en", "US", text, sizeof text);
        EXPECT_STREQ(text, description);
        cmsCloseProfile(profile);
    }
    EXPECT_EQ(builtin_gray_profile().data, builtin_gray_profile().data);
}

}  // namespace
}  // namespace tessaly
