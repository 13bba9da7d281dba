// The colour management settings file, the profiles in memory and their validation.
#include <gtest/gtest.h>
#include <lcms2.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "color/color_settings.h"
#include "color/monitor_curves.h"
#include "color/profiles.h"
#include "core/image_convert.h"
#include "core/text_file.h"
#include "framework/settings_files.h"
#include "support/recording_interaction.h"
#include "support/temp_dir.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;
using testing::RecordingScope;
using testing::TempDir;

const std::string q = "\u2033";  // ″

std::vector<std::uint8_t> profile_bytes(cmsHPROFILE p, const char* description,
                                        cmsProfileClassSignature device_class) {
    cmsMLU* mlu = cmsMLUalloc(nullptr, 1);
    cmsMLUsetASCII(mlu, "en", "US", description);
    cmsWriteTag(p, cmsSigProfileDescriptionTag, mlu);
    cmsMLUfree(mlu);
    cmsSetDeviceClass(p, device_class);
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(p, nullptr, &size);
    std::vector<std::uint8_t> bytes(size);
    cmsSaveProfileToMem(p, bytes.data(), &size);
    cmsCloseProfile(p);
    return bytes;
}

std::vector<std::uint8_t> rgb_profile(const char* description,
                                      cmsProfileClassSignature device_class = cmsSigDisplayClass) {
    cmsCIExyY white;
    cmsWhitePointFromTemp(&white, 6504);
    cmsCIExyYTRIPLE primaries = {{0.64, 0.33, 1.0}, {0.30, 0.60, 1.0}, {0.15, 0.06, 1.0}};
    cmsToneCurve* gamma = cmsBuildGamma(nullptr, 2.2);
    cmsToneCurve* curves[3] = {gamma, gamma, gamma};
    cmsHPROFILE p = cmsCreateRGBProfile(&white, &primaries, curves);
    cmsFreeToneCurve(gamma);
    return profile_bytes(p, description, device_class);
}

std::vector<std::uint8_t> gray_profile(const char* description,
                                       cmsProfileClassSignature device_class = cmsSigDisplayClass) {
    cmsToneCurve* gamma = cmsBuildGamma(nullptr, 2.2);
    cmsHPROFILE p = cmsCreateGrayProfile(cmsD50_xyY(), gamma);
    cmsFreeToneCurve(gamma);
    return profile_bytes(p, description, device_class);
}

void write_bytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

std::string file_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::uint8_t> core_bytes(ProfileBytes p) {
    return p.data ? std::vector<std::uint8_t>(p.data, p.data + p.size)
                  : std::vector<std::uint8_t>();
}

class ColorSettingsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        set_settings_root(settings.path());
        add_profile_folder(profiles.path());
        write_bytes(profiles.file("Work RGB.icc"), rgb_profile("Work RGB"));
        write_bytes(profiles.file("Work Gray.icc"), gray_profile("Work Gray"));
        write_bytes(profiles.file("Scanner.icm"), rgb_profile("Scanner", cmsSigInputClass));
        write_bytes(profiles.file("Printer.icc"), rgb_profile("Printer", cmsSigOutputClass));
        write_bytes(profiles.file("Broken.icc"), {'n', 'o', 't', ' ', 'a', ' ', 'p'});
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
};

TEST_F(ColorSettingsTest, FileIsWrittenAndReadExactlyAsTheTable) {
    ColorManagementSettings c;
    c.enabled = 1;
    c.wcs_profile = "Work RGB.icc";
    c.gray_wcs_profile = "Work Gray.icc";
    c.acs_profile = "Work RGB.icc";
    c.gray_acs_profile = "";
    c.ar_profile = "Scanner.icm";
    c.gray_ar_profile = "Work Gray.icc";
    c.on_mismatch = 1;
    c.on_batch_mismatch = 2;
    c.on_multiple_mismatch = 0;
    c.monitor_profile = "Work RGB.icc";
    c.monitor_intent = 2;
    c.monitor_proof_intent = 4;
    c.monitor_on_startup = 1;
    c.cm_thumbnails = 0;
    c.proof_profile = "Printer.icc";
    c.proof_intent = 3;
    c.gamut_alarm = 1;
    c.gamut_alarm_color[0] = 10;
    c.gamut_alarm_color[1] = 20;
    c.gamut_alarm_color[2] = 30;
    c.monitor_curves_file = "";
    c.monitor_curves_enabled = 1;

    const std::string path = settings.file("Mine.color management");
    ASSERT_FALSE(write_color_settings_file(path, c));
    const std::string expected =
        "\xEF\xBB\xBF"
        "ColorManagement 1.0\r\n"
        "enabled 1\r\n"
        "wcsprofile " +
        q + "Work RGB.icc" + q +
        "\r\n"
        "gray_wcsprofile " +
        q + "Work Gray.icc" + q +
        "\r\n"
        "acsprofile " +
        q + "Work RGB.icc" + q +
        "\r\n"
        "gray_acsprofile " +
        q + "None" + q +
        "\r\n"
        "arprofile " +
        q + "Scanner.icm" + q +
        "\r\n"
        "gray_arprofile " +
        q + "Work Gray.icc" + q +
        "\r\n"
        "onmismatch 1\r\n"
        "onbatchmismatch 2\r\n"
        "onmultiplemismatch 0\r\n"
        "monitorprofile " +
        q + "Work RGB.icc" + q +
        " 2 4 1\r\n"
        "cm_thumbnails 0\r\n"
        "proofprofile " +
        q + "Printer.icc" + q +
        " 3\r\n"
        "gamutalarm 1\r\n"
        "gamutalarmcolor 10 20 30\r\n"
        "monitorcurves " +
        q + q +
        " 1\r\n"
        "end\r\n";
    EXPECT_EQ(file_text(path), expected);

    RecordingScope scope;
    ColorManagementSettings read;
    ASSERT_FALSE(read_color_settings_file(path, read));
    EXPECT_TRUE(scope.recorder.messages.empty());
    EXPECT_TRUE(read == c);

    // Written again: the same bytes.
    const std::string again = settings.file("Again.color management");
    ASSERT_FALSE(write_color_settings_file(again, read));
    EXPECT_EQ(file_text(again), expected);
}

