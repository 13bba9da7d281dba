#include "framework/registry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <tuple>
#include <utility>

#include "support/recording_interaction.h"

namespace tessaly {
namespace {

// Tests that reorder or count rows put the registry back as they found it.
class RegistryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const auto& e : registry_rows()) original_.emplace_back(e.keyword);
        reset_use_counts();
    }
    void TearDown() override {
        std::map<std::string, std::size_t> position;
        for (std::size_t i = 0; i < original_.size(); ++i) position[original_[i]] = i;
        auto rows = registry_rows();
        std::sort(rows.begin(), rows.end(), [&](const auto& a, const auto& b) {
            return position[a.keyword] < position[b.keyword];
        });
        reset_use_counts();
        store_current_node(nullptr, -1);
    }
    std::vector<std::string> original_;
    testing::RecordingScope scope_;
};

TEST_F(RegistryTest, RowsAreUniqueAndLookupIsExactWithOneAlias) {
    // Each row found by its own keyword and command: none shares either with another.
    for (const auto& e : registry_rows()) {
        EXPECT_EQ(find_transformation(e.keyword), &e) << e.keyword;
        EXPECT_EQ(find_transformation_by_command(e.command_id), &e) << e.keyword;
    }
    EXPECT_EQ(find_transformation("bilateral_sharpen"), find_transformation("multipass_sharpen"));
    for (const char* wrong : {"Add_border", "add_border ", ""})
        EXPECT_EQ(find_transformation(wrong), nullptr) << wrong;
    Node node;
    node.command_line = "bilateral_sharpen 0 radius 2";
    EXPECT_EQ(describe_node(&node).display_name, "Multipass Sharpen");
    EXPECT_EQ(describe_node(&node).command_id, 1208);
    node.command_line = "nonsense 0";
    EXPECT_EQ(describe_node(&node).command_id, -1);
    node.command_line.reset();
    EXPECT_EQ(describe_node(&node).display_name, "");
    EXPECT_EQ(favorite_command("Bilateral Sharpen"), 1208);
    EXPECT_EQ(favorite_command("Rotate/Mirror"), 1220);
    EXPECT_EQ(favorite_command("rotate/mirror"), -1);
    EXPECT_EQ(run_not_available(nullptr, &node, split("fan 0 angle 3")), 1);
    EXPECT_TRUE(node.error);
    EXPECT_EQ(node.error_text, "Transformation not available: fan");
}

TEST_F(RegistryTest, MaskAndInputCountsAreClampedAndNodesOpenForEditing) {
    // Line, inputs and masks given, and what they become: Clone's inputs are not checked, its
    // masks are set to the maximum in any case.
    const std::tuple<const char*, int, int, int, int> counts[] = {
        {"clone 1 x 1", 7, 0, 7, 1},
        {"stack_images 0", 17, 17, 16, 16},
        {"bilateral_sharpen 0", 3, 0, 0, 1}};
    for (auto [line, inputs, masks, inputs_after, masks_after] : counts) {
        EXPECT_FALSE(check_masks_and_inputs(line, inputs, masks)) << line;
        EXPECT_EQ(inputs, inputs_after) << line;
        EXPECT_EQ(masks, masks_after) << line;
    }
    std::int32_t inputs = 0, masks = 0;
    EXPECT_TRUE(check_masks_and_inputs("", inputs, masks));
    EXPECT_TRUE(check_masks_and_inputs("no_such 0", inputs, masks));
    EXPECT_EQ(scope_.recorder.warnings(),
              (std::vector<std::string>{"Internal Error: n_inputs mismatch",
                                        "check_masks_and_inputs: n_masks mismatch",
                                        "Internal Error: n_inputs mismatch"}));

    Node node;
    for (const char* line : {"bypass 0", "color_chart 0", "Q13 0", "sharpen_test 0"}) {
        node.command_line = line;
        EXPECT_FALSE(open_node_for_editing(&node)) << line;
    }
    EXPECT_TRUE(scope_.recorder.errors().empty());
    node.command_line = "frobnicate 0";
    EXPECT_TRUE(open_node_for_editing(&node));
    node.command_line = "resize 0";  // no dialog before the desktop program exists
    EXPECT_TRUE(open_node_for_editing(&node));
    EXPECT_EQ(scope_.recorder.errors(),
              (std::vector<std::string>{"No such transformation: frobnicate",
                                        "Transformation cannot be edited: resize"}));
}

