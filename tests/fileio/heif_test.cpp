#include <gtest/gtest.h>
#include <libheif/heif.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/builtin_profiles.h"
#include "fileio/image_file.h"
#include "support/image_helpers.h"
#include "support/recording_interaction.h"
#include "support/small_exif.h"
#include "support/temp_dir.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;
using testing::find_tag;
using testing::is_empty_record;
using testing::RecordingScope;
using testing::small_exif_block;
using testing::TempDir;

using Bytes = std::vector<std::uint8_t>;

const std::string sdl_avif = "/usr/libexec/installed-tests/SDL2_image/sample.avif";
const std::string sdl_png = "/usr/libexec/installed-tests/SDL2_image/sample.png";

// Four flat quadrants, top-left red, top-right green, bottom-left blue, bottom-right gray: their
// centres survive lossy coding and tell rows, columns and channels apart.
using Rgb = std::array<int, 3>;
constexpr Rgb quadrant_colors[4] = {{220, 30, 30}, {30, 200, 40}, {30, 40, 210}, {128, 128, 128}};

Rgb quadrant_color(int x, int y, int w, int h) {
    return quadrant_colors[(y >= h / 2 ? 2 : 0) + (x >= w / 2 ? 1 : 0)];
}

// The gray levels of the quadrants of a monochrome sample, in the same order.
constexpr int quadrant_grays[4] = {40, 100, 170, 230};

int quadrant_gray(int x, int y, int w, int h) {
    return quadrant_grays[(y >= h / 2 ? 2 : 0) + (x >= w / 2 ? 1 : 0)];
}

struct HeifSample {
    heif_compression_format format = heif_compression_HEVC;
    int width = 64;
    int height = 48;
    int bits = 8;
    bool alpha = false;  // 8-bit only: a half-transparent alpha plane
    bool gray = false;   // one monochrome plane: the quadrants' gray levels
    Bytes icc;
    Bytes exif;  // handed to libheif, which adds the offset header
    heif_orientation orientation = heif_orientation_normal;
};

