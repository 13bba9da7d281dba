#include <gif_lib.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "fileio/image_file.h"
#include "support/fileio_builders.h"
#include "support/small_exif.h"
#include "support/temp_dir.h"

namespace tessaly {
namespace {

using namespace testing;

struct GifFrame {
    int left = 0, top = 0, width = 0, height = 0;
    bool interlace = false;
    std::vector<GifColorType> local_map;
    Bytes indices;  // top line first
    int transparent = -1;
    int delay = 0;  // hundredths of a second, in a control extension when not 0
};

struct GifLayout {
    int width = 0, height = 0, background = 0;
    std::vector<GifColorType> global_map;
    std::vector<GifFrame> frames;
    int loop = -1;             // a NETSCAPE2.0 extension with this count when 0 or more
    std::string comment;       // a comment extension before the first frame when not empty
    std::string late_comment;  // a second one after the last frame when not empty
};

// giflib wants maps of 2, 4, ... 256 entries; shorter lists are padded with black.
ColorMapObject* make_map(std::vector<GifColorType> colors) {
    if (colors.empty()) return nullptr;
    std::size_t n = 2;
    while (n < colors.size()) n *= 2;
    colors.resize(n, GifColorType{0, 0, 0});
    return GifMakeMapObject(static_cast<int>(n), colors.data());
}

bool write_gif(const std::string& path, const GifLayout& layout) {
    int error = 0;
    GifFileType* gif = EGifOpenFileName(path.c_str(), false, &error);
    if (!gif) return false;
    EGifSetGifVersion(gif, true);
    ColorMapObject* global = make_map(layout.global_map);
    bool ok =
        EGifPutScreenDesc(gif, layout.width, layout.height, 8, layout.background, global) == GIF_OK;
    GifFreeMapObject(global);
    if (ok && layout.loop >= 0) {
        const GifByteType loop[3] = {1, static_cast<GifByteType>(layout.loop & 255),
                                     static_cast<GifByteType>(layout.loop >> 8)};
        ok = EGifPutExtensionLeader(gif, APPLICATION_EXT_FUNC_CODE) == GIF_OK &&
             EGifPutExtensionBlock(gif, 11, "NETSCAPE2.0") == GIF_OK &&
             EGifPutExtensionBlock(gif, 3, loop) == GIF_OK &&
             EGifPutExtensionTrailer(gif) == GIF_OK;
    }
    if (ok && !layout.comment.empty()) ok = EGifPutComment(gif, layout.comment.c_str()) == GIF_OK;
    for (const GifFrame& f : layout.frames) {
        if (ok && (f.transparent >= 0 || f.delay > 0)) {
            GraphicsControlBlock gcb{};
            gcb.DisposalMode = DISPOSAL_UNSPECIFIED;
            gcb.TransparentColor = f.transparent;
            gcb.DelayTime = f.delay;
            GifByteType bytes[4];
            EGifGCBToExtension(&gcb, bytes);
            ok = EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, bytes) == GIF_OK;
        }
        ColorMapObject* local = make_map(f.local_map);
        ok = ok &&
             EGifPutImageDesc(gif, f.left, f.top, f.width, f.height, f.interlace, local) == GIF_OK;
        GifFreeMapObject(local);
        // Interlaced frames are stored in pass order: lines 0, 8, ..., 4, 12, ..., 2, 6, ...,
        // then the odd ones.
        std::vector<int> order;
        for (auto [start, step] :
             f.interlace ? std::vector<std::pair<int, int>>{{0, 8}, {4, 8}, {2, 4}, {1, 2}}
                         : std::vector<std::pair<int, int>>{{0, 1}}) {
            for (int y = start; y < f.height; y += step) order.push_back(y);
        }
        for (int y : order) {
            auto* line = const_cast<GifPixelType*>(f.indices.data() + std::size_t(y) * f.width);
            ok = ok && EGifPutLine(gif, line, f.width) == GIF_OK;
        }
    }
    if (ok && !layout.late_comment.empty())
        ok = EGifPutComment(gif, layout.late_comment.c_str()) == GIF_OK;
    return EGifCloseFile(gif, &error) == GIF_OK && ok;
}

// n grays from white down to black, or n distinct colors.
std::vector<GifColorType> make_colors(int n, bool gray) {
    std::vector<GifColorType> map;
    for (int i = 0; i < n; ++i) {
        const auto v = static_cast<GifByteType>(255 - i * 255 / (n - 1));
        map.push_back(gray ? GifColorType{v, v, v}
                           : GifColorType{static_cast<GifByteType>(i * 37),
                                          static_cast<GifByteType>(255 - i * 5),
                                          static_cast<GifByteType>(i * 11 + 3)});
    }
    return map;
}

GifFrame pattern_frame(int left, int top, int width, int height, int colors) {
    GifFrame f{.left = left, .top = top, .width = width, .height = height};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            f.indices.push_back(static_cast<std::uint8_t>((x * 7 + y * 3 + x * y) % colors));
    return f;
}

// A screen of one color map and the given frames, each of the whole screen unless changed.
GifLayout screen(int width, int height, int colors, int frames = 1) {
    return {.width = width,
            .height = height,
            .global_map = make_colors(colors, false),
            .frames = std::vector<GifFrame>(frames, pattern_frame(0, 0, width, height, colors))};
}

// The color the picture holds at screen pixel x, y (top line 0).
bool same_color(const Image& picture, int x, int y, const GifColorType& c) {
    const std::uint8_t* row = top_row(picture, static_cast<std::uint32_t>(y));
    if (picture.type == image_gray8)
        return row[x] == c.Red && row[x] == c.Green && row[x] == c.Blue;
    return row[x * 3 + 2] == c.Red && row[x * 3 + 1] == c.Green && row[x * 3] == c.Blue;
}

// Every screen pixel: the first frame's color where it lies, the background elsewhere.
::testing::AssertionResult screen_matches(const GifLayout& layout, const Image& picture) {
    if (picture.width != std::uint32_t(layout.width) ||
        picture.height != std::uint32_t(layout.height))
        return ::testing::AssertionFailure() << picture.width << "x" << picture.height;
    const GifFrame& f = layout.frames[0];
    const auto& map = f.local_map.empty() ? layout.global_map : f.local_map;
    for (int y = 0; y < layout.height; ++y) {
        for (int x = 0; x < layout.width; ++x) {
            const int fx = x - f.left, fy = y - f.top;
            const bool inside = fx >= 0 && fy >= 0 && fx < f.width && fy < f.height;
            const GifColorType want = inside ? map[f.indices[std::size_t(fy) * f.width + fx]]
                                             : layout.global_map[layout.background];
            if (!same_color(picture, x, y, want))
                return ::testing::AssertionFailure() << "pixel " << x << "," << y;
        }
    }
    return ::testing::AssertionSuccess();
}

Outcome read_gif(const std::string& path) {
    return read_recorded(path, read_gif_file);
}

TEST(GifRead, PaletteDecidesGrayOrColor) {
    TempDir dir;
    const std::string path = dir.file("t.gif");
    for (bool gray : {true, false}) {
        for (bool interlace : {false, true}) {
            for (bool local : {false, true}) {
                SCOPED_TRACE(std::string(gray ? "gray" : "color") +
                             (interlace ? " interlaced" : "") + (local ? " local map" : ""));
                // More lines than one interlace step, not a multiple of 8.
                GifLayout layout = screen(23, 19, 16);
                layout.frames[0].interlace = interlace;
                // With a local map the screen's map is the other kind and must not matter.
                layout.global_map = make_colors(16, local ? !gray : gray);
                if (local) layout.frames[0].local_map = make_colors(16, gray);
                ASSERT_TRUE(write_gif(path, layout));
                const Outcome r = read_gif(path);
                ASSERT_FALSE(r.failed);
                EXPECT_TRUE(r.errors.empty());
                EXPECT_EQ(r.picture.type, gray ? image_gray8 : image_color24);
                EXPECT_EQ(r.picture.dpi, 0.0);
                EXPECT_TRUE(screen_matches(layout, r.picture));
            }
        }
    }
}

TEST(GifRead, FrameIsPlacedOnTheScreenBackground) {
    TempDir dir;
    const std::string path = dir.file("t.gif");
    for (bool gray_background : {true, false}) {
        SCOPED_TRACE(gray_background ? "gray background" : "colored background");
        GifLayout layout = screen(12, 9, 8);
        layout.global_map = make_colors(8, true);
        layout.background = 5;
        if (!gray_background) layout.global_map[5] = {200, 10, 30};
        layout.frames = {pattern_frame(3, 2, 4, 5, 8)};
        layout.frames[0].local_map = make_colors(8, true);
        ASSERT_TRUE(write_gif(path, layout));
        const Outcome r = read_gif(path);
        ASSERT_FALSE(r.failed);
        // A colored background shows around a gray frame, so the picture must be in color.
        EXPECT_EQ(r.picture.type, gray_background ? image_gray8 : image_color24);
        EXPECT_TRUE(screen_matches(layout, r.picture));
    }
}

std::vector<std::uint32_t> tag_numbers(const Image& picture) {
    std::vector<std::uint32_t> numbers;
    for (const MetadataTag* t = picture.tags; t; t = t->next) numbers.push_back(t->tag);
    return numbers;
}

// The property items of an animation: frame delays, the first comment, the loop count, the
// global palette, the background index and the first frame's transparent index, in that order.
// The picture is the first frame, its transparent index keeping its palette color.
TEST(GifRead, AnimationPropertiesBecomeMetadataTags) {
    TempDir dir;
    const std::string path = dir.file("anim.gif");
    GifLayout layout = screen(6, 4, 4, 3);
    layout.background = 1;
    layout.loop = 5;
    layout.comment = "Hello World!";
    layout.late_comment = "not the first";
    layout.frames[0].transparent = 3;
    layout.frames[0].delay = 10;
    layout.frames[1] = pattern_frame(1, 1, 3, 2, 4);
    layout.frames[1].delay = 20;
    for (auto& i : layout.frames[2].indices) i = 2;  // no control extension: delay 0
    ASSERT_TRUE(write_gif(path, layout));
    const Outcome r = read_gif(path);
    ASSERT_FALSE(r.failed);
    EXPECT_TRUE(r.errors.empty());
    EXPECT_TRUE(screen_matches(layout, r.picture));
    EXPECT_EQ(tag_numbers(r.picture),
              (std::vector<std::uint32_t>{0x5100, 0x9286, 0x5101, 0x5102, 0x5103, 0x5104}));
    auto expect_tag = [&](std::uint32_t number, std::int32_t type, std::uint32_t count,
                          const Bytes& data) {
        const MetadataTag* t = find_tag(r.picture, number);
        ASSERT_NE(t, nullptr) << number;
        EXPECT_EQ(t->field_type, type) << number;
        ASSERT_EQ(t->count, count) << number;
        EXPECT_EQ(Bytes(t->data, t->data + data.size()), data) << number;
    };
    expect_tag(0x5100, 4, 3, {10, 0, 0, 0, 20, 0, 0, 0, 0, 0, 0, 0});
    expect_tag(0x9286, 2, 13, {'H', 'e', 'l', 'l', 'o', ' ', 'W', 'o', 'r', 'l', 'd', '!', 0});
    expect_tag(0x5101, 3, 1, {5, 0});
    Bytes palette;
    for (const GifColorType& c : layout.global_map)
        palette.insert(palette.end(), {c.Red, c.Green, c.Blue});
    expect_tag(0x5102, 1, 12, palette);
    expect_tag(0x5103, 1, 1, {1});
    expect_tag(0x5104, 1, 1, {3});

    // Without a loop extension an animation still states a loop count, of 1.
    layout.loop = -1;
    ASSERT_TRUE(write_gif(path, layout));
    const Outcome again = read_gif(path);
    ASSERT_NE(find_tag(again.picture, 0x5101), nullptr);
    EXPECT_EQ(sample16(find_tag(again.picture, 0x5101)->data, 0), 1);
}

// A still picture has no frame delays and no loop count; a frame without a transparent color
// has no transparent index; a file without a global palette has no palette item.
TEST(GifRead, StillPictureProperties) {
    TempDir dir;
    const std::string path = dir.file("still.gif");
    GifLayout layout = screen(5, 3, 4);
    layout.loop = 0;
    ASSERT_TRUE(write_gif(path, layout));
    EXPECT_EQ(tag_numbers(read_gif(path).picture), (std::vector<std::uint32_t>{0x5102, 0x5103}));

    layout.global_map.clear();
    layout.frames[0].local_map = make_colors(4, false);
    layout.frames[0].transparent = 0;
    ASSERT_TRUE(write_gif(path, layout));
    EXPECT_EQ(tag_numbers(read_gif(path).picture), (std::vector<std::uint32_t>{0x5103, 0x5104}));
}

TEST(GifRead, DamagedAndHugeFiles) {
    TempDir dir;
    const std::string good = dir.file("good.gif"), bad = dir.file("bad.gif");
    // Damage after the first frame costs the count of the frames that follow, not the picture.
    GifLayout two = screen(40, 30, 16, 2);
    two.frames[0].delay = 7;
    two.frames[1].delay = 9;
    ASSERT_TRUE(write_gif(good, two));
    Bytes bytes = file_bytes(good);
    put_bytes(bad, Bytes(bytes.begin(), bytes.end() - 30));  // into the second frame's data
    Outcome r = read_gif(bad);
    ASSERT_FALSE(r.failed);
    EXPECT_TRUE(screen_matches(two, r.picture));
    EXPECT_EQ(find_tag(r.picture, 0x5100), nullptr);  // one whole frame: not an animation
    EXPECT_TRUE(r.errors.empty());

    const GifLayout layout = screen(40, 30, 64);
    ASSERT_TRUE(write_gif(good, layout));
    bytes = file_bytes(good);
    for (std::size_t cut : {std::size_t{3}, std::size_t{10}, bytes.size() / 2}) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        put_bytes(bad, Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut)));
        EXPECT_TRUE(failed_with(read_gif(bad), "Error reading GIF file"));
    }
    // A screen and no image at all, another format, no file.
    GifLayout empty = layout;
    empty.frames.clear();
    ASSERT_TRUE(write_gif(bad, empty));
    EXPECT_TRUE(failed_with(read_gif(bad), "Error reading GIF file"));
    put_bytes(bad, {0x89, 'P', 'N', 'G'});
    EXPECT_TRUE(failed_with(read_gif(bad), "Error reading GIF file"));
    EXPECT_TRUE(failed_with(read_gif(dir.file("missing.gif")), "Error reading GIF file"));

    // A huge screen is refused before anything is allocated.
    GifLayout huge = screen(2, 2, 4);
    huge.width = huge.height = 65535;
    ASSERT_TRUE(write_gif(bad, huge));
    AllocationFailureScope restore;
    image_fail_allocations_after(0);
    MemoryLimit limit(std::uint64_t{1} << 30);
    EXPECT_TRUE(failed_with(read_gif(bad), "Image is too large: 65535 x 65535"));
}

