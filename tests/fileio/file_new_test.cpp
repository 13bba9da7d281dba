#include "fileio/file_new.h"

#include <gtest/gtest.h>

#include "core/image_convert.h"
#include "core/tables.h"
#include "support/module_helpers.h"
#include "support/recording_interaction.h"

namespace tessaly {
namespace {

// Runs File New on a fresh node; its reference slot holds `reference` when given.
struct Canvas {
    Node node;
    Node reference;
    std::uint8_t error = 0;
    explicit Canvas(const std::string& command_line, bool with_reference = false) {
        node.inputs.assign(1, nullptr);
        if (with_reference) node.inputs[0] = &reference;
        error = find_module("file_new")->run(nullptr, &node, split(command_line));
    }
};

// The default picture's pixels are checked by the conformance suite; its resolution and profile
// are not.
TEST(FileNew, DefaultsAndTheCommandLine) {
    const std::uint8_t profile[] = {1, 2, 3, 4};
    set_rgb_working_profile(profile, sizeof profile);
    Canvas c(testing::default_line("file_new"));
    ASSERT_EQ(c.error, 0);
    const Image& im = c.node.image;
    EXPECT_EQ(im.dpi, 100.0);
    ASSERT_EQ(im.profile_size, sizeof profile);
    EXPECT_EQ(im.profile[3], 4);
    set_rgb_working_profile(nullptr, 0);

    EXPECT_EQ(testing::normalised("file_new 0 type 5 nx 7 dpi 300.5 color 30201"),
              "file_new 0 type 5 nx 7 ny 100 units 0 dpi 300.5 color 30201");
}

TEST(FileNew, EveryTypeIsFilledWithTheColour) {
    // luminance(100, 100, 100) = 100 is below the binary threshold, 200 above it.
    Canvas dark("file_new 0 type 1 nx 13 ny 3 color 646464");
    Canvas light("file_new 0 type 1 nx 13 ny 3 color c8c8c8");
    for (std::uint32_t y = 0; y < 3; ++y) {
        for (std::uint32_t x = 0; x < 13; ++x) {
            EXPECT_EQ(bit_get(dark.node.image.rows[y], x), 0);
            EXPECT_EQ(bit_get(light.node.image.rows[y], x), 255);
        }
    }
    EXPECT_EQ(dark.node.image.profile_size, 0u);  // binary images carry no profile

    Canvas gray16("file_new 0 type 4 nx 5 ny 4 color ff");  // pure red
    for (std::uint32_t y = 0; y < 4; ++y) {
        for (std::uint32_t x = 0; x < 5; ++x)
            EXPECT_EQ(sample16(gray16.node.image.rows[y], x), to16[76]);
    }
    Canvas gray8("file_new 0 type 2 nx 3 ny 2 color ff");
    EXPECT_EQ(gray8.node.image.rows[1][2], 76);
    Canvas color48("file_new 0 type 5 nx 2 ny 2 color 30201");  // red 1, green 2, blue 3
    const std::uint8_t* row = color48.node.image.rows[1];
    EXPECT_EQ(sample16(row, 3), to16[3]);  // blue first
    EXPECT_EQ(sample16(row, 4), to16[2]);
    EXPECT_EQ(sample16(row, 5), to16[1]);
}

TEST(FileNew, AReferenceImageDecidesTypeSizeAndResolution) {
    Node reference;
    ASSERT_FALSE(image_alloc(reference.image, image_color48, 640, 480, 72.0));
    Node node;
    node.inputs.assign(1, &reference);
    ASSERT_EQ(find_module("file_new")
                  ->run(nullptr, &node, split("file_new 0 type 2 nx 10 ny 10 dpi 300")),
              0);
    EXPECT_EQ(node.image.type, image_color48);
    EXPECT_EQ(node.image.width, 640u);
    EXPECT_EQ(node.image.height, 480u);
    EXPECT_EQ(node.image.dpi, 72.0);
}

TEST(FileNew, DialogFieldsAreCheckedInOrder) {
    testing::RecordingScope scope;
    FileNewSettings s = file_new_module.defaults();
    ASSERT_FALSE(file_new_read_fields({"2.5", "1", "300", 1}, 20000, s));
    EXPECT_EQ(s.nx, 750);
    EXPECT_EQ(s.ny, 300);
    EXPECT_EQ(s.units, 1);
    EXPECT_EQ(s.dpi, 300.0);
    ASSERT_FALSE(file_new_read_fields({"25.4", "2.54", "100", 2}, 20000, s));
    EXPECT_EQ(s.nx, 100);
    EXPECT_EQ(s.ny, 10);
    ASSERT_FALSE(file_new_read_fields({"100000", "2", "72", 0}, 200000, s));
    EXPECT_EQ(s.nx, 100000);

    FileNewSettings unchanged = s;
    EXPECT_TRUE(file_new_read_fields({"1", "50", "72", 0}, 20000, s));
    EXPECT_TRUE(file_new_read_fields({"100001", "50", "72", 0}, 200000, s));
    EXPECT_TRUE(file_new_read_fields({"wide", "50", "72", 0}, 20000, s));
    EXPECT_TRUE(file_new_read_fields({"50", "x", "72", 0}, 20000, s));
    EXPECT_TRUE(file_new_read_fields({"50", "50", "0", 0}, 20000, s));
    EXPECT_EQ(scope.recorder.errors(),
              (std::vector<std::string>{"Illegal image width: 1", "Illegal image width: 100001",
                                        "Illegal image width: wide", "Illegal image height: x",
                                        "Illegal image resolution: 0"}));
    EXPECT_EQ(s.nx, unchanged.nx);

    scope.recorder.answers = {Answer::no};
    EXPECT_TRUE(file_new_read_fields({"30000", "50", "72", 0}, 20000, s));
    scope.recorder.answers = {Answer::yes, Answer::yes};
    EXPECT_FALSE(file_new_read_fields({"30000", "25000", "72", 0}, 20000, s));
    EXPECT_EQ(scope.recorder.questions,
              (std::vector<std::string>{"Warning: Image width exceeds 20000\nContinue anyway?",
                                        "Warning: Image width exceeds 20000\nContinue anyway?",
                                        "Warning: Image height exceeds 20000\nContinue anyway?"}));
    EXPECT_FALSE(declined_area(20000.0 * 20000.0, 20000));  // not above the limit: no question
    scope.recorder.answers = {Answer::no};
    EXPECT_TRUE(declined_area(1000.0 * 1001.0, 1000));
    EXPECT_EQ(scope.recorder.questions.back(),
              "Warning: Image area exceeds 1000000\nContinue anyway?");
    // "%0zf" has room for at most 10^6: larger areas show the overflow mark.
    scope.recorder.answers = {Answer::yes};
    EXPECT_FALSE(declined_area(20000.0 * 20001.0, 20000));
    EXPECT_EQ(scope.recorder.questions.back(), "Warning: Image area exceeds *\nContinue anyway?");
}

}  // namespace
}  // namespace tessaly
