// The TIFF reader, built on libtiff. Pixels are decoded strip by strip or tile by tile (RGBA
// helpers of the library would lose 16-bit samples) into a band of scan lines in the file's
// sample layout, then each line is turned into the Image's layout, bottom line first. Large
// pictures of several bands are shared out among the runner's workers, each reading its bands
// through a handle of its own.
//
// Metadata: the profile tag 34675 becomes the Image's profile; orientation 274 is applied to
// the pixels and kept as 1; every other tag of the first directory and of its EXIF directory
// becomes a Metadata Tag, except the structural tags that only describe this file's storage
// (size, sample layout, compression, strip and tile locations, color map, sub-directory
// pointers), which mean nothing once the pixels are decoded. Values of the float, double and
// 64-bit field types have no place in a Metadata Tag and are skipped.
#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

#include "core/format.h"
#include "core/runner.h"
#include "core/tables.h"
#include "fileio/image_file.h"
#include "fileio/pixel_order.h"
#include "fileio/prefault.h"

namespace tessaly {

namespace {

constexpr const char* unsupported_text = "Unsupported image format";
constexpr const char* error_text = "Error reading TIFF file";

// The library's messages never reach the terminal: a failed call is reported as a failed read.
int quiet_handler(TIFF*, void*, const char*, const char*, std::va_list) {
    return 1;
}

struct TiffCloser {
    TIFF* tif = nullptr;
    ~TiffCloser() {
        if (tif) TIFFClose(tif);
    }
};

struct PendingTag {
    std::uint32_t tag;
    std::int32_t field_type;
    std::uint32_t count;
    std::vector<std::uint8_t> bytes;
};

// Tags that describe how this file stores its pixels rather than what the picture is.
bool structural_tag(std::uint32_t tag) {
    switch (tag) {
        case 254:
        case 255:
        case 256:
        case 257:
        case 258:
        case 259:
        case 262:
        case 263:
        case 266:
        case 273:
        case 277:
        case 278:
        case 279:
        case 280:
        case 281:
        case 284:
        case 317:
        case 320:
        case 322:
        case 323:
        case 324:
        case 325:
        case 330:
        case 338:
        case 339:
        case 340:
        case 341:
        case 347:
        case 513:
        case 514:
        case 530:
        case 34665:  // EXIF directory pointer: its tags are read themselves
        case 34853:  // GPS directory pointer
        case 40965:  // interoperability directory pointer
        case 34675:  // profile: becomes the Image's profile
        case 274:    // orientation: applied to the pixels
            return true;
        default:
            return false;
    }
}

void append_u32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// A rational from the library's floating-point copy: the smallest power-of-ten denominator
// that represents it closely.
void append_rational(std::vector<std::uint8_t>& out, double v, bool is_signed) {
    if (!std::isfinite(v)) v = 0.0;
    double den = 1.0;
    while (den < 1e6 &&
           std::fabs(v * den - std::round(v * den)) > 1e-6 * std::max(1.0, std::fabs(v * den)))
        den *= 10.0;
    double num = std::round(v * den);
    const double limit = is_signed ? 2147483647.0 : 4294967295.0;
    while (std::fabs(num) > limit && den > 1.0) {
        den /= 10.0;
        num = std::round(v * den);
    }
    num = std::clamp(num, is_signed ? -limit : 0.0, limit);
    const std::uint32_t n = is_signed ? static_cast<std::uint32_t>(static_cast<std::int32_t>(num))
                                      : static_cast<std::uint32_t>(num);
    append_u32(out, n);
    append_u32(out, static_cast<std::uint32_t>(den));
}

// Copies count values of a field type from the library's storage into the tag's bytes.
bool pack_values(std::int32_t type, const void* raw, std::uint32_t count, int rational_size,
                 std::vector<std::uint8_t>& out) {
    const auto* p = static_cast<const std::uint8_t*>(raw);
    switch (type) {
        case TIFF_BYTE:
        case TIFF_ASCII:
        case TIFF_SBYTE:
        case TIFF_UNDEFINED:
            out.assign(p, p + count);
            return true;
        case TIFF_SHORT:
        case TIFF_SSHORT:
            for (std::uint32_t i = 0; i < count; ++i) {
                std::uint16_t v;
                std::memcpy(&v, p + 2 * i, 2);
                out.push_back(static_cast<std::uint8_t>(v));
                out.push_back(static_cast<std::uint8_t>(v >> 8));
            }
            return true;
        case TIFF_LONG:
        case TIFF_SLONG:
            for (std::uint32_t i = 0; i < count; ++i) {
                std::uint32_t v;
                std::memcpy(&v, p + 4 * i, 4);
                append_u32(out, v);
            }
            return true;
        case TIFF_RATIONAL:
        case TIFF_SRATIONAL:
            for (std::uint32_t i = 0; i < count; ++i) {
                double v;
                if (rational_size == 8) {
                    std::memcpy(&v, p + 8 * i, 8);
                } else {
                    float f;
                    std::memcpy(&f, p + 4 * i, 4);
                    v = f;
                }
                append_rational(out, v, type == TIFF_SRATIONAL);
            }
            return true;
        default:
            return false;  // float, double, 64-bit and directory types have no tag form here
    }
}

// Reads one tag of the current directory the way the library hands out its value.
void read_custom_tag(TIFF* tif, std::uint32_t tag, std::vector<PendingTag>& out) {
    const TIFFField* field = TIFFFieldWithTag(tif, tag);
    if (!field) return;
    const auto type = static_cast<std::int32_t>(TIFFFieldDataType(field));
    const int read_count = TIFFFieldReadCount(field);
    const int rational_size = TIFFFieldSetGetSize(field);
    std::uint32_t count = 0;
    void* raw = nullptr;
    union {
        std::uint64_t u;
        double d;
        std::uint8_t bytes[8];
    } single{};
    if (TIFFFieldPassCount(field)) {
        if (read_count == TIFF_VARIABLE2) {
            std::uint32_t n = 0;
            if (!TIFFGetField(tif, tag, &n, &raw)) return;
            count = n;
        } else {
            std::uint16_t n = 0;
            if (!TIFFGetField(tif, tag, &n, &raw)) return;
            count = n;
        }
    } else if (type == TIFF_ASCII) {
        char* text = nullptr;
        if (!TIFFGetField(tif, tag, &text) || !text) return;
        raw = text;
        count = static_cast<std::uint32_t>(std::strlen(text) + 1);
    } else if (read_count > 1) {
        if (!TIFFGetField(tif, tag, &raw)) return;
        count = static_cast<std::uint32_t>(read_count);
    } else if (read_count == 1) {
        if (!TIFFGetField(tif, tag, single.bytes)) return;
        raw = single.bytes;
        count = 1;
    } else {
        return;  // counts tied to the samples per pixel: layout tags, skipped
    }
    if (!raw || count == 0) return;
    PendingTag pending{tag, type, count, {}};
    if (!pack_values(type, raw, count, rational_size, pending.bytes)) return;
    out.push_back(std::move(pending));
}

void read_directory_tags(TIFF* tif, std::vector<PendingTag>& out) {
    const int n = TIFFGetTagListCount(tif);
    for (int i = 0; i < n; ++i) {
        const std::uint32_t tag = TIFFGetTagListEntry(tif, i);
        if (!structural_tag(tag)) read_custom_tag(tif, tag, out);
    }
}

void add_float_rational(std::vector<PendingTag>& out, std::uint32_t tag, float v) {
    PendingTag t{tag, TIFF_RATIONAL, 1, {}};
    append_rational(t.bytes, v, false);
    out.push_back(std::move(t));
}

void add_short(std::vector<PendingTag>& out, std::uint32_t tag, std::uint16_t v) {
    out.push_back(
        {tag, TIFF_SHORT, 1, {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)}});
}

// How the file's samples become the picture.
struct Layout {
    std::uint32_t width = 0, height = 0;
    std::uint16_t bits = 0, samples = 0, photometric = 0, planar = PLANARCONFIG_CONTIG;
    std::uint16_t color_samples = 0;  // 1 gray or palette, 3 RGB
    int alpha_sample = -1;            // index of the sample that goes to the transparency
    std::uint32_t type = 0;
    std::vector<std::uint8_t> palette_gray;  // palette to 8-bit gray
    std::vector<std::uint8_t> palette_r, palette_g, palette_b;
};

[[nodiscard]] bool choose_layout(TIFF* tif, Layout& l) {
    std::uint16_t format = SAMPLEFORMAT_UINT;
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &format);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &l.bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &l.samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &l.planar);
    if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &l.photometric)) {
        l.photometric = l.samples >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
    }
    std::uint16_t compression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    if (compression == COMPRESSION_JPEG && l.photometric == PHOTOMETRIC_YCBCR) {
        // The JPEG codec converts to RGB itself.
        TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
        l.photometric = PHOTOMETRIC_RGB;
    }
    if (format != SAMPLEFORMAT_UINT || l.samples == 0) return true;

    std::uint16_t extra_count = 0;
    std::uint16_t* extra = nullptr;
    TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &extra_count, &extra);
    switch (l.photometric) {
        case PHOTOMETRIC_MINISWHITE:
        case PHOTOMETRIC_MINISBLACK:
        case PHOTOMETRIC_PALETTE:
            l.color_samples = 1;
            break;
        case PHOTOMETRIC_RGB:
            l.color_samples = 3;
            break;
        default:
            return true;
    }
    if (l.samples < l.color_samples || l.samples > l.color_samples + 1) return true;
    if (l.samples == l.color_samples + 1 && extra_count >= 1 && extra &&
        (extra[0] == EXTRASAMPLE_ASSOCALPHA || extra[0] == EXTRASAMPLE_UNASSALPHA)) {
        l.alpha_sample = l.color_samples;
    }

    if (l.photometric == PHOTOMETRIC_PALETTE) {
        if (l.samples != 1 || l.bits == 0 || l.bits > 8) return true;
        std::uint16_t *r = nullptr, *g = nullptr, *b = nullptr;
        if (!TIFFGetField(tif, TIFFTAG_COLORMAP, &r, &g, &b) || !r || !g || !b) return true;
        const std::size_t n = std::size_t{1} << l.bits;
        // Some writers store 8-bit values in the 16-bit color map.
        bool eight_bit = true;
        for (std::size_t i = 0; i < n; ++i) {
            if (r[i] > 255 || g[i] > 255 || b[i] > 255) eight_bit = false;
        }
        bool gray = true;
        l.palette_r.resize(256);
        l.palette_g.resize(256);
        l.palette_b.resize(256);
        for (std::size_t i = 0; i < n; ++i) {
            l.palette_r[i] = eight_bit ? static_cast<std::uint8_t>(r[i]) : to8[r[i]];
            l.palette_g[i] = eight_bit ? static_cast<std::uint8_t>(g[i]) : to8[g[i]];
            l.palette_b[i] = eight_bit ? static_cast<std::uint8_t>(b[i]) : to8[b[i]];
            if (l.palette_r[i] != l.palette_g[i] || l.palette_g[i] != l.palette_b[i]) gray = false;
        }
        l.type = gray ? image_gray8 : image_color24;
        return false;
    }
    if (l.color_samples == 1) {
        if (l.bits == 1 && l.samples == 1)
            l.type = image_binary;
        else if (l.bits == 2 || l.bits == 4 || l.bits == 8)
            l.type = image_gray8;
        else if (l.bits == 16)
            l.type = image_gray16;
        return l.type == 0;
    }
    if (l.bits == 8)
        l.type = image_color24;
    else if (l.bits == 16)
        l.type = image_color48;
    return l.type == 0;
}

