// The first look a dialog draws of a change on a large picture: lengths in pixels reduced with
// the picture, the look made from a reduced copy and marked with the whole result's size, and
// no look where it would mislead (masks in use, small pictures).
#include "shell/preview_proxy.h"

#include <gtest/gtest.h>

#include "core/arguments.h"
#include "core/image.h"
#include "framework/module.h"
#include "framework/node.h"
#include "framework/registry.h"
#include "shell/display_picture.h"

namespace tessaly::shell {
namespace {

const TransformationModule& module(const char* keyword) {
    const TransformationModule* m = find_module(keyword);
    EXPECT_NE(m, nullptr) << keyword;
    return *m;
}

std::int32_t integer_in(const std::string& line, const char* key) {
    std::int32_t value = -999;
    EXPECT_FALSE(read_integer(split(line), key, value)) << line;
    return value;
}

TEST(PreviewProxy, LengthsInPixelsShrinkWithThePicture) {
    const TransformationModule& blur = module("gaussian_blur");
    EXPECT_EQ(integer_in(PreviewProxy::reduced_line(blur, "gaussian_blur 0 radius 12 what 1", 4),
                         "radius"),
              3);
    // A length that was there stays at least a pixel; none stays none.
    EXPECT_EQ(integer_in(PreviewProxy::reduced_line(blur, "gaussian_blur 0 radius 1", 4), "radius"),
              1);
    EXPECT_EQ(integer_in(PreviewProxy::reduced_line(blur, "gaussian_blur 0 radius 0", 4), "radius"),
              0);
    // Settings that are not lengths keep their values.
    EXPECT_EQ(
        integer_in(PreviewProxy::reduced_line(blur, "gaussian_blur 0 radius 12 what 1", 4), "what"),
        1);
    const TransformationModule& resize = module("resize");
    const std::string line =
        PreviewProxy::reduced_line(resize, "resize 0 pixel_w 3000 pixel_h 1875 set 2 method 2", 3);
    EXPECT_EQ(integer_in(line, "pixel_w"), 1000);
    EXPECT_EQ(integer_in(line, "pixel_h"), 625);
}

// A picture above the threshold, a gradient across its width.
struct LargeInput {
    Node parent, node;
    LargeInput(std::uint32_t width, std::uint32_t height) {
        EXPECT_FALSE(image_alloc(parent.image, image_gray8, width, height, 300.0));
        for (std::uint32_t y = 0; y < height; ++y) {
            for (std::uint32_t x = 0; x < width; ++x)
                parent.image.rows[y][x] = static_cast<std::uint8_t>(x * 255 / (width - 1));
        }
        node.parent = &parent;
        node.masks.push_back(std::make_unique<MaskSettings>());
    }
};

TEST(PreviewProxy, AFirstLookIsTheResultOfAReducedCopyDrawnAtTheWholeSize) {
    LargeInput input(3000, 1600);
    PreviewProxy proxy;
    QImage look = proxy.picture(module("invert"), &input.node, "invert 0");
    ASSERT_FALSE(look.isNull());
    EXPECT_LE(std::max(look.width(), look.height()), static_cast<int>(proxy_side));
    EXPECT_EQ(full_size(look), QSize(3000, 1600));
    // Inverted: dark on the left, light on the right.
    EXPECT_GT(qGray(look.pixel(2, look.height() / 2)), 240);
    EXPECT_LT(qGray(look.pixel(look.width() - 3, look.height() / 2)), 15);

    // A size change is drawn at the size the whole run will make.
    look = proxy.picture(module("resize"), &input.node,
                         "resize 0 pixel_w 1500 pixel_h 800 set 2 method 2");
    ASSERT_FALSE(look.isNull());
    EXPECT_EQ(full_size(look), QSize(1500, 800));

    // A mask in use is made at the node's size: no first look rather than a wrong one.
    input.node.masks[0]->command_line = "masks 0 rectangle 0 0 10 10";
    EXPECT_TRUE(proxy.picture(module("invert"), &input.node, "invert 0").isNull());
}

TEST(PreviewProxy, SmallPicturesRunWhole) {
    LargeInput input(1000, 800);
    PreviewProxy proxy;
    EXPECT_TRUE(proxy.picture(module("invert"), &input.node, "invert 0").isNull());
}

}  // namespace
}  // namespace tessaly::shell
