// The display path: the visible rectangle converted to the monitor, proofing with the gamut
// alarm, the monitor curves and the messages, against direct Little CMS transforms.
#include "color/display.h"

#include <gtest/gtest.h>
#include <lcms2.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/tables.h"
#include "support/image_helpers.h"
#include "support/recording_interaction.h"
#include "support/suite_helpers.h"

namespace tessaly {
namespace {

const std::string srgb_path = "/usr/share/color/icc/sRGB.icc";
const std::string adobe_path = "/usr/share/color/icc/colord/AdobeRGB1998.icc";
const std::string prophoto_path = "/usr/share/color/icc/colord/ProPhotoRGB.icc";

// Profile bytes, and an open profile of them for the reference transforms.
struct Profile {
    explicit Profile(const std::string& path)
        : bytes(testing::file_bytes(path)),
          handle(open_profile(bytes.data(), static_cast<std::uint32_t>(bytes.size()))) {}
    std::vector<std::uint8_t> bytes;
    ProfileHandle handle;
    const std::uint8_t* data() const { return bytes.data(); }
    std::uint32_t size() const { return static_cast<std::uint32_t>(bytes.size()); }
};

#define REQUIRE_PROFILES()                                                       \
    for (const std::string& p : {srgb_path, adobe_path, prophoto_path}) {        \
        if (!std::filesystem::exists(p))                                         \
            GTEST_SKIP() << p << " is missing (icc-profiles-free, colord-data)"; \
    }

using Pixel = std::array<std::uint8_t, 3>;  // blue, green, red
Pixel through(cmsHTRANSFORM t, Pixel in) {
    Pixel out{};
    cmsDoTransform(t, in.data(), out.data(), 1);
    return out;
}
Pixel pixel(const Image& image, std::uint32_t x, std::uint32_t y) {
    return {image.rows[y][3 * x], image.rows[y][3 * x + 1], image.rows[y][3 * x + 2]};
}

TEST(Display, SixteenBitRectangleToTheMonitorAndItsCurves) {
    REQUIRE_PROFILES();
    const Profile prophoto(prophoto_path), adobe(adobe_path);
    Image picture;
    ASSERT_FALSE(image_alloc(picture, image_color48, 50, 40, 300.0));
    testing::fill_pattern(picture, 6 * 50);
    ASSERT_FALSE(image_set_profile(picture, prophoto.data(), prophoto.size()));
    DisplaySettings settings{.color_management = true,
                             .monitor_profile = adobe.data(),
                             .monitor_profile_size = adobe.size(),
                             .intent = 2};
    std::uint8_t red[256], green[256], blue[256];
    for (int v = 0; v < 256; ++v) {
        red[v] = static_cast<std::uint8_t>(255 - v);
        green[v] = static_cast<std::uint8_t>(v / 2);
        blue[v] = static_cast<std::uint8_t>(v);
    }
    const MonitorCurveTables curves{red, green, blue};
    const std::uint32_t x0 = 3, y0 = 2, x1 = 41, y1 = 30;
    Image plain, calibrated, unmanaged;
    ASSERT_FALSE(display_image(picture, x0, y0, x1, y1, settings, nullptr, plain));
    ASSERT_FALSE(display_image(picture, x0, y0, x1, y1, settings, &curves, calibrated));
    settings.color_management = false;
    ASSERT_FALSE(display_image(picture, x0, y0, x1, y1, settings, &curves, unmanaged));
    ASSERT_TRUE(plain.type == image_color24 && plain.width == 39 && plain.height == 29);

    TransformHandle t(cmsCreateTransform(prophoto.handle.get(), TYPE_BGR_8, adobe.handle.get(),
                                         TYPE_BGR_8, INTENT_RELATIVE_COLORIMETRIC,
                                         cmsFLAGS_NOCACHE));
    int changed = 0;
    for (std::uint32_t y = 0; y < plain.height; ++y) {
        for (std::uint32_t x = 0; x < plain.width; ++x) {
            Pixel eight;  // the 16-bit samples made 8-bit first
            for (int c = 0; c < 3; ++c)
                eight[c] = to8[sample16(picture.rows[y0 + y], 3 * (x0 + x) + c)];
            const Pixel expected = through(t.get(), eight);
            changed += expected != eight;
            ASSERT_EQ(pixel(plain, x, y), expected) << x << "," << y;
            ASSERT_EQ(pixel(calibrated, x, y),
                      (Pixel{blue[expected[0]], green[expected[1]], red[expected[2]]}));
            // Colour management off: the 8-bit copy as it is, the curves still applied.
            ASSERT_EQ(pixel(unmanaged, x, y),
                      (Pixel{blue[eight[0]], green[eight[1]], red[eight[2]]}));
        }
    }
    EXPECT_GT(changed, 100);
}

TEST(Display, ProofingMarksColoursOutsideTheProofGamut) {
    REQUIRE_PROFILES();
    const Profile prophoto(prophoto_path), srgb(srgb_path), adobe(adobe_path);
    const Pixel green = {0, 255, 0}, gray = {128, 128, 128},
                alarm = {128, 0, 255};  // blue, green, red
    Image picture;
    ASSERT_FALSE(image_alloc(picture, image_color24, 2, 1, 72.0));
    std::memcpy(picture.rows[0], green.data(), 3);
    std::memcpy(picture.rows[0] + 3, gray.data(), 3);
    ASSERT_FALSE(image_set_profile(picture, prophoto.data(), prophoto.size()));
    DisplaySettings settings{.color_management = true,
                             .monitor_profile = adobe.data(),
                             .monitor_profile_size = adobe.size(),
                             .intent = 3,
                             .proofing = true,
                             .proofing_profile = srgb.data(),
                             .proofing_profile_size = srgb.size(),
                             .proofing_intent = 2,
                             .gamut_alarm = true,
                             .alarm_color = {255, 0, 128}};  // red, green, blue

    // The reference: Little CMS's proofing transform without the gamut check.
    TransformHandle t(cmsCreateProofingTransform(
        prophoto.handle.get(), TYPE_BGR_8, adobe.handle.get(), TYPE_BGR_8, srgb.handle.get(),
        INTENT_ABSOLUTE_COLORIMETRIC, INTENT_RELATIVE_COLORIMETRIC,
        cmsFLAGS_SOFTPROOFING | cmsFLAGS_NOCACHE));
    ASSERT_TRUE(t);
    Image shown;
    ASSERT_FALSE(display_image(picture, 0, 0, 1, 0, settings, nullptr, shown));
    EXPECT_EQ(pixel(shown, 0, 0), alarm);
    // Far inside the gamut nothing changes (the checked transform is precalculated on a grid).
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(pixel(shown, 1, 0)[c], through(t.get(), gray)[c], 1);

    settings.gamut_alarm = false;
    ASSERT_FALSE(display_image(picture, 0, 0, 1, 0, settings, nullptr, shown));
    EXPECT_EQ(pixel(shown, 0, 0), through(t.get(), green));
    EXPECT_NE(pixel(shown, 0, 0), alarm);
    EXPECT_EQ(pixel(shown, 1, 0), through(t.get(), gray));
}

TEST(Display, MessagesOfFailedTransformsAndConversions) {
    REQUIRE_PROFILES();
    testing::RecordingScope scope;
    const auto& messages = scope.recorder.messages;
    Image picture, shown;
    ASSERT_FALSE(image_alloc(picture, image_color24, 4, 2, 72.0));
    testing::fill_pattern(picture, 12);
    // A monitor profile that cannot be read: the message, and the picture unconverted.
    const std::uint8_t junk[300] = {7};
    DisplaySettings settings{
        .color_management = true, .monitor_profile = junk, .monitor_profile_size = sizeof junk};
    ASSERT_FALSE(display_image(picture, 0, 0, 3, 1, settings, nullptr, shown));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Internal error: error creating lcms transform");
    EXPECT_TRUE(!std::memcmp(shown.rows[0], picture.rows[0], 12) &&
                !std::memcmp(shown.rows[1], picture.rows[1], 12));

    // A transform made for a gray picture cannot convert a colour one.
    const Profile srgb(srgb_path);
    settings.monitor_profile = srgb.data();
    settings.monitor_profile_size = srgb.size();
    Image gray;
    ASSERT_FALSE(image_alloc(gray, image_gray8, 4, 2, 72.0));
    DisplayTransform transform;
    ASSERT_FALSE(build_display_transform(gray, settings, transform));
    EXPECT_TRUE(display_convert(picture, 0, 0, 3, 1, &transform, nullptr, shown));
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[1].text,
              "Problem converting from working color space to monitor color space");

    // Floating-point pictures have neither a transform nor a display copy.
    Image floating;
    ASSERT_FALSE(image_alloc(floating, image_float_color, 4, 2, 72.0));
    EXPECT_TRUE(display_image(floating, 0, 0, 3, 1, settings, nullptr, shown));
    ASSERT_EQ(messages.size(), 4u);
    EXPECT_EQ(messages[3].text, "Internal error: missing input image");
}

}  // namespace
}  // namespace tessaly
