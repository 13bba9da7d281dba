#include "fileio/metadata_copy.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <exiv2/bmffimage.hpp>
#include <exiv2/exiv2.hpp>
#include <fstream>
#include <memory>
#include <mutex>
#include <set>

#include "core/format.h"
#include "core/interaction.h"
#include "core/pending_file.h"
#include "fileio/exiftool.h"
#include "fileio/image_write.h"

namespace tessaly {

namespace {

std::atomic<bool> in_process{true};

// The XMP toolkit under Exiv2 keeps global state: one copy at a time. The lock is held while
// the returned guard lives, and the library is set up on first use.
std::unique_lock<std::mutex> exiv2_session() {
    static std::mutex m;
    std::unique_lock<std::mutex> lock(m);
    static std::once_flag once;
    std::call_once(once, [] {
        Exiv2::XmpParser::initialize();
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        Exiv2::enableBMFF(true);
    });
    return lock;
}

// The thumbnail of the picture saved as target, as a JPEG; true (after the message) when it
// cannot be made. No source, no thumbnail.
bool make_thumbnail(const Image* source, const std::string& target, std::string& jpeg) {
    if (!source || !thumbnail_jpeg(*source, jpeg)) return false;
    show_error("Cannot save thumbnail jpeg: %s", target);
    return true;
}

bool writable(int type) {
    return type == Exiv2::ImageType::jpeg || type == Exiv2::ImageType::tiff ||
           type == Exiv2::ImageType::png;
}

// Tags of the first directory that describe the pixels, their layout or blocks carried
// separately (XMP, IPTC, Photoshop resources, the profile): the saved file's own stay.
bool structure_tag(std::uint16_t tag) {
    static const std::set<std::uint16_t> tags = {
        0x00fe, 0x00ff, 0x0100, 0x0101, 0x0102, 0x0103, 0x0106, 0x0107, 0x0108, 0x0109,
        0x010a, 0x0111, 0x0112, 0x0115, 0x0116, 0x0117, 0x0118, 0x0119, 0x011a, 0x011b,
        0x011c, 0x0124, 0x0125, 0x013d, 0x0140, 0x0142, 0x0143, 0x0144, 0x0145, 0x014a,
        0x0152, 0x0153, 0x015b, 0x0200, 0x0201, 0x0202, 0x0203, 0x0205, 0x0206, 0x0207,
        0x0208, 0x0209, 0x0211, 0x0212, 0x0213, 0x02bc, 0x83bb, 0x8649, 0x8773, 0xc640};
    // DNG's and raw converters' private tags describe the raw data, not the photograph.
    return tags.count(tag) != 0 || (tag >= 0xc5d8 && tag <= 0xc5e0) ||
           (tag >= 0xc612 && tag <= 0xcd3f);
}

// Which of the original's EXIF entries go into the saved file. Not copied: the thumbnail and
// preview directories, the interoperability directory, the structure tags, the resolution and
// orientation, the component layout (the saved file's own), and GPS in mode 1.
bool copied(const Exiv2::Exifdatum& d, int mode, bool keep_unit) {
    const std::string group = d.groupName();
    if (group == "Image") {
        return !structure_tag(d.tag()) && !(keep_unit && d.tag() == 0x0128);
    }
    if (group == "Photo") return d.tag() != 0x9101;  // ComponentsConfiguration
    if (group == "GPSInfo") return mode != metadata_all_but_gps;
    return group == "MakerNote" || Exiv2::ExifTags::isMakerGroup(group);
}

// The resolution the writer gave the file (JFIF density or PNG pHYs), in dots per inch; 0 when
// it has none.
double written_dpi(const std::string& path, int type) {
    std::ifstream in(path, std::ios::binary);
    unsigned char b[64] = {};
    in.read(reinterpret_cast<char*>(b), sizeof b);
    if (type == Exiv2::ImageType::jpeg && b[2] == 0xff && b[3] == 0xe0 &&
        std::memcmp(b + 6, "JFIF", 5) == 0) {
        const double x = b[14] << 8 | b[15];
        return b[13] == 1 ? x : b[13] == 2 ? x * 2.54 : 0.0;
    }
    if (type == Exiv2::ImageType::png) {
        // The chunks after the signature, up to the pixels (the profile may come first).
        in.clear();
        in.seekg(8);
        for (int chunk = 0; chunk < 64 && in; ++chunk) {
            unsigned char h[17] = {};
            in.read(reinterpret_cast<char*>(h), 8);
            if (!in) break;
            const std::uint32_t length =
                std::uint32_t{h[0]} << 24 | std::uint32_t{h[1]} << 16 | h[2] << 8 | h[3];
            if (std::memcmp(h + 4, "IDAT", 4) == 0) break;
            if (std::memcmp(h + 4, "pHYs", 4) == 0 && length == 9) {
                in.read(reinterpret_cast<char*>(h + 8), 9);
                const std::uint32_t x =
                    std::uint32_t{h[8]} << 24 | std::uint32_t{h[9]} << 16 | h[10] << 8 | h[11];
                return in && h[16] == 1 ? x * 0.0254 : 0.0;
            }
            in.seekg(std::streamoff{length} + 4, std::ios::cur);
        }
    }
    return 0.0;
}

Exiv2::URational rational_dpi(double dpi) {
    return {static_cast<std::int32_t>(dpi * 10000 + 0.5), 10000};
}

void set_if_absent(Exiv2::ExifData& exif, const char* key, const std::string& type,
                   const std::string& value) {
    if (exif.findKey(Exiv2::ExifKey(key)) != exif.end()) return;
    const std::unique_ptr<Exiv2::Value> v(
        Exiv2::Value::create(Exiv2::TypeInfo::typeId(type)).release());
    v->read(value);
    exif.add(Exiv2::ExifKey(key), v.get());
}

// The tags a new EXIF block must hold, where the copy did not bring them; the same ones the
// ExifTool path adds.
void add_required(Exiv2::ExifData& exif, int type, double dpi) {
    if (exif.empty()) return;
    if (type != Exiv2::ImageType::tiff) {
        if (dpi > 0.0) {
            exif["Exif.Image.XResolution"] = rational_dpi(dpi);
            exif["Exif.Image.YResolution"] = rational_dpi(dpi);
            set_if_absent(exif, "Exif.Image.ResolutionUnit", "Short", "2");
        }
        set_if_absent(exif, "Exif.Image.YCbCrPositioning", "Short", "1");
    }
    Exiv2::ExifData::iterator components =
        exif.findKey(Exiv2::ExifKey("Exif.Photo.ComponentsConfiguration"));
    if (components != exif.end()) exif.erase(components);
    const std::unique_ptr<Exiv2::Value> v(Exiv2::Value::create(Exiv2::undefined).release());
    v->read("1 2 3 0");
    exif.add(Exiv2::ExifKey("Exif.Photo.ComponentsConfiguration"), v.get());
}

void set_thumbnail(Exiv2::ExifData& exif, const std::string& jpeg) {
    Exiv2::ExifThumb thumb(exif);
    thumb.setJpegThumbnail(reinterpret_cast<const Exiv2::byte*>(jpeg.data()),
                           static_cast<long>(jpeg.size()), Exiv2::URational(72, 1),
                           Exiv2::URational(72, 1), 2);
}

void drop_gps_xmp(Exiv2::XmpData& xmp) {
    for (auto it = xmp.begin(); it != xmp.end();) {
        if (it->groupName() == "exif" && it->tagName().rfind("GPS", 0) == 0) {
            it = xmp.erase(it);
        } else {
            ++it;
        }
    }
}

// The original's XMP packet as it goes on: re-encoded from the properties when the library can
// parse them (in mode 1 without the position), else as it stands; "" for none (and for a packet
// the library cannot parse that may hold a position, in mode 1). *parsed gets the properties.
std::string xmp_packet_of(Exiv2::Image& source, int mode, Exiv2::XmpData* parsed) {
    Exiv2::XmpData xmp = source.xmpData();
    if (!xmp.empty()) {
        if (mode == metadata_all_but_gps) drop_gps_xmp(xmp);
        std::string packet;
        if (Exiv2::XmpParser::encode(packet, xmp, Exiv2::XmpParser::useCompactFormat) != 0) {
            return {};
        }
        if (parsed) *parsed = xmp;
        return packet;
    }
    const std::string packet = source.xmpPacket();
    if (mode == metadata_all_but_gps && packet.find("GPS") != std::string::npos) return {};
    return packet;
}

void copy_xmp(Exiv2::Image& source, Exiv2::Image& out, int mode) {
    Exiv2::XmpData xmp;
    const std::string packet = xmp_packet_of(source, mode, &xmp);
    if (!xmp.empty()) {
        out.setXmpData(xmp);
        return;
    }
    if (packet.empty()) return;
    // Set as it stands: the library would refuse to take a packet it cannot parse. The TIFF
    // writer takes it from the data, the others from the image.
    out.xmpPacket() = packet;
    Exiv2::XmpData with_packet;
    with_packet.setPacket(packet);
    with_packet.usePacket(true);
    out.setXmpData(with_packet);
    out.writeXmpFromPacket(true);
}

// The original's EXIF entries merged into exif, then the thumbnail and the required tags.
void build_exif(Exiv2::ExifData& exif, const Exiv2::Image* source, int mode, int type,
                const std::string& thumbnail, double dpi) {
    if (source) {
        const bool keep_unit = type == Exiv2::ImageType::tiff;
        for (const Exiv2::Exifdatum& d : source->exifData()) {
            if (!copied(d, mode, keep_unit)) continue;
            auto existing = exif.findKey(Exiv2::ExifKey(d.key()));
            if (existing != exif.end()) exif.erase(existing);
            exif.add(d);
        }
    }
    if (!thumbnail.empty()) set_thumbnail(exif, thumbnail);
    add_required(exif, type, dpi);
}

// The file to be given metadata, read into memory: the library then builds the new file there
// instead of truncating and rewriting the one on disk, and the result replaces it in one rename.
struct InMemory {
    const void* mapped = nullptr;
    std::size_t mapped_size = 0;
    std::unique_ptr<Exiv2::Image> image;

