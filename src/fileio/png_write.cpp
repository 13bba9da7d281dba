#include <lcms2.h>
#include <png.h>

#include <csetjmp>
#include <cstring>
#include <vector>

#include "core/format.h"
#include "core/numeric.h"
#include "core/tables.h"
#include "core/text_file.h"
#include "fileio/image_write.h"
#include "fileio/metadata_copy.h"
#include "fileio/png_keywords.h"

namespace tessaly {

namespace {

[[noreturn]] void quiet_error(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}
void quiet_warning(png_structp, png_const_charp) {}

void append_bytes(png_structp png, png_bytep data, png_size_t length) {
    auto* out = static_cast<std::string*>(png_get_io_ptr(png));
    out->append(reinterpret_cast<const char*>(data), length);
}
void flush_nothing(png_structp) {}

// The profile's own description names the iCCP chunk. Empty when the profile cannot be read or
// does not fit the picture (a PNG may not carry an RGB profile on gray samples or the reverse).
std::string profile_name(const Image& image) {
    cmsHPROFILE p = cmsOpenProfileFromMem(image.profile, image.profile_size);
    if (!p) return {};
    const bool color = image.type == image_color24 || image.type == image_color48;
    const cmsColorSpaceSignature space = cmsGetColorSpace(p);
    std::string name;
    if (space == (color ? cmsSigRgbData : cmsSigGrayData)) {
        char text[80] = {};
        if (cmsGetProfileInfoASCII(p, cmsInfoDescription, "en", "US", text, sizeof text) > 1) {
            name = text;
        }
        // Keywords are 1 to 79 Latin-1 characters without leading or trailing blanks.
        while (!name.empty() && name.back() == ' ') name.pop_back();
        while (!name.empty() && name.front() == ' ') name.erase(0, 1);
        name = name.empty() ? std::string("ICC profile") : name.substr(0, 79);
    }
    cmsCloseProfile(p);
    return name;
}

// One output line, top of the picture first: the picture's row r in the file's sample order.
void fill_line(const Image& image, const Image* alpha, std::uint32_t r,
               std::vector<png_byte>& line) {
    const std::uint8_t* src = image.rows[r];
    const std::uint8_t* a = alpha ? alpha->rows[r] : nullptr;
    std::size_t o = 0;
    for (std::uint32_t x = 0; x < image.width; ++x) {
        switch (image.type) {
            case image_gray8:
                line[o++] = src[x];
                if (a) line[o++] = a[x];
                break;
            case image_color24:
                line[o++] = src[3 * x + 2];
                line[o++] = src[3 * x + 1];
                line[o++] = src[3 * x];
                if (a) line[o++] = a[x];
                break;
            case image_gray16: {
                std::uint16_t v = sample16(src, x);
                line[o++] = static_cast<png_byte>(v >> 8);
                line[o++] = static_cast<png_byte>(v);
                if (a) {
                    line[o++] = a[x];
                    line[o++] = a[x];  // 8-bit alpha x 257
                }
                break;
            }
            default:  // 48-bit: red, green, blue, big-endian
                for (int c = 2; c >= 0; --c) {
                    std::uint16_t v = sample16(src, 3 * x + static_cast<std::uint32_t>(c));
                    line[o++] = static_cast<png_byte>(v >> 8);
                    line[o++] = static_cast<png_byte>(v);
                }
                if (a) {
                    line[o++] = a[x];
                    line[o++] = a[x];
                }
                break;
        }
    }
}

struct PngJob {
    const Image* image = nullptr;
    const Image* alpha = nullptr;
    int color_type = PNG_COLOR_TYPE_GRAY;
    int depth = 8;
    std::int32_t metadata_mode = 0;
    const EmbeddedMetadata* embed = nullptr;
};

// Everything libpng does for one file; its errors jump back into encode().
void write_body(png_structp png, png_infop info, const PngJob& job) {
    const Image& image = *job.image;
    png_set_IHDR(png, info, image.width, image.height, job.depth, job.color_type,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    const double dpi = image.dpi > 0.0 ? image.dpi : 72.0;
    const png_uint_32 per_metre =
        static_cast<png_uint_32>(std::max(0, round_to_int(dpi * 39.3701)));
    png_set_pHYs(png, info, per_metre, per_metre, PNG_RESOLUTION_METER);
    std::string name;
    if (job.metadata_mode != 3 && image.profile && image.profile_size > 0) {
        // The profile goes in as it is, even when it looks like sRGB.
#ifdef PNG_SKIP_sRGB_CHECK_PROFILE
        png_set_option(png, PNG_SKIP_sRGB_CHECK_PROFILE, PNG_OPTION_ON);
#endif
        name = profile_name(image);
        if (!name.empty()) {
            png_set_iCCP(png, info, name.c_str(), PNG_COMPRESSION_TYPE_BASE, image.profile,
                         image.profile_size);
        }
    }
    std::vector<std::string> texts;
    std::vector<const char*> keys;
    for (const PngTextKeyword& k : png_text_keywords) {
        for (const MetadataTag* t = image.tags; t; t = t->next) {
            if (t->tag != k.tag || t->field_type != 2 || !t->data) continue;
            texts.emplace_back(reinterpret_cast<const char*>(t->data));
            keys.push_back(k.keyword);
            break;
        }
    }
    std::vector<png_text> chunks(texts.size());
    for (std::size_t i = 0; i < chunks.size(); ++i) {
        chunks[i].compression = PNG_TEXT_COMPRESSION_NONE;
        chunks[i].key = const_cast<png_charp>(keys[i]);
        chunks[i].text = texts[i].data();
        chunks[i].text_length = texts[i].size();
    }
    std::string xmp;
    if (job.embed && !job.embed->xmp.empty()) {
        xmp = job.embed->xmp;
        png_text t{};
        t.compression = PNG_ITXT_COMPRESSION_NONE;
        t.key = const_cast<png_charp>("XML:com.adobe.xmp");
        t.text = xmp.data();
        t.itxt_length = xmp.size();
        t.lang = const_cast<png_charp>("");
        t.lang_key = const_cast<png_charp>("");
        chunks.push_back(t);
    }
    if (!chunks.empty()) png_set_text(png, info, chunks.data(), static_cast<int>(chunks.size()));
    if (job.embed && !job.embed->exif.empty()) {
        png_set_eXIf_1(png, info, static_cast<png_uint_32>(job.embed->exif.size()),
                       reinterpret_cast<png_bytep>(const_cast<char*>(job.embed->exif.data())));
    }
    png_write_info(png, info);
    const std::size_t channels = png_get_channels(png, info);
    std::vector<png_byte> line(channels * image.width * (job.depth == 16 ? 2 : 1) + 8);
    for (std::uint32_t i = 0; i < image.height; ++i) {
        const std::uint32_t r = image.height - 1 - i;
        if (image.type == image_binary) {
            // Set bits are white, bit 7 leftmost: exactly a 1-bit gray PNG row.
            png_write_row(png, image.rows[r]);
        } else {
            fill_line(image, job.alpha, r, line);
            png_write_row(png, line.data());
        }
    }
    png_write_end(png, info);
}

// true when libpng failed.
bool encode(const PngJob& job, std::string& bytes) {
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, quiet_error, quiet_warning);
    if (!png) return true;
    png_infop info = png_create_info_struct(png);
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, info ? &info : nullptr);
        return true;
    }
    png_set_write_fn(png, &bytes, append_bytes, flush_nothing);
    write_body(png, info, job);
    png_destroy_write_struct(&png, &info);
    return false;
}

}  // namespace

