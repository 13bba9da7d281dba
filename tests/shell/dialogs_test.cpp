// The frame's own windows: Image Info on a real photograph, the caption editor, Preferences,
// Color Management and Set Default Folder, each driven through its widgets. With
// TESSALY_SCREENSHOT_DIR set, the windows are also saved there as pictures.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTabWidget>
#include <QTest>
#include <filesystem>

#include "color/color_settings.h"
#include "color/profiles.h"
#include "fileio/save_options.h"
#include "framework/node.h"
#include "shell/caption_editor.h"
#include "shell/color_management_dialog.h"
#include "shell/engine_worker.h"
#include "shell/frame_window.h"
#include "shell/image_info.h"
#include "shell/preferences_dialog.h"
#include "shell/save_options_dialog.h"
#include "support/fileio_builders.h"
#include "support/recording_interaction.h"
#include "support/temp_dir.h"
#include "tree/tree.h"
#include "workspace/preferences.h"
#include "workspace/session_state.h"

namespace tessaly::shell {
namespace {

using tessaly::testing::RecordingInteraction;

const std::string photo = "/usr/share/wallpapers/Path/contents/images/2560x1600.jpg";

std::string value_of(const std::vector<InfoLine>& lines, const std::string& label) {
    for (const InfoLine& line : lines) {
        if (line.label == label) return line.value;
    }
    return "(no line " + label + ")";
}

template <typename T>
T* wait_for_window(FrameWindow& frame) {
    T* found = nullptr;
    const bool shown = QTest::qWaitFor(
        [&] {
            found = frame.findChild<T*>();
            return found && found->isVisible();
        },
        5000);
    return shown ? found : nullptr;
}

void keep_screenshot(QWidget* window, const char* name) {
    const QByteArray folder = qgetenv("TESSALY_SCREENSHOT_DIR");
    if (folder.isEmpty()) return;
    window->grab().save(QString::fromUtf8(folder) + "/" + name);
}

void press(QDialog* dialog, QDialogButtonBox::StandardButton which) {
    auto* box = dialog->findChild<QDialogButtonBox*>();
    ASSERT_NE(box, nullptr);
    QTest::mouseClick(box->button(which), Qt::LeftButton);
}

// On the box's indicator: a box stretched by its layout takes clicks only there and on its text.
void click(QCheckBox* box) {
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
}

class Dialogs : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!std::filesystem::exists(photo)) GTEST_SKIP() << photo << " is missing";
    }
    void TearDown() override {
        close_all_images();
        preferences() = Preferences{};
    }
    RecordingInteraction record;
};

