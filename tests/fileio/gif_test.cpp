#include <gif_lib.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "fileio/image_file.h"
#include "support/image_helpers.h"
#include "support/recording_interaction.h"
#include "support/temp_dir.h"

namespace tessaly {
namespace {

using testing::AllocationFailureScope;
using testing::is_empty_record;
using testing::RecordingScope;
using testing::TempDir;

// --- writing test files with giflib ---

struct GifFrame {
    int left = 0, top = 0, width = 0, height = 0;
    bool interlace = false;
    std::vector<GifColorType> local_map;
    std::vector<std::uint8_t> indices;  // top line first
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
             EGifPutExtensionBlock(gif, 3, loop) == GIF_OK && EGifPutExtensionTrailer(gif) == GIF_OK;
    }
    if (ok && !layout.comment.empty()) {
        ok = EGifPutComment(gif, layout.comment.c_str()) == GIF_OK;
    }
    for (const GifFrame& f : layout.frames) {
        if (!ok) break;
        if (f.transparent >= 0 || f.delay > 0) {
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
        if (f.interlace) {
            for (auto [start, step] : {std::pair{0, 8}, {4, 8}, {2, 4}, {1, 2}}) {
                for (int y = start; y < f.height; y += step) order.push_back(y);
            }
        } else {
            for (int y = 0; y < f.height; ++y) order.push_back(y);
        }
        for (int y : order) {
            if (!ok) break;
            auto* line = const_cast<GifPixelType*>(f.indices.data() + std::size_t(y) * f.width);
            ok = EGifPutLine(gif, line, f.width) == GIF_OK;
        }
    }
    if (ok && !layout.late_comment.empty()) {
        ok = EGifPutComment(gif, layout.late_comment.c_str()) == GIF_OK;
    }
    return EGifCloseFile(gif, &error) == GIF_OK && ok;
}

std::vector<GifColorType> gray_map(int n) {
    std::vector<GifColorType> map;
    for (int i = 0; i < n; ++i) {
        const auto v = static_cast<GifByteType>(255 - i * 255 / (n - 1));
        map.push_back({v, v, v});
    }
    return map;
}

std::vector<GifColorType> color_map(int n) {
    std::vector<GifColorType> map;
    for (int i = 0; i < n; ++i) {
        map.push_back({static_cast<GifByteType>(i * 37), static_cast<GifByteType>(255 - i * 5),
                       static_cast<GifByteType>(i * 11 + 3)});
    }
    return map;
}

GifFrame pattern_frame(int left, int top, int width, int height, int colors) {
    GifFrame f;
    f.left = left;
    f.top = top;
    f.width = width;
    f.height = height;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            f.indices.push_back(static_cast<std::uint8_t>((x * 7 + y * 3 + x * y) % colors));
        }
    }
    return f;
}

// The color the picture holds at screen pixel x, y (top line 0) as red, green, blue.
GifColorType color_at(const Image& picture, int x, int y) {
    const std::uint8_t* row = picture.rows[picture.height - 1 - static_cast<std::uint32_t>(y)];
    if (picture.type == image_gray8) return {row[x], row[x], row[x]};
    return {row[x * 3 + 2], row[x * 3 + 1], row[x * 3]};
}

bool same(const GifColorType& a, const GifColorType& b) {
    return a.Red == b.Red && a.Green == b.Green && a.Blue == b.Blue;
}

// Every screen pixel: the frame's color where the frame lies, the background elsewhere.
::testing::AssertionResult screen_matches(const GifLayout& layout, const Image& picture) {
    const GifFrame& f = layout.frames[0];
    const auto& map = f.local_map.empty() ? layout.global_map : f.local_map;
    for (int y = 0; y < layout.height; ++y) {
        for (int x = 0; x < layout.width; ++x) {
            const int fx = x - f.left, fy = y - f.top;
            const bool inside = fx >= 0 && fy >= 0 && fx < f.width && fy < f.height;
            const GifColorType want = inside ? map[f.indices[std::size_t(fy) * f.width + fx]]
                                             : layout.global_map[layout.background];
            if (!same(color_at(picture, x, y), want)) {
                return ::testing::AssertionFailure() << "pixel " << x << "," << y;
            }
        }
    }
    return ::testing::AssertionSuccess();
}

