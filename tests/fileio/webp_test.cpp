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
#include "test_files.h"

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

// RGBA of the test pixels, opaque unless with_alpha.
Bytes rgba(int w, int h, bool with_alpha) {
    Bytes out;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const auto p = test_pixel(x, y);
            out.insert(out.end(), {p[0], p[1], p[2], with_alpha ? p[3] : std::uint8_t{255}});
        }
    }
    return out;
}

// A lossless file of the RGBA frames, an animation when there are several.
Bytes encode(int w, int h, const std::vector<Bytes>& frames) {
    WebPAnimEncoderOptions options;
    WebPConfig config;
    if (!WebPAnimEncoderOptionsInit(&options) || !WebPConfigInit(&config)) return {};
    config.lossless = 1;
    config.exact = 1;
    WebPAnimEncoder* encoder = WebPAnimEncoderNew(w, h, &options);
    bool ok = encoder != nullptr;
    int timestamp = 0;
    for (const Bytes& pixels : frames) {
        WebPPicture frame;
        WebPPictureInit(&frame);
        frame.use_argb = 1;
        frame.width = w;
        frame.height = h;
        ok = ok && WebPPictureImportRGBA(&frame, pixels.data(), 4 * w) &&
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

// Checks every pixel against the test pixels, after turning the file by
// orientation 6 when turned.
void expect_test_pixels(const Image& picture, const Image* alpha, int w, int h, bool turned) {
    ASSERT_EQ(picture.type, image_color24);
    ASSERT_EQ(picture.width, std::uint32_t(turned ? h : w));
    ASSERT_EQ(picture.height, std::uint32_t(turned ? w : h));
    ASSERT_TRUE(!alpha || (alpha->width == picture.width && alpha->height == picture.height));
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            // Turned clockwise, the file's bottom-left pixel is the top-left one.
            const std::uint32_t tx = turned ? h - 1 - y : x, ty = turned ? x : y;
            const auto e = test_pixel(x, y);
            EXPECT_EQ(pixel_at(picture, tx, ty), (Samples{e[0], e[1], e[2]})) << x << "," << y;
            EXPECT_TRUE(!alpha || top_row(*alpha, ty)[tx] == e[3]) << x << "," << y;
        }
    }
}

TEST(WebpRead, LosslessPixelsAndAlphaComeBackExactly) {
    RecordingScope rec;
    TempDir dir;
    const std::string path = dir.file("alpha.webp");
    put_bytes(path, encode(5, 3, {rgba(5, 3, true)}));
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
        put_bytes(path, with_chunks(encode(4, 4, {rgba(4, 4, false)}), {}, exif));
        ASSERT_FALSE(read_image_file(path, picture, transparency));
        EXPECT_EQ(picture.type, image_color24);
        EXPECT_TRUE(transparency.empty());
        EXPECT_NEAR(picture.dpi, dpi, 1e-9);
    }
    // An animation gives its first frame.
    Bytes second = rgba(6, 4, false);
    for (std::size_t i = 0; i < second.size(); i += 4) second[i] ^= 0xFF;  // red inverted
    put_bytes(path, encode(6, 4, {rgba(6, 4, false), second}));
    ASSERT_FALSE(read_webp_file(path, picture, &transparency));
    expect_test_pixels(picture, nullptr, 6, 4, false);
    EXPECT_TRUE(rec.recorder.errors().empty());
}

