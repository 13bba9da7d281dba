// WEBP files through libwebp: still images decode straight into the picture, animations give
// their first frame as composed on the canvas. The demuxer supplies the ICCP and EXIF chunks.
#include <webp/decode.h>
#include <webp/demux.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <memory>
#include <new>
#include <vector>

#include "core/format.h"
#include "core/runner.h"
#include "fileio/exif.h"
#include "fileio/image_file.h"

namespace tessaly {

namespace {

constexpr const char* webp_error = "Error reading WEBP file";

// A RIFF size field is 32 bits, so no valid file is larger than this.
constexpr std::uint64_t webp_max_file_bytes = 0xFFFFFFFFull + 8;

bool read_whole_file(const std::string& path, std::vector<std::uint8_t>& bytes) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) return true;
    const std::streamoff size = in.tellg();
    if (size <= 0 || static_cast<std::uint64_t>(size) > webp_max_file_bytes) return true;
    bytes.resize(static_cast<std::size_t>(size));
    in.seekg(0);
    return !in.read(reinterpret_cast<char*>(bytes.data()), size);
}

struct DemuxDeleter {
    void operator()(WebPDemuxer* d) const { WebPDemuxDelete(d); }
};
struct AnimDecoderDeleter {
    void operator()(WebPAnimDecoder* d) const { WebPAnimDecoderDelete(d); }
};

// Splits a top-first BGRA buffer into the bottom-first picture and, when given, the alpha image.
void split_bgra(const std::uint8_t* pixels, std::size_t stride, Image& picture,
                Image* transparency) {
    const std::uint32_t w = picture.width;
    const std::uint32_t h = picture.height;
    const auto split_lines = [&](int first, int last, Progress&) -> std::uint8_t {
        for (int y = first; y <= last; ++y) {
            const std::uint8_t* src = pixels + static_cast<std::size_t>(y) * stride;
            const std::uint32_t r = h - 1 - static_cast<std::uint32_t>(y);
            std::uint8_t* dst = picture.rows[r];
            std::uint8_t* alpha = transparency ? transparency->rows[r] : nullptr;
            for (std::uint32_t x = 0; x < w; ++x, src += 4) {
                dst[3 * x] = src[0];
                dst[3 * x + 1] = src[1];
                dst[3 * x + 2] = src[2];
                if (alpha) alpha[x] = src[3];
            }
        }
        return 0;
    };
    (void)run_range(0, split_lines, "", static_cast<int>(w), static_cast<int>(h), h, false, false,
                    false);
}

bool alloc_outputs(Image& picture, Image* transparency, std::uint32_t w, std::uint32_t h) {
    if (image_alloc(picture, image_color24, w, h, 0.0)) return true;
    return transparency && image_alloc(*transparency, image_gray8, w, h, 0.0);
}

// How a decode ended: a refused size has already been reported by image_too_large.
enum class Outcome { done, failed, refused };

// The transparency image beside a picture of w x h, as the allocator counts it.
std::uint64_t transparency_bytes(std::uint32_t w, std::uint32_t h) {
    return (((std::uint64_t{w} + 3) & ~std::uint64_t{3}) + sizeof(void*)) * h;
}

