#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "framework/module.h"
#include "support/image_helpers.h"
#include "support/recording_interaction.h"
#include "transformations/bypass.h"
#include "transformations/copy.h"
#include "tree/tree.h"

namespace tessaly {
namespace {

class BypassCopy : public ::testing::Test {
  protected:
    // Through the registry, as a re-run of the node would; a Copy node is a top level image.
    static std::uint8_t run(Node* input, Node& node, const std::string& line) {
        return find_transformation(split(line)[0])->run(input, &node, split(line));
    }
};

TEST_F(BypassCopy, BypassSucceedsWithoutTouchingTheNode) {
    Node parent, node;
    parent.parent = &tree_root();
    ASSERT_FALSE(image_alloc(parent.image, image_gray8, 4, 4, 72.0));
    ASSERT_FALSE(image_alloc(node.image, image_binary, 3, 1, 72.0));
    bit_set(node.image.rows[0], 1);
    node.parent = &parent;
    node.error = true;
    EXPECT_EQ(run(&parent, node, bypass_command_line), 0);
    EXPECT_FALSE(node.error);
    EXPECT_EQ(node.image.type, image_binary);
    EXPECT_EQ(bit_get(node.image.rows[0], 1), 255);
    EXPECT_TRUE(find_transformation("bypass")->no_edit);
}

// Two Copy trees use the image as their input, and a Rotate/Mirror node follows it.
TEST_F(BypassCopy, InsertingABypassOffersToMoveTheInputsThatUsedTheImage) {
    testing::RecordingScope scope;
    Node* top = create_top_level_image(false, false, 0, 0, bypass_none, "a.tif", false);
    ASSERT_FALSE(image_alloc(top->image, image_gray8, 2, 1, 72.0));
    top->image.rows[0][1] = 77;
    Node* turned = add_transformation_after(top, false, false, 0, 0, bypass_none, "Rotate/Mirror");
    turned->command_line = "rotref 0 orientation 1 display 1";
    Node* copies[2];
    for (Node*& c : copies) {
        c = create_top_level_image(false, false, 0, 1, bypass_none, "Copy", false);
        c->command_line = "copy 0 display 1 sync_scroll 1";
        c->inputs[0] = top;
    }
    scope.recorder.answers = {Answer::yes};

    Node* bypass = insert_bypass(top);
    ASSERT_NE(bypass, nullptr);
    EXPECT_EQ(scope.recorder.questions,
              std::vector<std::string>{
                  "Confirm: Update all 2 auxiliary inputs that refer to bypassed image"});
    EXPECT_EQ(*bypass->command_line, "bypass");
    EXPECT_EQ(bypass->caption, "Bypass");
    EXPECT_EQ(bypass->bypass, bypass_structural);
    EXPECT_TRUE(bypass->same_size);
    EXPECT_EQ(bypass->input_count() + bypass->mask_count(), 0);
    EXPECT_EQ(current_node(), bypass);
    ASSERT_EQ(top->children, std::vector<Node*>{bypass});
    ASSERT_EQ(bypass->children, std::vector<Node*>{turned});
    EXPECT_EQ(turned->parent, bypass);
    EXPECT_TRUE(image_equal(bypass->image, top->image));
    EXPECT_EQ(effective_image_node(bypass), top);
    // The users were re-run from their new input.
    for (Node* c : copies) {
        EXPECT_EQ(c->inputs[0], bypass);
        EXPECT_TRUE(image_equal(c->image, top->image));
    }
    EXPECT_EQ(turned->image.height, 2u);

    // One user, answered No: nothing moves.
    close_all_images();
    top = create_top_level_image(false, false, 0, 0, bypass_none, "b.tif", false);
    ASSERT_FALSE(image_alloc(top->image, image_color24, 1, 1, 72.0));
    copies[0] = create_top_level_image(false, false, 0, 1, bypass_none, "Copy", false);
    copies[0]->command_line = "copy 0 display 1 sync_scroll 1";
    copies[0]->inputs[0] = top;
    scope.recorder.questions.clear();
    scope.recorder.answers = {Answer::no};
    ASSERT_NE(insert_bypass(top), nullptr);
    EXPECT_EQ(scope.recorder.questions,
              std::vector<std::string>{
                  "Confirm: Update auxiliary input in [Copy] that refers to bypassed image"});
    EXPECT_EQ(copies[0]->inputs[0], top);
    close_all_images();
}

TEST_F(BypassCopy, CopyRefusesAnotherCommandLine) {
    Node node;
    EXPECT_EQ(find_module("copy")->run(nullptr, &node, split("paste 0")), 1);
    EXPECT_EQ(node.error_text, "Illegal Copy command line");
}

// A closed input leaves a null slot; a node made without slots has none at all.
TEST_F(BypassCopy, EmptySlotGivesTheCheckerboard) {
    for (bool has_slot : {true, false}) {
        Node node;
        node.parent = &tree_root();
        if (has_slot) {
            node.inputs = {nullptr};
            node.input_captions = {copy_input_caption};
        }
        ASSERT_EQ(run(nullptr, node, "copy 0 display 1 sync_scroll 1"), 0);
        const Image& im = node.image;
        ASSERT_EQ(im.type, image_gray8);
        ASSERT_EQ(im.width, 320u);
        ASSERT_EQ(im.height, 240u);
        EXPECT_EQ(im.dpi, 100.0);
        EXPECT_EQ(im.profile_size, 0u);
        EXPECT_EQ(im.rows[0][0], 128);
        EXPECT_EQ(im.rows[0][20], 255);
        EXPECT_EQ(im.rows[20][20], 128);
        EXPECT_EQ(im.rows[19][19], 128);
        EXPECT_EQ(im.rows[20][19], 255);
        EXPECT_EQ(im.rows[239][319], 128);  // square (15, 11): both odd
        EXPECT_EQ(im.rows[239][299], 255);  // square (14, 11)
        std::size_t grey = 0;
        for (std::uint32_t y = 0; y < im.height; ++y) {
            for (std::uint32_t x = 0; x < im.width; ++x) grey += im.rows[y][x] == 128;
        }
        EXPECT_EQ(grey, 320u * 240u / 2);
    }
}

TEST_F(BypassCopy, CopiesTheEffectiveImageOfTheSlot) {
    const std::uint8_t profile[] = {9, 8, 7};
    Node source, bypassed, node;
    source.parent = &tree_root();
    ASSERT_FALSE(image_alloc(source.image, image_color48, 3, 2, 300.0));
    testing::fill_pattern(source.image, 18);
    ASSERT_FALSE(image_set_profile(source.image, profile, sizeof profile));
    ASSERT_FALSE(image_add_tag(source.image, 274, 3, 1, "\x06\x00"));
    // A bypassed node shows its parent's image, and so does its copy.
    bypassed.parent = &source;
    bypassed.bypass = bypass_user;
    ASSERT_FALSE(image_alloc(bypassed.image, image_gray8, 1, 1, 72.0));
    node.parent = &tree_root();
    node.inputs = {&bypassed};
    node.input_captions = {copy_input_caption};

    ASSERT_EQ(run(nullptr, node, "copy 0 display 1 sync_scroll 1"), 0);
    EXPECT_TRUE(image_equal(node.image, source.image));
    ASSERT_NE(node.image.tags, nullptr);
    EXPECT_EQ(node.image.tags->tag, 274u);
    EXPECT_NE(node.image.rows, source.image.rows);

    // Binary stays binary; a slot naming the node itself keeps its image.
    ASSERT_FALSE(image_alloc(source.image, image_binary, 11, 1, 72.0));
    bit_set(source.image.rows[0], 10);
    ASSERT_EQ(run(nullptr, node, "copy 0"), 0);
    EXPECT_EQ(node.image.type, image_binary);
    EXPECT_EQ(bit_get(node.image.rows[0], 10), 255);
    node.inputs = {&node};
    ASSERT_EQ(run(nullptr, node, "copy 0"), 0);
    EXPECT_EQ(bit_get(node.image.rows[0], 10), 255);

    testing::AllocationFailureScope failing;
    image_fail_allocations_after(0);
    node.inputs = {nullptr};
    EXPECT_EQ(run(nullptr, node, "copy 0"), 1);
    EXPECT_TRUE(node.error);
}

TEST_F(BypassCopy, PasteStaysNotAvailable) {
    Node node;
    EXPECT_EQ(run(nullptr, node, "paste"), 1);
    EXPECT_EQ(node.error_text, "Transformation not available: paste");
}

}  // namespace
}  // namespace tessaly
