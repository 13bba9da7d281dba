// Profile conversion next to libvips (vips_icc_transform, C API, image in memory) and Little
// CMS's own tificc command on the same pictures: 6000 x 4000, 24-bit and 48-bit, from sRGB to
// Adobe RGB, perceptual intent, two threads for us and for libvips. tificc runs on one thread
// and is timed from here as a whole process, reading and writing its TIFF files on /dev/shm.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vips/vips.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "color/color_transform.h"
#include "compare_picture.h"
#include "compare_support.h"
#include "core/image.h"
#include "fileio/image_file.h"
#include "fileio/image_write.h"

extern char** environ;

namespace tessaly::bench {

namespace {

constexpr std::uint32_t width = 6000;
constexpr std::uint32_t height = 4000;
const char* const srgb_path = "/usr/share/color/icc/sRGB.icc";
const char* const adobe_path = "/usr/share/color/icc/compatibleWithAdobeRGB1998.icc";

[[noreturn]] void fail(const std::string& what) {
    bench::vips_fail("compare", what);
}

std::vector<std::uint8_t> read_bytes(const char* path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                    std::istreambuf_iterator<char>()};
    if (bytes.empty()) fail(std::string("reading ") + path);
    return bytes;
}

// Smooth gradients over the whole cube with hashed grain, so no colour repeats for long.
Image make_picture(bool deep) {
    Image image;
    if (image_alloc(image, deep ? image_color48 : image_color24, width, height, 300.0))
        fail("allocating the picture");
    for (std::uint32_t y = 0; y < height; ++y) {
        std::uint8_t* row = image.rows[y];
        for (std::uint32_t x = 0; x < width; ++x) {
            std::uint32_t h = (x * 73856093u) ^ (y * 19349663u);
            h ^= h >> 13;
            h *= 0x5bd1e995u;
            const std::uint32_t v[3] = {x * 65535 / width, y * 65535 / height,
                                        ((x + y) * 65535 / (width + height) + (h >> 20)) & 65535};
            for (int c = 0; c < 3; ++c) {
                if (deep) {
                    set_sample16(row, 3 * x + c, static_cast<std::uint16_t>(v[c]));
                } else {
                    row[3 * x + c] = static_cast<std::uint8_t>(v[c] >> 8);
                }
            }
        }
    }
    return image;
}

// libvips wants red, green, blue in one block.
std::vector<std::uint8_t> rgb_block(const Image& image, std::size_t sample_bytes) {
    const std::size_t pixel = 3 * sample_bytes;
    std::vector<std::uint8_t> block(pixel * image.width * image.height);
    for (std::uint32_t y = 0; y < image.height; ++y) {
        std::uint8_t* out = block.data() + pixel * image.width * y;
        const std::uint8_t* in = image.rows[y];
        for (std::uint32_t x = 0; x < image.width; ++x) {
            for (std::size_t c = 0; c < 3; ++c) {
                std::memcpy(out + pixel * x + sample_bytes * (2 - c),
                            in + pixel * x + sample_bytes * c, sample_bytes);
            }
        }
    }
    return block;
}

void run_tificc(const std::vector<std::string>& args) {
    std::vector<std::string> all = args;
    all.insert(all.begin(), "tificc");
    if (bench::run_command(all)) fail("tificc (liblcms2-utils)");
}

struct Entry {
    std::string operation;
    double ours = 0.0, vips = 0.0, tificc = 0.0;
    double diff_vips = 0.0, diff_tificc = 0.0;
};

Entry measure(bool deep, int runs, const std::string& folder) {
    Entry entry;
    entry.operation = deep ? "sRGB -> Adobe, 48-bit" : "sRGB -> Adobe, 24-bit";
    const std::vector<std::uint8_t> srgb = read_bytes(srgb_path);
    const std::vector<std::uint8_t> adobe = read_bytes(adobe_path);
    const auto convert = [&](Image& image) {
        if (convert_image_profile(image, srgb.data(), static_cast<std::uint32_t>(srgb.size()),
                                  adobe.data(), static_cast<std::uint32_t>(adobe.size()), 0)) {
            fail("convert_image_profile");
        }
    };

    const Image picture = make_picture(deep);
    Image reference;
    if (image_copy(picture, reference)) fail("image_copy");
    convert(reference);
    // In place: every run converts the previous run's pixels again, the same work each time.
    Image work;
    if (image_copy(picture, work)) fail("image_copy");

    const std::size_t sample_bytes = deep ? 2 : 1;
    std::vector<std::uint8_t> block = rgb_block(picture, sample_bytes);
    VipsImage* in = vips_image_new_from_memory(block.data(), block.size(), static_cast<int>(width),
                                               static_cast<int>(height), 3,
                                               deep ? VIPS_FORMAT_USHORT : VIPS_FORMAT_UCHAR);
    if (!in) fail("vips_image_new_from_memory");
    std::vector<std::uint8_t> vips_result;
    const auto vips = [&] {
        VipsImage* out = nullptr;
        if (vips_icc_transform(in, &out, adobe_path, "input_profile", srgb_path, "intent",
                               VIPS_INTENT_PERCEPTUAL, "depth", deep ? 16 : 8, nullptr)) {
            fail("vips_icc_transform");
        }
        if (bench::vips_pixels(out, vips_result)) fail("vips_image_write_to_memory");
    };

    const std::string tif_in = folder + "/tessaly-color-in.tif";
    const std::string tif_out = folder + "/tessaly-color-out.tif";
    if (write_tiff_file(tif_in, picture, 0, 3)) fail("write_tiff_file");
    const std::vector<std::string> args = {"-n",
                                           deep ? "-w16" : "-w8",
                                           "-t0",
                                           std::string("-i") + srgb_path,
                                           std::string("-o") + adobe_path,
                                           tif_in,
                                           tif_out};

    const std::vector<double> medians =
        bench::median_ms({[&] { convert(work); }, vips, [&] { run_tificc(args); }}, runs);
    entry.ours = medians[0];
    entry.vips = medians[1];
    entry.tificc = medians[2];
    g_object_unref(in);
    entry.diff_vips = vips_result.size() == block.size()
                          ? mean_difference(reference, vips_result.data(), deep, true)
                          : -1.0;  // a result of another size: printed as negative
    Image theirs;
    if (read_tiff_file(tif_out, theirs, nullptr)) fail("read_tiff_file");
    std::vector<std::uint8_t> tificc_block;
    for (std::uint32_t y = 0; y < theirs.height; ++y) {
        tificc_block.insert(tificc_block.end(), theirs.rows[y],
                            theirs.rows[y] + 3 * sample_bytes * theirs.width);
    }
    entry.diff_tificc = mean_difference(reference, tificc_block.data(), deep, false);
    std::filesystem::remove(tif_in);
    std::filesystem::remove(tif_out);
    return entry;
}

}  // namespace