Outcome decode_still(const std::uint8_t* data, std::size_t size, Image& picture,
                     Image* transparency) {
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config)) return Outcome::failed;
    if (WebPGetFeatures(data, size, &config.input) != VP8_STATUS_OK) return Outcome::failed;
    const auto w = static_cast<std::uint32_t>(config.input.width);
    const auto h = static_cast<std::uint32_t>(config.input.height);
    const bool want_alpha = transparency && config.input.has_alpha;
    // Beside the picture: a lossless decoder keeps the whole picture as 32-bit pixels of its own,
    // a lossy one its alpha plane; with alpha wanted, a BGRA buffer and the transparency image.
    const std::uint64_t pixels = std::uint64_t{w} * h;
    const std::uint64_t decoder_bytes = pixels * (config.input.format == 2 ? 4
                                                  : config.input.has_alpha ? 1
                                                                           : 0) +
                                        (want_alpha ? pixels * 4 + transparency_bytes(w, h) : 0);
    if (image_too_large(w, h, image_color24, decoder_bytes)) return Outcome::refused;

    if (!want_alpha) {
        // The single top-first block has the layout the decoder writes, so no second buffer.
        if (image_alloc_single_block(picture, image_color24, w, h, 0.0, true)) {
            return Outcome::failed;
        }
        config.output.colorspace = MODE_BGR;
        config.output.is_external_memory = 1;
        config.output.u.RGBA.rgba = picture.rows[h - 1];
        config.output.u.RGBA.stride = static_cast<int>(picture.row_bytes);
        config.output.u.RGBA.size = static_cast<std::size_t>(picture.row_bytes) * h;
        const VP8StatusCode status = WebPDecode(data, size, &config);
        WebPFreeDecBuffer(&config.output);
        return status == VP8_STATUS_OK ? Outcome::done : Outcome::failed;
    }

    if (alloc_outputs(picture, transparency, w, h)) return Outcome::failed;
    const std::size_t stride = static_cast<std::size_t>(w) * 4;
    // Left uninitialised: the decoder writes what the data holds, so a file that ends early has
    // not made the whole declared buffer resident.
    const std::unique_ptr<std::uint8_t[]> bgra(new (std::nothrow) std::uint8_t[stride * h]);
    if (!bgra) return Outcome::failed;
    config.output.colorspace = MODE_BGRA;
    config.output.is_external_memory = 1;
    config.output.u.RGBA.rgba = bgra.get();
    config.output.u.RGBA.stride = static_cast<int>(stride);
    config.output.u.RGBA.size = stride * h;
    const VP8StatusCode status = WebPDecode(data, size, &config);
    WebPFreeDecBuffer(&config.output);
    if (status != VP8_STATUS_OK) return Outcome::failed;
    split_bgra(bgra.get(), stride, picture, transparency);
    return Outcome::done;
}

Outcome decode_first_frame(WebPDemuxer* demux, const WebPData& webp, std::uint32_t w,
                           std::uint32_t h, bool has_alpha, Image& picture, Image* transparency) {
    // The canvas beyond the first frame is only background: a file may not claim more of it than
    // a picture can hold without data.
    WebPIterator frame;
    if (!WebPDemuxGetFrame(demux, 1, &frame)) return Outcome::failed;
    const std::uint64_t shown = std::uint64_t(frame.width) * std::uint64_t(frame.height);
    WebPDemuxReleaseIterator(&frame);
    const std::uint64_t pixels = std::uint64_t{w} * h;
    if (pixels > shown + background_pixels_max) {
        (void)refuse_declared_size(w, h);
        return Outcome::refused;
    }
    // The animation decoder keeps two 32-bit canvases and decodes each frame into a buffer of its
    // own; the transparency image comes on top.
    const std::uint64_t decoder_bytes = pixels * 8 + shown * 4 + transparency_bytes(w, h);
    if (image_too_large(w, h, image_color24, decoder_bytes)) return Outcome::refused;
    WebPAnimDecoderOptions options;
    if (!WebPAnimDecoderOptionsInit(&options)) return Outcome::failed;
    options.color_mode = MODE_BGRA;
    options.use_threads = 0;
    std::unique_ptr<WebPAnimDecoder, AnimDecoderDeleter> decoder(
        WebPAnimDecoderNew(&webp, &options));
    if (!decoder) return Outcome::failed;
    std::uint8_t* canvas = nullptr;
    int timestamp = 0;
    if (!WebPAnimDecoderGetNext(decoder.get(), &canvas, &timestamp) || !canvas) {
        return Outcome::failed;
    }
    Image* alpha = has_alpha ? transparency : nullptr;
    if (alloc_outputs(picture, alpha, w, h)) return Outcome::failed;
    split_bgra(canvas, static_cast<std::size_t>(w) * 4, picture, alpha);
    return Outcome::done;
}

