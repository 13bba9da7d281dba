// Colour management on open (profile checks, assumed profiles, the mismatch policies and the
// question, File Open's use of it) and the profile conversions beneath it, against direct Little
// CMS transforms.
#include <gtest/gtest.h>
#include <lcms2.h>

#include <array>
#include <cmath>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "color/color_open.h"
#include "color/color_settings.h"
#include "color/color_transform.h"
#include "color/display.h"
#include "color/lcms_support.h"
#include "color/profiles.h"
#include "core/builtin_profiles.h"
#include "core/image_convert.h"
#include "fileio/file_open.h"
#include "fileio/image_write.h"
#include "framework/transformation.h"
#include "support/image_helpers.h"
#include "support/module_helpers.h"
#include "support/peak_memory.h"
#include "support/recording_interaction.h"
#include "support/suite_helpers.h"
#include "support/temp_dir.h"
#include "tree/tree.h"

namespace tessaly {
namespace {

using testing::Bytes;
using testing::gray_profile;
using testing::rgb_profile;

std::uint32_t size(const Bytes& b) {
    return static_cast<std::uint32_t>(b.size());
}
const std::uint8_t* data(const Bytes& b) {
    return b.empty() ? nullptr : b.data();
}
Bytes profile_of(const Image& image) {
    return image.profile ? Bytes(image.profile, image.profile + image.profile_size) : Bytes();
}
Bytes pixels_of(const Image& image) {
    Bytes out;
    for (std::uint32_t r = 0; r < image.height; ++r)
        out.insert(out.end(), image.rows[r],
                   image.rows[r] + image.width * image_pixel_bytes(image.type));
    return out;
}

// The pixels through one direct Little CMS transform to the type.
Bytes reference(const Image& image, std::uint32_t type, cmsHPROFILE from, cmsHPROFILE to,
                cmsUInt32Number intent = INTENT_PERCEPTUAL, cmsUInt32Number flags = 0) {
    TransformHandle t(cmsCreateTransform(from, lcms_format(image.type), to, lcms_format(type),
                                         intent, flags | cmsFLAGS_NOCACHE));
    EXPECT_TRUE(t);
    Image out;
    EXPECT_FALSE(image_alloc(out, type, image.width, image.height, image.dpi));
    for (std::uint32_t y = 0; t && y < image.height; ++y)
        cmsDoTransform(t.get(), image.rows[y], out.rows[y], image.width);
    return pixels_of(out);
}
Bytes transformed(const Image& image, const Bytes& from, const Bytes& to) {
    return reference(image, image.type, open_profile(from.data(), size(from)).get(),
                     open_profile(to.data(), size(to)).get());
}

// An RGB profile of 260 bytes whose A2B0 and B2A0 tables each declare 255 grid points on three
// inputs: about 100 MB of 16-bit samples, none of which the file holds.
void put_be32(Bytes& b, std::size_t at, std::uint64_t v) {
    for (int k = 0; k < 4; ++k) b[at + k] = static_cast<std::uint8_t>(v >> (24 - 8 * k));
}

Bytes oversized_table_profile() {
    Bytes table(52, 0);  // a 16-bit table: its header, identity matrix, two entries per curve
    std::memcpy(&table[0], "mft2", 4);
    table[8] = table[9] = 3;
    table[10] = 255;
    for (int i = 0; i < 3; ++i) put_be32(table, 12 + 16 * i, 0x10000);
    table[49] = table[51] = 2;
    Bytes p(128 + 4 + 2 * 12, 0);
    put_be32(p, 8, 0x02100000);
    std::memcpy(&p[12], "mntrRGB XYZ ", 12);
    std::memcpy(&p[36], "acsp", 4);
    for (int k = 0; k < 3; ++k)  // the D50 illuminant
        put_be32(p, 68 + 4 * k, std::array<std::uint32_t, 3>{0xF6D6, 0x10000, 0xD32D}[k]);
    p[131] = 2;
    for (int t = 0; t < 2; ++t) {
        std::memcpy(&p[132 + 12 * t], t ? "B2A0" : "A2B0", 4);
        put_be32(p, 136 + 12 * t, p.size());
        put_be32(p, 140 + 12 * t, table.size());
        p.insert(p.end(), table.begin(), table.end());
    }
    put_be32(p, 0, p.size());
    return p;
}

// A real table profile: a 16-bit table of 81 grid points on three inputs (3 MB), gamma 2.2
// through it in both directions.
Bytes large_table_profile() {
    cmsHPROFILE profile = cmsCreateProfilePlaceholder(nullptr);
    cmsSetDeviceClass(profile, cmsSigDisplayClass);
    cmsSetColorSpace(profile, cmsSigRgbData);
    cmsSetPCS(profile, cmsSigXYZData);
    cmsSetProfileVersion(profile, 2.1);
    const auto sampler = [](const cmsUInt16Number in[], cmsUInt16Number out[], void* to_pcs) {
        const double g = to_pcs ? 2.2 : 1 / 2.2;
        for (int c = 0; c < 3; ++c)
            out[c] = static_cast<cmsUInt16Number>(
                std::lround(std::pow(in[c] / 65535.0, g) * 0.5 * 65535));
        return 1;
    };
    for (int to_pcs = 0; to_pcs < 2; ++to_pcs) {
        cmsPipeline* lut = cmsPipelineAlloc(nullptr, 3, 3);
        cmsStage* clut = cmsStageAllocCLut16bit(nullptr, 81, 3, 3, nullptr);
        cmsStageSampleCLut16bit(clut, sampler, to_pcs ? &to_pcs : nullptr, 0);
        cmsPipelineInsertStage(lut, cmsAT_END, clut);
        cmsWriteTag(profile, to_pcs ? cmsSigAToB0Tag : cmsSigBToA0Tag, lut);
        cmsPipelineFree(lut);
    }
    cmsUInt32Number length = 0;
    cmsSaveProfileToMem(profile, nullptr, &length);
    Bytes bytes(length);
    cmsSaveProfileToMem(profile, bytes.data(), &length);
    cmsCloseProfile(profile);
    return bytes;
}

// An RGB profile whose black is raised to 5 % luminance, where black point compensation matters.
Bytes raised_black_profile() {
    std::vector<cmsUInt16Number> table(256);
    for (int i = 0; i < 256; ++i)
        table[i] = static_cast<cmsUInt16Number>(
            std::lround((0.05 + 0.95 * std::pow(i / 255.0, 2.2)) * 65535));
    cmsToneCurve* curve = cmsBuildTabulatedToneCurve16(nullptr, 256, table.data());
    cmsToneCurve* curves[3] = {curve, curve, curve};
    cmsCIExyY white;
    cmsWhitePointFromTemp(&white, 6504);
    const cmsCIExyYTRIPLE primaries = {{0.64, 0.33, 1}, {0.30, 0.60, 1}, {0.15, 0.06, 1}};
    cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
    cmsFreeToneCurve(curve);
    return testing::profile_bytes(profile, "Raised black");
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
    void enable(std::int32_t policy, const char* assumed_rgb = "", std::int32_t batch = -1,
                std::int32_t several = -1) {
        apply_color_settings({.enabled = 1,
                              .wcs_profile = "Work RGB.icc",
                              .gray_wcs_profile = "Work Gray.icc",
                              .acs_profile = assumed_rgb,
                              .on_mismatch = policy,
                              .on_batch_mismatch = batch < 0 ? policy : batch,
                              .on_multiple_mismatch = several < 0 ? policy : several});
    }
    void make_image(std::uint32_t type, const Bytes& profile) {
        ASSERT_FALSE(
            image_alloc_with(node.image, type, 7, 5, 72.0, data(profile), size(profile), nullptr));
        testing::fill_pattern(node.image, node.image.width * image_pixel_bytes(type), 3);
    }
    // Opens the image: the outcome, then the profile and pixels it is left with.
    void expect_open(int outcome, const Bytes& profile, const Bytes& pixels,
                     bool several_files = false) {
        EXPECT_EQ(color_manage_on_open(&node, several_files), outcome);
        EXPECT_EQ(profile_of(node.image), profile);
        EXPECT_EQ(pixels_of(node.image), pixels);
    }

    testing::RecordingScope scope;
    testing::TempDir profiles;
    const Bytes work = rgb_profile("Work RGB", false);
    const Bytes work_gray = gray_profile("Work Gray");
    const Bytes wide = rgb_profile("Wide", true);
    const Bytes camera = rgb_profile("Camera", true, 1.8);
    const Bytes assumed = rgb_profile("Assumed", true, 2.4);
    const Bytes camera_gray = gray_profile("Camera Gray", 1.0);
    Node node;
};

TEST_F(ColorOpenTest, DisabledKeepsEveryProfileAndUnfitProfilesAreRemoved) {
    apply_color_settings({.wcs_profile = "Work RGB.icc", .on_mismatch = mismatch_convert});
    for (auto [type, profile] :
         {std::pair{image_gray8, wide}, {image_color24, wide}, {image_color24, Bytes()}}) {
        make_image(type, profile);  // a gray image with an RGB profile too
        expect_open(color_open_done, profile, pixels_of(node.image));
    }
    EXPECT_TRUE(scope.recorder.messages.empty());

    enable(mismatch_keep);
    for (auto [type, profile] : {std::pair{image_gray8, wide},
                                 {image_color48, work_gray},
                                 {image_color24, Bytes{1, 2, 3, 4}}}) {  // not a profile at all
        make_image(type, profile);
        expect_open(color_open_done, {}, pixels_of(node.image));
    }
    EXPECT_EQ(
        scope.recorder.warnings(),
        (std::vector<std::string>{"Profile for gray image is not gray -- profile removed",
                                  "Profile for color image is not color -- profile removed",
                                  "Profile for color image is not color -- profile removed"}));
    // Binary images are left alone, whatever their profile.
    ASSERT_FALSE(
        image_alloc_with(node.image, image_binary, 9, 3, 72.0, wide.data(), size(wide), nullptr));
    expect_open(color_open_done, wide, pixels_of(node.image));
}

TEST_F(ColorOpenTest, PolicyAskShowsTheQuestion) {
    enable(mismatch_ask);
    make_image(image_color24, wide);
    const Bytes before = pixels_of(node.image);
    const std::string question =
        "Convert to Working Color Space: Pathname: /photos/a.tif\nWorking color space: Work "
        "RGB\nConvert from embedded profile: ";
    // Cancel (the button, or closing the question) returns 1 and changes nothing.
    scope.recorder.choice_answers = {convert_choice_cancel};
    expect_open(color_open_cancelled, wide, before);
    expect_open(color_open_cancelled, wide, before);  // -1
    EXPECT_EQ(scope.recorder.choices, std::vector<std::string>(2, question + "Wide"));
    scope.recorder.choice_answers = {convert_choice_keep, convert_choice_convert};
    expect_open(color_open_done, wide, before);
    expect_open(color_open_done, work, transformed(node.image, wide, work));
    EXPECT_TRUE(scope.recorder.messages.empty());

    // From a custom profile: a wrong kind of profile, a cancelled file choice (asked again), then
    // the camera profile.
    make_image(image_color24, {});
    scope.recorder.choices.clear();
    scope.recorder.choice_answers = {convert_choice_custom, convert_choice_custom,
                                     convert_choice_custom};
    scope.recorder.files = {profiles.file("Work Gray.icc"), std::nullopt,
                            profiles.file("Camera.icc")};
    expect_open(color_open_done, work, transformed(node.image, camera, work));
    EXPECT_EQ(scope.recorder.errors(),
              std::vector<std::string>{"Custom profile is not an RGB profile"});
    EXPECT_EQ(scope.recorder.choices, std::vector<std::string>(3, question + "None"));
}

TEST_F(ColorOpenTest, AssumedProfiles) {
    // By file kind; no assumed gray file profile leaves a gray image without one.
    apply_color_settings({.enabled = 1,
                          .acs_profile = "Assumed.icc",
                          .ar_profile = "Camera.icc",
                          .gray_ar_profile = "Camera Gray.icc"});
    for (auto [type, raw, profile] : {std::tuple{image_color24, false, assumed},
                                      {image_color48, true, camera},
                                      {image_gray16, true, camera_gray},
                                      {image_gray8, false, Bytes()}}) {
        make_image(type, {});
        EXPECT_EQ(color_manage_on_open(&node, false, raw), color_open_done);
        EXPECT_EQ(profile_of(node.image), profile) << type;
    }
    // "opRGB" becomes the built-in Adobe RGB; with no working profile nothing is converted.
    make_image(image_color24, rgb_profile("opRGB", true));
    const ProfileBytes adobe = builtin_adobe_rgb_profile();
    expect_open(color_open_done, Bytes(adobe.data, adobe.data + adobe.size), pixels_of(node.image));
    // The assumed profile takes part in the comparison.
    enable(mismatch_convert, "Wide.icc");
    make_image(image_color24, {});
    expect_open(color_open_done, work, transformed(node.image, wide, work));
}

TEST_F(ColorOpenTest, ThePolicyFollowsBatchAndSeveralFiles) {
    enable(mismatch_keep, "", mismatch_ask, mismatch_convert);
    make_image(image_color24, wide);
    const Bytes before = pixels_of(node.image), converted = transformed(node.image, wide, work);
    expect_open(color_open_done, wide, before);           // one file: keep
    expect_open(color_open_done, work, converted, true);  // several files: convert
    const Bytes dark_gray = gray_profile("Dark Gray", 1.5);
    for (auto [type, from, to] :
         {std::tuple{image_color48, &wide, &work}, {image_gray8, &dark_gray, &work_gray}}) {
        make_image(type, *from);
        SeveralFilesOpening several;
        expect_open(color_open_done, *to, transformed(node.image, *from, *to));
    }
    // The same description is no mismatch, even with other bytes.
    const Bytes look_alike = rgb_profile("Work RGB", true);
    ASSERT_NE(look_alike, work);
    make_image(image_color24, look_alike);
    expect_open(color_open_done, look_alike, pixels_of(node.image), true);
    EXPECT_TRUE(scope.recorder.messages.empty() && scope.recorder.choices.empty());
    make_image(image_color24, wide);
    set_batch_mode(1);  // a batch asks, whatever the number of files
    expect_open(color_open_cancelled, wide, before, true);
    EXPECT_EQ(scope.recorder.choices.size(), 1u);
}

TEST_F(ColorOpenTest, FileOpenRunsColourManagement) {
    testing::TempDir dir;
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
    EXPECT_EQ(testing::run_line(nullptr, &opened, file_open_module.format(s)), 1);
    EXPECT_TRUE(opened.error && opened.error_text == "Profile conversion canceled");
    EXPECT_EQ(scope.recorder.warnings(),
              std::vector<std::string>{
                  "Profile conversion canceled - original file profile is unchanged"});
    ASSERT_EQ(scope.recorder.choices.size(), 1u);
    EXPECT_NE(scope.recorder.choices[0].find("Pathname: " + path + "\n"), std::string::npos);
    // Converted by the policy.
    enable(mismatch_convert);
    ASSERT_EQ(testing::run_line(nullptr, &opened, file_open_module.format(s)), 0)
        << opened.error_text;
    EXPECT_FALSE(opened.error);
    EXPECT_TRUE(profile_of(opened.image) == work && pixels_of(opened.image) == expected);
}

TEST_F(ColorOpenTest, ConversionsForEveryIntentAndTheFallbacks) {
    // No source profile: Little CMS's sRGB, or the built-in gray; no target profile: the built-in
    // gray, whose bytes the image then carries. Code 4 is relative with black point compensation.
    const Bytes raised = raised_black_profile(), none;
    const ProfileBytes builtin = builtin_gray_profile();
    const Bytes builtin_gray(builtin.data, builtin.data + builtin.size);
    const struct {
        std::uint32_t type;
        const Bytes *from, *to;
        std::int32_t code;
        cmsUInt32Number intent, flags;
    } cases[] = {{image_color24, &work, &wide, 0, INTENT_PERCEPTUAL, 0},
                 {image_color48, &wide, &camera, 1, INTENT_SATURATION, 0},
                 {image_color24, &camera, &work, 2, INTENT_RELATIVE_COLORIMETRIC, 0},
                 {image_color48, &wide, &work, 3, INTENT_ABSOLUTE_COLORIMETRIC, 0},
                 {image_color24, &work, &raised, 2, INTENT_RELATIVE_COLORIMETRIC, 0},
                 {image_color24, &work, &raised, 4, INTENT_RELATIVE_COLORIMETRIC,
                  cmsFLAGS_BLACKPOINTCOMPENSATION},
                 {image_color48, &none, &wide, 0, INTENT_PERCEPTUAL, 0},
                 {image_gray8, &none, &camera_gray, 0, INTENT_PERCEPTUAL, 0},
                 {image_gray16, &camera_gray, &none, 2, INTENT_RELATIVE_COLORIMETRIC, 0}};
    std::vector<Bytes> results;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.type) + " intent " + std::to_string(c.code));
        make_image(c.type, {});
        Image original;
        ASSERT_FALSE(image_copy(node.image, original));
        ASSERT_FALSE(convert_image_profile(node.image, data(*c.from), size(*c.from), data(*c.to),
                                           size(*c.to), c.code));
        const Bytes& to = c.to->empty() ? builtin_gray : *c.to;
        EXPECT_EQ(profile_of(node.image), to);
        ProfileHandle from = !c.from->empty()        ? open_profile(c.from->data(), size(*c.from))
                             : c.type == image_gray8 ? open_profile(builtin.data, builtin.size)
                                                     : ProfileHandle(cmsCreate_sRGBProfile());
        const Bytes expected =
            reference(original, c.type, from.get(), open_profile(to.data(), size(to)).get(),
                      c.intent, c.flags);
        EXPECT_EQ(pixels_of(node.image), expected);
        EXPECT_NE(expected, pixels_of(original));  // the spaces do differ
        results.push_back(expected);
    }
    // Without compensation the shadows below the raised black clip to 0; with it they spread.
    EXPECT_NE(results[4], results[5]);
}

