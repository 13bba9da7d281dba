#include "framework/registry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
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
};

TEST_F(RegistryTest, RowsAreUniqueAndLookupIsExactWithOneAlias) {
    std::set<std::string> keywords;
    std::set<std::uint32_t> ids;
    for (const auto& e : registry_rows()) {
        keywords.insert(e.keyword);
        ids.insert(e.command_id);
        EXPECT_TRUE(e.command_id == 1000 || e.command_id == 1001 || e.command_id == 1101 ||
                    (e.command_id >= 1200 && e.command_id <= 1359))
            << e.keyword;
        EXPECT_NE(e.run, nullptr) << e.keyword;
        EXPECT_EQ(find_transformation(e.keyword), &e) << e.keyword;
        EXPECT_EQ(find_transformation_by_command(e.command_id), &e) << e.keyword;
    }
    EXPECT_EQ(keywords.size(), registry_rows().size());
    EXPECT_EQ(ids.size(), registry_rows().size());

    EXPECT_EQ(find_transformation("bilateral_sharpen"), find_transformation("multipass_sharpen"));
    for (const char* wrong : {"Add_border", "add_border ", ""})
        EXPECT_EQ(find_transformation(wrong), nullptr) << wrong;
    Node node;
    node.command_line = "bilateral_sharpen 0 radius 2";
    NodeDescription d = describe_node(&node);
    EXPECT_EQ(d.display_name, "Multipass Sharpen");
    EXPECT_EQ(d.command_id, 1208);
    node.command_line = "nonsense 0";
    EXPECT_EQ(describe_node(&node).command_id, -1);
    node.command_line.reset();
    EXPECT_EQ(describe_node(&node).display_name, "");
}

TEST_F(RegistryTest, MaskAndInputCountsAreClamped) {
    testing::RecordingScope scope;
    std::int32_t inputs = 7, masks = 0;
    EXPECT_FALSE(check_masks_and_inputs("clone 1 x 1", inputs, masks));
    EXPECT_EQ(inputs, 7);  // not checked
    EXPECT_EQ(masks, 1);   // set to the maximum in any case
    EXPECT_TRUE(scope.recorder.messages.empty());

    inputs = 17;
    masks = 17;
    EXPECT_FALSE(check_masks_and_inputs("stack_images 0", inputs, masks));
    EXPECT_EQ(inputs, 16);
    EXPECT_EQ(masks, 16);
    EXPECT_EQ(scope.recorder.warnings(),
              (std::vector<std::string>{"Internal Error: n_inputs mismatch",
                                        "check_masks_and_inputs: n_masks mismatch"}));
    inputs = 3;
    masks = 0;
    EXPECT_FALSE(check_masks_and_inputs("bilateral_sharpen 0", inputs, masks));
    EXPECT_EQ(inputs, 0);
    EXPECT_EQ(masks, 1);
    EXPECT_TRUE(check_masks_and_inputs("", inputs, masks));
    EXPECT_TRUE(check_masks_and_inputs("no_such 0", inputs, masks));
}

TEST_F(RegistryTest, EditingNodes) {
    testing::RecordingScope scope;
    Node node;
    for (const char* line : {"bypass 0", "color_chart 0", "Q13 0", "sharpen_test 0"}) {
        node.command_line = line;
        EXPECT_FALSE(open_node_for_editing(&node)) << line;
    }
    EXPECT_TRUE(scope.recorder.messages.empty());
    node.command_line = "frobnicate 0";
    EXPECT_TRUE(open_node_for_editing(&node));
    node.command_line = "resize 0";  // no dialog before the desktop program exists
    EXPECT_TRUE(open_node_for_editing(&node));
    EXPECT_EQ(scope.recorder.errors(),
              (std::vector<std::string>{"No such transformation: frobnicate",
                                        "Transformation cannot be edited: resize"}));
}

