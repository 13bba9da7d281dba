#include <tiffio.h>
#include <unistd.h>

#include <cerrno>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/format.h"
#include "core/pending_file.h"
#include "fileio/image_write.h"
#include "fileio/metadata_copy.h"
#include "fileio/pixel_order.h"

namespace tessaly {

namespace {

void quiet(const char*, const char*, va_list) {}

// ASCII tags of the first directory that travel with the picture.
constexpr std::uint32_t ascii_tags[] = {TIFFTAG_IMAGEDESCRIPTION, TIFFTAG_MAKE,     TIFFTAG_MODEL,
                                        TIFFTAG_SOFTWARE,         TIFFTAG_DATETIME, TIFFTAG_ARTIST,
                                        TIFFTAG_COPYRIGHT};

// Strips of about this many bytes: few enough write calls and codec restarts, small enough for
// readers that take a strip at a time.
constexpr std::size_t strip_bytes = std::size_t{1} << 20;

// One file line, top of the picture first, in the file's sample order (RGB, 16-bit in the
// host's order as libtiff expects).
void fill_line(const Image& image, std::uint32_t r, std::uint8_t* line, std::size_t line_bytes) {
    const std::uint8_t* src = image.rows[r];
    switch (image.type) {
        case image_color24:
            swap_red_blue_24(src, line, image.width);
            break;
        case image_color48: {
            auto* out = reinterpret_cast<std::uint16_t*>(line);
            for (std::uint32_t x = 0; x < image.width; ++x) {
                out[3 * x] = sample16(src, 3 * x + 2);
                out[3 * x + 1] = sample16(src, 3 * x + 1);
                out[3 * x + 2] = sample16(src, 3 * x);
            }
            break;
        }
        default:
            std::memcpy(line, src, line_bytes);
            break;
    }
}

// A TIFF file built in memory, for the metadata step to take before anything reaches the disk.
struct MemoryFile {
    std::string bytes;
    std::uint64_t at = 0;

