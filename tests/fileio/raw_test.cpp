#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "fileio/image_file.h"
#include "support/fileio_builders.h"
#include "support/scoped_env.h"
#include "support/small_exif.h"
#include "support/temp_dir.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;
using namespace testing;

const std::string canon_cr2 = "/usr/share/doc/rawtran/IMG_5952.CR2";

// Developing the 8-megapixel file takes a moment, so the suite does it once.
class CanonRaw : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        if (!fs::exists(canon_cr2)) return;
        RecordingScope rec;
        {
            // Local time made UTC, so the date tag does not depend on the machine's zone.
            ScopedEnv utc("TZ", "UTC");
            tzset();
            picture_ = std::make_unique<Image>();
            failed_ = read_raw_file(canon_cr2, *picture_);
        }
        tzset();
        statuses_ = rec.recorder.statuses;
        errors_ = rec.recorder.errors();
    }
    static void TearDownTestSuite() { picture_.reset(); }
    void SetUp() override {
        if (!picture_) GTEST_SKIP() << "the Canon CR2 of rawtran-doc is missing";
        ASSERT_FALSE(failed_);
    }

    // A tag's bytes when it has this field type and count ("" otherwise).
    static std::string tag(std::uint32_t number, std::int32_t type, std::uint32_t count = 1) {
        const MetadataTag* t = find_tag(*picture_, number);
        if (!t || t->field_type != type || (type != 2 && t->count != count)) return "";
        return {reinterpret_cast<const char*>(t->data), t->count * tag_unit_size(type)};
    }
    static std::string text(const char* s) { return {s, std::strlen(s) + 1}; }
    static std::string numbers(std::vector<std::uint32_t> v) {
        return {reinterpret_cast<const char*>(v.data()), v.size() * 4};
    }

    static inline std::unique_ptr<Image> picture_;
    static inline bool failed_ = true;
    static inline std::vector<std::string> statuses_;
    static inline std::vector<std::string> errors_;
};

TEST_F(CanonRaw, DevelopsToSixteenBitColorAtThreeHundredDpi) {
    const Image& p = *picture_;
    EXPECT_EQ(p.type, image_color48);
    EXPECT_EQ(p.dpi, 300.0);
    // The camera reports 3504 x 2336; LibRaw keeps a few more border pixels of the sensor. A
    // landscape shot stays landscape.
    EXPECT_NEAR(p.width, 3504, 32);
    EXPECT_NEAR(p.height, 2336, 32);
    EXPECT_TRUE(errors_.empty());
    EXPECT_EQ(statuses_, std::vector<std::string>{"Opening raw file: " + canon_cr2});

    // A real photograph: samples spread over the 16-bit range and the three channels differ.
    std::uint16_t low = 65535, high = 0;
    long channel_differences = 0;
    for (std::uint32_t y = 0; y < p.height; y += 37) {
        for (std::uint32_t x = 0; x < p.width; x += 41) {
            const std::uint16_t b = sample16(p.rows[y], 3 * x), g = sample16(p.rows[y], 3 * x + 1),
                                r = sample16(p.rows[y], 3 * x + 2);
            low = std::min({low, b, g, r});
            high = std::max({high, b, g, r});
            channel_differences += r != g || g != b;
        }
    }
    EXPECT_LT(low, 8000);
    EXPECT_GT(high, 40000);
    EXPECT_GT(channel_differences, 100);
}

// The shot's facts as the camera wrote them (1/400 s, f/22, ISO 640, 22 mm, 2009-07-21 13:03:20):
// below 1 an exposure is 100 / n; from 1 up a value keeps two decimals over 100. The camera wrote
// no position, so no GPS tags.
TEST_F(CanonRaw, TagsCarryTheShotWithTheirFieldTypes) {
    EXPECT_EQ(tag(271, 2), text("Canon"));
    EXPECT_EQ(tag(272, 2), text("EOS 30D"));
    EXPECT_EQ(tag(306, 2), text("2009:07:21 13:03:20"));
    EXPECT_EQ(tag(33434, 5), numbers({100, 40000}));
    EXPECT_EQ(tag(33437, 5), numbers({2200, 100}));
    EXPECT_EQ(tag(37386, 5), numbers({2200, 100}));
    EXPECT_EQ(tag(34855, 4), numbers({640}));
    for (std::uint32_t gps : {1u, 2u, 3u, 4u}) EXPECT_EQ(find_tag(*picture_, gps), nullptr);
}

TEST(RawRead, DamagedForeignAndHugeFilesFailWithoutAPicture) {
    TempDir dir;
    std::vector<std::pair<std::string, Bytes>> files = {
        {"empty.cr2", {}},
        {"text.nef", {'n', 'o', 't', ' ', 'r', 'a', 'w'}},
        {"tiff-header.dng", {'I', 'I', 42, 0, 8, 0, 0, 0, 0, 0}}};
    if (fs::exists(canon_cr2)) {
        Bytes head = file_bytes(canon_cr2);
        head.resize(4096);
        files.push_back({"truncated.cr2", head});
    }
    for (const auto& [name, bytes] : files) put_bytes(dir.file(name), bytes);
    files.push_back({"missing.cr2", {}});
    for (const auto& [name, bytes] : files) {
        const Outcome r = read_recorded(dir.file(name), read_raw_file);
        EXPECT_TRUE(r.failed && is_empty_record(r.picture)) << name;
    }
    // The size is refused before developing.
    if (!fs::exists(canon_cr2)) GTEST_SKIP() << "the Canon CR2 of rawtran-doc is missing";
    MemoryLimit limit(1000000);
    EXPECT_TRUE(failed_with(read_recorded(canon_cr2, read_raw_file), "Image is too large: ", true));
}

}  // namespace
}  // namespace tessaly