// Reads sample s of pixel x from a scan line of n samples per pixel.
inline std::uint32_t sample_at(const std::uint8_t* line, std::uint32_t x, std::uint32_t s,
                               std::uint32_t n, std::uint16_t bits) {
    const std::uint32_t i = x * n + s;
    switch (bits) {
        case 8:
            return line[i];
        case 16: {
            std::uint16_t v;
            std::memcpy(&v, line + 2 * std::size_t{i}, 2);
            return v;
        }
        default: {
            const std::size_t bit = std::size_t{i} * bits;
            const unsigned shift = 8 - bits - static_cast<unsigned>(bit % 8);
            return (line[bit / 8] >> shift) & ((1u << bits) - 1);
        }
    }
}

// One scan line in the file's contiguous layout into the picture's row (and alpha row).
void convert_line(const Layout& l, const std::uint8_t* line, std::uint8_t* out,
                  std::uint8_t* alpha) {
    const std::uint32_t n = l.samples;
    const bool invert = l.photometric == PHOTOMETRIC_MINISWHITE;
    if (l.type == image_binary) {
        const std::uint32_t bytes = (l.width + 7) / 8;
        for (std::uint32_t i = 0; i < bytes; ++i) out[i] = invert ? ~line[i] : line[i];
        if (l.width % 8) out[bytes - 1] &= static_cast<std::uint8_t>(0xFF00u >> (l.width % 8));
        return;
    }
    if (l.photometric == PHOTOMETRIC_PALETTE) {
        for (std::uint32_t x = 0; x < l.width; ++x) {
            const std::uint32_t i = sample_at(line, x, 0, n, l.bits);
            if (l.type == image_gray8) {
                out[x] = l.palette_r[i];
            } else {
                out[3 * x] = l.palette_b[i];
                out[3 * x + 1] = l.palette_g[i];
                out[3 * x + 2] = l.palette_r[i];
            }
        }
    } else if (l.type == image_gray8) {
        const std::uint32_t max = (1u << l.bits) - 1;
        for (std::uint32_t x = 0; x < l.width; ++x) {
            std::uint32_t v = sample_at(line, x, 0, n, l.bits);
            if (invert) v = max - v;
            out[x] = static_cast<std::uint8_t>((v * 255 + max / 2) / max);
        }
    } else if (l.type == image_gray16) {
        for (std::uint32_t x = 0; x < l.width; ++x) {
            std::uint32_t v = sample_at(line, x, 0, n, 16);
            if (invert) v = 65535 - v;
            set_sample16(out, x, static_cast<std::uint16_t>(v));
        }
    } else if (l.type == image_color24 && n == 3) {
        swap_red_blue_24(line, out, l.width);
    } else if (l.type == image_color24) {
        for (std::uint32_t x = 0; x < l.width; ++x) {
            out[3 * x] = line[x * n + 2];
            out[3 * x + 1] = line[x * n + 1];
            out[3 * x + 2] = line[x * n];
        }
    } else {
        for (std::uint32_t x = 0; x < l.width; ++x) {
            for (std::uint32_t c = 0; c < 3; ++c)
                set_sample16(out, 3 * std::size_t{x} + c,
                             static_cast<std::uint16_t>(sample_at(line, x, 2 - c, n, 16)));
        }
    }
    if (alpha && l.alpha_sample >= 0) {
        const auto s = static_cast<std::uint32_t>(l.alpha_sample);
        for (std::uint32_t x = 0; x < l.width; ++x) {
            const std::uint32_t v = sample_at(line, x, s, n, l.bits);
            const std::uint32_t max = (1u << l.bits) - 1;
            alpha[x] = l.bits == 16 ? to8[v] : static_cast<std::uint8_t>((v * 255 + max / 2) / max);
        }
    }
}

