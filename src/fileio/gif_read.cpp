// The GIF reader, through giflib: the first frame, placed on the logical screen. Records are read
// one by one rather than slurped so that only the first frame is decoded and its declared size
// is checked before anything is allocated for it.
//
// Metadata: the property items a GIF gives (the numbers of the GDI+ property tags), in this
// order: 20736 frame delays (LONG, hundredths of a second, one per frame; animations only), 37510
// the first comment (ASCII), 20737 the loop count (SHORT, from the NETSCAPE2.0 or ANIMEXTS1.0
// extension, 1 without one; animations only), 20738 the global palette (BYTE, red, green, blue
// per entry; when the file has one), 20739 the background index (BYTE), 20740 the first frame's
// transparent index (BYTE; when it has one). The frames after the first are walked without being
// decoded, to count them; a damaged record there ends the walk and costs nothing else.
#include <gif_lib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <new>
#include <string>
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

// GDI+ property tag numbers of a GIF's items.
constexpr std::uint32_t tag_frame_delay = 0x5100;
constexpr std::uint32_t tag_loop_count = 0x5101;
constexpr std::uint32_t tag_global_palette = 0x5102;
constexpr std::uint32_t tag_index_background = 0x5103;
constexpr std::uint32_t tag_index_transparent = 0x5104;
constexpr std::uint32_t tag_comment = 0x9286;
// Frames counted at most: each one read costs giflib a record of its own.
constexpr std::size_t max_counted_frames = 100000;

// What the extensions and frames of the file say, gathered while its records are read.
struct Properties {
    std::vector<std::uint32_t> delays;  // one per frame read
    std::uint32_t next_delay = 0;       // from the control extension before the next frame
    int next_transparent = -1;
    int first_transparent = -1;
    bool has_comment = false;
    std::string comment;
    bool has_loop = false;
    std::uint16_t loop = 0;
};

// Reads an extension with all its sub-blocks and keeps what it says.
bool read_extension(GifFileType* gif, Properties& p) {
    int code = 0;
    GifByteType* block = nullptr;
    if (DGifGetExtension(gif, &code, &block) == GIF_ERROR) return false;
    bool first = true;
    bool looping = false;
    std::string text;
    while (block) {
        const int length = block[0];
        if (code == GRAPHICS_EXT_FUNC_CODE && first) {
            GraphicsControlBlock gcb{};
            if (DGifExtensionToGCB(static_cast<std::size_t>(length), block + 1, &gcb) == GIF_OK) {
                p.next_delay = static_cast<std::uint32_t>(gcb.DelayTime);
                p.next_transparent = gcb.TransparentColor;
            }
        } else if (code == COMMENT_EXT_FUNC_CODE) {
            text.append(reinterpret_cast<const char*>(block + 1), static_cast<std::size_t>(length));
        } else if (code == APPLICATION_EXT_FUNC_CODE && first) {
            looping = length == 11 && (std::memcmp(block + 1, "NETSCAPE2.0", 11) == 0 ||
                                       std::memcmp(block + 1, "ANIMEXTS1.0", 11) == 0);
        } else if (code == APPLICATION_EXT_FUNC_CODE && looping && length == 3 && block[1] == 1 &&
                   !p.has_loop) {
            p.has_loop = true;
            p.loop = static_cast<std::uint16_t>(block[2] | (block[3] << 8));
        }
        first = false;
        if (DGifGetExtensionNext(gif, &block) == GIF_ERROR) return false;
    }
    if (code == COMMENT_EXT_FUNC_CODE && !p.has_comment) {
        p.has_comment = true;
        p.comment = text.substr(0, text.find('\0'));  // text ends at its first zero byte
    }
    return true;
}

// Walks the records after the first frame: extensions are read, frames counted and skipped
// without decoding. Stops at the end of the file or at the first damaged record.
void walk_rest(GifFileType* gif, Properties& p) {
    while (p.delays.size() < max_counted_frames) {
        GifRecordType record = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif, &record) == GIF_ERROR || record == TERMINATE_RECORD_TYPE) return;
        if (record == EXTENSION_RECORD_TYPE) {
            if (!read_extension(gif, p)) return;
            continue;
        }
        if (record != IMAGE_DESC_RECORD_TYPE || DGifGetImageDesc(gif) == GIF_ERROR) return;
        int code_size = 0;
        GifByteType* code = nullptr;
        if (DGifGetCode(gif, &code_size, &code) == GIF_ERROR) return;
        while (code) {
            if (DGifGetCodeNext(gif, &code) == GIF_ERROR) return;
        }
        p.delays.push_back(p.next_delay);
        p.next_delay = 0;
        p.next_transparent = -1;
    }
}