TEST_F(Dialogs, ImageInfoDescribesThePhotographItsCameraAndTheAbsentGeotag) {
    FrameWindow frame(&record);
    frame.show();
    frame.open_file(photo);
    frame.engine().wait_idle();
    frame.command(1109);
    auto* window = wait_for_window<ImageInfoWindow>(frame);
    ASSERT_NE(window, nullptr);
    QTabWidget* tabs = window->tabs();
    ASSERT_EQ(tabs->count(), 4);
    EXPECT_EQ(tabs->tabText(0), "Image");
    EXPECT_EQ(tabs->tabText(3), "GPS");

    const ImageInfo& info = window->info();
    EXPECT_EQ(value_of(info.image, "Type:"), "24-bit Color");
    EXPECT_EQ(value_of(info.image, "Size:").rfind("2560 x 1600", 0), 0u);
    EXPECT_EQ(value_of(info.image, "Filename:"), "2560x1600.jpg");
    EXPECT_EQ(value_of(info.image, "Folder:"), "/usr/share/wallpapers/Path/contents/images");
    EXPECT_NE(value_of(info.image, "File Size:").find(" KB"), std::string::npos);
    EXPECT_EQ(value_of(info.camera, "Camera Make:"), "OLYMPUS IMAGING CORP.");
    EXPECT_EQ(value_of(info.camera, "Camera Model:"), "E-M1");
    EXPECT_EQ(value_of(info.camera, "Taken:"), "2015-09-06 18:46:57");
    EXPECT_EQ(value_of(info.camera, "Focal Length:"), "7 mm");
    EXPECT_EQ(value_of(info.camera, "Aperture:"), "f/4.5");
    EXPECT_EQ(value_of(info.camera, "Exposure:"), "1/15 s");
    EXPECT_EQ(value_of(info.camera, "ISO:"), "200");
    EXPECT_EQ(value_of(info.camera, "Program:"), "Manual");
    EXPECT_EQ(value_of(info.camera, "Color Space:"), "Uncalibrated");
    EXPECT_EQ(value_of(info.camera, "Flash:"), "On, Did not fire");
    EXPECT_EQ(value_of(info.notes, "Description:"), "OLYMPUS DIGITAL CAMERA");
    for (const InfoLine& line : info.gps) EXPECT_EQ(line.value, "N/A") << line.label;
    EXPECT_FALSE(info.location.has_value());
    auto* locate = window->findChild<QPushButton*>();
    ASSERT_NE(locate, nullptr);
    EXPECT_EQ(locate->text(), "Locate on Google Maps");
    EXPECT_FALSE(locate->isEnabled());
    keep_screenshot(window, "image-info.png");
    tabs->setCurrentIndex(1);
    keep_screenshot(window, "image-info-camera.png");

    // Asked again, the one window shows the values again instead of opening a second one.
    frame.command(1109);
    frame.engine().wait_idle();
    EXPECT_EQ(frame.findChildren<ImageInfoWindow*>().size(), 1);
    EXPECT_TRUE(record.messages.empty());
}

TEST(ImageInfoGps, CoordinatesAltitudeAndDirectionAreReadFromTheGpsTags) {
    Image tags;
    auto text = [&](std::uint32_t tag, const char* value) {
        ASSERT_FALSE(
            image_add_tag(tags, tag, 2, static_cast<std::uint32_t>(std::strlen(value) + 1), value));
    };
    auto rationals = [&](std::uint32_t tag, std::vector<std::uint32_t> parts) {
        ASSERT_FALSE(image_add_tag(tags, tag, 5, static_cast<std::uint32_t>(parts.size() / 2),
                                   parts.data()));
    };
    text(1, "N");
    rationals(2, {10, 1, 59, 1, 59999, 1000});  // 59.999" rounds up into the next degree
    text(3, "W");
    rationals(4, {3, 1, 30, 1, 1234, 100});
    const std::uint8_t below_sea_level = 1;
    ASSERT_FALSE(image_add_tag(tags, 5, 1, 1, &below_sea_level));
    rationals(6, {125, 10});
    text(16, "M");
    rationals(17, {2705, 10});

    std::optional<GeoLocation> where;
    const auto metres = gps_lines(tags.tags, false, where);
    EXPECT_EQ(value_of(metres, "Latitude:"), "11° 0' 0.00\" N");
    EXPECT_EQ(value_of(metres, "Longitude:"), "3° 30' 12.34\" W");
    EXPECT_EQ(value_of(metres, "Altitude:"), "-12.5 m");
    EXPECT_EQ(value_of(metres, "Direction:"), "270.5° magnetic");
    ASSERT_TRUE(where.has_value());
    EXPECT_NEAR(where->latitude, 10.0 + 59.0 / 60 + 59.999 / 3600, 1e-9);
    EXPECT_NEAR(where->longitude, -(3.5 + 12.34 / 3600), 1e-9);
    EXPECT_EQ(map_url(*where).toString().toStdString(),
              "https://www.openstreetmap.org/?mlat=11&mlon=-3.503428#map=16/11/-3.503428");
    const auto feet = gps_lines(tags.tags, true, where);
    EXPECT_EQ(value_of(feet, "Altitude:"), "-41.0 ft");

    // Without a longitude there is nothing to look up on a map.
    Image half;
    ASSERT_FALSE(image_add_tag(half, 2, 5, 3, std::vector<std::uint32_t>{1, 1, 2, 1, 3, 1}.data()));
    const auto lines = gps_lines(half.tags, false, where);
    EXPECT_EQ(value_of(lines, "Latitude:"), "1° 2' 3.00\" N");
    EXPECT_EQ(value_of(lines, "Longitude:"), "N/A");
    EXPECT_FALSE(where.has_value());
}

