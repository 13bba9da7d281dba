#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "framework/registry.h"
#include "support/recording_interaction.h"
#include "support/sample_rows.h"

namespace tessaly {
namespace {

using Rows = testing::SampleRows;
using testing::image_of_rows;
using testing::rows_of;

class GaussianBlurRun : public ::testing::Test {
  protected:
    void SetUp() override {
        input.parent = &tree_root();
        node.parent = &input;
    }
    std::uint8_t run(const std::string& line) {
        return find_transformation("gaussian_blur")->run(&input, &node, split(line));
    }
    Node input, node;
};

TEST_F(GaussianBlurRun, AmountAndMask) {
    // Blur 0 0 90 0 0 -> 10 20 30 20 10; amount 5004 (weight 127): 5 10 60 10 5, e.g. 90 - floor
    // ((60 x 127 + 127) / 255) = 60.
    input.image = image_of_rows(image_gray8, {{0, 0, 90, 0, 0}});
    ASSERT_EQ(run("gaussian_blur 0 radius 1 amount 0.5 -1 0 1 \u2033A\u2033 \u2033M\u2033"), 0);
    EXPECT_EQ(rows_of(node.image), (Rows{{5, 10, 60, 10, 5}}));
    // Radius 0 and amount 0 both copy the input.
    ASSERT_EQ(run("gaussian_blur 0 radius 0"), 0);
    EXPECT_TRUE(image_equal(node.image, input.image));
    ASSERT_EQ(run("gaussian_blur 0 radius 2 amount 0 -1 0 1 \u2033A\u2033 \u2033M\u2033"), 0);
    EXPECT_TRUE(image_equal(node.image, input.image));

    // An 8-bit mask on a 16-bit image: 9000 blurs to 1000 2000 3000 2000 1000; amounts 0 and
    // 10008 make the mask value the 8-bit weight: 0, 2000, 3000, 2000 x 128 / 255, 0.
    input.image = image_of_rows(image_gray16, {{0, 0, 9000, 0, 0}});
    node.masks.push_back(std::make_unique<MaskSettings>());
    node.masks[0]->image = image_of_rows(image_gray8, {{0, 255, 255, 128, 0}});
    ASSERT_EQ(run("gaussian_blur 0 radius 1 amount 0 1 0 1 \u2033A\u2033 \u2033M\u2033"), 0);
    EXPECT_EQ(rows_of(node.image), (Rows{{0, 2000, 3000, 1003, 0}}));

    // A built mask of another size that no recipe can rebuild is reported and dropped before
    // the run, which then blurs at the single full amount.
    testing::RecordingScope scope;
    input.name = "in";
    node.name = "blurred";
    node.masks[0]->image = image_of_rows(image_gray8, {{0, 255}});
    EXPECT_EQ(run("gaussian_blur 0 radius 1 amount 0 1 0 1 \u2033A\u2033 \u2033M\u2033"), 0);
    EXPECT_EQ(scope.recorder.warnings(),
              std::vector<std::string>{
                  "Image and mask size mismatch (in and blurred ) - mask is being reset"});
    EXPECT_EQ(rows_of(node.image), (Rows{{1000, 2000, 3000, 2000, 1000}}));

    input.image = Image();
    EXPECT_EQ(run("gaussian_blur 0 radius 1"), 1);
    EXPECT_EQ(node.error_text, "Illegal input image type");
}

}  // namespace
}  // namespace tessaly
