// Our file readers and writers next to libvips on the same 6000 x 4000 picture: decoding and
// encoding a JPEG (quality 92, 4:2:0), an uncompressed TIFF and an LZW TIFF (8-bit RGB, no
// predictor). Each row is timed three ways, all with two threads:
//
//   tessaly    read_image_file / write_image_file (src/fileio), in this process;
//   vips API   libvips's C API in this process: vips_image_new_from_file with sequential access
//              written to memory, or vips_jpegsave / vips_tiffsave from an image in memory;
//   vips copy  the `vips copy` command started with posix_spawn and waited for (wall time with
//              the process start); decoding writes a raw .v file, encoding reads one (mapped).
//
// The files to decode are written by libvips, so that neither side reads a file laid out by its
// own writer. The three are timed in turn, run after run, and the median time of each is printed
// with ours divided by each peer and by the fastest peer; a ratio below 1 means we are faster.
//
//   codec_compare [--only TEXT] [runs] [folder]
//       --only   the rows whose name contains TEXT ("JPEG", "decode", "LZW encode", ...)
//       runs     timed runs per entry after one warm-up run (default 7)
//       folder   where the files go (default: a new folder under /dev/shm, else /tmp, removed
//                at the end); on a disk folder our JPEG writer's fsync is part of the time
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vips/vips.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "compare_support.h"
#include "core/image.h"
#include "core/runner.h"
#include "fileio/image_file.h"
#include "fileio/image_write.h"
#include "fileio/save.h"
#include "fileio/save_options.h"

extern char** environ;