bool write_png_file(const std::string& path, const Image& image, const Image* transparency,
                    std::int32_t metadata_mode, const EmbeddedMetadata* embed) {
    if (image.type < image_binary || image.type > image_color48 || !image.has_pixels()) return true;
    PngJob job;
    job.image = &image;
    job.metadata_mode = metadata_mode;
    job.embed = embed;
    if (transparency && transparency->has_pixels() && image.type != image_binary) {
        if (transparency->type != image_gray8 || transparency->width != image.width ||
            transparency->height != image.height) {
            return true;
        }
        job.alpha = transparency;
    }
    switch (image.type) {
        case image_binary:
            job.depth = 1;
            break;
        case image_gray8:
            job.color_type = job.alpha ? PNG_COLOR_TYPE_GRAY_ALPHA : PNG_COLOR_TYPE_GRAY;
            break;
        case image_color24:
            job.color_type = job.alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB;
            break;
        case image_gray16:
            job.color_type = job.alpha ? PNG_COLOR_TYPE_GRAY_ALPHA : PNG_COLOR_TYPE_GRAY;
            job.depth = 16;
            break;
        default:
            job.color_type = job.alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB;
            job.depth = 16;
            break;
    }
    std::string bytes;
    if (encode(job, bytes)) {
        show_error("Error writing PNG file");
        return true;
    }
    return write_file_atomic(path, bytes);
}

}  // namespace tessaly
