#include "masks/mask_command_line.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/text_file.h"
#include "framework/settings_files.h"
#include "masks/mask_files.h"
#include "masks/mask_pixels.h"
#include "support/mask_helpers.h"
#include "support/recording_interaction.h"
#include "support/suite_helpers.h"
#include "support/temp_dir.h"

namespace tessaly {
namespace {

using testing::RecordingScope;

const std::string default_groups =
    " brush_settings 0 0 10 0 100 25 30 1 0"
    " feather_settings 0 0 0 0"
    " floodfill_settings 0 32"
    " texture_settings 0 0 0 0 255"
    " gradient_settings 0 2 0.000000 0 0 ffffff 1.000000 0 0 0 0"
    " pinhole_settings 0 1 32 2"
    " median_settings 0 1 1"
    " blur_settings 0 50"
    " curve_settings 0 2 2 0 0 255 255 0"
    " shape_settings 0 2 2 0 0 255 255"
    " separate_settings 1 0 0 -1 -1 1 0 -1 -1 1 0 -1 -1 1 0 -1 -1 1 0 -1 -1 1 0 -1 -1 1 0 -1 -1"
    " 1 0 -1 -1 0 ffffff -1 -1 1 ffffff -1 -1 1 ffffff -1 -1 1 ffffff -1 -1 1 ffffff -1 -1"
    " 1 ffffff -1 -1 1 ffffff -1 -1 1 ffffff -1 -1"
    " color_range_settings 0 0 ff 0 1024 0 1024 0 1024 0 1024 0 1024 0 1024";

TEST(MaskCommandLine, DefaultsAreWrittenAsTheyAre) {
    MaskState state;
    state.nx = 3000;
    state.ny = 2000;
    EXPECT_EQ(mask_command_line(state),
              "mask 0 nx 3000 ny 2000 mask_color 0 mask_transparency 0 mask_mode 0 mask16 0 "
              "mask_operation 0 initial_level 0 n_op 0" +
                  default_groups);
}

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
    EXPECT_EQ(mask_command_line(state), text);
    EXPECT_TRUE(scope.recorder.messages.empty());
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
    EXPECT_TRUE(e[0].in_use && e[8].in_use && !e[9].in_use);
    EXPECT_TRUE(e[0].colour == 0xffu && e[8].colour == 0xff00u);
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

TEST(MaskCommandLine, CoordinatesAreFractionsOfTheImageSize) {
    // A rectangle to (1499.5, 999.5) on 3000 x 2000 is written as halves and replayed on
    // 1500 x 1000 to (749.5, 499.5).
    MaskState state;
    state.nx = 3000;
    state.ny = 2000;
    state.records.resize(2);
    state.records[1].operation = {mask_op_rectangle, mask_add, 0, {.x1 = 1499.5, .y1 = 999.5}};
    state.current = 1;
    const std::string text = mask_command_line(state);
    EXPECT_EQ(text.substr(text.find(" command1")),
              " command1 operation 1 mask_mode 0 mask_operation 0 coords1 0 0 0.5 0.5 0 ");
    Image base;
    ASSERT_FALSE(image_alloc(base, image_gray8, 1500, 1000, 0));
    MaskState small;
    mask_state_set_base(small, &base);
    EXPECT_FALSE(read_mask_command_line(text, small));
    const MaskOperationParameters& p = small.records[1].operation.parameters;
    EXPECT_TRUE(p.x1 == 749.5 && p.y1 == 499.5);
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
        EXPECT_EQ(e[0].colour, 200u + 65536u * side);
        EXPECT_EQ(e[8].colour, 0xff00u);
    }
}

// A colour picture with something for every selection to find: red rises to the right, green
// downwards, and a dark square sits in the middle.
Image test_picture(std::uint32_t w, std::uint32_t h) {
    Image im;
    EXPECT_FALSE(image_alloc(im, image_color24, w, h, 0));
    for (std::uint32_t y = 0; y < h; ++y) {
        std::uint8_t* row = im.rows[h - 1 - y];
        for (std::uint32_t x = 0; x < w; ++x) {
            const bool square = x > w / 3 && x < 2 * w / 3 && y > h / 3 && y < 2 * h / 3;
            row[3 * x] = 128;
            row[3 * x + 1] = static_cast<std::uint8_t>(square ? 10 : 255 * y / h);
            row[3 * x + 2] = static_cast<std::uint8_t>(square ? 10 : 255 * x / w);
        }
    }
    return im;
}

TEST(MaskCommandLine, EveryOperationReplaysFromItsTextOnAnotherSize) {
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
    const Image picture = test_picture(40, 30);
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

TEST(MaskCommandLine, TravelsInsideATransformationCommandLine) {
    std::vector<std::unique_ptr<MaskSettings>> masks, read;
    for (int i = 0; i < 3; ++i) masks.push_back(std::make_unique<MaskSettings>());
    for (int i = 0; i < 3; ++i) read.push_back(std::make_unique<MaskSettings>());
    masks[0]->command_line = "mask 0 nx 2 ny 2 n_op 0";
    masks[2]->command_line = "mask 0 nx 4";
    masks[2]->base_input_index = 0;
    const std::string first = " mask_settings1 \u2033mask 0 nx 2 ny 2 n_op 0\u2033";
    EXPECT_EQ(mask_settings_keys(masks, false), first + " mask_settings3 \u2033mask 0 nx 4\u2033");
    // A mask built on another input stays out of settings files.
    EXPECT_EQ(mask_settings_keys(masks, true), first);

    read[1]->command_line = "kept";
    read_mask_settings_keys(split("blur 0 radius 2" + mask_settings_keys(masks, false)), read);
    EXPECT_EQ((std::vector{read[0]->command_line, read[1]->command_line, read[2]->command_line}),
              (std::vector<std::string>{"mask 0 nx 2 ny 2 n_op 0", "kept", "mask 0 nx 4"}));
}

TEST(MaskCommandLine, SettingsFiles) {
    RecordingScope scope;
    testing::TempDir dir;
    set_settings_root(dir.path());
    MaskState state;
    state.nx = state.ny = 4;
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
    EXPECT_TRUE(loaded.settings.blur_radius == 8 && loaded.records.size() == 2u);
    EXPECT_TRUE(load_mask_settings(loaded, "Absent"));
    EXPECT_EQ(loaded.records.size(), 2u);

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

}  // namespace
}  // namespace tessaly
