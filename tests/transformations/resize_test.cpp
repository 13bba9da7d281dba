#include "transformations/resize.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>

#include "core/image_convert.h"
#include "framework/registry.h"
#include "support/module_helpers.h"
#include "support/resample_reference.h"

namespace tessaly {
namespace {

using testing::plain_resample;
using testing::random_pixels;
using testing::same_pixels;

ResizeSource landscape() {
    return {4000, 3000, 300, 12000.0 * 3000 / 1e6};
}
ResizeSource portrait() {
    return {3000, 4000, 300, 9000.0 * 4000 / 1e6};
}

std::pair<int, int> size_of(const ResizeSettings& s, const ResizeSource& src) {
    ResizeTarget t = resize_target(s, src);
    return {t.width, t.height};
}

TEST(ResizeTarget, EverySetWithResampling) {
    ResizeSettings s = resize_module.defaults();
    s.resolution = 100;
    using P = std::pair<int, int>;
    s.set = resize_pixel_width, s.pixel_w = 1000;
    EXPECT_EQ(size_of(s, landscape()), P(1000, 750));
    s.set = resize_pixel_height, s.pixel_h = 600;
    EXPECT_EQ(size_of(s, landscape()), P(800, 600));
    s.set = resize_pixel_width_height, s.pixel_w = 123, s.pixel_h = 456;
    EXPECT_EQ(size_of(s, landscape()), P(123, 456));
    s.set = resize_physical_width, s.physical_w = 5;  // 5 in at 100 dpi
    EXPECT_EQ(size_of(s, landscape()), P(500, 375));
    s.set = resize_physical_height, s.physical_h = 2;
    EXPECT_EQ(size_of(s, landscape()), P(267, 200));
    s.set = resize_physical_width_height, s.physical_w = 2, s.physical_h = 3;
    EXPECT_EQ(size_of(s, landscape()), P(200, 300));
    s.set = resize_memory, s.memory = 9;  // a quarter of 36 MB: half of each side
    EXPECT_EQ(size_of(s, landscape()), P(2000, 1500));

    // Short and long sides follow the orientation.
    s.pixel_w = 600, s.pixel_h = 500;
    s.set = resize_pixel_short_side;
    EXPECT_EQ(size_of(s, landscape()), P(667, 500));
    EXPECT_EQ(size_of(s, portrait()), P(600, 800));
    s.set = resize_pixel_long_side;
    EXPECT_EQ(size_of(s, landscape()), P(600, 450));
    EXPECT_EQ(size_of(s, portrait()), P(375, 500));
    s.physical_w = 4, s.physical_h = 3;
    s.set = resize_physical_short_side;
    EXPECT_EQ(size_of(s, landscape()), P(400, 300));
    EXPECT_EQ(size_of(s, portrait()), P(400, 533));
    s.set = resize_physical_long_side;
    EXPECT_EQ(size_of(s, landscape()), P(400, 300));
    EXPECT_EQ(size_of(s, portrait()), P(225, 300));

    // Bounding rectangles: the width first, the height when the width makes it too tall.
    s.set = resize_pixel_bounding_rectangle, s.pixel_w = 1000, s.pixel_h = 800;
    EXPECT_EQ(size_of(s, landscape()), P(1000, 750));
    s.pixel_h = 700;
    EXPECT_EQ(size_of(s, landscape()), P(933, 700));
    s.set = resize_physical_bounding_rectangle, s.physical_w = 10, s.physical_h = 8;
    EXPECT_EQ(size_of(s, landscape()), P(1000, 750));
    s.physical_h = 5;
    EXPECT_EQ(size_of(s, landscape()), P(667, 500));

    s.set = resize_pixel_percent, s.percent = 25;
    EXPECT_EQ(size_of(s, landscape()), P(1000, 750));
    s.set = resize_megapixels, s.pixel_area = 1e6;
    EXPECT_EQ(size_of(s, landscape()), P(1155, 866));

    for (int set : {resize_resolution, resize_physical_percent}) {
        s.set = set;
        ResizeTarget t = resize_target(s, landscape());
        EXPECT_EQ(P(t.width, t.height), P(4000, 3000));
        EXPECT_EQ(t.resolution, 300.0);
    }
    s.set = resize_pixel_width;
    EXPECT_EQ(resize_target(s, landscape()).resolution, 100.0);

    // Halves round away from zero; nothing ends below 2 pixels.
    s.pixel_w = 3;
    EXPECT_EQ(size_of(s, ResizeSource{4, 6, 72, 0}), P(3, 5));
    s.pixel_w = 1;
    EXPECT_EQ(size_of(s, landscape()), P(2, 2));
}

TEST(ResizeTarget, DontResampleChangesOnlyTheResolution) {
    ResizeSettings s = resize_module.defaults();
    s.resample = 1;
    s.physical_w = 20, s.physical_h = 5, s.resolution = 72, s.percent = 50;
    const std::pair<int, double> expected[] = {
        {resize_physical_width, 200.0},   // 4000 / 20
        {resize_physical_height, 600.0},  // 3000 / 5
        {resize_resolution, 72.0},
        {resize_physical_short_side, 600.0},  // the height is the short side
        {resize_physical_long_side, 200.0},
        {resize_physical_bounding_rectangle, 600.0},
        {resize_physical_percent, 600.0},  // 50 percent doubles it
        {resize_pixel_width, 300.0},
        {resize_megapixels, 300.0},
    };
    for (auto [set, resolution] : expected) {
        s.set = set;
        ResizeTarget t = resize_target(s, landscape());
        EXPECT_EQ(t.width, 4000) << set;
        EXPECT_EQ(t.height, 3000) << set;
        EXPECT_DOUBLE_EQ(t.resolution, resolution) << set;
    }
    s.set = resize_physical_short_side;
    EXPECT_DOUBLE_EQ(resize_target(s, portrait()).resolution, 3000.0 / 20);
    s.set = resize_physical_long_side;
    EXPECT_DOUBLE_EQ(resize_target(s, portrait()).resolution, 4000.0 / 5);
}

// ---------------------------------------------------------------------------------------------

// Settings read against a source picture, as a run reads them.
bool resize_parse(std::string_view line, const Image* source, ResizeSettings& s) {
    TransformationContext<ResizeSettings> ctx;
    ctx.working_input = source;
    const bool failed = resize_module.parse(split(line), ctx);
    s = ctx.settings;
    return failed;
}

TEST(ResizeCommandLine, DefaultsComeFromTheSource) {
    Image src;
    ASSERT_FALSE(image_alloc(src, image_color24, 40, 30, 300.0));  // rows of 120 bytes
    ResizeSettings s = resize_module.defaults();
    resize_input_defaults(s, src);
    EXPECT_EQ(resize_module.format(s),
              "resize 0 pixel_w 40 pixel_h 30 physical_w 0.13333 physical_h 0.1 resolution 300 "
              "memory 0.0036 percent 100 pixel_area 0.0012 iunits 0 wunits 0 runits 0 resample 0 "
              "set 0 method 2 sharpen -0.75 display 1 auto_preview 1");
    ASSERT_FALSE(resize_parse("resize 0 pixel_area 0.3072", &src, s));
    EXPECT_DOUBLE_EQ(s.pixel_area, 307200.0);
}

TEST(ResizeCommandLine, DefaultsLegacyKeysAndFailures) {
    Image src;
    ASSERT_FALSE(image_alloc(src, image_gray8, 100, 50, 200.0));
    ResizeSettings s = resize_module.defaults();
    // Missing keys keep the source's values, but a missing pixel_area means one megapixel.
    ASSERT_FALSE(resize_parse(("resize 0 set 14 percent 50"), &src, s));
    EXPECT_EQ(s.pixel_w, 100);
    EXPECT_EQ(s.physical_h, 0.25);
    EXPECT_EQ(s.resolution, 200.0);
    EXPECT_EQ(s.memory, 100.0 * 50 / 1e6);
    EXPECT_EQ(s.pixel_area, 1e6);
    EXPECT_EQ(s.percent, 50.0);

    // Old lines give the new size and resolution; the present-day keys still win.
    ASSERT_FALSE(resize_parse(("resize 0 onx 800 ony 600 dpi 250 percent 40"), &src, s));
    EXPECT_EQ(s.pixel_w, 800);
    EXPECT_EQ(s.pixel_h, 600);
    EXPECT_DOUBLE_EQ(s.physical_w, 3.2);
    EXPECT_DOUBLE_EQ(s.physical_h, 2.4);
    EXPECT_EQ(s.resolution, 250.0);
    EXPECT_EQ(s.percent, 40.0);
    ASSERT_FALSE(resize_parse(("resize 0 onx 800 pixel_w 900"), &src, s));
    EXPECT_EQ(s.pixel_w, 900);
    EXPECT_EQ(s.pixel_h, 50);
    EXPECT_DOUBLE_EQ(s.physical_w, 4.0);  // 800 at the source's 200 dpi

    EXPECT_TRUE(resize_parse(("resize 0 method 6"), &src, s));
    EXPECT_TRUE(resize_parse(("resize 0 set 17"), &src, s));
    EXPECT_TRUE(resize_parse(("resize 0 resample 1 set 3 physical_w 0"), &src, s));
    EXPECT_TRUE(resize_parse(("crop 0"), &src, s));
    EXPECT_FALSE(resize_parse(("resize 0 method x unknown 5"), &src, s));
    EXPECT_EQ(s.method, resample_bicubic);
}

// ---------------------------------------------------------------------------------------------

struct Nodes {
    Node* input = new Node;
    Node* node = new Node;
    Nodes() { node->parent = input; }
    ~Nodes() {
        delete node;
        delete input;
    }
    Nodes(const Nodes&) = delete;
    Nodes& operator=(const Nodes&) = delete;
};

TEST(ResizeRun, ScalesTheInputKeepingTypeProfileAndTags) {
    ASSERT_NE(find_module("resize"), nullptr);
    Nodes n;
    n.input->image = random_pixels(image_color24, 40, 30, 6);
    ASSERT_FALSE(
        image_set_profile(n.input->image, reinterpret_cast<const std::uint8_t*>("icc"), 3));
    const char text[] = "cam";
    ASSERT_FALSE(image_add_tag(n.input->image, 271, 2, 4, text));
    ASSERT_EQ(
        testing::run_line(n.input, n.node, ("resize 0 set 14 percent 50 method 4 resolution 150")),
        0);
    EXPECT_FALSE(n.node->error);
    const Image& out = n.node->image;
    EXPECT_EQ(out.type, image_color24);
    EXPECT_EQ(out.width, 20u);
    EXPECT_EQ(out.height, 15u);
    EXPECT_EQ(out.dpi, 150.0);
    EXPECT_EQ(out.profile_size, 3u);
    ASSERT_NE(out.tags, nullptr);
    EXPECT_EQ(out.tags->tag, 271u);
    EXPECT_TRUE(same_pixels(out, plain_resample(n.input->image, 20, 15, resample_lanczos6, 0)));
}

TEST(ResizeRun, DontResamplePhysicalPercentDoublesTheResolution) {
    Nodes n;
    n.input->image = random_pixels(image_gray16, 17, 9, 2);
    ASSERT_EQ(testing::run_line(n.input, n.node, ("resize 0 resample 1 set 15 percent 50")), 0);
    EXPECT_EQ(n.node->image.dpi, 600.0);
    n.node->image.dpi = 300.0;
    EXPECT_TRUE(image_equal(n.node->image, n.input->image));
}

TEST(ResizeRun, BinaryStaysBinaryOtherTypesFail) {
    Nodes n;
    n.input->image = random_pixels(image_binary, 33, 20, 2);
    ASSERT_EQ(testing::run_line(n.input, n.node, ("resize 0 set 2 pixel_w 10 pixel_h 60")), 0);
    EXPECT_EQ(n.node->image.type, image_binary);
    EXPECT_EQ(n.node->image.width, 10u);
    EXPECT_EQ(n.node->image.height, 60u);

    Image gray = random_pixels(image_gray8, 4, 4, 1);
    ASSERT_FALSE(convert_2_to_6(gray, n.input->image));
    EXPECT_EQ(testing::run_line(n.input, n.node, ("resize 0 set 14 percent 50")), 1);
    EXPECT_TRUE(n.node->error);
    EXPECT_EQ(n.node->error_text, "Illegal input image type");

    n.input->image = random_pixels(image_gray8, 4, 4, 1);
    n.node->error_text.clear();
    EXPECT_EQ(testing::run_line(n.input, n.node, ("resize 0 method 9")), 1);
    EXPECT_EQ(n.node->error_text, "Illegal Resize command line");
}

}  // namespace
}  // namespace tessaly