// Chunk payload of the first chunk with the given name; empty when there is none.
WebPData find_chunk(WebPDemuxer* demux, const char* name) {
    WebPChunkIterator it;
    WebPData found = {nullptr, 0};
    if (WebPDemuxGetChunk(demux, name, 1, &it)) found = it.chunk;
    WebPDemuxReleaseChunkIterator(&it);
    return found;
}

// EXIF tags first, so that the ICCP chunk, the file's own profile, wins over an embedded one.
bool attach_metadata(WebPDemuxer* demux, std::uint32_t flags, Image& picture, int& orientation) {
    orientation = 0;
    if (flags & EXIF_FLAG) {
        WebPData exif = find_chunk(demux, "EXIF");
        // Some writers keep the JPEG segment's "Exif\0\0" in front of the TIFF structure.
        static constexpr std::uint8_t jpeg_prefix[6] = {'E', 'x', 'i', 'f', 0, 0};
        if (exif.size >= sizeof jpeg_prefix &&
            std::memcmp(exif.bytes, jpeg_prefix, sizeof jpeg_prefix) == 0) {
            exif.bytes += sizeof jpeg_prefix;
            exif.size -= sizeof jpeg_prefix;
        }
        // A damaged EXIF block costs the tags, not the picture.
        if (exif.size > 0) (void)exif_read_block(exif.bytes, exif.size, picture, orientation);
        if (picture.empty()) return true;
        // WEBP has no resolution of its own: the EXIF resolution is the file's.
        picture.dpi = exif_resolution_dpi(picture);
    }
    if (flags & ICCP_FLAG) {
        const WebPData icc = find_chunk(demux, "ICCP");
        if (attach_file_profile(picture, icc.bytes, icc.size)) return true;
    }
    return false;
}

bool fail(Image& picture, Image* transparency) {
    image_free(picture);
    if (transparency) image_free(*transparency);
    return true;
}

}  // namespace

bool read_webp_file(const std::string& path, Image& picture, Image* transparency) {
    interaction().status(formatted("Opening file: %s", path));
    image_free(picture);
    if (transparency) image_free(*transparency);

    std::vector<std::uint8_t> bytes;
    if (read_whole_file(path, bytes)) {
        show_error(webp_error);
        return true;
    }
    const WebPData webp = {bytes.data(), bytes.size()};
    std::unique_ptr<WebPDemuxer, DemuxDeleter> demux(WebPDemux(&webp));
    if (!demux) {
        show_error(webp_error);
        return true;
    }
    const std::uint32_t flags = WebPDemuxGetI(demux.get(), WEBP_FF_FORMAT_FLAGS);
    const std::uint32_t w = WebPDemuxGetI(demux.get(), WEBP_FF_CANVAS_WIDTH);
    const std::uint32_t h = WebPDemuxGetI(demux.get(), WEBP_FF_CANVAS_HEIGHT);

    const Outcome outcome =
        (flags & ANIMATION_FLAG)
            ? decode_first_frame(demux.get(), webp, w, h, (flags & ALPHA_FLAG) != 0, picture,
                                 transparency)
            : decode_still(bytes.data(), bytes.size(), picture, transparency);
    if (outcome != Outcome::done) {
        if (outcome == Outcome::failed) show_error(webp_error);
        return fail(picture, transparency);
    }
    int orientation = 0;
    if (attach_metadata(demux.get(), flags, picture, orientation) ||
        apply_orientation(picture, orientation) ||
        (transparency && apply_orientation(*transparency, orientation))) {
        show_error(webp_error);
        return fail(picture, transparency);
    }
    return false;
}

}  // namespace tessaly
