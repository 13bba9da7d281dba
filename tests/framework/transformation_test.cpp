#include "framework/transformation.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "core/runner.h"
#include "support/recording_interaction.h"
#include "support/temp_dir.h"

namespace tessaly {
namespace {

// A small module declaring one field of every kind, run through the shared run entry.
struct SampleSettings {
    std::int32_t units = 1;
    double scale = 1.0;
    double softness = 0.25;
    bool flag = false;
    Colour color{255, 255, 255};
    OptionalColour back{{}, true};
    std::string caption = "Border";
    Curve curve;
    std::int32_t width = 0;  // defaults to the input's width
};

std::uint8_t run_sample(TransformationContext<SampleSettings>& ctx) {
    if (!ctx.working_input) return fail_node(ctx.node, "no input");
    if (ctx.working_input->type != image_gray8) return fail_node(ctx.node, illegal_input_type);
    if (image_copy(*ctx.working_input, *ctx.result)) return fail_node(ctx.node, "copy failed");
    ctx.result->dpi = ctx.settings.scale;
    return 0;
}

const Module<SampleSettings> sample = {
    .keyword = "add_border",
    .display_name = "Add Border",
    .settings = {"Add Border", ".add border"},
    .schema = Schema<SampleSettings>()
                  .integer("units", &SampleSettings::units)
                  .real("scale", &SampleSettings::scale, "%4f")
                  .real("softness", &SampleSettings::softness, "%4zf")
                  .flag("flag", &SampleSettings::flag)
                  .colour("color", &SampleSettings::color)
                  .optional_colour("back", &SampleSettings::back)
                  .text("caption", &SampleSettings::caption, 5)
                  .curve("curve", &SampleSettings::curve)
                  .integer("width", &SampleSettings::width),
    .input_defaults =
        [](SampleSettings& s, const TransformationContext<SampleSettings>& ctx) {
            if (ctx.working_input) s.width = static_cast<std::int32_t>(ctx.working_input->width);
        },
    .after_parse = [](SampleSettings& s, const ArgumentList&,
                      const TransformationContext<SampleSettings>&) { return s.units < 0; },
    .run = run_sample,
};

TEST(Transformation, CommandLinesAreWrittenInDeclaredOrderAndReadByKey) {
    SampleSettings s;
    s.color = {255, 128, 0};
    std::string line = format_settings(sample, s);
    EXPECT_EQ(line,
              "add_border 0 units 1 scale 1.0000 softness 0.25 flag 0 color 80ff back ffffffff "
              "caption \u2033Border\u2033 curve \u2033"
              "2 2 0 0 255 255\u2033 width 0");

    testing::RecordingScope scope;
    TransformationContext<SampleSettings> ctx;
    ASSERT_FALSE(parse_settings(
        sample,
        split("add_border 0 width 9 caption \u2033Longer\u2033 back 10203 curve \u2033"
              "3 1 0 0 "
              "128 200 255 255\u2033 scale 2.5 unknown 4 flag 1"),
        ctx));
    EXPECT_EQ(ctx.settings.width, 9);
    EXPECT_EQ(ctx.settings.caption, "Longe");  // cut at its capacity
    EXPECT_FALSE(ctx.settings.back.none);
    EXPECT_EQ(ctx.settings.back.colour, (Colour{3, 2, 1}));
    EXPECT_EQ(ctx.settings.curve.npts, 3);
    EXPECT_EQ(ctx.settings.curve.style, curve_linear);
    EXPECT_EQ(ctx.settings.scale, 2.5);
    EXPECT_TRUE(ctx.settings.flag);
    EXPECT_EQ(ctx.settings.units, 1);  // absent: the default
    EXPECT_TRUE(scope.recorder.messages.empty());

    // Written and read back unchanged.
    std::string again = format_settings(sample, ctx.settings);
    TransformationContext<SampleSettings> ctx2;
    ASSERT_FALSE(parse_settings(sample, split(again), ctx2));
    EXPECT_EQ(format_settings(sample, ctx2.settings), again);

    EXPECT_FALSE(parse_settings(sample, split("add_border 1"), ctx));
    EXPECT_EQ(scope.recorder.warnings(),
              std::vector<std::string>{"Add Border file was created for a newer version of "
                                       "Tessaly -- some settings may be ignored"});
    EXPECT_TRUE(parse_settings(sample, split("add_border 0 units -1"), ctx));
    EXPECT_TRUE(parse_settings(sample, split("crop 0"), ctx));
}

TEST(Transformation, CommandLinesIgnoreTheUsersLocale) {
    bool was_plain = separators_are_plain();
    set_locale_characters(U',', U'.');
    set_locale_separators();
    SampleSettings s;
    s.scale = 1234.5;
    EXPECT_NE(format_settings(sample, s).find("scale 1234.5000"), std::string::npos);
    TransformationContext<SampleSettings> ctx;
    ASSERT_FALSE(parse_settings(sample, split("add_border 0 scale 1,234.5"), ctx));
    EXPECT_EQ(ctx.settings.scale, 1234.5);
    set_locale_characters(U'.', U',');
    if (was_plain) set_plain_separators();
}

TEST(Transformation, RunEntrySequence) {
    testing::TempDir dir;
    setenv("TESSALY_SETTINGS_ROOT", dir.path().c_str(), 1);
    reset_settings_folders();
    testing::RecordingScope scope;

    Node input, node;
    input.parent = &tree_root();
    ASSERT_FALSE(image_alloc(input.image, image_binary, 10, 3, 72.0));
    bit_set(input.image.rows[1], 9);
    node.parent = &input;

    // A binary input arrives as 8-bit gray.
    EXPECT_EQ(run_entry(sample, &input, &node, split("add_border 0 scale 300")), 0);
    EXPECT_FALSE(node.error);
    EXPECT_EQ(node.image.type, image_gray8);
    EXPECT_EQ(node.image.rows[1][9], 255);
    EXPECT_EQ(node.image.dpi, 300.0);

    // Only the keyword: the "Default" settings file applies.
    ASSERT_FALSE(save_settings("add_border 0 scale 150", std::string("Default"), sample.settings));
    EXPECT_EQ(run_entry(sample, &input, &node, split("add_border")), 0);
    EXPECT_EQ(node.image.dpi, 150.0);

    EXPECT_EQ(run_entry(sample, &input, &node, split("add_border 0 units -4")), 1);
    EXPECT_TRUE(node.error);
    EXPECT_EQ(node.error_text, "Illegal Add Border command line");

    ASSERT_FALSE(image_alloc(input.image, image_color24, 2, 2, 72.0));
    EXPECT_EQ(run_entry(sample, &input, &node, split("add_border 0")), 1);
    EXPECT_EQ(node.error_text, "Illegal input image type");
    EXPECT_TRUE(scope.recorder.messages.empty());  // silent runs show nothing
    unsetenv("TESSALY_SETTINGS_ROOT");
    reset_settings_folders();
}

TEST(Transformation, BatchAbortStopsPixelLoopsOnlyDuringABatch) {
    set_batch_abort(true);
    Progress p;
    EXPECT_FALSE(progress_tick(p));  // no batch running
    set_batch_mode(1);
    EXPECT_TRUE(progress_tick(p));
    EXPECT_TRUE(progress_tick(p));  // a cancelled run stays cancelled
    set_batch_abort(false);
    Progress fresh;
    EXPECT_FALSE(progress_tick(fresh));
    set_batch_mode(0);
}

}  // namespace
}  // namespace tessaly
