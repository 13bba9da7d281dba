#include "transformations/change_profile.h"

#include <gtest/gtest.h>
#include <lcms2.h>

#include <cstring>
#include <string>
#include <vector>

#include "color/color_settings.h"
#include "core/builtin_profiles.h"
#include "core/text_file.h"
#include "framework/registry.h"
#include "support/module_helpers.h"
#include "support/image_helpers.h"
#include "support/temp_dir.h"

namespace tessaly {
namespace {

std::string bytes_of(const std::uint8_t* data, std::uint32_t size) {
    return std::string(reinterpret_cast<const char*>(data), size);
}

// Every row of in through a transform the test builds itself must give the row of out.
void expect_direct(const Image& in, const Image& out, const std::string& from,
                   const std::string& to, cmsUInt32Number format, cmsUInt32Number intent,
                   cmsUInt32Number flags) {
    cmsHPROFILE a = cmsOpenProfileFromMem(from.data(), from.size());
    cmsHPROFILE b = cmsOpenProfileFromMem(to.data(), to.size());
    cmsHTRANSFORM t = cmsCreateTransform(a, format, b, format, intent, flags);
    std::vector<std::uint8_t> row(in.row_bytes);
    for (std::uint32_t y = 0; y < in.height; ++y) {
        cmsDoTransform(t, in.rows[y], row.data(), in.width);
        EXPECT_EQ(std::memcmp(row.data(), out.rows[y], row.size()), 0) << "row " << y;
    }
    cmsDeleteTransform(t);
    cmsCloseProfile(a);
    cmsCloseProfile(b);
}

class ChangeProfileRun : public ::testing::Test {
  protected:
    void SetUp() override {
        input.parent = &tree_root();
        node.parent = &input;
        add_profile_folder(dir.path());
        // An input-class RGB profile, and a gray one whose black is raised to 10 %: matrix
        // profiles all start at true black, where black point compensation changes nothing.
        cmsHPROFILE scanner = cmsCreate_sRGBProfile();
        cmsSetDeviceClass(scanner, cmsSigInputClass);
        std::vector<cmsUInt16Number> curve(256);
        for (int i = 0; i < 256; ++i) curve[i] = static_cast<cmsUInt16Number>(6554 + i * 231);
        cmsToneCurve* raised_curve = cmsBuildTabulatedToneCurve16(nullptr, 256, curve.data());
        cmsHPROFILE raised = cmsCreateGrayProfile(cmsD50_xyY(), raised_curve);
        ASSERT_TRUE(cmsSaveProfileToFile(scanner, dir.file("scanner.icc").c_str()) &&
                    cmsSaveProfileToFile(raised, dir.file("raised.icc").c_str()));
        cmsCloseProfile(scanner);
        cmsCloseProfile(raised);
        cmsFreeToneCurve(raised_curve);
        ASSERT_FALSE(read_file_bytes(dir.file("scanner.icc"), scanner_bytes) ||
                     read_file_bytes(dir.file("raised.icc"), raised_bytes));
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
                      intents[code], code == 4 ? cmsFLAGS_BLACKPOINTCOMPENSATION : 0);
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
                  TYPE_GRAY_8, INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_BLACKPOINTCOMPENSATION);
    EXPECT_NE(std::memcmp(plain.rows[0], node.image.rows[0], 256), 0);
}

TEST_F(ChangeProfileRun, NamesWithBlanksAndCodesOutOfRange) {
    const std::string line =
        "change_profile 0 use_original 1 input_profile ″a b.icc″ output_profile ″c.icm″ "
        "action 2 render_intent 4 gamut_alarm 1 display 0 sync_scroll 0 auto_preview 0";
    EXPECT_EQ(testing::normalised(line), line);
    EXPECT_EQ(testing::normalised("change_profile 0 render_intent 5"), "");
    EXPECT_EQ(testing::normalised("change_profile 0 action 3"), "");
}

}  // namespace
}  // namespace tessaly