    InMemory() = default;
    InMemory(const InMemory&) = delete;
    InMemory& operator=(const InMemory&) = delete;
    ~InMemory() {
        image.reset();
        if (mapped) ::munmap(const_cast<void*>(mapped), mapped_size);
    }

    // Throws the library's errors; true when the file cannot be read. The file is mapped, not
    // copied: the library reads it where it lies (and may patch its private copy of a page).
    bool open(const std::string& path) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0) return true;
        struct stat st {};
        if (::fstat(fd, &st) != 0 || st.st_size <= 0 ||
            static_cast<std::uint64_t>(st.st_size) > 0x7fffffff) {
            ::close(fd);
            return true;
        }
        mapped_size = static_cast<std::size_t>(st.st_size);
        void* p = ::mmap(nullptr, mapped_size, PROT_READ | PROT_WRITE, MAP_PRIVATE, fd, 0);
        ::close(fd);
        if (p == MAP_FAILED) return true;
        mapped = p;
        image.reset(Exiv2::ImageFactory::open(static_cast<const Exiv2::byte*>(mapped),
                                              static_cast<long>(mapped_size))
                        .release());
        image->readMetadata();
        return false;
    }

    // A file's bytes in memory, which the library may patch.
    void open_bytes(std::string& bytes) {
        image.reset(Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte*>(bytes.data()),
                                              static_cast<long>(bytes.size()))
                        .release());
        image->readMetadata();
    }

    // After writeMetadata: the new file's bytes to write; true when it fails.
    bool write_to(const ByteSink& write) {
        Exiv2::BasicIo& io = image->io();
        if (io.open() != 0) return true;
        const long size = io.size();
        const Exiv2::byte* data = io.mmap();
        const bool failed =
            write(reinterpret_cast<const char*>(data), static_cast<std::size_t>(size));
        io.munmap();
        io.close();
        return failed;
    }

    // The same into a file of its own that replaces path in one rename; on failure the file on
    // disk is as it was.
    bool replace(const std::string& path) {
        PendingFile file;
        return file.create(path, false) || write_to([&](const char* data, std::size_t size) {
                   return file.write(data, size);
               }) ||
               file.commit();
    }
};

}  // namespace

