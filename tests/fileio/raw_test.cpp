#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fileio/image_file.h"
#include "support/fileio_builders.h"
#include "support/scoped_env.h"
#include "support/small_exif.h"
#include "support/temp_dir.h"
#include "test_files.h"

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

// A DNG of w x h 16-bit sensor samples behind an RGGB filter in one strip: all of them
// uncompressed, or (data_bytes > 0) a strip said to be lossless JPEG that holds data_bytes of
// noise, which LibRaw cannot measure against the file.
Bytes dng(std::uint32_t w, std::uint32_t h, std::uint32_t data_bytes = 0) {
    Block b(false);
    const std::uint32_t strip = data_bytes ? data_bytes : 2 * w * h;
    const std::uint32_t ifd =
        b.ifd({{254, 4, 1, b.numbers(4, {0})},
               {256, 4, 1, b.numbers(4, {w})},
               {257, 4, 1, b.numbers(4, {h})},
               {258, 3, 1, b.numbers(2, {16})},
               {259, 3, 1, b.numbers(2, {data_bytes ? 7 : 1})},
               {262, 3, 1, b.numbers(2, {32803})},
               {271, 2, 8, b.numbers(1, {'T', 'e', 's', 's', 'a', 'l', 'y', 0})},
               {272, 2, 4, b.numbers(1, {'D', 'N', 'G', 0})},
               {273, 4, 1, b.numbers(4, {0})},
               {277, 3, 1, b.numbers(2, {1})},
               {278, 4, 1, b.numbers(4, {h})},
               {279, 4, 1, b.numbers(4, {strip})},
               {33421, 3, 2, b.numbers(2, {2, 2})},
               {33422, 1, 4, b.numbers(1, {0, 1, 1, 2})},
               {50706, 1, 4, b.numbers(1, {1, 4, 0, 0})},
               {50708, 2, 4, b.numbers(1, {'D', 'N', 'G', 0})}});
    b.patch(ifd, 8, static_cast<std::uint32_t>(b.bytes.size()));
    for (std::uint32_t i = 0; i < strip; ++i)
        b.bytes.push_back(static_cast<std::uint8_t>(i * 37 >> 3));
    return b.bytes;
}

// A sensor of 8000 x 8000 claimed by a few hundred bytes of compressed data is refused after
// LibRaw opens it and before it unpacks anything: no picture, and the child that reads it stays
// small (LibRaw alone develops 64 megapixels of nothing from it). An uncompressed file holding
// all its samples, two bytes a pixel, still develops.
TEST(RawRead, SensorsTheFileCannotHoldAreRefusedBeforeUnpacking) {
    TempDir dir;
    const std::string path = dir.file("claim.dng");
    put_bytes(path, dng(8000, 8000, 256));
    std::optional<MemoryLimit> roomy(std::in_place, std::uint64_t{64} << 30);
    EXPECT_LT(peak_growth_mib([&] { (void)read_recorded(path, read_raw_file); }), 50);
    const Outcome r = read_recorded(path, read_raw_file);
    EXPECT_TRUE(r.failed && is_empty_record(r.picture));
    EXPECT_TRUE(r.errors.empty());

    put_bytes(path, dng(96, 64));
    const Outcome whole = read_recorded(path, read_raw_file);
    ASSERT_FALSE(whole.failed);
    EXPECT_TRUE(whole.picture.type == image_color48 && whole.picture.width == 96 &&
                whole.picture.height == 64);
}

}  // namespace
}  // namespace tessaly
