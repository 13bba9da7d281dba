// The unsharp section of bin/compare (`compare 5 unsharp`): our Unsharp Mask at radius 2,
// strength 1, no threshold and no halo limits, next to the same sum (1 + a) src - a blur(src)
// made by OpenCV (cv::GaussianBlur + cv::addWeighted), libvips (vips_gaussblur, subtract, add,
// cast) and ImageMagick 6's `-unsharp 0x2+1+0`, on the 6000 x 4000 24-bit picture, two threads
// each; then on the 48-bit picture against OpenCV and libvips. ImageMagick runs as a command on
// files, so its file reading and writing are timed too (a plain conversion of the same files is
// timed beside it to show that share).
#include <sys/stat.h>
#include <unistd.h>
#include <vips/vips.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <string>
#include <vector>

#include "compare_picture.h"
#include "compare_support.h"
#include "core/image.h"
#include "kernels/unsharp.h"

namespace tessaly::bench {

namespace {

constexpr std::uint32_t width = 6000;
constexpr std::uint32_t height = 4000;
// The real ImageMagick 6 program of the Debian package, not a convert that may come first on
// PATH.
constexpr const char* magick = "/usr/bin/convert-im6.q16";

void unsharp_ours(const Image& picture, Image& out) {
    if (unsharp_mask_image(picture, out, 2, 0.0, 0.0, 1.0, 1.0, 1.0, unsharp_all_channels)) {
        std::fprintf(stderr, "compare: our unsharp mask failed\n");
        std::exit(1);
    }
}

// 2 src - blur(src), clipped to the sample range (8 or 16 bits), computed into memory.
void unsharp_vips(VipsImage* in, std::vector<std::uint8_t>& result, bool deep = false) {
    VipsImage *blurred = nullptr, *difference = nullptr, *sum = nullptr, *out = nullptr;
    if (vips_gaussblur(in, &blurred, 2.0, nullptr)) vips_fail("compare", "vips_gaussblur");
    if (vips_subtract(in, blurred, &difference, nullptr)) vips_fail("compare", "vips_subtract");
    if (vips_add(in, difference, &sum, nullptr)) vips_fail("compare", "vips_add");
    if (deep ? vips_cast_ushort(sum, &out, nullptr) : vips_cast_uchar(sum, &out, nullptr))
        vips_fail("compare", "vips_cast");
    g_object_unref(blurred);
    g_object_unref(difference);
    g_object_unref(sum);
    if (vips_pixels(out, result)) vips_fail("compare", "vips_image_write_to_memory");
}

// A binary PPM of the block as it is: the filter treats the channels alike, so their order
// (ours is blue, green, red) does not matter.
void write_ppm(const std::string& path, const std::vector<std::uint8_t>& block) {
    std::ofstream out(path, std::ios::binary);
    out << "P6\n" << width << ' ' << height << "\n255\n";
    out.write(reinterpret_cast<const char*>(block.data()),
              static_cast<std::streamsize>(block.size()));
    if (!out) {
        std::fprintf(stderr, "compare: cannot write %s\n", path.c_str());
        std::exit(1);
    }
}

// The samples of an 8-bit binary PPM of our size; empty when the file is something else.
std::vector<std::uint8_t> read_ppm(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    std::uint32_t w = 0, h = 0, maxval = 0;
    in >> magic >> w >> h >> maxval;
    in.get();  // the one white-space character before the samples
    if (!in || magic != "P6" || w != width || h != height || maxval != 255) return {};
    std::vector<std::uint8_t> samples(std::size_t{w} * h * 3);
    in.read(reinterpret_cast<char*>(samples.data()), static_cast<std::streamsize>(samples.size()));
    if (!in) return {};
    return samples;
}

void run_magick(const std::vector<std::string>& args) {
    if (run_command(args)) {
        std::fprintf(stderr, "compare: %s failed\n", args[0].c_str());
        std::exit(1);
    }
}

// One picture, the peers' views of it and the results of the three contenders that work in
// memory: ours, OpenCV and libvips.
struct Contest {
    bool deep;
    Image picture;
    std::vector<std::uint8_t> block;
    VipsImage* in;
    cv::Mat source, cv_blurred, cv_result;
    Image ours;
    std::vector<std::uint8_t> vips_result;

    explicit Contest(bool deep_picture)
        : deep(deep_picture),
          picture(make_picture(deep, width, height)),
          block(contiguous(picture, deep ? 6 : 3)),
          in(vips_image_new_from_memory(block.data(), block.size(), static_cast<int>(width),
                                        static_cast<int>(height), 3,
                                        deep ? VIPS_FORMAT_USHORT : VIPS_FORMAT_UCHAR)),
          source(static_cast<int>(height), static_cast<int>(width), deep ? CV_16UC3 : CV_8UC3,
                 block.data()) {
        if (!in) vips_fail("compare", "vips_image_new_from_memory");
    }
    ~Contest() { g_object_unref(in); }
    Contest(const Contest&) = delete;
    Contest& operator=(const Contest&) = delete;

