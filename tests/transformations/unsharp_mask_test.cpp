// Unsharp Mask and Sharpen as transformations: command lines, amounts, types and failures.
#include <gtest/gtest.h>

#include <string>

#include "framework/module.h"
#include "support/module_helpers.h"
#include "support/sample_rows.h"

namespace tessaly {
namespace {

using Rows = testing::SampleRows;
using testing::image_of_rows;
using testing::rows_of;

class SharpenRun : public ::testing::Test {
  protected:
    void SetUp() override {
        input.parent = &tree_root();
        node.parent = &input;
    }
    std::uint8_t run(const char* keyword, const std::string& line) {
        return find_module(keyword)->run(&input, &node, split(line));
    }
    Node input, node;
};

TEST_F(SharpenRun, OldSingleThresholdSetsBothUnlessTheyAreGiven) {
    // The old threshold (0..255) sets both; the two keys override it whatever their place.
    EXPECT_EQ(testing::normalised("unsharp_mask 0 thresholdw 0.5 threshold 51"),
              "unsharp_mask 0 radius 2 thresholdb 0.2 thresholdw 0.5 what 0 strength 1 "
              "maxovershoot 0.1 maxundershoot 0.1 amount 1 -1 0 1 \u2033Amount: \u2033 "
              "\u2033Mask\u2033 display 1 sync_scroll 1");
    EXPECT_EQ(testing::normalised("sharpen 0 threshold 255 thresholdb 0.1"),
              "sharpen 0 kernel 0 maxovershoot 0.1 maxundershoot 0.1 thresholdb 0.1 "
              "thresholdw 1 strength 1 amount 1 -1 0 1 \u2033Amount: \u2033 \u2033Mask\u2033 "
              "display 1 sync_scroll 1 auto_preview 1");
}

TEST_F(SharpenRun, AmountTypesAndFailures) {
    // Peak 90 sharpened to 116 at full amount; at 5004 (weight 127) 90 + (26 x 127 + 127) / 255.
    input.image = image_of_rows(image_gray8, {{0, 0, 90, 0, 0}});
    const std::string amount = " amount 0.5 -1 0 1 \u2033A\u2033 \u2033M\u2033";
    ASSERT_EQ(run("unsharp_mask", "unsharp_mask 0 radius 1 thresholdb 0 thresholdw 0" + amount), 0);
    EXPECT_EQ(rows_of(node.image), (Rows{{0, 0, 103, 0, 0}}));
    ASSERT_EQ(run("unsharp_mask", "unsharp_mask 0 radius 0"), 0);
    EXPECT_TRUE(image_equal(node.image, input.image));
    // Sharpen on one row: above and below are the row itself, so the peak's mean is
    // (90 + 0 + 0 + 90) >> 2 = 45 and its candidate 135, capped at 116 again.
    ASSERT_EQ(run("sharpen", "sharpen 0 thresholdb 0 thresholdw 0" + amount), 0);
    EXPECT_EQ(rows_of(node.image), (Rows{{0, 0, 103, 0, 0}}));

    // A binary picture is sharpened as 8-bit gray.
    ASSERT_FALSE(image_alloc(input.image, image_binary, 3, 3, 0.0));
    bit_set(input.image.rows[1], 1);
    ASSERT_EQ(run("sharpen", "sharpen 0 kernel 1"), 0);
    EXPECT_EQ(node.image.type, image_gray8);
    EXPECT_EQ(rows_of(node.image), (Rows{{0, 0, 0}, {0, 255, 0}, {0, 0, 0}}));

    ASSERT_FALSE(image_alloc(input.image, image_float_gray, 3, 3, 0.0));
    EXPECT_EQ(run("unsharp_mask", "unsharp_mask 0 radius 2"), 1);
    EXPECT_EQ(node.error_text, "Illegal input image type");
    node.error_text.clear();
    EXPECT_EQ(run("sharpen", "sharpen 0 kernel 0"), 1);
    EXPECT_EQ(node.error_text, "Illegal input image type");
    EXPECT_EQ(run("sharpen", "unsharp_mask 0 kernel 0"), 1);
    EXPECT_EQ(node.error_text, "Illegal Sharpen command line");
    EXPECT_EQ(run("unsharp_mask", "sharpen 0 radius 1"), 1);
    EXPECT_EQ(node.error_text, "Illegal Unsharp Mask command line");
}

}  // namespace
}  // namespace tessaly