namespace {

using namespace tessaly;
namespace fs = std::filesystem;

constexpr std::uint32_t width = 6000;
constexpr std::uint32_t height = 4000;
constexpr int threads = 2;
constexpr int jpeg_quality = 92;

// --- the picture ---------------------------------------------------------------------------

std::uint32_t hash2(std::int32_t x, std::int32_t y, std::uint32_t seed) {
    std::uint32_t h = static_cast<std::uint32_t>(x) * 0x8da6b343u ^
                      static_cast<std::uint32_t>(y) * 0xd8163841u ^ seed * 0xcb1ab31fu;
    h ^= h >> 15;
    h *= 0x2c1b3c6du;
    h ^= h >> 12;
    h *= 0x297a2d39u;
    h ^= h >> 15;
    return h;
}

// Smooth value noise in 0..1 with lattice spacing `cell` pixels.
double value_noise(double x, double y, double cell, std::uint32_t seed) {
    const double fx = x / cell, fy = y / cell;
    const auto ix = static_cast<std::int32_t>(std::floor(fx));
    const auto iy = static_cast<std::int32_t>(std::floor(fy));
    double tx = fx - ix, ty = fy - iy;
    tx = tx * tx * (3.0 - 2.0 * tx);
    ty = ty * ty * (3.0 - 2.0 * ty);
    const auto v = [&](std::int32_t a, std::int32_t b) {
        return (hash2(a, b, seed) >> 8) / 16777215.0;
    };
    const double top = v(ix, iy) + (v(ix + 1, iy) - v(ix, iy)) * tx;
    const double bottom = v(ix, iy + 1) + (v(ix + 1, iy + 1) - v(ix, iy + 1)) * tx;
    return top + (bottom - top) * ty;
}

// Octaves of value noise from `cell` down to 4 pixels, each half as strong: terrain, foliage,
// grain.
double fractal(double x, double y, double cell, std::uint32_t seed) {
    double sum = 0.0, weight = 1.0, total = 0.0;
    for (; cell >= 4.0; cell /= 2.0, weight *= 0.55, ++seed) {
        sum += weight * value_noise(x, y, cell, seed);
        total += weight;
    }
    return sum / total;
}

double clamp01(double v) {
    return v < 0.0 ? 0.0 : (v > 1.0 ? 1.0 : v);
}

// A landscape-like photograph: a sky graded towards the horizon with soft clouds, a sun disc,
// hills with a textured surface, a lake reflecting the sky, a few hard-edged objects (posts),
// and mild sensor noise. Smooth areas, soft and hard edges and fine detail, all deterministic.
Image make_picture() {
    Image image;
    if (image_alloc(image, image_color24, width, height, 300.0)) {
        std::fprintf(stderr, "codec_compare: out of memory\n");
        std::exit(1);
    }
    const auto fill = [&](int first, int last, Progress&) -> std::uint8_t {
        for (int yi = first; yi <= last; ++yi) {
            const auto y = static_cast<double>(yi);  // from the top
            std::uint8_t* row = image.rows[height - 1 - static_cast<std::uint32_t>(yi)];
            for (std::uint32_t xi = 0; xi < width; ++xi) {
                const auto x = static_cast<double>(xi);
                const double ridge =
                    1500.0 + 500.0 * fractal(x, 0.0, 1600.0, 7) + 120.0 * std::sin(x / 700.0);
                const double shore = 3000.0 + 80.0 * std::sin(x / 900.0 + 1.0);
                double r, g, b;
                if (y < ridge) {  // sky
                    const double t = y / ridge;
                    r = 0.30 + 0.45 * t;
                    g = 0.50 + 0.35 * t;
                    b = 0.85 + 0.10 * t;
                    const double cloud = clamp01((fractal(x, y * 2.2, 900.0, 11) - 0.48) * 3.5);
                    r += (0.95 - r) * cloud;
                    g += (0.95 - g) * cloud;
                    b += (0.97 - b) * cloud;
                    const double d = std::hypot(x - 4300.0, y - 700.0);
                    const double sun = clamp01((260.0 - d) / 6.0) + 0.25 * std::exp(-d / 500.0);
                    r += sun;
                    g += 0.9 * sun;
                    b += 0.6 * sun;
                } else if (y < shore) {  // hills
                    const double t = (y - ridge) / (shore - ridge);
                    const double n = fractal(x, y, 512.0, 23);
                    const double leaf = fractal(x, y, 16.0, 31);
                    r = 0.18 + 0.25 * n + 0.10 * t + 0.12 * leaf;
                    g = 0.30 + 0.30 * n - 0.05 * t + 0.15 * leaf;
                    b = 0.12 + 0.10 * n + 0.05 * leaf;
                    const double field = fractal(x, y, 256.0, 41);
                    if (field > 0.62) {  // fields of another crop, with sharp borders
                        r += 0.25;
                        g += 0.15;
                    }
                } else {  // lake: the sky mirrored, rippled
                    const double ripple = 12.0 * std::sin(y / 5.0 + 3.0 * fractal(x, y, 64.0, 5));
                    const double my = std::max(0.0, 2.0 * shore - y + ripple - 1800.0);
                    const double t = clamp01(my / 1500.0);
                    r = 0.20 + 0.30 * t;
                    g = 0.35 + 0.30 * t;
                    b = 0.55 + 0.25 * t;
                    const double glint = fractal(x + ripple, y, 32.0, 17);
                    r += 0.15 * glint;
                    g += 0.15 * glint;
                    b += 0.12 * glint;
                }
                // Fence posts: dark, hard-edged, every 430 pixels along the shore.
                const auto post = static_cast<std::int32_t>(xi % 430u);
                if (post < 24 && y > shore - 500.0 && y < shore + 40.0) {
                    r = 0.22 + 0.05 * fractal(x, y, 8.0, 3);
                    g = 0.16;
                    b = 0.10;
                }
                const std::uint32_t h = hash2(static_cast<std::int32_t>(xi), yi, 99);
                const double grain[3] = {((h & 255) - 127.5) / 127.5,
                                         (((h >> 8) & 255) - 127.5) / 127.5,
                                         (((h >> 16) & 255) - 127.5) / 127.5};
                const double rgb[3] = {r, g, b};
                for (int c = 0; c < 3; ++c) {
                    const double v = clamp01(rgb[c]) * 255.0 + 2.5 * grain[c];
                    // Blue, green, red in the Image.
                    row[3 * xi + (2 - c)] =
                        static_cast<std::uint8_t>(std::lround(std::clamp(v, 0.0, 255.0)));
                }
            }
        }
        return 0;
    };
    (void)run_range(threads, fill, "", static_cast<int>(width), static_cast<int>(height), height,
                    false, false, false);
    return image;
}

// Top-first RGB, as libvips keeps pixels.
std::vector<std::uint8_t> rgb_block(const Image& image) {
    std::vector<std::uint8_t> block(std::size_t{3} * image.width * image.height);
    for (std::uint32_t y = 0; y < image.height; ++y) {
        const std::uint8_t* src = image.rows[image.height - 1 - y];
        std::uint8_t* dst = block.data() + std::size_t{3} * image.width * y;
        for (std::uint32_t x = 0; x < image.width; ++x) {
            dst[3 * x] = src[3 * x + 2];
            dst[3 * x + 1] = src[3 * x + 1];
            dst[3 * x + 2] = src[3 * x];
        }
    }
    return block;
}

// --- timing --------------------------------------------------------------------------------

// The three contenders in turn: ours, the libvips API, the `vips` command.
struct Medians {
    double ours = 0.0, api = 0.0, command = 0.0;
};

Medians interleaved_ms(const std::function<void()>& ours, const std::function<void()>& api,
                       const std::function<void()>& command, int runs) {
    const std::vector<double> m = bench::median_ms({ours, api, command}, runs);
    return {m[0], m[1], m[2]};
}

[[noreturn]] void fail(const char* what) {
    bench::vips_fail("codec_compare", what);
}

// Runs a command and waits for it; the environment carries VIPS_CONCURRENCY.
void run_command(const std::vector<std::string>& args) {
    if (bench::run_command(args)) {
        std::fprintf(stderr, "codec_compare: %s failed\n", args[0].c_str());
        std::exit(1);
    }
}

struct Entry {
    std::string operation;
    double ours = 0.0;
    double api = 0.0;
    double command = 0.0;
    std::string check;  // what was verified about the results
};

// --- decoding ------------------------------------------------------------------------------

// Largest absolute difference between our decoded picture and libvips's (top-first RGB).
int max_difference(const Image& ours, const std::uint8_t* theirs) {
    int most = 0;
    for (std::uint32_t y = 0; y < ours.height; ++y) {
        const std::uint8_t* row = ours.rows[ours.height - 1 - y];
        const std::uint8_t* other = theirs + std::size_t{3} * ours.width * y;
        for (std::uint32_t x = 0; x < ours.width; ++x) {
            for (int c = 0; c < 3; ++c)
                most = std::max(most, std::abs(row[3 * x + (2 - c)] - other[3 * x + c]));
        }
    }
    return most;
}

Entry measure_decode(const char* name, const std::string& file, const std::string& folder,
                     int runs) {
    Entry entry;
    entry.operation = name;
    Image picture, transparency;
    std::vector<std::uint8_t> theirs;
    const std::string raw = folder + "/decoded.v";
    const Medians m = interleaved_ms(
        [&] {
            if (read_image_file(file, picture, transparency)) {
                std::fprintf(stderr, "codec_compare: our reader failed on %s\n", file.c_str());
                std::exit(1);
            }
        },
        [&] {
            VipsImage* in =
                vips_image_new_from_file(file.c_str(), "access", VIPS_ACCESS_SEQUENTIAL, nullptr);
            if (!in) fail("vips_image_new_from_file");
            if (bench::vips_pixels(in, theirs)) fail("vips_image_write_to_memory");
        },
        [&] {
            run_command({"vips", "copy", file, raw});
        },
        runs);
    entry.ours = m.ours;
    entry.api = m.api;
    entry.command = m.command;
    fs::remove(raw);

    if (picture.type != image_color24 || picture.width != width || picture.height != height ||
        theirs.size() != std::size_t{3} * width * height) {
        entry.check = "different picture size or type!";
    } else {
        entry.check = "max |ours - vips| " + std::to_string(max_difference(picture, theirs.data()));
    }
    return entry;
}

// --- encoding ------------------------------------------------------------------------------

Entry measure_encode(const char* name, const Image& picture, VipsImage* in, const std::string& raw,
                     const std::string& folder, std::int32_t format, std::int32_t compression,
                     int runs) {
    Entry entry;
    entry.operation = name;
    const bool jpeg = format == save_jpeg;
    const std::string ext = jpeg ? ".jpg" : ".tif";
    SaveOptions options;
    options.jpeg.quality = jpeg_quality;
    options.jpeg.subsampling = 0;  // 4:2:0
    options.tiff.compression = compression;

    const std::string ours_file = folder + "/ours" + ext;
    const std::string api_file = folder + "/vips" + ext;
    const std::string options_text =
        jpeg ? "[Q=" + std::to_string(jpeg_quality) + ",subsample-mode=on]"
             : (compression == 1 ? "[compression=lzw,predictor=none]" : "[compression=none]");
    const std::string command_file = folder + "/command" + ext;
    const Medians m = interleaved_ms(
        [&] {
            if (write_image_file(ours_file, picture, nullptr, format, options) != write_done) {
                std::fprintf(stderr, "codec_compare: our writer failed\n");
                std::exit(1);
            }
        },
        [&] {
            const int failed =
                jpeg ? vips_jpegsave(in, api_file.c_str(), "Q", jpeg_quality, "subsample_mode",
                                     VIPS_FOREIGN_SUBSAMPLE_ON, nullptr)
                     : vips_tiffsave(in, api_file.c_str(), "compression",
                                     compression == 1 ? VIPS_FOREIGN_TIFF_COMPRESSION_LZW
                                                      : VIPS_FOREIGN_TIFF_COMPRESSION_NONE,
                                     "predictor", VIPS_FOREIGN_TIFF_PREDICTOR_NONE, nullptr);
            if (failed) fail(jpeg ? "vips_jpegsave" : "vips_tiffsave");
        },
        [&] {
            run_command({"vips", "copy", raw, command_file + options_text});
        },
        runs);
    entry.ours = m.ours;
    entry.api = m.api;
    entry.command = m.command;

    // Our file read back by libvips must be the picture (exactly for TIFF).
    Image back, alpha;
    const auto size = [](const std::string& f) { return fs::file_size(f) / 1000; };
    if (read_image_file(ours_file, back, alpha) || back.width != width || back.height != height) {
        entry.check = "our file does not read back!";
    } else if (!jpeg) {
        entry.check = image_equal(back, picture) ? "read back exact" : "read back DIFFERS!";
    } else {
        entry.check = "";
    }
    entry.check += (entry.check.empty() ? "" : ", ") + std::string("kB ours/api/copy ") +
                   std::to_string(size(ours_file)) + "/" + std::to_string(size(api_file)) + "/" +
                   std::to_string(size(command_file));
    fs::remove(ours_file);
    fs::remove(api_file);
    fs::remove(command_file);
    return entry;
}

// Other programs running beside this one change every figure: the load average is printed with
// the table.
void print_load(const char* when) {
    double load[3] = {0.0, 0.0, 0.0};
    if (getloadavg(load, 3) == 3)
        std::printf("load average %s: %.2f %.2f %.2f (1, 5, 15 minutes)\n", when, load[0], load[1],
                    load[2]);
}

std::string make_folder(const char* given) {
    if (given) {
        fs::create_directories(given);
        return given;
    }
    const std::string base = fs::is_directory("/dev/shm") ? "/dev/shm" : "/tmp";
    std::string pattern = base + "/codec_compare.XXXXXX";
    if (!mkdtemp(pattern.data())) {
        std::fprintf(stderr, "codec_compare: cannot make a folder in %s\n", base.c_str());
        std::exit(1);
    }
    return pattern;
}

}  // namespace

