#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "fileio/image_file.h"
#include "fileio/image_write.h"
#include "support/fileio_builders.h"
#include "support/small_exif.h"
#include "support/temp_dir.h"

namespace tessaly {
namespace {

TEST(TiffWriter, EveryTypeAndCompressionRoundTrips) {
    testing::RecordingScope scope;
    testing::TempDir dir;
    const std::uint8_t profile[] = {0, 0, 0, 12, 'a', 'b', 'c', 'd', 1, 2, 3, 4};
    const char make[] = "Tessaly Camera Works";
    for (std::uint32_t type = image_binary; type <= image_color48; ++type) {
        for (std::int32_t compression : {0, 1, 2}) {
            SCOPED_TRACE(::testing::Message() << "type " << type << " compression " << compression);
            Image im = testing::patterned(type, 21, 7, 240.0);
            ASSERT_FALSE(image_set_profile(im, profile, sizeof profile));
            ASSERT_FALSE(image_add_tag(im, 271, 2, sizeof make, make));
            std::string path = dir.file("t.tif");
            ASSERT_FALSE(write_tiff_file(path, im, compression, 0));
            EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
            Image back, alpha;
            ASSERT_FALSE(read_tiff_file(path, back, &alpha));
            EXPECT_TRUE(testing::same_pixels(im, back));
            EXPECT_NEAR(back.dpi, 240.0, 0.01);
            ASSERT_EQ(back.profile_size, sizeof profile);
            EXPECT_EQ(0, std::memcmp(back.profile, profile, sizeof profile));
            ASSERT_NE(testing::find_tag(back, 271), nullptr);
            EXPECT_STREQ(reinterpret_cast<const char*>(testing::find_tag(back, 271)->data), make);
        }
    }
    EXPECT_TRUE(scope.recorder.messages.empty());
}

TEST(TiffWriter, ProfileLeftOutAndResolutionRepaired) {
    testing::RecordingScope scope;
    testing::TempDir dir;
    Image im;
    ASSERT_FALSE(image_alloc(im, image_gray8, 4, 4, 0.0));
    const std::uint8_t profile[] = {1, 2, 3, 4};
    ASSERT_FALSE(image_set_profile(im, profile, sizeof profile));
    std::string path = dir.file("m3.tif");
    ASSERT_FALSE(write_tiff_file(path, im, 1, 3));
    Image back;
    ASSERT_FALSE(read_tiff_file(path, back, nullptr));
    EXPECT_EQ(back.profile_size, 0u);
    EXPECT_NEAR(back.dpi, 72.0, 0.01);
    EXPECT_EQ(scope.recorder.warnings(),
              std::vector<std::string>{"Illegal image dpi -- will be set to 72.0"});
    // A folder that does not exist: nothing is left behind.
    EXPECT_TRUE(write_tiff_file(dir.file("no/such/x.tif"), im, 0, 0));
    EXPECT_EQ(scope.recorder.errors(), std::vector<std::string>{"Error writing TIFF file"});
}

}  // namespace
}  // namespace tessaly