// Writes the sample with libheif's own encoder; false when this machine cannot encode it.
bool write_heif(const std::string& path, const HeifSample& s) {
    if (!heif_have_encoder_for_format(s.format)) return false;
    heif_context* ctx = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    heif_image* image = nullptr;
    bool ok = heif_context_get_encoder_for_format(ctx, s.format, &encoder).code == heif_error_Ok &&
              heif_encoder_set_lossy_quality(encoder, 95).code == heif_error_Ok &&
              (s.gray ||
               heif_encoder_set_parameter_string(encoder, "chroma", "420").code == heif_error_Ok);
    const heif_chroma chroma = s.bits > 8 ? heif_chroma_interleaved_RRGGBB_LE
                               : s.alpha  ? heif_chroma_interleaved_RGBA
                                          : heif_chroma_interleaved_RGB;
    const int channels = s.alpha ? 4 : 3;
    if (s.gray) {
        ok = ok &&
             heif_image_create(s.width, s.height, heif_colorspace_monochrome,
                               heif_chroma_monochrome, &image)
                     .code == heif_error_Ok &&
             heif_image_add_plane(image, heif_channel_Y, s.width, s.height, s.bits).code ==
                 heif_error_Ok;
        if (ok) {
            int stride = 0;
            std::uint8_t* plane = heif_image_get_plane(image, heif_channel_Y, &stride);
            const int max = (1 << s.bits) - 1;
            for (int y = 0; y < s.height; ++y) {
                for (int x = 0; x < s.width; ++x) {
                    const int v = (quadrant_gray(x, y, s.width, s.height) * max + 127) / 255;
                    if (s.bits > 8) {
                        plane[y * stride + 2 * x] = static_cast<std::uint8_t>(v);
                        plane[y * stride + 2 * x + 1] = static_cast<std::uint8_t>(v >> 8);
                    } else {
                        plane[y * stride + x] = static_cast<std::uint8_t>(v);
                    }
                }
            }
        }
    }
    ok = ok &&
         (s.gray ||
          (heif_image_create(s.width, s.height, heif_colorspace_RGB, chroma, &image).code ==
               heif_error_Ok &&
           heif_image_add_plane(image, heif_channel_interleaved, s.width, s.height, s.bits).code ==
               heif_error_Ok));
    if (ok && !s.gray) {
        int stride = 0;
        std::uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
        const int max = (1 << s.bits) - 1;
        for (int y = 0; y < s.height; ++y) {
            for (int x = 0; x < s.width; ++x) {
                const Rgb c = quadrant_color(x, y, s.width, s.height);
                for (int k = 0; k < 3; ++k) {
                    if (s.bits > 8) {
                        const int v = (c[k] * max + 127) / 255;
                        plane[y * stride + 6 * x + 2 * k] = static_cast<std::uint8_t>(v);
                        plane[y * stride + 6 * x + 2 * k + 1] = static_cast<std::uint8_t>(v >> 8);
                    } else {
                        plane[y * stride + channels * x + k] = static_cast<std::uint8_t>(c[k]);
                    }
                }
                if (s.alpha) plane[y * stride + 4 * x + 3] = 128;
            }
        }
        if (!s.icc.empty()) {
            ok = heif_image_set_raw_color_profile(image, "prof", s.icc.data(), s.icc.size()).code ==
                 heif_error_Ok;
        }
    }
    heif_encoding_options* options = heif_encoding_options_alloc();
    options->image_orientation = s.orientation;
    heif_image_handle* handle = nullptr;
    ok = ok &&
         heif_context_encode_image(ctx, image, encoder, options, &handle).code == heif_error_Ok;
    if (ok && !s.exif.empty()) {
        ok = heif_context_add_exif_metadata(ctx, handle, s.exif.data(),
                                            static_cast<int>(s.exif.size()))
                 .code == heif_error_Ok;
    }
    ok = ok && heif_context_write_to_file(ctx, path.c_str()).code == heif_error_Ok;
    heif_image_handle_release(handle);
    heif_encoding_options_free(options);
    heif_image_release(image);
    if (encoder) heif_encoder_release(encoder);
    heif_context_free(ctx);
    return ok;
}

// The picture's pixel at (x, y), y from the top, as red, green, blue on an 8-bit scale.
Rgb rgb_at(const Image& image, std::uint32_t x, std::uint32_t y_top) {
    const std::uint8_t* row = image.rows[image.height - 1 - y_top];
    if (image.type == image_color48) {
        return {(sample16(row, 3 * x + 2) + 128) / 257, (sample16(row, 3 * x + 1) + 128) / 257,
                (sample16(row, 3 * x) + 128) / 257};
    }
    return {row[3 * x + 2], row[3 * x + 1], row[3 * x]};
}

::testing::AssertionResult near(const Rgb& got, const Rgb& want, int tolerance) {
    for (int k = 0; k < 3; ++k) {
        if (std::abs(got[k] - want[k]) > tolerance) {
            return ::testing::AssertionFailure()
                   << "got " << got[0] << "," << got[1] << "," << got[2] << " want " << want[0]
                   << "," << want[1] << "," << want[2];
        }
    }
    return ::testing::AssertionSuccess();
}

// Centre of each quadrant of a picture made by write_heif (after the given turn of the file).
void expect_quadrants(const Image& picture, const std::array<int, 4>& order) {
    const std::uint32_t w = picture.width, h = picture.height;
    const std::uint32_t xs[2] = {w / 4, 3 * w / 4}, ys[2] = {h / 4, 3 * h / 4};
    for (int q = 0; q < 4; ++q) {
        EXPECT_TRUE(near(rgb_at(picture, xs[q % 2], ys[q / 2]), quadrant_colors[order[q]], 24))
            << "quadrant " << q;
    }
}

const char* format_name(heif_compression_format f) {
    return f == heif_compression_AV1 ? "AV1" : "HEVC";
}

class HeifRead : public ::testing::TestWithParam<heif_compression_format> {};

