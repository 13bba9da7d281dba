#include <gtest/gtest.h>
#include <webp/decode.h>
#include <webp/encode.h>
#include <webp/mux.h>

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

const std::string go_images = "/usr/share/gocode/src/golang.org/x/image/testdata/";
const std::string sdl_webp = "/usr/libexec/installed-tests/SDL2_image/sample.webp";

using Bytes = std::vector<std::uint8_t>;

// A pixel of the test pictures: red, green, blue, alpha, as the encoder takes them.
struct Rgba {
    std::uint8_t r, g, b, a;
};

// Top line first, as WEBP stores it. Every pixel differs, so a swapped row, column or channel
// shows; alpha runs through 0 so the lossless "exact" path matters.
std::vector<Rgba> test_pixels(int w, int h) {
    std::vector<Rgba> p;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            p.push_back({static_cast<std::uint8_t>(40 * x + 3),
                         static_cast<std::uint8_t>(70 * y + 5),
                         static_cast<std::uint8_t>(11 * (x + y) + 100),
                         static_cast<std::uint8_t>((x + 3 * y) * 23)});
        }
    }
    return p;
}

Bytes encode_lossless(const std::vector<Rgba>& pixels, int w, int h, bool with_alpha) {
    WebPConfig config;
    WebPPicture picture;
    if (!WebPConfigInit(&config) || !WebPPictureInit(&picture)) return {};
    config.lossless = 1;
    config.exact = 1;
    picture.use_argb = 1;
    picture.width = w;
    picture.height = h;
    std::vector<std::uint8_t> rgba;
    for (const Rgba& p : pixels)
        rgba.insert(rgba.end(), {p.r, p.g, p.b, static_cast<std::uint8_t>(with_alpha ? p.a : 255)});
    WebPMemoryWriter writer;
    WebPMemoryWriterInit(&writer);
    picture.writer = WebPMemoryWrite;
    picture.custom_ptr = &writer;
    Bytes out;
    if (WebPPictureImportRGBA(&picture, rgba.data(), 4 * w) && WebPEncode(&config, &picture)) {
        out.assign(writer.mem, writer.mem + writer.size);
    }
    WebPPictureFree(&picture);
    WebPMemoryWriterClear(&writer);
    return out;
}

// Adds ICCP and EXIF chunks; the mux writes the extended header that announces them.
Bytes with_chunks(const Bytes& file, const Bytes& icc, const Bytes& exif) {
    WebPData in = {file.data(), file.size()};
    WebPMux* mux = WebPMuxCreate(&in, 1);
    if (!mux) return {};
    Bytes out;
    WebPData icc_data = {icc.data(), icc.size()};
    WebPData exif_data = {exif.data(), exif.size()};
    WebPData assembled = {nullptr, 0};
    if ((icc.empty() || WebPMuxSetChunk(mux, "ICCP", &icc_data, 1) == WEBP_MUX_OK) &&
        (exif.empty() || WebPMuxSetChunk(mux, "EXIF", &exif_data, 1) == WEBP_MUX_OK) &&
        WebPMuxAssemble(mux, &assembled) == WEBP_MUX_OK) {
        out.assign(assembled.bytes, assembled.bytes + assembled.size);
    }
    WebPDataClear(&assembled);
    WebPMuxDelete(mux);
    return out;
}

