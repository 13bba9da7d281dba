// Colour management on open: profile checks, assumed profiles, the mismatch policies and the
// question, and File Open's use of it.
#include <gtest/gtest.h>
#include <lcms2.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "color/color_open.h"
#include "color/color_settings.h"
#include "color/profiles.h"
#include "core/arguments.h"
#include "core/builtin_profiles.h"
#include "core/image_convert.h"
#include "fileio/file_open.h"
#include "fileio/image_write.h"
#include "framework/transformation.h"
#include "support/module_helpers.h"
#include "support/image_helpers.h"
#include "support/recording_interaction.h"
#include "support/suite_helpers.h"
#include "support/temp_dir.h"
#include "tree/tree.h"

namespace tessaly {
namespace {

using testing::RecordingScope;
using testing::TempDir;

using testing::Bytes;
using testing::gray_profile;
using testing::rgb_profile;

Bytes profile_of(const Image& image) {
    return image.profile ? Bytes(image.profile, image.profile + image.profile_size) : Bytes();
}

std::uint32_t pixel_bytes(const Image& image);
Bytes pixels_of(const Image& image) {
    Bytes out;
    for (std::uint32_t r = 0; r < image.height; ++r) {
        out.insert(out.end(), image.rows[r], image.rows[r] + pixel_bytes(image));
    }
    return out;
}

std::uint32_t pixel_bytes(const Image& image) {
    return image.width * image_pixel_bytes(image.type);
}

// What a direct Little CMS transform makes of the image's pixels.
Bytes transformed(const Image& image, const Bytes& from, const Bytes& to) {
    cmsHPROFILE in = cmsOpenProfileFromMem(from.data(), static_cast<cmsUInt32Number>(from.size()));
    cmsHPROFILE out = cmsOpenProfileFromMem(to.data(), static_cast<cmsUInt32Number>(to.size()));
    const cmsUInt32Number format = image.type == image_color24   ? TYPE_BGR_8
                                   : image.type == image_color48 ? TYPE_BGR_16
                                   : image.type == image_gray8   ? TYPE_GRAY_8
                                                                 : TYPE_GRAY_16;
    cmsHTRANSFORM t =
        cmsCreateTransform(in, format, out, format, INTENT_PERCEPTUAL, cmsFLAGS_NOCACHE);
    EXPECT_NE(t, nullptr);
    const std::uint32_t n = pixel_bytes(image);
    Bytes result;
    for (std::uint32_t r = 0; r < image.height; ++r) {
        Bytes row(n);
        cmsDoTransform(t, image.rows[r], row.data(), image.width);
        result.insert(result.end(), row.begin(), row.end());
    }
    cmsDeleteTransform(t);
    cmsCloseProfile(in);
    cmsCloseProfile(out);
    return result;
}

class ColorOpenTest : public ::testing::Test {
  protected:
    void SetUp() override {
        add_profile_folder(profiles.path());
        for (auto [name, bytes] : {std::pair{"Work RGB.icc", &work},
                                   {"Work Gray.icc", &work_gray},
                                   {"Wide.icc", &wide},
                                   {"Camera.icc", &camera},
                                   {"Assumed.icc", &assumed},
                                   {"Camera Gray.icc", &camera_gray}})
            testing::put_file(profiles.file(name), *bytes);
        node.name = "/photos/a.tif";
    }
    void TearDown() override {
        set_batch_mode(0);
        clear_color_profiles();
        color_settings() = ColorManagementSettings{};
        reset_profile_folders();
    }

    // Colour management on with the working profiles of the files above and one policy.
    void enable(std::int32_t policy) {
        ColorManagementSettings c;
        c.enabled = 1;
        c.wcs_profile = "Work RGB.icc";
        c.gray_wcs_profile = "Work Gray.icc";
        c.on_mismatch = policy;
        c.on_batch_mismatch = policy;
        c.on_multiple_mismatch = policy;
        apply_color_settings(c);
    }

    void make_image(std::uint32_t type, const Bytes& profile) {
        ASSERT_FALSE(image_alloc_with(node.image, type, 7, 5, 72.0,
                                      profile.empty() ? nullptr : profile.data(),
                                      static_cast<std::uint32_t>(profile.size()), nullptr));
        testing::fill_pattern(node.image, pixel_bytes(node.image), 3);
    }

