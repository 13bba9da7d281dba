#include "masks/mask_command_line.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "core/text_file.h"
#include "framework/settings_files.h"
#include "masks/mask_files.h"
#include "masks/mask_pixels.h"
#include "support/mask_helpers.h"
#include "support/recording_interaction.h"
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

Image gray8(std::uint32_t w, std::uint32_t h) {
    Image im;
    EXPECT_FALSE(image_alloc(im, image_gray8, w, h, 0));
    return im;
}

TEST(MaskCommandLine, DefaultsAreWrittenAsTheyAreAndReadBack) {
    RecordingScope scope;
    MaskState state;
    state.nx = 3000;
    state.ny = 2000;
    const std::string expected =
        "mask 0 nx 3000 ny 2000 mask_color 0 mask_transparency 0 mask_mode 0 mask16 0 "
        "mask_operation 0 initial_level 0 n_op 0" +
        default_groups;
    EXPECT_EQ(mask_command_line(state), expected);

    MaskState again;
    EXPECT_FALSE(read_mask_command_line(expected, again));
    EXPECT_EQ(again.nx, 3000);
    EXPECT_EQ(mask_command_line(again), expected);
    EXPECT_TRUE(scope.recorder.messages.empty());
}

TEST(MaskCommandLine, EveryKeyIsReadAndWrittenBackByteForByte) {
    RecordingScope scope;
    const std::string text =
        "mask 0 nx 101 ny 51 mask_color 1 mask_transparency 2 mask_mode 1 mask16 0 "
        "mask_operation 7 initial_level 10 n_op 22"
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
        " command1 operation 0 mask_mode 0 mask_operation 0 n 3 0 0 0.5 0.5 1 1 "
        " command2 operation 1 mask_mode 1 mask_operation 1 coords1 0.1 0.2 0.3 0.4 0.5 "
        " command3 operation 2 mask_mode 2 mask_operation 2 coords1 0.25 0.5 0.75 1 -0.5 "
        " command4 operation 3 mask_mode 3 mask_operation 3 n 2 0.01 0.02 0.99 0.98 "
        " command5 operation 4 mask_mode 0 mask_operation 4 n 1 0.5 0.5 "
        " command6 operation 5 mask_mode 0 mask_operation 5 feather_radius -4 feather_style 2 "
        "feather_corners 1 "
        " command7 operation 6 mask_mode 0 mask_operation 6 blur_radius 9 "
        " command8 operation 7 mask_mode 0 mask_operation 7 colorspace 1 sample 123456 minb1 1 "
        "maxb1 2 minb2 3 maxb2 4 minb3 5 maxb3 6 minw1 7 maxw1 8 minw2 9 maxw2 10 minw3 11 "
        "maxw3 12 "
        " command9 operation 8 mask_mode 1 mask_operation 8 paint_operation 2 paint_radius 5.5 "
        "paint_transparency 20 paint_softness 50 paint_spacing 10 paint_threshold 15 "
        "paint_accumulate 0 pressure_controls 1 n 2 0.1 0.2 0.5 0.3 0.4 -1 "
        " command10 operation 8 mask_mode 0 mask_operation 8 paint_operation 0 paint_radius 10 "
        "paint_transparency 0 paint_softness 100 paint_spacing 25 paint_threshold 30 "
        "paint_accumulate 1 pressure_controls 0 n 1 0.6 0.8 "
        " command11 operation 9 mask_mode 0 mask_operation 9 channel 4 curve 2 1 0 255 255 0 "
        " command12 operation 10 mask_mode 2 mask_operation 10 floodfill_x 0.3 floodfill_y 0.7 "
        "floodfill_threshold 8.5 "
        " command13 operation 11 mask_mode 0 mask_operation 11 separate_color1 0 0.12345678 0.5 "
        "separate_color9 ffffff -1 -1 separate_color10 abcdef -1 -1 "
        " command14 operation 12 mask_mode 0 mask_operation 12 texture_method 1 texture_size 2 "
        "texture_thresh0 10 texture_thresh1 90 "
        " command15 operation 13 mask_mode 0 mask_operation 13 linear_gradient 0 0.5 1 0.5 2 "
        "0.000000 0 0 ffffff 1.000000 0 0 0 "
        " command16 operation 14 mask_mode 3 mask_operation 14 oval_gradient 0.25 0.25 0.75 0.75 "
        "1.5708 2 0.000000 0 0 0 1.000000 0 0 ffffff "
        " command17 operation 15 mask_mode 0 mask_operation 15 pinhole 3 20 1 "
        " command18 operation 16 mask_mode 0 mask_operation 16 median 2 0.5 "
        " command19 operation 26 mask_mode 0 mask_operation 26 shape_curve 3 2 0 0 100 180 255 "
        "255 "
        " command20 operation 28 mask_mode 1 mask_operation 28 huesat 1 0 2 ff0000 30 0.5 ff00 "
        "12.5 0.25 "
        " command21 operation 29 mask_mode 0 mask_operation 29 hshist hs_add_remove 1 hs_color 2 "
        "hs_transparency 3 hs_colorspace 1 hs_expand 4.5 hs_blur 2 hs_thresh0 1 hs_thresh1 10000 "
        "hs_thresh2 3 hs_thresh3 9000 hs_n_selection 103 hs_selection ff 0 1 " +
        [] {
            std::string zeros;
            for (int i = 0; i < 100; ++i) zeros += "0 ";
            return zeros;
        }() +
        " command22 operation 17 mask_mode 0 mask_operation 17 ";

    MaskState state;
    EXPECT_FALSE(read_mask_command_line(text, state));
    EXPECT_EQ(mask_command_line(state), text);
    EXPECT_TRUE(scope.recorder.messages.empty());

    // Spot checks that the values land in their fields, coordinates in pixels of 101 x 51.
    ASSERT_EQ(state.records.size(), 23u);
    EXPECT_EQ(state.current, 22u);
    EXPECT_EQ(state.tool, 7);
    EXPECT_EQ(state.mode, 1);
    EXPECT_EQ(state.initial_level, 10);
    EXPECT_EQ(state.settings.nominal_brush.radius, 12.5);
    EXPECT_EQ(state.settings.feather.radius, -3);
    EXPECT_EQ(state.settings.gradient_line.stops[1].colour, 0x808080u);
    EXPECT_EQ(state.settings.curve_channel, 4);
    EXPECT_EQ(state.settings.separate[1].colour, 0xff0000u);
    const MaskOperation& rectangle = state.records[2].operation;
    EXPECT_EQ(rectangle.code, mask_op_rectangle);
    EXPECT_EQ(rectangle.mode, mask_subtract);
    EXPECT_DOUBLE_EQ(rectangle.parameters.x0, 10);
    EXPECT_DOUBLE_EQ(rectangle.parameters.y0, 10);
    EXPECT_DOUBLE_EQ(rectangle.parameters.x1, 30);
    EXPECT_DOUBLE_EQ(rectangle.parameters.y1, 20);
    EXPECT_DOUBLE_EQ(rectangle.parameters.angle, 0.5);
    const MaskOperationParameters& paint = state.records[9].operation.parameters;
    ASSERT_EQ(paint.vertices.size(), 2u);
    EXPECT_DOUBLE_EQ(paint.vertices[1].x, 30);
    EXPECT_DOUBLE_EQ(paint.vertices[1].y, 20);
    EXPECT_EQ(paint.vertices[0].pressure, 0.5);
    EXPECT_EQ(paint.vertices[1].pressure, -1);
    EXPECT_EQ(state.records[10].operation.parameters.vertices[0].pressure, -1);
    const SeparateEntries& separate = state.records[13].operation.parameters.separate;
    EXPECT_TRUE(separate[0].in_use);
    EXPECT_FALSE(separate[1].in_use);  // only what the command names
    EXPECT_EQ(separate[9].colour, 0xabcdefu);
    const MaskOperationParameters& oval = state.records[16].operation.parameters;
    EXPECT_DOUBLE_EQ(oval.x1, 75);
    EXPECT_EQ(oval.color_line.stops[1].colour, 0xffffffu);
    EXPECT_EQ(state.records[20].operation.parameters.huesat.colours[1].colour, 0xff00u);
    EXPECT_EQ(state.records[21].operation.parameters.histogram.selection[0], 0xff);
}