TEST_F(Dialogs, DoubleClickOpensTheCaptionEditorAndOkStoresCaptionAndComment) {
    FrameWindow frame(&record);
    frame.resize(1000, 640);
    frame.show();
    frame.open_file(photo);
    frame.engine().wait_idle();
    BrowserCanvas* canvas = frame.browser()->canvas();
    ASSERT_EQ(canvas->snapshot().nodes.size(), 1u);
    const std::int32_t serial = canvas->snapshot().nodes[0].serial;
    QPoint at;
    for (int y = 0; y < canvas->viewport()->height() && at.isNull(); y += 4) {
        for (int x = 0; x < canvas->viewport()->width(); x += 4) {
            if (canvas->node_at({x, y}) == 0) {
                at = {x + 8, y + 8};
                break;
            }
        }
    }
    ASSERT_FALSE(at.isNull()) << "the thumbnail is not on the screen";
    QTest::mouseDClick(canvas->viewport(), Qt::LeftButton, {}, at);
    auto* editor = wait_for_window<CaptionEditor>(frame);
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->windowTitle(), "Change Transformation Caption or Comment");
    EXPECT_EQ(editor->caption_field()->text().toStdString(), canvas->snapshot().nodes[0].caption);

    editor->caption_field()->clear();
    QTest::keyClicks(editor->caption_field(), "Path at dusk");
    QTest::keyClicks(editor->comment_field(), "first light");
    press(editor, QDialogButtonBox::Ok);
    frame.engine().wait_idle();
    EXPECT_EQ(canvas->snapshot().nodes[0].caption, "Path at dusk");
    std::optional<std::string> comment;
    frame.run([&] { comment = find_node_by_serial(serial)->comment; });
    frame.engine().wait_idle();
    EXPECT_EQ(comment, "first light");

    // Cancel changes nothing; an emptied comment is no comment.
    QTest::mouseDClick(canvas->viewport(), Qt::LeftButton, {}, at);
    editor = wait_for_window<CaptionEditor>(frame);
    ASSERT_NE(editor, nullptr);
    editor->caption_field()->setText("never stored");
    press(editor, QDialogButtonBox::Cancel);
    frame.engine().wait_idle();
    EXPECT_EQ(canvas->snapshot().nodes[0].caption, "Path at dusk");
    QTest::mouseDClick(canvas->viewport(), Qt::LeftButton, {}, at);
    editor = wait_for_window<CaptionEditor>(frame);
    ASSERT_NE(editor, nullptr);
    editor->comment_field()->clear();
    press(editor, QDialogButtonBox::Ok);
    frame.engine().wait_idle();
    frame.run([&] { comment = find_node_by_serial(serial)->comment; });
    frame.engine().wait_idle();
    EXPECT_FALSE(comment.has_value());
}