void write_file(const std::string& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

Bytes read_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// Picture pixel (x, y) with y counted from the top, as blue, green, red.
std::array<std::uint8_t, 3> bgr_at(const Image& image, std::uint32_t x, std::uint32_t y_top) {
    const std::uint8_t* p = image.rows[image.height - 1 - y_top] + 3 * x;
    return {p[0], p[1], p[2]};
}

TEST(WebpRead, LosslessPixelsAndAlphaComeBackExactly) {
    RecordingScope rec;
    TempDir dir;
    constexpr int w = 5, h = 3;
    const auto pixels = test_pixels(w, h);
    const std::string path = dir.file("alpha.webp");
    write_file(path, encode_lossless(pixels, w, h, true));

    // With the transparency image, and without: the two decode paths must agree on the colors.
    for (bool want_alpha : {true, false}) {
        Image picture, transparency;
        ASSERT_FALSE(read_webp_file(path, picture, want_alpha ? &transparency : nullptr));
        ASSERT_EQ(picture.type, image_color24);
        ASSERT_EQ(picture.width, 5u);
        ASSERT_EQ(picture.height, 3u);
        EXPECT_LE(picture.dpi, 0.0);  // no resolution in the file: read_image_file makes it 72
        EXPECT_EQ(picture.profile_size, 0u);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const Rgba& e = pixels[y * w + x];
                const auto got = bgr_at(picture, x, y);
                EXPECT_EQ(got[0], e.b) << x << "," << y;
                EXPECT_EQ(got[1], e.g) << x << "," << y;
                EXPECT_EQ(got[2], e.r) << x << "," << y;
                if (want_alpha) {
                    EXPECT_EQ(transparency.rows[h - 1 - y][x], e.a) << x << "," << y;
                }
            }
        }
        if (want_alpha) {
            EXPECT_EQ(transparency.type, image_gray8);
            EXPECT_EQ(transparency.width, 5u);
            EXPECT_EQ(transparency.height, 3u);
        }
    }
    EXPECT_TRUE(rec.recorder.errors().empty());
}

TEST(WebpRead, OpaqueFileLeavesTransparencyEmpty) {
    RecordingScope rec;
    TempDir dir;
    const std::string path = dir.file("opaque.webp");
    write_file(path, encode_lossless(test_pixels(4, 4), 4, 4, false));
    Image picture, transparency;
    ASSERT_FALSE(read_webp_file(path, picture, &transparency));
    EXPECT_EQ(picture.type, image_color24);
    EXPECT_TRUE(transparency.empty());
}

// WEBP has no resolution of its own: the EXIF resolution tags give the dpi (inches, centimetres,
// or none for any other unit).
TEST(WebpRead, ResolutionComesFromTheExifChunk) {
    RecordingScope rec;
    TempDir dir;
    const auto pixels = test_pixels(4, 2);
    struct Case {
        std::uint32_t num, den;
        std::uint16_t unit;
        double dpi;
    };
    for (const Case& c : {Case{300, 1, 2, 300.0}, Case{720, 2, 0, 360.0}, Case{100, 1, 3, 254.0},
                          Case{300, 1, 1, 0.0}, Case{300, 0, 2, 0.0}}) {
        SCOPED_TRACE(::testing::Message() << c.num << "/" << c.den << " unit " << c.unit);
        const std::string path = dir.file("dpi.webp");
        write_file(path, with_chunks(encode_lossless(pixels, 4, 2, false), {},
                                     testing::resolution_exif_block(c.num, c.den, c.unit)));
        Image picture;
        ASSERT_FALSE(read_webp_file(path, picture, nullptr));
        EXPECT_NEAR(picture.dpi, c.dpi, 1e-9);
        Image any, alpha;
        ASSERT_FALSE(read_image_file(path, any, alpha));
        EXPECT_NEAR(any.dpi, c.dpi > 0.0 ? c.dpi : 72.0, 1e-9);
    }
    EXPECT_TRUE(rec.recorder.errors().empty());
}

TEST(WebpRead, ProfileAndExifChunksAndOrientation) {
    RecordingScope rec;
    TempDir dir;
    constexpr int w = 4, h = 2;
    const auto pixels = test_pixels(w, h);
    const ProfileBytes srgb = builtin_srgb_profile();
    const Bytes icc(srgb.data, srgb.data + srgb.size);
    const Bytes exif = small_exif_block(6, "WebpCam");
    Bytes prefixed = {'E', 'x', 'i', 'f', 0, 0};
    prefixed.insert(prefixed.end(), exif.begin(), exif.end());

    // Some writers keep the JPEG "Exif\0\0" in front; both forms carry the same tags.
    for (const Bytes& block : {exif, prefixed}) {
        const std::string path = dir.file("tagged.webp");
        const Bytes file = with_chunks(encode_lossless(pixels, w, h, true), icc, block);
        ASSERT_FALSE(file.empty());
        write_file(path, file);

        Image picture, transparency;
        ASSERT_FALSE(read_webp_file(path, picture, &transparency));
        ASSERT_EQ(picture.profile_size, icc.size());
        EXPECT_EQ(0, std::memcmp(picture.profile, icc.data(), icc.size()));
        const MetadataTag* make = find_tag(picture, 271);
        ASSERT_NE(make, nullptr);
        EXPECT_STREQ(reinterpret_cast<const char*>(make->data), "WebpCam");
        const MetadataTag* orientation = find_tag(picture, 274);
        ASSERT_NE(orientation, nullptr);
        EXPECT_EQ(sample16(orientation->data, 0), 1);

        // Orientation 6: turned 90 degrees clockwise, so the file's bottom-left pixel is now the
        // top-left one; the alpha turns with the colors.
        ASSERT_EQ(picture.width, 2u);
        ASSERT_EQ(picture.height, 4u);
        ASSERT_EQ(transparency.width, 2u);
        ASSERT_EQ(transparency.height, 4u);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const Rgba& e = pixels[y * w + x];
                const std::uint32_t tx = h - 1 - y, ty = x;
                EXPECT_EQ(bgr_at(picture, tx, ty)[2], e.r) << x << "," << y;
                EXPECT_EQ(bgr_at(picture, tx, ty)[0], e.b) << x << "," << y;
                EXPECT_EQ(transparency.rows[picture.height - 1 - ty][tx], e.a) << x << "," << y;
            }
        }
    }
    EXPECT_TRUE(rec.recorder.errors().empty());
}