TEST_F(ColorSettingsTest, DefaultsAreWrittenWithNoneForEveryProfile) {
    const std::vector<std::string> lines = color_settings_lines(ColorManagementSettings{});
    const std::vector<std::string> expected = {
        "enabled 0",
        "wcsprofile " + q + "None" + q,
        "gray_wcsprofile " + q + "None" + q,
        "acsprofile " + q + "None" + q,
        "gray_acsprofile " + q + "None" + q,
        "arprofile " + q + "None" + q,
        "gray_arprofile " + q + "None" + q,
        "onmismatch 0",
        "onbatchmismatch 0",
        "onmultiplemismatch 1",
        "monitorprofile " + q + "None" + q + " 0 3 0",
        "cm_thumbnails 1",
        "proofprofile " + q + "None" + q + " 0",
        "gamutalarm 0",
        "gamutalarmcolor 255 255 0",
        "monitorcurves " + q + q + " 0",
    };
    EXPECT_EQ(lines, expected);
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
    EXPECT_EQ(c.enabled, 1);
    EXPECT_EQ(c.on_mismatch, 0);
    EXPECT_EQ(c.wcs_profile, "");
    EXPECT_EQ(c.monitor_profile, "");
    EXPECT_EQ(c.monitor_intent, 1);
    EXPECT_EQ(c.monitor_proof_intent, 2);
    EXPECT_EQ(c.proof_intent, 2);
    EXPECT_EQ(c.monitor_curves_file, "");
    EXPECT_EQ(c.monitor_curves_enabled, 1);
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

TEST_F(ColorSettingsTest, ExtensionIsChecked) {
    RecordingScope scope;
    EXPECT_FALSE(check_color_settings_extension("/x/Mine.Color Management"));
    EXPECT_TRUE(check_color_settings_extension("/x/Mine.txt"));
    EXPECT_EQ(scope.recorder.errors(),
              std::vector<std::string>{
                  "Color management settings files must have an extension of .color management"});
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
    EXPECT_EQ(core_bytes(rgb_working_profile()), rgb_profile("Work RGB"));
    EXPECT_EQ(core_bytes(gray_working_profile()), gray_profile("Work Gray"));
    EXPECT_EQ(core_bytes(role_profile(ProfileRole::camera_rgb)),
              rgb_profile("Scanner", cmsSigInputClass));
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
    const auto gray = gray_profile("G");
    const auto rgb = rgb_profile("R");
    const auto printer = rgb_profile("P", cmsSigOutputClass);
    const auto gray_printer = gray_profile("GP", cmsSigOutputClass);
    auto problem = [](ProfileRole role, const std::vector<std::uint8_t>& b) {
        return profile_role_problem(role, b.data(), static_cast<std::uint32_t>(b.size()));
    };
    EXPECT_EQ(problem(ProfileRole::rgb_working, printer),
              "Working color space profile is not a monitor profile");
    EXPECT_EQ(problem(ProfileRole::gray_working, rgb),
              "Gray working color space profile is not a GRAY profile");
    EXPECT_EQ(problem(ProfileRole::assumed_rgb, gray),
              "Assumed RGB color space profile is not an RGB profile");
    EXPECT_EQ(problem(ProfileRole::assumed_gray, gray_printer),
              "Assumed gray color space profile is not a monitor or input profile");
    EXPECT_EQ(problem(ProfileRole::camera_rgb, printer),
              "Assumed RGB camera profile is not a monitor or input profile");
    EXPECT_EQ(problem(ProfileRole::camera_rgb, gray),
              "Assumed RGB camera profile is not an RGB profile");
    EXPECT_EQ(problem(ProfileRole::camera_gray, gray_printer),
              "Assumed gray camera profile is not a monitor or input profile");
    EXPECT_EQ(problem(ProfileRole::camera_gray, rgb),
              "Assumed gray camera profile is not a GRAY profile");
    EXPECT_EQ(problem(ProfileRole::monitor, gray), "Monitor profile is not an RGB profile");
    EXPECT_EQ(problem(ProfileRole::monitor, printer), "");
    EXPECT_EQ(problem(ProfileRole::proofing, printer), "");
    EXPECT_EQ(problem(ProfileRole::proofing, gray), "");
    EXPECT_EQ(problem(ProfileRole::rgb_working, rgb_profile("S", cmsSigColorSpaceClass)), "");
    EXPECT_EQ(problem(ProfileRole::assumed_rgb, rgb_profile("I", cmsSigInputClass)), "");
    EXPECT_EQ(problem(ProfileRole::rgb_working, std::vector<std::uint8_t>{1, 2, 3}),
              "Error reading working color space profile");
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
    EXPECT_EQ(core_bytes(rgb_working_profile()), rgb_profile("Work RGB"));
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
    write_bytes(data.file("icc/edid-0123456789abcdef.icc"), rgb_profile("Display"));
    SystemMonitorProfile found = query_system_monitor_profile();
    EXPECT_EQ(found.result, SystemMonitorProfile::Result::found);
    EXPECT_EQ(found.path, data.file("icc/edid-0123456789abcdef.icc"));
    write_bytes(data.file("icc/edid-fedcba9876543210.icc"), rgb_profile("Other display"));
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

TEST_F(ColorSettingsTest, LoadAndSaveAsAskForFiles) {
    RecordingScope scope;
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
