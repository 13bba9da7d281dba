// Convert and Change Profile.
#include <gtest/gtest.h>
#include <lcms2.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "color/color_settings.h"
#include "core/builtin_profiles.h"
#include "core/image_convert.h"
#include "core/numeric.h"
#include "core/runner.h"
#include "core/text_file.h"
#include "framework/registry.h"
#include "support/image_helpers.h"
#include "support/module_helpers.h"
#include "support/sample_rows.h"
#include "support/suite_helpers.h"
#include "support/temp_dir.h"
#include "transformations/change_profile.h"
#include "transformations/convert.h"

namespace tessaly {
namespace {

std::string bytes_of(const std::uint8_t* data, std::uint32_t size) {
    return std::string(reinterpret_cast<const char*>(data), size);
}
bool same_profile(const Image& im, ProfileBytes p) {
    return p.size > 0 && bytes_of(im.profile, im.profile_size) == bytes_of(p.data, p.size);
}

// Every row of in through a transform the test builds itself must give the row of out.
void expect_direct(const Image& in, const Image& out, const std::string& from,
                   const std::string& to, cmsUInt32Number in_format, cmsUInt32Number out_format,
                   cmsUInt32Number intent, cmsUInt32Number flags) {
    cmsHPROFILE a = cmsOpenProfileFromMem(from.data(), from.size());
    cmsHPROFILE b = cmsOpenProfileFromMem(to.data(), to.size());
    cmsHTRANSFORM t = cmsCreateTransform(a, in_format, b, out_format, intent, flags);
    std::vector<std::uint8_t> row(out.row_bytes);
    for (std::uint32_t y = 0; y < in.height; ++y) {
        cmsDoTransform(t, in.rows[y], row.data(), in.width);
        EXPECT_EQ(std::memcmp(row.data(), out.rows[y], row.size()), 0) << "row " << y;
    }
    cmsDeleteTransform(t);
    cmsCloseProfile(a);
    cmsCloseProfile(b);
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
    // Red: (306 x 255) >> 10 = 76, below the binary threshold; white stays 255. 16-bit gray by
    // to8: (32896 x 255 + 32767) / 65535 = 128, (32767 x 255 + 32767) / 65535 = 127.
    struct Case {
        std::uint32_t type;
        std::vector<int> samples, gray;
        int bits;
    };
    for (const Case& c : {Case{image_color24, {0, 0, 255, 255, 255, 255}, {76, 255}, 0x40},
                          Case{image_gray16, {32896, 32767}, {128, 127}, 0x80}}) {
        input.image = testing::image_of_rows(c.type, {c.samples});
        run_ok(image_gray8);
        EXPECT_EQ(testing::rows_of(node.image), testing::SampleRows{c.gray});
        run_ok(image_binary);
        EXPECT_EQ(node.image.rows[0][0], c.bits);
    }
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
    // The shared sequence goes on (a rerun draws other offsets), and from the same state the
    // picture is the same whichever worker took which row.
    EXPECT_NE(random_state(), start);
    Image three;
    ASSERT_FALSE(image_copy(node.image, three));
    run_ok(image_gray16);
    EXPECT_FALSE(image_equal(node.image, three));
    random_set_state(start);
    set_processor_count(1);
    run_ok(image_gray16);
    EXPECT_TRUE(image_equal(node.image, three));
    set_processor_count(previous);
}

TEST_F(ConvertRun, ColorManagedGrayToAdobeRgbMatchesLittleCms) {
    std::string adobe;
    if (read_file_bytes("/usr/share/color/icc/colord/AdobeRGB1998.icc", adobe))
        GTEST_SKIP() << "colord-data is not installed";
    set_color_management_enabled(true);
    set_rgb_working_profile(reinterpret_cast<const std::uint8_t*>(adobe.data()),
                            static_cast<std::uint32_t>(adobe.size()));
    make(image_gray8, 256, 2);
    for (std::uint32_t x = 0; x < 256; ++x) input.image.rows[1][x] = static_cast<std::uint8_t>(x);
    run_ok(image_color48);
    EXPECT_EQ(bytes_of(node.image.profile, node.image.profile_size), adobe);
    // The built-in gray profile stands for the input's missing one.
    const ProfileBytes g = builtin_gray_profile();
    expect_direct(input.image, node.image, bytes_of(g.data, g.size), adobe, TYPE_GRAY_8,
                  TYPE_BGR_16, INTENT_PERCEPTUAL, 0);
}

class ChangeProfileRun : public ::testing::Test {
  protected:
    void SetUp() override {
        input.parent = &tree_root();
        node.parent = &input;
        add_profile_folder(dir.path());
        // An input-class RGB profile, and a gray one whose black is raised to 10 %: matrix
        // profiles all start at true black, where black point compensation changes nothing.
        std::vector<cmsUInt16Number> curve(256);
        for (int i = 0; i < 256; ++i) curve[i] = static_cast<cmsUInt16Number>(6554 + i * 231);
        cmsToneCurve* raised_curve = cmsBuildTabulatedToneCurve16(nullptr, 256, curve.data());
        const testing::Bytes scanner =
            testing::rgb_profile("Scanner", false, 2.2, cmsSigInputClass);
        const testing::Bytes raised =
            testing::profile_bytes(cmsCreateGrayProfile(cmsD50_xyY(), raised_curve), "Raised");
        cmsFreeToneCurve(raised_curve);
        testing::put_file(dir.file("scanner.icc"), scanner);
        testing::put_file(dir.file("raised.icc"), raised);
        scanner_bytes.assign(scanner.begin(), scanner.end());
        raised_bytes.assign(raised.begin(), raised.end());
    }
    void TearDown() override { reset_profile_folders(); }