TEST_F(ColorOpenTest, EqualProfilesAndFailuresLeaveThePictureAlone) {
    const Bytes copy = wide;  // equal bytes at another address
    for (std::uint32_t type : {image_gray8, image_color24, image_color48}) {
        // For gray pixels this RGB profile could not even make a transform: none is tried.
        make_image(type, {});
        const Bytes before = pixels_of(node.image);
        EXPECT_FALSE(
            convert_image_profile(node.image, wide.data(), size(wide), copy.data(), size(copy), 4));
        EXPECT_EQ(pixels_of(node.image), before);
    }
    // A gray profile for colour pixels; bytes that are no profile.
    const Bytes junk(200, 7), before = pixels_of(node.image);
    EXPECT_TRUE(
        convert_image_profile(node.image, work_gray.data(), size(work_gray), nullptr, 0, 0));
    EXPECT_TRUE(
        convert_image_profile(node.image, junk.data(), size(junk), work.data(), size(work), 0));
    EXPECT_EQ(pixels_of(node.image), before);
    // Floating-point pictures have no pixel format for a transform.
    ASSERT_FALSE(image_alloc(node.image, image_float_color, 8, 2, 72.0));
    EXPECT_TRUE(convert_image_profile(node.image, nullptr, 0, work.data(), size(work), 0));
}