    TempDir profiles;
    const Bytes work = rgb_profile("Work RGB", false);
    const Bytes work_gray = gray_profile("Work Gray");
    const Bytes wide = rgb_profile("Wide", true);
    const Bytes camera = rgb_profile("Camera", true, 1.8);
    const Bytes assumed = rgb_profile("Assumed", true, 2.4);
    const Bytes camera_gray = gray_profile("Camera Gray", 1.0);
    Node node;
};

TEST_F(ColorOpenTest, DisabledNeverChangesAProfile) {
    RecordingScope scope;
    enable(mismatch_convert);
    ColorManagementSettings c = color_settings();
    c.enabled = 0;
    apply_color_settings(c);
    for (std::uint32_t type : {image_gray8, image_color24}) {
        make_image(type, wide);  // a gray image with an RGB profile too
        const Bytes before = pixels_of(node.image);
        EXPECT_EQ(color_manage_on_open(&node, false), color_open_done);
        EXPECT_EQ(profile_of(node.image), wide);
        EXPECT_EQ(pixels_of(node.image), before);
    }
    make_image(image_color24, {});
    EXPECT_EQ(color_manage_on_open(&node, false), color_open_done);
    EXPECT_EQ(node.image.profile, nullptr);
    EXPECT_TRUE(scope.recorder.messages.empty());
}

TEST_F(ColorOpenTest, ProfilesOfTheWrongKindAreRemoved) {
    RecordingScope scope;
    enable(mismatch_keep);
    make_image(image_gray8, wide);
    EXPECT_EQ(color_manage_on_open(&node, false), color_open_done);
    EXPECT_EQ(node.image.profile, nullptr);
    EXPECT_EQ(node.image.profile_size, 0u);
    make_image(image_color48, work_gray);
    EXPECT_EQ(color_manage_on_open(&node, false), color_open_done);
    EXPECT_EQ(node.image.profile, nullptr);
    make_image(image_color24, Bytes{1, 2, 3, 4});  // not a profile at all
    EXPECT_EQ(color_manage_on_open(&node, false), color_open_done);
    EXPECT_EQ(node.image.profile, nullptr);
    EXPECT_EQ(
        scope.recorder.warnings(),
        (std::vector<std::string>{"Profile for gray image is not gray -- profile removed",
                                  "Profile for color image is not color -- profile removed",
                                  "Profile for color image is not color -- profile removed"}));
    // Binary images are left alone, whatever their profile.
    ASSERT_FALSE(image_alloc_with(node.image, image_binary, 9, 3, 72.0, wide.data(),
                                  static_cast<std::uint32_t>(wide.size()), nullptr));
    EXPECT_EQ(color_manage_on_open(&node, false), color_open_done);
    EXPECT_EQ(profile_of(node.image), wide);
}

TEST_F(ColorOpenTest, SameDescriptionIsNoMismatchEvenWithOtherBytes) {
    RecordingScope scope;
    enable(mismatch_convert);
    const Bytes look_alike = rgb_profile("Work RGB", true);
    ASSERT_NE(look_alike, work);
    make_image(image_color24, look_alike);
    const Bytes before = pixels_of(node.image);
    EXPECT_EQ(color_manage_on_open(&node, false), color_open_done);
    EXPECT_EQ(profile_of(node.image), look_alike);
    EXPECT_EQ(pixels_of(node.image), before);
    EXPECT_TRUE(scope.recorder.messages.empty());
    EXPECT_TRUE(scope.recorder.choices.empty());
}

TEST_F(ColorOpenTest, PolicyConvertConvertsToTheWorkingProfile) {
    RecordingScope scope;
    enable(mismatch_convert);
    const Bytes dark_gray = gray_profile("Dark Gray", 1.5);
    for (auto [type, from, to] : {std::tuple{image_color24, &wide, &work},
                                  {image_color48, &wide, &work},
                                  {image_gray8, &dark_gray, &work_gray}}) {
        make_image(type, *from);
        const Bytes expected = transformed(node.image, *from, *to);
        ASSERT_NE(expected, pixels_of(node.image));
        EXPECT_EQ(color_manage_on_open(&node, false), color_open_done);
        EXPECT_EQ(profile_of(node.image), *to);
        EXPECT_EQ(pixels_of(node.image), expected) << type;
    }
    EXPECT_TRUE(scope.recorder.messages.empty());
    EXPECT_TRUE(scope.recorder.choices.empty());
}

TEST_F(ColorOpenTest, PolicyAskShowsTheQuestion) {
    RecordingScope scope;
    enable(mismatch_ask);
    make_image(image_color24, wide);
    const Bytes before = pixels_of(node.image);
    const Bytes expected = transformed(node.image, wide, work);
    const std::string question =
        "Convert to Working Color Space: Pathname: /photos/a.tif\nWorking color space: Work "
        "RGB\nConvert from embedded profile: Wide";

    // Cancel (the button, or closing the question) returns 1 and changes nothing.
    scope.recorder.choice_answers = {convert_choice_cancel};
    EXPECT_EQ(color_manage_on_open(&node, false), color_open_cancelled);
    EXPECT_EQ(color_manage_on_open(&node, false), color_open_cancelled);  // -1
    EXPECT_EQ(profile_of(node.image), wide);
    EXPECT_EQ(pixels_of(node.image), before);
    EXPECT_EQ(scope.recorder.choices, std::vector<std::string>(2, question));

    scope.recorder.choice_answers = {convert_choice_keep};
    EXPECT_EQ(color_manage_on_open(&node, false), color_open_done);
    EXPECT_EQ(profile_of(node.image), wide);
    EXPECT_EQ(pixels_of(node.image), before);

    scope.recorder.choice_answers = {convert_choice_convert};
    EXPECT_EQ(color_manage_on_open(&node, false), color_open_done);
    EXPECT_EQ(profile_of(node.image), work);
    EXPECT_EQ(pixels_of(node.image), expected);
    EXPECT_TRUE(scope.recorder.messages.empty());
}

TEST_F(ColorOpenTest, ConvertFromACustomProfile) {
    RecordingScope scope;
    enable(mismatch_ask);
    make_image(image_color24, {});
    const Bytes expected = transformed(node.image, camera, work);
    // A wrong kind of profile, a cancelled file choice (asked again), then the camera profile.
    scope.recorder.choice_answers = {convert_choice_custom, convert_choice_custom,
                                     convert_choice_custom};
    scope.recorder.files = {profiles.file("Work Gray.icc"), std::nullopt,
                            profiles.file("Camera.icc")};
    EXPECT_EQ(color_manage_on_open(&node, false), color_open_done);
    EXPECT_EQ(profile_of(node.image), work);
    EXPECT_EQ(pixels_of(node.image), expected);
    EXPECT_EQ(scope.recorder.errors(),
              std::vector<std::string>{"Custom profile is not an RGB profile"});
    ASSERT_EQ(scope.recorder.choices.size(), 3u);
    EXPECT_EQ(scope.recorder.choices[0],
              "Convert to Working Color Space: Pathname: /photos/a.tif\nWorking color space: "
              "Work RGB\nConvert from embedded profile: None");
}

TEST_F(ColorOpenTest, AssumedProfilesByFileKind) {
    ColorManagementSettings c;
    c.enabled = 1;
    c.acs_profile = "Assumed.icc";
    c.ar_profile = "Camera.icc";
    c.gray_ar_profile = "Camera Gray.icc";
    apply_color_settings(c);
    make_image(image_color24, {});
    EXPECT_EQ(color_manage_on_open(&node, false, false), color_open_done);
    EXPECT_EQ(profile_of(node.image), assumed);
    make_image(image_color48, {});
    EXPECT_EQ(color_manage_on_open(&node, false, true), color_open_done);
    EXPECT_EQ(profile_of(node.image), camera);
    make_image(image_gray16, {});
    EXPECT_EQ(color_manage_on_open(&node, false, true), color_open_done);
    EXPECT_EQ(profile_of(node.image), camera_gray);
    // No assumed gray file profile: the image stays without one.
    make_image(image_gray8, {});
    EXPECT_EQ(color_manage_on_open(&node, false, false), color_open_done);
    EXPECT_EQ(node.image.profile, nullptr);
}

TEST_F(ColorOpenTest, AssumedProfileTakesPartInTheComparison) {
    RecordingScope scope;
    enable(mismatch_convert);
    ColorManagementSettings c = color_settings();
    c.acs_profile = "Wide.icc";
    apply_color_settings(c);
    make_image(image_color24, {});
    const Bytes expected = transformed(node.image, wide, work);
    EXPECT_EQ(color_manage_on_open(&node, false), color_open_done);
    EXPECT_EQ(profile_of(node.image), work);
    EXPECT_EQ(pixels_of(node.image), expected);
}

TEST_F(ColorOpenTest, OpRgbBecomesTheBuiltInAdobeRgb) {
    ColorManagementSettings c;
    c.enabled = 1;  // no working profile: nothing is converted
    apply_color_settings(c);
    make_image(image_color24, rgb_profile("opRGB", true));
    EXPECT_EQ(color_manage_on_open(&node, false), color_open_done);
    const ProfileBytes adobe = builtin_adobe_rgb_profile();
    EXPECT_EQ(profile_of(node.image), Bytes(adobe.data, adobe.data + adobe.size));
}

TEST_F(ColorOpenTest, ThePolicyFollowsBatchAndSeveralFiles) {
    RecordingScope scope;
    enable(mismatch_keep);
    ColorManagementSettings c = color_settings();
    c.on_mismatch = mismatch_keep;
    c.on_multiple_mismatch = mismatch_convert;
    c.on_batch_mismatch = mismatch_ask;
    apply_color_settings(c);

    make_image(image_color24, wide);
    EXPECT_EQ(color_manage_on_open(&node, false), color_open_done);
    EXPECT_EQ(profile_of(node.image), wide);  // one file: keep

    EXPECT_EQ(color_manage_on_open(&node, true), color_open_done);
    EXPECT_EQ(profile_of(node.image), work);  // several files: convert

    make_image(image_color24, wide);
    {
        SeveralFilesOpening several;
        EXPECT_EQ(color_manage_on_open(&node, false), color_open_done);
    }
    EXPECT_EQ(profile_of(node.image), work);

    make_image(image_color24, wide);
    set_batch_mode(1);  // a batch asks, whatever the number of files
    EXPECT_EQ(color_manage_on_open(&node, true), color_open_cancelled);
    EXPECT_EQ(scope.recorder.choices.size(), 1u);
    EXPECT_EQ(profile_of(node.image), wide);
}

TEST_F(ColorOpenTest, FileOpenRunsColourManagement) {
    RecordingScope scope;
    TempDir dir;
    make_image(image_color24, wide);
    const Bytes expected = transformed(node.image, wide, work);
    const std::string path = dir.file("wide.tif");
    ASSERT_FALSE(write_tiff_file(path, node.image, 0, 0));

    FileOpenSettings s;
    s.files.push_back({path, "", true});
    Node opened;
    opened.parent = &tree_root();

    // Asked and cancelled: the run fails and says why.
    enable(mismatch_ask);
    EXPECT_EQ(find_module("file_open")->run(nullptr, &opened, split(file_open_module.format(s))), 1);
    EXPECT_TRUE(opened.error);
    EXPECT_EQ(opened.error_text, "Profile conversion canceled");
    EXPECT_EQ(scope.recorder.warnings(),
              std::vector<std::string>{
                  "Profile conversion canceled - original file profile is unchanged"});
    ASSERT_EQ(scope.recorder.choices.size(), 1u);
    EXPECT_EQ(scope.recorder.choices[0],
              "Convert to Working Color Space: Pathname: " + path +
                  "\nWorking color space: Work RGB\nConvert from embedded profile: Wide");

    // Converted by the policy.
    enable(mismatch_convert);
    ASSERT_EQ(find_module("file_open")->run(nullptr, &opened, split(file_open_module.format(s))), 0)
        << opened.error_text;
    EXPECT_FALSE(opened.error);
    EXPECT_EQ(profile_of(opened.image), work);
    EXPECT_EQ(pixels_of(opened.image), expected);
}

}  // namespace
}  // namespace tessaly