TEST_F(RegistryTest, UseCountsSortAndPersist) {
    set_use_count("blur", 5);
    set_use_count("crop", 5);
    sort_by_use_count();
    auto rows = registry_rows();
    // The exchange sort moves Blur to the first row and Add Border into Blur's old place, then
    // Crop to the second row and Add Texture into Crop's old place.
    EXPECT_EQ(std::string(rows[0].keyword), "blur");
    EXPECT_EQ(std::string(rows[1].keyword), "crop");
    EXPECT_EQ(std::string(rows[2].keyword), "adjust");
    EXPECT_EQ(std::string(rows[7].keyword), "add_border");
    EXPECT_EQ(std::string(rows[35].keyword), "add_texture");

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
    const std::uint32_t gaussian_blur = 1212, file_open = 1001, clone = 1350, color_spin = 1315,
                        paste = 1101;
    EXPECT_TRUE(is_command_disabled(gaussian_blur));  // no current node: no image type
    EXPECT_FALSE(is_command_disabled(file_open));
    Node image;
    image.parent = &tree_root();
    ASSERT_FALSE(image_alloc(image.image, image_binary, 4, 4, 72));
    store_current_node(&image, -1);
    EXPECT_FALSE(is_command_disabled(gaussian_blur));
    EXPECT_TRUE(is_command_disabled(clone));  // every type but Binary
    ASSERT_FALSE(image_alloc(image.image, image_gray16, 4, 4, 72));
    EXPECT_FALSE(is_command_disabled(clone));

    Node splitter, branch, bypassed;
    splitter.kind = node_splitter;
    branch.kind = node_side_branch;
    store_current_node(&splitter, -1);
    EXPECT_TRUE(is_command_disabled(gaussian_blur));
    EXPECT_FALSE(is_command_disabled(file_open));
    store_current_node(&branch, -1);
    EXPECT_FALSE(is_command_disabled(gaussian_blur));
    // A bypassed node is judged by the image it shows: its parent's.
    bypassed.parent = &image;
    bypassed.bypass = bypass_user;
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
    // Matches: empty, a first letter, a word start, later letters anywhere, a word after a blank.
    for (auto [typed, name] : {std::pair{"", "Resize"},
                               {"g", "Gaussian Blur"},
                               {"B", "Gaussian Blur"},
                               {"bl", "Gaussian Blur"},
                               {"gb", "Gaussian Blur"},
                               {"b", "Ab b"}})
        EXPECT_TRUE(quick_pick_match(typed, name)) << typed << " " << name;
    // No word starts with x; not shorter than the name; a trailing blank starts no word.
    for (auto [typed, name] :
         {std::pair{"x", "Box"}, {"ab", "Ab"}, {"b", "Ab "}, {"gx", "Gaussian Blur"}})
        EXPECT_FALSE(quick_pick_match(typed, name)) << typed << " " << name;

    Node image;
    image.parent = &tree_root();
    ASSERT_FALSE(image_alloc(image.image, image_color24, 4, 4, 72));
    store_current_node(&image, -1);
    EXPECT_EQ(quick_pick("resize").command, 1221);  // the whole name, any case
    QuickPickResult q = quick_pick("q");            // only Q-13 has a word starting with q
    EXPECT_EQ(q.command, 1280);
    EXPECT_FALSE(q.open_dialog);
    q = quick_pick("b");
    EXPECT_EQ(q.command, -1);
    EXPECT_TRUE(q.open_dialog);
    q = quick_pick("zq");
    EXPECT_EQ(q.command, -1);
    EXPECT_FALSE(q.open_dialog);
}

TEST_F(RegistryTest, FavoritesAndUnwrittenModules) {
    EXPECT_EQ(favorite_command("Bilateral Sharpen"), 1208);
    EXPECT_EQ(favorite_command("Rotate/Mirror"), 1220);
    EXPECT_EQ(favorite_command("rotate/mirror"), -1);

    Node node;
    std::uint8_t error = run_not_available(nullptr, &node, split("fan 0 angle 3"));
    EXPECT_EQ(error, 1);
    EXPECT_TRUE(node.error);
    EXPECT_EQ(node.error_text, "Transformation not available: fan");
}

}  // namespace
}  // namespace tessaly
