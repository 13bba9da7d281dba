// The display path (the visible rectangle converted to the monitor, proofing with the gamut
// alarm, the messages) against direct Little CMS transforms, and the monitor curves: tables from
// points, the "MonitorCurves 1.0" file and the calibration in force.
#include "color/display.h"

#include <gtest/gtest.h>
#include <lcms2.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "color/color_settings.h"
#include "color/monitor_curves.h"
#include "core/curve.h"
#include "core/tables.h"
#include "core/text_file.h"
#include "support/image_helpers.h"
#include "support/recording_interaction.h"
#include "support/suite_helpers.h"
#include "support/temp_dir.h"

namespace tessaly {
namespace {

using testing::file_text;
using testing::RecordingScope;
using testing::TempDir;

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
    EXPECT_TRUE(messages.size() == 4u && messages[3].text == "Internal error: missing input image");
}

MonitorCurves two_points(MonitorCurvePoint top) {
    MonitorCurves c;
    monitor_curves_reset(c, 2);
    c.points[1] = top;
    return c;
}

TEST(MonitorCurves, TablesFromPoints) {
    // Evenly spaced points make no calibration.
    MonitorCurves c;
    MonitorTables t;
    monitor_curves_reset(c, 7);
    ASSERT_FALSE(monitor_curve_tables(c, t));
    EXPECT_TRUE(monitor_tables_are_identity(t));

    // Level 200 of the colour (255, 128, 0): red 200, green 128 * 200 / 255 = 100.4, blue 0; each
    // table is the spline Curve through (input, scaled channel).
    c = two_points({255, 200, 255, 128, 0});
    ASSERT_FALSE(monitor_curve_tables(c, t));
    EXPECT_EQ((std::vector{t.red[0], t.red[255], t.green[255], t.blue[255]}),
              (std::vector<std::uint8_t>{0, 200, 100, 0}));
    std::uint8_t expected[256];
    curve_table8(testing::make_curve(curve_spline, {{0, 0}, {255, 100}}), expected);
    EXPECT_TRUE(std::equal(expected, expected + 256, t.green));
    // A black colour counts as neutral: all three channels take the level.
    c = two_points({255, 180, 0, 0, 0});
    ASSERT_FALSE(monitor_curve_tables(c, t));
    EXPECT_EQ((std::vector{t.red[255], t.green[255], t.blue[255]}),
              (std::vector<std::uint8_t>(3, 180)));

    // Points that make no curve are refused and leave the tables as they were.
    monitor_tables_identity(t);
    c = MonitorCurves{};
    c.points[2].input = c.points[1].input;  // not increasing
    EXPECT_TRUE(monitor_curve_tables(c, t));
    c = MonitorCurves{};
    c.points[3].blue = 256;
    EXPECT_TRUE(monitor_curve_tables(c, t));
    c = MonitorCurves{};
    c.npts = 4;
    EXPECT_TRUE(monitor_curve_tables(c, t));
    EXPECT_TRUE(monitor_tables_are_identity(t));
}

TEST(MonitorCurves, FilesAndTheirLimits) {
    TempDir dir;
    RecordingScope scope;
    MonitorCurves c;
    monitor_curves_reset(c, 3);
    c.points[1] = {128, 120, 250, 240, 255};
    const std::string path = dir.file("Screen.monitor curves");
    ASSERT_FALSE(save_monitor_curves_file(path, c));
    EXPECT_EQ(file_text(path),
              "\xEF\xBB\xBF"
              "MonitorCurves 1.0\r\nnpts 3\r\npoint 0 0 0 255 255 255\r\n"
              "point 1 128 120 250 240 255\r\npoint 2 255 255 255 255 255\r\nend\r\n");
    MonitorCurves read;
    ASSERT_FALSE(load_monitor_curves_file(path, read));
    EXPECT_TRUE(read.npts == 3 && read.points[1].blue == 255 && read.points[1].green == 240);
    EXPECT_TRUE(scope.recorder.messages.empty());

    // The points may come in any order; failures leave the curves unchanged.
    const std::string bad = dir.file("t.monitor curves");
    auto try_lines = [&](const std::vector<std::string>& lines) {
        LineWriter w;
        w.line("MonitorCurves 1.0");
        for (const auto& l : lines) w.line(l);
        w.line("end");
        EXPECT_FALSE(w.save(bad));
        MonitorCurves curves;
        curves.points[0].level = 7;
        const bool failed = load_monitor_curves_file(bad, curves);
        EXPECT_EQ(curves.points[0].level == 7, failed);
        return failed;
    };
    const std::string p0 = "point 0 0 0 255 255 255", p1 = "point 1 255 255 1 2 3";
    EXPECT_FALSE(try_lines({"npts 2", p0, p1}));
    EXPECT_FALSE(try_lines({"npts 2", p1, p0}));
    for (const std::vector<std::string>& lines : {std::vector{std::string("npts 4"), p0, p1},
                                                  {"npts 2", p0, "point 11 255 255 1 2 3"},
                                                  {"npts 2", p0, "point 1 255 256 1 2 3"},
                                                  {"npts 2", p0, "point 1 255 255 1 2 -1"},
                                                  {"npts 3", p0, p1},
                                                  {"npts 3", p0, "point 2 255 255 1 2 3"},
                                                  {p0, p1},
                                                  {"npts 2", p0, "point 1 255 255 1 2"}})
        EXPECT_TRUE(try_lines(lines));
    EXPECT_EQ(scope.recorder.errors(),
              std::vector<std::string>(8, "Cannot read monitor curves file: " + bad));
    scope.recorder.messages.clear();
    EXPECT_TRUE(load_monitor_curves_file(dir.file("none.monitor curves"), c));
    EXPECT_EQ(scope.recorder.errors(),
              std::vector<std::string>{"Cannot open monitor curves file: " +
                                       dir.file("none.monitor curves")});
    EXPECT_TRUE(check_monitor_curves_extension("a.curve"));
    EXPECT_FALSE(check_monitor_curves_extension("a.Monitor Curves"));
}

TEST(MonitorCurves, TablesApplyToBlueGreenRedPixels) {
    MonitorTables t;
    monitor_tables_identity(t);
    for (int v = 0; v < 256; ++v) {
        t.red[v] = static_cast<std::uint8_t>(255 - v);
        t.green[v] = static_cast<std::uint8_t>(v / 2);
        t.blue[v] = 9;
    }
    // Two rows of two pixels, eight bytes apart: the two padding bytes stay.
    std::vector<std::uint8_t> buffer = {1, 2, 3, 4, 5, 6, 77, 77, 10, 20, 30, 40, 50, 60, 77, 77};
    apply_monitor_curves(t, buffer.data(), 2, 2, 8);
    EXPECT_EQ(buffer, (std::vector<std::uint8_t>{9, 1, 252, 9, 2, 249, 77, 77, 9, 10, 225, 9, 25,
                                                 195, 77, 77}));
}

TEST(MonitorCurves, TheSettingsChooseTheCalibrationInForce) {
    TempDir dir;
    add_profile_folder(dir.path());
    RecordingScope scope;
    MonitorCurves c;
    c.points[2].level = 140;
    ASSERT_FALSE(save_monitor_curves_file(dir.file("Warm.monitor curves"), c));
    ASSERT_FALSE(save_monitor_curves_file(dir.file("Flat.monitor curves"), MonitorCurves{}));

    ColorManagementSettings s;
    s.monitor_curves_file = "Warm.monitor curves";
    apply_monitor_curves_setting(s);
    EXPECT_EQ(active_monitor_curves(), nullptr);  // calibration off
    EXPECT_EQ(active_monitor_curve_tables(), nullptr);

    s.monitor_curves_enabled = 1;
    apply_monitor_curves_setting(s);
    ASSERT_NE(active_monitor_curves(), nullptr);
    EXPECT_EQ(active_monitor_curves()->red[128], 140);
    ASSERT_NE(active_monitor_curve_tables(), nullptr);
    EXPECT_EQ(active_monitor_curve_tables()->green[128], 140);

    s.monitor_curves_file = "Flat.monitor curves";  // identity: no calibration
    apply_monitor_curves_setting(s);
    EXPECT_EQ(active_monitor_curves(), nullptr);

    s.monitor_curves_file = "Lost.monitor curves";
    apply_monitor_curves_setting(s);
    EXPECT_EQ(active_monitor_curves(), nullptr);
    EXPECT_EQ(scope.recorder.errors(),
              std::vector<std::string>{"Cannot locate monitor curves file: Lost.monitor curves"});
    clear_monitor_curves();
    reset_profile_folders();
}

}  // namespace
}  // namespace tessaly