TEST_F(RegistryTest, UseCountsSortAndPersist) {
    set_use_count("blur", 5);
    set_use_count("crop", 5);
    sort_by_use_count();
    // The exchange sort moves Blur to the first row and Add Border into Blur's old place, then
    // Crop to the second row and Add Texture into Crop's old place.
    for (auto [row, keyword] :
         {std::pair{0, "blur"}, {1, "crop"}, {2, "adjust"}, {7, "add_border"}, {35, "add_texture"}})
        EXPECT_EQ(std::string(registry_rows()[row].keyword), keyword) << row;

    bump_use_count(1221);
    bump_use_count(1221);
    EXPECT_EQ(use_count_lines(), (std::vector<std::string>{"use_count \u2033blur\u2033 5",
                                                           "use_count \u2033crop\u2033 5",
                                                           "use_count \u2033resize\u2033 2"}));
    reset_use_counts();
    UseCountReader reader;
    reader.line(split("use_count \u2033bilateral_sharpen\u2033 3"));
    reader.line(split("use_count \u2033multipass_sharpen\u2033 4"));
    reader.line(split("use_count \u2033resize\u2033 9"));
    reader.finish();
    EXPECT_EQ(find_transformation("multipass_sharpen")->use_count, 7);
    EXPECT_EQ(find_transformation("resize")->use_count, 9);
}

TEST_F(RegistryTest, ApplicabilityFollowsTheCurrentNode) {
    const std::uint32_t blur = 1212, file_open = 1001, clone = 1350, color_spin = 1315,
                        paste = 1101;
    Node image, splitter, branch, bypassed;
    image.parent = &tree_root();
    splitter.kind = node_splitter;
    branch.kind = node_side_branch;
    bypassed.parent = &image;  // judged by the image it shows: its parent's
    bypassed.bypass = bypass_user;
    ASSERT_FALSE(image_alloc(image.image, image_binary, 4, 4, 72));
    // Current node, and whether Gaussian Blur, File Open and Clone (every type but Binary) are
    // disabled; no current node means no image type.
    const std::tuple<Node*, bool, bool, bool> cases[] = {{nullptr, true, false, true},
                                                         {&image, false, false, true},
                                                         {&splitter, true, false, true},
                                                         {&branch, false, false, false}};
    for (auto [current, blur_off, open_off, clone_off] : cases) {
        store_current_node(current, -1);
        EXPECT_EQ(is_command_disabled(blur), blur_off);
        EXPECT_EQ(is_command_disabled(file_open), open_off);
        EXPECT_EQ(is_command_disabled(clone), clone_off);
    }
    ASSERT_FALSE(image_alloc(image.image, image_gray16, 4, 4, 72));
    store_current_node(&bypassed, -1);
    EXPECT_FALSE(is_command_disabled(clone));
    EXPECT_FALSE(is_command_disabled(color_spin));  // no row: never disabled
    EXPECT_FALSE(is_command_disabled(paste));
    std::int32_t mask = 0;
    EXPECT_TRUE(command_applicability(paste, mask));
    EXPECT_EQ(mask, 0x80);
    EXPECT_FALSE(command_applicability(color_spin, mask));
}

TEST_F(RegistryTest, QuickPick) {
    // Matches: empty, a first letter, a word start, later letters anywhere, a word after a blank;
    // no word starts with x; not shorter than the name; a trailing blank starts no word.
    const std::tuple<const char*, const char*, bool> matches[] = {
        {"", "Resize", true},          {"g", "Gaussian Blur", true},  {"B", "Gaussian Blur", true},
        {"bl", "Gaussian Blur", true}, {"gb", "Gaussian Blur", true}, {"b", "Ab b", true},
        {"x", "Box", false},           {"ab", "Ab", false},           {"b", "Ab ", false},
        {"gx", "Gaussian Blur", false}};
    for (auto [typed, name, match] : matches)
        EXPECT_EQ(quick_pick_match(typed, name), match) << typed << " " << name;

    Node image;
    image.parent = &tree_root();
    ASSERT_FALSE(image_alloc(image.image, image_color24, 4, 4, 72));
    store_current_node(&image, -1);
    // The whole name in any case; only Q-13 has a word starting with q; several or none.
    const std::tuple<const char*, int, bool> picks[] = {
        {"resize", 1221, false}, {"q", 1280, false}, {"b", -1, true}, {"zq", -1, false}};
    for (auto [typed, command, dialog] : picks) {
        const QuickPickResult q = quick_pick(typed);
        EXPECT_EQ(q.command, command) << typed;
        EXPECT_EQ(q.open_dialog, dialog) << typed;
    }
}

}  // namespace
}  // namespace tessaly
