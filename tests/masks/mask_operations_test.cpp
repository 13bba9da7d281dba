#include "masks/mask_operations.h"

#include <gtest/gtest.h>

#include <vector>

#include "masks/mask_command_line.h"
#include "support/mask_helpers.h"
#include "support/recording_interaction.h"

namespace tessaly {
namespace {

using testing::RecordingScope;
MaskOperation op(std::int32_t code, std::int32_t mode = mask_add) {
    MaskOperation o;
    o.code = code;
    o.mode = mode;
    return o;
}

TEST(MaskOperations, CombineModesOnSmallMasks) {
    const Image m8 = mask_of(image_gray8, {{0, 100, 200, 255}});
    const Image s8 = mask_of(image_gray8, {{50, 150, 100, 255}});
    const Image m16 = mask_of(image_gray16, {{0, 1000, 40000, 65535}});
    const Image s16 = mask_of(image_gray16, {{500, 3000, 30000, 65535}});
    const Rows expected8[4] = {
        {{50, 150, 200, 255}}, {{0, 0, 100, 0}}, {{0, 100, 100, 255}}, {{50, 242, 172, 0}}};
    const Rows expected16[4] = {{{500, 3000, 40000, 65535}},
                                {{0, 0, 10000, 0}},
                                {{0, 1000, 30000, 65535}},
                                {{500, 2128, 59760, 0}}};
    for (std::int32_t mode = 0; mode < 4; ++mode) {
        Image after = mask_of(image_gray8, {{9, 9, 9, 9}});
        ASSERT_FALSE(mask_merge(m8, s8, mode, after));
        EXPECT_EQ(seen(after), expected8[mode]) << "mode " << mode;
        Image after16 = mask_of(image_gray16, {{9, 9, 9, 9}});
        ASSERT_FALSE(mask_merge(m16, s16, mode, after16));
        EXPECT_EQ(seen(after16), expected16[mode]) << "mode " << mode;
    }
}

TEST(MaskOperations, WholeMaskOperationsAndTheSavedMask) {
    RecordingScope scope;
    // 5 x 3: halves are columns 0-1 and the top row (integer halves of 5 and 3).
    Image base;
    ASSERT_FALSE(image_alloc(base, image_gray8, 5, 3, 0));
    MaskState state;
    mask_state_set_base(state, &base);
    state.initial_level = 10;
    ASSERT_FALSE(mask_list_reset(state));
    EXPECT_EQ(seen(state.current_mask), Rows(3, std::vector<std::uint32_t>(5, 10)));

    const Rows left = {{255, 255, 0, 0, 0}, {255, 255, 0, 0, 0}, {255, 255, 0, 0, 0}};
    const Rows top = {{255, 255, 255, 255, 255}, {0, 0, 0, 0, 0}, {0, 0, 0, 0, 0}};
    EXPECT_FALSE(mask_record(state, op(mask_op_left_half)));
    EXPECT_EQ(seen(state.current_mask), left);
    EXPECT_FALSE(mask_record(state, op(mask_op_top_half)));
    EXPECT_EQ(seen(state.current_mask), top);
    EXPECT_FALSE(mask_record(state, op(mask_op_bottom_half)));
    EXPECT_EQ(seen(state.current_mask)[0][0], 0u);
    EXPECT_EQ(seen(state.current_mask)[2][4], 255u);
    EXPECT_FALSE(mask_record(state, op(mask_op_right_half)));
    EXPECT_EQ(seen(state.current_mask)[1], (std::vector<std::uint32_t>{0, 0, 255, 255, 255}));
    EXPECT_FALSE(mask_record(state, op(mask_op_gray)));
    EXPECT_EQ(seen(state.current_mask)[2][2], 128u);
    EXPECT_FALSE(mask_record(state, op(mask_op_all)));
    EXPECT_EQ(seen(state.current_mask)[0][0], 255u);

    // Save the left half, invert it, then add the saved mask back: everything white.
    EXPECT_FALSE(mask_record(state, op(mask_op_left_half)));
    EXPECT_FALSE(mask_record(state, op(mask_op_save)));
    EXPECT_EQ(seen(state.current_mask), left);
    EXPECT_FALSE(mask_record(state, op(mask_op_invert)));
    EXPECT_EQ(seen(state.current_mask)[0], (std::vector<std::uint32_t>{0, 0, 255, 255, 255}));
    EXPECT_FALSE(mask_record(state, op(mask_op_combine_saved, mask_overlap)));
    EXPECT_EQ(seen(state.current_mask), Rows(3, std::vector<std::uint32_t>(5, 0)));
    EXPECT_FALSE(mask_record(state, op(mask_op_combine_saved, mask_add)));
    EXPECT_EQ(seen(state.current_mask), left);

    // A brightness curve through (0,0) and (255,128), broken line: 255 becomes 128.
    MaskOperation curve = op(mask_op_brightness_curve);
    curve.parameters.curve.style = curve_linear;
    curve.parameters.curve.y[1] = 128;
    EXPECT_FALSE(mask_record(state, curve));
    EXPECT_EQ(seen(state.current_mask)[0], (std::vector<std::uint32_t>{128, 128, 0, 0, 0}));
    EXPECT_TRUE(scope.recorder.messages.empty());

    // Without a saved mask, or with one of another size, the mask stays as it is.
    MaskState other;
    mask_state_set_base(other, &base);
    other.initial_level = 7;
    ASSERT_FALSE(mask_list_reset(other));
    EXPECT_FALSE(mask_record(other, op(mask_op_combine_saved)));
    other.saved_mask = mask_of(image_gray8, {{1, 2}});
    EXPECT_FALSE(mask_record(other, op(mask_op_combine_saved)));
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
    EXPECT_EQ(seen(state.current_mask), (Rows{{32896, 32896}}));
    EXPECT_FALSE(mask_can_undo(state));

    EXPECT_FALSE(mask_record(state, op(mask_op_all)));
    EXPECT_FALSE(mask_record(state, op(mask_op_invert)));
    EXPECT_EQ(seen(state.current_mask), (Rows{{0, 0}}));
    EXPECT_EQ(seen(state.records[2].before), (Rows{{65535, 65535}}));
    EXPECT_TRUE(mask_undo(state));
    EXPECT_EQ(seen(state.current_mask), (Rows{{65535, 65535}}));
    EXPECT_TRUE(mask_can_redo(state));
    // The text keeps what is shown: one command after one undo.
    const std::string text = mask_command_line(state);
    EXPECT_NE(text.find("n_op 1 "), std::string::npos);
    EXPECT_NE(text.find(" command1 operation 17 "), std::string::npos);
    EXPECT_EQ(text.find("command2"), std::string::npos);
    EXPECT_TRUE(mask_redo(state));
    EXPECT_FALSE(mask_redo(state));
    EXPECT_EQ(seen(state.current_mask), (Rows{{0, 0}}));

    // A pending operation shows in the pending mask only, until it is applied.
    EXPECT_FALSE(mask_set_pending(state, op(mask_op_gray)));
    EXPECT_EQ(seen(state.pending_mask), (Rows{{32768, 32768}}));
    EXPECT_EQ(seen(state.current_mask), (Rows{{0, 0}}));
    EXPECT_EQ(state.records.size(), 3u);
    mask_cancel_pending(state);
    EXPECT_EQ(seen(state.pending_mask), (Rows{{0, 0}}));
    EXPECT_TRUE(mask_apply_pending(state));  // nothing pending
    EXPECT_FALSE(mask_set_pending(state, op(mask_op_left_half)));
    EXPECT_TRUE(mask_undo(state));  // undo drops what was pending
    EXPECT_FALSE(state.pending);
    // Recording after an undo discards the records after the position.
    EXPECT_FALSE(mask_record(state, op(mask_op_left_half)));
    EXPECT_EQ(state.records.size(), 3u);
    EXPECT_EQ(state.records[2].operation.code, mask_op_left_half);
    EXPECT_EQ(seen(state.current_mask), (Rows{{65535, 0}}));
    EXPECT_FALSE(mask_can_redo(state));

    // Reset asks first; refused, nothing changes; accepted, the head is left alone.
    scope.recorder.answers.push_back(Answer::no);
    EXPECT_TRUE(mask_reset_asked(state));
    EXPECT_EQ(state.records.size(), 3u);
    ASSERT_FALSE(mask_reset_asked(state));
    EXPECT_EQ(
        scope.recorder.questions,
        (std::vector<std::string>(2, "Confirm: Reset Mask?\nAll mask operations will be lost.")));
    EXPECT_EQ(state.records.size(), 1u);
    EXPECT_EQ(mask_recorded_count(state), 0u);
    EXPECT_EQ(seen(state.current_mask), (Rows{{32896, 32896}}));
    EXPECT_TRUE(scope.recorder.messages.empty());
}

TEST(MaskOperations, ReplayOnImagesOfOtherSizes) {
    RecordingScope scope;
    // n_op 3 with no command 2: two operations are replayed.
    const std::string text =
        "mask 0 nx 4 ny 2 mask_mode 0 mask16 0 initial_level 0 n_op 3 "
        "command1 operation 20 mask_mode 0 command3 operation 19 mask_mode 0";
    for (std::uint32_t width : {4u, 5u}) {
        Image base;
        ASSERT_FALSE(image_alloc(base, image_color24, width, 2, 0));
        MaskSettings mask;
        mask.command_line = text;
        EXPECT_FALSE(rebuild_mask(mask, base));
        std::vector<std::uint32_t> row(width, 255);
        row[0] = row[1] = 0;  // the left half (2 columns of 4 or 5) inverted
        EXPECT_EQ(seen(mask.image), (Rows{row, row}));
    }

    // Combining with a saved mask before one was saved: the replay says so, keeps the mask
    // before it and goes on.
    Image base;
    ASSERT_FALSE(image_alloc(base, image_gray8, 3, 3, 0));
    MaskSettings mask;
    mask.command_line =
        "mask 0 nx 3 ny 3 initial_level 5 n_op 2 command1 operation 25 "
        "command2 operation 19";
    EXPECT_FALSE(rebuild_mask(mask, base));
    EXPECT_EQ(seen(mask.image), Rows(3, std::vector<std::uint32_t>(3, 250)));
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
    EXPECT_TRUE(mask.command_line.empty());
    EXPECT_TRUE(mask.image.empty());
    EXPECT_TRUE(mask.initial_image.empty());
    EXPECT_TRUE(mask_settings_empty(mask));

    // An initial image of the other depth is converted: 8-bit 255 and 0 become 65535 and 0.
    mask.initial_image = mask_of(image_gray8, {{255, 0, 0}, {0, 0, 0}, {0, 0, 0}});
    mask.command_line = "mask 0 mask16 1 n_op 0";
    EXPECT_FALSE(rebuild_mask(mask, base));
    EXPECT_EQ(seen(mask.image)[0], (std::vector<std::uint32_t>{65535, 0, 0}));
}

}  // namespace
}  // namespace tessaly