TEST(GifRead, PaletteDecidesGrayOrColor) {
    TempDir dir;
    const std::string path = dir.file("t.gif");
    for (bool gray : {true, false}) {
        for (bool interlace : {false, true}) {
            for (bool local : {false, true}) {
                SCOPED_TRACE(std::string(gray ? "gray" : "color") +
                             (interlace ? " interlaced" : "") + (local ? " local map" : ""));
                GifLayout layout;
                layout.width = 23;
                layout.height = 19;  // more lines than one interlace step, not a multiple of 8
                GifFrame f = pattern_frame(0, 0, 23, 19, 16);
                f.interlace = interlace;
                const auto map = gray ? gray_map(16) : color_map(16);
                // With a local map the screen's map is the other kind and must not matter.
                layout.global_map = local ? (gray ? color_map(16) : gray_map(16)) : map;
                if (local) f.local_map = map;
                layout.frames = {f};
                ASSERT_TRUE(write_gif(path, layout));
                RecordingScope rec;
                Image picture;
                ASSERT_FALSE(read_gif_file(path, picture));
                EXPECT_TRUE(rec.recorder.errors().empty());
                EXPECT_EQ(picture.type, gray ? image_gray8 : image_color24);
                EXPECT_EQ(picture.width, 23u);
                EXPECT_EQ(picture.height, 19u);
                EXPECT_EQ(picture.dpi, 0.0);
                EXPECT_TRUE(screen_matches(layout, picture));
            }
        }
    }
}

TEST(GifRead, FrameIsPlacedOnTheScreenBackground) {
    TempDir dir;
    const std::string path = dir.file("t.gif");
    for (bool gray_background : {true, false}) {
        SCOPED_TRACE(gray_background ? "gray background" : "colored background");
        GifLayout layout;
        layout.width = 12;
        layout.height = 9;
        layout.global_map = gray_map(8);
        layout.background = 5;
        if (!gray_background) layout.global_map[5] = {200, 10, 30};
        GifFrame f = pattern_frame(3, 2, 4, 5, 8);
        f.local_map = gray_map(8);
        layout.frames = {f};
        ASSERT_TRUE(write_gif(path, layout));
        Image picture;
        ASSERT_FALSE(read_gif_file(path, picture));
        // A colored background shows around a gray frame, so the picture must be in color.
        EXPECT_EQ(picture.type, gray_background ? image_gray8 : image_color24);
        EXPECT_TRUE(screen_matches(layout, picture));
    }
}

TEST(GifRead, FirstFrameOnlyAndTransparentColorKept) {
    TempDir dir;
    const std::string path = dir.file("t.gif");
    GifLayout layout;
    layout.width = 6;
    layout.height = 4;
    layout.global_map = color_map(4);
    GifFrame first = pattern_frame(0, 0, 6, 4, 4);
    first.transparent = 2;
    GifFrame second = pattern_frame(0, 0, 6, 4, 4);
    for (auto& i : second.indices) i = 3;
    layout.frames = {first, second};
    ASSERT_TRUE(write_gif(path, layout));
    Image picture;
    ASSERT_FALSE(read_gif_file(path, picture));
    EXPECT_TRUE(screen_matches(layout, picture));
    // The transparent index keeps its palette color: GIF pictures carry no transparency.
    bool seen = false;
    for (std::size_t i = 0; i < first.indices.size(); ++i) seen = seen || first.indices[i] == 2;
    EXPECT_TRUE(seen);
}