// --- the GIF suite and broken files of gdk-pixbuf-tests ---

constexpr const char* gif_tests = "/usr/libexec/installed-tests/gdk-pixbuf/test-images";

// Keys of all sections of a suite's .conf, prefixed with the section name: "config.width".
std::map<std::string, std::string> read_conf(const std::string& path) {
    std::map<std::string, std::string> out;
    std::ifstream in(path);
    std::string line, section;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        if (line[0] == '[') {
            section = line.substr(1, line.find(']') - 1);
            continue;
        }
        const auto eq = line.find(" = ");
        if (eq != std::string::npos) out[section + "." + line.substr(0, eq)] = line.substr(eq + 3);
    }
    return out;
}

TEST(GifRead, GdkPixbufSuite) {
    const std::string suite = std::string(gif_tests) + "/gif-test-suite";
    if (!std::filesystem::is_directory(suite))
        GTEST_SKIP() << "GIF suite not installed (package gdk-pixbuf-tests)";
    std::ifstream list(suite + "/TESTS");
    std::string name;
    int compared = 0;
    while (std::getline(list, name)) {
        if (name.empty() || name[0] == '#') continue;
        SCOPED_TRACE(name);
        auto conf = read_conf(suite + "/" + name + ".conf");
        const Outcome r = read_gif(suite + "/" + conf["config.input"]);
        // giflib refuses a code table that fills up and goes on without a clear code (a
        // "deferred clear"); that file must at least fail cleanly.
        if (conf["frame0.pixels"].empty() || name == "max-codes") {
            // Files the suite expects no image from: a clean failure or a picture, no crash.
            if (r.failed) {
                EXPECT_TRUE(failed_with(r, "Error reading GIF file"));
            }
            continue;
        }
        ASSERT_FALSE(r.failed);
        const int width = std::stoi(conf["config.width"]);
        const int height = std::stoi(conf["config.height"]);
        ASSERT_EQ(r.picture.width, static_cast<std::uint32_t>(width));
        ASSERT_EQ(r.picture.height, static_cast<std::uint32_t>(height));
        const Bytes rgba = file_bytes(suite + "/" + conf["frame0.pixels"]);
        ASSERT_EQ(rgba.size(), std::size_t(width) * height * 4);
        // Transparent pixels keep whatever color the file gives them; opaque ones must match.
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const std::uint8_t* p = rgba.data() + (std::size_t(y) * width + x) * 4;
                if (p[3] == 255) {
                    EXPECT_TRUE(same_color(r.picture, x, y, {p[0], p[1], p[2]})) << x << "," << y;
                }
            }
        }
        ++compared;
    }
    EXPECT_GT(compared, 40);
}

}  // namespace
}  // namespace tessaly