    std::uint8_t run(const std::string& line) {
        return find_transformation("change_profile")->run(&input, &node, split(line));
    }
    void make(std::uint32_t type, std::uint32_t w, std::uint32_t h, ProfileBytes own) {
        ASSERT_FALSE(image_alloc(input.image, type, w, h, 96.0) ||
                     image_set_profile(input.image, own.data, own.size));
        testing::fill_pattern(input.image, w * (type == image_gray8 ? 1 : 6));
    }

    testing::TempDir dir;
    std::string scanner_bytes, raised_bytes;
    Node input, node;
};

TEST_F(ChangeProfileRun, CopiesRelabelsAndRefusals) {
    make(image_color48, 33, 7, builtin_srgb_profile());
    // "Profile Only" never converts, even into an input-class profile.
    ASSERT_EQ(run("change_profile 0 output_profile ″scanner.icc″ action 2 render_intent 3"), 0);
    Image want;
    ASSERT_FALSE(image_copy(input.image, want));
    ASSERT_FALSE(image_set_profile(want, node.image.profile, node.image.profile_size));
    EXPECT_TRUE(image_equal(node.image, want));
    EXPECT_EQ(bytes_of(node.image.profile, node.image.profile_size), scanner_bytes);
    // The image's own profile is the built-in sRGB, which "None" names for colour images.
    ASSERT_EQ(run("change_profile 0 use_original 0 output_profile ″None″ action 0"), 0);
    EXPECT_TRUE(image_equal(node.image, input.image));

    ASSERT_EQ(run("change_profile 0 output_profile ″scanner.icc″ action 0"), 1);
    EXPECT_EQ(node.error_text, "Cannot convert image data to an input (scnr) profile");
    ASSERT_EQ(run("change_profile 0 output_profile ″raised.icc″ action 2"), 1);
    EXPECT_EQ(node.error_text, "Color images must have RGB profiles");
    make(image_gray8, 5, 5, {});
    ASSERT_EQ(run("change_profile 0 output_profile ″scanner.icc″ action 2"), 1);
    EXPECT_EQ(node.error_text, "Black and White images must have gray profiles");
    EXPECT_TRUE(testing::is_empty_record(node.image));
}

TEST_F(ChangeProfileRun, SrgbToAdobeRgbMatchesLittleCmsForEveryIntent) {
    std::string adobe, name;
    for (const char* path : {"/usr/share/color/icc/compatibleWithAdobeRGB1998.icc",
                             "/usr/share/color/icc/colord/AdobeRGB1998.icc"}) {
        if (!read_file_bytes(path, adobe)) name = path;
    }
    if (name.empty()) GTEST_SKIP() << "no Adobe RGB profile (icc-profiles-free, colord-data)";
    const ProfileBytes srgb = builtin_srgb_profile();
    const cmsUInt32Number intents[] = {INTENT_PERCEPTUAL, INTENT_SATURATION,
                                       INTENT_RELATIVE_COLORIMETRIC, INTENT_ABSOLUTE_COLORIMETRIC,
                                       INTENT_RELATIVE_COLORIMETRIC};
    make(image_color48, 40, 9, srgb);
    for (int code = 0; code < 5; ++code) {
        SCOPED_TRACE(code);
        const std::string line =
            "change_profile 0 output_profile ″" + name + "″ render_intent " + std::to_string(code);
        ASSERT_EQ(run(line), 0);
        expect_direct(input.image, node.image, bytes_of(srgb.data, srgb.size), adobe, TYPE_BGR_16,
                      TYPE_BGR_16, intents[code], code == 4 ? cmsFLAGS_BLACKPOINTCOMPENSATION : 0);
        EXPECT_EQ(bytes_of(node.image.profile, node.image.profile_size), adobe);
        // "Image Data Only": the same numbers under the input's label.
        Image both = std::move(node.image);
        ASSERT_EQ(run(line + " action 1"), 0);
        ASSERT_FALSE(image_set_profile(both, srgb.data, srgb.size));
        EXPECT_TRUE(image_equal(both, node.image));
    }
}

TEST_F(ChangeProfileRun, IntentFourCompensatesTheBlackPoint) {
    make(image_gray8, 256, 2, {});  // no profile of its own: the built-in gray
    for (std::uint32_t x = 0; x < 256; ++x) input.image.rows[0][x] = static_cast<std::uint8_t>(x);
    const ProfileBytes gray = builtin_gray_profile();
    ASSERT_EQ(run("change_profile 0 output_profile ″raised.icc″ render_intent 2"), 0);
    Image plain = std::move(node.image);
    ASSERT_EQ(run("change_profile 0 output_profile ″raised.icc″ render_intent 4"), 0);
    expect_direct(input.image, node.image, bytes_of(gray.data, gray.size), raised_bytes,
                  TYPE_GRAY_8, TYPE_GRAY_8, INTENT_RELATIVE_COLORIMETRIC,
                  cmsFLAGS_BLACKPOINTCOMPENSATION);
    EXPECT_NE(std::memcmp(plain.rows[0], node.image.rows[0], 256), 0);
}

}  // namespace
}  // namespace tessaly