const MetadataTag* tag_of(const Image& picture, std::uint32_t number) {
    for (const MetadataTag* t = picture.tags; t; t = t->next) {
        if (t->tag == number) return t;
    }
    return nullptr;
}

std::vector<std::uint32_t> tag_numbers(const Image& picture) {
    std::vector<std::uint32_t> numbers;
    for (const MetadataTag* t = picture.tags; t; t = t->next) numbers.push_back(t->tag);
    return numbers;
}

// The property items of an animation: frame delays, the first comment, the loop count, the
// global palette, the background index and the first frame's transparent index, in that order.
TEST(GifRead, AnimationPropertiesBecomeMetadataTags) {
    TempDir dir;
    const std::string path = dir.file("anim.gif");
    GifLayout layout;
    layout.width = 6;
    layout.height = 4;
    layout.background = 1;
    layout.global_map = color_map(4);
    layout.loop = 5;
    layout.comment = "Hello World!";
    layout.late_comment = "not the first";
    GifFrame first = pattern_frame(0, 0, 6, 4, 4);
    first.transparent = 3;
    first.delay = 10;
    GifFrame second = pattern_frame(1, 1, 3, 2, 4);
    second.delay = 20;
    GifFrame third = pattern_frame(0, 0, 6, 4, 4);  // no control extension: delay 0
    layout.frames = {first, second, third};
    ASSERT_TRUE(write_gif(path, layout));
    RecordingScope rec;
    Image picture;
    ASSERT_FALSE(read_gif_file(path, picture));
    EXPECT_TRUE(screen_matches(layout, picture));
    EXPECT_EQ(tag_numbers(picture),
              (std::vector<std::uint32_t>{0x5100, 0x9286, 0x5101, 0x5102, 0x5103, 0x5104}));

    const MetadataTag* delay = tag_of(picture, 0x5100);
    ASSERT_NE(delay, nullptr);
    EXPECT_EQ(delay->field_type, 4);
    ASSERT_EQ(delay->count, 3u);
    const std::uint8_t want_delay[12] = {10, 0, 0, 0, 20, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(0, std::memcmp(delay->data, want_delay, sizeof want_delay));
    const MetadataTag* comment = tag_of(picture, 0x9286);
    ASSERT_NE(comment, nullptr);
    EXPECT_EQ(comment->field_type, 2);
    EXPECT_EQ(comment->count, 13u);
    EXPECT_STREQ(reinterpret_cast<const char*>(comment->data), "Hello World!");
    const MetadataTag* loop = tag_of(picture, 0x5101);
    ASSERT_NE(loop, nullptr);
    EXPECT_EQ(loop->field_type, 3);
    EXPECT_EQ(loop->count, 1u);
    EXPECT_EQ(sample16(loop->data, 0), 5);
    const MetadataTag* palette = tag_of(picture, 0x5102);
    ASSERT_NE(palette, nullptr);
    EXPECT_EQ(palette->field_type, 1);
    ASSERT_EQ(palette->count, 12u);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(palette->data[3 * i], layout.global_map[i].Red);
        EXPECT_EQ(palette->data[3 * i + 1], layout.global_map[i].Green);
        EXPECT_EQ(palette->data[3 * i + 2], layout.global_map[i].Blue);
    }
    const MetadataTag* background = tag_of(picture, 0x5103);
    ASSERT_NE(background, nullptr);
    EXPECT_EQ(background->count, 1u);
    EXPECT_EQ(background->data[0], 1);
    const MetadataTag* transparent = tag_of(picture, 0x5104);
    ASSERT_NE(transparent, nullptr);
    EXPECT_EQ(transparent->field_type, 1);
    EXPECT_EQ(transparent->data[0], 3);
    EXPECT_TRUE(rec.recorder.errors().empty());

    // Without a loop extension an animation still states a loop count, of 1.
    layout.loop = -1;
    ASSERT_TRUE(write_gif(path, layout));
    Image again;
    ASSERT_FALSE(read_gif_file(path, again));
    ASSERT_NE(tag_of(again, 0x5101), nullptr);
    EXPECT_EQ(sample16(tag_of(again, 0x5101)->data, 0), 1);
}