TEST(WebpRead, AnimationGivesItsFirstFrame) {
    RecordingScope rec;
    TempDir dir;
    constexpr int w = 6, h = 4;
    WebPAnimEncoderOptions options;
    ASSERT_TRUE(WebPAnimEncoderOptionsInit(&options));
    WebPAnimEncoder* encoder = WebPAnimEncoderNew(w, h, &options);
    ASSERT_NE(encoder, nullptr);
    WebPConfig config;
    ASSERT_TRUE(WebPConfigInit(&config));
    config.lossless = 1;
    const std::uint8_t colors[2][3] = {{200, 30, 10}, {10, 30, 200}};
    int timestamp = 0;
    for (const auto& c : colors) {
        WebPPicture frame;
        ASSERT_TRUE(WebPPictureInit(&frame));
        frame.use_argb = 1;
        frame.width = w;
        frame.height = h;
        std::vector<std::uint8_t> rgba;
        for (int i = 0; i < w * h; ++i) rgba.insert(rgba.end(), {c[0], c[1], c[2], 255});
        ASSERT_TRUE(WebPPictureImportRGBA(&frame, rgba.data(), 4 * w));
        ASSERT_TRUE(WebPAnimEncoderAdd(encoder, &frame, timestamp, &config));
        WebPPictureFree(&frame);
        timestamp += 100;
    }
    WebPData assembled = {nullptr, 0};
    ASSERT_TRUE(WebPAnimEncoderAdd(encoder, nullptr, timestamp, nullptr));
    ASSERT_TRUE(WebPAnimEncoderAssemble(encoder, &assembled));
    const std::string path = dir.file("anim.webp");
    write_file(path, Bytes(assembled.bytes, assembled.bytes + assembled.size));
    WebPDataClear(&assembled);
    WebPAnimEncoderDelete(encoder);

    Image picture, transparency;
    ASSERT_FALSE(read_webp_file(path, picture, &transparency));
    ASSERT_EQ(picture.width, 6u);
    ASSERT_EQ(picture.height, 4u);
    for (std::uint32_t y = 0; y < 4; ++y) {
        for (std::uint32_t x = 0; x < 6; ++x) {
            const auto got = bgr_at(picture, x, y);
            EXPECT_EQ(got[2], 200);
            EXPECT_EQ(got[1], 30);
            EXPECT_EQ(got[0], 10);
        }
    }
}

