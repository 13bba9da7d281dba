// Profile conversion of images and the colour-managed type conversions, checked against Little
// CMS's own tificc on the same TIFF files and against direct Little CMS transforms.
#include <gtest/gtest.h>
#include <lcms2.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "color/color_transform.h"
#include "color/lcms_support.h"
#include "core/builtin_profiles.h"
#include "core/image_convert.h"
#include "core/tables.h"
#include "fileio/image_file.h"
#include "fileio/image_write.h"
#include "support/suite_helpers.h"
#include "support/temp_dir.h"

namespace tessaly {
namespace {

const std::string icc = "/usr/share/color/icc/";
const std::string srgb_path = icc + "sRGB.icc";
const std::string adobe_path = icc + "compatibleWithAdobeRGB1998.icc";
const std::string prophoto_path = icc + "colord/ProPhotoRGB.icc";
const std::string gray_path = icc + "Gray.icc";

using testing::Bytes;
const auto read_bytes = testing::file_bytes;
const std::uint8_t* data(const Bytes& b) {
    return b.empty() ? nullptr : b.data();
}
std::uint32_t size(const Bytes& b) {
    return static_cast<std::uint32_t>(b.size());
}

#define REQUIRE_REFERENCES(...)                                                      \
    do {                                                                             \
        if (access("/usr/bin/tificc", X_OK) != 0)                                    \
            GTEST_SKIP() << "tificc (liblcms2-utils) is not installed";              \
        for (const std::string& p : {__VA_ARGS__}) {                                 \
            if (!std::filesystem::exists(p))                                         \
                GTEST_SKIP() << p << " is missing (icc-profiles-free, colord-data)"; \
        }                                                                            \
    } while (0)

std::size_t channels(std::uint32_t type) {
    return type == 3 || type == 5 ? 3 : 1;
}
bool deep(std::uint32_t type) {
    return type == image_gray16 || type == image_color48;
}

// Samples walk through a grid of the colour cube (16 levels a channel), then hashed values.
Image make_picture(std::uint32_t type) {
    Image image;
    EXPECT_FALSE(image_alloc(image, type, 64, 80, 300.0));
    const std::size_t n = channels(type);
    std::uint32_t state = 12345;
    for (std::uint32_t i = 0; i < 64 * 80; ++i) {
        for (std::size_t c = 0; c < n; ++c) {
            state = state * 1103515245u + 12345u;
            const std::uint32_t v = i >= 4096 ? state >> 16
                                    : n == 1  ? i * 65535 / 4095
                                              : ((i >> (4 * c)) & 15) * 4369;
            std::uint8_t* row = image.rows[i / 64];
            if (deep(type)) {
                set_sample16(row, (i % 64) * n + c, static_cast<std::uint16_t>(v));
            } else {
                row[(i % 64) * n + c] = to8_value(v);
            }
        }
    }
    return image;
}

int max_difference(const Image& a, const Image& b) {
    if (a.type != b.type || a.width != b.width || a.height != b.height) return 1 << 20;
    int worst = 0;
    for (std::uint32_t y = 0; y < a.height; ++y) {
        for (std::size_t i = 0; i < channels(a.type) * a.width; ++i) {
            const int va = deep(a.type) ? sample16(a.rows[y], i) : a.rows[y][i];
            const int vb = deep(b.type) ? sample16(b.rows[y], i) : b.rows[y][i];
            worst = std::max(worst, std::abs(va - vb));
        }
    }
    return worst;
}

// tificc's result for the picture, written with our writer and read back with our reader.
Image tificc(const Image& picture, const std::string& flags, const testing::TempDir& dir) {
    const std::string in = dir.file("in.tif"), out = dir.file("out.tif");
    std::filesystem::remove(out);
    EXPECT_FALSE(write_tiff_file(in, picture, 0, 3));
    const std::string command = "/usr/bin/tificc -n -w" +
                                std::string(deep(picture.type) ? "16 " : "8 ") + flags + " " + in +
                                " " + out + " >/dev/null 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    Image result;
    EXPECT_FALSE(read_tiff_file(out, result, nullptr));
    return result;
}

// Our conversion of a copy; profiles read from files ("" = none). Checks the attached profile.
Image ours(const Image& picture, const std::string& from, const std::string& to,
           std::int32_t intent) {
    Image copy;
    EXPECT_FALSE(image_copy(picture, copy));
    const Bytes a = read_bytes(from), b = read_bytes(to);
    EXPECT_FALSE(convert_image_profile(copy, data(a), size(a), data(b), size(b), intent));
    if (!b.empty()) {
        EXPECT_TRUE(copy.profile_size == b.size() &&
                    !std::memcmp(copy.profile, b.data(), b.size()));
    }
    return copy;
}

TEST(ProfileConversion, AgreesWithTificcBetweenRgbSpaces) {
    REQUIRE_REFERENCES(srgb_path, adobe_path, prophoto_path);
    testing::TempDir dir;
    struct Case {
        std::string from, to;
        std::int32_t intent;
        std::string tificc_intent;
    };
    const Case cases[] = {
        {srgb_path, adobe_path, 0, "-t0"},    {adobe_path, prophoto_path, 2, "-t1"},
        {prophoto_path, srgb_path, 2, "-t1"}, {prophoto_path, adobe_path, 3, "-t3"},
        {"", adobe_path, 0, "-t0"},  // no source profile: Little CMS's sRGB
    };
    for (std::uint32_t type : {image_color24, image_color48}) {
        const Image picture = make_picture(type);
        for (const Case& c : cases) {
            SCOPED_TRACE(std::to_string(type) + ": " + c.from + " -> " + c.to);
            const Image mine = ours(picture, c.from, c.to, c.intent);
            const std::string in = c.from.empty() ? "*sRGB" : c.from;
            EXPECT_LE(max_difference(
                          mine, tificc(picture, c.tificc_intent + " -i" + in + " -o" + c.to, dir)),
                      1);
            EXPECT_GT(max_difference(mine, picture), 1);  // the spaces do differ
        }
    }
}

TEST(ProfileConversion, ByteEqualProfilesLeavePixelsUntouched) {
    REQUIRE_REFERENCES(prophoto_path);
    const Bytes a = read_bytes(prophoto_path), b = a;  // equal bytes at another address
    for (std::uint32_t type : {image_gray8, image_color24, image_color48}) {
        Image picture = make_picture(type), before;
        ASSERT_FALSE(image_copy(picture, before));
        // For gray pixels this RGB profile could not even make a transform: none is tried.
        EXPECT_FALSE(convert_image_profile(picture, a.data(), size(a), b.data(), size(b), 4));
        EXPECT_TRUE(image_equal(picture, before));
    }
}

// An RGB profile whose black is raised to 5 % luminance, where black point compensation matters.
Bytes raised_black_profile() {
    std::vector<cmsUInt16Number> table(256);
    for (int i = 0; i < 256; ++i)
        table[i] = static_cast<cmsUInt16Number>(
            std::lround((0.05 + 0.95 * std::pow(i / 255.0, 2.2)) * 65535));
    cmsToneCurve* curve = cmsBuildTabulatedToneCurve16(nullptr, 256, table.data());
    cmsToneCurve* curves[3] = {curve, curve, curve};
    cmsCIExyY white;
    cmsWhitePointFromTemp(&white, 6504);
    const cmsCIExyYTRIPLE primaries = {{0.64, 0.33, 1}, {0.30, 0.60, 1}, {0.15, 0.06, 1}};
    cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
    cmsFreeToneCurve(curve);
    return testing::profile_bytes(profile, "Raised black");
}

TEST(ProfileConversion, BlackPointCompensationOfCodeFour) {
    REQUIRE_REFERENCES(srgb_path);
    testing::TempDir dir;
    const Bytes raised = raised_black_profile();
    const std::string raised_path = dir.file("raised.icc");
    testing::put_file(raised_path, raised);
    const Image picture = make_picture(image_color24);
    const Image relative = ours(picture, srgb_path, raised_path, 2);
    const Image compensated = ours(picture, srgb_path, raised_path, 4);
    const std::string profiles = " -i" + srgb_path + " -o" + raised_path;
    EXPECT_LE(max_difference(relative, tificc(picture, "-t1" + profiles, dir)), 1);
    EXPECT_LE(max_difference(compensated, tificc(picture, "-t1 -b" + profiles, dir)), 1);
    // Without compensation the shadows below the raised black clip to 0; with it they spread.
    EXPECT_GT(max_difference(relative, compensated), 10);
}

TEST(ProfileConversion, GrayImagesAndTheGrayFallback) {
    REQUIRE_REFERENCES(gray_path);
    testing::TempDir dir;
    const ProfileBytes builtin = builtin_gray_profile();
    const std::string builtin_path = dir.file("builtin-gray.icc");
    testing::put_file(builtin_path, Bytes(builtin.data, builtin.data + builtin.size));
    for (std::uint32_t type : {image_gray8, image_gray16}) {
        SCOPED_TRACE(type);
        const Image picture = make_picture(type);
        // No source profile: the built-in gray one.
        const Image to_gray = ours(picture, "", gray_path, 0);
        EXPECT_LE(max_difference(to_gray,
                                 tificc(picture, "-t0 -i" + builtin_path + " -o" + gray_path, dir)),
                  1);
        EXPECT_GT(max_difference(to_gray, picture), 1);
        // No target profile: the built-in gray one, whose bytes the image then carries.
        const Image back = ours(picture, gray_path, "", 2);
        EXPECT_LE(
            max_difference(back, tificc(picture, "-t1 -i" + gray_path + " -o" + builtin_path, dir)),
            1);
        EXPECT_TRUE(back.profile_size == builtin.size &&
                    !std::memcmp(back.profile, builtin.data, builtin.size));
    }
}

TEST(ProfileConversion, FailuresLeaveThePictureAlone) {
    REQUIRE_REFERENCES(gray_path, srgb_path);
    const Bytes gray = read_bytes(gray_path), rgb = read_bytes(srgb_path), junk(200, 7);
    Image picture = make_picture(image_color24), before;
    ASSERT_FALSE(image_copy(picture, before));
    // A gray profile for colour pixels; bytes that are no profile.
    EXPECT_TRUE(convert_image_profile(picture, gray.data(), size(gray), nullptr, 0, 0));
    EXPECT_TRUE(convert_image_profile(picture, junk.data(), size(junk), rgb.data(), size(rgb), 0));
    EXPECT_TRUE(image_equal(picture, before));
    // Binary and floating-point pictures have no pixel format for a transform.
    for (std::uint32_t type : {image_binary, image_float_color}) {
        Image other;
        ASSERT_FALSE(image_alloc(other, type, 8, 2, 72.0));
        EXPECT_TRUE(convert_image_profile(other, nullptr, 0, rgb.data(), size(rgb), 0));
    }
}

TEST(ColorManagedConversion, TypeConversionsGoThroughTransforms) {
    REQUIRE_REFERENCES(adobe_path, gray_path);
    struct Restore {  // the image core's state, however the test ends
        ~Restore() {
            set_color_management_enabled(false);
            set_rgb_working_profile(nullptr, 0);
            set_gray_working_profile(nullptr, 0);
        }
    } restore;
    set_color_management_enabled(true);
    const Bytes adobe = read_bytes(adobe_path), gray = read_bytes(gray_path);
    const ProfileBytes builtin_srgb = builtin_srgb_profile();
    const auto check = [](const Image& source, std::uint32_t type, const ProfileBytes& to_bytes) {
        SCOPED_TRACE(std::to_string(source.type) + " -> " + std::to_string(type));
        Image target;
        ASSERT_FALSE(image_convert(source, target, type));
        ASSERT_TRUE(target.profile_size == to_bytes.size &&
                    !std::memcmp(target.profile, to_bytes.data, to_bytes.size));
        // The reference: one direct perceptual Little CMS transform over every row.
        ProfileHandle from = image_profile_or_fallback(source),
                      to = open_profile(to_bytes.data, to_bytes.size);
        TransformHandle t(cmsCreateTransform(from.get(), lcms_format(source.type), to.get(),
                                             lcms_format(type), INTENT_PERCEPTUAL,
                                             cmsFLAGS_NOCACHE));
        ASSERT_TRUE(t);
        Image expected;
        ASSERT_FALSE(image_alloc(expected, type, source.width, source.height, source.dpi));
        for (std::uint32_t y = 0; y < source.height; ++y)
            cmsDoTransform(t.get(), source.rows[y], expected.rows[y], source.width);
        EXPECT_EQ(max_difference(target, expected), 0);
    };
    // Sources with their own profiles, targets getting the working profile of their family.
    set_rgb_working_profile(adobe.data(), size(adobe));
    set_gray_working_profile(gray.data(), size(gray));
    for (auto [from, to] : {std::pair{2u, 3u}, {3u, 2u}, {4u, 3u}, {4u, 5u}, {5u, 2u}}) {
        Image source = make_picture(from);
        const Bytes& own = channels(from) == 1 ? gray : adobe;
        ASSERT_FALSE(image_set_profile(source, own.data(), size(own)));
        check(source, to,
              channels(to) == 1 ? ProfileBytes{gray.data(), size(gray)}
                                : ProfileBytes{adobe.data(), size(adobe)});
    }
    // Without any: the built-in gray profile to the built-in sRGB bytes.
    set_rgb_working_profile(nullptr, 0);
    set_gray_working_profile(nullptr, 0);
    const Image plain_gray = make_picture(image_gray8);
    check(plain_gray, image_color24, builtin_srgb);
    // Switched off, the plain arithmetic: gray copied into all three channels.
    set_color_management_enabled(false);
    Image target;
    ASSERT_FALSE(image_convert(plain_gray, target, image_color24));
    for (std::uint32_t x = 0; x < 64; ++x)
        EXPECT_TRUE(target.rows[5][3 * x] == plain_gray.rows[5][x] &&
                    target.rows[5][3 * x + 2] == plain_gray.rows[5][x]);
}

}  // namespace
}  // namespace tessaly