    static tmsize_t read(thandle_t h, void* data, tmsize_t n) {
        auto* m = static_cast<MemoryFile*>(h);
        const std::uint64_t left = m->at < m->bytes.size() ? m->bytes.size() - m->at : 0;
        const auto count =
            static_cast<std::size_t>(std::min<std::uint64_t>(left, static_cast<std::uint64_t>(n)));
        std::memcpy(data, m->bytes.data() + m->at, count);
        m->at += count;
        return static_cast<tmsize_t>(count);
    }
    static tmsize_t write(thandle_t h, void* data, tmsize_t n) {
        auto* m = static_cast<MemoryFile*>(h);
        const auto count = static_cast<std::size_t>(n);
        if (m->at == m->bytes.size()) {
            m->bytes.append(static_cast<const char*>(data), count);
        } else {
            if (m->at + count > m->bytes.size()) m->bytes.resize(m->at + count);
            std::memcpy(m->bytes.data() + m->at, data, count);
        }
        m->at += count;
        return n;
    }
    static toff_t seek(thandle_t h, toff_t offset, int whence) {
        auto* m = static_cast<MemoryFile*>(h);
        const std::uint64_t base = whence == SEEK_CUR   ? m->at
                                   : whence == SEEK_END ? m->bytes.size()
                                                        : 0;
        m->at = base + offset;
        return m->at;
    }
    static int close(thandle_t) { return 0; }
    static toff_t size(thandle_t h) { return static_cast<MemoryFile*>(h)->bytes.size(); }
    static int map(thandle_t, void**, toff_t*) { return 0; }
    static void unmap(thandle_t, void*, toff_t) {}
};

// What a libtiff pass writes: the whole file; its directory with a stand-in byte for each strip
// (for the metadata step to build its directory around); or only the strips, whose places
// are then handed back (the directory libtiff adds is left unused).
enum class Pass { whole, skeleton, strips };

struct StripPlace {
    std::uint64_t offset, size;
};

bool write_tiff(TIFF* tif, const Image& image, std::int32_t compression, std::int32_t metadata_mode,
                double dpi, Pass pass = Pass::whole, std::vector<StripPlace>* places = nullptr) {
    if (!tif) return true;
    const bool color = image.type == image_color24 || image.type == image_color48;
    const int bits = image.type == image_binary                                    ? 1
                     : (image.type == image_gray16 || image.type == image_color48) ? 16
                                                                                   : 8;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, image.width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, image.height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bits);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, color ? 3 : 1);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, color ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    TIFFSetField(tif, TIFFTAG_COMPRESSION,
                 compression == 1   ? COMPRESSION_LZW
                 : compression == 2 ? COMPRESSION_ADOBE_DEFLATE
                                    : COMPRESSION_NONE);
    TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, static_cast<float>(dpi));
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, static_cast<float>(dpi));
    const std::size_t line_bytes =
        image.type == image_binary
            ? (image.width + 7) / 8
            : static_cast<std::size_t>(image.width) * (color ? 3 : 1) * (bits / 8);
    const auto rows_per_strip = static_cast<std::uint32_t>(
        std::clamp<std::size_t>(strip_bytes / line_bytes, 1, image.height));
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rows_per_strip);
    const std::uint32_t strips = (image.height + rows_per_strip - 1) / rows_per_strip;
    if (pass != Pass::strips && metadata_mode != 3 && image.profile && image.profile_size > 0) {
        TIFFSetField(tif, TIFFTAG_ICCPROFILE, image.profile_size, image.profile);
    }
    for (std::uint32_t tag : ascii_tags) {
        for (const MetadataTag* t = image.tags; t && pass != Pass::strips; t = t->next) {
            if (t->tag == tag && t->field_type == 2 && t->data) {
                TIFFSetField(tif, tag, reinterpret_cast<const char*>(t->data));
                break;
            }
        }
    }
    if (pass == Pass::skeleton) {
        bool failed = false;
        std::uint8_t stand_in = 0;
        for (std::uint32_t s = 0; s < strips && !failed; ++s)
            failed = TIFFWriteRawStrip(tif, s, &stand_in, 1) < 0;
        if (!failed) failed = TIFFWriteDirectory(tif) == 0;
        TIFFClose(tif);
        return failed;
    }
    // Whole strips at once: libtiff writes an uncompressed strip with one call.
    std::vector<std::uint8_t> strip(line_bytes * rows_per_strip);
    bool failed = false;
    for (std::uint32_t y0 = 0, s = 0; y0 < image.height && !failed; y0 += rows_per_strip, ++s) {
        const std::uint32_t rows = std::min(rows_per_strip, image.height - y0);
        for (std::uint32_t i = 0; i < rows; ++i)
            fill_line(image, image.height - 1 - (y0 + i), strip.data() + i * line_bytes,
                      line_bytes);
        failed = TIFFWriteEncodedStrip(tif, s, strip.data(),
                                       static_cast<tmsize_t>(rows * line_bytes)) < 0;
    }
    if (!failed && places) {
        places->resize(strips);
        for (std::uint32_t s = 0; s < strips; ++s) {
            int error = 0;
            (*places)[s].offset = TIFFGetStrileOffsetWithErr(tif, s, &error);
            if (error) failed = true;
            (*places)[s].size = TIFFGetStrileByteCountWithErr(tif, s, &error);
            if (error) failed = true;
        }
    }
    if (!failed) failed = TIFFWriteDirectory(tif) == 0;
    TIFFClose(tif);
    return failed;
}

// libtiff writes through a copy of the pending file's descriptor, which it closes itself.
bool write_tiff_to(PendingFile& file, const Image& image, std::int32_t compression,
                   std::int32_t metadata_mode, double dpi) {
    const int fd = ::dup(file.fd());
    if (fd < 0) return true;
    TIFF* tif = TIFFFdOpen(fd, file.target().c_str(), "w");
    if (!tif) ::close(fd);
    return write_tiff(tif, image, compression, metadata_mode, dpi);
}

// A file written through libtiff at an offset of the pending file: libtiff's offsets are then
// this far from the real ones.
struct PlacedFile {
    int fd;
    std::uint64_t base;
    std::uint64_t at = 0, end = 0;

