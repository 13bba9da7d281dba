#include <gtest/gtest.h>
#include <libheif/heif.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <optional>
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

const std::string sdl_avif = "/usr/libexec/installed-tests/SDL2_image/sample.avif";
const std::string sdl_png = "/usr/libexec/installed-tests/SDL2_image/sample.png";

struct HeifSample {
    heif_compression_format format = heif_compression_HEVC;
    int bits = 8;
    bool alpha = false;  // 8-bit only: a half-transparent alpha plane
    bool gray = false;   // one monochrome plane
    Bytes icc;
    Bytes exif;  // handed to libheif, which adds the offset header
    heif_orientation orientation = heif_orientation_normal;
};

bool good(heif_error e) {
    return e.code == heif_error_Ok;
}

// Writes the 64 x 48 quadrants with libheif's own encoder; false when this machine cannot.
bool write_heif(const std::string& path, const HeifSample& s) {
    if (!heif_have_encoder_for_format(s.format)) return false;
    const int w = 64, h = 48;
    heif_context* ctx = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    heif_image* image = nullptr;
    const heif_chroma chroma = s.gray       ? heif_chroma_monochrome
                               : s.bits > 8 ? heif_chroma_interleaved_RRGGBB_LE
                               : s.alpha    ? heif_chroma_interleaved_RGBA
                                            : heif_chroma_interleaved_RGB;
    const heif_channel channel = s.gray ? heif_channel_Y : heif_channel_interleaved;
    bool ok =
        good(heif_context_get_encoder_for_format(ctx, s.format, &encoder)) &&
        good(heif_encoder_set_lossy_quality(encoder, 95)) &&
        (s.gray || good(heif_encoder_set_parameter_string(encoder, "chroma", "420"))) &&
        good(heif_image_create(w, h, s.gray ? heif_colorspace_monochrome : heif_colorspace_RGB,
                               chroma, &image)) &&
        good(heif_image_add_plane(image, channel, w, h, s.bits)) &&
        (s.icc.empty() ||
         good(heif_image_set_raw_color_profile(image, "prof", s.icc.data(), s.icc.size())));
    if (ok) {
        int stride = 0;
        std::uint8_t* plane = heif_image_get_plane(image, channel, &stride);
        const int channels = s.gray ? 1 : 3, sample_bytes = s.bits > 8 ? 2 : 1;
        const int pixel = (s.alpha ? 4 : channels) * sample_bytes;
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const int q = quadrant_of(x, y, w, h);
                std::uint8_t* p = plane + y * stride + x * pixel;
                for (int k = 0; k < channels; ++k) {
                    const int level = s.gray ? quadrant_grays[q] : quadrant_colors[q][k];
                    const int v = (level * ((1 << s.bits) - 1) + 127) / 255;
                    p[k * sample_bytes] = static_cast<std::uint8_t>(v);
                    if (sample_bytes == 2) p[k * 2 + 1] = static_cast<std::uint8_t>(v >> 8);
                }
                if (s.alpha) p[3] = 128;
            }
        }
    }
    heif_encoding_options* options = heif_encoding_options_alloc();
    options->image_orientation = s.orientation;
    heif_image_handle* handle = nullptr;
    ok = ok && good(heif_context_encode_image(ctx, image, encoder, options, &handle)) &&
         (s.exif.empty() || good(heif_context_add_exif_metadata(
                                ctx, handle, s.exif.data(), static_cast<int>(s.exif.size())))) &&
         good(heif_context_write_to_file(ctx, path.c_str()));
    heif_image_handle_release(handle);
    heif_encoding_options_free(options);
    heif_image_release(image);
    if (encoder) heif_encoder_release(encoder);
    heif_context_free(ctx);
    return ok;
}

const char* format_name(heif_compression_format f) {
    return f == heif_compression_AV1 ? "AV1" : "HEVC";
}

Outcome read_heif(const std::string& path) {
    return read_recorded(path, read_heif_file);
}

class HeifRead : public ::testing::TestWithParam<heif_compression_format> {
  protected:
    // Writes the sample of this codec, or skips the test when it cannot be encoded here.
    bool write(const std::string& path, HeifSample s) {
        s.format = GetParam();
        return write_heif(path, s);
    }
    TempDir dir;
};

#define WRITE_OR_SKIP(path, sample) \
    if (!write(path, sample))       \
    GTEST_SKIP() << "libheif cannot encode this " << format_name(GetParam())