// The property items as Metadata Tags, in the order of the file comment. true on failure.
bool add_properties(const GifFileType* gif, const Properties& p, Image& picture) {
    const bool animated = p.delays.size() > 1;
    if (animated) {
        std::vector<std::uint8_t> bytes;
        for (std::uint32_t d : p.delays) {
            for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(d >> (8 * i)));
        }
        if (image_add_tag(picture, tag_frame_delay, 4, static_cast<std::uint32_t>(p.delays.size()),
                          bytes.data()))
            return true;
    }
    if (p.has_comment &&
        image_add_tag(picture, tag_comment, 2, static_cast<std::uint32_t>(p.comment.size() + 1),
                      p.comment.c_str()))
        return true;
    if (animated) {
        const std::uint16_t loop = p.has_loop ? p.loop : 1;
        const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(loop),
                                       static_cast<std::uint8_t>(loop >> 8)};
        if (image_add_tag(picture, tag_loop_count, 3, 1, bytes)) return true;
    }
    if (gif->SColorMap && gif->SColorMap->Colors && gif->SColorMap->ColorCount > 0) {
        std::vector<std::uint8_t> bytes;
        for (int i = 0; i < gif->SColorMap->ColorCount; ++i) {
            const GifColorType& c = gif->SColorMap->Colors[i];
            bytes.insert(bytes.end(), {c.Red, c.Green, c.Blue});
        }
        if (image_add_tag(picture, tag_global_palette, 1, static_cast<std::uint32_t>(bytes.size()),
                          bytes.data()))
            return true;
    }
    const auto background = static_cast<std::uint8_t>(gif->SBackGroundColor);
    if (image_add_tag(picture, tag_index_background, 1, 1, &background)) return true;
    if (p.first_transparent >= 0) {
        const auto index = static_cast<std::uint8_t>(p.first_transparent);
        if (image_add_tag(picture, tag_index_transparent, 1, 1, &index)) return true;
    }
    return false;
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
bool read_first_frame(GifFileType* gif, Image& picture, bool& reported, Properties& props) {
    for (;;) {
        GifRecordType record = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif, &record) == GIF_ERROR) return true;
        if (record == TERMINATE_RECORD_TYPE) return true;  // no image at all
        if (record == EXTENSION_RECORD_TYPE) {
            if (!read_extension(gif, props)) return true;
            continue;
        }
        if (record == IMAGE_DESC_RECORD_TYPE) break;
        return true;
    }
    if (DGifGetImageDesc(gif) == GIF_ERROR) return true;
    props.first_transparent = props.next_transparent;

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

    // The frame is decoded into index lines first and the picture made only afterwards, so a
    // hostile file that declares a huge screen and then runs out of data costs no more memory
    // than the data it really holds. Both are checked before either is allocated.
    const std::uint32_t visible_width =
        frame.Left >= static_cast<int>(width)
            ? 0u
            : std::min<std::uint32_t>(frame.Width, width - frame.Left);
    const std::uint32_t visible_height =
        frame.Top >= static_cast<int>(height)
            ? 0u
            : std::min<std::uint32_t>(frame.Height, height - frame.Top);
    const std::uint64_t shown = std::uint64_t{visible_width} * visible_height;
    const std::uint64_t line_bytes = shown +
                                     static_cast<std::uint64_t>(frame.Height) * sizeof(void*) +
                                     static_cast<std::uint64_t>(frame.Width);
    // The background around the frame is all the screen holds beyond the frame's own data.
    if (image_too_large(width, height, type, line_bytes) ||
        (std::uint64_t{width} * height - shown > background_pixels_max &&
         refuse_declared_size(width, height))) {
        reported = true;
        return true;
    }
    std::vector<std::unique_ptr<GifPixelType[]>> lines(static_cast<std::size_t>(frame.Height));
    std::unique_ptr<GifPixelType[]> scratch(new (std::nothrow) GifPixelType[frame.Width]);
    if (!scratch) return true;
    // Interlaced frames store every 8th line from 0, every 8th from 4, every 4th from 2, then
    // every 2nd from 1.
    static constexpr int interlace_start[] = {0, 4, 2, 1};
    static constexpr int interlace_step[] = {8, 8, 4, 2};
    const int passes = frame.Interlace ? 4 : 1;
    // Lines in file order below the screen are not decoded at all: a frame far larger than its
    // screen costs no more time than the part that shows.
    const int decoded_lines = visible_width == 0 ? 0
                              : frame.Interlace  ? frame.Height
                                                 : static_cast<int>(visible_height);
    for (int pass = 0; pass < passes; ++pass) {
        const int start = frame.Interlace ? interlace_start[pass] : 0;
        const int step = frame.Interlace ? interlace_step[pass] : 1;
        for (int fy = start; fy < decoded_lines; fy += step) {
            if (DGifGetLine(gif, scratch.get(), frame.Width) == GIF_ERROR) return true;
            if (static_cast<std::uint32_t>(fy) >= visible_height) continue;
            lines[fy].reset(new (std::nothrow) GifPixelType[visible_width]);
            if (!lines[fy]) return true;
            std::memcpy(lines[fy].get(), scratch.get(), visible_width);
        }
    }
    if (decoded_lines < frame.Height) {
        // The rest of the frame's data, skipped as giflib itself does after a frame's last line.
        GifByteType* code = nullptr;
        do {
            if (DGifGetCodeNext(gif, &code) == GIF_ERROR) return true;
        } while (code);
    }

    props.delays.push_back(props.next_delay);
    props.next_delay = 0;
    props.next_transparent = -1;
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
    Properties props;
    if (gif && !read_first_frame(gif.get(), picture, reported, props)) {
        // GIF has no physical resolution; the caller turns 0 into 72.
        picture.dpi = 0.0;
        walk_rest(gif.get(), props);
        if (!add_properties(gif.get(), props, picture)) return false;
    }
    image_free(picture);
    if (!reported) show_error(gif_error_text);
    return true;
}

}  // namespace tessaly