    static tmsize_t read(thandle_t h, void* data, tmsize_t n) {
        auto* f = static_cast<PlacedFile*>(h);
        const ssize_t got = ::pread(f->fd, data, static_cast<std::size_t>(n),
                                    static_cast<off_t>(f->base + f->at));
        if (got > 0) f->at += static_cast<std::uint64_t>(got);
        return got;
    }
    static tmsize_t write(thandle_t h, void* data, tmsize_t n) {
        auto* f = static_cast<PlacedFile*>(h);
        const auto* p = static_cast<const char*>(data);
        std::size_t left = static_cast<std::size_t>(n);
        while (left > 0) {
            const ssize_t w = ::pwrite(f->fd, p, left, static_cast<off_t>(f->base + f->at));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) return -1;
            p += w;
            left -= static_cast<std::size_t>(w);
            f->at += static_cast<std::uint64_t>(w);
        }
        f->end = std::max(f->end, f->at);
        return n;
    }
    static toff_t seek(thandle_t h, toff_t offset, int whence) {
        auto* f = static_cast<PlacedFile*>(h);
        const std::uint64_t origin = whence == SEEK_CUR ? f->at : whence == SEEK_END ? f->end : 0;
        f->at = origin + offset;
        return f->at;
    }
    static int close(thandle_t) { return 0; }
    static toff_t size(thandle_t h) { return static_cast<PlacedFile*>(h)->end; }
};

// Where the first directory of a classic TIFF in memory keeps the strips' places: the value
// arrays of StripOffsets and StripByteCounts, LONGs of the same count.
struct StripTables {
    bool little = true;
    std::uint32_t count = 0;
    std::size_t offsets = 0, sizes = 0;

    std::uint32_t get(const std::string& b, std::size_t at, int bytes) const {
        std::uint32_t v = 0;
        for (int i = 0; i < bytes; ++i) {
            const auto byte = static_cast<std::uint8_t>(b[at + (little ? bytes - 1 - i : i)]);
            v = v << 8 | byte;
        }
        return v;
    }
    void put(std::string& b, std::size_t at, std::uint32_t v) const {
        for (int i = 0; i < 4; ++i)
            b[at + (little ? i : 3 - i)] = static_cast<char>(v >> (8 * i) & 0xff);
    }

    // False when the file is not laid out as expected.
    bool find(const std::string& b) {
        if (b.size() < 8 || (b.compare(0, 4, "II*\0", 4) != 0 && b.compare(0, 4, "MM\0*", 4) != 0))
            return false;
        little = b[0] == 'I';
        const std::size_t ifd = get(b, 4, 4);
        if (ifd + 2 > b.size()) return false;
        const std::size_t entries = get(b, ifd, 2);
        if (ifd + 2 + entries * 12 > b.size()) return false;
        for (std::size_t e = 0; e < entries; ++e) {
            const std::size_t at = ifd + 2 + e * 12;
            const std::uint32_t tag = get(b, at, 2), type = get(b, at + 2, 2), n = get(b, at + 4, 4);
            if (tag != TIFFTAG_STRIPOFFSETS && tag != TIFFTAG_STRIPBYTECOUNTS) continue;
            if (type != TIFF_LONG || n == 0 || (count != 0 && n != count)) return false;
            count = n;
            const std::size_t values = n == 1 ? at + 8 : get(b, at + 8, 4);
            if (values + std::size_t{4} * n > b.size()) return false;
            (tag == TIFFTAG_STRIPOFFSETS ? offsets : sizes) = values;
        }
        return offsets != 0 && sizes != 0;
    }
};

// The file built in memory, given its metadata there and written once: the way for a
// directory the tables cannot be found in.
bool write_tiff_in_memory(PendingFile& file, const Image& image, std::int32_t compression,
                          std::int32_t metadata_mode, double dpi, const EmbeddedMetadata& embed) {
    MemoryFile memory;
    // The picture's bytes and a little for the directory: one allocation.
    memory.bytes.reserve(static_cast<std::size_t>(image.height) * image.row_bytes + (1 << 16));
    TIFF* tif = TIFFClientOpen(file.target().c_str(), "w", &memory, MemoryFile::read,
                               MemoryFile::write, MemoryFile::seek, MemoryFile::close,
                               MemoryFile::size, MemoryFile::map, MemoryFile::unmap);
    if (write_tiff(tif, image, compression, metadata_mode, dpi)) return true;
    bool io_failed = false;
    const ByteSink sink = [&](const char* data, std::size_t size) {
        io_failed = file.write(data, size);
        return io_failed;
    };
    if (embed.rewrite(memory.bytes, sink) == InProcess::done) return false;
    return io_failed || file.write(memory.bytes.data(), memory.bytes.size());
}