// With an alpha plane too: these files bring no transparency image, the colors stay as coded.
// HEIF has no resolution of its own: the EXIF resolution tags give the dpi; without them
// read_image_file makes it 72.
TEST_P(HeifRead, ColorsProfileAndResolutionOfAnEightBitFile) {
    for (bool alpha : {false, true}) {
        SCOPED_TRACE(alpha);
        const ProfileBytes adobe = builtin_adobe_rgb_profile();
        HeifSample s{.alpha = alpha, .icc = Bytes(adobe.data, adobe.data + adobe.size)};
        if (alpha) s.exif = resolution_exif_block(100, 1, 3);
        WRITE_OR_SKIP(dir.file("colors.heic"), s);
        RecordingScope rec;
        Image picture, transparency;
        ASSERT_FALSE(read_image_file(dir.file("colors.heic"), picture, transparency));
        EXPECT_TRUE(rec.recorder.errors().empty());
        EXPECT_TRUE(transparency.empty());
        ASSERT_EQ(picture.type, image_color24);
        ASSERT_TRUE(picture.width == 64u && picture.height == 48u);
        expect_quadrants(picture, {0, 1, 2, 3}, 24);
        ASSERT_EQ(picture.profile_size, s.icc.size());
        EXPECT_EQ(0, std::memcmp(picture.profile, s.icc.data(), s.icc.size()));
        EXPECT_NEAR(picture.dpi, alpha ? 254.0 : 72.0, 1e-9);
    }
}

// The file's rotation box is applied by the decoder; the EXIF orientation describes the same turn
// and must not turn the picture a second time, yet it is stored as 1.
TEST_P(HeifRead, OrientationIsAppliedOnceAndExifTagsAreKept) {
    const Bytes exif = small_exif_block(6, "HeifCam");
    for (const Bytes& block : {exif, exif_prefixed(exif)}) {
        WRITE_OR_SKIP(dir.file("turned.heic"),
                      (HeifSample{.exif = block, .orientation = heif_orientation_rotate_90_cw}));
        const Outcome r = read_heif(dir.file("turned.heic"));
        ASSERT_TRUE(read_cleanly(r));
        ASSERT_EQ(r.picture.width, 48u);
        ASSERT_EQ(r.picture.height, 64u);
        // Turned clockwise: blue (bottom-left) comes to the top-left, red to the top-right.
        expect_quadrants(r.picture, {2, 0, 3, 1}, 24);
        EXPECT_EQ(tag_short(r.picture, 274), 1);
        EXPECT_EQ(tag_text(r.picture, 271), "HeifCam");
    }
}

// Whether libheif sees the file's primary image as coded in one monochrome plane.
bool coded_monochrome(const std::string& path) {
    heif_context* ctx = heif_context_alloc();
    heif_image_handle* handle = nullptr;
    heif_image* image = nullptr;
    bool mono = false;
    if (good(heif_context_read_from_file(ctx, path.c_str(), nullptr)) &&
        good(heif_context_get_primary_image_handle(ctx, &handle)) &&
        good(heif_decode_image(handle, &image, heif_colorspace_undefined, heif_chroma_undefined,
                               nullptr))) {
        mono = heif_image_get_colorspace(image) == heif_colorspace_monochrome;
    }
    heif_image_release(image);
    heif_image_handle_release(handle);
    heif_context_free(ctx);
    return mono;
}

// 10-bit color is stretched over the 16-bit range (the quadrant levels show it); a monochrome
// file (one coded plane) reads as gray, as a gray pixel format does: 8-bit gray, and 16-bit gray
// over the full range when its samples are deeper.
TEST_P(HeifRead, DeepAndMonochromeFiles) {
    int read = 0;
    for (const auto& [bits, gray] : {std::pair{10, false}, {8, true}, {10, true}}) {
        SCOPED_TRACE(::testing::Message() << bits << (gray ? " gray" : " color"));
        // Debian 12's libaom aborts on the 10-bit configurations libheif hands it, and its x265
        // plugin codes monochrome input as 4:2:0 color.
        if (bits > 8 && GetParam() == heif_compression_AV1) continue;
        const std::string path = dir.file("t.heic");
        if (!write(path, HeifSample{.bits = bits, .gray = gray}) ||
            (gray && !coded_monochrome(path)))
            continue;
        ++read;
        const Outcome r = read_heif(path);
        ASSERT_TRUE(read_cleanly(r));
        ASSERT_EQ(r.picture.type, !gray ? image_color48 : bits > 8 ? image_gray16 : image_gray8);
        ASSERT_EQ(r.picture.width, 64u);
        expect_quadrants(r.picture, {0, 1, 2, 3}, gray ? 8 : 24);
    }
    if (read == 0) GTEST_SKIP() << "libheif cannot encode deep or monochrome files here";
}

