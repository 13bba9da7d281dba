#include "masks/mask_operations.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "masks/mask_command_line.h"
#include "support/mask_helpers.h"
#include "support/recording_interaction.h"

namespace tessaly {
namespace {

using testing::RecordingScope;
using Values = std::vector<std::uint32_t>;

TEST(MaskOperations, WholeMaskOperationsAndTheSavedMask) {
    RecordingScope scope;
    // 5 x 3: halves are columns 0-1 and the top row (integer halves of 5 and 3).
    Image base;
    ASSERT_FALSE(image_alloc(base, image_gray8, 5, 3, 0));
    const auto rows = [](Values top, Values rest) { return Rows{top, rest, rest}; };
    const Values zeros(5, 0), whites(5, 255), left = {255, 255, 0, 0, 0},
                                              right = {0, 0, 255, 255, 255};
    MaskOperation curve{mask_op_brightness_curve};  // (0,0) to (255,128), broken line
    curve.parameters.curve.style = curve_linear;
    curve.parameters.curve.y[1] = 128;
    const std::pair<MaskOperation, Rows> steps[] = {
        {{mask_op_left_half}, rows(left, left)},
        {{mask_op_top_half}, rows(whites, zeros)},
        {{mask_op_bottom_half}, rows(zeros, whites)},
        {{mask_op_right_half}, rows(right, right)},
        {{mask_op_gray}, rows(Values(5, 128), Values(5, 128))},
        {{mask_op_all}, rows(whites, whites)},
        // Save the left half, invert it, then combine the saved mask back.
        {{mask_op_left_half}, rows(left, left)},
        {{mask_op_save}, rows(left, left)},
        {{mask_op_invert}, rows(right, right)},
        {{mask_op_combine_saved, mask_overlap}, rows(zeros, zeros)},
        {{mask_op_combine_saved, mask_add}, rows(left, left)},
        {curve, rows({128, 128, 0, 0, 0}, {128, 128, 0, 0, 0})}};
    MaskState state;
    mask_state_set_base(state, &base);
    state.initial_level = 10;
    ASSERT_FALSE(mask_list_reset(state));
    EXPECT_EQ(seen(state.current_mask), rows(Values(5, 10), Values(5, 10)));
    for (const auto& [o, expected] : steps) {
        EXPECT_FALSE(mask_record(state, o));
        EXPECT_EQ(seen(state.current_mask), expected) << o.code;
    }
    EXPECT_TRUE(scope.recorder.messages.empty());

    // Without a saved mask, or with one of another size, the mask stays as it is.
    MaskState other;
    mask_state_set_base(other, &base);
    other.initial_level = 7;
    ASSERT_FALSE(mask_list_reset(other));
    EXPECT_FALSE(mask_record(other, {mask_op_combine_saved}));
    other.saved_mask = mask_of(image_gray8, {{1, 2}});
    EXPECT_FALSE(mask_record(other, {mask_op_combine_saved}));
    EXPECT_EQ(seen(other.current_mask)[1][1], 7u);
    EXPECT_EQ(scope.recorder.errors(),
              (std::vector<std::string>{"No saved mask image",
                                        "Saved mask not the save size as current mask"}));
}

TEST(MaskOperations, UndoRedoAndThePendingOperation) {
    RecordingScope scope;
    Image base;
    ASSERT_FALSE(image_alloc(base, image_gray16, 2, 1, 0));
    MaskState state;
    mask_state_set_base(state, &base);
    state.mask16 = 1;
    state.initial_level = 128;
    ASSERT_FALSE(mask_list_reset(state));
    const auto mask = [&](const Image& m = Image()) {
        return seen(m.empty() ? state.current_mask : m)[0];
    };
    EXPECT_EQ(mask(), (Values{32896, 32896}));
    EXPECT_FALSE(mask_can_undo(state));
    EXPECT_FALSE(mask_record(state, {mask_op_all}) || mask_record(state, {mask_op_invert}));
    EXPECT_EQ(mask(), (Values{0, 0}));
    EXPECT_EQ(mask(state.records[2].before), (Values{65535, 65535}));
    EXPECT_TRUE(mask_undo(state) && mask_can_redo(state));
    EXPECT_EQ(mask(), (Values{65535, 65535}));
    // The text keeps what is shown: one command after one undo.
    const std::string text = mask_command_line(state);
    EXPECT_NE(text.find("n_op 1 "), std::string::npos);
    EXPECT_NE(text.find(" command1 operation 17 "), std::string::npos);
    EXPECT_EQ(text.find("command2"), std::string::npos);
    EXPECT_TRUE(mask_redo(state));
    EXPECT_FALSE(mask_redo(state));
    EXPECT_EQ(mask(), (Values{0, 0}));

    // A pending operation shows in the pending mask only, until it is applied; undo drops it;
    // recording after an undo discards the records after the position.
    EXPECT_FALSE(mask_set_pending(state, {mask_op_gray}));
    EXPECT_EQ(mask(state.pending_mask), (Values{32768, 32768}));
    EXPECT_TRUE(mask() == (Values{0, 0}) && state.records.size() == 3u);
    mask_cancel_pending(state);
    EXPECT_EQ(mask(state.pending_mask), (Values{0, 0}));
    EXPECT_TRUE(mask_apply_pending(state));  // nothing pending
    EXPECT_FALSE(mask_set_pending(state, {mask_op_left_half}));
    EXPECT_TRUE(mask_undo(state));
    EXPECT_FALSE(state.pending);
    EXPECT_FALSE(mask_record(state, {mask_op_left_half}));
    EXPECT_TRUE(state.records.size() == 3u && state.records[2].operation.code == mask_op_left_half);
    EXPECT_EQ(mask(), (Values{65535, 0}));
    EXPECT_FALSE(mask_can_redo(state));

    // Reset asks first; refused, nothing changes; accepted, the head is left alone.
    scope.recorder.answers.push_back(Answer::no);
    EXPECT_TRUE(mask_reset_asked(state));
    EXPECT_EQ(state.records.size(), 3u);
    ASSERT_FALSE(mask_reset_asked(state));
    EXPECT_EQ(
        scope.recorder.questions,
        (std::vector<std::string>(2, "Confirm: Reset Mask?\nAll mask operations will be lost.")));
    EXPECT_TRUE(state.records.size() == 1u && mask_recorded_count(state) == 0u);
    EXPECT_EQ(mask(), (Values{32896, 32896}));
    EXPECT_TRUE(scope.recorder.messages.empty());
}

TEST(MaskOperations, ReplayOnImagesOfOtherSizes) {
    RecordingScope scope;
    // n_op 3 with no command 2: two operations are replayed, the left half (2 columns of 4 or 5)
    // and its inversion.
    MaskSettings mask;
    for (std::uint32_t width : {4u, 5u}) {
        Image base;
        ASSERT_FALSE(image_alloc(base, image_color24, width, 2, 0));
        mask.command_line =
            "mask 0 nx 4 ny 2 mask_mode 0 mask16 0 initial_level 0 n_op 3 "
            "command1 operation 20 mask_mode 0 command3 operation 19 mask_mode 0";
        EXPECT_FALSE(rebuild_mask(mask, base));
        Values row(width, 255);
        row[0] = row[1] = 0;
        EXPECT_EQ(seen(mask.image), (Rows{row, row}));
    }

    // Combining with a saved mask before one was saved: the replay says so, keeps the mask
    // before it and goes on.
    Image base;
    ASSERT_FALSE(image_alloc(base, image_gray8, 3, 3, 0));
    mask.command_line =
        "mask 0 nx 3 ny 3 initial_level 5 n_op 2 command1 operation 25 command2 operation 19";
    EXPECT_FALSE(rebuild_mask(mask, base));
    EXPECT_EQ(seen(mask.image), Rows(3, Values(3, 250)));
    EXPECT_EQ(scope.recorder.errors(), std::vector<std::string>{"No saved mask image"});

    // The mask is built on the node's input, or on the auxiliary input it names.
    Node input, other, node;
    ASSERT_FALSE(image_alloc(input.image, image_gray8, 1, 1, 0));
    ASSERT_FALSE(image_alloc(other.image, image_gray8, 2, 2, 0));
    node.inputs = {&other};
    EXPECT_EQ(mask_base_image(&input, node, mask), &input.image);
    mask.base_input_index = 0;
    EXPECT_EQ(mask_base_image(&input, node, mask), &other.image);
    mask.base_input_index = 1;
    EXPECT_EQ(mask_base_image(&input, node, mask), nullptr);
    mask.base_input_index = -1;

    // An initial mask image of another size resets the mask; no recipe builds nothing.
    mask.initial_image = mask_of(image_gray8, {{1, 2}});
    EXPECT_FALSE(rebuild_mask(mask, base));
    EXPECT_TRUE(mask.command_line.empty() && mask.image.empty() && mask.initial_image.empty());
    EXPECT_TRUE(mask_settings_empty(mask));

    // An initial image of the other depth is converted: 8-bit 255 and 0 become 65535 and 0.
    mask.initial_image = mask_of(image_gray8, {{255, 0, 0}, {0, 0, 0}, {0, 0, 0}});
    mask.command_line = "mask 0 mask16 1 n_op 0";
    EXPECT_FALSE(rebuild_mask(mask, base));
    EXPECT_EQ(seen(mask.image)[0], (Values{65535, 0, 0}));
}

}  // namespace
}  // namespace tessaly
