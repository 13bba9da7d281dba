// The colour management settings file, the profiles in memory and their validation; the display
// path (the visible rectangle converted to the monitor, proofing with the gamut alarm) against
// direct Little CMS transforms; the monitor curves and the "MonitorCurves 1.0" file.
#include <gtest/gtest.h>
#include <lcms2.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "color/color_settings.h"
#include "color/display.h"
#include "color/monitor_curves.h"
#include "color/profiles.h"
#include "core/curve.h"
#include "core/image_convert.h"
#include "core/tables.h"
#include "core/text_file.h"
#include "framework/settings_files.h"
#include "support/image_helpers.h"
#include "support/recording_interaction.h"
#include "support/scoped_env.h"
#include "support/suite_helpers.h"
#include "support/temp_dir.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;
using testing::file_text;
using testing::gray_profile;
using testing::put_file;
using testing::RecordingScope;
using testing::rgb_profile;
using testing::TempDir;

std::vector<std::uint8_t> core_bytes(ProfileBytes p) {
    return p.data ? std::vector<std::uint8_t>(p.data, p.data + p.size)
                  : std::vector<std::uint8_t>();
}

class ColorSettingsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        set_settings_root(settings.path());
        add_profile_folder(profiles.path());
        for (auto [name, bytes] : {std::pair{"Work RGB.icc", work_rgb},
                                   {"Work Gray.icc", work_gray},
                                   {"Scanner.icm", scanner},
                                   {"Printer.icc", printer},
                                   {"Broken.icc", testing::Bytes{'n', 'o', 't'}}})
            put_file(profiles.file(name), bytes);
        set_monitor_profile_query(nullptr);
    }
    void TearDown() override {
        clear_color_profiles();
        color_settings() = ColorManagementSettings{};
        set_monitor_profile_query(nullptr);
        reset_profile_folders();
        reset_settings_folders();
    }

    RecordingScope scope;
    TempDir settings;
    TempDir profiles;
    // The bytes written above, compared with what the core is handed.
    const testing::Bytes work_rgb = rgb_profile("Work RGB");
    const testing::Bytes work_gray = gray_profile("Work Gray");
    const testing::Bytes scanner = rgb_profile("Scanner", false, 2.2, cmsSigInputClass);
    const testing::Bytes printer = rgb_profile("Printer", false, 2.2, cmsSigOutputClass);
};

TEST_F(ColorSettingsTest, FileIsReadAndWrittenBackByteForByte) {
    // Every setting away from its default; a profile that is not set is written as None.
    const std::string expected =
        "\xEF\xBB\xBF"
        "ColorManagement 1.0\r\nenabled 1\r\n"
        "wcsprofile ″Work RGB.icc″\r\ngray_wcsprofile ″Work Gray.icc″\r\n"
        "acsprofile ″Work RGB.icc″\r\ngray_acsprofile ″None″\r\narprofile ″Scanner.icm″\r\n"
        "gray_arprofile ″Work Gray.icc″\r\nonmismatch 1\r\nonbatchmismatch 2\r\n"
        "onmultiplemismatch 0\r\nmonitorprofile ″Work RGB.icc″ 2 4 1\r\ncm_thumbnails 0\r\n"
        "proofprofile ″Printer.icc″ 3\r\ngamutalarm 1\r\ngamutalarmcolor 10 20 30\r\n"
        "monitorcurves ″″ 1\r\nend\r\n";
    const std::string path = settings.file("Mine.color management");
    ASSERT_FALSE(write_file_atomic(path, expected));
    ColorManagementSettings read;
    ASSERT_FALSE(read_color_settings_file(path, read));
    EXPECT_TRUE(read.ar_profile == "Scanner.icm" && read.gray_acs_profile.empty() &&
                read.monitor_proof_intent == 4 && read.gamut_alarm_color[2] == 30);
    const std::string again = settings.file("Again.color management");
    ASSERT_FALSE(write_color_settings_file(again, read));
    EXPECT_EQ(file_text(again), expected);
    EXPECT_TRUE(scope.recorder.messages.empty());

    // Files that do not read leave the settings alone.
    ColorManagementSettings c{.enabled = 1};
    const std::string missing = settings.file("missing.color management");
    const std::string other = settings.file("other.color management");
    EXPECT_TRUE(read_color_settings_file(missing, c));
    ASSERT_FALSE(write_file_atomic(other, "Preferences 1.0\r\nenabled 0\r\nend\r\n"));
    EXPECT_TRUE(read_color_settings_file(other, c));
    EXPECT_EQ(c.enabled, 1);
    EXPECT_EQ(scope.recorder.errors(),
              (std::vector<std::string>{"Cannot open color management settings file: " + missing,
                                        "Cannot read color management settings file: " + other}));
}