// Decodes rows y0 .. y0 + count - 1 into band (count lines of line_bytes, contiguous layout).
// plane_band receives one separate plane at a time when the file stores planes apart.
class BandReader {
  public:
    BandReader(TIFF* tif, const Layout& l) : tif_(tif), l_(l) {}

    [[nodiscard]] bool setup() {
        tiled_ = TIFFIsTiled(tif_) != 0;
        planes_ = l_.planar == PLANARCONFIG_SEPARATE ? l_.samples : 1;
        const std::uint64_t pixel_bits = std::uint64_t{l_.bits} * (planes_ == 1 ? l_.samples : 1);
        plane_line_ = (std::uint64_t{l_.width} * pixel_bits + 7) / 8;
        line_ = (std::uint64_t{l_.width} * l_.bits * l_.samples + 7) / 8;
        if (tiled_) {
            if (!TIFFGetField(tif_, TIFFTAG_TILEWIDTH, &tile_w_) ||
                !TIFFGetField(tif_, TIFFTAG_TILELENGTH, &tile_h_) || tile_w_ == 0 || tile_h_ == 0 ||
                (std::uint64_t{tile_w_} * pixel_bits) % 8 != 0)
                return true;
            band_rows_ = tile_h_;
            const std::uint64_t tile_line = (std::uint64_t{tile_w_} * pixel_bits + 7) / 8;
            const std::uint64_t tile_bytes = TIFFTileSize64(tif_);
            if (tile_bytes == 0 || tile_bytes < tile_line * tile_h_ ||
                tile_bytes > (std::uint64_t{1} << 31))
                return true;
            tile_buffer_.resize(static_cast<std::size_t>(tile_bytes));
        } else {
            std::uint32_t rps = l_.height;
            TIFFGetFieldDefaulted(tif_, TIFFTAG_ROWSPERSTRIP, &rps);
            band_rows_ = std::clamp<std::uint32_t>(rps, 1, l_.height);
        }
        // A band is one strip or one row of tiles; a hostile strip height must not allocate
        // more than the picture itself.
        const std::uint64_t band_bytes = std::uint64_t{band_rows_} * plane_line_;
        if (band_bytes > (std::uint64_t{1} << 31)) return true;
        plane_.assign(static_cast<std::size_t>(band_bytes), 0);
        if (planes_ > 1) band_.assign(static_cast<std::size_t>(band_rows_ * line_), 0);
        return false;
    }