int main(int argc, char** argv) {
    std::string only;
    std::vector<const char*> positional;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--only") == 0 && i + 1 < argc) {
            only = argv[++i];
        } else {
            positional.push_back(argv[i]);
        }
    }
    const int runs = !positional.empty() ? std::max(1, std::atoi(positional[0])) : 7;
    const bool own_folder = positional.size() < 2;
    const std::string folder = make_folder(own_folder ? nullptr : positional[1]);
    const auto wanted = [&](const char* name) {
        return only.empty() || std::string(name).find(only) != std::string::npos;
    };
    if (VIPS_INIT(argv[0])) fail("VIPS_INIT");
    vips_cache_set_max(0);
    vips_concurrency_set(threads);
    setenv("VIPS_CONCURRENCY", std::to_string(threads).c_str(), 1);
    set_processor_count(threads);

    const Image picture = make_picture();
    std::vector<std::uint8_t> block = rgb_block(picture);
    VipsImage* in = vips_image_new_from_memory(block.data(), block.size(), static_cast<int>(width),
                                               static_cast<int>(height), 3, VIPS_FORMAT_UCHAR);
    if (!in) fail("vips_image_new_from_memory");
    // The files to decode, written by libvips; the raw picture that `vips copy` encodes from.
    const std::string jpeg = folder + "/source.jpg";
    const std::string tiff = folder + "/source.tif";
    const std::string lzw = folder + "/source-lzw.tif";
    const std::string raw = folder + "/source.v";
    if (vips_jpegsave(in, jpeg.c_str(), "Q", jpeg_quality, "subsample_mode",
                      VIPS_FOREIGN_SUBSAMPLE_ON, nullptr) ||
        vips_tiffsave(in, tiff.c_str(), "compression", VIPS_FOREIGN_TIFF_COMPRESSION_NONE,
                      nullptr) ||
        vips_tiffsave(in, lzw.c_str(), "compression", VIPS_FOREIGN_TIFF_COMPRESSION_LZW,
                      "predictor", VIPS_FOREIGN_TIFF_PREDICTOR_NONE, nullptr) ||
        vips_image_write_to_file(in, raw.c_str(), nullptr)) {
        fail("writing the source files");
    }

    std::printf("Codecs, 6000 x 4000 24-bit, %d threads, median of %d runs (ms), files in %s\n",
                threads, runs, folder.c_str());
    print_load("at the start");
    std::printf("JPEG quality %d, 4:2:0; TIFF 8-bit RGB, LZW without predictor\n", jpeg_quality);
    // The floor of every `vips copy` row: starting the program on a 1 x 1 picture.
    VipsImage* tiny = nullptr;
    if (vips_black(&tiny, 1, 1, nullptr) ||
        vips_image_write_to_file(tiny, (folder + "/tiny.v").c_str(), nullptr)) {
        fail("writing tiny.v");
    }
    g_object_unref(tiny);
    const double start_up = bench::median_ms(
        [&] {
            run_command({"vips", "copy", folder + "/tiny.v", folder + "/tiny-copy.v"});
        },
        runs);
    std::vector<Entry> entries;
    if (wanted("JPEG decode")) entries.push_back(measure_decode("JPEG decode", jpeg, folder, runs));
    if (wanted("JPEG encode"))
        entries.push_back(
            measure_encode("JPEG encode", picture, in, raw, folder, save_jpeg, 0, runs));
    if (wanted("TIFF none decode"))
        entries.push_back(measure_decode("TIFF none decode", tiff, folder, runs));
    if (wanted("TIFF none encode"))
        entries.push_back(
            measure_encode("TIFF none encode", picture, in, raw, folder, save_tiff, 0, runs));
    if (wanted("TIFF LZW decode"))
        entries.push_back(measure_decode("TIFF LZW decode", lzw, folder, runs));
    if (wanted("TIFF LZW encode"))
        entries.push_back(
            measure_encode("TIFF LZW encode", picture, in, raw, folder, save_tiff, 1, runs));
    g_object_unref(in);

    std::printf("\n%-18s %9s %9s %10s %9s %10s %13s   %s\n", "operation", "tessaly", "vips API",
                "vips copy", "ours/API", "ours/copy", "ours/fastest", "check");
    for (const Entry& e : entries) {
        const double fastest = std::min(e.api, e.command);
        std::printf("%-18s %9.1f %9.1f %10.1f %9.2f %10.2f %13.2f   %s\n", e.operation.c_str(),
                    e.ours, e.api, e.command, e.ours / e.api, e.ours / e.command, e.ours / fastest,
                    e.check.c_str());
    }
    std::printf("\n`vips copy` of a 1 x 1 .v file (process start-up alone): %.1f ms\n", start_up);
    print_load("at the end");

    if (own_folder) fs::remove_all(folder);
    vips_shutdown();
    return 0;
}
