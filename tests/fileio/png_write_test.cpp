#include <gtest/gtest.h>

#include <cstring>

#include "core/builtin_profiles.h"
#include "fileio/image_file.h"
#include "fileio/image_write.h"
#include "support/fileio_builders.h"
#include "support/small_exif.h"
#include "support/temp_dir.h"

namespace tessaly {
namespace {

using testing::patterned;
using testing::same_pixels;

TEST(PngWriter, EveryTypeRoundTripsWithResolutionProfileAndText) {
    testing::RecordingScope scope;
    testing::TempDir dir;
    for (std::uint32_t type = image_binary; type <= image_color48; ++type) {
        SCOPED_TRACE(type);
        const bool color = type == image_color24 || type == image_color48;
        ProfileBytes profile = color ? builtin_srgb_profile() : builtin_gray_profile();
        Image im = patterned(type, 13, 5, 150.0);
        ASSERT_FALSE(image_set_profile(im, profile.data, profile.size));
        const char title[] = "Harbour at dawn";
        ASSERT_FALSE(image_add_tag(im, 800, 2, sizeof title, title));
        std::string path = dir.file("t" + std::to_string(type) + ".png");
        ASSERT_FALSE(write_png_file(path, im, nullptr, 0));
        Image back, alpha;
        ASSERT_FALSE(read_png_file(path, back, &alpha));
        EXPECT_TRUE(same_pixels(im, back));
        EXPECT_TRUE(alpha.empty());
        EXPECT_NEAR(back.dpi, 150.0, 0.03);  // pixels per metre, rounded, plus a half on reading
        ASSERT_EQ(back.profile_size, profile.size);
        EXPECT_EQ(0, std::memcmp(back.profile, profile.data, profile.size));
        ASSERT_NE(testing::find_tag(back, 800), nullptr);
        EXPECT_STREQ(reinterpret_cast<const char*>(testing::find_tag(back, 800)->data), title);

        // Metadata mode 3 leaves the profile out.
        ASSERT_FALSE(write_png_file(path, im, nullptr, 3));
        ASSERT_FALSE(read_png_file(path, back, nullptr));
        EXPECT_EQ(back.profile_size, 0u);
    }
    // A profile of the wrong kind is left out rather than making an invalid file.
    Image gray = patterned(image_gray8, 4, 4);
    ProfileBytes srgb = builtin_srgb_profile();
    ASSERT_FALSE(image_set_profile(gray, srgb.data, srgb.size));
    ASSERT_FALSE(write_png_file(dir.file("g.png"), gray, nullptr, 0));
    Image back;
    ASSERT_FALSE(read_png_file(dir.file("g.png"), back, nullptr));
    EXPECT_EQ(back.profile_size, 0u);
    EXPECT_TRUE(scope.recorder.messages.empty());
}

TEST(PngWriter, TransparencyGoesOutAsAlpha) {
    testing::TempDir dir;
    for (std::uint32_t type :
         {image_gray8, image_color24, image_gray16, image_color48, image_binary}) {
        SCOPED_TRACE(type);
        Image im = patterned(type, 6, 4);
        Image alpha = patterned(image_gray8, 6, 4);
        std::string path = dir.file("a.png");
        ASSERT_FALSE(write_png_file(path, im, &alpha, 0));
        Image back, back_alpha;
        ASSERT_FALSE(read_png_file(path, back, &back_alpha));
        EXPECT_TRUE(same_pixels(im, back));
        if (type == image_binary) {
            EXPECT_TRUE(back_alpha.empty());  // binary pictures are written without alpha
        } else {
            EXPECT_TRUE(same_pixels(alpha, back_alpha));
        }
    }
    Image im = patterned(image_gray8, 6, 4);
    Image wrong = patterned(image_gray8, 5, 4);
    EXPECT_TRUE(write_png_file(dir.file("w.png"), im, &wrong, 0));
    Image floats;
    ASSERT_FALSE(image_alloc(floats, image_float_color, 2, 2, 72.0));
    EXPECT_TRUE(write_png_file(dir.file("f.png"), floats, nullptr, 0));
}

}  // namespace
}  // namespace tessaly