TEST_F(ColorSettingsTest, ReadingReportsAbsentProfilesAndLeavesThemUnset) {
    const std::string path = settings.file("Absent.color management");
    // onmismatch above 2 counts as 0.
    ASSERT_FALSE(write_file_atomic(
        path,
        "ColorManagement 1.0\nenabled 1\nwcsprofile ″Gone1.icc″\ngray_wcsprofile ″Gone2.icc″\n"
        "acsprofile ″Gone3.icc″\ngray_acsprofile ″Gone4.icc″\narprofile ″Gone5.icc″\n"
        "gray_arprofile ″Gone6.icc″\nonmismatch 7\nmonitorprofile ″Gone7.icc″ 1 2 1\n"
        "proofprofile ″Gone8.icc″ 2\nmonitorcurves ″Gone.monitor curves″ 1\nunknown 1 2\nend\n"));
    ColorManagementSettings c;
    c.on_mismatch = 2;
    ASSERT_FALSE(read_color_settings_file(path, c));
    EXPECT_EQ(scope.recorder.errors(),
              (std::vector<std::string>{"Cannot find color working space profile: Gone1.icc",
                                        "Cannot find gray working space profile: Gone2.icc",
                                        "Cannot find assumed color profile: Gone3.icc",
                                        "Cannot find assumed gray profile: Gone4.icc",
                                        "Cannot find assumed camera profile: Gone5.icc",
                                        "Cannot find assumed gray camera profile: Gone6.icc",
                                        "Monitor profile not found: Gone7.icc",
                                        "Cannot find proofing profile: Gone8.icc",
                                        "Cannot locate monitor curves file: Gone.monitor curves"}));
    EXPECT_TRUE(c.enabled == 1 && c.on_mismatch == 0 && c.wcs_profile.empty() &&
                c.monitor_profile.empty() && c.monitor_curves_file.empty() &&
                c.monitor_intent == 1 && c.monitor_proof_intent == 2 && c.proof_intent == 2 &&
                c.monitor_curves_enabled == 1);
}

TEST_F(ColorSettingsTest, ApplyingSavingAndLoading) {
    ColorManagementSettings c{.enabled = 1,
                              .wcs_profile = "Work RGB.icc",
                              .gray_wcs_profile = "Work Gray.icc",
                              .ar_profile = "Scanner.icm",
                              .on_mismatch = mismatch_convert,
                              .monitor_on_startup = monitor_named,
                              .proof_profile = "Printer.icc"};
    apply_color_settings(c);
    EXPECT_TRUE(color_settings() == c && color_management_enabled());
    EXPECT_TRUE(core_bytes(rgb_working_profile()) == work_rgb &&
                core_bytes(gray_working_profile()) == work_gray &&
                core_bytes(role_profile(ProfileRole::camera_rgb)) == scanner &&
                !role_profile_set(ProfileRole::assumed_rgb) &&
                role_profile_set(ProfileRole::proofing));
    EXPECT_EQ(role_profile_description(ProfileRole::rgb_working), "Work RGB");

    ASSERT_FALSE(save_color_settings());
    EXPECT_EQ(color_settings_path(),
              settings.path() + "/Color Management/Settings.Color Management");
    // Turning it off takes the profiles away from the core as well; loading brings them back.
    apply_color_settings(ColorManagementSettings{});
    EXPECT_FALSE(color_management_enabled());
    EXPECT_TRUE(rgb_working_profile().size == 0u && gray_working_profile().size == 0u);
    EXPECT_FALSE(load_color_settings());
    EXPECT_TRUE(color_settings() == c && core_bytes(rgb_working_profile()) == work_rgb);
    EXPECT_TRUE(scope.recorder.messages.empty());

    // A file that does not read, or none: the defaults (only the first tells the caller).
    ASSERT_FALSE(write_file_atomic(color_settings_path(), "garbage\r\n"));
    EXPECT_TRUE(load_color_settings(false));
    EXPECT_TRUE(color_settings() == ColorManagementSettings{} && !color_management_enabled());
    fs::remove(color_settings_path());
    color_settings().enabled = 1;
    EXPECT_FALSE(load_color_settings(false));
    EXPECT_TRUE(color_settings() == ColorManagementSettings{} && !color_management_enabled());
    // The settings folder holds profiles too.
    EXPECT_EQ(profile_folders().front(), color_settings_folder());
}

