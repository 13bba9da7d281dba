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

const std::string q = "\u2033";  // ″

std::vector<std::uint8_t> core_bytes(ProfileBytes p) {
    return p.data ? std::vector<std::uint8_t>(p.data, p.data + p.size)
                  : std::vector<std::uint8_t>();
}

class ColorSettingsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        set_settings_root(settings.path());
        add_profile_folder(profiles.path());
        put_file(profiles.file("Work RGB.icc"), work_rgb);
        put_file(profiles.file("Work Gray.icc"), work_gray);
        put_file(profiles.file("Scanner.icm"), scanner);
        put_file(profiles.file("Printer.icc"),
                 rgb_profile("Printer", false, 2.2, cmsSigOutputClass));
        put_file(profiles.file("Broken.icc"), "not a p");
        set_monitor_profile_query(nullptr);
    }
    void TearDown() override {
        clear_color_profiles();
        color_settings() = ColorManagementSettings{};
        set_monitor_profile_query(nullptr);
        reset_profile_folders();
        reset_settings_folders();
    }

    TempDir settings;
    TempDir profiles;
    // The bytes written above, compared with what the core is handed.
    const testing::Bytes work_rgb = rgb_profile("Work RGB");
    const testing::Bytes work_gray = gray_profile("Work Gray");
    const testing::Bytes scanner = rgb_profile("Scanner", false, 2.2, cmsSigInputClass);
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
    RecordingScope scope;
    ColorManagementSettings read;
    ASSERT_FALSE(read_color_settings_file(path, read));
    EXPECT_TRUE(scope.recorder.messages.empty());
    EXPECT_EQ(read.ar_profile, "Scanner.icm");
    EXPECT_EQ(read.gray_acs_profile, "");
    EXPECT_EQ(read.monitor_proof_intent, 4);
    EXPECT_EQ(read.gamut_alarm_color[2], 30);

    const std::string again = settings.file("Again.color management");
    ASSERT_FALSE(write_color_settings_file(again, read));
    EXPECT_EQ(file_text(again), expected);
}