// A still picture has no frame delays and no loop count; a frame without a transparent color
// has no transparent index; a file without a global palette has no palette item.
TEST(GifRead, StillPictureProperties) {
    TempDir dir;
    const std::string path = dir.file("still.gif");
    GifLayout layout;
    layout.width = 5;
    layout.height = 3;
    layout.global_map = gray_map(4);
    layout.loop = 0;
    layout.frames = {pattern_frame(0, 0, 5, 3, 4)};
    ASSERT_TRUE(write_gif(path, layout));
    Image picture;
    ASSERT_FALSE(read_gif_file(path, picture));
    EXPECT_EQ(tag_numbers(picture), (std::vector<std::uint32_t>{0x5102, 0x5103}));

    GifLayout local = layout;
    local.global_map.clear();
    local.frames[0].local_map = color_map(4);
    local.frames[0].transparent = 0;
    ASSERT_TRUE(write_gif(path, local));
    Image second;
    ASSERT_FALSE(read_gif_file(path, second));
    EXPECT_EQ(tag_numbers(second), (std::vector<std::uint32_t>{0x5103, 0x5104}));
}

// Damage after the first frame costs the count of the frames that follow, not the picture.
TEST(GifRead, DamageAfterTheFirstFrameKeepsThePicture) {
    TempDir dir;
    const std::string path = dir.file("cut.gif");
    GifLayout layout;
    layout.width = 40;
    layout.height = 30;
    layout.global_map = color_map(16);
    GifFrame first = pattern_frame(0, 0, 40, 30, 16);
    first.delay = 7;
    GifFrame second = first;
    second.delay = 9;
    layout.frames = {first, second};
    ASSERT_TRUE(write_gif(path, layout));
    std::ifstream in(path, std::ios::binary);
    std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                    std::istreambuf_iterator<char>()};
    in.close();
    bytes.resize(bytes.size() - 30);  // into the second frame's data
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    RecordingScope rec;
    Image picture;
    ASSERT_FALSE(read_gif_file(path, picture));
    EXPECT_TRUE(screen_matches(layout, picture));
    EXPECT_EQ(tag_of(picture, 0x5100), nullptr);  // one whole frame: not an animation
    EXPECT_TRUE(rec.recorder.errors().empty());
}

std::vector<std::uint8_t> file_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void put_bytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

void expect_failure(const std::string& path, const std::string& message) {
    RecordingScope rec;
    Image picture;
    EXPECT_TRUE(read_gif_file(path, picture));
    EXPECT_TRUE(is_empty_record(picture));
    EXPECT_EQ(rec.recorder.errors(), std::vector<std::string>{message});
}

TEST(GifRead, DamagedFilesFailWithMessage) {
    TempDir dir;
    const std::string good = dir.file("good.gif");
    GifLayout layout;
    layout.width = 40;
    layout.height = 30;
    layout.global_map = color_map(64);
    layout.frames = {pattern_frame(0, 0, 40, 30, 64)};
    ASSERT_TRUE(write_gif(good, layout));
    const std::vector<std::uint8_t> bytes = file_bytes(good);

    const std::string bad = dir.file("bad.gif");
    for (std::size_t cut : {std::size_t{3}, std::size_t{10}, bytes.size() / 2}) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        put_bytes(bad, std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + cut));
        expect_failure(bad, "Error reading GIF file");
    }
    // A screen and no image at all.
    GifLayout empty = layout;
    empty.frames.clear();
    ASSERT_TRUE(write_gif(bad, empty));
    expect_failure(bad, "Error reading GIF file");

    put_bytes(bad, {0x89, 'P', 'N', 'G'});
    expect_failure(bad, "Error reading GIF file");
    expect_failure(dir.file("missing.gif"), "Error reading GIF file");
}