TEST_F(Dialogs, PreferencesCancelWritesNothingAndOkWithAChangeSavesIt) {
    const std::string path = preferences_path();
    const bool existed = std::filesystem::exists(path);
    const auto before = tessaly::testing::file_bytes(path);
    FrameWindow frame(&record);
    frame.show();

    frame.command(1016);
    auto* dialog = wait_for_window<PreferencesDialog>(frame);
    ASSERT_NE(dialog, nullptr);
    keep_screenshot(dialog, "preferences.png");
    dialog->flag_box(&Preferences::smooth_zoom)->setChecked(true);
    press(dialog, QDialogButtonBox::Cancel);
    frame.engine().wait_idle();
    EXPECT_EQ(std::filesystem::exists(path), existed);
    EXPECT_EQ(tessaly::testing::file_bytes(path), before);
    EXPECT_EQ(preferences().smooth_zoom, 0);
    EXPECT_TRUE(record.questions.empty());

    // OK without a change asks nothing.
    frame.command(1016);
    dialog = wait_for_window<PreferencesDialog>(frame);
    ASSERT_NE(dialog, nullptr);
    press(dialog, QDialogButtonBox::Ok);
    frame.engine().wait_idle();
    EXPECT_TRUE(record.questions.empty());

    frame.command(1016);
    dialog = wait_for_window<PreferencesDialog>(frame);
    ASSERT_NE(dialog, nullptr);
    click(dialog->flag_box(&Preferences::smooth_zoom));
    click(dialog->flag_box(&Preferences::ask_on_script_load));
    press(dialog, QDialogButtonBox::Ok);
    frame.engine().wait_idle();
    ASSERT_EQ(record.questions,
              std::vector<std::string>{"Confirm: Save modified preferences for next session?"});
    EXPECT_EQ(preferences().smooth_zoom, 1);
    Preferences read;
    SaveOptions options;
    ASSERT_EQ(read_preferences(path, read, options), KeyedFileRead::read);
    EXPECT_EQ(read.smooth_zoom, 1);
    EXPECT_EQ(read.ask_on_script_load, 1);
    // Boxes left alone keep their stored values (clipped highlights are on as 255).
    EXPECT_EQ(read.clipped_highlights_show, 255);
    EXPECT_EQ(read.recent_files, 10);

    // Reset shows the saved file again after its question, replacing unsaved edits.
    frame.command(1016);
    dialog = wait_for_window<PreferencesDialog>(frame);
    ASSERT_NE(dialog, nullptr);
    dialog->flag_box(&Preferences::smooth_zoom)->setChecked(false);
    QTest::mouseClick(dialog->findChild<QPushButton*>("reset"), Qt::LeftButton);
    frame.engine().wait_idle();
    EXPECT_EQ(record.questions.back(), "Confirm: Reset preferences to last saved settings?");
    EXPECT_TRUE(dialog->flag_box(&Preferences::smooth_zoom)->isChecked());
    press(dialog, QDialogButtonBox::Cancel);
    frame.engine().wait_idle();
    (void)save_preferences();  // back to the defaults for the tests after this one
}

TEST_F(Dialogs, PreferencesEditTheSaveOptionsAndTheirAskFlag) {
    const SaveOptions original = save_options();
    save_options().jpeg.ask = 1;  // the options dialog no longer shows on save
    FrameWindow frame(&record);
    frame.show();
    frame.command(1016);
    auto* dialog = wait_for_window<PreferencesDialog>(frame);
    ASSERT_NE(dialog, nullptr);

    // The JPEG options, from the Preferences: asking again, and another quality.
    QTest::mouseClick(dialog->save_options_button(save_jpeg), Qt::LeftButton);
    auto* options = wait_for_window<FormatOptionsDialog>(frame);
    ASSERT_NE(options, nullptr);
    ASSERT_NE(options->ask_box(), nullptr);
    EXPECT_FALSE(options->ask_box()->isChecked());
    options->ask_box()->setChecked(true);
    options->quality_box()->setValue(80);
    options->accept();
    EXPECT_EQ(dialog->edited_save_options().jpeg.ask, 0);
    // Nothing holds until the Preferences' own OK.
    frame.engine().wait_idle();
    EXPECT_EQ(save_options().jpeg.ask, 1);

    // A cancelled format dialog changes nothing.
    QTest::mouseClick(dialog->save_options_button(save_tiff), Qt::LeftButton);
    options = nullptr;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            for (auto* d : frame.findChildren<FormatOptionsDialog*>())
                if (d->isVisible() && d->compression_box()) options = d;
            return options != nullptr;
        },
        5000));
    options->compression_box()->setCurrentIndex(2);
    options->reject();
    EXPECT_EQ(dialog->edited_save_options().tiff.compression, original.tiff.compression);

    record.answers.push_back(Answer::no);  // for this session only
    press(dialog, QDialogButtonBox::Ok);
    frame.engine().wait_idle();
    ASSERT_EQ(record.questions,
              std::vector<std::string>{"Confirm: Save modified preferences for next session?"});
    EXPECT_EQ(save_options().jpeg.ask, 0);
    EXPECT_NEAR(save_options().jpeg.quality, 80.0, 1.0);
    EXPECT_EQ(save_options().tiff.compression, original.tiff.compression);
    save_options() = original;
}