// A spatial extent claiming 30000 x 30000 over the data of 64 x 48 gives the picture the data
// holds, and the child that reads it stays small. The decoder's own planes count beside the
// picture: a limit the picture alone would fit in refuses the file before decoding.
TEST_P(HeifRead, ClaimedSizesAndTheDecodersBuffersAreCheckedFirst) {
    const std::string path = dir.file("sample.heic"), claim = dir.file("claim.heic");
    WRITE_OR_SKIP(path, HeifSample{});
    Bytes bytes = file_bytes(path);
    const Bytes ispe = {'i', 's', 'p', 'e'};
    const auto at = std::search(bytes.begin(), bytes.end(), ispe.begin(), ispe.end());
    ASSERT_NE(at, bytes.end());
    put_number(bytes, std::size_t(at - bytes.begin()) + 8, 30000, 4, true);
    put_number(bytes, std::size_t(at - bytes.begin()) + 12, 30000, 4, true);
    put_bytes(claim, bytes);
    // Whatever memory this machine has, the claim alone must not be what decides.
    std::optional<MemoryLimit> roomy(std::in_place, std::uint64_t{64} << 30);
    EXPECT_LT(peak_growth_mib([&] { (void)read_heif(claim); }), 50);
    const Outcome r = read_heif(claim);
    ASSERT_FALSE(r.failed);
    EXPECT_TRUE(r.picture.width == 64 && r.picture.height == 48);
    expect_quadrants(r.picture, {0, 1, 2, 3}, 24);

    roomy.reset();
    MemoryLimit limit(20000);
    EXPECT_TRUE(failed_with(read_heif(path), "Image is too large: 64 x 48"));
}

// The file with count references of a type from its primary item to itself added to its meta
// box (to its item reference box, or in one of their own), every data offset in the file moved
// past the added bytes. libheif takes a derived image's first "dimg" reference and ignores any
// on a coded image; the reader counts them all.
Bytes with_references(Bytes b, const char* type, std::uint32_t count) {
    const auto find = [&](const char* box, std::size_t from) {
        return static_cast<std::size_t>(
            std::search(b.begin() + static_cast<std::ptrdiff_t>(from), b.end(), box, box + 4) -
            b.begin());
    };
    const std::size_t meta = find("meta", 0) - 4, pitm = find("pitm", meta),
                      iloc = find("iloc", meta), meta_size = number_at(&b[meta], 4, true);
    std::size_t iref = find("iref", meta) - 4;
    const bool own_box = iref >= meta + meta_size;
    Bytes refs(12 + 2 * count);
    put_number(refs, 0, refs.size(), 4, true);
    std::memcpy(&refs[4], type, 4);
    const std::uint64_t primary = number_at(&b[pitm + 8], 2, true);
    put_number(refs, 8, primary, 2, true);
    put_number(refs, 10, count, 2, true);
    for (std::uint32_t i = 0; i < count; ++i) put_number(refs, 12 + 2 * i, primary, 2, true);
    if (own_box) {
        Bytes box = {0, 0, 0, 0, 'i', 'r', 'e', 'f', 0, 0, 0, 0};
        refs.insert(refs.begin(), box.begin(), box.end());
        put_number(refs, 0, refs.size(), 4, true);
        iref = meta + meta_size;
    }
    const auto added = static_cast<std::uint32_t>(refs.size());

    // Items stored in the file (construction method 0) move; those in the meta box do not.
    const int version = b[iloc + 4], offset_size = b[iloc + 8] >> 4, length_size = b[iloc + 8] & 15,
              base_size = b[iloc + 9] >> 4, index_size = version ? b[iloc + 9] & 15 : 0,
              id_size = version < 2 ? 2 : 4;
    const auto shift = [&](std::size_t at, int size) {
        if (size) put_number(b, at, number_at(&b[at], size, true) + added, size, true);
    };
    std::size_t at = iloc + 10 + id_size;
    for (std::uint64_t i = number_at(&b[at - id_size], id_size, true); i > 0; --i) {
        at += id_size;
        const bool in_file = version == 0 || (b[at + 1] & 15) == 0;
        at += (version ? 2 : 0) + 2;
        if (in_file) shift(at, base_size);
        at += static_cast<std::size_t>(base_size);
        std::uint64_t extents = number_at(&b[at], 2, true);
        for (at += 2; extents > 0; --extents) {
            at += static_cast<std::size_t>(index_size);
            if (in_file && base_size == 0) shift(at, offset_size);
            at += static_cast<std::size_t>(offset_size + length_size);
        }
    }
    if (!own_box) put_number(b, iref, number_at(&b[iref], 4, true) + added, 4, true);
    put_number(b, meta, meta_size + added, 4, true);
    const std::size_t insert_at = own_box ? iref : iref + number_at(&b[iref], 4, true) - added;
    b.insert(b.begin() + static_cast<std::ptrdiff_t>(insert_at), refs.begin(), refs.end());
    return b;
}

