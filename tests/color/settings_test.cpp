// The colour management settings file, the profiles in memory and their validation.
#include <gtest/gtest.h>
#include <lcms2.h>

#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "color/color_settings.h"
#include "color/monitor_curves.h"
#include "color/profiles.h"
#include "core/image_convert.h"
#include "core/text_file.h"
#include "framework/settings_files.h"
#include "support/recording_interaction.h"
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
    EXPECT_TRUE(read.ar_profile == "Scanner.icm" && read.gray_acs_profile.empty());
    EXPECT_TRUE(read.monitor_proof_intent == 4 && read.gamut_alarm_color[2] == 30);
    const std::string again = settings.file("Again.color management");
    ASSERT_FALSE(write_color_settings_file(again, read));
    EXPECT_EQ(file_text(again), expected);
    EXPECT_TRUE(scope.recorder.messages.empty());

    // Files that do not read leave the settings alone.
    ColorManagementSettings c;
    c.enabled = 1;
    const std::string missing = settings.file("missing.color management");
    EXPECT_TRUE(read_color_settings_file(missing, c));
    const std::string other = settings.file("other.color management");
    ASSERT_FALSE(write_file_atomic(other, "Preferences 1.0\r\nenabled 0\r\nend\r\n"));
    EXPECT_TRUE(read_color_settings_file(other, c));
    EXPECT_EQ(c.enabled, 1);
    EXPECT_EQ(scope.recorder.errors(),
              (std::vector<std::string>{"Cannot open color management settings file: " + missing,
                                        "Cannot read color management settings file: " + other}));
}

TEST_F(ColorSettingsTest, ReadingReportsAbsentProfilesAndLeavesThemUnset) {
    const std::string path = settings.file("Absent.color management");
    LineWriter w;
    for (const std::string line :
         {"ColorManagement 1.0", "enabled 1", "wcsprofile ″Gone1.icc″",
          "gray_wcsprofile ″Gone2.icc″", "acsprofile ″Gone3.icc″", "gray_acsprofile ″Gone4.icc″",
          "arprofile ″Gone5.icc″", "gray_arprofile ″Gone6.icc″",
          "onmismatch 7",  // above 2 counts as 0
          "monitorprofile ″Gone7.icc″ 1 2 1", "proofprofile ″Gone8.icc″ 2",
          "monitorcurves ″Gone.monitor curves″ 1", "unknown line 1 2 3", "end"})
        w.line(line);
    ASSERT_FALSE(w.save(path));
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
                c.monitor_profile.empty() && c.monitor_curves_file.empty());
    EXPECT_TRUE(c.monitor_intent == 1 && c.monitor_proof_intent == 2 && c.proof_intent == 2 &&
                c.monitor_curves_enabled == 1);
}

TEST_F(ColorSettingsTest, ApplyingSavingAndLoading) {
    ColorManagementSettings c;
    c.enabled = 1;
    c.wcs_profile = "Work RGB.icc";
    c.gray_wcs_profile = "Work Gray.icc";
    c.ar_profile = "Scanner.icm";
    c.proof_profile = "Printer.icc";
    c.on_mismatch = mismatch_convert;
    c.monitor_on_startup = monitor_named;
    apply_color_settings(c);
    EXPECT_TRUE(color_settings() == c && color_management_enabled());
    EXPECT_TRUE(core_bytes(rgb_working_profile()) == work_rgb &&
                core_bytes(gray_working_profile()) == work_gray &&
                core_bytes(role_profile(ProfileRole::camera_rgb)) == scanner);
    EXPECT_EQ(role_profile_description(ProfileRole::rgb_working), "Work RGB");
    EXPECT_TRUE(!role_profile_set(ProfileRole::assumed_rgb) &&
                role_profile_set(ProfileRole::proofing));

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
    ColorManagementSettings c;
    c.enabled = 1;
    c.wcs_profile = "Work Gray.icc";      // a gray profile as RGB working space
    c.gray_wcs_profile = "Scanner.icm";   // an input profile as working space
    c.acs_profile = "Printer.icc";        // a printer profile as assumed profile
    c.gray_acs_profile = "Work RGB.icc";  // RGB as gray
    c.ar_profile = "Missing.icc";         // no such file
    c.gray_ar_profile = "Broken.icc";     // not a profile
    c.monitor_profile = "Broken.icc";
    c.proof_profile = "Scanner.icm";
    apply_color_settings(c);
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
    const auto gray = gray_profile("G"), rgb = rgb_profile("R");
    const auto gray_printer = gray_profile("GP", 2.2, cmsSigOutputClass);
    const auto space = rgb_profile("S", false, 2.2, cmsSigColorSpaceClass);
    const auto input = rgb_profile("I", false, 2.2, cmsSigInputClass);
    const testing::Bytes junk = {1, 2, 3};
    const std::tuple<R, const testing::Bytes*, const char*> cases[] = {
        {R::rgb_working, &printer, "Working color space profile is not a monitor profile"},
        {R::gray_working, &rgb, "Gray working color space profile is not a GRAY profile"},
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
        {R::assumed_rgb, &input, ""}};
    for (const auto& [role, bytes, message] : cases) {
        EXPECT_EQ(
            profile_role_problem(role, bytes->data(), static_cast<std::uint32_t>(bytes->size())),
            message)
            << static_cast<int>(role);
    }
}