    std::uint32_t band_rows() const { return band_rows_; }
    std::size_t line_bytes() const { return static_cast<std::size_t>(line_); }

    // Reads the band starting at row y0; returns the contiguous lines or nullptr on failure.
    const std::uint8_t* read(std::uint32_t y0) {
        const std::uint32_t rows = std::min(band_rows_, l_.height - y0);
        for (std::uint16_t p = 0; p < planes_; ++p) {
            if (read_plane(y0, rows, p)) return nullptr;
            if (planes_ == 1) return plane_.data();
            interleave(rows, p);
        }
        return band_.data();
    }

  private:
    [[nodiscard]] bool read_plane(std::uint32_t y0, std::uint32_t rows, std::uint16_t p) {
        if (!tiled_) {
            const tstrip_t strip = TIFFComputeStrip(tif_, y0, p);
            const tmsize_t want = static_cast<tmsize_t>(rows * plane_line_);
            return TIFFReadEncodedStrip(tif_, strip, plane_.data(), want) < want;
        }
        const std::uint64_t tile_line =
            (std::uint64_t{tile_w_} * l_.bits * (planes_ == 1 ? l_.samples : 1) + 7) / 8;
        for (std::uint32_t x = 0; x < l_.width; x += tile_w_) {
            if (TIFFReadTile(tif_, tile_buffer_.data(), x, y0, 0, p) < 0) return true;
            const std::uint64_t offset = tile_line * (x / tile_w_);
            const std::uint64_t copy = std::min(tile_line, plane_line_ - offset);
            for (std::uint32_t r = 0; r < rows; ++r)
                std::memcpy(plane_.data() + r * plane_line_ + offset,
                            tile_buffer_.data() + r * tile_line, static_cast<std::size_t>(copy));
        }
        return false;
    }

