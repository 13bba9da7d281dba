// Helpers shared by the file reader and writer tests: file bytes, sample files that Debian
// packages install, clean-failure checks, and a TIFF builder on top of libtiff.
#pragma once

#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "core/image.h"
#include "support/image_helpers.h"
#include "support/recording_interaction.h"

namespace tessaly::testing {

using Bytes = std::vector<std::uint8_t>;

inline Bytes file_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

inline void put_bytes(const std::string& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

// What a shell command prints ("" when it cannot run).
inline std::string command_output(const std::string& command) {
    std::string out;
    if (std::FILE* p = popen(command.c_str(), "r")) {
        char buf[4096];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
        pclose(p);
    }
    return out;
}

// The regular files a Debian package installed whose paths match an extended regex; none when
// the package is absent.
inline std::vector<std::string> package_files(const std::string& package,
                                              const std::string& pattern) {
    std::vector<std::string> out;
    std::string line;
    for (char c :
         command_output("dpkg -L " + package + " 2>/dev/null | grep -E '" + pattern + "'")) {
        if (c != '\n') {
            line += c;
            continue;
        }
        if (std::filesystem::is_regular_file(line)) out.push_back(line);
        line.clear();
    }
    return out;
}

// Line y counted from the top: an Image keeps its bottom line in rows[0].
inline const std::uint8_t* top_row(const Image& image, std::uint32_t y) {
    return image.rows[image.height - 1 - y];
}

// Bytes of one row that hold pixels, padding aside.
inline std::uint32_t pixel_row_bytes(const Image& image) {
    switch (image.type) {
        case image_binary:
            return (image.width + 7) / 8;
        case image_gray8:
            return image.width;
        case image_color24:
            return 3 * image.width;
        case image_gray16:
            return 2 * image.width;
        default:
            return 6 * image.width;
    }
}

// A picture whose rows and channels all differ; unused bits of binary rows stay clear, as a
// reader leaves them.
inline Image patterned(std::uint32_t type, std::uint32_t width, std::uint32_t height,
                       double dpi = 300.0) {
    Image image;
    EXPECT_FALSE(image_alloc(image, type, width, height, dpi));
    fill_pattern(image, pixel_row_bytes(image), width + type);
    if (type == image_binary && width % 8) {
        for (std::uint32_t r = 0; r < height; ++r)
            image.rows[r][width / 8] &= static_cast<std::uint8_t>(0xFF00u >> (width % 8));
    }
    return image;
}

// Same type, size and pixel bytes (padding, resolution and profile aside).
inline ::testing::AssertionResult same_pixels(const Image& a, const Image& b) {
    if (a.type != b.type || a.width != b.width || a.height != b.height) {
        return ::testing::AssertionFailure()
               << "type " << b.type << " " << b.width << "x" << b.height << " instead of " << a.type
               << " " << a.width << "x" << a.height;
    }
    for (std::uint32_t r = 0; r < a.height; ++r) {
        if (std::memcmp(a.rows[r], b.rows[r], pixel_row_bytes(a)) != 0)
            return ::testing::AssertionFailure() << "row " << r << " differs";
    }
    return ::testing::AssertionSuccess();
}

// Sets the image memory limit until the end of the scope.
class MemoryLimit {
  public:
    explicit MemoryLimit(std::uint64_t bytes) : before_(image_memory_limit()) {
        image_set_memory_limit(bytes);
    }
    ~MemoryLimit() { image_set_memory_limit(before_); }
    MemoryLimit(const MemoryLimit&) = delete;
    MemoryLimit& operator=(const MemoryLimit&) = delete;

  private:
    std::uint64_t before_;
};

// One read with the messages it reported. Read is called as read(path, picture) and returns
// true on failure, like the readers.
struct Outcome {
    Image picture;
    bool failed = true;
    std::vector<std::string> errors;
};

template <class Read>
Outcome read_recorded(const std::string& path, Read&& read) {
    RecordingScope scope;
    Outcome o;
    o.failed = read(path, o.picture);
    o.errors = scope.recorder.errors();
    return o;
}

// The read failed, left an empty picture and reported exactly this message (or one starting
// with it, when prefix).
inline ::testing::AssertionResult failed_with(const Outcome& o, const std::string& message,
                                              bool prefix = false) {
    if (!o.failed) return ::testing::AssertionFailure() << "the read succeeded";
    if (!is_empty_record(o.picture)) return is_empty_record(o.picture);
    if (o.errors.size() != 1 ||
        (prefix ? o.errors[0].rfind(message, 0) != 0 : o.errors[0] != message)) {
        auto f = ::testing::AssertionFailure() << "errors:";
        for (const auto& e : o.errors) f << " [" << e << "]";
        return f << " instead of [" << message << "]";
    }
    return ::testing::AssertionSuccess();
}

// Files of other people that may be broken or hostile: each read either fails cleanly with one
// message, or gives a whole picture. Returns how many failed.
template <class Read>
int expect_whole_or_nothing(const std::vector<std::string>& paths, Read&& read) {
    int failed = 0;
    for (const std::string& path : paths) {
        SCOPED_TRACE(path);
        const Outcome o = read_recorded(path, read);
        if (o.failed) {
            ++failed;
            EXPECT_TRUE(is_empty_record(o.picture));
            EXPECT_EQ(o.errors.size(), 1u);
        } else {
            EXPECT_TRUE(o.picture.has_pixels());
            EXPECT_GT(o.picture.width, 0u);
            EXPECT_GT(o.picture.height, 0u);
            EXPECT_GE(o.picture.type, image_binary);
            EXPECT_LE(o.picture.type, image_color48);
        }
    }
    return failed;
}

// --- TIFF files written with libtiff ---

// What a test TIFF holds; samples are given top line first, in file order.
struct TiffLayout {
    std::uint32_t width = 5, height = 3;
    std::uint16_t bits = 8, samples = 1;
    std::uint16_t photometric = PHOTOMETRIC_MINISBLACK;
    std::uint16_t compression = COMPRESSION_NONE;
    std::uint16_t planar = PLANARCONFIG_CONTIG;
    std::uint16_t extra = 0xFFFF;  // extra sample kind, none when 0xFFFF
    std::uint32_t tile = 0;        // tile side, stripped when 0
    std::uint32_t rows_per_strip = 2;
    std::function<void(TIFF*)> more;  // extra tags
    // Sample of pixel (x, y), channel c; distinct values that fit the depth when not given.
    std::function<std::uint32_t(std::uint32_t, std::uint32_t, std::uint32_t)> value;

    std::uint32_t sample(std::uint32_t x, std::uint32_t y, std::uint32_t c) const {
        if (value) return value(x, y, c);
        const std::uint32_t v = x * 37 + y * 101 + c * 53 + 7;
        return bits == 16 ? (v * 977) & 0xFFFF : v & ((1u << bits) - 1);
    }
};

// One file line of samples first..first+count-1 per pixel, width pixels (zero past the picture).
inline Bytes tiff_line(const TiffLayout& s, std::uint32_t y, std::uint32_t first,
                       std::uint32_t count, std::uint32_t width) {
    Bytes line((std::size_t{width} * count * s.bits + 7) / 8, 0);
    std::size_t bit = 0;
    for (std::uint32_t x = 0; x < width; ++x) {
        for (std::uint32_t c = first; c < first + count; ++c, bit += s.bits) {
            const std::uint32_t v = x < s.width ? s.sample(x, y, c) : 0;
            if (s.bits == 16) {
                const auto h = static_cast<std::uint16_t>(v);
                std::memcpy(&line[bit / 8], &h, 2);
            } else {
                // Most significant bit first, whatever the depth (12-bit samples span bytes).
                for (std::uint32_t k = 0; k < s.bits; ++k) {
                    const std::size_t at = bit + k;
                    if ((v >> (s.bits - 1 - k)) & 1)
                        line[at / 8] |= static_cast<std::uint8_t>(0x80u >> (at % 8));
                }
            }
        }
    }
    return line;
}

inline bool write_tiff(const std::string& path, const TiffLayout& s) {
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    if (!tif) return false;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, s.width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, s.height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, s.bits);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, s.samples);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, s.photometric);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, s.compression);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, s.planar);
    if (s.extra != 0xFFFF) {
        std::uint16_t kinds[1] = {s.extra};
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, kinds);
    }
    if (s.compression == COMPRESSION_JPEG) TIFFSetField(tif, TIFFTAG_JPEGQUALITY, 100);
    if (s.more) s.more(tif);
    const std::uint32_t planes = s.planar == PLANARCONFIG_SEPARATE ? s.samples : 1;
    const std::uint32_t per_plane = planes == 1 ? s.samples : 1;
    bool ok = true;
    if (s.tile) {
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, s.tile);
        TIFFSetField(tif, TIFFTAG_TILELENGTH, s.tile);
        Bytes tile(static_cast<std::size_t>(TIFFTileSize(tif)));
        const std::size_t tile_line = tile.size() / s.tile;
        for (std::uint32_t p = 0; p < planes; ++p)
            for (std::uint32_t ty = 0; ty < s.height; ty += s.tile)
                for (std::uint32_t tx = 0; tx < s.width; tx += s.tile) {
                    std::fill(tile.begin(), tile.end(), 0);
                    for (std::uint32_t r = 0; r < s.tile && ty + r < s.height; ++r) {
                        const Bytes line =
                            tiff_line(s, ty + r, p * per_plane, per_plane, tx + s.tile);
                        const std::size_t from = std::size_t{tx} * per_plane * s.bits / 8;
                        std::memcpy(&tile[r * tile_line], &line[from], tile_line);
                    }
                    ok = ok && TIFFWriteTile(tif, tile.data(), tx, ty, 0,
                                             static_cast<std::uint16_t>(p)) >= 0;
                }
    } else {
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, s.rows_per_strip);
        for (std::uint32_t p = 0; p < planes; ++p)
            for (std::uint32_t y = 0; y < s.height && ok; ++y) {
                Bytes line = tiff_line(s, y, p * per_plane, per_plane, s.width);
                ok = TIFFWriteScanline(tif, line.data(), y, static_cast<std::uint16_t>(p)) >= 0;
            }
    }
    TIFFClose(tif);
    return ok;
}

}  // namespace tessaly::testing