TEST_F(Dialogs, ColorManagementOffersProfilesByRoleAndOkAppliesAndSavesTheChange) {
    const ColorManagementSettings original = color_settings();
    FrameWindow frame(&record);
    frame.show();
    frame.command(1017);
    auto* dialog = wait_for_window<ColorManagementDialog>(frame);
    ASSERT_NE(dialog, nullptr);
    keep_screenshot(dialog, "color-management.png");
    QComboBox* rgb = dialog->profile_box(static_cast<int>(ProfileRole::rgb_working));
    QComboBox* gray = dialog->profile_box(static_cast<int>(ProfileRole::gray_working));
    const int srgb = rgb->findData("sRGB.icc");
    if (srgb < 0) GTEST_SKIP() << "no sRGB.icc among the system's profiles";
    EXPECT_LT(gray->findData("sRGB.icc"), 0) << "an RGB profile offered as gray working space";
    EXPECT_GE(gray->findData("Gray.icc"), 0);

    // Cancel with a change asks whether to abandon it; the default answer does.
    dialog->mismatch_box(0)->setCurrentIndex(1);
    press(dialog, QDialogButtonBox::Cancel);
    frame.engine().wait_idle();
    EXPECT_EQ(color_settings(), original);
    ASSERT_EQ(record.questions.size(), 1u);
    EXPECT_EQ(record.questions[0].rfind("Alert: Abandon modified settings?", 0), 0u);

    frame.command(1017);
    dialog = wait_for_window<ColorManagementDialog>(frame);
    ASSERT_NE(dialog, nullptr);
    dialog->mismatch_box(0)->setCurrentIndex(1);  // Convert
    dialog->profile_box(static_cast<int>(ProfileRole::rgb_working))->setCurrentIndex(srgb);
    press(dialog, QDialogButtonBox::Ok);
    frame.engine().wait_idle();
    ASSERT_EQ(record.questions.size(), 2u);
    EXPECT_EQ(record.questions[1].rfind("Alert: Retain modified color management settings?", 0),
              0u);
    EXPECT_EQ(color_settings().on_mismatch, mismatch_convert);
    EXPECT_EQ(color_settings().wcs_profile, "sRGB.icc");
    EXPECT_TRUE(role_profile_set(ProfileRole::rgb_working));
    ColorManagementSettings saved;
    ASSERT_FALSE(read_color_settings_file(color_settings_path(), saved));
    EXPECT_EQ(saved, color_settings());
    // Nothing else moved: every other value is what it was.
    ColorManagementSettings expected = original;
    expected.on_mismatch = mismatch_convert;
    expected.wcs_profile = "sRGB.icc";
    EXPECT_EQ(color_settings(), expected);
    EXPECT_TRUE(record.errors().empty());

    apply_color_settings(original);
    (void)save_color_settings();
}

TEST_F(Dialogs, SetDefaultFolderStoresTheChosenFolderInTheSession) {
    tessaly::testing::TempDir folder;
    const std::string before = session_state().default_folder;
    FrameWindow frame(&record);
    frame.show();
    frame.command(1008);
    auto* dialog = wait_for_window<QFileDialog>(frame);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->windowTitle(), "Select Default Folder");
    dialog->setDirectory(QString::fromStdString(folder.path()));
    static_cast<QDialog*>(dialog)->accept();  // as its Choose button does
    frame.engine().wait_idle();
    EXPECT_EQ(session_state().default_folder, folder.path());
    session_state().default_folder = before;
}

}  // namespace
}  // namespace tessaly::shell