TEST_F(ColorSettingsTest, ReadingReportsAbsentProfilesAndLeavesThemUnset) {
    const std::string path = settings.file("Absent.color management");
    LineWriter w;
    w.line("ColorManagement 1.0");
    w.line("enabled 1");
    w.line("wcsprofile " + q + "Gone1.icc" + q);
    w.line("gray_wcsprofile " + q + "Gone2.icc" + q);
    w.line("acsprofile " + q + "Gone3.icc" + q);
    w.line("gray_acsprofile " + q + "Gone4.icc" + q);
    w.line("arprofile " + q + "Gone5.icc" + q);
    w.line("gray_arprofile " + q + "Gone6.icc" + q);
    w.line("onmismatch 7");  // above 2 counts as 0
    w.line("monitorprofile " + q + "Gone7.icc" + q + " 1 2 1");
    w.line("proofprofile " + q + "Gone8.icc" + q + " 2");
    w.line("monitorcurves " + q + "Gone.monitor curves" + q + " 1");
    w.line("unknown line 1 2 3");
    w.line("end");
    ASSERT_FALSE(w.save(path));

    RecordingScope scope;
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

TEST_F(ColorSettingsTest, FilesThatDoNotReadLeaveTheSettingsAlone) {
    RecordingScope scope;
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

TEST_F(ColorSettingsTest, ApplyingHandsTheWorkingProfilesToTheCore) {
    RecordingScope scope;
    ColorManagementSettings c;
    c.enabled = 1;
    c.wcs_profile = "Work RGB.icc";
    c.gray_wcs_profile = "Work Gray.icc";
    c.ar_profile = "Scanner.icm";
    c.proof_profile = "Printer.icc";
    apply_color_settings(c);
    EXPECT_TRUE(scope.recorder.messages.empty());
    EXPECT_TRUE(color_settings() == c);
    EXPECT_TRUE(color_management_enabled());
    EXPECT_EQ(core_bytes(rgb_working_profile()), work_rgb);
    EXPECT_EQ(core_bytes(gray_working_profile()), work_gray);
    EXPECT_EQ(core_bytes(role_profile(ProfileRole::camera_rgb)), scanner);
    EXPECT_EQ(role_profile_description(ProfileRole::rgb_working), "Work RGB");
    EXPECT_FALSE(role_profile_set(ProfileRole::assumed_rgb));
    EXPECT_TRUE(role_profile_set(ProfileRole::proofing));

    // Turning it off again takes the profiles away from the core as well.
    apply_color_settings(ColorManagementSettings{});
    EXPECT_FALSE(color_management_enabled());
    EXPECT_EQ(rgb_working_profile().size, 0u);
    EXPECT_EQ(gray_working_profile().size, 0u);
}

TEST_F(ColorSettingsTest, ValidationMessagesLeaveFailingProfilesUnset) {
    RecordingScope scope;
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
    for (int i = 0; i < profile_role_count; ++i) {
        EXPECT_FALSE(role_profile_set(static_cast<ProfileRole>(i))) << i;
    }
    EXPECT_EQ(rgb_working_profile().size, 0u);
    EXPECT_EQ(gray_working_profile().size, 0u);
    // The names stay, so that the person sees and fixes them.
    EXPECT_EQ(color_settings().wcs_profile, "Work Gray.icc");
}

TEST_F(ColorSettingsTest, EveryRoleHasItsOwnMessages) {
    using R = ProfileRole;
    const auto gray = gray_profile("G"), rgb = rgb_profile("R");
    const auto printer = rgb_profile("P", false, 2.2, cmsSigOutputClass);
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
        {R::camera_rgb, &printer, "Assumed RGB camera profile is not a monitor or input profile"},
        {R::camera_rgb, &gray, "Assumed RGB camera profile is not an RGB profile"},
        {R::camera_gray, &gray_printer,
         "Assumed gray camera profile is not a monitor or input profile"},
        {R::camera_gray, &rgb, "Assumed gray camera profile is not a GRAY profile"},
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

TEST_F(ColorSettingsTest, StartUpWithoutAFileUsesTheDefaults) {
    RecordingScope scope;
    color_settings().enabled = 1;
    EXPECT_FALSE(load_color_settings(false));
    EXPECT_TRUE(color_settings() == ColorManagementSettings{});
    EXPECT_FALSE(color_management_enabled());
    EXPECT_TRUE(scope.recorder.messages.empty());
    // The settings folder holds profiles too.
    EXPECT_EQ(profile_folders().front(), color_settings_folder());
}

TEST_F(ColorSettingsTest, SaveAndLoadTheCurrentSettings) {
    RecordingScope scope;
    ColorManagementSettings c;
    c.enabled = 1;
    c.wcs_profile = "Work RGB.icc";
    c.on_mismatch = mismatch_convert;
    c.monitor_on_startup = monitor_named;
    color_settings() = c;
    ASSERT_FALSE(save_color_settings());
    EXPECT_EQ(color_settings_path(),
              settings.path() + "/Color Management/Settings.Color Management");
    ASSERT_TRUE(fs::exists(color_settings_path()));

    color_settings() = ColorManagementSettings{};
    EXPECT_FALSE(load_color_settings());
    EXPECT_TRUE(color_settings() == c);
    EXPECT_TRUE(color_management_enabled());
    EXPECT_EQ(core_bytes(rgb_working_profile()), work_rgb);
    EXPECT_TRUE(scope.recorder.messages.empty());

    // A file that does not read: the defaults, and the caller is told.
    ASSERT_FALSE(write_file_atomic(color_settings_path(), "garbage\r\n"));
    EXPECT_TRUE(load_color_settings(false));
    EXPECT_TRUE(color_settings() == ColorManagementSettings{});
    EXPECT_FALSE(color_management_enabled());
}

SystemMonitorProfile no_monitor_profile() {
    return {};
}

SystemMonitorProfile failing_query() {
    SystemMonitorProfile p;
    p.result = SystemMonitorProfile::Result::error;
    return p;
}

std::string system_profile_path;
SystemMonitorProfile found_query() {
    SystemMonitorProfile p;
    p.result = SystemMonitorProfile::Result::found;
    p.path = system_profile_path;
    return p;
}

TEST_F(ColorSettingsTest, MonitorProfileFromTheSystem) {
    RecordingScope scope;
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
}

TEST_F(ColorSettingsTest, DefaultSystemQueryFindsTheOneEdidProfile) {
    TempDir data;
    const char* old = std::getenv("XDG_DATA_HOME");
    const std::string saved = old ? old : "";
    setenv("XDG_DATA_HOME", data.path().c_str(), 1);
    EXPECT_EQ(query_system_monitor_profile().result, SystemMonitorProfile::Result::none);
    fs::create_directories(data.file("icc"));
    put_file(data.file("icc/edid-0123456789abcdef.icc"), rgb_profile("Display"));
    SystemMonitorProfile found = query_system_monitor_profile();
    EXPECT_EQ(found.result, SystemMonitorProfile::Result::found);
    EXPECT_EQ(found.path, data.file("icc/edid-0123456789abcdef.icc"));
    put_file(data.file("icc/edid-fedcba9876543210.icc"), rgb_profile("Other display"));
    EXPECT_EQ(query_system_monitor_profile().result, SystemMonitorProfile::Result::none);
    if (old) {
        setenv("XDG_DATA_HOME", saved.c_str(), 1);
    } else {
        unsetenv("XDG_DATA_HOME");
    }
}

TEST_F(ColorSettingsTest, LeavingTheDialog) {
    RecordingScope scope;
    ColorManagementSettings edited = color_settings();
    EXPECT_FALSE(leave_color_settings_dialog(edited, false));  // unchanged: nothing asked
    EXPECT_TRUE(scope.recorder.questions.empty());

    edited.enabled = 1;
    edited.wcs_profile = "Work RGB.icc";
    scope.recorder.answers.push_back(Answer::no);  // do not retain
    EXPECT_FALSE(leave_color_settings_dialog(edited, false));
    EXPECT_EQ(color_settings().enabled, 0);

    scope.recorder.answers.push_back(Answer::yes);  // yes: revert
    EXPECT_FALSE(leave_color_settings_dialog(edited, true));
    EXPECT_EQ(color_settings().enabled, 0);

    scope.recorder.answers.push_back(Answer::yes);  // retain
    EXPECT_TRUE(leave_color_settings_dialog(edited, false));
    EXPECT_TRUE(color_settings() == edited);
    EXPECT_TRUE(color_management_enabled());
    EXPECT_EQ(scope.recorder.questions,
              (std::vector<std::string>{
                  "Alert: Retain modified color management settings?.\nClick Yes to retain new "
                  "settings.\nClick No to revert to previous settings.",
                  "Alert: Abandon modified settings?.\nClick Yes to revert to previous "
                  "settings.\nClick No to retain new settings.",
                  "Alert: Retain modified color management settings?.\nClick Yes to retain new "
                  "settings.\nClick No to revert to previous settings."}));
    // Retained settings are the current settings file now.
    ColorManagementSettings saved;
    ASSERT_FALSE(read_color_settings_file(color_settings_path(), saved));
    EXPECT_TRUE(saved == edited);
}

TEST_F(ColorSettingsTest, LoadAndSaveAsAskForFilesAndCheckTheExtension) {
    RecordingScope scope;
    EXPECT_FALSE(check_color_settings_extension("/x/Mine.Color Management"));  // any case
    ColorManagementSettings c;
    c.enabled = 1;
    c.on_batch_mismatch = mismatch_keep;
    scope.recorder.files.push_back(settings.file("wrong.txt"));
    scope.recorder.files.push_back(settings.file("Kept.color management"));
    ASSERT_FALSE(save_color_settings_as(c));
    EXPECT_EQ(scope.recorder.errors(),
              std::vector<std::string>{
                  "Color management settings files must have an extension of .color management"});
    ColorManagementSettings loaded;
    scope.recorder.files.push_back(settings.file("Kept.color management"));
    ASSERT_FALSE(load_color_settings_as(loaded));
    EXPECT_TRUE(loaded == c);
    EXPECT_TRUE(load_color_settings_as(loaded));  // cancelled
}

}  // namespace
}  // namespace tessaly
