#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "fileio/image_file.h"
#include "support/fileio_builders.h"
#include "support/small_exif.h"
#include "support/temp_dir.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;
using testing::find_tag;
using testing::is_empty_record;
using testing::RecordingScope;
using testing::TempDir;

const std::string canon_cr2 = "/usr/share/doc/rawtran/IMG_5952.CR2";

// Developing the 8-megapixel file takes a moment, so the suite does it once.
class CanonRaw : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        if (!fs::exists(canon_cr2)) return;
        // Local time made UTC, so the date tag does not depend on the machine's zone.
        const char* tz = std::getenv("TZ");
        const std::string old_tz = tz ? tz : "";
        setenv("TZ", "UTC", 1);
        tzset();
        RecordingScope rec;
        picture_ = std::make_unique<Image>();
        failed_ = read_raw_file(canon_cr2, *picture_);
        statuses_ = rec.recorder.statuses;
        errors_ = rec.recorder.errors();
        if (tz) {
            setenv("TZ", old_tz.c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }
    static void TearDownTestSuite() { picture_.reset(); }
    void SetUp() override {
        if (!picture_) GTEST_SKIP() << "the Canon CR2 of rawtran-doc is missing";
        ASSERT_FALSE(failed_);
    }

    static std::string text(std::uint32_t tag) {
        const MetadataTag* t = find_tag(*picture_, tag);
        if (!t) return "(none)";
        EXPECT_EQ(t->field_type, 2);
        EXPECT_EQ(t->count, std::strlen(reinterpret_cast<const char*>(t->data)) + 1);
        return reinterpret_cast<const char*>(t->data);
    }
    // A RATIONAL tag as numerator and denominator.
    static std::pair<std::uint32_t, std::uint32_t> rational(std::uint32_t tag) {
        const MetadataTag* t = find_tag(*picture_, tag);
        if (!t) return {0, 0};
        EXPECT_EQ(t->field_type, 5);
        EXPECT_EQ(t->count, 1u);
        std::uint32_t v[2];
        std::memcpy(v, t->data, sizeof v);
        return {v[0], v[1]};
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
            const std::uint16_t b = sample16(p.rows[y], 3 * x);
            const std::uint16_t g = sample16(p.rows[y], 3 * x + 1);
            const std::uint16_t r = sample16(p.rows[y], 3 * x + 2);
            low = std::min({low, b, g, r});
            high = std::max({high, b, g, r});
            if (r != g || g != b) ++channel_differences;
        }
    }
    EXPECT_LT(low, 8000);
    EXPECT_GT(high, 40000);
    EXPECT_GT(channel_differences, 100);
}

// The shot's facts as the camera wrote them (1/400 s, f/22, ISO 640, 22 mm, 2009-07-21 13:03:20).
TEST_F(CanonRaw, TagsCarryTheShotWithTheirFieldTypes) {
    EXPECT_EQ(text(271), "Canon");
    EXPECT_EQ(text(272), "EOS 30D");
    EXPECT_EQ(text(306), "2009:07:21 13:03:20");
    // Below 1 the value is 100 / n; from 1 up it keeps two decimals over 100.
    EXPECT_EQ(rational(33434), std::make_pair(100u, 40000u));
    EXPECT_EQ(rational(33437), std::make_pair(2200u, 100u));
    EXPECT_EQ(rational(37386), std::make_pair(2200u, 100u));
    const MetadataTag* iso = find_tag(*picture_, 34855);
    ASSERT_NE(iso, nullptr);
    EXPECT_EQ(iso->field_type, 4);
    EXPECT_EQ(iso->count, 1u);
    std::uint32_t iso_value = 0;
    std::memcpy(&iso_value, iso->data, 4);
    EXPECT_EQ(iso_value, 640u);
    // The camera wrote no position, so no GPS tags.
    for (std::uint32_t gps : {1u, 2u, 3u, 4u}) EXPECT_EQ(find_tag(*picture_, gps), nullptr);
}

TEST(RawRead, DamagedAndForeignFilesFailWithoutAPicture) {
    TempDir dir;
    std::vector<std::pair<std::string, std::vector<std::uint8_t>>> files = {
        {"empty.cr2", {}},
        {"text.nef", {'n', 'o', 't', ' ', 'r', 'a', 'w'}},
        {"tiff-header.dng", {'I', 'I', 42, 0, 8, 0, 0, 0, 0, 0}},
    };
    if (fs::exists(canon_cr2)) {
        std::vector<std::uint8_t> head = testing::file_bytes(canon_cr2);
        head.resize(4096);
        files.push_back({"truncated.cr2", head});
    }
    files.push_back({"missing.cr2", {}});
    for (const auto& [name, bytes] : files) {
        SCOPED_TRACE(name);
        if (name != "missing.cr2") testing::put_bytes(dir.file(name), bytes);
        const testing::Outcome r = testing::read_recorded(dir.file(name), read_raw_file);
        EXPECT_TRUE(r.failed);
        EXPECT_TRUE(is_empty_record(r.picture));
    }
}

TEST(RawRead, SizeBeyondTheMemoryLimitIsRefusedBeforeDeveloping) {
    if (!fs::exists(canon_cr2)) GTEST_SKIP() << "the Canon CR2 of rawtran-doc is missing";
    testing::MemoryLimit limit(1000000);
    EXPECT_TRUE(testing::failed_with(testing::read_recorded(canon_cr2, read_raw_file),
                                     "Image is too large: ", true));
}

}  // namespace
}  // namespace tessaly
