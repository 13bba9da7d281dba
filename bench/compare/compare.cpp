// Our resize next to the same operation of libvips (C API, image in memory) and OpenCV, on the
// same 6000 x 4000 pictures in one run, all with two threads. Prints the median time of each and
// the ratio of ours to the fastest peer; a ratio below 1 means we are faster.
//
//   compare [runs]      (default 7 timed runs per entry, after one warm-up run)
#include <vips/vips.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <string>
#include <vector>

#include "compare_support.h"
#include "core/image.h"
#include "core/runner.h"
#include "transformations/resize.h"

namespace {

using namespace tessaly;

constexpr std::uint32_t width = 6000;
constexpr std::uint32_t height = 4000;
constexpr int threads = 2;

// A deterministic picture with smooth areas, edges and fine texture, so no kernel sees constant
// data: gradients, a checkerboard of 37-pixel squares and a hashed noise term.
Image make_picture(bool deep) {
    Image image;
    if (image_alloc(image, deep ? image_color48 : image_color24, width, height, 300.0)) {
        std::fprintf(stderr, "compare: out of memory\n");
        std::exit(1);
    }
    for (std::uint32_t y = 0; y < height; ++y) {
        std::uint8_t* row = image.rows[y];
        for (std::uint32_t x = 0; x < width; ++x) {
            std::uint32_t h = (x * 73856093u) ^ (y * 19349663u);
            h ^= h >> 13;
            h *= 0x5bd1e995u;
            const std::uint32_t noise = (h >> 24) & 31;
            const std::uint32_t square = ((x / 37 + y / 37) & 1) ? 96 : 0;
            const std::uint32_t v[3] = {(x * 255 / width + noise) & 255,
                                        (y * 255 / height + square) & 255,
                                        ((x + y) / 40 + noise + square) & 255};
            for (int c = 0; c < 3; ++c) {
                if (deep) {
                    set_sample16(row, 3 * x + c,
                                 static_cast<std::uint16_t>(v[c] * 257 + (h & 255)));
                } else {
                    row[3 * x + c] = static_cast<std::uint8_t>(v[c]);
                }
            }
        }
    }
    return image;
}

// The peers take one contiguous block; rows in the order we store them.
std::vector<std::uint8_t> contiguous(const Image& image, std::size_t pixel_bytes) {
    std::vector<std::uint8_t> block(pixel_bytes * image.width * image.height);
    for (std::uint32_t y = 0; y < image.height; ++y) {
        std::memcpy(block.data() + pixel_bytes * image.width * y, image.rows[y],
                    pixel_bytes * image.width);
    }
    return block;
}

[[noreturn]] void fail(const char* what) {
    bench::vips_fail("compare", what);
}

struct Entry {
    std::string operation;
    double ours = 0.0;
    double vips = 0.0;
    double opencv = 0.0;
    double diff_vips = 0.0;  // mean absolute difference of the results, in 8-bit levels
    double diff_opencv = 0.0;
};

double mean_difference(const Image& ours, const std::uint8_t* theirs, bool deep) {
    const std::size_t samples = std::size_t{ours.width} * 3;
    double sum = 0.0;
    for (std::uint32_t y = 0; y < ours.height; ++y) {
        for (std::size_t i = 0; i < samples; ++i) {
            const std::size_t at = y * samples + i;
            const double a = deep ? sample16(ours.rows[y], i) / 257.0 : ours.rows[y][i];
            const double b = deep ? (theirs[2 * at] | theirs[2 * at + 1] << 8) / 257.0 : theirs[at];
            sum += a > b ? a - b : b - a;
        }
    }
    return sum / (static_cast<double>(samples) * ours.height);
}

Entry measure(const char* name, const Image& picture, bool deep, std::int32_t method,
              VipsKernel kernel, int interpolation, int runs) {
    const std::size_t pixel_bytes = deep ? 6 : 3;
    std::vector<std::uint8_t> block = contiguous(picture, pixel_bytes);
    const int new_width = static_cast<int>(width / 2);
    const int new_height = static_cast<int>(height / 2);
    Entry entry;
    entry.operation = name;

    Image ours;
    entry.ours = bench::median_ms(
        [&] {
            if (resample(picture, ours, new_width, new_height, picture.dpi, method, -0.75, false)) {
                std::fprintf(stderr, "compare: our resample failed\n");
                std::exit(1);
            }
        },
        runs);

    VipsImage* in = vips_image_new_from_memory(block.data(), block.size(), static_cast<int>(width),
                                               static_cast<int>(height), 3,
                                               deep ? VIPS_FORMAT_USHORT : VIPS_FORMAT_UCHAR);
    if (!in) fail("vips_image_new_from_memory");
    std::vector<std::uint8_t> vips_result;
    entry.vips = bench::median_ms(
        [&] {
            VipsImage* out = nullptr;
            if (vips_resize(in, &out, 0.5, "kernel", kernel, nullptr)) fail("vips_resize");
            if (bench::vips_pixels(out, vips_result)) fail("vips_image_write_to_memory");
        },
        runs);
    g_object_unref(in);

    cv::Mat source(static_cast<int>(height), static_cast<int>(width), deep ? CV_16UC3 : CV_8UC3,
                   block.data());
    cv::Mat result;
    entry.opencv = bench::median_ms(
        [&] { cv::resize(source, result, cv::Size(new_width, new_height), 0, 0, interpolation); },
        runs);

    if (vips_result.size() == std::size_t{ours.width} * ours.height * pixel_bytes) {
        entry.diff_vips = mean_difference(ours, vips_result.data(), deep);
    }
    entry.diff_opencv = mean_difference(ours, result.data, deep);
    return entry;
}

}  // namespace

