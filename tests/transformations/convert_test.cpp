#include "transformations/convert.h"

#include <gtest/gtest.h>
#include <lcms2.h>

#include <cstring>
#include <set>
#include <string>

#include "core/builtin_profiles.h"
#include "core/image_convert.h"
#include "core/numeric.h"
#include "core/runner.h"
#include "core/text_file.h"
#include "framework/registry.h"
#include "support/module_helpers.h"
#include "support/image_helpers.h"

namespace tessaly {
namespace {

bool same_profile(const Image& im, ProfileBytes p) {
    return im.profile_size == p.size && p.size > 0 && std::memcmp(im.profile, p.data, p.size) == 0;
}

class ConvertRun : public ::testing::Test {
  protected:
    void SetUp() override { input.parent = &tree_root(); }
    void TearDown() override {
        set_color_management_enabled(false);
        set_rgb_working_profile(nullptr, 0);
    }
    void run_ok(std::int32_t otype) {
        node.parent = &input;
        const std::string line = "convert 0 otype " + std::to_string(otype);
        ASSERT_EQ(find_transformation("convert")->run(&input, &node, split(line)), 0) << line;
        ASSERT_EQ(node.image.type, static_cast<std::uint32_t>(otype));
    }
    void make(std::uint32_t type, std::uint32_t w, std::uint32_t h) {
        ASSERT_FALSE(image_alloc(input.image, type, w, h, 150.0));
    }
    Node input, node;
};

TEST_F(ConvertRun, TableAndProfilesWithoutColorManagement) {
    // Red: (306 x 255) >> 10 = 76, below the binary threshold; white stays 255.
    make(image_color24, 2, 1);
    std::memcpy(input.image.rows[0], "\0\0\xff\xff\xff\xff", 6);
    run_ok(image_gray8);
    EXPECT_EQ(node.image.rows[0][0], 76);
    EXPECT_EQ(node.image.rows[0][1], 255);
    run_ok(image_binary);
    EXPECT_EQ(node.image.rows[0][0], 0x40);
    // to8: (32896 x 255 + 32767) / 65535 = 128, (32767 x 255 + 32767) / 65535 = 127.
    make(image_gray16, 2, 1);
    set_sample16(input.image.rows[0], 0, 32896);
    set_sample16(input.image.rows[0], 1, 32767);
    run_ok(image_gray8);
    EXPECT_EQ(node.image.rows[0][0], 128);
    EXPECT_EQ(node.image.rows[0][1], 127);
    run_ok(image_binary);
    EXPECT_EQ(node.image.rows[0][0], 0x80);

    make(image_binary, 3, 2);
    run_ok(image_color24);
    EXPECT_TRUE(same_profile(node.image, builtin_srgb_profile()));
    const std::uint8_t fake[] = {1, 2, 3, 4, 5};
    set_rgb_working_profile(fake, sizeof fake);
    run_ok(image_color24);
    EXPECT_TRUE(same_profile(node.image, {fake, sizeof fake}));
    // Its own type: an identical copy, profile included.
    input.image = std::move(node.image);
    testing::fill_pattern(input.image, 9);
    run_ok(image_color24);
    EXPECT_TRUE(image_equal(node.image, input.image));
    // A new node's target depends on the input: 8-bit gray for a 24-bit picture.
    EXPECT_EQ(testing::normalised("convert 0 display 0", nullptr, &input),
              "convert 0 otype 2 display 0 sync_scroll 1 auto_preview 1");
}

TEST_F(ConvertRun, WideningSpreadsLevelsWithoutLosingRandomSteps) {
    const int previous = processor_count();
    set_processor_count(3);
    make(image_gray8, 64, 40);
    for (std::uint32_t y = 0; y < 40; ++y) std::memset(input.image.rows[y] + 32, 255, 32);
    const std::int32_t start = random_state();
    run_ok(image_gray16);
    std::set<int> seen;
    for (std::uint32_t y = 0; y < 40; ++y) {
        for (std::uint32_t x = 0; x < 64; ++x) {
            const int v = sample16(node.image.rows[y], x);
            seen.insert(v);
            EXPECT_TRUE(x < 32 ? v <= 127 : v >= 65408) << x << " " << y << ": " << v;
        }
    }
    EXPECT_GT(seen.size(), 150u);
    // One step of the shared sequence per widened sample, none lost between the workers.
    std::int32_t expected = start;
    for (int i = 0; i < 64 * 40; ++i) expected = random_step(expected);
    EXPECT_EQ(random_state(), expected);
    set_processor_count(previous);
}

TEST_F(ConvertRun, ColorManagedGrayToAdobeRgbMatchesLittleCms) {
    std::string adobe;
    if (read_file_bytes("/usr/share/color/icc/colord/AdobeRGB1998.icc", adobe))
        GTEST_SKIP() << "colord-data is not installed";
    const ProfileBytes a{reinterpret_cast<const std::uint8_t*>(adobe.data()),
                         static_cast<std::uint32_t>(adobe.size())};
    const ProfileBytes g = builtin_gray_profile();  // stands for the input's missing profile
    set_color_management_enabled(true);
    set_rgb_working_profile(a.data, a.size);
    make(image_gray8, 256, 2);
    for (std::uint32_t x = 0; x < 256; ++x) input.image.rows[1][x] = static_cast<std::uint8_t>(x);
    run_ok(image_color48);
    EXPECT_TRUE(same_profile(node.image, a));
    cmsHPROFILE gp = cmsOpenProfileFromMem(g.data, g.size);
    cmsHPROFILE ap = cmsOpenProfileFromMem(a.data, a.size);
    cmsHTRANSFORM t = cmsCreateTransform(gp, TYPE_GRAY_8, ap, TYPE_BGR_16, INTENT_PERCEPTUAL, 0);
    std::uint16_t wide[256 * 3];
    cmsDoTransform(t, input.image.rows[1], wide, 256);
    EXPECT_EQ(std::memcmp(node.image.rows[1], wide, sizeof wide), 0);
    cmsDeleteTransform(t);
    cmsCloseProfile(gp);
    cmsCloseProfile(ap);
}

}  // namespace
}  // namespace tessaly