TEST_F(ColorSettingsTest, ValidationMessagesLeaveFailingProfilesUnset) {
    // Gray as RGB, input as working space, printer as assumed, RGB as gray, no such file, junk.
    apply_color_settings({.enabled = 1,
                          .wcs_profile = "Work Gray.icc",
                          .gray_wcs_profile = "Scanner.icm",
                          .acs_profile = "Printer.icc",
                          .gray_acs_profile = "Work RGB.icc",
                          .ar_profile = "Missing.icc",
                          .gray_ar_profile = "Broken.icc",
                          .monitor_profile = "Broken.icc",
                          .proof_profile = "Scanner.icm"});
    EXPECT_EQ(scope.recorder.errors(),
              (std::vector<std::string>{
                  "Working color space profile is not an RGB profile",
                  "Gray working color space profile is not a monitor profile",
                  "Assumed RGB color space profile is not a monitor or input profile",
                  "Assumed gray color space profile is not a GRAY profile",
                  "Cannot locate assumed RGB camera profile",
                  "Error reading assumed gray camera profile", "Invalid monitor profile",
                  "Proofing device profile is not a printer or monitor profile"}));
    for (int i = 0; i < profile_role_count; ++i)
        EXPECT_FALSE(role_profile_set(static_cast<ProfileRole>(i))) << i;
    EXPECT_EQ(rgb_working_profile().size + gray_working_profile().size, 0u);
    // The names stay, so that the person sees and fixes them.
    EXPECT_EQ(color_settings().wcs_profile, "Work Gray.icc");

    // Every role has its own messages.
    using R = ProfileRole;
    const auto& gray = work_gray;
    const auto gray_printer = gray_profile("GP", 2.2, cmsSigOutputClass);
    const auto space = rgb_profile("S", false, 2.2, cmsSigColorSpaceClass);
    const testing::Bytes junk = {1, 2, 3};
    const std::tuple<R, const testing::Bytes*, const char*> cases[] = {
        {R::rgb_working, &printer, "Working color space profile is not a monitor profile"},
        {R::gray_working, &work_rgb, "Gray working color space profile is not a GRAY profile"},
        {R::assumed_rgb, &gray, "Assumed RGB color space profile is not an RGB profile"},
        {R::assumed_gray, &gray_printer,
         "Assumed gray color space profile is not a monitor or input profile"},
        {R::camera_rgb, &gray, "Assumed RGB camera profile is not an RGB profile"},
        {R::camera_gray, &gray_printer,
         "Assumed gray camera profile is not a monitor or input profile"},
        {R::monitor, &gray, "Monitor profile is not an RGB profile"},
        {R::rgb_working, &junk, "Error reading working color space profile"},
        {R::monitor, &printer, ""},
        {R::proofing, &printer, ""},
        {R::proofing, &gray, ""},
        {R::rgb_working, &space, ""},
        {R::assumed_rgb, &scanner, ""}};
    for (const auto& [role, bytes, message] : cases) {
        EXPECT_EQ(
            profile_role_problem(role, bytes->data(), static_cast<std::uint32_t>(bytes->size())),
            message)
            << static_cast<int>(role);
    }
}

std::string system_profile_path;