    // Separate planes hold 8- or 16-bit samples here (1-bit pictures have one sample).
    void interleave(std::uint32_t rows, std::uint16_t p) {
        const std::size_t unit = l_.bits / 8;
        for (std::uint32_t r = 0; r < rows; ++r) {
            const std::uint8_t* src = plane_.data() + r * plane_line_;
            std::uint8_t* dst = band_.data() + r * line_;
            for (std::uint32_t x = 0; x < l_.width; ++x)
                std::memcpy(dst + (std::size_t{x} * l_.samples + p) * unit, src + x * unit, unit);
        }
    }

    TIFF* tif_;
    const Layout& l_;
    bool tiled_ = false;
    std::uint16_t planes_ = 1;
    std::uint32_t tile_w_ = 0, tile_h_ = 0, band_rows_ = 1;
    std::uint64_t plane_line_ = 0, line_ = 0;
    std::vector<std::uint8_t> plane_, band_, tile_buffer_;
};

TIFF* open_tiff(const std::string& path) {
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (!options) return nullptr;
    TIFFOpenOptionsSetErrorHandlerExtR(options, quiet_handler, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options, quiet_handler, nullptr);
    TIFF* tif = TIFFOpenExt(path.c_str(), "r", options);
    TIFFOpenOptionsFree(options);
    return tif;
}