bool library_reads(const std::string& original) {
    if (!in_process) return false;
    const auto lock = exiv2_session();
    try {
        return Exiv2::ImageFactory::getType(original) != Exiv2::ImageType::none;
    } catch (const Exiv2::AnyError&) {
        return false;
    }
}

void set_metadata_in_process(bool on) {
    in_process = on;
}

bool metadata_in_process() {
    return in_process;
}

namespace {

// One rewrite of the target: the original's metadata when there is an original, and the
// thumbnail when there is a picture to make it from.
// With in_memory, the target's bytes are there (target only names it in messages) and the new
// file goes to write.
InProcess rewrite(const std::string& target, const std::string& original, int mode,
                  const Image* thumbnail_source, std::string* in_memory = nullptr,
                  const ByteSink* write = nullptr) {
    if (!in_process) return InProcess::not_handled;
    const bool copying = !original.empty();
    auto fail = [&](const std::string& detail) {
        if (copying) {
            show_error("Cannot copy metadata from file: %s%s", original, detail);
        } else {
            show_error("Cannot add thumbnail to file: %s%s", target, detail);
        }
        return InProcess::failed;
    };
    std::string thumbnail;
    if (make_thumbnail(thumbnail_source, target, thumbnail)) return InProcess::failed;
    const auto lock = exiv2_session();
    std::unique_ptr<Exiv2::Image> source;
    InMemory file;
    int type = Exiv2::ImageType::none;
    try {
        type = in_memory ? Exiv2::ImageFactory::getType(
                               reinterpret_cast<const Exiv2::byte*>(in_memory->data()),
                               static_cast<long>(in_memory->size()))
                         : Exiv2::ImageFactory::getType(target);
        if (!writable(type)) return InProcess::not_handled;
        if (copying) {
            source.reset(Exiv2::ImageFactory::open(original).release());
            source->readMetadata();
        }
        if (in_memory) {
            file.open_bytes(*in_memory);
        } else if (file.open(target)) {
            return fail("");
        }
    } catch (const Exiv2::AnyError&) {
        // A kind of file the library does not know: ExifTool may.
        return InProcess::not_handled;
    }
    try {
        Exiv2::Image& out = *file.image;
        Exiv2::ExifData exif = out.exifData();
        build_exif(exif, source.get(), mode, type, thumbnail,
                   in_memory ? 0.0 : written_dpi(target, type));
        out.setExifData(exif);
        if (copying) {
            out.setIptcData(source->iptcData());
            copy_xmp(*source, out, mode);
            if (type == Exiv2::ImageType::jpeg && !source->comment().empty()) {
                out.setComment(source->comment());
            }
        }
        out.writeMetadata();
        if (in_memory ? file.write_to(*write) : file.replace(target)) return fail("");
    } catch (const Exiv2::AnyError& e) {
        return fail("\\n" + std::string(e.what()));
    }
    return InProcess::done;
}

}  // namespace