TEST(GifRead, HugeScreenFailsBeforeAllocating) {
    TempDir dir;
    const std::string path = dir.file("huge.gif");
    GifLayout layout;
    layout.width = 65535;
    layout.height = 65535;
    layout.global_map = color_map(4);
    layout.frames = {pattern_frame(0, 0, 2, 2, 4)};
    ASSERT_TRUE(write_gif(path, layout));
    AllocationFailureScope restore;
    image_fail_allocations_after(0);
    const std::uint64_t limit = image_memory_limit();
    image_set_memory_limit(std::uint64_t{1} << 30);
    expect_failure(path, "Image is too large: 65535 x 65535");
    image_set_memory_limit(limit);
}

// --- the GIF suite and broken files of gdk-pixbuf-tests ---

constexpr const char* gif_tests = "/usr/libexec/installed-tests/gdk-pixbuf/test-images";

std::map<std::string, std::string> read_conf(const std::string& path) {
    // Keys of all sections, prefixed with the section name: "config.width", "frame0.pixels".
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
    if (!std::filesystem::is_directory(suite)) {
        GTEST_SKIP() << "GIF suite not installed (package gdk-pixbuf-tests)";
    }
    std::ifstream list(suite + "/TESTS");
    std::string name;
    int compared = 0;
    while (std::getline(list, name)) {
        if (name.empty() || name[0] == '#') continue;
        SCOPED_TRACE(name);
        auto conf = read_conf(suite + "/" + name + ".conf");
        RecordingScope rec;
        Image picture;
        const bool failed = read_gif_file(suite + "/" + conf["config.input"], picture);
        // giflib refuses a code table that fills up and goes on without a clear code (a
        // "deferred clear"); that file must at least fail cleanly.
        if (conf["frame0.pixels"].empty() || name == "max-codes") {
            // Files the suite expects no image from: a clean failure or a picture, no crash.
            if (failed) {
                EXPECT_EQ(rec.recorder.errors(),
                          std::vector<std::string>{"Error reading GIF file"});
            }
            continue;
        }
        ASSERT_FALSE(failed);
        const int width = std::stoi(conf["config.width"]);
        const int height = std::stoi(conf["config.height"]);
        ASSERT_EQ(picture.width, static_cast<std::uint32_t>(width));
        ASSERT_EQ(picture.height, static_cast<std::uint32_t>(height));
        const std::vector<std::uint8_t> rgba = file_bytes(suite + "/" + conf["frame0.pixels"]);
        ASSERT_EQ(rgba.size(), std::size_t(width) * height * 4);
        // Transparent pixels keep whatever color the file gives them; opaque ones must match.
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const std::uint8_t* p = rgba.data() + (std::size_t(y) * width + x) * 4;
                if (p[3] != 255) continue;
                const GifColorType got = color_at(picture, x, y);
                EXPECT_TRUE(same(got, GifColorType{p[0], p[1], p[2]})) << "pixel " << x << "," << y;
            }
        }
        ++compared;
    }
    EXPECT_GT(compared, 40);
}

TEST(GifRead, BrokenFilesFailCleanly) {
    const std::string fail = std::string(gif_tests) + "/fail";
    if (!std::filesystem::is_directory(fail)) {
        GTEST_SKIP() << "broken GIF files not installed (package gdk-pixbuf-tests)";
    }
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(fail)) {
        if (entry.path().extension() != ".gif") continue;
        SCOPED_TRACE(entry.path().filename().string());
        RecordingScope rec;
        Image picture;
        if (read_gif_file(entry.path().string(), picture)) {
            EXPECT_TRUE(is_empty_record(picture));
            EXPECT_EQ(rec.recorder.errors().size(), 1u);
        } else {
            EXPECT_GT(picture.width, 0u);
        }
        ++count;
    }
    EXPECT_GT(count, 5);
}

}  // namespace
}  // namespace tessaly
