#include <gtest/gtest.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/builtin_profiles.h"
#include "fileio/image_file.h"
#include "support/fileio_builders.h"
#include "support/small_exif.h"
#include "support/temp_dir.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;
using namespace testing;

const std::string go_images = "/usr/share/gocode/src/golang.org/x/image/testdata/";

// Red, green, blue, alpha of pixel (x, y), y from the top. Every pixel differs, so a swapped
// row, column or channel shows; alpha runs through 0 so the lossless "exact" path matters.
std::array<std::uint8_t, 4> test_pixel(int x, int y) {
    return {static_cast<std::uint8_t>(40 * x + 3), static_cast<std::uint8_t>(70 * y + 5),
            static_cast<std::uint8_t>(11 * (x + y) + 100),
            static_cast<std::uint8_t>((x + 3 * y) * 23)};
}

// A lossless file of the test pixels, opaque unless with_alpha.
Bytes encode_lossless(int w, int h, bool with_alpha) {
    WebPConfig config;
    WebPPicture picture;
    if (!WebPConfigInit(&config) || !WebPPictureInit(&picture)) return {};
    config.lossless = 1;
    config.exact = 1;
    picture.use_argb = 1;
    picture.width = w;
    picture.height = h;
    Bytes rgba;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const auto p = test_pixel(x, y);
            rgba.insert(rgba.end(), {p[0], p[1], p[2], with_alpha ? p[3] : std::uint8_t{255}});
        }
    }
    WebPMemoryWriter writer;
    WebPMemoryWriterInit(&writer);
    picture.writer = WebPMemoryWrite;
    picture.custom_ptr = &writer;
    Bytes out;
    if (WebPPictureImportRGBA(&picture, rgba.data(), 4 * w) && WebPEncode(&config, &picture))
        out.assign(writer.mem, writer.mem + writer.size);
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
    WebPData icc_data = {icc.data(), icc.size()}, exif_data = {exif.data(), exif.size()};
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

// An animation of two flat frames, the first of the given color.
Bytes animation(int w, int h, const std::uint8_t* first) {
    WebPAnimEncoderOptions options;
    if (!WebPAnimEncoderOptionsInit(&options)) return {};
    WebPAnimEncoder* encoder = WebPAnimEncoderNew(w, h, &options);
    WebPConfig config;
    WebPConfigInit(&config);
    config.lossless = 1;
    const std::uint8_t second[3] = {10, 30, 200};
    bool ok = encoder != nullptr;
    int timestamp = 0;
    for (const std::uint8_t* color : {first, second}) {
        Bytes rgba;
        for (int i = 0; i < w * h; ++i)
            rgba.insert(rgba.end(), {color[0], color[1], color[2], 255});
        WebPPicture frame;
        WebPPictureInit(&frame);
        frame.use_argb = 1;
        frame.width = w;
        frame.height = h;
        ok = ok && WebPPictureImportRGBA(&frame, rgba.data(), 4 * w) &&
             WebPAnimEncoderAdd(encoder, &frame, timestamp, &config);
        WebPPictureFree(&frame);
        timestamp += 100;
    }
    WebPData assembled = {nullptr, 0};
    ok = ok && WebPAnimEncoderAdd(encoder, nullptr, timestamp, nullptr) &&
         WebPAnimEncoderAssemble(encoder, &assembled);
    Bytes out = ok ? Bytes(assembled.bytes, assembled.bytes + assembled.size) : Bytes{};
    WebPDataClear(&assembled);
    WebPAnimEncoderDelete(encoder);
    return out;
}

// Checks every pixel against the test pixels (or a flat color), after turning the file by
// orientation 6 when turned.
void expect_test_pixels(const Image& picture, const Image* alpha, int w, int h, bool turned,
                        const std::uint8_t* flat = nullptr) {
    ASSERT_EQ(picture.type, image_color24);
    ASSERT_EQ(picture.width, std::uint32_t(turned ? h : w));
    ASSERT_EQ(picture.height, std::uint32_t(turned ? w : h));
    if (alpha) {
        ASSERT_TRUE(alpha->width == picture.width && alpha->height == picture.height);
    }
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            // Turned clockwise, the file's bottom-left pixel is the top-left one.
            const std::uint32_t tx = turned ? h - 1 - y : x, ty = turned ? x : y;
            const std::uint8_t* p = top_row(picture, ty) + 3 * tx;
            const auto e = test_pixel(x, y);
            const std::uint8_t* want = flat ? flat : e.data();
            EXPECT_TRUE(p[2] == want[0] && p[1] == want[1] && p[0] == want[2]) << x << "," << y;
            if (alpha) {
                EXPECT_EQ(top_row(*alpha, ty)[tx], e[3]) << x << "," << y;
            }
        }
    }
}