SystemMonitorProfile no_monitor_profile() {
    return {};
}
SystemMonitorProfile failing_query() {
    return {SystemMonitorProfile::Result::error, {}};
}
std::string system_profile_path;
SystemMonitorProfile found_query() {
    return {SystemMonitorProfile::Result::found, system_profile_path};
}

TEST_F(ColorSettingsTest, MonitorProfileFromTheSystem) {
    system_profile_path = profiles.file("Work RGB.icc");
    set_monitor_profile_query(found_query);
    EXPECT_FALSE(load_color_settings(true));
    EXPECT_EQ(color_settings().monitor_profile, system_profile_path);
    EXPECT_EQ(color_settings().monitor_on_startup, monitor_from_system);
    EXPECT_TRUE(role_profile_set(ProfileRole::monitor));
    EXPECT_TRUE(scope.recorder.messages.empty());

    set_monitor_profile_query(no_monitor_profile);
    EXPECT_FALSE(load_color_settings(true));
    EXPECT_EQ(scope.recorder.warnings(),
              std::vector<std::string>{"No system monitor profile defined"});
    EXPECT_EQ(color_settings().monitor_on_startup, monitor_named);
    // With the choice 0 saved and a query that fails.
    color_settings() = ColorManagementSettings{};
    ASSERT_FALSE(save_color_settings());
    set_monitor_profile_query(failing_query);
    EXPECT_FALSE(load_color_settings(true));
    EXPECT_EQ(scope.recorder.errors(),
              std::vector<std::string>{"Error retrieving system monitor profile name"});
    EXPECT_EQ(color_settings().monitor_on_startup, monitor_named);

    // The default query finds the one EDID profile of the user's colour folder.
    set_monitor_profile_query(nullptr);
    TempDir data;
    const char* old = std::getenv("XDG_DATA_HOME");
    const std::string saved = old ? old : "";
    setenv("XDG_DATA_HOME", data.path().c_str(), 1);
    EXPECT_EQ(query_system_monitor_profile().result, SystemMonitorProfile::Result::none);
    fs::create_directories(data.file("icc"));
    put_file(data.file("icc/edid-0123456789abcdef.icc"), rgb_profile("Display"));
    const SystemMonitorProfile found = query_system_monitor_profile();
    EXPECT_EQ(found.result, SystemMonitorProfile::Result::found);
    EXPECT_EQ(found.path, data.file("icc/edid-0123456789abcdef.icc"));
    put_file(data.file("icc/edid-fedcba9876543210.icc"), rgb_profile("Other display"));
    EXPECT_EQ(query_system_monitor_profile().result, SystemMonitorProfile::Result::none);
    old ? setenv("XDG_DATA_HOME", saved.c_str(), 1) : unsetenv("XDG_DATA_HOME");
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

}  // namespace
}  // namespace tessaly