// Real files of other encoders, compared with libwebp's own decoding of the same bytes.
TEST(WebpRead, PackageSamplesMatchTheLibraryDecoding) {
    const std::vector<std::string> samples = {go_images + "blue-purple-pink.lossy.webp",
                                              go_images + "tux.lossless.webp",
                                              go_images + "yellow_rose.lossy-with-alpha.webp",
                                              go_images + "gopher-doc.1bpp.lossless.webp",
                                              go_images + "video-001.lossy.webp",
                                              sdl_webp};
    int opened = 0;
    for (const std::string& path : samples) {
        if (!fs::exists(path)) continue;
        SCOPED_TRACE(path);
        RecordingScope rec;
        const Bytes bytes = read_bytes(path);
        int w = 0, h = 0;
        std::uint8_t* rgba = WebPDecodeRGBA(bytes.data(), bytes.size(), &w, &h);
        ASSERT_NE(rgba, nullptr);
        WebPBitstreamFeatures features;
        ASSERT_EQ(WebPGetFeatures(bytes.data(), bytes.size(), &features), VP8_STATUS_OK);

        Image picture, transparency;
        ASSERT_FALSE(read_webp_file(path, picture, &transparency));
        ASSERT_EQ(picture.type, image_color24);
        ASSERT_EQ(picture.width, static_cast<std::uint32_t>(w));
        ASSERT_EQ(picture.height, static_cast<std::uint32_t>(h));
        EXPECT_EQ(!transparency.empty(), features.has_alpha != 0);
        int mismatches = 0;
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const std::uint8_t* e = rgba + 4 * (y * w + x);
                const auto got = bgr_at(picture, x, y);
                if (got[0] != e[2] || got[1] != e[1] || got[2] != e[0]) ++mismatches;
                if (!transparency.empty() && transparency.rows[h - 1 - y][x] != e[3]) ++mismatches;
            }
        }
        EXPECT_EQ(mismatches, 0);
        WebPFree(rgba);
        ++opened;
    }
    if (opened == 0) {
        GTEST_SKIP() << "no WebP samples (golang-golang-x-image-dev, libsdl2-image-tests)";
    }
}

// Damaged files fail cleanly with the reader's message, whatever the damage.
TEST(WebpRead, TruncatedAndCorruptedFilesFailCleanly) {
    TempDir dir;
    std::vector<Bytes> sources = {encode_lossless(test_pixels(40, 30), 40, 30, true)};
    for (const char* name : {"yellow_rose.lossy-with-alpha.webp", "blue-purple-pink.lossy.webp"}) {
        if (fs::exists(go_images + name)) sources.push_back(read_bytes(go_images + name));
    }
    const std::string path = dir.file("damaged.webp");
    for (const Bytes& source : sources) {
        for (std::size_t keep : {std::size_t{0}, std::size_t{7}, std::size_t{12}, std::size_t{30},
                                 source.size() / 2, source.size() - 1}) {
            SCOPED_TRACE(keep);
            RecordingScope rec;
            write_file(path, Bytes(source.begin(), source.begin() + keep));
            Image picture, transparency;
            EXPECT_TRUE(read_webp_file(path, picture, &transparency));
            EXPECT_TRUE(is_empty_record(picture));
            EXPECT_TRUE(is_empty_record(transparency));
            EXPECT_EQ(rec.recorder.errors(), std::vector<std::string>{"Error reading WEBP file"});
        }
        // Flipped bytes may still decode; when they do not, the failure is the clean one.
        for (std::size_t at = 0; at < source.size(); at += 1 + source.size() / 37) {
            RecordingScope rec;
            Bytes damaged = source;
            damaged[at] ^= 0x5A;
            write_file(path, damaged);
            Image picture, transparency;
            if (read_webp_file(path, picture, &transparency)) {
                EXPECT_TRUE(is_empty_record(picture));
                EXPECT_EQ(rec.recorder.errors(),
                          std::vector<std::string>{"Error reading WEBP file"});
            }
        }
    }
    RecordingScope rec;
    Image picture;
    EXPECT_TRUE(read_webp_file(dir.file("missing.webp"), picture, nullptr));
    EXPECT_EQ(rec.recorder.errors(), std::vector<std::string>{"Error reading WEBP file"});
}

TEST(WebpRead, SizeBeyondTheMemoryLimitIsRefusedBeforeDecoding) {
    TempDir dir;
    const std::string path = dir.file("big.webp");
    write_file(path, encode_lossless(test_pixels(300, 200), 300, 200, false));
    const std::uint64_t limit = image_memory_limit();
    image_set_memory_limit(50000);
    RecordingScope rec;
    Image picture;
    const bool failed = read_webp_file(path, picture, nullptr);
    image_set_memory_limit(limit);
    EXPECT_TRUE(failed);
    EXPECT_TRUE(is_empty_record(picture));
    EXPECT_EQ(rec.recorder.errors(), std::vector<std::string>{"Image is too large: 300 x 200"});
}

}  // namespace
}  // namespace tessaly