// With an alpha plane too: these files bring no transparency image, the colors stay as coded.
TEST_P(HeifRead, ColorsAndProfileOfAnEightBitFile) {
    TempDir dir;
    for (bool alpha : {false, true}) {
        SCOPED_TRACE(alpha);
        RecordingScope rec;
        HeifSample s;
        s.format = GetParam();
        s.alpha = alpha;
        const ProfileBytes adobe = builtin_adobe_rgb_profile();
        s.icc.assign(adobe.data, adobe.data + adobe.size);
        const std::string path = dir.file("colors.heic");
        if (!write_heif(path, s)) GTEST_SKIP() << "libheif cannot encode " << format_name(s.format);

        Image picture;
        ASSERT_FALSE(read_heif_file(path, picture));
        ASSERT_EQ(picture.type, image_color24);
        ASSERT_EQ(picture.width, 64u);
        ASSERT_EQ(picture.height, 48u);
        expect_quadrants(picture, {0, 1, 2, 3});
        ASSERT_EQ(picture.profile_size, s.icc.size());
        EXPECT_EQ(0, std::memcmp(picture.profile, s.icc.data(), s.icc.size()));
        EXPECT_TRUE(rec.recorder.errors().empty());
    }
}

TEST_P(HeifRead, DeepFilesBecomeSixteenBitsOverTheFullRange) {
    RecordingScope rec;
    TempDir dir;
    HeifSample s;
    s.format = GetParam();
    s.bits = 10;
    // Debian 12's libaom aborts on the 10-bit colour configuration libheif hands it.
    if (s.format == heif_compression_AV1) GTEST_SKIP() << "libaom cannot encode 10-bit here";
    const std::string path = dir.file("deep.heic");
    if (!write_heif(path, s)) {
        GTEST_SKIP() << "libheif cannot encode 10-bit " << format_name(s.format);
    }
    Image picture;
    ASSERT_FALSE(read_heif_file(path, picture));
    ASSERT_EQ(picture.type, image_color48);
    expect_quadrants(picture, {0, 1, 2, 3});
    // 10-bit samples stretched to 16 bits use the top of the range, not 1023 at most.
    std::uint16_t highest = 0;
    for (std::uint32_t y = 0; y < picture.height; ++y) {
        for (std::uint32_t i = 0; i < 3 * picture.width; ++i) {
            highest = std::max(highest, sample16(picture.rows[y], i));
        }
    }
    EXPECT_GT(highest, 50000);
}

// The file's rotation box is applied by the decoder; the EXIF orientation describes the same turn
// and must not turn the picture a second time, yet it is stored as 1.
TEST_P(HeifRead, OrientationIsAppliedOnceAndExifTagsAreKept) {
    TempDir dir;
    const Bytes exif = small_exif_block(6, "HeifCam");
    Bytes prefixed = {'E', 'x', 'i', 'f', 0, 0};
    prefixed.insert(prefixed.end(), exif.begin(), exif.end());
    for (const Bytes& block : {exif, prefixed}) {
        RecordingScope rec;
        HeifSample s;
        s.format = GetParam();
        s.orientation = heif_orientation_rotate_90_cw;
        s.exif = block;
        const std::string path = dir.file("turned.heic");
        if (!write_heif(path, s)) GTEST_SKIP() << "libheif cannot encode " << format_name(s.format);

        Image picture;
        ASSERT_FALSE(read_heif_file(path, picture));
        ASSERT_EQ(picture.width, 48u);
        ASSERT_EQ(picture.height, 64u);
        // Turned clockwise: blue (bottom-left) comes to the top-left, red to the top-right.
        expect_quadrants(picture, {2, 0, 3, 1});
        const MetadataTag* orientation = find_tag(picture, 274);
        ASSERT_NE(orientation, nullptr);
        EXPECT_EQ(sample16(orientation->data, 0), 1);
        const MetadataTag* make = find_tag(picture, 271);
        ASSERT_NE(make, nullptr);
        EXPECT_STREQ(reinterpret_cast<const char*>(make->data), "HeifCam");
        EXPECT_TRUE(rec.recorder.errors().empty());
    }
}

