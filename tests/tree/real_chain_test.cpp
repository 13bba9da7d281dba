// A chain of real transformations across two trees: Resize and Rotate/Mirror in one, a Copy of
// the rotated image in the other. Editing the Resize node re-runs exactly what depends on it.
#include <gtest/gtest.h>

#include "framework/registry.h"
#include "support/recording_interaction.h"
#include "tree/run_node.h"
#include "tree/tree.h"

namespace tessaly {
namespace {

// The picture as a person sees it: rows top to bottom, "|" between rows.
std::string seen(const Node* node) {
    const Image& im = node->image;
    std::string s;
    for (int r = static_cast<int>(im.height) - 1; r >= 0; --r) {
        for (std::uint32_t x = 0; x < im.width; ++x) {
            s += std::to_string(im.rows[r][x]);
            if (x + 1 < im.width) s += ' ';
        }
        if (r > 0) s += '|';
    }
    return s;
}

Node* step(Node* parent, const char* caption, const char* command_line, int inputs = 0) {
    Node* n = add_transformation_after(parent, false, false, 0, inputs, bypass_none, caption);
    n->command_line = command_line;
    return n;
}

TEST(RealChain, EditingResizeRerunsTheRotationAndItsCopyElsewhere) {
    testing::RecordingScope scope;
    Node* picture = create_top_level_image(true, false, 0, 0, bypass_none, "a.tif", true);
    ASSERT_FALSE(image_alloc(picture->image, image_gray8, 4, 2, 72.0));
    const std::uint8_t bottom[] = {1, 2, 3, 4}, top[] = {5, 6, 7, 8};
    for (int x = 0; x < 4; ++x) {
        picture->image.rows[0][x] = bottom[x];
        picture->image.rows[1][x] = top[x];
    }
    Node* resize = step(picture, "Resize", "resize 0 pixel_w 3 pixel_h 2 set 2 method 0");
    Node* rotate = step(resize, "Rotate/Mirror", "rotref 0 orientation 1 display 1");
    Node* other = create_top_level_image(true, false, 0, 0, bypass_none, "b.tif", false);
    ASSERT_FALSE(image_alloc(other->image, image_gray8, 1, 1, 72.0));
    Node* copy = step(other, "Copy", "copy 0 display 1 sync_scroll 0", 1);
    copy->inputs[0] = rotate;

    ASSERT_FALSE(run_node(picture, resize));
    ASSERT_FALSE(run_node(resize, rotate));
    ASSERT_FALSE(run_node(other, copy));
    // Nearest neighbour from 4 to 3 columns keeps columns 0, (3+1)/2 = 2 and 3.
    EXPECT_EQ(seen(resize), "5 7 8|1 3 4");
    EXPECT_EQ(seen(rotate), "1 5|3 7|4 8");
    EXPECT_EQ(seen(copy), "1 5|3 7|4 8");

    resize->command_line = "resize 0 pixel_w 2 pixel_h 2 set 2 method 0";
    ASSERT_FALSE(run_node(picture, resize));
    ASSERT_FALSE(rerun_downstream(resize, false));
    EXPECT_EQ(seen(resize), "5 8|1 4");
    EXPECT_EQ(seen(rotate), "1 5|4 8");
    EXPECT_EQ(seen(copy), "1 5|4 8");  // ran after the rotation it copies
    EXPECT_EQ(seen(other), "0");       // the other top level image is not touched

    // Bypassing the rotation passes the resized picture on to the copy.
    rotate->bypass = bypass_user;
    ASSERT_FALSE(run_node(resize, rotate));
    ASSERT_FALSE(rerun_downstream(rotate, false));
    EXPECT_EQ(seen(copy), "5 8|1 4");

    // A failing Resize makes its dependants report a bad input without running.
    rotate->bypass = bypass_none;
    resize->command_line = "resize 0 method 9";
    EXPECT_TRUE(run_node(picture, resize));
    EXPECT_EQ(resize->error_text, "Illegal Resize command line");
    ASSERT_FALSE(rerun_downstream(resize, false));
    EXPECT_TRUE(rotate->error);
    EXPECT_EQ(rotate->error_text, "Bad input image");
    EXPECT_TRUE(scope.recorder.messages.empty());
    close_all_images();
}

}  // namespace
}  // namespace tessaly