    // Ours, OpenCV's and libvips's runs, in that order.
    std::vector<std::function<void()>> entries() {
        return {[this] { unsharp_ours(picture, ours); },
                [this] {
                    cv::GaussianBlur(source, cv_blurred, cv::Size(0, 0), 2.0);
                    cv::addWeighted(source, 2.0, cv_blurred, -1.0, 0.0, cv_result);
                },
                [this] { unsharp_vips(in, vips_result, deep); }};
    }
    // The table's head and the three rows, from the medians of entries().
    void print(const std::vector<double>& t) const {
        const double diff_vips = vips_result.size() == block.size()
                                     ? mean_difference(ours, vips_result.data(), deep)
                                     : -1;
        std::printf("%-40s %9s %14s   %s\n", "", "ms", "ours / this", "mean |ours - this| (8-bit)");
        std::printf("%-40s %9.1f\n", "tessaly unsharp_mask_image", t[0]);
        std::printf("%-40s %9.1f %14.2f   %.3f\n", "opencv GaussianBlur + addWeighted", t[1],
                    t[0] / t[1], mean_difference(ours, cv_result.data, deep));
        std::printf("%-40s %9.1f %14.2f   %.3f\n", "vips gaussblur, subtract, add, cast", t[2],
                    t[0] / t[2], diff_vips);
    }
};

// The same on the 48-bit picture against OpenCV and libvips (ImageMagick's round trip through
// files is left out here).
void run_deep(int runs) {
    std::printf(
        "\nUnsharp Mask 6000 x 4000 48-bit RGB, the same settings, median of %d runs (ms)\n", runs);
    Contest contest(true);
    const std::vector<double> t = median_ms(contest.entries(), runs);
    contest.print(t);
    std::printf("\nours / fastest peer: %.2f\n", t[0] / std::min(t[1], t[2]));
}

// The 24-bit picture against OpenCV, libvips and ImageMagick.
void run_shallow(int runs) {
    std::printf(
        "\nUnsharp Mask 6000 x 4000 24-bit RGB, radius 2 (sigma 2), amount 1, threshold 0, 2 "
        "threads, median of %d runs (ms)\nload average before: %s\n",
        runs, load_average().c_str());

    Contest contest(false);
    const std::vector<std::uint8_t>& block = contest.block;

    char folder_template[] = "/dev/shm/tessaly-unsharp-XXXXXX";
    if (!mkdtemp(folder_template)) {
        std::fprintf(stderr, "compare: cannot make a folder in /dev/shm\n");
        std::exit(1);
    }
    const std::string folder = folder_template;
    // Its pixel cache spills to files beyond the 256 MiB of its policy; keep them off the disk.
    setenv("MAGICK_TEMPORARY_PATH", folder.c_str(), 1);
    const std::string in_ppm = folder + "/in.ppm", sharpened_ppm = folder + "/unsharp.ppm",
                      copied_ppm = folder + "/copy.ppm";
    write_ppm(in_ppm, block);

    std::vector<std::function<void()>> entries = contest.entries();
    entries.push_back([&] { run_magick({magick, in_ppm, "-unsharp", "0x2+1+0", sharpened_ppm}); });
    entries.push_back([&] { run_magick({magick, in_ppm, copied_ppm}); });
    const std::vector<double> t = median_ms(entries, runs);
    std::printf("load average after: %s\n\n", load_average().c_str());

    const std::vector<std::uint8_t> magick_result = read_ppm(sharpened_ppm);
    const double diff_magick = magick_result.size() == block.size()
                                   ? mean_difference(contest.ours, magick_result.data(), false)
                                   : -1;
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);

    const double ours_ms = t[0], opencv = t[1], vips = t[2], magick_whole = t[3], magick_io = t[4];
    const double magick_net = magick_whole - magick_io;
    contest.print(t);
    std::printf("%-40s %9.1f %14.2f   %.3f\n", "convert-im6 -unsharp, whole command", magick_whole,
                ours_ms / magick_whole, diff_magick);
    std::printf("%-40s %9.1f\n", "convert-im6, plain copy (file I/O share)", magick_io);
    std::printf("%-40s %9.1f %14.2f\n", "convert-im6 -unsharp, less the plain copy", magick_net,
                ours_ms / magick_net);
    const double fastest = std::min({opencv, vips, magick_whole});
    std::printf("\nours / fastest peer (ImageMagick counted whole): %.2f\n", ours_ms / fastest);
    std::printf("ours / fastest peer (ImageMagick less its file I/O): %.2f\n",
                ours_ms / std::min({opencv, vips, magick_net}));
}

}  // namespace

// The caller has set two threads for us, libvips and OpenCV, and turned libvips's cache off.
void run_unsharp_compare(int runs) {
    // ImageMagick's OpenMP threads, for the commands started from here.
    setenv("MAGICK_THREAD_LIMIT", "2", 1);
    setenv("OMP_NUM_THREADS", "2", 1);
    run_shallow(runs);
    run_deep(runs);
}

}  // namespace tessaly::bench