// Whether libheif sees the file's primary image as coded in one monochrome plane.
bool coded_monochrome(const std::string& path) {
    heif_context* ctx = heif_context_alloc();
    heif_image_handle* handle = nullptr;
    heif_image* image = nullptr;
    bool mono = false;
    if (heif_context_read_from_file(ctx, path.c_str(), nullptr).code == heif_error_Ok &&
        heif_context_get_primary_image_handle(ctx, &handle).code == heif_error_Ok &&
        heif_decode_image(handle, &image, heif_colorspace_undefined, heif_chroma_undefined, nullptr)
                .code == heif_error_Ok) {
        mono = heif_image_get_colorspace(image) == heif_colorspace_monochrome;
    }
    heif_image_release(image);
    heif_image_handle_release(handle);
    heif_context_free(ctx);
    return mono;
}

// A monochrome file (one coded plane) reads as gray, as a gray pixel format does: 8-bit gray,
// and 16-bit gray over the full range when its samples are deeper.
TEST_P(HeifRead, MonochromeFilesAreGray) {
    TempDir dir;
    for (int bits : {8, 10}) {
        SCOPED_TRACE(bits);
        RecordingScope rec;
        HeifSample s;
        s.format = GetParam();
        s.gray = true;
        s.bits = bits;
        if (bits > 8 && s.format == heif_compression_AV1) continue;  // see the deep test above
        const std::string path = dir.file("gray.heic");
        if (!write_heif(path, s) || !coded_monochrome(path)) {
            // Debian 12's x265 plugin codes monochrome input as 4:2:0 color.
            GTEST_SKIP() << "libheif cannot encode monochrome " << bits << "-bit "
                         << format_name(s.format);
        }
        Image picture;
        ASSERT_FALSE(read_heif_file(path, picture));
        ASSERT_EQ(picture.type, bits > 8 ? image_gray16 : image_gray8);
        ASSERT_EQ(picture.width, 64u);
        ASSERT_EQ(picture.height, 48u);
        const std::uint32_t xs[2] = {16, 48}, ys[2] = {12, 36};
        for (int q = 0; q < 4; ++q) {
            const std::uint8_t* row = picture.rows[picture.height - 1 - ys[q / 2]];
            const int got = bits > 8 ? (sample16(row, xs[q % 2]) + 128) / 257 : row[xs[q % 2]];
            EXPECT_NEAR(got, quadrant_grays[q], 8) << "quadrant " << q;
        }
        EXPECT_TRUE(rec.recorder.errors().empty());
    }
}

// HEIF has no resolution of its own: the EXIF resolution tags give the dpi.
TEST_P(HeifRead, ResolutionComesFromTheExifBlock) {
    TempDir dir;
    struct Case {
        std::uint32_t num, den;
        std::uint16_t unit;
        double dpi;
    };
    for (const Case& c : {Case{300, 1, 2, 300.0}, Case{100, 1, 3, 254.0}, Case{96, 1, 1, 0.0}}) {
        SCOPED_TRACE(::testing::Message() << c.num << "/" << c.den << " unit " << c.unit);
        RecordingScope rec;
        HeifSample s;
        s.format = GetParam();
        s.exif = testing::resolution_exif_block(c.num, c.den, c.unit);
        const std::string path = dir.file("dpi.heic");
        if (!write_heif(path, s)) GTEST_SKIP() << "libheif cannot encode " << format_name(s.format);
        Image picture;
        ASSERT_FALSE(read_heif_file(path, picture));
        EXPECT_NEAR(picture.dpi, c.dpi, 1e-9);
        EXPECT_TRUE(rec.recorder.errors().empty());
    }
    // Without EXIF there is no resolution: read_image_file makes it 72.
    HeifSample plain;
    plain.format = GetParam();
    const std::string path = dir.file("plain.heic");
    if (!write_heif(path, plain)) GTEST_SKIP();
    Image picture, alpha;
    ASSERT_FALSE(read_image_file(path, picture, alpha));
    EXPECT_EQ(picture.dpi, 72.0);
}

