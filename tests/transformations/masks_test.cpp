#include <gtest/gtest.h>

#include <string>

#include "framework/module.h"
#include "masks/amount_control.h"
#include "masks/mask_command_line.h"
#include "support/mask_helpers.h"
#include "support/recording_interaction.h"

namespace tessaly {
namespace {

using testing::RecordingScope;

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

const std::string two_amounts = "1 1 0 1 \u2033M\u2033 \u2033M\u2033";

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
    std::string line(int output, const std::string& a1 = "1 -1 0 1 ″M″ ″M″",
                     const std::string& a2 = "1 -1 0 1 ″M″ ″M″") {
        return "masks 0 amount1 " + a1 + " amount2 " + a2 +
               " amount3 1 -1 0 1 ″M″ ″M″ amount4 1 -1 0 1 ″M″ ″M″ output " +
               std::to_string(output) + " display 1 sync_scroll 1";
    }
    Node input, node;
    RecordingScope scope;
};

TEST_F(MasksRun, CommandLineOfAnotherTransformationFails) {
    EXPECT_EQ(run("masks x"), 0);  // a version that does not read only warns
    EXPECT_EQ(run("gaussian_blur 0"), 1);
    EXPECT_EQ(node.error_text, "Illegal Masks command line");
}

TEST_F(MasksRun, OutputsMasksAndTheirCombinations) {
    // Output 0 copies the input; a mask that is not in use is missing.
    ASSERT_EQ(run(line(0)), 0);
    EXPECT_TRUE(image_equal(node.image, input.image));
    EXPECT_EQ(run(line(2)), 1);
    EXPECT_EQ(node.error_text, "Missing Mask 2");

    // Recipes carried in the command line are rebuilt on the input before the run.
    const std::string with_masks = " mask_settings1 " + quoted_text(recipe(input.image, 200)) +
                                   " mask_settings2 " + quoted_text(recipe(input.image, 50));
    ASSERT_EQ(run(line(6, two_amounts, two_amounts) + with_masks), 0);
    EXPECT_EQ(seen(node.image), Rows(2, std::vector<std::uint32_t>(4, 150)));
    ASSERT_EQ(run(line(5, two_amounts, two_amounts)), 0);
    EXPECT_EQ(seen(node.image), Rows(2, std::vector<std::uint32_t>(4, 200)));
    ASSERT_EQ(run(line(7, two_amounts, two_amounts)), 0);
    EXPECT_EQ(seen(node.image), Rows(2, std::vector<std::uint32_t>(4, 50)));
    ASSERT_EQ(run(line(1, two_amounts, two_amounts)), 0);
    EXPECT_TRUE(image_equal(node.image, node.masks[0]->image));

    // 50 - 200 is clipped to 0; the left half mask sets its halves to white and black.
    node.masks[0]->command_line = recipe(input.image, 50);
    node.masks[1]->command_line = recipe(input.image, 200);
    ASSERT_EQ(run(line(6, two_amounts, two_amounts)), 0);
    EXPECT_EQ(seen(node.image), Rows(2, std::vector<std::uint32_t>(4, 0)));
    node.masks[1]->command_line = recipe(input.image, 200, false, true);
    ASSERT_EQ(run(line(5, two_amounts, two_amounts)), 0);
    EXPECT_EQ(seen(node.image), (Rows{{255, 255, 50, 50}, {255, 255, 50, 50}}));
    node.masks[1]->command_line = recipe(input.image, 50, true);
    EXPECT_EQ(run(line(7, two_amounts, two_amounts)), 1);
    EXPECT_EQ(node.error_text, "Masks 1 and 2 have different bit depths");
    // One amount only: the mask is built but not in use.
    EXPECT_EQ(run(line(5, two_amounts)), 1);
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
    EXPECT_TRUE(node.masks[0]->image.empty());
    EXPECT_EQ(a.amount, amount_half);
    EXPECT_EQ(a.second, -1);
    EXPECT_EQ(node.masks[0]->caption, "Sky");

    // A recipe is rebuilt on the input; two amounts then stay.
    node.masks[0]->command_line = recipe(input.image, 0, false, true);
    a = amount_control_init(&input, &node, 0, true, amount_mode_percent);
    EXPECT_EQ(seen(node.masks[0]->image), (Rows{{255, 255, 0, 0}, {255, 255, 0, 0}}));
    a.amount = 2500;
    a.second = amount_full;
    amount_reverse_sliders(a);
    EXPECT_EQ(a.amount, amount_full);
    EXPECT_EQ(a.second, 2500);

    // Reset asks first and keeps everything on no.
    scope.recorder.answers = {Answer::no, Answer::yes};
    EXPECT_FALSE(amount_reset_mask(a, &node));
    EXPECT_FALSE(node.masks[0]->command_line.empty());
    EXPECT_TRUE(amount_reset_mask(a, &node));
    EXPECT_EQ(scope.recorder.questions.back(),
              "Confirm: Reset Mask?\nAll mask operations will be lost.");
    EXPECT_EQ(a.amount, amount_full);
    EXPECT_EQ(a.second, -1);
    EXPECT_TRUE(node.masks[0]->command_line.empty());
    EXPECT_TRUE(node.masks[0]->image.empty());

    // Starting a mask from another image's mask: the second amount appears.
    Node other;
    MaskSettings* started = amount_start_mask(a, &node, &other, 0, "other - Mask 1");
    ASSERT_EQ(started, node.masks[0].get());
    EXPECT_EQ(a.second, amount_full);
    EXPECT_EQ(started->source_name, "other - Mask 1");
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
