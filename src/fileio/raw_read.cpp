// Camera raw files through LibRaw (the thread-safe build): a 16-bit developed picture at 300 dpi
// with the shot's main facts as tags, for Raw Develop to work from.
#include <libraw/libraw.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <limits>
#include <memory>
#include <string>

#include "core/format.h"
#include "fileio/image_file.h"

namespace tessaly {

namespace {

constexpr double raw_dpi = 300.0;

std::uint32_t clamp_u32(double v) {
    if (!(v > 0.0)) return 0;
    if (v >= 4294967295.0) return std::numeric_limits<std::uint32_t>::max();
    return static_cast<std::uint32_t>(std::lround(v));
}

bool add_rationals(Image& picture, std::uint32_t tag, const std::uint32_t* pairs,
                   std::uint32_t count) {
    return image_add_tag(picture, tag, 5, count, pairs);
}

// Values from 1 up keep two decimals; smaller ones become 100 / n, so 1/250 s reads 100/25000.
bool add_rounded_rational(Image& picture, std::uint32_t tag, double v) {
    // A zero means the camera did not record it; no tag is better than a false zero.
    if (!(v > 0.0) || !std::isfinite(v)) return false;
    std::uint32_t pair[2];
    if (v >= 1.0) {
        pair[0] = clamp_u32(v * 100.0);
        pair[1] = 100;
    } else {
        pair[0] = 100;
        pair[1] = clamp_u32(100.0 / v);
    }
    return add_rationals(picture, tag, pair, 1);
}

bool add_text(Image& picture, std::uint32_t tag, const char* text, std::size_t capacity) {
    const std::size_t length = strnlen(text, capacity);
    if (length == 0) return false;
    const std::string value(text, length);
    return image_add_tag(picture, tag, 2, static_cast<std::uint32_t>(length + 1), value.c_str());
}

// Degrees, minutes and seconds, the seconds kept to four decimals.
bool add_position(Image& picture, std::uint32_t tag, const float* dms) {
    const std::uint32_t values[6] = {clamp_u32(dms[0] * 100.0),   100,
                                     clamp_u32(dms[1] * 100.0),   100,
                                     clamp_u32(dms[2] * 10000.0), 10000};
    return add_rationals(picture, tag, values, 3);
}

bool add_reference(Image& picture, std::uint32_t tag, char letter) {
    const char value[2] = {letter, 0};
    return image_add_tag(picture, tag, 2, 2, value);
}

bool add_tags(const libraw_data_t& data, Image& picture) {
    const libraw_imgother_t& other = data.other;
    if (other.timestamp != 0) {
        std::tm local{};
        const std::time_t stamp = other.timestamp;
        if (localtime_r(&stamp, &local)) {
            const std::string when =
                formatted("%4zd:%2zd:%2zd %2zd:%2zd:%2zd", local.tm_year + 1900, local.tm_mon + 1,
                          local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
            if (image_add_tag(picture, 306, 2, static_cast<std::uint32_t>(when.size() + 1),
                              when.c_str())) {
                return true;
            }
        }
    }
    if (add_rounded_rational(picture, 37386, other.focal_len) ||
        add_rounded_rational(picture, 33437, other.aperture) ||
        add_rounded_rational(picture, 33434, other.shutter)) {
        return true;
    }
    if (other.iso_speed > 0.0f) {
        const std::uint32_t iso = clamp_u32(other.iso_speed);
        if (image_add_tag(picture, 34855, 4, 1, &iso)) return true;
    }
    if (add_text(picture, 271, data.idata.make, sizeof data.idata.make) ||
        add_text(picture, 272, data.idata.model, sizeof data.idata.model) ||
        add_text(picture, 42035, data.lens.LensMake, sizeof data.lens.LensMake) ||
        add_text(picture, 42036, data.lens.Lens, sizeof data.lens.Lens)) {
        return true;
    }
    const libraw_gps_info_t& gps = other.parsed_gps;
    const bool located = gps.latitude[0] != 0.0f || gps.latitude[1] != 0.0f ||
                         gps.latitude[2] != 0.0f || gps.longitude[0] != 0.0f ||
                         gps.longitude[1] != 0.0f || gps.longitude[2] != 0.0f ||
                         gps.altitude != 0.0f;
    if (located) {
        return add_position(picture, 4, gps.longitude) || add_position(picture, 2, gps.latitude) ||
               add_reference(picture, 3, gps.longref) || add_reference(picture, 1, gps.latref);
    }
    return false;
}

// Sensor pixels one byte of a raw file may stand for: real compressions stay far below it, so
// only a file claiming a sensor its data cannot fill is refused.
constexpr std::uint64_t raw_pixels_per_byte = 64;
constexpr std::uint64_t raw_pixels_without_data = std::uint64_t{1} << 20;

// After open_file, before unpack allocates anything: true when the file cannot hold the sensor
// it declares (nothing shown: the caller reports the file as unreadable), or when what LibRaw
// and the picture need together exceeds the memory limit (shown as too large).
bool claims_too_much(const LibRaw& processor, std::uint64_t file_size) {
    const libraw_image_sizes_t& s = processor.imgdata.sizes;
    const std::uint64_t sensor = std::uint64_t{s.raw_width} * s.raw_height;
    if (sensor == 0 || s.width == 0 || s.height == 0) return true;
    if (sensor > file_size * raw_pixels_per_byte + raw_pixels_without_data) return true;
    // The unpacked sensor (one 16-bit sample a pixel behind a color filter, else four), the
    // four-sample working image and the developed copy LibRaw hands over.
    const std::uint64_t raw_bytes = sensor * (processor.imgdata.idata.filters ? 2 : 8);
    const std::uint64_t pixels = std::uint64_t{s.width} * s.height;
    const std::uint64_t decoder_bytes = raw_bytes + pixels * 8 + pixels * 6;
    // Area and sides do not change when the camera's rotation swaps width and height.
    return image_too_large(s.width, s.height, image_color48, decoder_bytes);
}

bool develop(LibRaw& processor, const std::string& path, Image& picture) {
    // LibRaw's own ceiling for the unpacked sensor, lowered to the image memory limit.
    const std::uint64_t limit_mb = std::max<std::uint64_t>(image_memory_limit() >> 20, 1);
    processor.imgdata.params.max_raw_memory_mb =
        static_cast<unsigned>(std::min<std::uint64_t>(limit_mb, LIBRAW_MAX_ALLOC_MB_DEFAULT));
    if (processor.open_file(path.c_str()) != LIBRAW_SUCCESS) return true;
    std::error_code error;
    const std::uintmax_t file_size = std::filesystem::file_size(path, error);
    if (error || claims_too_much(processor, file_size)) return true;
    processor.imgdata.params.output_bps = 16;
    // The camera's own white balance is what the photographer saw; Raw Develop refines it.
    processor.imgdata.params.use_camera_wb = 1;
    if (processor.unpack() != LIBRAW_SUCCESS || processor.dcraw_process() != LIBRAW_SUCCESS) {
        return true;
    }
    int width = 0, height = 0, colors = 0, bits = 0;
    processor.get_mem_image_format(&width, &height, &colors, &bits);
    std::uint32_t type = image_empty;
    if (colors == 1 && bits == 8) type = image_gray8;
    if (colors == 1 && bits == 16) type = image_gray16;
    if (colors == 3 && bits == 8) type = image_color24;
    if (colors == 3 && bits == 16) type = image_color48;
    if (type == image_empty || width <= 0 || height <= 0) return true;
    if (image_too_large(static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height),
                        type)) {
        return true;
    }
    if (image_alloc_single_block(picture, type, static_cast<std::uint32_t>(width),
                                 static_cast<std::uint32_t>(height), raw_dpi, true)) {
        return true;
    }
    // The block holds the top line first, the order LibRaw writes, so it writes in place.
    if (processor.copy_mem_image(picture.rows[picture.height - 1],
                                 static_cast<int>(picture.row_bytes), 1) != LIBRAW_SUCCESS) {
        return true;
    }
    return add_tags(processor.imgdata, picture);
}

}  // namespace

bool read_raw_file(const std::string& path, Image& picture) {
    interaction().status(formatted("Opening raw file: %s", path));
    image_free(picture);
    bool failed = true;
    try {
        auto processor = std::make_unique<LibRaw>(0);
        // LibRaw prints a damaged file's troubles on stderr; the caller reports the file instead.
        processor->set_dataerror_handler([](void*, const char*, int) {}, nullptr);
        failed = develop(*processor, path, picture);
        processor->recycle();
    } catch (...) {
        // LibRaw reports through codes, but an allocation inside it may still throw.
        failed = true;
    }
    if (failed) image_free(picture);
    return failed;
}

}  // namespace tessaly
