// The point-filter section of bin/compare (`compare 7 point`): Invert and Gamma Adjust run through
// their modules' run entries (as a script runs them, the node's result re-used from run to run)
// next to libvips (vips_invert, vips_gamma, vips_maplut) and OpenCV (cv::bitwise_not, cv::LUT) on
// the 6000 x 4000 24-bit and 48-bit pictures, two threads each, with a memcpy of the same bytes as
// the floor. Brightness, Saturation and the colour-model modes, which no peer has, are timed
// against the floor alone.
//
//   compare RUNS point [ours|vips|opencv]    one library alone (for its peak memory)
#include <malloc.h>
#include <vips/vips.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <opencv2/core.hpp>
#include <string>
#include <thread>
#include <vector>

#include "compare_picture.h"
#include "compare_support.h"
#include "core/arguments.h"
#include "core/image.h"
#include "core/runner.h"
#include "framework/node.h"
#include "framework/registry.h"
#include "kernels/lut.h"

namespace tessaly::bench {

namespace {

constexpr std::uint32_t width = 6000;
constexpr std::uint32_t height = 4000;
constexpr const char* full_amount = "amount 1 -1 0 1 \u2033Amount: \u2033 \u2033Mask\u2033";

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "compare: %s failed\n", what.c_str());
    std::exit(1);
}

// A command line run through its module's run entry below an input node holding the picture.
class ModuleRun {
  public:
    ModuleRun(const Image& picture, const std::string& line) : args_(split(line)) {
        input_.parent = &tree_root();
        node_.parent = &input_;
        if (image_copy(picture, input_.image)) fail("image_copy");
        entry_ = find_transformation(args_[0]);
        if (!entry_ || !entry_->module) fail("no module for " + std::string(args_[0]));
    }
    void operator()() {
        if (entry_->run(&input_, &node_, args_)) fail(line_of(args_));
    }
    const Image& result() const { return node_.image; }

  private:
    static std::string line_of(const ArgumentList& a) {
        return std::string(a.count() ? a[0] : "?");
    }
    ArgumentList args_;
    Node input_, node_;
    const TransformationEntry* entry_ = nullptr;
};

// The kernel alone over every row through the runner, into a target allocated once.
void rows_only(const Image& in, Image& out,
               const std::function<void(const std::uint8_t*, std::uint8_t*)>& row) {
    if (!out.has_pixels() && image_alloc(out, in.type, in.width, in.height, in.dpi)) {
        fail("image_alloc");
    }
    (void)run_rows(
        [&](const Image* s, Image* t, int first, int last, Progress&) -> std::uint8_t {
            for (int y = first; y <= last; ++y) row(s->rows[y], t->rows[y]);
            return 0;
        },
        "", &in, &out);
}

// memcpy of the picture's bytes between two buffers touched beforehand, on one or two threads.
void copy_bytes(const std::vector<std::uint8_t>& from, std::vector<std::uint8_t>& to, int threads) {
    if (threads == 1) {
        std::memcpy(to.data(), from.data(), from.size());
        return;
    }
    const std::size_t half = from.size() / 2;
    std::thread other(
        [&] { std::memcpy(to.data() + half, from.data() + half, from.size() - half); });
    std::memcpy(to.data(), from.data(), half);
    other.join();
}

struct Row {
    std::string name;
    double ours = 0, rows = 0, vips = 0, opencv = 0, copy1 = 0, copy2 = 0;
    double diff_vips = -1, diff_opencv = -1;
};

std::string cell(double v, const char* format = "%8.1f") {
    char text[32];
    if (v < 0 || v != v) return "       -";
    std::snprintf(text, sizeof text, format, v);
    return text;
}

void print(const std::vector<Row>& rows) {
    std::printf("\n%-30s %8s %8s %8s %8s %8s %8s %8s %8s %8s   %s\n", "operation", "module", "rows",
                "vips", "opencv", "memcpy1", "memcpy2", "/fastest", "/memcpy1", "/memcpy2",
                "mean |diff| vips, opencv (8-bit levels)");
    for (const Row& r : rows) {
        const double fastest = std::min(r.vips > 0 ? r.vips : 1e30, r.opencv > 0 ? r.opencv : 1e30);
        std::printf(
            "%-30s %s %s %s %s %s %s %s %s %s   %s, %s\n", r.name.c_str(),
            cell(r.ours > 0 ? r.ours : -1).c_str(), cell(r.rows > 0 ? r.rows : -1).c_str(),
            cell(r.vips > 0 ? r.vips : -1).c_str(), cell(r.opencv > 0 ? r.opencv : -1).c_str(),
            cell(r.copy1).c_str(), cell(r.copy2).c_str(),
            cell(fastest < 1e30 ? r.ours / fastest : -1, "%8.2f").c_str(),
            cell(r.ours / r.copy1, "%8.2f").c_str(), cell(r.ours / r.copy2, "%8.2f").c_str(),
            cell(r.diff_vips, "%.3f").c_str(), cell(r.diff_opencv, "%.3f").c_str());
    }
}

}  // namespace

