#include <gif_lib.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <span>
#include <string>
#include <tuple>
#include <vector>

#include "fileio/image_file.h"
#include "fileio/image_write.h"
#include "support/fileio_builders.h"
#include "support/small_exif.h"
#include "support/temp_dir.h"
#include "test_files.h"

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
    auto comment = [&](const std::string& text) {
        ok = ok && (text.empty() || EGifPutComment(gif, text.c_str()) == GIF_OK);
    };
    comment(layout.comment);
    for (const GifFrame& f : layout.frames) {
        if (ok && (f.transparent >= 0 || f.delay > 0)) {
            const GraphicsControlBlock gcb{0, false, f.delay, f.transparent};
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
        const int passes[4][2] = {{0, 8}, {4, 8}, {2, 4}, {1, 2}}, plain[1][2] = {{0, 1}};
        for (const auto& [start, step] : f.interlace ? std::span<const int[2]>(passes) : plain) {
            for (int y = start; y < f.height; y += step) {
                auto* line = const_cast<GifPixelType*>(&f.indices[std::size_t(y) * f.width]);
                ok = ok && EGifPutLine(gif, line, f.width) == GIF_OK;
            }
        }
    }
    comment(layout.late_comment);
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

// Every screen pixel: the first frame's color where it lies, the background elsewhere.
::testing::AssertionResult screen_matches(const GifLayout& layout, const Image& picture) {
    if (picture.width != std::uint32_t(layout.width) ||
        picture.height != std::uint32_t(layout.height))
        return ::testing::AssertionFailure() << picture.width << "x" << picture.height;
    const GifFrame& f = layout.frames[0];
    const auto& map = f.local_map.empty() ? layout.global_map : f.local_map;
    for (std::uint32_t y = 0; y < picture.height; ++y) {
        for (std::uint32_t x = 0; x < picture.width; ++x) {
            const int fx = int(x) - f.left, fy = int(y) - f.top;
            const bool inside = fx >= 0 && fy >= 0 && fx < f.width && fy < f.height;
            const GifColorType want = inside ? map[f.indices[std::size_t(fy) * f.width + fx]]
                                             : layout.global_map[layout.background];
            if (pixel_at(picture, x, y) != Samples{want.Red, want.Green, want.Blue})
                return ::testing::AssertionFailure() << "pixel " << x << "," << y;
        }
    }
    return ::testing::AssertionSuccess();
}

Outcome read_gif(const std::string& path) {
    return read_recorded(path, read_gif_file);
}

// Gray or color maps, interlaced or not, the screen's map or a local one (the screen's map then
// being the other kind); then a gray frame placed on a gray or colored background, which makes
// the picture colored.
TEST(GifRead, PaletteDecidesGrayOrColorAndTheFrameLiesOnTheBackground) {
    TempDir dir;
    const std::string path = dir.file("t.gif");
    std::vector<std::pair<GifLayout, bool>> cases;
    for (int k = 0; k < 8; ++k) {
        const bool gray = k & 1, interlace = k & 2, local = k & 4;
        GifLayout layout = screen(23, 19, 16);  // more lines than one interlace step
        layout.frames[0].interlace = interlace;
        layout.global_map = make_colors(16, local ? !gray : gray);
        if (local) layout.frames[0].local_map = make_colors(16, gray);
        cases.emplace_back(layout, gray);
    }
    for (bool gray_background : {true, false}) {
        GifLayout layout = screen(12, 9, 8);
        layout.global_map = make_colors(8, true);
        layout.background = 5;
        if (!gray_background) layout.global_map[5] = {200, 10, 30};
        layout.frames = {pattern_frame(3, 2, 4, 5, 8)};
        layout.frames[0].local_map = make_colors(8, true);
        cases.emplace_back(layout, gray_background);
    }
    for (const auto& [layout, gray] : cases) {
        SCOPED_TRACE(::testing::Message() << layout.width << (gray ? " gray" : " color")
                                          << (layout.frames[0].interlace ? " interlaced" : ""));
        ASSERT_TRUE(write_gif(path, layout));
        const Outcome r = read_gif(path);
        ASSERT_TRUE(read_cleanly(r));
        EXPECT_EQ(r.picture.type, gray ? image_gray8 : image_color24);
        EXPECT_EQ(r.picture.dpi, 0.0);
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
    ASSERT_TRUE(read_cleanly(r));
    EXPECT_TRUE(screen_matches(layout, r.picture));
    EXPECT_EQ(tag_numbers(r.picture),
              (std::vector<std::uint32_t>{0x5100, 0x9286, 0x5101, 0x5102, 0x5103, 0x5104}));
    Bytes palette;
    for (const GifColorType& c : layout.global_map)
        palette.insert(palette.end(), {c.Red, c.Green, c.Blue});
    const struct {
        std::uint32_t number;
        std::int32_t type;
        std::uint32_t count;
        Bytes data;
    } want[] = {{0x5100, 4, 3, {10, 0, 0, 0, 20, 0, 0, 0, 0, 0, 0, 0}},
                {0x9286, 2, 13, {'H', 'e', 'l', 'l', 'o', ' ', 'W', 'o', 'r', 'l', 'd', '!', 0}},
                {0x5101, 3, 1, {5, 0}},
                {0x5102, 1, 12, palette},
                {0x5103, 1, 1, {1}},
                {0x5104, 1, 1, {3}}};
    for (const auto& w : want) {
        const MetadataTag* t = find_tag(r.picture, w.number);
        ASSERT_NE(t, nullptr) << w.number;
        EXPECT_TRUE(t->field_type == w.type && t->count == w.count) << w.number;
        EXPECT_EQ(Bytes(t->data, t->data + w.data.size()), w.data) << w.number;
    }

    // Without a loop extension an animation still states a loop count, of 1.
    layout.loop = -1;
    ASSERT_TRUE(write_gif(path, layout));
    const Outcome again = read_gif(path);
    EXPECT_EQ(tag_short(again.picture, 0x5101), 1);

    // A still picture has no frame delays and no loop count; a frame without a transparent
    // color has no transparent index; a file without a global palette has no palette item.
    layout = screen(5, 3, 4);
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
    ASSERT_TRUE(read_cleanly(r));
    EXPECT_TRUE(screen_matches(two, r.picture));
    EXPECT_EQ(find_tag(r.picture, 0x5100), nullptr);  // one whole frame: not an animation

    // Cut short, a screen and no image at all, another format.
    GifLayout empty = screen(40, 30, 64);
    ASSERT_TRUE(write_gif(good, empty));
    bytes = file_bytes(good);
    empty.frames.clear();
    ASSERT_TRUE(write_gif(dir.file("empty.gif"), empty));
    expect_damage_fails(bad, bytes, {3, 10, bytes.size() / 2}, 0, read_gif,
                        "Error reading GIF file");
    for (const Bytes& b : {file_bytes(dir.file("empty.gif")), Bytes{0x89, 'P', 'N', 'G'}}) {
        put_bytes(bad, b);
        EXPECT_TRUE(failed_with(read_gif(bad), "Error reading GIF file")) << b.size();
    }
    EXPECT_TRUE(failed_with(read_gif(dir.file("missing.gif")), "Error reading GIF file"));
}

// A first frame hanging past the screen, or lying wholly beside it, shows only what lies on the
// screen, and the frames after it are still found (the part off the screen is skipped, not
// decoded). A screen of 65535 x 65535 around a 1 x 1 frame holds four gigapixels of nothing but
// background: refused with the machine's own memory limit, and the child that reads it stays
// small; a screen within the background allowance still opens.
TEST(GifRead, ScreensAndFramesBeyondTheDataCostOnlyWhatTheFileHolds) {
    TempDir dir;
    const std::string path = dir.file("t.gif");
    for (const auto& [left, top, interlace] :
         {std::tuple{25, 12, false}, {25, 12, true}, {3, 40, false}, {40, 0, true}}) {
        SCOPED_TRACE(::testing::Message() << left << "," << top << " " << interlace);
        GifLayout layout = screen(30, 20, 16, 2);
        layout.frames[0] = pattern_frame(left, top, 300, 200, 16);
        layout.frames[0].interlace = interlace;
        layout.frames[0].delay = 4;
        layout.frames[1].delay = 6;
        ASSERT_TRUE(write_gif(path, layout));
        const Outcome r = read_gif(path);
        ASSERT_TRUE(read_cleanly(r));
        EXPECT_TRUE(screen_matches(layout, r.picture));
        const MetadataTag* delays = find_tag(r.picture, 0x5100);
        ASSERT_NE(delays, nullptr);
        EXPECT_EQ(delays->count, 2u);
    }

    GifLayout claim = screen(1, 1, 4);
    claim.width = claim.height = 65535;
    ASSERT_TRUE(write_gif(path, claim));
    EXPECT_LT(peak_growth_mib([&] { (void)read_gif(path); }), 50);
    EXPECT_TRUE(failed_with(read_gif(path), "Image is too large: 65535 x 65535"));

    claim.width = claim.height = 4000;
    ASSERT_TRUE(write_gif(path, claim));
    const Outcome r = read_gif(path);
    ASSERT_TRUE(read_cleanly(r));
    EXPECT_TRUE(screen_matches(claim, r.picture));
}

// Binary pictures, 256 gray levels and 100 colours fit the palette exactly (a black and white
// palette reads back as binary or as gray levels 0 and 255); 4096 colours are quantized to 256
// within a few levels on average; deep pictures only when the Save command may reduce them.
TEST(GifWriter, ExactPalettesQuantizedColoursAndDeepImages) {
    RecordingScope scope;
    TempDir dir;
    const std::string path = dir.file("g.gif");
    Image binary, gray, few, many, back;
    ASSERT_FALSE(image_alloc(binary, image_binary, 13, 4, 72.0));
    bit_set(binary.rows[0], 12);
    bit_set(binary.rows[3], 0);
    ASSERT_FALSE(write_gif_file(path, binary, false));
    ASSERT_FALSE(read_gif_file(path, back));
    ASSERT_EQ(back.width, 13u);
    for (auto [x, y, level] : {std::tuple{12u, 0u, 255}, {0u, 3u, 255}, {5u, 2u, 0}}) {
        EXPECT_EQ(back.type == image_binary ? bit_get(back.rows[y], x) : back.rows[y][x], level);
    }
    ASSERT_FALSE(image_alloc(gray, image_gray8, 16, 16, 72.0));
    ASSERT_FALSE(image_alloc(few, image_color24, 10, 10, 72.0));
    ASSERT_FALSE(image_alloc(many, image_color24, 64, 64, 72.0));
    for (std::uint32_t i = 0; i < 256; ++i) gray.rows[i / 16][i % 16] = std::uint8_t(i);
    for (Image* im : {&few, &many}) {
        for (std::uint32_t y = 0, step = im == &few ? 25 : 4; y < im->height; ++y) {
            for (std::uint32_t x = 0; x < im->width; ++x) {
                const std::uint32_t bgr[3] = {x * step, y * step, im == &few ? 200 : (x + y) * 2};
                for (int c = 0; c < 3; ++c) im->rows[y][3 * x + c] = std::uint8_t(bgr[c]);
            }
        }
    }
    for (const Image* im : {&gray, &few}) {
        ASSERT_FALSE(write_gif_file(path, *im, false));
        ASSERT_FALSE(read_gif_file(path, back));
        EXPECT_TRUE(same_pixels(*im, back));
    }
    ASSERT_FALSE(write_gif_file(path, many, false));
    ASSERT_FALSE(read_gif_file(path, back));
    double total = 0;
    for (std::uint32_t y = 0; y < 64; ++y) {
        for (std::uint32_t i = 0; i < 192; ++i)
            total += std::abs(back.rows[y][i] - many.rows[y][i]);
    }
    EXPECT_LT(total / (64.0 * 192.0), 6.0);

    Image deep, floats;
    ASSERT_FALSE(image_alloc(deep, image_gray16, 4, 4, 72.0));
    EXPECT_TRUE(write_gif_file(path, deep, false));
    ASSERT_FALSE(image_alloc(deep, image_color48, 4, 4, 72.0));
    EXPECT_TRUE(write_gif_file(path, deep, false));
    EXPECT_FALSE(write_gif_file(path, deep, true));
    ASSERT_FALSE(read_gif_file(path, back));
    EXPECT_EQ(back.width, 4u);
    ASSERT_FALSE(image_alloc(floats, image_float_gray, 2, 2, 72.0));
    EXPECT_TRUE(write_gif_file(path, floats, true));
    EXPECT_EQ(scope.recorder.errors(),
              (std::vector<std::string>{"Cannot save 16-bit black and white images as a GIF file",
                                        "Cannot save 48-bit color images as a GIF file",
                                        "Cannot save images of this type as a GIF file"}));
}

}  // namespace
}  // namespace tessaly
