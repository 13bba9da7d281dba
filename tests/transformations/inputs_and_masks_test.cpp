// Auxiliary inputs and masks: Bypass, Copy, the Masks transformation and the amount control.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "framework/module.h"
#include "masks/amount_control.h"
#include "masks/mask_command_line.h"
#include "support/image_helpers.h"
#include "support/mask_helpers.h"
#include "support/recording_interaction.h"
#include "transformations/bypass.h"
#include "transformations/copy.h"
#include "tree/tree.h"

namespace tessaly {
namespace {

using testing::RecordingScope;

// Through the registry, as a re-run of the node would; a Copy node is a top level image.
std::uint8_t run_copy(Node& node, const std::string& line = "copy 0 display 1 sync_scroll 1") {
    return find_transformation("copy")->run(nullptr, &node, split(line));
}

Node* copy_of(Node* source) {
    Node* c = create_top_level_image(false, false, 0, 1, bypass_none, "Copy", false);
    c->command_line = "copy 0 display 1 sync_scroll 1";
    c->inputs[0] = source;
    return c;
}

// Two Copy trees use the image as their input, and a Rotate/Mirror node follows it.
TEST(Bypass, InsertingABypassOffersToMoveTheInputsThatUsedTheImage) {
    testing::RecordingScope scope;
    Node* top = create_top_level_image(false, false, 0, 0, bypass_none, "a.tif", false);
    ASSERT_FALSE(image_alloc(top->image, image_gray8, 2, 1, 72.0));
    top->image.rows[0][1] = 77;
    Node* turned = add_transformation_after(top, false, false, 0, 0, bypass_none, "Rotate/Mirror");
    turned->command_line = "rotref 0 orientation 1 display 1";
    Node* copies[2] = {copy_of(top), copy_of(top)};
    scope.recorder.answers = {Answer::yes};

    Node* bypass = insert_bypass(top);
    ASSERT_NE(bypass, nullptr);
    EXPECT_EQ(scope.recorder.questions,
              std::vector<std::string>{
                  "Confirm: Update all 2 auxiliary inputs that refer to bypassed image"});
    EXPECT_TRUE(*bypass->command_line == "bypass" && bypass->caption == "Bypass" &&
                bypass->bypass == bypass_structural && bypass->same_size &&
                bypass->input_count() + bypass->mask_count() == 0 && current_node() == bypass);
    ASSERT_EQ(top->children, std::vector<Node*>{bypass});
    ASSERT_EQ(bypass->children, std::vector<Node*>{turned});
    EXPECT_TRUE(image_equal(bypass->image, top->image));
    EXPECT_EQ(effective_image_node(bypass), top);
    // The users were re-run from their new input.
    for (Node* c : copies) EXPECT_TRUE(c->inputs[0] == bypass && image_equal(c->image, top->image));
    EXPECT_EQ(turned->image.height, 2u);

    // One user, answered No: nothing moves.
    close_all_images();
    top = create_top_level_image(false, false, 0, 0, bypass_none, "b.tif", false);
    ASSERT_FALSE(image_alloc(top->image, image_color24, 1, 1, 72.0));
    copies[0] = copy_of(top);
    scope.recorder.questions.clear();
    scope.recorder.answers = {Answer::no};
    ASSERT_NE(insert_bypass(top), nullptr);
    EXPECT_EQ(scope.recorder.questions,
              std::vector<std::string>{
                  "Confirm: Update auxiliary input in [Copy] that refers to bypassed image"});
    EXPECT_EQ(copies[0]->inputs[0], top);
    close_all_images();
}

TEST(Copy, CopiesTheEffectiveImageOfTheSlot) {
    const std::uint8_t profile[] = {9, 8, 7};
    Node source, bypassed, node;
    source.parent = &tree_root();
    ASSERT_FALSE(image_alloc(source.image, image_color48, 3, 2, 300.0));
    testing::fill_pattern(source.image, 18);
    ASSERT_FALSE(image_set_profile(source.image, profile, sizeof profile));
    ASSERT_FALSE(image_add_tag(source.image, 274, 3, 1, "\x06\x00"));
    // A bypassed node shows its parent's image, and so does its copy.
    bypassed.parent = &source;
    bypassed.bypass = bypass_user;
    ASSERT_FALSE(image_alloc(bypassed.image, image_gray8, 1, 1, 72.0));
    node.parent = &tree_root();
    node.inputs = {&bypassed};
    node.input_captions = {copy_input_caption};
    ASSERT_EQ(run_copy(node), 0);
    EXPECT_TRUE(image_equal(node.image, source.image) && node.image.tags &&
                node.image.tags->tag == 274u && node.image.rows != source.image.rows);

    // Binary stays binary; a slot naming the node itself keeps its image.
    ASSERT_FALSE(image_alloc(source.image, image_binary, 11, 1, 72.0));
    bit_set(source.image.rows[0], 10);
    ASSERT_EQ(run_copy(node, "copy 0"), 0);
    EXPECT_TRUE(node.image.type == image_binary && bit_get(node.image.rows[0], 10) == 255);
    node.inputs = {&node};
    ASSERT_EQ(run_copy(node, "copy 0"), 0);
    EXPECT_EQ(bit_get(node.image.rows[0], 10), 255);
}

// The recipe of a uniform mask of level (no operations), or of a left half over it.
std::string recipe(const Image& base, int level, bool sixteen = false, bool left_half = false) {
    MaskState state;
    mask_state_set_base(state, &base);
    state.initial_level = level;
    state.mask16 = sixteen ? 1 : 0;
    EXPECT_FALSE(mask_list_reset(state));
    if (left_half) {
        MaskOperation op;
        op.code = mask_op_left_half;
        EXPECT_FALSE(mask_record(state, op));
    }
    return mask_command_line(state);
}

Rows uniform(std::uint32_t level) {
    return Rows(2, std::vector<std::uint32_t>(4, level));
}

class MasksRun : public ::testing::Test {
  protected:
    void SetUp() override {
        input.parent = &tree_root();
        input.name = "in.png";
        node.parent = &input;
        node.name = "Masks";
        for (int k = 0; k < 4; ++k) node.masks.push_back(std::make_unique<MaskSettings>());
        input.image = mask_of(image_gray8, {{1, 2, 3, 4}, {5, 6, 7, 8}});
    }
    std::uint8_t run(const std::string& line) {
        return find_module("masks")->run(&input, &node, split(line));
    }
    // Masks 1 .. in_use in use (two amounts each); the others keep their single default amount.
    static std::string line(int output, int in_use = 0) {
        std::string out = "masks 0";
        for (int k = 1; k <= in_use; ++k) out += " amount" + std::to_string(k) + " 1 1 0 1 ″M″ ″M″";
        return out + " output " + std::to_string(output);
    }
    Node input, node;
    RecordingScope scope;
};

TEST_F(MasksRun, OutputsMasksAndTheirCombinations) {
    // Output 0 copies the input; a mask that is not in use is missing.
    ASSERT_EQ(run(line(0)), 0);
    EXPECT_TRUE(image_equal(node.image, input.image));
    EXPECT_EQ(run(line(2)), 1);
    EXPECT_EQ(node.error_text, "Missing Mask 2");

    // Recipes carried in the command line are rebuilt on the input before the run.
    const std::string with_masks = " mask_settings1 " + quoted_text(recipe(input.image, 200)) +
                                   " mask_settings2 " + quoted_text(recipe(input.image, 50));
    for (const auto& [output, level] : {std::pair{6, 150u}, {5, 200u}, {7, 50u}}) {
        ASSERT_EQ(run(line(output, 2) + (output == 6 ? with_masks : "")), 0);
        EXPECT_EQ(seen(node.image), uniform(level)) << output;
    }
    ASSERT_EQ(run(line(1, 2)), 0);
    EXPECT_TRUE(image_equal(node.image, node.masks[0]->image));

    // 50 - 200 is clipped to 0; the left half mask sets its halves to white and black.
    node.masks[0]->command_line = recipe(input.image, 50);
    node.masks[1]->command_line = recipe(input.image, 200);
    ASSERT_EQ(run(line(6, 2)), 0);
    EXPECT_EQ(seen(node.image), uniform(0));
    node.masks[1]->command_line = recipe(input.image, 200, false, true);
    ASSERT_EQ(run(line(5, 2)), 0);
    EXPECT_EQ(seen(node.image), (Rows{{255, 255, 50, 50}, {255, 255, 50, 50}}));
    node.masks[1]->command_line = recipe(input.image, 50, true);
    EXPECT_EQ(run(line(7, 2)), 1);
    EXPECT_EQ(node.error_text, "Masks 1 and 2 have different bit depths");
    // One amount only: the mask is built but not in use.
    EXPECT_EQ(run(line(5, 1)), 1);
    EXPECT_EQ(node.error_text, "Missing Mask 2");

    input.image = Image();
    EXPECT_EQ(run(line(0)), 1);
    EXPECT_EQ(node.error_text, "Illegal input image type");
}

TEST_F(MasksRun, AmountControlKeepsMasksConsistentWithTheirImage) {
    // A built mask of another size (no recipe to rebuild it) is reported and reset.
    node.masks[0]->image = mask_of(image_gray8, {{1, 2}});
    AmountSettings a =
        amount_control_init(&input, &node, 0, true, amount_mode_signed, nullptr, "Sky");
    EXPECT_EQ(scope.recorder.warnings(),
              std::vector<std::string>{
                  "Image and mask size mismatch (in.png and Masks Sky) - mask is being reset"});
    EXPECT_TRUE(node.masks[0]->image.empty() && a.amount == amount_half && a.second == -1 &&
                node.masks[0]->caption == "Sky");

    // A recipe is rebuilt on the input; two amounts then stay.
    node.masks[0]->command_line = recipe(input.image, 0, false, true);
    a = amount_control_init(&input, &node, 0, true, amount_mode_percent);
    EXPECT_EQ(seen(node.masks[0]->image), (Rows{{255, 255, 0, 0}, {255, 255, 0, 0}}));
    a.amount = 2500;
    a.second = amount_full;
    amount_reverse_sliders(a);
    EXPECT_TRUE(a.amount == amount_full && a.second == 2500);

    // Reset asks first and keeps everything on no.
    scope.recorder.answers = {Answer::no, Answer::yes};
    EXPECT_FALSE(amount_reset_mask(a, &node));
    EXPECT_FALSE(node.masks[0]->command_line.empty());
    EXPECT_TRUE(amount_reset_mask(a, &node));
    EXPECT_EQ(scope.recorder.questions.back(),
              "Confirm: Reset Mask?\nAll mask operations will be lost.");
    EXPECT_TRUE(a.amount == amount_full && a.second == -1 && node.masks[0]->command_line.empty() &&
                node.masks[0]->image.empty());

    // Starting a mask from another image's mask: the second amount appears.
    Node other;
    MaskSettings* started = amount_start_mask(a, &node, &other, 0, "other - Mask 1");
    ASSERT_EQ(started, node.masks[0].get());
    EXPECT_TRUE(a.second == amount_full && started->source_name == "other - Mask 1");
    a.mask_number = 7;
    EXPECT_EQ(amount_start_mask(a, &node), nullptr);
}

TEST_F(MasksRun, SettingsFilesKeepOnlyMasksThatRebuildFromTheirRecipe) {
    EXPECT_EQ(settings_file_dependency_warning(node), "");
    node.masks[0]->command_line = "mask one";
    node.masks[1]->command_line = "mask two";
    Node other;
    node.masks[1]->source = &other;
    const std::string tail =
        "\nThe saved settings file will omit this information; to save inputs or masks that "
        "depend on other images, use script files instead.";
    EXPECT_EQ(command_line_for_settings_file(node, "masks 0"), "masks 0 mask_settings1 ″mask one″");
    EXPECT_EQ(scope.recorder.warnings(),
              std::vector<std::string>{
                  "This transformation uses a mask that depends on another image." + tail});
    node.masks[2]->base_input_index = 0;
    EXPECT_EQ(settings_file_dependency_warning(node),
              "This transformation uses 2 masks that depend other images." + tail);
    node.inputs = {&other, nullptr};
    EXPECT_EQ(settings_file_dependency_warning(node),
              "This transformation depends on an auxiliary input and uses 2 masks that depend "
              "other images." +
                  tail);
    node.inputs = {&other, &other};
    node.masks[1]->source = nullptr;
    node.masks[2]->base_input_index = -1;
    EXPECT_EQ(settings_file_dependency_warning(node),
              "This transformation depends on 2 auxiliary inputs." + tail);
}

}  // namespace
}  // namespace tessaly