TEST(WebpRead, ProfileAndExifChunksAndOrientation) {
    RecordingScope rec;
    TempDir dir;
    const ProfileBytes srgb = builtin_srgb_profile();
    const Bytes icc(srgb.data, srgb.data + srgb.size);
    const Bytes exif = small_exif_block(6, "WebpCam");
    // Some writers keep the JPEG "Exif\0\0" in front; both forms carry the same tags.
    for (const Bytes& block : {exif, exif_prefixed(exif)}) {
        const std::string path = dir.file("tagged.webp");
        const Bytes file = with_chunks(encode(4, 2, {rgba(4, 2, true)}), icc, block);
        ASSERT_FALSE(file.empty());
        put_bytes(path, file);
        Image picture, transparency;
        ASSERT_FALSE(read_webp_file(path, picture, &transparency));
        ASSERT_EQ(picture.profile_size, icc.size());
        EXPECT_EQ(0, std::memcmp(picture.profile, icc.data(), icc.size()));
        EXPECT_EQ(tag_text(picture, 271), "WebpCam");
        EXPECT_EQ(tag_short(picture, 274), 1);
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
    std::vector<Bytes> sources = {encode(40, 30, {rgba(40, 30, true)})};
    for (const char* name : {"yellow_rose.lossy-with-alpha.webp", "blue-purple-pink.lossy.webp"}) {
        if (fs::exists(go_images + name)) sources.push_back(file_bytes(go_images + name));
    }
    const std::string path = dir.file("damaged.webp");
    for (const Bytes& source : sources) {
        expect_damage_fails(path, source, {0, 7, 12, 30, source.size() / 2, source.size() - 1}, 37,
                            read_webp, "Error reading WEBP file");
    }
    EXPECT_TRUE(failed_with(read_webp(dir.file("missing.webp")), "Error reading WEBP file"));

    // A size beyond the memory limit is refused before decoding.
    put_bytes(path, encode(300, 200, {rgba(300, 200, false)}));
    MemoryLimit limit(50000);
    EXPECT_TRUE(failed_with(read_webp(path), "Image is too large: 300 x 200"));
}

// Where a chunk of that name starts in a RIFF file.
std::size_t chunk_at(const Bytes& file, const char* name) {
    for (std::size_t i = 12; i + 8 <= file.size(); i += 8 + ((number_at(&file[i + 4]) + 1) & ~1u)) {
        if (std::memcmp(&file[i], name, 4) == 0) return i;
    }
    ADD_FAILURE() << "no " << name << " chunk";
    return 0;
}

// A lossless header claiming 16383 x 16383 with alpha over the data of 10 x 6 fails as damaged,
// without the decode buffer for the claim ever becoming resident. An animation canvas of
// 65536 x 65535 around frames of 7 x 5 holds gigapixels of nothing: refused with the machine's
// own memory limit, and the child reading it stays small. A canvas of 3000 x 2000 around the
// same frames is within the allowance: the frame at its top left, transparent elsewhere.
TEST(WebpRead, ClaimedSizesCostOnlyWhatTheFileHolds) {
    TempDir dir;
    const std::string path = dir.file("claim.webp");
    std::uint8_t* encoded = nullptr;
    const Bytes pixels = rgba(10, 6, true);
    const std::size_t size = WebPEncodeLosslessRGBA(pixels.data(), 10, 6, 40, &encoded);
    ASSERT_GT(size, 0u);
    Bytes still(encoded, encoded + size);
    WebPFree(encoded);
    put_number(still, chunk_at(still, "VP8L") + 9, 16382u | (16382u << 14) | (1u << 28));
    put_bytes(path, still);
    EXPECT_LT(peak_growth_mib([&] { (void)read_webp(path); }), 50 + sanitizer_shadow_mib);
    EXPECT_TRUE(failed_with(read_webp(path), "Error reading WEBP file"));

    const Bytes animation = encode(7, 5, {rgba(7, 5, true), rgba(7, 5, false)});
    auto with_canvas = [&](std::uint32_t w, std::uint32_t h) {
        Bytes b = animation;
        const std::size_t at = chunk_at(b, "VP8X") + 12;
        put_number(b, at, w - 1, 3);
        put_number(b, at + 3, h - 1, 3);
        put_bytes(path, b);
    };
    with_canvas(65536, 65535);
    EXPECT_LT(peak_growth_mib([&] { (void)read_webp(path); }), 50 + sanitizer_shadow_mib);
    EXPECT_TRUE(failed_with(read_webp(path), "Image is too large: 65536 x 65535"));

    with_canvas(3000, 2000);
    Image alpha;
    const Outcome r = read_recorded(
        path, [&](const std::string& p, Image& im) { return read_webp_file(p, im, &alpha); });
    ASSERT_FALSE(r.failed);
    ASSERT_TRUE(r.picture.width == 3000 && r.picture.height == 2000 && alpha.width == 3000);
    const auto first = test_pixel(0, 0), last = test_pixel(6, 4);
    EXPECT_EQ(pixel_at(r.picture, 0, 0), (Samples{first[0], first[1], first[2]}));
    EXPECT_EQ(pixel_at(r.picture, 6, 4), (Samples{last[0], last[1], last[2]}));
    EXPECT_EQ(pixel_at(alpha, 6, 4), (Samples{last[3], last[3], last[3]}));
    EXPECT_EQ(pixel_at(alpha, 7, 4), (Samples{0, 0, 0}));
    EXPECT_EQ(pixel_at(alpha, 2999, 1999), (Samples{0, 0, 0}));
}

}  // namespace
}  // namespace tessaly