TEST_F(ColorSettingsTest, MonitorProfileFromTheSystem) {
    system_profile_path = profiles.file("Work RGB.icc");
    set_monitor_profile_query([] {
        return SystemMonitorProfile{SystemMonitorProfile::Result::found, system_profile_path};
    });
    EXPECT_FALSE(load_color_settings(true));
    EXPECT_TRUE(color_settings().monitor_profile == system_profile_path &&
                color_settings().monitor_on_startup == monitor_from_system &&
                role_profile_set(ProfileRole::monitor));
    EXPECT_TRUE(scope.recorder.messages.empty());

    set_monitor_profile_query([] { return SystemMonitorProfile{}; });
    EXPECT_FALSE(load_color_settings(true));
    EXPECT_EQ(scope.recorder.warnings(),
              std::vector<std::string>{"No system monitor profile defined"});
    EXPECT_EQ(color_settings().monitor_on_startup, monitor_named);
    // With the choice 0 saved and a query that fails.
    color_settings() = ColorManagementSettings{};
    ASSERT_FALSE(save_color_settings());
    set_monitor_profile_query([] {
        return SystemMonitorProfile{SystemMonitorProfile::Result::error, {}};
    });
    EXPECT_FALSE(load_color_settings(true));
    EXPECT_EQ(scope.recorder.errors(),
              std::vector<std::string>{"Error retrieving system monitor profile name"});
    EXPECT_EQ(color_settings().monitor_on_startup, monitor_named);

    // The default query finds the one EDID profile of the user's colour folder.
    set_monitor_profile_query(nullptr);
    TempDir data;
    testing::ScopedEnv data_home("XDG_DATA_HOME", data.path().c_str());
    EXPECT_EQ(query_system_monitor_profile().result, SystemMonitorProfile::Result::none);
    fs::create_directories(data.file("icc"));
    put_file(data.file("icc/edid-0123456789abcdef.icc"), rgb_profile("Display"));
    const SystemMonitorProfile found = query_system_monitor_profile();
    EXPECT_TRUE(found.result == SystemMonitorProfile::Result::found &&
                found.path == data.file("icc/edid-0123456789abcdef.icc"));
    put_file(data.file("icc/edid-fedcba9876543210.icc"), rgb_profile("Other display"));
    EXPECT_EQ(query_system_monitor_profile().result, SystemMonitorProfile::Result::none);
}

TEST_F(ColorSettingsTest, LeavingTheDialogAndTheSettingsFilesItOffers) {
    ColorManagementSettings edited = color_settings();
    EXPECT_FALSE(leave_color_settings_dialog(edited, false));  // unchanged: nothing asked
    EXPECT_TRUE(scope.recorder.questions.empty());
    edited.enabled = 1;
    edited.wcs_profile = "Work RGB.icc";
    scope.recorder.answers = {Answer::no, Answer::yes, Answer::yes};
    EXPECT_FALSE(leave_color_settings_dialog(edited, false));  // not retained
    EXPECT_EQ(color_settings().enabled, 0);
    EXPECT_FALSE(leave_color_settings_dialog(edited, true));  // abandoned
    EXPECT_EQ(color_settings().enabled, 0);
    EXPECT_TRUE(leave_color_settings_dialog(edited, false));  // retained
    EXPECT_TRUE(color_settings() == edited && color_management_enabled());
    const std::string retain =
        "Alert: Retain modified color management settings?.\nClick Yes to retain new "
        "settings.\nClick No to revert to previous settings.";
    EXPECT_EQ(scope.recorder.questions,
              (std::vector<std::string>{retain,
                                        "Alert: Abandon modified settings?.\nClick Yes to revert "
                                        "to previous settings.\nClick No to retain new settings.",
                                        retain}));
    // Retained settings are the current settings file now.
    ColorManagementSettings saved;
    ASSERT_FALSE(read_color_settings_file(color_settings_path(), saved));
    EXPECT_TRUE(saved == edited);

    // Load and Save As ask for files and check the extension (in any case).
    EXPECT_FALSE(check_color_settings_extension("/x/Mine.Color Management"));
    ColorManagementSettings c;
    c.enabled = 1;
    c.on_batch_mismatch = mismatch_keep;
    scope.recorder.files = {settings.file("wrong.txt"), settings.file("Kept.color management"),
                            settings.file("Kept.color management")};
    ASSERT_FALSE(save_color_settings_as(c));
    EXPECT_EQ(scope.recorder.errors(),
              std::vector<std::string>{
                  "Color management settings files must have an extension of .color management"});
    ColorManagementSettings loaded;
    ASSERT_FALSE(load_color_settings_as(loaded));
    EXPECT_TRUE(loaded == c);
    EXPECT_TRUE(load_color_settings_as(loaded));  // cancelled
}

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

