// The panels of Convert and Change Profile, driven through their widgets over a real photograph:
// the type shown and chosen, the profile lists of the input's kind, the line OK gives the node,
// the pixels "Profile Only" leaves alone, and the warning with colour management off.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QTest>
#include <cstring>
#include <filesystem>

#include "color/color_settings.h"
#include "core/arguments.h"
#include "core/image_convert.h"
#include "framework/node.h"
#include "framework/registry.h"
#include "shell/change_profile_panel.h"
#include "shell/convert_panel.h"
#include "shell/dialog_fixture.h"
#include "support/suite_helpers.h"
#include "transformations/change_profile.h"
#include "tree/dialog_session.h"
#include "tree/run_node.h"
#include "tree/tree.h"

namespace tessaly::shell {
namespace {

namespace fs = std::filesystem;

struct NodeState {
    std::string line;
    std::uint32_t type = 0;
    bool same_pixels_as_parent = false;
    std::vector<std::uint8_t> profile;
};

constexpr const char* unmanaged_warning =
    "Color management needs to be enabled for this transformation to work correctly.";

class ConvertProfilePanels : public DialogOnAPhoto {
  protected:
    void TearDown() override {
        set_managed(false);
        DialogOnAPhoto::TearDown();
    }
    NodeState node() {
        NodeState n;
        frame->engine().submit([&n] {
            const Node* current = current_node();
            if (!current) return;
            n.line = current->command_line.value_or("");
            const Image& image = current->image;
            n.type = image.type;
            if (image.profile) n.profile.assign(image.profile, image.profile + image.profile_size);
            const Node* parent = current->parent;
            if (!parent || parent->image.type != image.type ||
                parent->image.height != image.height || parent->image.row_bytes != image.row_bytes)
                return;
            n.same_pixels_as_parent = true;
            for (std::uint32_t r = 0; r < image.height; ++r) {
                if (std::memcmp(image.rows[r], parent->image.rows[r], image.row_bytes) != 0)
                    n.same_pixels_as_parent = false;
            }
        });
        frame->engine().wait_idle();
        return n;
    }
    void set_managed(bool on) {
        frame->engine().submit([on] { set_color_management_enabled(on); });
        frame->engine().wait_idle();
    }
    // Writes a profile into the settings' own colour folder, which the engine searches.
    fs::path put_profile(const char* file, const tessaly::testing::Bytes& bytes) {
        fs::path folder;
        frame->engine().submit([&folder] {
            folder = color_settings_folder();
            bool listed = false;
            for (const std::string& f : profile_folders()) listed = listed || f == folder;
            if (!listed) add_profile_folder(folder.string());
        });
        frame->engine().wait_idle();
        fs::create_directories(folder);
        const fs::path path = folder / file;
        tessaly::testing::put_file(
            path.string(),
            std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
        return path;
    }
    ChangeProfilePanel* open_change_profile() {
        TransformationDialog* dialog = open("change_profile");
        if (!dialog) return nullptr;
        auto* panel = qobject_cast<ChangeProfilePanel*>(dialog->panel());
        if (!panel) return nullptr;
        EXPECT_TRUE(QTest::qWaitFor([&] { return panel->gathered(); }, 5000));
        frame->engine().wait_idle();
        return panel;
    }
    static int item_of(const QComboBox* list, const char* name) {
        return list->findData(QString(name));
    }
};

TEST_F(ConvertProfilePanels, ConvertShowsTheInputTypeAndOkMakesTheChosenType) {
    TransformationDialog* dialog = open("convert");
    ASSERT_NE(dialog, nullptr);
    auto* panel = qobject_cast<ConvertPanel*>(dialog->panel());
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(dialog->control("otype"), nullptr) << "the panel takes the setting over";
    EXPECT_EQ(panel->from_label()->text(), "Convert from: 24-bit Color");
    QComboBox* to = panel->to_list();
    ASSERT_EQ(to->count(), 5);
    // A colour photograph goes to 8-bit gray unless told otherwise.
    EXPECT_EQ(to->currentText(), "8-bit Black and White");

    to->setCurrentIndex(to->findText("16-bit Black and White"));
    settle(dialog);
    screenshot(dialog, "convert");
    dialog->accept();
    settle(dialog);
    const NodeState converted = node();
    EXPECT_EQ(converted.line.rfind("convert 0 otype 4 ", 0), 0u) << converted.line;
    EXPECT_EQ(converted.type, static_cast<std::uint32_t>(image_gray16));
}

TEST_F(ConvertProfilePanels, ChangeProfileListsProfilesOfTheKindAndProfileOnlyKeepsPixels) {
    const tessaly::testing::Bytes rgb = tessaly::testing::rgb_profile("Tessaly Panel RGB", true);
    const fs::path rgb_path = put_profile("tessaly-panel-rgb.icc", rgb);
    const fs::path gray_path =
        put_profile("tessaly-panel-gray.icc", tessaly::testing::gray_profile("Tessaly Panel Gray"));
    set_managed(true);
    record.messages.clear();

    ChangeProfilePanel* panel = open_change_profile();
    ASSERT_NE(panel, nullptr);
    auto* dialog = qobject_cast<TransformationDialog*>(panel->window());
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(record.warnings().empty()) << "no warning with colour management on";
    EXPECT_EQ(dialog->control("action"), nullptr) << "the panel takes the settings over";
    EXPECT_EQ(panel->input_choice()->currentText(), "Retain current");
    EXPECT_FALSE(panel->input_list()->isEnabled());
    // The photograph carries no profile of its own.
    EXPECT_EQ(panel->current_profile()->text(), "no profile: sRGB assumed");

    // The photograph is in colour: the RGB profile is offered, the gray one is not.
    QComboBox* output = panel->output_list();
    EXPECT_EQ(output->itemText(0), "None");
    const int item = item_of(output, "tessaly-panel-rgb.icc");
    ASSERT_GE(item, 0);
    EXPECT_EQ(output->itemText(item), "Tessaly Panel RGB");
    EXPECT_LT(item_of(output, "tessaly-panel-gray.icc"), 0);
    EXPECT_LT(item_of(panel->input_list(), "tessaly-panel-gray.icc"), 0);

    output->setCurrentIndex(item);
    panel->action_list()->setCurrentIndex(panel->action_list()->findText("Profile Only"));
    settle(dialog);
    screenshot(dialog, "change_profile");
    dialog->accept();
    settle(dialog);

    const NodeState n = node();
    EXPECT_EQ(n.line,
              "change_profile 0 use_original 0 input_profile \u2033None\u2033 output_profile "
              "\u2033tessaly-panel-rgb.icc\u2033 action 2 render_intent 0 gamut_alarm 0 "
              "display 1 sync_scroll 1 auto_preview 1");
    EXPECT_TRUE(n.same_pixels_as_parent) << "Profile Only changes no pixel";
    EXPECT_EQ(n.profile, rgb) << "the output carries the chosen profile";
    EXPECT_TRUE(record.errors().empty());

    fs::remove(rgb_path);
    fs::remove(gray_path);
}

TEST_F(ConvertProfilePanels, ChangeProfileWarnsOnceWhenUnmanagedAndCancelLeavesTheTree) {
    const NodeState before = node();
    set_managed(false);
    record.messages.clear();
    ChangeProfilePanel* panel = open_change_profile();
    ASSERT_NE(panel, nullptr);
    auto* dialog = qobject_cast<TransformationDialog*>(panel->window());
    ASSERT_NE(dialog, nullptr);
    ASSERT_EQ(record.warnings().size(), 1u);
    EXPECT_EQ(record.warnings()[0], unmanaged_warning);

    // Changing the values re-runs the node but does not warn again; Cancel undoes it all.
    panel->input_choice()->setCurrentIndex(1);
    EXPECT_TRUE(panel->input_list()->isEnabled());
    panel->gamut_alarm_box()->setChecked(true);
    settle(dialog);
    EXPECT_NE(dialog->command_line().find(" use_original 1 "), std::string::npos)
        << dialog->command_line();
    EXPECT_EQ(record.warnings().size(), 1u);
    dialog->reject();
    settle(dialog);
    const NodeState after = node();
    EXPECT_EQ(after.line, before.line);
    EXPECT_EQ(after.type, before.type);
}

TEST_F(ConvertProfilePanels, AnInputTurnedGrayUnderTheOpenDialogResetsItsProfiles) {
    const fs::path rgb_path = put_profile(
        "tessaly-switch-rgb.icc", tessaly::testing::rgb_profile("Tessaly Switch RGB", true));
    set_managed(true);
    // The dialog works after a Convert that keeps the photograph in colour for now.
    std::int32_t convert = -1;
    frame->run([&convert] {
        auto session = DialogSession::open_new(dialog_module_info(*find_module("convert")),
                                               "convert 0 otype 3", false);
        ASSERT_TRUE(session);
        ASSERT_FALSE(session->ok());
        convert = current_node()->serial;
    });
    frame->engine().wait_idle();
    ChangeProfilePanel* panel = open_change_profile();
    ASSERT_NE(panel, nullptr);
    auto* dialog = qobject_cast<TransformationDialog*>(panel->window());
    panel->output_list()->setCurrentIndex(item_of(panel->output_list(), "tessaly-switch-rgb.icc"));
    settle(dialog);
    ASSERT_NE(node().line.find("tessaly-switch-rgb.icc"), std::string::npos);
    record.messages.clear();

    // The Convert is edited to gray elsewhere and what follows it runs again.
    frame->run([convert] {
        Node* node = find_node_by_serial(convert);
        node->command_line = "convert 0 otype 2";
        ASSERT_FALSE(run_node(node->parent, node));
        (void)rerun_downstream(node, true);
    });
    frame->engine().wait_idle();
    ASSERT_EQ(record.warnings().size(), 1u);
    EXPECT_EQ(record.warnings()[0],
              "Change Profile: Input image switched from gray or color or from color to gray.\n"
              "Profiles will be reset to working color space.");
    const std::string gray = "\u2033" + change_profile_working_name(image_gray8) + "\u2033";
    const NodeState switched = node();
    EXPECT_NE(switched.line.find("output_profile " + gray), std::string::npos) << switched.line;
    EXPECT_EQ(switched.type, static_cast<std::uint32_t>(image_gray8));
    EXPECT_TRUE(record.errors().empty());
    // The dialog shows the reset settings, and OK keeps them.
    const QString working = QString::fromStdString(change_profile_working_name(image_gray8));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return panel->output_list()->currentData().toString() == working; }, 2000))
        << panel->output_list()->currentData().toString().toStdString();
    dialog->accept();
    settle(dialog);
    EXPECT_EQ(node().line, switched.line);
    fs::remove(rgb_path);
}

}  // namespace
}  // namespace tessaly::shell