TEST(WebpRead, LosslessPixelsAndAlphaComeBackExactly) {
    RecordingScope rec;
    TempDir dir;
    const std::string path = dir.file("alpha.webp");
    put_bytes(path, encode_lossless(5, 3, true));
    // With the transparency image, and without: the two decode paths must agree on the colors.
    for (bool want_alpha : {true, false}) {
        Image picture, transparency;
        ASSERT_FALSE(read_webp_file(path, picture, want_alpha ? &transparency : nullptr));
        EXPECT_LE(picture.dpi, 0.0);  // no resolution in the file: read_image_file makes it 72
        EXPECT_EQ(picture.profile_size, 0u);
        expect_test_pixels(picture, want_alpha ? &transparency : nullptr, 5, 3, false);
    }
    // An opaque file leaves the transparency image empty. WEBP has no resolution of its own:
    // the EXIF resolution tags give the dpi, and read_image_file makes a missing one 72.
    Image picture, transparency;
    for (const auto& [exif, dpi] :
         {std::pair{Bytes{}, 72.0}, std::pair{resolution_exif_block(100, 1, 3), 254.0},
          std::pair{resolution_exif_block(300, 1, 1), 72.0}}) {
        put_bytes(path, with_chunks(encode_lossless(4, 4, false), {}, exif));
        ASSERT_FALSE(read_image_file(path, picture, transparency));
        EXPECT_EQ(picture.type, image_color24);
        EXPECT_TRUE(transparency.empty());
        EXPECT_NEAR(picture.dpi, dpi, 1e-9);
    }
    // An animation gives its first frame.
    const std::uint8_t first[3] = {200, 30, 10};
    put_bytes(path, animation(6, 4, first));
    ASSERT_FALSE(read_webp_file(path, picture, &transparency));
    expect_test_pixels(picture, nullptr, 6, 4, false, first);
    EXPECT_TRUE(rec.recorder.errors().empty());
}

TEST(WebpRead, ProfileAndExifChunksAndOrientation) {
    RecordingScope rec;
    TempDir dir;
    const ProfileBytes srgb = builtin_srgb_profile();
    const Bytes icc(srgb.data, srgb.data + srgb.size);
    const Bytes exif = small_exif_block(6, "WebpCam");
    Bytes prefixed = {'E', 'x', 'i', 'f', 0, 0};
    prefixed.insert(prefixed.end(), exif.begin(), exif.end());
    // Some writers keep the JPEG "Exif\0\0" in front; both forms carry the same tags.
    for (const Bytes& block : {exif, prefixed}) {
        const std::string path = dir.file("tagged.webp");
        const Bytes file = with_chunks(encode_lossless(4, 2, true), icc, block);
        ASSERT_FALSE(file.empty());
        put_bytes(path, file);
        Image picture, transparency;
        ASSERT_FALSE(read_webp_file(path, picture, &transparency));
        ASSERT_EQ(picture.profile_size, icc.size());
        EXPECT_EQ(0, std::memcmp(picture.profile, icc.data(), icc.size()));
        ASSERT_NE(find_tag(picture, 271), nullptr);
        EXPECT_STREQ(reinterpret_cast<const char*>(find_tag(picture, 271)->data), "WebpCam");
        ASSERT_NE(find_tag(picture, 274), nullptr);
        EXPECT_EQ(sample16(find_tag(picture, 274)->data, 0), 1);
        // Orientation 6; the alpha turns with the colors.
        expect_test_pixels(picture, &transparency, 4, 2, true);
    }
    EXPECT_TRUE(rec.recorder.errors().empty());
}

Outcome read_webp(const std::string& path) {
    Image alpha;
    Outcome o = read_recorded(
        path, [&](const std::string& p, Image& im) { return read_webp_file(p, im, &alpha); });
    EXPECT_TRUE(!o.failed || is_empty_record(alpha));
    return o;
}

// Damaged files fail cleanly with the reader's message, whatever the damage.
TEST(WebpRead, DamagedAndHugeFilesFailCleanly) {
    TempDir dir;
    std::vector<Bytes> sources = {encode_lossless(40, 30, true)};
    for (const char* name : {"yellow_rose.lossy-with-alpha.webp", "blue-purple-pink.lossy.webp"}) {
        if (fs::exists(go_images + name)) sources.push_back(file_bytes(go_images + name));
    }
    const std::string path = dir.file("damaged.webp");
    for (const Bytes& source : sources) {
        for (std::size_t keep : {std::size_t{0}, std::size_t{7}, std::size_t{12}, std::size_t{30},
                                 source.size() / 2, source.size() - 1}) {
            SCOPED_TRACE(keep);
            put_bytes(path,
                      Bytes(source.begin(), source.begin() + static_cast<std::ptrdiff_t>(keep)));
            EXPECT_TRUE(failed_with(read_webp(path), "Error reading WEBP file"));
        }
        // Flipped bytes may still decode; when they do not, the failure is the clean one.
        for (std::size_t at = 0; at < source.size(); at += 1 + source.size() / 37) {
            Bytes damaged = source;
            damaged[at] ^= 0x5A;
            put_bytes(path, damaged);
            const Outcome r = read_webp(path);
            if (r.failed) {
                EXPECT_TRUE(failed_with(r, "Error reading WEBP file")) << at;
            }
        }
    }
    EXPECT_TRUE(failed_with(read_webp(dir.file("missing.webp")), "Error reading WEBP file"));

    // A size beyond the memory limit is refused before decoding.
    put_bytes(path, encode_lossless(300, 200, false));
    MemoryLimit limit(50000);
    EXPECT_TRUE(failed_with(read_webp(path), "Image is too large: 300 x 200"));
}

}  // namespace
}  // namespace tessaly
