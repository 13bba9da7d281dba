// The blur section of bin/compare (`compare 7 blur`): our Gaussian Blur next to libvips's
// vips_gaussblur and OpenCV's cv::GaussianBlur on the same 6000 x 4000 pictures, two threads
// each. Radius 2 (a tent of variance 2 r (r + 1) / 3 = 4) is matched with sigma 2; radii 20 and
// 200 show that our time does not grow with the radius.
#include <vips/vips.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <string>
#include <vector>

#include "compare_picture.h"
#include "compare_support.h"
#include "core/image.h"
#include "kernels/box_blur.h"

namespace tessaly::bench {

namespace {

constexpr std::uint32_t width = 6000;
constexpr std::uint32_t height = 4000;

void blur_ours(const Image& picture, Image& out, int radius) {
    if (box_blur_image(picture, out, radius, false, "Gaussian Blur")) {
        std::fprintf(stderr, "compare: our blur failed\n");
        std::exit(1);
    }
}

}  // namespace

// The caller has set two threads for us, libvips and OpenCV, and turned libvips's cache off.
void run_blur_compare(int runs) {
    std::printf(
        "\nGaussian Blur 6000 x 4000, radius 2 against sigma 2, 2 threads, median of %d "
        "runs (ms)\nload average before: %s\n",
        runs, load_average().c_str());
    struct Row {
        const char* name;
        double ours, r20, r200, vips, opencv, diff_vips, diff_opencv;
    };
    std::vector<Row> rows;
    for (bool deep : {false, true}) {
        const Image picture = make_picture(deep, width, height);
        std::vector<std::uint8_t> block = contiguous(picture, deep ? 6 : 3);
        VipsImage* in = vips_image_new_from_memory(
            block.data(), block.size(), static_cast<int>(width), static_cast<int>(height), 3,
            deep ? VIPS_FORMAT_USHORT : VIPS_FORMAT_UCHAR);
        if (!in) vips_fail("compare", "vips_image_new_from_memory");
        cv::Mat source(static_cast<int>(height), static_cast<int>(width), deep ? CV_16UC3 : CV_8UC3,
                       block.data());
        Image ours, ours20, ours200;
        std::vector<std::uint8_t> vips_result;
        cv::Mat cv_result;
        const std::vector<double> t = median_ms(
            {[&] { blur_ours(picture, ours, 2); },
             [&] {
                 VipsImage* out = nullptr;
                 if (vips_gaussblur(in, &out, 2.0, nullptr)) vips_fail("compare", "vips_gaussblur");
                 if (vips_pixels(out, vips_result))
                     vips_fail("compare", "vips_image_write_to_memory");
             },
             [&] { cv::GaussianBlur(source, cv_result, cv::Size(0, 0), 2.0); },
             [&] { blur_ours(picture, ours20, 20); }, [&] { blur_ours(picture, ours200, 200); }},
            runs);
        g_object_unref(in);
        Row row{deep ? "48-bit RGB" : "24-bit RGB", t[0], t[3], t[4], t[1], t[2], 0.0, 0.0};
        if (vips_result.size() == block.size())
            row.diff_vips = mean_difference(ours, vips_result.data(), deep);
        row.diff_opencv = mean_difference(ours, cv_result.data, deep);
        rows.push_back(row);
    }
    std::printf("load average after: %s\n\n", load_average().c_str());
    std::printf("%-12s %9s %9s %9s %9s %9s %13s   %s\n", "picture", "r 2", "r 20", "r 200", "vips",
                "opencv", "r 2/fastest", "mean |diff| vips, opencv (8-bit levels)");
    for (const Row& r : rows) {
        std::printf("%-12s %9.1f %9.1f %9.1f %9.1f %9.1f %13.2f   %.2f, %.2f\n", r.name, r.ours,
                    r.r20, r.r200, r.vips, r.opencv, r.ours / std::min(r.vips, r.opencv),
                    r.diff_vips, r.diff_opencv);
    }
}

}  // namespace tessaly::bench