// The metadata step works on a file whose strips are one stand-in byte each, so that it builds
// the directory and metadata without copying the picture; that small file goes first, the
// strips are written once after it, and its strip tables are then pointed at them. A metadata
// step that fails leaves the picture written without it (after its message).
bool write_tiff_through(PendingFile& file, const Image& image, std::int32_t compression,
                        std::int32_t metadata_mode, double dpi, const EmbeddedMetadata& embed) {
    MemoryFile skeleton;
    TIFF* tif = TIFFClientOpen(file.target().c_str(), "w", &skeleton, MemoryFile::read,
                               MemoryFile::write, MemoryFile::seek, MemoryFile::close,
                               MemoryFile::size, MemoryFile::map, MemoryFile::unmap);
    if (write_tiff(tif, image, compression, metadata_mode, dpi, Pass::skeleton)) return true;
    std::string head;
    const ByteSink keep = [&](const char* data, std::size_t size) {
        head.append(data, size);
        return false;
    };
    if (embed.rewrite(skeleton.bytes, keep) != InProcess::done) {
        return write_tiff_to(file, image, compression, metadata_mode, dpi);
    }
    StripTables tables;
    if (!tables.find(head)) {
        return write_tiff_in_memory(file, image, compression, metadata_mode, dpi, embed);
    }
    head.resize((head.size() + 7) & ~std::size_t{7}, '\0');
    if (file.write(head.data(), head.size())) return true;
    PlacedFile placed{file.fd(), head.size()};
    std::vector<StripPlace> places;
    tif = TIFFClientOpen(file.target().c_str(), "w", &placed, PlacedFile::read, PlacedFile::write,
                         PlacedFile::seek, PlacedFile::close, PlacedFile::size, MemoryFile::map,
                         MemoryFile::unmap);
    if (write_tiff(tif, image, compression, metadata_mode, dpi, Pass::strips, &places) ||
        places.size() != tables.count) {
        return true;
    }
    for (std::size_t s = 0; s < places.size(); ++s) {
        const std::uint64_t offset = placed.base + places[s].offset;
        if (offset > 0xffffffffu || places[s].size > 0xffffffffu) return true;
        tables.put(head, tables.offsets + 4 * s, static_cast<std::uint32_t>(offset));
        tables.put(head, tables.sizes + 4 * s, static_cast<std::uint32_t>(places[s].size));
    }
    return ::pwrite(file.fd(), head.data(), head.size(), 0) != static_cast<ssize_t>(head.size());
}

}  // namespace

bool write_tiff_file(const std::string& path, const Image& image, std::int32_t compression,
                     std::int32_t metadata_mode, const EmbeddedMetadata* embed) {
    if (image.type < image_binary || image.type > image_color48 || !image.has_pixels()) return true;
    double dpi = image.dpi;
    if (!(dpi > 0.0)) {
        show_warning("Illegal image dpi -- will be set to 72.0");
        dpi = 72.0;
    }
    TIFFErrorHandler old_error = TIFFSetErrorHandler(quiet);
    TIFFErrorHandler old_warning = TIFFSetWarningHandler(quiet);
    PendingFile file;
    bool failed = file.create(path, false) ||
                  (embed && embed->rewrite
                       ? write_tiff_through(file, image, compression, metadata_mode, dpi, *embed)
                       : write_tiff_to(file, image, compression, metadata_mode, dpi));
    TIFFSetErrorHandler(old_error);
    TIFFSetWarningHandler(old_warning);
    if (!failed) failed = file.commit();
    if (failed) {
        show_error("Error writing TIFF file");
    }
    return failed;
}

}  // namespace tessaly
