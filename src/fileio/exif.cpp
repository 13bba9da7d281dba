#include "fileio/exif.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "fileio/image_file.h"

namespace tessaly {

namespace {

constexpr std::uint32_t tag_orientation = 274;
constexpr std::uint32_t tag_exif_ifd = 34665;
constexpr std::uint32_t tag_gps_ifd = 34853;
constexpr std::uint32_t tag_interop_ifd = 40965;
constexpr std::uint32_t tag_icc_profile = 34675;

// Bytes per value in the file; 0 for types the tag list cannot hold.
std::uint32_t file_unit_size(std::uint32_t field_type) {
    switch (field_type) {
        case 1:
        case 2:
        case 6:
        case 7:
            return 1;
        case 3:
        case 8:
            return 2;
        case 4:
        case 9:
            return 4;
        case 5:
        case 10:
            return 8;
        default:
            return 0;
    }
}

struct ParsedTag {
    std::uint32_t tag;
    std::int32_t field_type;
    std::uint32_t count;
    std::vector<std::uint8_t> bytes;  // little-endian
};

class Reader {
  public:
    Reader(const std::uint8_t* data, std::size_t size)
        : data_(data), size_(size), values_left_(size) {}

    bool header(std::uint64_t& ifd0) {
        if (!data_ || size_ < 8) return true;
        if (data_[0] == 'I' && data_[1] == 'I') {
            big_ = false;
        } else if (data_[0] == 'M' && data_[1] == 'M') {
            big_ = true;
        } else {
            return true;
        }
        if (u16(2) != 42) return true;
        ifd0 = u32(4);
        return false;
    }

    // Reads one IFD; the offsets of the sub-IFDs it points to are returned (0 when absent).
    bool ifd(std::uint64_t offset, std::uint64_t* exif, std::uint64_t* gps) {
        if (offset < 8 || offset > size_ || size_ - offset < 2) return true;
        if (std::find(visited_.begin(), visited_.end(), offset) != visited_.end()) return true;
        visited_.push_back(offset);
        const std::uint32_t n = u16(offset);
        if ((size_ - offset - 2) / 12 < n) return true;
        for (std::uint32_t i = 0; i < n; ++i) entry(offset + 2 + 12 * std::uint64_t{i}, exif, gps);
        return false;
    }

    std::vector<ParsedTag> tags;
    std::vector<std::uint8_t> profile;
    bool has_profile = false;
    int orientation = 0;

  private:
    std::uint32_t u16(std::uint64_t at) const {
        const std::uint8_t* p = data_ + at;
        return big_ ? (std::uint32_t{p[0]} << 8) | p[1] : (std::uint32_t{p[1]} << 8) | p[0];
    }
    std::uint32_t u32(std::uint64_t at) const {
        const std::uint8_t* p = data_ + at;
        return big_ ? (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) |
                          (std::uint32_t{p[2]} << 8) | p[3]
                    : (std::uint32_t{p[3]} << 24) | (std::uint32_t{p[2]} << 16) |
                          (std::uint32_t{p[1]} << 8) | p[0];
    }

