// The mask's command line, the whole-mask operations, undo and redo, and replays.
#include "masks/mask_command_line.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "core/text_file.h"
#include "framework/settings_files.h"
#include "masks/mask_files.h"
#include "masks/mask_operations.h"
#include "masks/mask_pixels.h"
#include "support/image_helpers.h"
#include "support/mask_helpers.h"
#include "support/recording_interaction.h"
#include "support/suite_helpers.h"
#include "support/temp_dir.h"

namespace tessaly {
namespace {

using testing::RecordingScope;
using Values = std::vector<std::uint32_t>;

TEST(MaskCommandLine, KeysAreReadAndWrittenBackByteForByte) {
    RecordingScope scope;
    const std::string text =
        "mask 0 nx 101 ny 51 mask_color 1 mask_transparency 2 mask_mode 1 mask16 0 "
        "mask_operation 7 initial_level 10 n_op 6"
        " brush_settings 0 1 12.5 10 80 20 40 0 2"
        " feather_settings 0 -3 2 1"
        " floodfill_settings 0 12.25"
        " texture_settings 0 2 1 5 200"
        " gradient_settings 0 3 0.000000 1 2 ffffff 0.500000 0 0 808080 1.000000 0 0 0 0.7854"
        " pinhole_settings 0 2 16 0"
        " median_settings 0 1.5 0.25"
        " blur_settings 0 7"
        " curve_settings 0 3 1 0 0 128 200 255 255 4"
        " shape_settings 0 2 3 0 0 255 255"
        " separate_settings 1 0 102030 0.25 0.75 0 ff0000 -1 -1 1 0 -1 -1 1 0 -1 -1 1 0 -1 -1"
        " 1 0 -1 -1 1 0 -1 -1 1 0 -1 -1 0 ffffff -1 -1 1 ffffff -1 -1 1 ffffff -1 -1"
        " 1 ffffff -1 -1 1 ffffff -1 -1 1 ffffff -1 -1 1 ffffff -1 -1 1 ffffff -1 -1"
        " color_range_settings 0 2 abcdef 10 20 30 40 50 60 70 80 90 100 110 120"
        " command1 operation 2 mask_mode 2 mask_operation 2 coords1 0.25 0.5 0.75 1 -0.5 "
        " command2 operation 8 mask_mode 1 mask_operation 8 paint_operation 2 paint_radius 5.5 "
        "paint_transparency 20 paint_softness 50 paint_spacing 10 paint_threshold 15 "
        "paint_accumulate 0 pressure_controls 1 n 2 0.1 0.2 0.5 0.3 0.4 -1 "
        " command3 operation 7 mask_mode 0 mask_operation 7 colorspace 1 sample 123456 minb1 1 "
        "maxb1 2 minb2 3 maxb2 4 minb3 5 maxb3 6 minw1 7 maxw1 8 minw2 9 maxw2 10 minw3 11 "
        "maxw3 12 "
        " command4 operation 11 mask_mode 0 mask_operation 11 separate_color1 0 0.12345678 0.5 "
        "separate_color9 ffffff -1 -1 separate_color10 abcdef -1 -1 "
        " command5 operation 14 mask_mode 3 mask_operation 14 oval_gradient 0.25 0.25 0.75 0.75 "
        "1.5708 2 0.000000 0 0 0 1.000000 0 0 ffffff "
        " command6 operation 28 mask_mode 1 mask_operation 28 huesat 1 0 2 ff0000 30 0.5 ff00 "
        "12.5 0.25 ";
    MaskState state;
    EXPECT_FALSE(read_mask_command_line(text, state));
    EXPECT_TRUE(mask_command_line(state) == text && scope.recorder.messages.empty());
    // The values land in their fields, coordinates in pixels of 101 x 51; a separate command
    // uses only the entries it names.
    ASSERT_EQ(state.records.size(), 7u);
    EXPECT_TRUE(state.current == 6u && state.tool == 7 && state.settings.feather.radius == -3);
    const MaskOperationParameters& oval = state.records[1].operation.parameters;
    EXPECT_EQ((std::vector{oval.x0, oval.y0, oval.x1, oval.y1, oval.angle}),
              (std::vector{25., 25., 75., 50., -.5}));
    const std::vector<MaskVertex>& paint = state.records[2].operation.parameters.vertices;
    ASSERT_EQ(paint.size(), 2u);
    EXPECT_EQ((std::vector{paint[1].x, paint[1].y, paint[0].pressure, paint[1].pressure}),
              (std::vector{30., 20., .5, -1.}));
    const SeparateEntries& separate = state.records[4].operation.parameters.separate;
    EXPECT_TRUE(separate[0].in_use && !separate[1].in_use && separate[9].colour == 0xabcdefu);
}

TEST(MaskCommandLine, OlderKeysAndMalformedTextReadWithoutFailing) {
    RecordingScope scope;
    MaskState state;
    const auto par = [&](std::size_t k) -> const MaskOperationParameters& {
        return state.records.at(k).operation.parameters;
    };
    // The older "coords" carries no angle and "sep_color" no positions; keys 5-8 are the
    // second group's first entries.
    EXPECT_FALSE(read_mask_command_line(
        "mask 0 nx 11 ny 21 n_op 2 command1 operation 2 coords 0.5 0.5 1 1 "
        "command2 operation 11 sep_color1 ff sep_color5 ff00 sep_color6 ffffffff",
        state));
    ASSERT_EQ(state.records.size(), 3u);
    EXPECT_TRUE(par(1).x0 == 5 && par(1).y1 == 20);
    const SeparateEntries& e = par(2).separate;
    EXPECT_TRUE(e[0].in_use && e[8].in_use && !e[9].in_use && e[0].colour == 0xffu &&
                e[8].colour == 0xff00u);
    EXPECT_TRUE(scope.recorder.messages.empty());

    // A key a command lacks is not taken from the command after it.
    EXPECT_FALSE(read_mask_command_line(
        "mask 0 nx 3 ny 3 n_op 2 command1 operation 6 command2 operation 6 blur_radius 4", state));
    EXPECT_TRUE(par(1).blur_radius == 50 && par(2).blur_radius == 4);

    // A newer or unreadable version warns and reading goes on; an unterminated quote is an
    // error of the tokenizer; values that do not read keep their defaults.
    EXPECT_FALSE(read_mask_command_line("mask 1 nx 5 ny abc mask16 1", state));
    EXPECT_FALSE(read_mask_command_line("mask x nx 7", state));
    EXPECT_FALSE(read_mask_command_line("mask 0 nx 9 blur_settings 0 \u2033 4", state));
    EXPECT_TRUE(state.nx == 9 && state.settings.blur_radius == 50);
    EXPECT_EQ(scope.recorder.warnings(),
              (std::vector<std::string>{
                  "Mask file was created for a newer version of Tessaly -- some settings may be "
                  "ignored",
                  "Mask file has invalid version number"}));
    EXPECT_EQ(scope.recorder.errors(), std::vector<std::string>{"Missing quote"});

    // A group of another version is skipped; a curve that is not valid is not taken.
    EXPECT_FALSE(read_mask_command_line(
        "mask 0 feather_settings 1 5 5 5 curve_settings 0 2 2 9 0 3 255 6", state));
    EXPECT_TRUE(state.settings.feather.radius == 0 && state.settings.curve.x[0] == 0);
    EXPECT_EQ(state.settings.curve_channel, 6);
}

TEST(MaskCommandLine, PickedColoursArePickedAgainFromTheNewImage) {
    // 3 x 3 and 5 x 5 black pictures with a coloured centre; the entry picked at (0.4, 0.4),
    // nearest the centre, takes each picture's own colour, the typed entry keeps its colour.
    for (std::uint32_t side : {3u, 5u}) {
        Image base;
        ASSERT_FALSE(image_alloc(base, image_color24, side, side, 0));
        for (std::uint32_t r = 0; r < side; ++r) std::fill_n(base.rows[r], 3 * side, 0);
        base.rows[side / 2][3 * (side / 2)] = static_cast<std::uint8_t>(side);  // blue
        base.rows[side / 2][3 * (side / 2) + 2] = 200;                          // red
        MaskState state;
        mask_state_set_base(state, &base);
        EXPECT_FALSE(read_mask_command_line(
            "mask 0 n_op 1 command1 operation 11 separate_color1 ff 0.4 0.4 separate_color9 ff00 "
            "-1 -1",
            state, {.replay = false}));
        const SeparateEntries& e = state.records[1].operation.parameters.separate;
        EXPECT_TRUE(e[0].colour == 200u + 65536u * side && e[8].colour == 0xff00u);
    }
}

TEST(MaskCommandLine, EveryOperationReplaysFromItsText) {
    testing::RecordingScope scope;
    using P = MaskOperationParameters;
    const auto box = [](double x0, double y0, double x1, double y1, double angle) {
        return P{.x0 = x0, .y0 = y0, .x1 = x1, .y1 = y1, .angle = angle};
    };
    const auto outline = [](std::vector<MaskVertex> v) { return P{.vertices = std::move(v)}; };
    P range{.color_range = {.colorspace = 2,
                            .limits = {0, 600, 0, 1024, 0, 1024, 100, 500, 0, 1024, 0, 1024}}};
    P fill{.floodfill_x = 20, .floodfill_y = 15, .floodfill_threshold = 20}, brightness;
    brightness.curve.x[1] = 200;  // brightens
    P histogram;
    for (int h = 0; h < hs_hue_cells; ++h)
        hs_set_cell(histogram.histogram, h, hs_saturation_cells - 1, true);
    const MaskOperation ops[] = {
        {mask_op_freehand, mask_add, 0, outline({{5, 5}, {20, 4}, {12, 20}})},
        {mask_op_rectangle, mask_invert_mode, 0, box(2, 2, 15, 10, 0.3)},
        {mask_op_oval, mask_add, 0, box(20, 5, 35, 25, 0)},
        {mask_op_polygon, mask_subtract, 0, outline({{30, 2}, {38, 2}, {34, 12}})},
        {mask_op_spline, mask_add, 0, outline({{5, 20}, {15, 28}, {25, 22}})},
        {mask_op_feather, mask_add, 0, {.feather = {2}}},
        {mask_op_blur, mask_add, 0, {.blur_radius = 1}},
        {mask_op_color_range, mask_subtract, 0, range},
        {mask_op_paint, mask_add, 0, {.vertices = {{10, 10}, {20, 15}}, .brush = {.radius = 3}}},
        {mask_op_curve, mask_overlap, 0, {.channel = 1}},
        {mask_op_flood_fill, mask_add, 0, fill},
        {mask_op_separate, mask_invert_mode},
        {mask_op_texture, mask_add, 0, {.texture = {.threshold1 = 40}}},
        {mask_op_linear_gradient, mask_overlap, 0, box(0, 0, 39, 29, 0)},
        // Gradients are continuous: their end points are exact fractions of the size - 1, which
        // the text keeps to four decimals.
        {mask_op_oval_gradient, mask_add, 0, box(19.5, 14.5, 29.25, 21.75, 0.5)},
        {mask_op_pinholes},
        {mask_op_median},
        {mask_op_combine_saved, mask_subtract},
        {mask_op_brightness_curve, mask_add, 0, brightness},
        {mask_op_hue_saturation, mask_add, 0, {.huesat = {.colours = {{0xff, 30, 50}}}}},
        {mask_op_hs_histogram, mask_add, 0, histogram}};
    Image picture;
    ASSERT_FALSE(image_alloc(picture, image_color24, 40, 30, 0));
    testing::fill_pattern(picture, 3 * 40);
    MaskState state;
    mask_state_set_base(state, &picture);
    ASSERT_FALSE(mask_list_reset(state));
    for (std::int32_t code :
         {mask_op_clear, mask_op_all, mask_op_gray, mask_op_left_half, mask_op_right_half,
          mask_op_top_half, mask_op_bottom_half, mask_op_invert, mask_op_save}) {
        EXPECT_FALSE(mask_record(state, {code})) << code;
    }
    for (const MaskOperation& o : ops) EXPECT_FALSE(mask_record(state, o)) << o.code;
    ASSERT_EQ(mask_recorded_count(state), std::size_t{mask_operation_count});
    const std::string text = mask_command_line(state);

    // The same picture rebuilds the same mask.
    MaskState same;
    mask_state_set_base(same, &picture);
    EXPECT_FALSE(read_mask_command_line(text, same));
    EXPECT_TRUE(image_equal(same.current_mask, state.current_mask));
    EXPECT_TRUE(scope.recorder.errors().empty()) << scope.recorder.errors().front();
}

TEST(MaskCommandLine, SettingsFiles) {
    RecordingScope scope;
    testing::TempDir dir;
    set_settings_root(dir.path());
    MaskState state{.nx = 4, .ny = 4};
    state.records.resize(2);
    state.records[1].operation.code = mask_op_invert;
    state.current = 1;
    state.settings.blur_radius = 3;

    EXPECT_FALSE(save_mask_settings(state, "Mine"));
    EXPECT_EQ(testing::file_text(dir.file("Mask/Mine.mask")),
              "\xEF\xBB\xBF" + mask_command_line(state));
    // Default: tool settings only, never operations.
    EXPECT_FALSE(save_mask_settings(state, "Default"));
    EXPECT_EQ(testing::file_text(dir.file("Mask/Default.mask")),
              "\xEF\xBB\xBF" + mask_command_line(state, false));
    EXPECT_EQ(mask_command_line(state, false).find("command"), std::string::npos);
    MaskState fresh;
    EXPECT_FALSE(load_default_mask_settings(fresh));
    EXPECT_TRUE(fresh.settings.blur_radius == 3 && fresh.records.size() == 1u);

    // A file written by hand with CR LF reads as well; a missing one leaves the state alone.
    ASSERT_FALSE(write_file_atomic(dir.file("Mask/Crlf.mask"),
                                   "\xEF\xBB\xBFmask 0 nx 4 ny 4 n_op 1 blur_settings 0 8 "
                                   "command1 operation 27\r\n"));
    MaskState loaded;
    EXPECT_FALSE(load_mask_settings(loaded, "Crlf"));
    EXPECT_TRUE(load_mask_settings(loaded, "Absent"));
    EXPECT_TRUE(loaded.settings.blur_radius == 8 && loaded.records.size() == 2u);

    // A mask from another image is not saved.
    Image initial;
    ASSERT_FALSE(image_alloc(initial, image_gray8, 4, 4, 0));
    state.initial_image = &initial;
    EXPECT_TRUE(save_mask_settings(state, "Other"));
    EXPECT_EQ(scope.recorder.errors(),
              std::vector<std::string>{
                  "Mask settings for the current mask cannot be saved since it was built from "
                  "another image.\nYou can save the current image as a script file instead."});
    reset_settings_folders();
}

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
    MaskState state{.initial_level = 10};
    mask_state_set_base(state, &base);
    ASSERT_FALSE(mask_list_reset(state));
    EXPECT_EQ(seen(state.current_mask), rows(Values(5, 10), Values(5, 10)));
    for (const auto& [o, expected] : steps) {
        EXPECT_FALSE(mask_record(state, o));
        EXPECT_EQ(seen(state.current_mask), expected) << o.code;
    }
    EXPECT_TRUE(scope.recorder.messages.empty());