// The caller has set two threads for us, libvips and OpenCV, and turned libvips's cache off.
void run_point_compare(int runs, const std::string& only) {
    // Freed pictures stay with the process, so no library pays for first touches of fresh
    // pages (libvips writes each result into a new 72 or 144 MB block).
    mallopt(M_MMAP_THRESHOLD, 512 << 20);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
    const bool ours_on = only.empty() || only == "ours", vips_on = only.empty() || only == "vips",
               cv_on = only.empty() || only == "opencv";
    std::printf(
        "\nPoint filters 6000 x 4000, 2 threads, median of %d runs (ms)%s%s\n"
        "load average before: %s\n",
        runs, only.empty() ? "" : ", only ", only.c_str(), load_average().c_str());
    std::vector<Row> table;
    std::vector<double> zeroings;
    for (bool deep : {false, true}) {
        const Image picture = make_picture(deep, width, height);
        std::vector<std::uint8_t> block = contiguous(picture, deep ? 6 : 3);
        std::vector<std::uint8_t> copy(block.size(), 1);
        VipsImage* in = vips_image_new_from_memory(
            block.data(), block.size(), static_cast<int>(width), static_cast<int>(height), 3,
            deep ? VIPS_FORMAT_USHORT : VIPS_FORMAT_UCHAR);
        if (!in) vips_fail("compare", "vips_image_new_from_memory");
        const cv::Mat source(static_cast<int>(height), static_cast<int>(width),
                             deep ? CV_16UC3 : CV_8UC3, block.data());
        const char* depth = deep ? ", 48-bit" : ", 24-bit";
        const double copy1 = median_ms([&] { copy_bytes(block, copy, 1); }, runs);
        const double copy2 = median_ms([&] { copy_bytes(block, copy, 2); }, runs);
        // What the module path spends before its rows: the result re-allocated in place, which
        // zeroes every byte on one thread.
        Image zeroed;
        const double zeroing = median_ms(
            [&] {
                if (image_alloc_with(zeroed, picture.type, width, height, picture.dpi, nullptr, 0,
                                     nullptr)) {
                    fail("image_alloc_with");
                }
            },
            runs);
        zeroings.push_back(zeroing);

        // One operation: our module, our rows alone, and the peers that have it.
        auto measure = [&](const std::string& name, const std::string& line,
                           const std::function<void(const std::uint8_t*, std::uint8_t*)>& kernel,
                           const std::function<VipsImage*(VipsImage*)>& vips_op,
                           const std::function<void(cv::Mat&)>& cv_op) {
            Row r{name + depth};
            r.copy1 = copy1;
            r.copy2 = copy2;
            ModuleRun module(picture, line);
            Image rows_out;
            std::vector<std::uint8_t> vips_result;
            cv::Mat cv_result;
            std::vector<std::function<void()>> entries;
            std::vector<double*> slots;
            if (ours_on) {
                entries.push_back([&] { module(); });
                slots.push_back(&r.ours);
            }
            if (ours_on && kernel) {
                entries.push_back([&] { rows_only(picture, rows_out, kernel); });
                slots.push_back(&r.rows);
            }
            if (vips_on && vips_op) {
                entries.push_back([&] {
                    if (vips_pixels(vips_op(in), vips_result)) vips_fail("compare", name);
                });
                slots.push_back(&r.vips);
            }
            if (cv_on && cv_op) {
                entries.push_back([&] { cv_op(cv_result); });
                slots.push_back(&r.opencv);
            }
            const std::vector<double> t = median_ms(entries, runs);
            for (std::size_t i = 0; i < t.size(); ++i) *slots[i] = t[i];
            if (ours_on && vips_result.size() == block.size()) {
                r.diff_vips = mean_difference(module.result(), vips_result.data(), deep);
            }
            if (ours_on && !cv_result.empty()) {
                r.diff_opencv = mean_difference(module.result(), cv_result.data, deep);
            }
            table.push_back(r);
        };
        const std::size_t row_bytes = std::size_t{width} * (deep ? 6 : 3);

        measure(
            "invert", std::string("invert 0 colorspace 0 ") + full_amount,
            [&](const std::uint8_t* i, std::uint8_t* o) { invert_row(i, o, row_bytes); },
            [](VipsImage* v) {
                VipsImage* out = nullptr;
                if (vips_invert(v, &out, nullptr)) vips_fail("compare", "vips_invert");
                return out;
            },
            [&](cv::Mat& out) { cv::bitwise_not(source, out); });

        // Gamma 2.2 through one table: vips computes max (in / max)^(1 / exponent).
        std::vector<std::uint8_t> t8(256);
        std::vector<std::uint16_t> t16(65536);
        for (int i = 0; i < 256; ++i)
            t8[i] = static_cast<std::uint8_t>(std::lround(std::pow(i / 255.0, 2.2) * 255));
        for (int i = 0; i < 65536; ++i)
            t16[i] = static_cast<std::uint16_t>(std::lround(std::pow(i / 65535.0, 2.2) * 65535));
        measure(
            "gamma 2.2, one table", std::string("gamma_adjust 0 gray 0 rgamma 2.2 ") + full_amount,
            [&](const std::uint8_t* i, std::uint8_t* o) {
                deep ? lut16_row(i, o, row_bytes / 2, t16.data())
                     : lut8_row(i, o, row_bytes, t8.data());
            },
            [](VipsImage* v) {
                VipsImage* out = nullptr;
                if (vips_gamma(v, &out, "exponent", 1.0 / 2.2, nullptr))
                    vips_fail("compare", "vips_gamma");
                return out;
            },
            deep ? std::function<void(cv::Mat&)>()
                 : [&](cv::Mat& out) { cv::LUT(source, cv::Mat(1, 256, CV_8U, t8.data()), out); });

        // Three gammas, one table per channel (blue, green, red as stored).
        const double gammas[3] = {2.2, 1.2, 0.8};
        std::vector<std::uint8_t> lut8(256 * 3);
        std::vector<std::uint16_t> lut16(65536 * 3);
        for (int c = 0; c < 3; ++c) {
            for (int i = 0; i < 256; ++i)
                lut8[3 * i + c] =
                    static_cast<std::uint8_t>(std::lround(std::pow(i / 255.0, gammas[c]) * 255));
            for (int i = 0; i < 65536; ++i)
                lut16[3 * i + c] = static_cast<std::uint16_t>(
                    std::lround(std::pow(i / 65535.0, gammas[c]) * 65535));
        }
        VipsImage* lut = deep ? vips_image_new_from_memory(lut16.data(), lut16.size() * 2, 65536, 1,
                                                           3, VIPS_FORMAT_USHORT)
                              : vips_image_new_from_memory(lut8.data(), lut8.size(), 256, 1, 3,
                                                           VIPS_FORMAT_UCHAR);
        measure(
            "gamma, three tables",
            std::string("gamma_adjust 0 gray 3 rgamma 0.8 ggamma 1.2 bgamma 2.2 ") + full_amount,
            nullptr,
            [lut](VipsImage* v) {
                VipsImage* out = nullptr;
                if (vips_maplut(v, &out, lut, nullptr)) vips_fail("compare", "vips_maplut");
                return out;
            },
            deep ? std::function<void(cv::Mat&)>()
                 : [&](cv::Mat&
                           out) { cv::LUT(source, cv::Mat(1, 256, CV_8UC3, lut8.data()), out); });
        g_object_unref(lut);

        if (ours_on) {
            measure("invert HSV", std::string("invert 0 colorspace 1 ") + full_amount, nullptr,
                    nullptr, nullptr);
            measure("gamma 2.2, HSV value",
                    std::string("gamma_adjust 0 gray 1 rgamma 2.2 ") + full_amount, nullptr,
                    nullptr, nullptr);
            measure("brightness +30%, HSV",
                    "brightness 0 amount 0.65 -1 1 1 \u2033Brightness: \u2033 \u2033Mask\u2033",
                    nullptr, nullptr, nullptr);
            measure("saturation +30%, HSV",
                    "saturation 0 amount 0.65 -1 1 1 \u2033Saturation: \u2033 \u2033Mask\u2033",
                    nullptr, nullptr, nullptr);
        }
        g_object_unref(in);
    }
    std::printf("load average after: %s\n", load_average().c_str());
    print(table);
    std::printf(
        "\nre-allocating a result in place (every byte zeroed, one thread): %.1f ms 24-bit, "
        "%.1f ms 48-bit\n",
        zeroings[0], zeroings[1]);
}

}  // namespace tessaly::bench