// libheif decodes every tile an image names: an image naming more tiles than its picture has
// room for is refused before anything is decoded, while as many references of a kind nobody reads
// leave the file readable.
TEST_P(HeifRead, ImagesNamingMoreTilesThanTheyHoldAreRefused) {
    const std::string path = dir.file("sample.heic"), tiled = dir.file("tiled.heic");
    WRITE_OR_SKIP(path, HeifSample{});
    const Bytes bytes = file_bytes(path);
    put_bytes(tiled, with_references(bytes, "xtra", 20000));  // a kind nobody reads
    const Outcome other = read_heif(tiled);
    ASSERT_TRUE(read_cleanly(other));
    expect_quadrants(other.picture, {0, 1, 2, 3}, 24);
    put_bytes(tiled, with_references(bytes, "dimg", 20000));
    EXPECT_TRUE(failed_with(read_heif(tiled), "Error reading HEIF file"));
}

INSTANTIATE_TEST_SUITE_P(Codecs, HeifRead,
                         ::testing::Values(heif_compression_HEVC, heif_compression_AV1),
                         [](const auto& test) { return std::string(format_name(test.param)); });

// The AVIF of another encoder shows the same picture as the PNG beside it.
TEST(HeifReadSamples, PackageAvifMatchesItsPng) {
    if (!fs::exists(sdl_avif) || !fs::exists(sdl_png))
        GTEST_SKIP() << "sample.avif/sample.png of libsdl2-image-tests missing";
    const Outcome r = read_heif(sdl_avif);
    Image reference;
    ASSERT_TRUE(read_cleanly(r));
    ASSERT_FALSE(read_png_file(sdl_png, reference, nullptr));
    ASSERT_TRUE(r.picture.type == image_color24 || r.picture.type == image_color48);
    ASSERT_EQ(r.picture.width, reference.width);
    ASSERT_EQ(r.picture.height, reference.height);
    long total = 0;
    for (std::uint32_t y = 0; y < reference.height; ++y) {
        for (std::uint32_t x = 0; x < reference.width; ++x) {
            const Rgb a = rgb_at(r.picture, x, y), b = rgb_at(reference, x, y);
            for (int k = 0; k < 3; ++k) total += std::abs(a[k] - b[k]);
        }
    }
    EXPECT_LT(static_cast<double>(total) / (3.0 * reference.width * reference.height), 12.0);
}

TEST(HeifReadSamples, DamagedAndForeignFilesFailCleanly) {
    TempDir dir;
    std::vector<Bytes> sources;
    if (fs::exists(sdl_avif)) sources.push_back(file_bytes(sdl_avif));
    if (write_heif(dir.file("made.heic"), HeifSample{}))
        sources.push_back(file_bytes(dir.file("made.heic")));
    if (sources.empty()) GTEST_SKIP() << "no HEIF encoder and no sample.avif (libsdl2-image-tests)";

    const std::string path = dir.file("damaged.heic");
    for (const Bytes& source : sources) {
        expect_damage_fails(path, source,
                            {0, 10, 40, source.size() / 3, source.size() - 20, source.size() - 1},
                            41, read_heif, "Error reading HEIF file", true);
    }
    // Another format under a HEIF name, and no file at all.
    put_bytes(dir.file("png.heic"), {0x89, 'P', 'N', 'G', 13, 10, 26, 10});
    EXPECT_TRUE(failed_with(read_heif(dir.file("png.heic")), "Error reading HEIF file"));
    EXPECT_TRUE(failed_with(read_heif(dir.file("missing.avif")), "Error reading HEIF file"));
}

}  // namespace
}  // namespace tessaly