TEST(MaskCommandLine, OlderKeysAndMalformedTextReadWithoutFailing) {
    RecordingScope scope;
    MaskState state;
    // The older "coords" carries no angle and "sep_color" no positions; keys 5-8 are the
    // second group's first entries.
    EXPECT_FALSE(read_mask_command_line(
        "mask 0 nx 11 ny 21 n_op 2 command1 operation 2 coords 0.5 0.5 1 1 "
        "command2 operation 11 sep_color1 ff sep_color5 ff00 sep_color6 ffffffff",
        state));
    ASSERT_EQ(state.records.size(), 3u);
    EXPECT_DOUBLE_EQ(state.records[1].operation.parameters.x0, 5);
    EXPECT_DOUBLE_EQ(state.records[1].operation.parameters.y1, 20);
    const SeparateEntries& e = state.records[2].operation.parameters.separate;
    EXPECT_TRUE(e[0].in_use);
    EXPECT_EQ(e[0].colour, 0xffu);
    EXPECT_TRUE(e[8].in_use);
    EXPECT_EQ(e[8].colour, 0xff00u);
    EXPECT_FALSE(e[9].in_use);
    EXPECT_TRUE(scope.recorder.messages.empty());

    // A key a command lacks is not taken from the command after it.
    EXPECT_FALSE(read_mask_command_line(
        "mask 0 nx 3 ny 3 n_op 2 command1 operation 6 command2 operation 6 blur_radius 4", state));
    EXPECT_EQ(state.records[1].operation.parameters.blur_radius, 50);
    EXPECT_EQ(state.records[2].operation.parameters.blur_radius, 4);

    // Lists cut short by the end of their command or line take what is there.
    EXPECT_FALSE(read_mask_command_line(
        "mask 0 nx 3 ny 3 n_op 3 command1 operation 28 huesat 1 command2 operation 3 n 5 1 1 "
        "command3 operation 29 hs_n_selection 900 hs_selection 7",
        state));
    ASSERT_EQ(state.records.size(), 4u);
    EXPECT_TRUE(state.records[1].operation.parameters.huesat.colours.empty());
    EXPECT_EQ(state.records[2].operation.parameters.vertices.size(), 1u);
    EXPECT_EQ(state.records[3].operation.parameters.histogram.selection[0], 7);

    // A newer or unreadable version warns and reading goes on; an unterminated quote is an
    // error of the tokenizer; values that do not read keep their defaults.
    EXPECT_FALSE(read_mask_command_line("mask 1 nx 5 ny abc mask16 1", state));
    EXPECT_FALSE(read_mask_command_line("mask x nx 7", state));
    EXPECT_FALSE(read_mask_command_line("mask 0 nx 9 blur_settings 0 \u2033 4", state));
    EXPECT_EQ(state.nx, 9);
    EXPECT_EQ(state.settings.blur_radius, 50);
    EXPECT_EQ(scope.recorder.warnings(),
              (std::vector<std::string>{
                  "Mask file was created for a newer version of Tessaly -- some settings may be "
                  "ignored",
                  "Mask file has invalid version number"}));
    EXPECT_EQ(scope.recorder.errors(), std::vector<std::string>{"Missing quote"});

    // A group of another version is skipped; a curve that is not valid is not taken.
    EXPECT_FALSE(read_mask_command_line(
        "mask 0 feather_settings 1 5 5 5 curve_settings 0 2 2 9 0 3 255 6", state));
    EXPECT_EQ(state.settings.feather.radius, 0);
    EXPECT_EQ(state.settings.curve.x[0], 0);
    EXPECT_EQ(state.settings.curve_channel, 6);
}