    void entry(std::uint64_t at, std::uint64_t* exif, std::uint64_t* gps) {
        const std::uint32_t tag = u16(at);
        const std::uint32_t type = u16(at + 2);
        const std::uint32_t count = u32(at + 4);
        if ((tag == tag_exif_ifd || tag == tag_gps_ifd || tag == tag_interop_ifd)) {
            // Pointers: followed from IFD0 only, never stored.
            std::uint64_t* target = tag == tag_exif_ifd ? exif : tag == tag_gps_ifd ? gps : nullptr;
            if (target && (type == 4 || type == 13) && count >= 1) *target = u32(at + 8);
            return;
        }
        const std::uint32_t unit = file_unit_size(type);
        if (unit == 0 || count == 0) return;
        const std::uint64_t bytes = std::uint64_t{count} * unit;
        std::uint64_t where = at + 8;
        if (bytes > 4) {
            where = u32(at + 8);
            if (where > size_ || size_ - where < bytes) return;
            // Entries may all point at the same bytes; what is kept never exceeds the block, so
            // a few kilobytes cannot claim gigabytes of copies.
            if (bytes > values_left_) return;
            values_left_ -= bytes;
        }
        if (tag == tag_icc_profile) {
            profile.assign(data_ + where, data_ + where + bytes);
            has_profile = true;
            return;
        }
        ParsedTag t{tag, static_cast<std::int32_t>(type), count, {}};
        if (type == 2) {
            const auto* p = data_ + where;
            const std::size_t length = std::find(p, p + bytes, 0) - p;
            t.bytes.assign(p, p + length);
            t.bytes.push_back(0);
            t.count = static_cast<std::uint32_t>(length + 1);
        } else {
            t.bytes.assign(data_ + where, data_ + where + bytes);
            // Each unit to little-endian; a rational is two 32-bit halves.
            const std::uint32_t word = unit == 8 ? 4 : unit;
            if (big_ && word > 1) {
                for (std::size_t k = 0; k < t.bytes.size(); k += word) {
                    std::reverse(t.bytes.begin() + static_cast<std::ptrdiff_t>(k),
                                 t.bytes.begin() + static_cast<std::ptrdiff_t>(k + word));
                }
            }
        }
        // Only a whole number is an orientation; any other 274 is kept as it is.
        if (tag == tag_orientation &&
            (type == 1 || type == 3 || type == 4 || type == 8 || type == 9)) {
            if (orientation == 0) {
                // The first value, little-endian by now.
                std::uint32_t v = 0;
                for (std::uint32_t k = unit; k-- > 0;) {
                    v = (v << 8) | t.bytes[k];
                }
                orientation = v <= 8 ? static_cast<int>(v) : 9;
            }
            // Stored upright: the reader turns the pixels.
            std::fill(t.bytes.begin(), t.bytes.begin() + unit, 0);
            t.bytes[0] = 1;
        }
        tags.push_back(std::move(t));
    }

    const std::uint8_t* data_;
    std::size_t size_;
    bool big_ = false;
    std::uint64_t values_left_;  // bytes of values outside the entries that may still be kept
    std::vector<std::uint64_t> visited_;
};

}  // namespace

bool exif_read_block(const std::uint8_t* data, std::size_t size, Image& picture, int& orientation) {
    orientation = 0;
    Reader reader(data, size);
    std::uint64_t ifd0 = 0;
    std::uint64_t exif = 0;
    std::uint64_t gps = 0;
    if (reader.header(ifd0) || reader.ifd(ifd0, &exif, &gps)) return true;
    // A sub-IFD that cannot be read only loses its own tags.
    if (exif != 0) (void)reader.ifd(exif, nullptr, nullptr);
    if (gps != 0) (void)reader.ifd(gps, nullptr, nullptr);

    // Handed over as one list: adding tags one at a time walks the list each time, which tens
    // of thousands of entries would turn into a hang.
    std::vector<MetadataTag> chain(reader.tags.size());
    for (std::size_t i = 0; i < chain.size(); ++i) {
        ParsedTag& t = reader.tags[i];
        chain[i] = {i + 1 < chain.size() ? &chain[i + 1] : nullptr, t.tag, t.field_type, t.count,
                    t.bytes.data()};
    }
    if (reader.has_profile &&
        attach_file_profile(picture, reader.profile.data(), reader.profile.size())) {
        return true;
    }
    if (!chain.empty() && image_copy_tags(picture, chain.data())) return true;
    orientation = reader.orientation;
    return false;
}

double exif_resolution_dpi(const Image& picture) {
    double dpi = 0.0;
    double unit = 2.0;
    for (const MetadataTag* t = picture.tags; t; t = t->next) {
        if (t->tag == 282 && t->field_type == 5 && t->count >= 1 && dpi == 0.0) {
            const std::uint8_t* d = t->data;
            const std::uint32_t num =
                d[0] | (d[1] << 8) | (d[2] << 16) | (std::uint32_t{d[3]} << 24);
            const std::uint32_t den =
                d[4] | (d[5] << 8) | (d[6] << 16) | (std::uint32_t{d[7]} << 24);
            if (den != 0) dpi = static_cast<double>(num) / den;
        } else if (t->tag == 296 && t->field_type == 3 && t->count >= 1) {
            unit = t->data[0] | (t->data[1] << 8);
        }
    }
    if (unit == 3.0) return dpi * 2.54;
    return unit == 2.0 ? dpi : 0.0;
}

}  // namespace tessaly