TEST(MonitorCurves, TablesFromPoints) {
    // Evenly spaced points make no calibration.
    MonitorCurves c;
    MonitorTables t;
    monitor_curves_reset(c, 7);
    ASSERT_FALSE(monitor_curve_tables(c, t));
    EXPECT_TRUE(monitor_tables_are_identity(t));

    // Level 200 of the colour (255, 128, 0): red 200, green 128 * 200 / 255 = 100.4, blue 0; each
    // table is the spline Curve through (input, scaled channel).
    monitor_curves_reset(c, 2);
    c.points[1] = {255, 200, 255, 128, 0};
    ASSERT_FALSE(monitor_curve_tables(c, t));
    EXPECT_EQ((std::vector{t.red[0], t.red[255], t.green[255], t.blue[255]}),
              (std::vector<std::uint8_t>{0, 200, 100, 0}));
    std::uint8_t expected[256];
    curve_table8(testing::make_curve(curve_spline, {{0, 0}, {255, 100}}), expected);
    EXPECT_TRUE(std::equal(expected, expected + 256, t.green));
    // A black colour counts as neutral: all three channels take the level.
    c.points[1] = {255, 180, 0, 0, 0};
    ASSERT_FALSE(monitor_curve_tables(c, t));
    EXPECT_EQ((std::vector{t.red[255], t.green[255], t.blue[255]}),
              (std::vector<std::uint8_t>(3, 180)));

    // Points that make no curve (not increasing, a channel above 255, a count that does not
    // match) are refused and leave the tables as they were.
    monitor_tables_identity(t);
    for (auto spoil : {+[](MonitorCurves& m) { m.points[2].input = m.points[1].input; },
                       +[](MonitorCurves& m) { m.points[3].blue = 256; },
                       +[](MonitorCurves& m) { m.npts = 4; }}) {
        MonitorCurves bad;
        spoil(bad);
        EXPECT_TRUE(monitor_curve_tables(bad, t));
    }
    EXPECT_TRUE(monitor_tables_are_identity(t));
}

TEST_F(ColorSettingsTest, MonitorCurvesFilesAndTheirLimits) {
    TempDir& dir = settings;
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

TEST_F(ColorSettingsTest, MonitorCurvesInForce) {
    MonitorCurves c;
    c.points[2].level = 140;
    ASSERT_FALSE(save_monitor_curves_file(profiles.file("Warm.monitor curves"), c));
    ASSERT_FALSE(save_monitor_curves_file(profiles.file("Flat.monitor curves"), MonitorCurves{}));

    // Off, on, an identity file (no calibration) and a missing file.
    for (auto [file, enabled, in_force] : {std::tuple{"Warm.monitor curves", 0, false},
                                           {"Warm.monitor curves", 1, true},
                                           {"Flat.monitor curves", 1, false},
                                           {"Lost.monitor curves", 1, false}}) {
        ColorManagementSettings s;
        s.monitor_curves_file = file;
        s.monitor_curves_enabled = enabled;
        apply_monitor_curves_setting(s);
        ASSERT_EQ(active_monitor_curves() != nullptr, in_force) << file;
        ASSERT_EQ(active_monitor_curve_tables() != nullptr, in_force) << file;
        if (in_force) {
            EXPECT_EQ(active_monitor_curves()->red[128], 140);
            EXPECT_EQ(active_monitor_curve_tables()->green[128], 140);
        }
    }
    EXPECT_EQ(scope.recorder.errors(),
              std::vector<std::string>{"Cannot locate monitor curves file: Lost.monitor curves"});
    clear_monitor_curves();
}

}  // namespace
}  // namespace tessaly
