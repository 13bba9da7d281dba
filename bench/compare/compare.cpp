// Our resize next to the same operation of libvips (C API, image in memory) and OpenCV, on the
// same 6000 x 4000 pictures in one run, all with two threads. Prints the median time of each and
// the ratio of ours to the fastest peer; a ratio below 1 means we are faster.
//
//   compare [runs]            (default 7 timed runs per entry, after one warm-up run)
//   compare [runs] SECTION    one section only: resize, color, blur, unsharp, point or batch
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

#include "compare_picture.h"
#include "compare_support.h"
#include "core/image.h"
#include "core/runner.h"
#include "transformations/resize.h"

namespace {

using namespace tessaly;

constexpr std::uint32_t width = 6000;
constexpr std::uint32_t height = 4000;
constexpr int threads = 2;

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

Entry measure(const char* name, const Image& picture, bool deep, std::int32_t method,
              VipsKernel kernel, int interpolation, int runs) {
    const std::size_t pixel_bytes = deep ? 6 : 3;
    std::vector<std::uint8_t> block = bench::contiguous(picture, pixel_bytes);
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
        entry.diff_vips = bench::mean_difference(ours, vips_result.data(), deep);
    }
    entry.diff_opencv = bench::mean_difference(ours, result.data, deep);
    return entry;
}

}  // namespace

namespace tessaly::bench {
void run_color_compare(int runs);                           // color_compare.cpp
void run_blur_compare(int runs);                            // blur_compare.cpp
void run_unsharp_compare(int runs);                         // unsharp_compare.cpp
void run_batch_compare(int runs);                           // batch_compare.cpp
void run_point_compare(int runs, const std::string& only);  // point_compare.cpp
}  // namespace tessaly::bench

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    // One section: "resize", "color", "blur", "unsharp", "point" or "batch".
    const std::string only = argc > 2 ? argv[2] : "";
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
    if (only == "unsharp") {
        tessaly::bench::run_unsharp_compare(runs);
        vips_shutdown();
        return 0;
    }
    if (only == "point") {
        tessaly::bench::run_point_compare(runs, argc > 3 ? argv[3] : "");
        vips_shutdown();
        return 0;
    }
    if (only == "batch") {
        tessaly::bench::run_batch_compare(runs);
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
        const Image picture = bench::make_picture(deep, width, height);
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