INSTANTIATE_TEST_SUITE_P(Codecs, HeifRead,
                         ::testing::Values(heif_compression_HEVC, heif_compression_AV1),
                         [](const auto& test) { return std::string(format_name(test.param)); });

Bytes read_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void write_file(const std::string& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

// The AVIF of another encoder shows the same picture as the PNG beside it.
TEST(HeifReadSamples, PackageAvifMatchesItsPng) {
    if (!fs::exists(sdl_avif) || !fs::exists(sdl_png)) {
        GTEST_SKIP() << "sample.avif/sample.png of libsdl2-image-tests missing";
    }
    RecordingScope rec;
    Image picture, reference, alpha;
    ASSERT_FALSE(read_heif_file(sdl_avif, picture));
    ASSERT_FALSE(read_png_file(sdl_png, reference, &alpha));
    ASSERT_TRUE(picture.type == image_color24 || picture.type == image_color48);
    ASSERT_EQ(picture.width, reference.width);
    ASSERT_EQ(picture.height, reference.height);
    long total = 0;
    for (std::uint32_t y = 0; y < picture.height; ++y) {
        for (std::uint32_t x = 0; x < picture.width; ++x) {
            const Rgb a = rgb_at(picture, x, y);
            const Rgb b = rgb_at(reference, x, y);
            for (int k = 0; k < 3; ++k) total += std::abs(a[k] - b[k]);
        }
    }
    const double mean = static_cast<double>(total) / (3.0 * picture.width * picture.height);
    EXPECT_LT(mean, 12.0);
    EXPECT_TRUE(rec.recorder.errors().empty());
}

TEST(HeifReadSamples, DamagedAndForeignFilesFailCleanly) {
    TempDir dir;
    std::vector<Bytes> sources;
    if (fs::exists(sdl_avif)) sources.push_back(read_bytes(sdl_avif));
    HeifSample s;
    if (write_heif(dir.file("made.heic"), s)) sources.push_back(read_bytes(dir.file("made.heic")));
    if (sources.empty()) GTEST_SKIP() << "no HEIF encoder and no sample.avif (libsdl2-image-tests)";

    const std::string path = dir.file("damaged.heic");
    for (const Bytes& source : sources) {
        for (std::size_t keep : {std::size_t{0}, std::size_t{10}, std::size_t{40},
                                 source.size() / 3, source.size() - 20, source.size() - 1}) {
            SCOPED_TRACE(keep);
            RecordingScope rec;
            write_file(path, Bytes(source.begin(), source.begin() + keep));
            Image picture;
            EXPECT_TRUE(read_heif_file(path, picture));
            EXPECT_TRUE(is_empty_record(picture));
            EXPECT_EQ(rec.recorder.errors(), std::vector<std::string>{"Error reading HEIF file"});
        }
        for (std::size_t at = 0; at < source.size(); at += 1 + source.size() / 41) {
            RecordingScope rec;
            Bytes damaged = source;
            damaged[at] ^= 0xA5;
            write_file(path, damaged);
            Image picture;
            if (read_heif_file(path, picture)) {
                EXPECT_TRUE(is_empty_record(picture));
                ASSERT_EQ(rec.recorder.errors().size(), 1u);
                EXPECT_EQ(rec.recorder.errors()[0].rfind("Error reading HEIF file", 0), 0u);
            }
        }
    }
    // Another format under a HEIF name, and no file at all.
    for (const std::string& name : {dir.file("png.heic"), dir.file("missing.avif")}) {
        if (name == dir.file("png.heic")) write_file(name, {0x89, 'P', 'N', 'G', 13, 10, 26, 10});
        RecordingScope rec;
        Image picture;
        EXPECT_TRUE(read_heif_file(name, picture));
        EXPECT_EQ(rec.recorder.errors(), std::vector<std::string>{"Error reading HEIF file"});
    }
}

}  // namespace
}  // namespace tessaly