InProcess copy_metadata_in_process(const std::string& original, const std::string& target, int mode,
                                   const Image* thumbnail_source) {
    if (original.empty()) return InProcess::not_handled;
    return rewrite(target, original, mode, thumbnail_source);
}

InProcess copy_metadata_into(std::string& file_bytes, const std::string& target,
                             const std::string& original, int mode, const Image* thumbnail_source,
                             const ByteSink& write) {
    return rewrite(target, original, mode, thumbnail_source, &file_bytes, &write);
}

InProcess add_thumbnail_in_process(const std::string& target, const Image& image) {
    return rewrite(target, "", metadata_all, &image);
}

InProcess embedded_metadata(const std::string& target, const std::string& original, int mode,
                            const Image* thumbnail_source, bool png, double dpi,
                            EmbeddedMetadata& out) {
    out = EmbeddedMetadata{};
    if (!in_process) return InProcess::not_handled;
    std::string thumbnail;
    if (make_thumbnail(thumbnail_source, target, thumbnail)) return InProcess::failed;
    const auto lock = exiv2_session();
    try {
        std::unique_ptr<Exiv2::Image> source;
        if (!original.empty()) {
            source.reset(Exiv2::ImageFactory::open(original).release());
            source->readMetadata();
            // The writers carry no IPTC in PNG files: the rewrite after them does.
            if (png && !source->iptcData().empty()) return InProcess::not_handled;
        }
        const int type = png ? Exiv2::ImageType::png : Exiv2::ImageType::jpeg;
        Exiv2::ExifData exif;
        build_exif(exif, source.get(), mode, type, thumbnail, dpi);
        if (!exif.empty()) {
            Exiv2::Blob blob;
            const Exiv2::ByteOrder order =
                source.get() && source->byteOrder() != Exiv2::invalidByteOrder
                    ? source->byteOrder()
                    : Exiv2::littleEndian;
            Exiv2::ExifParser::encode(blob, nullptr, 0, order, exif);
            // One JPEG segment holds at most 65533 bytes, six of them the "Exif" header.
            if (!png && blob.size() > 65527) return InProcess::not_handled;
            out.exif.assign(blob.begin(), blob.end());
        }
        if (source.get()) {
            out.xmp = xmp_packet_of(*source, mode, nullptr);
            // Longer packets need the extended XMP segments of JPEG: left to the rewrite.
            if (!png && out.xmp.size() > 65533 - 29) return InProcess::not_handled;
            if (!png) {
                if (!source->iptcData().empty()) {
                    Exiv2::DataBuf irb =
                        Exiv2::Photoshop::setIptcIrb(nullptr, 0, source->iptcData());
                    out.iptc.assign(reinterpret_cast<const char*>(irb.pData_),
                                    static_cast<std::size_t>(irb.size_));
                    if (out.iptc.size() > 65533 - 14) return InProcess::not_handled;
                }
                out.comment = source->comment();
                if (out.comment.size() > 65533) return InProcess::not_handled;
            }
        }
    } catch (const Exiv2::AnyError&) {
        return InProcess::not_handled;
    }
    return InProcess::done;
}

}  // namespace tessaly
