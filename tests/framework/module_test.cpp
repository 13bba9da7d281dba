#include "framework/module.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "support/recording_interaction.h"
#include "support/sample_rows.h"
#include "support/temp_dir.h"

namespace tessaly {
namespace {

using testing::image_of_rows;
using Row = std::vector<int>;

// Sample modules on rows that no module of this test program takes.
struct Entry {
    std::string name;
    bool on;
};

struct Sample {
    std::int32_t level;
    double gain;
    std::int32_t mode;
    std::string caption;
    Curve curve;
    std::vector<Entry> entries;
    AmountSettings amount;
    DialogKeys dialog;
};

// Adds the level to 8-bit gray samples (the second set subtracts it); level 0 is neutral.
PointRows add_level(const TransformationContext<Sample>& ctx, int set, const Image&) {
    const int step = set == 0 ? ctx.settings.level : -ctx.settings.level;
    return {[step](const std::uint8_t* in, std::uint8_t* out, std::uint32_t width,
                   const std::uint8_t*, std::uint8_t*) {
        for (std::uint32_t x = 0; x < width; ++x) out[x] = std::clamp(in[x] + step, 0, 255);
    }};
}

Schema<Sample> sample_schema() {
    return Schema<Sample>()
        .integer("level", &Sample::level, 4)
        .range(0, 80)
        .real("gain", &Sample::gain, "%4zf", 1.0)
        .range(0.0, 2.0)
        .reject()
        .choice("mode", &Sample::mode, 0, {"A", "B", "C"})
        .text("caption", &Sample::caption, "Pic", 5)
        .curve("curve", &Sample::curve, Curve{})
        .count("n", &Sample::entries, 3)
        .amount("amount", &Sample::amount, amount_init(0, true, amount_mode_percent))
        .group(&Sample::entries, Schema<Entry>()
                                     .text("name%d", &Entry::name, "")
                                     .required()
                                     .flag("on%d", &Entry::on, true))
        .dialog(&Sample::dialog, {.display = 2, .auto_preview = 1});
}

const Registered<Sample> sample{{
    .keyword = "posterize",
    .schema = sample_schema(),
    .types = type_bit(image_gray8),
    .neutral = [](const TransformationContext<Sample>& ctx, int,
                  const Image&) { return ctx.settings.level == 0; },
    .point = add_level,
}};

const Registered<Sample> two_sets{{
    .keyword = "tint",
    .schema = sample_schema(),
    .types = type_bit(image_gray8),
    .mixing = Mixing::two_sets,
    .point = add_level,
}};

std::string normalised(const std::string& line) {
    std::string out;
    return sample.normalise(split(line), nullptr, nullptr, out) ? "refused" : out;
}

TEST(Module, DeclarationWritesInOrderAndReadsByKeyWithItsRules) {
    const std::string defaults =
        "posterize 0 level 4 gain 1 mode 0 caption \u2033Pic\u2033 curve 2 2 0 0 255 255 n 0 "
        "amount 1 -1 0 1 \u2033Amount: \u2033 \u2033Mask\u2033 display 2 auto_preview 1";
    EXPECT_EQ(sample.default_command_line(), defaults);
    testing::RecordingScope scope;
    // Out of range: clamped, or back to the default for a choice; a text is cut to its
    // capacity; unknown keys are ignored; a group's entries carry their numbers.
    EXPECT_EQ(normalised("posterize 0 level 99 mode 7 caption \u2033Longer\u2033 curve 3 1 0 0 "
                         "128 200 255 255 unknown 4 n 2 name1 \u2033a\u2033 name2 \u2033b "
                         "c\u2033 on2 0"),
              "posterize 0 level 80 gain 1 mode 0 caption \u2033Longe\u2033 curve 3 1 0 0 128 200 "
              "255 255 n 2 amount 1 -1 0 1 \u2033Amount: \u2033 \u2033Mask\u2033 name1 "
              "\u2033a\u2033 on1 1 name2 \u2033b c\u2033 on2 0 display 2 auto_preview 1");
    EXPECT_TRUE(scope.recorder.messages.empty());
    // Rejected: a value the declaration refuses, more entries than allowed, a required member
    // missing, another transformation's line. An invalid curve or an unreadable value keeps
    // the default.
    for (const char* line : {"posterize 0 gain 2.5", "posterize 0 n 4",
                             "posterize 0 n 2 name1 \u2033a\u2033", "tint 0"})
        EXPECT_EQ(normalised(line), "refused") << line;
    EXPECT_EQ(normalised("posterize 0 level x curve 2 2 9 0 3 255"), defaults);
    EXPECT_EQ(normalised("posterize 1"), defaults);
    EXPECT_EQ(scope.recorder.warnings(),
              std::vector<std::string>{"Posterize file was created for a newer version of "
                                       "Tessaly -- some settings may be ignored"});

    // Command lines ignore the user's locale: a point, and the comma groups digits (1,5 is
    // fifteen, out of range).
    const bool was_plain = separators_are_plain();
    set_locale_characters(U',', U'.');
    set_locale_separators();
    EXPECT_EQ(normalised("posterize 0 gain 1,5"), "refused");
    EXPECT_NE(normalised("posterize 0 gain 1.5").find(" gain 1.5 "), std::string::npos);
    set_locale_characters(U'.', U',');
    if (was_plain) set_plain_separators();
}

// Runs a sample module from a node holding the given 8-bit gray row.
class ModuleRun : public ::testing::Test {
  protected:
    ModuleRun() {
        input_.parent = &tree_root();
        node_.parent = &input_;
        input_.image = image_of_rows(image_gray8, {{10, 250, 100}});
    }
    // The result's row, or {} when the run fails.
    Row run(const Registered<Sample>& module, const std::string& line) {
        return module.run(&input_, &node_, split(line)) ? Row{} : testing::rows_of(node_.image)[0];
    }
    Node input_, node_;
};

TEST_F(ModuleRun, RunEntrySequenceAndMixing) {
    testing::TempDir dir;
    setenv("TESSALY_SETTINGS_ROOT", dir.path().c_str(), 1);
    reset_settings_folders();
    testing::RecordingScope scope;
    EXPECT_EQ(run(sample, "posterize 0 level 10"), (Row{20, 255, 110}));
    // The framework mixes through the amount: weight 127 of 255.
    EXPECT_EQ(run(sample, "posterize 0 level 10 amount 0.5 -1 0 1 \u2033A\u2033 \u2033M\u2033"),
              (Row{15, 252, 105}));
    // Only the keyword: the "Default" settings file applies.
    ASSERT_FALSE(
        save_settings("posterize 0 level 1", std::string("Default"), sample.settings_name()));
    EXPECT_EQ(run(sample, "posterize"), (Row{11, 251, 101}));

    // (Refused lines and input types are checked for every module by the conformance suite.)
    // A binary input arrives as 8-bit gray.
    ASSERT_FALSE(image_alloc(input_.image, image_binary, 3, 1, 72));
    bit_set(input_.image.rows[0], 1);
    EXPECT_EQ(run(sample, "posterize 0 level 0"), (Row{0, 255, 0}));
    EXPECT_TRUE(scope.recorder.messages.empty());  // silent runs show nothing
    unsetenv("TESSALY_SETTINGS_ROOT");
    reset_settings_folders();
}

TEST_F(ModuleRun, TwoSetsMixWhereTheMaskIsWhiteAndBlack) {
    input_.image = image_of_rows(image_gray8, {{100, 100, 100}});
    node_.masks.push_back(std::make_unique<MaskSettings>());
    node_.masks[0]->image = image_of_rows(image_gray8, {{0, 255, 128}});
    // Set 0 (+10) where the mask is white, set 1 (-10) where it is black.
    EXPECT_EQ(run(two_sets, "tint 0 level 10 amount 1 1 0 1 \u2033A\u2033 \u2033M\u2033"),
              (Row{90, 110, 100}));
    // Without a mask in use only set 0 runs.
    EXPECT_EQ(run(two_sets, "tint 0 level 10"), (Row{110, 110, 110}));
}

TEST(Module, AreaRowsSeeTheirNeighboursPaddedByTheEdgeRule) {
    const Image in = image_of_rows(image_gray8, {{0, 30, 60, 90}});
    // The mean of each pixel's row neighbours (one row: the window is that row three times).
    AreaRows rows{
        1, Edge::clamp,
        [](const std::uint8_t* const* r, std::uint8_t* out, std::uint32_t width, std::uint8_t*) {
            for (int x = 0; x < static_cast<int>(width); ++x)
                out[x] = static_cast<std::uint8_t>((r[1][x - 1] + r[1][x] + r[1][x + 1]) / 3);
        }};
    Image out;
    ASSERT_FALSE(run_area_rows(rows, in, out, ""));
    EXPECT_EQ(testing::rows_of(out)[0], (Row{10, 30, 60, 80}));
    rows.edge = Edge::mirror;
    ASSERT_FALSE(run_area_rows(rows, in, out, ""));
    EXPECT_EQ(testing::rows_of(out)[0], (Row{20, 30, 60, 70}));
}

}  // namespace
}  // namespace tessaly
