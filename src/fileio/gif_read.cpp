// The GIF reader, through giflib: the first frame, placed on the logical screen. Records are read
// one by one rather than slurped so that only the first frame is decoded and its declared size
// is checked before anything is allocated for it.
#include <gif_lib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "core/format.h"
#include "fileio/image_file.h"

namespace tessaly {

namespace {

constexpr const char* gif_error_text = "Error reading GIF file";

struct GifCloser {
    void operator()(GifFileType* gif) const {
        int error = 0;
        DGifCloseFile(gif, &error);
    }
};
using GifHandle = std::unique_ptr<GifFileType, GifCloser>;

struct Rgb {
    std::uint8_t r = 0, g = 0, b = 0;
};

// Every index maps to a color: entries the map lacks are black. A file without any color map
// gets black and white for the first two indices, as most readers do.
std::array<Rgb, 256> expand_map(const ColorMapObject* map, int& used) {
    std::array<Rgb, 256> colors{};
    if (!map || !map->Colors || map->ColorCount <= 0) {
        colors[1] = {255, 255, 255};
        used = 2;
        return colors;
    }
    used = std::min(map->ColorCount, 256);
    for (int i = 0; i < used; ++i) {
        colors[i] = {map->Colors[i].Red, map->Colors[i].Green, map->Colors[i].Blue};
    }
    return colors;
}

// Skips an extension block with all its sub-blocks.
bool skip_extension(GifFileType* gif) {
    int code = 0;
    GifByteType* block = nullptr;
    if (DGifGetExtension(gif, &code, &block) == GIF_ERROR) return false;
    while (block) {
        if (DGifGetExtensionNext(gif, &block) == GIF_ERROR) return false;
    }
    return true;
}

void put_pixel(Image& picture, std::uint32_t x, std::uint32_t row, const Rgb& c) {
    std::uint8_t* p = picture.rows[row];
    if (picture.type == image_gray8) {
        p[x] = c.r;
    } else {
        p += std::size_t{x} * 3;
        p[0] = c.b;
        p[1] = c.g;
        p[2] = c.r;
    }
}

// Reads the first frame; false on success, true after a failure already reported or when the
// file is not a readable GIF.
bool read_first_frame(GifFileType* gif, Image& picture, bool& reported) {
    for (;;) {
        GifRecordType record = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif, &record) == GIF_ERROR) return true;
        if (record == TERMINATE_RECORD_TYPE) return true;  // no image at all
        if (record == EXTENSION_RECORD_TYPE) {
            if (!skip_extension(gif)) return true;
            continue;
        }
        if (record == IMAGE_DESC_RECORD_TYPE) break;
        return true;
    }
    if (DGifGetImageDesc(gif) == GIF_ERROR) return true;

    const GifImageDesc& frame = gif->Image;
    if (frame.Left < 0 || frame.Top < 0 || frame.Width <= 0 || frame.Height <= 0) return true;
    // A screen of no size is taken from the frame, as browsers do.
    std::uint32_t width = gif->SWidth > 0 ? static_cast<std::uint32_t>(gif->SWidth)
                                          : static_cast<std::uint32_t>(frame.Left + frame.Width);
    std::uint32_t height = gif->SHeight > 0 ? static_cast<std::uint32_t>(gif->SHeight)
                                            : static_cast<std::uint32_t>(frame.Top + frame.Height);

    int used = 0;
    const std::array<Rgb, 256> colors =
        expand_map(frame.ColorMap ? frame.ColorMap : gif->SColorMap, used);
    const bool covers = frame.Left == 0 && frame.Top == 0 &&
                        static_cast<std::uint32_t>(frame.Width) >= width &&
                        static_cast<std::uint32_t>(frame.Height) >= height;
    Rgb background{};
    if (gif->SColorMap && gif->SBackGroundColor >= 0 &&
        gif->SBackGroundColor < gif->SColorMap->ColorCount) {
        const GifColorType& c = gif->SColorMap->Colors[gif->SBackGroundColor];
        background = {c.Red, c.Green, c.Blue};
    }

    bool gray = covers || (background.r == background.g && background.g == background.b);
    for (int i = 0; i < used && gray; ++i) {
        gray = colors[i].r == colors[i].g && colors[i].g == colors[i].b;
    }
    const std::uint32_t type = gray ? image_gray8 : image_color24;
    if (image_too_large(width, height, type)) {
        reported = true;
        return true;
    }

    // The frame is decoded into index lines first and the picture made only afterwards, so a
    // hostile file that declares a huge screen and then runs out of data costs no more memory
    // than the data it really holds.
    const std::uint32_t visible_width =
        frame.Left >= static_cast<int>(width)
            ? 0u
            : std::min<std::uint32_t>(frame.Width, width - frame.Left);
    std::vector<std::unique_ptr<GifPixelType[]>> lines(static_cast<std::size_t>(frame.Height));
    std::unique_ptr<GifPixelType[]> scratch(new (std::nothrow) GifPixelType[frame.Width]);
    if (!scratch) return true;
    // Interlaced frames store every 8th line from 0, every 8th from 4, every 4th from 2, then
    // every 2nd from 1.
    static constexpr int interlace_start[] = {0, 4, 2, 1};
    static constexpr int interlace_step[] = {8, 8, 4, 2};
    const int passes = frame.Interlace ? 4 : 1;
    for (int pass = 0; pass < passes; ++pass) {
        const int start = frame.Interlace ? interlace_start[pass] : 0;
        const int step = frame.Interlace ? interlace_step[pass] : 1;
        for (int fy = start; fy < frame.Height; fy += step) {
            if (DGifGetLine(gif, scratch.get(), frame.Width) == GIF_ERROR) return true;
            if (static_cast<std::uint32_t>(frame.Top + fy) >= height || visible_width == 0)
                continue;
            lines[fy].reset(new (std::nothrow) GifPixelType[visible_width]);
            if (!lines[fy]) return true;
            std::memcpy(lines[fy].get(), scratch.get(), visible_width);
        }
    }

    if (image_alloc(picture, type, width, height, 0.0)) return true;
    for (std::uint32_t y = 0; y < height; ++y) {
        const int fy = static_cast<int>(y) - frame.Top;
        const GifPixelType* line = fy >= 0 && fy < frame.Height ? lines[fy].get() : nullptr;
        const std::uint32_t row = height - 1 - y;
        for (std::uint32_t x = 0; x < width; ++x) {
            const std::uint32_t fx = x - static_cast<std::uint32_t>(frame.Left);
            const bool inside =
                line && x >= static_cast<std::uint32_t>(frame.Left) && fx < visible_width;
            put_pixel(picture, x, row, inside ? colors[line[fx]] : background);
        }
    }
    return false;
}

}  // namespace

bool read_gif_file(const std::string& path, Image& picture) {
    image_free(picture);
    int error = 0;
    GifHandle gif(DGifOpenFileName(path.c_str(), &error));
    bool reported = false;
    if (gif && !read_first_frame(gif.get(), picture, reported)) {
        // GIF has no physical resolution; the caller turns 0 into 72.
        picture.dpi = 0.0;
        return false;
    }
    image_free(picture);
    if (!reported) show_error(gif_error_text);
    return true;
}

}  // namespace tessaly