    // With a saved mask of another size, the mask stays as it is.
    state.saved_mask = mask_of(image_gray8, {{1, 2}});
    EXPECT_FALSE(mask_record(state, {mask_op_combine_saved}));
    EXPECT_EQ(seen(state.current_mask), rows({128, 128, 0, 0, 0}, {128, 128, 0, 0, 0}));
    EXPECT_EQ(scope.recorder.errors(),
              std::vector<std::string>{"Saved mask not the save size as current mask"});
}

TEST(MaskOperations, UndoRedoAndThePendingOperation) {
    RecordingScope scope;
    Image base;
    ASSERT_FALSE(image_alloc(base, image_gray16, 2, 1, 0));
    MaskState state{.mask16 = 1, .initial_level = 128};
    mask_state_set_base(state, &base);
    ASSERT_FALSE(mask_list_reset(state));
    const auto mask = [&](const Image& m = Image()) {
        return seen(m.empty() ? state.current_mask : m)[0];
    };
    EXPECT_TRUE(mask() == (Values{32896, 32896}) && !mask_can_undo(state));
    EXPECT_FALSE(mask_record(state, {mask_op_all}) || mask_record(state, {mask_op_invert}));
    EXPECT_TRUE(mask() == (Values{0, 0}) &&
                mask(state.records[2].before) == (Values{65535, 65535}));
    EXPECT_TRUE(mask_undo(state) && mask_can_redo(state) && mask() == (Values{65535, 65535}));
    // The text keeps what is shown: one command after one undo.
    const std::string text = mask_command_line(state);
    EXPECT_TRUE(text.find("n_op 1 ") != text.npos && text.find("command2") == text.npos &&
                text.find(" command1 operation 17 ") != text.npos);
    EXPECT_TRUE(mask_redo(state) && !mask_redo(state) && mask() == (Values{0, 0}));

    // A pending operation shows in the pending mask only, until it is applied; undo drops it;
    // recording after an undo discards the records after the position.
    EXPECT_FALSE(mask_set_pending(state, {mask_op_gray}));
    EXPECT_TRUE(mask(state.pending_mask) == (Values{32768, 32768}) && mask() == (Values{0, 0}) &&
                state.records.size() == 3u);
    mask_cancel_pending(state);
    EXPECT_EQ(mask(state.pending_mask), (Values{0, 0}));
    EXPECT_TRUE(mask_apply_pending(state));  // nothing pending
    EXPECT_FALSE(mask_set_pending(state, {mask_op_left_half}));
    EXPECT_TRUE(mask_undo(state) && !state.pending);
    EXPECT_FALSE(mask_record(state, {mask_op_left_half}));
    EXPECT_TRUE(state.records.size() == 3u && state.records[2].operation.code == mask_op_left_half);
    EXPECT_TRUE(mask() == (Values{65535, 0}) && !mask_can_redo(state));

    // Reset asks first; refused, nothing changes; accepted, the head is left alone.
    scope.recorder.answers.push_back(Answer::no);
    EXPECT_TRUE(mask_reset_asked(state) && state.records.size() == 3u);
    ASSERT_FALSE(mask_reset_asked(state));
    EXPECT_EQ(
        scope.recorder.questions,
        (std::vector<std::string>(2, "Confirm: Reset Mask?\nAll mask operations will be lost.")));
    EXPECT_TRUE(state.records.size() == 1u && mask_recorded_count(state) == 0u &&
                mask() == (Values{32896, 32896}) && scope.recorder.messages.empty());
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
    for (const auto& [index, base_image] :
         {std::pair{-1, &input.image}, {0, &other.image}, {1, nullptr}, {-1, &input.image}}) {
        mask.base_input_index = index;
        EXPECT_EQ(mask_base_image(&input, node, mask), base_image) << index;
    }

    // An initial mask image of another size resets the mask; no recipe builds nothing.
    mask.initial_image = mask_of(image_gray8, {{1, 2}});
    EXPECT_FALSE(rebuild_mask(mask, base));
    EXPECT_TRUE(mask.command_line.empty() && mask.image.empty() && mask.initial_image.empty() &&
                mask_settings_empty(mask));

    // An initial image of the other depth is converted: 8-bit 255 and 0 become 65535 and 0.
    mask.initial_image = mask_of(image_gray8, {{255, 0, 0}, {0, 0, 0}, {0, 0, 0}});
    mask.command_line = "mask 0 mask16 1 n_op 0";
    EXPECT_FALSE(rebuild_mask(mask, base));
    EXPECT_EQ(seen(mask.image)[0], (Values{65535, 0, 0}));
}

}  // namespace
}  // namespace tessaly