TEST_F(ColorOpenTest, TypeConversionsGoThroughTransforms) {
    struct Restore {  // the image core's state, however the test ends
        ~Restore() { set_color_management_enabled(false); }
    } restore;
    // Sources with their own profiles, targets getting the working profile of their family;
    // without any, the built-in gray profile to the built-in sRGB bytes.
    enable(mismatch_keep);
    const ProfileBytes srgb = builtin_srgb_profile();
    const Bytes builtin_srgb(srgb.data, srgb.data + srgb.size);
    for (auto [from, to, own] : {std::tuple{2u, 3u, &work_gray},
                                 {3u, 2u, &wide},
                                 {4u, 3u, &camera_gray},
                                 {4u, 5u, &work_gray},
                                 {5u, 2u, &camera},
                                 {2u, 3u, nullptr}}) {
        SCOPED_TRACE(std::to_string(from) + " -> " + std::to_string(to));
        if (!own) apply_color_settings({.enabled = 1});
        make_image(from, own ? *own : Bytes());
        Image target;
        ASSERT_FALSE(image_convert(node.image, target, to));
        const Bytes& expected_profile = !own ? builtin_srgb : to == image_gray8 ? work_gray : work;
        EXPECT_EQ(profile_of(target), expected_profile);
        EXPECT_EQ(pixels_of(target),
                  reference(node.image, to, image_profile_or_fallback(node.image).get(),
                            open_profile(expected_profile.data(), size(expected_profile)).get()));
    }
    // Switched off, the plain arithmetic: gray copied into all three channels.
    apply_color_settings({});
    Image target;
    ASSERT_FALSE(image_convert(node.image, target, image_color24));
    for (std::uint32_t x = 0; x < 7; ++x)
        EXPECT_TRUE(target.rows[2][3 * x] == node.image.rows[2][x] &&
                    target.rows[2][3 * x + 2] == node.image.rows[2][x]);
}