TEST(MaskCommandLine, CoordinatesAreFractionsOfTheImageSize) {
    RecordingScope scope;
    MaskState state;
    state.nx = 3000;
    state.ny = 2000;
    state.records.emplace_back();
    MaskRecord record;
    record.operation.code = mask_op_rectangle;
    record.operation.parameters.x1 = 1499.5;
    record.operation.parameters.y1 = 999.5;
    state.records.push_back(std::move(record));
    state.current = 1;
    const std::string text = mask_command_line(state);
    EXPECT_EQ(text.substr(text.find(" command1")),
              " command1 operation 1 mask_mode 0 mask_operation 0 coords1 0 0 0.5 0.5 0 ");

    // Replayed on a smaller picture: the rectangle is in its pixels.
    Image base = gray8(1500, 1000);
    MaskState small;
    mask_state_set_base(small, &base);
    EXPECT_FALSE(read_mask_command_line(text, small));
    EXPECT_DOUBLE_EQ(small.records[1].operation.parameters.x1, 749.5);
    EXPECT_DOUBLE_EQ(small.records[1].operation.parameters.y1, 499.5);
    EXPECT_TRUE(scope.recorder.errors().empty());
    const Image& m = small.current_mask;
    ASSERT_EQ(m.width, 1500u);
    const auto at = [&](std::uint32_t x, std::uint32_t y) { return m.rows[m.height - 1 - y][x]; };
    EXPECT_EQ(at(1, 1), 255);
    EXPECT_EQ(at(748, 498), 255);
    EXPECT_EQ(at(751, 300), 0);
    EXPECT_EQ(at(300, 501), 0);
}