// The colour section of bin/compare; the caller has set two threads for us and for libvips.
void run_color_compare(int runs) {
    const std::string folder = std::filesystem::is_directory("/dev/shm")
                                   ? "/dev/shm"
                                   : std::filesystem::temp_directory_path().string();
    std::printf(
        "\nProfile conversion sRGB -> Adobe RGB (1998), 6000 x 4000, perceptual, median of "
        "%d runs (ms); tificc is one thread and includes its TIFF files on %s\n",
        runs, folder.c_str());
    std::printf("load average before: %s\n", load_average().c_str());
    std::vector<Entry> entries;
    for (bool deep : {false, true}) entries.push_back(measure(deep, runs, folder));
    std::printf("load average after: %s\n", load_average().c_str());
    std::printf("\n%-22s %10s %10s %10s %10s %10s   %s\n", "operation", "tessaly", "vips", "tificc",
                "ours/vips", "ours/tificc", "mean |diff| vips, tificc (8-bit levels)");
    for (const Entry& e : entries) {
        std::printf("%-22s %10.1f %10.1f %10.1f %10.2f %10.2f   %.3f, %.3f\n", e.operation.c_str(),
                    e.ours, e.vips, e.tificc, e.ours / e.vips, e.ours / e.tificc, e.diff_vips,
                    e.diff_tificc);
    }
}

}  // namespace tessaly::bench