// A profile whose tables claim far more than it holds is unusable as it would be if damaged:
// the conversion on open, a conversion to it and the display fail with their messages, and
// nothing near the claimed size is ever allocated. A real table profile still converts, and
// the contexts the profiles are read in are reused rather than made anew each time.
TEST_F(ColorOpenTest, ProfilesClaimingHugeTablesAreUnusable) {
    const Bytes hostile = oversized_table_profile();
    enable(mismatch_convert);
    make_image(image_color24, hostile);
    const Bytes before = pixels_of(node.image);
    expect_open(color_open_done, {}, before);
    EXPECT_EQ(
        scope.recorder.errors(),
        std::vector<std::string>{"Error converting to working color space, image profile removed"});

    make_image(image_color48, {});
    Image& image = node.image;
    EXPECT_TRUE(
        convert_image_profile(image, data(hostile), size(hostile), data(work), size(work), 2));
    EXPECT_TRUE(
        convert_image_profile(image, data(work), size(work), data(hostile), size(hostile), 0));
    EXPECT_LT(testing::peak_growth_mib([&] {
                  (void)convert_image_profile(image, data(hostile), size(hostile), data(work),
                                              size(work), 0);
              }),
              40 + testing::sanitizer_shadow_mib);

    ASSERT_FALSE(image_set_profile(image, data(hostile), size(hostile)));
    DisplaySettings display{.color_management = true,
                            .monitor_profile = data(work),
                            .monitor_profile_size = size(work)};
    DisplayTransform transform;
    EXPECT_TRUE(build_display_transform(image, display, transform));
    EXPECT_EQ(scope.recorder.errors().back(), display_transform_failure);

    const Bytes large = large_table_profile();
    ASSERT_GT(large.size(), 3u << 20);
    make_image(image_color24, work);
    const Bytes expected = transformed(node.image, work, large);
    ASSERT_FALSE(
        convert_image_profile(node.image, data(work), size(work), data(large), size(large), 0));
    EXPECT_EQ(pixels_of(node.image), expected);

    const std::size_t contexts = bounded_context_count();
    for (int i = 0; i < 200; ++i) {
        make_image(image_color24, wide);
        ASSERT_FALSE(
            convert_image_profile(node.image, data(wide), size(wide), data(work), size(work), 0));
        ASSERT_FALSE(build_display_transform(node.image, display, transform));
    }
    EXPECT_LE(bounded_context_count(), contexts + 4);
}

}  // namespace
}  // namespace tessaly