namespace tessaly::bench {
void run_color_compare(int runs);  // color_compare.cpp
void run_blur_compare(int runs);   // blur_compare.cpp
}  // namespace tessaly::bench

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    const std::string only = argc > 2 ? argv[2] : "";  // "resize", "color", "blur": one section
    if (VIPS_INIT(argv[0])) fail("VIPS_INIT");
    // Every run must compute: no cached results, and the same thread count everywhere.
    vips_cache_set_max(0);
    vips_concurrency_set(threads);
    cv::setNumThreads(threads);
    set_processor_count(threads);

    if (only == "blur") {
        tessaly::bench::run_blur_compare(runs);
        vips_shutdown();
        return 0;
    }
    if (only == "color") {
        tessaly::bench::run_color_compare(runs);
        vips_shutdown();
        return 0;
    }
    std::printf("Resize 6000 x 4000 -> 3000 x 2000, %d threads, median of %d runs (ms)\n", threads,
                runs);
    std::vector<Entry> entries;
    for (bool deep : {false, true}) {
        const Image picture = make_picture(deep);
        entries.push_back(measure(deep ? "Lanczos 6x6, 48-bit" : "Lanczos 6x6, 24-bit", picture,
                                  deep, resample_lanczos6, VIPS_KERNEL_LANCZOS3, cv::INTER_LANCZOS4,
                                  runs));
        entries.push_back(measure(deep ? "Bicubic, 48-bit" : "Bicubic, 24-bit", picture, deep,
                                  resample_bicubic, VIPS_KERNEL_CUBIC, cv::INTER_CUBIC, runs));
    }

    std::printf("\n%-22s %10s %10s %10s %14s   %s\n", "operation", "tessaly", "vips", "opencv",
                "ours/fastest", "mean |diff| vips, opencv (8-bit levels)");
    for (const Entry& e : entries) {
        const double fastest = std::min(e.vips, e.opencv);
        std::printf("%-22s %10.1f %10.1f %10.1f %14.2f   %.2f, %.2f\n", e.operation.c_str(), e.ours,
                    e.vips, e.opencv, e.ours / fastest, e.diff_vips, e.diff_opencv);
    }
    if (only.empty()) tessaly::bench::run_color_compare(runs);
    vips_shutdown();
    return 0;
}