TEST(MaskCommandLine, PickedColoursArePickedAgainFromTheNewImage) {
    // 3 x 3 and 5 x 5 colour pictures whose centre pixels differ; the entry picked at the
    // centre takes each picture's own colour, the typed entry keeps its colour.
    for (std::uint32_t side : {3u, 5u}) {
        Image base;
        ASSERT_FALSE(image_alloc(base, image_color24, side, side, 0));
        for (std::uint32_t r = 0; r < side; ++r) {
            for (std::uint32_t i = 0; i < 3 * side; ++i) base.rows[r][i] = 0;
        }
        std::uint8_t* centre = base.rows[side / 2] + 3 * (side / 2);
        centre[0] = static_cast<std::uint8_t>(side);  // blue
        centre[2] = 200;                              // red
        MaskState state;
        mask_state_set_base(state, &base);
        MaskReadOptions no_replay;
        no_replay.replay = false;
        EXPECT_FALSE(
            read_mask_command_line("mask 0 n_op 1 command1 operation 11 separate_color1 ff 0.5 0.5 "
                                   "separate_color9 ff00 -1 -1",
                                   state, no_replay));
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
    const Image picture = test_picture(40, 30);
    MaskState state;
    mask_state_set_base(state, &picture);
    ASSERT_FALSE(mask_list_reset(state));
    const auto record = [&](std::int32_t code, std::int32_t mode,
                            const std::function<void(MaskOperationParameters&)>& set = {}) {
        MaskOperation o;
        o.code = code;
        o.mode = mode;
        if (set) set(o.parameters);
        EXPECT_FALSE(mask_record(state, o)) << code;
    };
    const auto box = [](double x0, double y0, double x1, double y1, double angle) {
        return [=](MaskOperationParameters& p) {
            p.x0 = x0, p.y0 = y0, p.x1 = x1, p.y1 = y1, p.angle = angle;
        };
    };
    const auto outline = [](std::vector<MaskVertex> v) {
        return [v](MaskOperationParameters& p) { p.vertices = v; };
    };
    for (std::int32_t code : {mask_op_clear, mask_op_all, mask_op_gray, mask_op_left_half,
                              mask_op_right_half, mask_op_top_half, mask_op_bottom_half}) {
        record(code, mask_add);
    }
    record(mask_op_invert, mask_add);
    record(mask_op_save, mask_add);
    record(mask_op_freehand, mask_add, outline({{5, 5}, {20, 4}, {12, 20}}));
    record(mask_op_rectangle, mask_invert_mode, box(2, 2, 15, 10, 0.3));
    record(mask_op_oval, mask_add, box(20, 5, 35, 25, 0));
    record(mask_op_polygon, mask_subtract, outline({{30, 2}, {38, 2}, {34, 12}}));
    record(mask_op_spline, mask_add, outline({{5, 20}, {15, 28}, {25, 22}}));
    record(mask_op_feather, mask_add, [](auto& p) { p.feather.radius = 2; });
    record(mask_op_blur, mask_add, [](auto& p) { p.blur_radius = 1; });
    record(mask_op_color_range, mask_subtract, [](auto& p) {
        p.color_range.colorspace = 2;
        p.color_range.limits[0] = 0;    // minb1
        p.color_range.limits[1] = 600;  // maxb1
        p.color_range.limits[6] = 100;  // minw1
        p.color_range.limits[7] = 500;  // maxw1
    });
    record(mask_op_paint, mask_add, [](auto& p) {
        p.brush.radius = 3;
        p.vertices = {{10, 10}, {20, 15}};
    });
    record(mask_op_curve, mask_overlap, [](auto& p) {
        p.channel = 1;
        p.curve = Curve();
    });
    record(mask_op_flood_fill, mask_add, [](auto& p) {
        p.floodfill_x = 20;
        p.floodfill_y = 15;
        p.floodfill_threshold = 20;
    });
    record(mask_op_separate, mask_invert_mode);
    record(mask_op_texture, mask_add, [](auto& p) { p.texture.threshold1 = 40; });
    record(mask_op_linear_gradient, mask_overlap, box(0, 0, 39, 29, 0));
    // Gradients are continuous: their end points are exact fractions of the size - 1, which the
    // text keeps to four decimals.
    record(mask_op_oval_gradient, mask_add, box(19.5, 14.5, 29.25, 21.75, 0.5));
    record(mask_op_pinholes, mask_add);
    record(mask_op_median, mask_add);
    record(mask_op_combine_saved, mask_subtract);
    record(mask_op_brightness_curve, mask_add, [](auto& p) {
        p.curve.x[1] = 200;  // brightens
    });
    record(mask_op_hue_saturation, mask_add, [](auto& p) { p.huesat.colours = {{0xff, 30, 50}}; });
    record(mask_op_hs_histogram, mask_add, [](auto& p) {
        for (int h = 0; h < hs_hue_cells; ++h)
            hs_set_cell(p.histogram, h, hs_saturation_cells - 1, true);
    });
    ASSERT_EQ(mask_recorded_count(state), std::size_t{mask_operation_count});
    const std::string text = mask_command_line(state);

    // The same picture rebuilds the same mask; another size rebuilds without a failure, into a
    // mask that is not uniform.
    MaskState same;
    mask_state_set_base(same, &picture);
    EXPECT_FALSE(read_mask_command_line(text, same));
    EXPECT_TRUE(image_equal(same.current_mask, state.current_mask));
    const Image bigger = test_picture(61, 45);
    MaskState other;
    mask_state_set_base(other, &bigger);
    EXPECT_FALSE(read_mask_command_line(text, other));
    ASSERT_EQ(other.current_mask.width, 61u);
    const Rows values = seen(other.current_mask);
    std::uint32_t low = 255, high = 0;
    for (const auto& row : values) {
        for (std::uint32_t v : row) low = std::min(low, v), high = std::max(high, v);
    }
    EXPECT_LT(low, high);
    EXPECT_TRUE(scope.recorder.errors().empty()) << scope.recorder.errors().front();
}

TEST(MaskCommandLine, TravelsInsideATransformationCommandLine) {
    std::vector<std::unique_ptr<MaskSettings>> masks;
    for (int i = 0; i < 3; ++i) masks.push_back(std::make_unique<MaskSettings>());
    masks[0]->command_line = "mask 0 nx 2 ny 2 n_op 0";
    masks[2]->command_line = "mask 0 nx 4";
    masks[2]->base_input_index = 0;
    EXPECT_EQ(mask_settings_keys(masks, false),
              " mask_settings1 \u2033mask 0 nx 2 ny 2 n_op 0\u2033"
              " mask_settings3 \u2033mask 0 nx 4\u2033");
    // A mask built on another input stays out of settings files.
    EXPECT_EQ(mask_settings_keys(masks, true),
              " mask_settings1 \u2033mask 0 nx 2 ny 2 n_op 0\u2033");

    std::vector<std::unique_ptr<MaskSettings>> read;
    for (int i = 0; i < 3; ++i) read.push_back(std::make_unique<MaskSettings>());
    read[1]->command_line = "kept";
    read_mask_settings_keys(split("blur 0 radius 2" + mask_settings_keys(masks, false)), read);
    EXPECT_EQ(read[0]->command_line, "mask 0 nx 2 ny 2 n_op 0");
    EXPECT_EQ(read[1]->command_line, "kept");
    EXPECT_EQ(read[2]->command_line, "mask 0 nx 4");
}

TEST(MaskCommandLine, SettingsFiles) {
    RecordingScope scope;
    testing::TempDir dir;
    set_settings_root(dir.path());
    MaskState state;
    state.nx = 4;
    state.ny = 4;
    state.records.emplace_back();
    state.records.emplace_back();
    state.records[1].operation.code = mask_op_invert;
    state.current = 1;
    state.settings.blur_radius = 3;

    EXPECT_FALSE(save_mask_settings(state, "Mine"));
    std::string bytes;
    ASSERT_FALSE(read_file_bytes(dir.file("Mask/Mine.mask"), bytes));
    EXPECT_EQ(bytes, "\xEF\xBB\xBF" + mask_command_line(state));
    EXPECT_FALSE(save_mask_settings(state, "Default"));
    ASSERT_FALSE(read_file_bytes(dir.file("Mask/Default.mask"), bytes));
    EXPECT_NE(bytes.find("n_op 0 "), std::string::npos);
    EXPECT_EQ(bytes.find("command"), std::string::npos);

    // A file written by hand with CR LF reads as well.
    ASSERT_FALSE(write_file_atomic(dir.file("Mask/Crlf.mask"),
                                   "\xEF\xBB\xBFmask 0 nx 4 ny 4 n_op 1 blur_settings 0 8 "
                                   "command1 operation 27\r\n"));
    MaskState loaded;
    EXPECT_FALSE(load_mask_settings(loaded, "Crlf"));
    EXPECT_EQ(loaded.settings.blur_radius, 8);
    ASSERT_EQ(loaded.records.size(), 2u);

    // Default: tool settings only, never operations.
    MaskState fresh;
    EXPECT_FALSE(load_default_mask_settings(fresh));
    EXPECT_EQ(fresh.settings.blur_radius, 3);
    EXPECT_EQ(fresh.records.size(), 1u);

    // A missing file leaves the state as it was; a mask from another image is not saved.
    EXPECT_TRUE(load_mask_settings(loaded, "Absent"));
    EXPECT_EQ(loaded.records.size(), 2u);
    Image initial = gray8(4, 4);
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