// Pictures of at least this many bytes and two or more strips (or rows of tiles) are decoded by
// several workers, each through its own handle of the file: a handle decodes one strip at a
// time, but the strips of a file are independent of one another.
constexpr std::uint64_t parallel_bytes = std::uint64_t{1} << 22;

void free_all(Image& picture, Image* transparency) {
    image_free(picture);
    if (transparency) image_free(*transparency);
}

}  // namespace

bool read_tiff_file(const std::string& path, Image& picture, Image* transparency) {
    free_all(picture, transparency);
    TiffCloser file{open_tiff(path)};
    if (!file.tif) {
        show_error(error_text);
        return true;
    }
    TIFF* tif = file.tif;

    Layout l;
    if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &l.width) ||
        !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &l.height) || l.width == 0 || l.height == 0) {
        show_error(error_text);
        return true;
    }
    if (choose_layout(tif, l)) {
        show_error(unsupported_text);
        return true;
    }
    if (l.planar == PLANARCONFIG_SEPARATE && l.samples > 1 && l.bits % 8 != 0) {
        show_error(unsupported_text);
        return true;
    }
    if (image_too_large(l.width, l.height, l.type)) return true;

    // Resolution and the first directory's tags, before the EXIF directory replaces it.
    double dpi = 0.0;
    std::vector<PendingTag> tags;
    float xres = 0.0f, yres = 0.0f;
    std::uint16_t unit = RESUNIT_INCH;
    const bool has_unit = TIFFGetField(tif, TIFFTAG_RESOLUTIONUNIT, &unit) != 0;
    const bool has_x = TIFFGetField(tif, TIFFTAG_XRESOLUTION, &xres) != 0;
    const bool has_y = TIFFGetField(tif, TIFFTAG_YRESOLUTION, &yres) != 0;
    if (has_x && std::isfinite(xres) && xres > 0.0f) {
        if (unit == RESUNIT_CENTIMETER)
            dpi = xres * 2.54;
        else if (unit == RESUNIT_INCH)
            dpi = xres;
    }
    std::uint16_t orientation = 1;
    const bool has_orientation = TIFFGetField(tif, TIFFTAG_ORIENTATION, &orientation) != 0;
    if (has_orientation) add_short(tags, 274, 1);
    if (has_x) add_float_rational(tags, 282, xres);
    if (has_y) add_float_rational(tags, 283, yres);
    if (has_unit) add_short(tags, 296, unit);
    read_directory_tags(tif, tags);
    std::uint32_t profile_size = 0;
    void* profile_data = nullptr;
    std::vector<std::uint8_t> profile;
    if (TIFFGetField(tif, TIFFTAG_ICCPROFILE, &profile_size, &profile_data) && profile_data &&
        profile_size <= profile_bytes_max) {
        const auto* p = static_cast<const std::uint8_t*>(profile_data);
        profile.assign(p, p + profile_size);
    }
    toff_t exif_offset = 0;
    const bool has_exif = TIFFGetField(tif, TIFFTAG_EXIFIFD, &exif_offset) && exif_offset != 0;

    BandReader reader(tif, l);
    if (reader.setup()) {
        show_error(error_text);
        return true;
    }
    const bool want_alpha = transparency && l.alpha_sample >= 0;
    if (image_alloc(picture, l.type, l.width, l.height, dpi) ||
        (want_alpha && image_alloc(*transparency, image_gray8, l.width, l.height, dpi))) {
        free_all(picture, transparency);
        show_error(error_text);
        return true;
    }
    const std::uint32_t band_rows = reader.band_rows();
    const std::uint32_t bands = (l.height - 1) / band_rows + 1;
    int workers = 1;
    if (bands >= 2 && std::uint64_t{picture.row_bytes} * l.height >= parallel_bytes)
        workers = static_cast<int>(std::min<std::uint32_t>(
            static_cast<std::uint32_t>(std::max(1, processor_count())), bands));
    // Bands first..last; the worker of band 0 uses the open handle, every other one opens its
    // own and checks that it describes the same picture. 0 on success.
    const auto decode_bands = [&](int first, int last, Progress&) -> std::uint8_t {
        TiffCloser own;
        Layout own_layout;
        std::optional<BandReader> own_reader;
        BandReader* r = &reader;
        if (first != 0) {
            own.tif = open_tiff(path);
            std::uint32_t w = 0, h = 0;
            if (!own.tif || !TIFFGetField(own.tif, TIFFTAG_IMAGEWIDTH, &w) ||
                !TIFFGetField(own.tif, TIFFTAG_IMAGELENGTH, &h) || w != l.width || h != l.height ||
                choose_layout(own.tif, own_layout) || own_layout.type != l.type ||
                own_layout.bits != l.bits || own_layout.samples != l.samples ||
                own_layout.planar != l.planar || own_layout.photometric != l.photometric)
                return 1;
            own_reader.emplace(own.tif, l);
            if (own_reader->setup() || own_reader->band_rows() != band_rows) return 1;
            r = &*own_reader;
        }
        for (std::uint32_t band = static_cast<std::uint32_t>(first);
             band <= static_cast<std::uint32_t>(last); ++band) {
            const std::uint32_t y0 = band * band_rows;
            const std::uint8_t* lines = r->read(y0);
            if (!lines) return 1;
            const std::uint32_t rows = std::min(band_rows, l.height - y0);
            // The band's rows of the fresh picture are mapped with one request per chunk.
            populate_rows(picture, l.height - y0 - rows, l.height - 1 - y0);
            for (std::uint32_t i = 0; i < rows; ++i) {
                const std::uint32_t target = l.height - 1 - (y0 + i);
                convert_line(l, lines + i * r->line_bytes(), picture.rows[target],
                             want_alpha ? transparency->rows[target] : nullptr);
            }
        }
        return 0;
    };
    std::uint8_t decoded = 0;
    if (workers == 1) {
        Progress progress;
        decoded = decode_bands(0, static_cast<int>(bands) - 1, progress);
    } else {
        decoded = run_range(workers, decode_bands, "", static_cast<int>(l.width),
                            static_cast<int>(bands), bands, false, false, false);
    }
    if (decoded != 0) {
        free_all(picture, transparency);
        show_error(error_text);
        return true;
    }

    if (has_exif && TIFFReadEXIFDirectory(tif, exif_offset)) read_directory_tags(tif, tags);
    bool failed = attach_file_profile(picture, profile.data(), profile.size());
    for (const PendingTag& t : tags) {
        if (failed) break;
        failed = image_add_tag(picture, t.tag, t.field_type, t.count, t.bytes.data());
    }
    if (!failed && has_orientation && orientation != 1 && orientation <= 8)
        failed = apply_orientation(picture, orientation) ||
                 (want_alpha && apply_orientation(*transparency, orientation));
    if (failed) {
        free_all(picture, transparency);
        show_error(error_text);
        return true;
    }
    return false;
}

}  // namespace tessaly
