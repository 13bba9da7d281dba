// The batch section of bin/compare (`compare 3 batch`): 20 real JPEGs opened, sharpened with
// an unsharp mask (radius / sigma 2, amount 1, threshold 0), resized to a long side of 2048
// pixels and written as JPEGs of quality 90 (4:2:0), by
//   - tessaly-cli running a workspace of File Open -> Unsharp Mask -> Export (--batch),
//   - libvips through its C API in this process (one file after another, 2 threads),
//   - ImageMagick 6's mogrify over all the files (2 threads).
// Every tool reads copies of the files in a folder on /dev/shm and writes to its own folder
// there; each batch is timed whole, its start-up included.
#include <limits.h>
#include <unistd.h>
#include <vips/vips.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "batch/export.h"
#include "compare_picture.h"
#include "compare_support.h"
#include "core/arguments.h"
#include "fileio/exiftool.h"
#include "fileio/file_open.h"

namespace tessaly::bench {

namespace {

namespace fs = std::filesystem;

constexpr int long_side = 2048;
constexpr const char* wallpaper_root = "/usr/share/wallpapers/";
// The largest JPEG of each of the 18 wallpaper folders of plasma-workspace-wallpapers that have
// JPEGs, and two upright ones.
constexpr const char* wallpapers[] = {
    "Autumn/contents/images/2560x1600.jpg",      "BytheWater/contents/images/2560x1600.jpg",
    "ColdRipple/contents/images/2560x1600.jpg",  "ColorfulCups/contents/images/2560x1600.jpg",
    "DarkestHour/contents/images/2560x1600.jpg", "EveningGlow/contents/images/2560x1600.jpg",
    "FallenLeaf/contents/images/2560x1600.jpg",  "Flow/contents/images/5120x2880.jpg",
    "Grey/contents/images/2560x1600.jpg",        "Honeywave/contents/images/5120x2880.jpg",
    "Kite/contents/images/2560x1600.jpg",        "OneStandsOut/contents/images/2560x1600.jpg",
    "PastelHills/contents/images/3200x2000.jpg", "Path/contents/images/2560x1600.jpg",
    "SafeLanding/contents/images/5120x2880.jpg", "Shell/contents/images/5120x2880.jpg",
    "Volna/contents/images/5120x2880.jpg",       "summer_1am/contents/images/2560x1600.jpg",
    "SafeLanding/contents/images/1622x2880.jpg", "Honeywave/contents/images/1080x1920.jpg",
};

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "compare: %s\n", what.c_str());
    std::exit(1);
}

// tessaly-cli is built into the same folder as this program.
std::string cli_path() {
    char self[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) fail("cannot find this program's folder");
    self[n] = '\0';
    return (fs::path(self).parent_path() / "tessaly-cli").string();
}

// The wallpapers share file names across folders, and every tool names its output after the
// input, so the copies are named after their folder: Autumn-2560x1600.jpg.
std::vector<std::string> copy_inputs(const fs::path& folder) {
    std::vector<std::string> copies;
    for (const char* w : wallpapers) {
        const fs::path from = fs::path(wallpaper_root) / w;
        const std::string name = fs::path(w).begin()->string() + "-" + from.filename().string();
        std::error_code ec;
        fs::copy_file(from, folder / name, ec);
        if (ec)
            fail("cannot copy " + from.string() + " (is plasma-workspace-wallpapers installed?)");
        copies.push_back((folder / name).string());
    }
    return copies;
}

std::string node_line(int index, const char* caption, int parent, const std::string& command) {
    return "image index " + std::to_string(index) + " caption " + quoted_text(caption) +
           " parent " + std::to_string(parent) +
           " bypass 0 same_size 0 size_specific 0 n_inputs 0 n_masks 0 command " +
           quoted_command(command) + "\r\nend_image\r\n";
}

// File Open with every input, Unsharp Mask, Export; the command lines come from the nodes' own
// writers, so they are what the program reads.
std::string workspace_text(const std::vector<std::string>& inputs, const std::string& out) {
    FileOpenSettings open;
    for (const std::string& path : inputs) open.files.push_back({path, file_time_text(path), true});
    // No thresholds and no halo limits, as the peers.
    const std::string unsharp =
        "unsharp_mask 0 radius 2 strength 1 thresholdb 0 thresholdw 0 maxovershoot 1 "
        "maxundershoot 1";
    ExportSettings save = export_module.defaults();
    save.destination = export_to_file;
    save.file_type = export_jpeg;
    save.file_name = export_name_original;
    save.resize = 1;
    save.resample = 1;
    save.dimension = export_long_side;
    save.length = long_side;
    save.profile = 1;  // Original: the peers convert no colours either
    save.jpeg_ask = 0;
    save.jpeg_quality = 90.0;
    save.jpeg_chroma_subsampling = 0;  // 4:2:0
    // No metadata: with the other modes each file costs a run of ExifTool.
    save.jpeg_metadata = metadata_none;
    save.sharpen = 0;
    save.which_folder = 1;
    save.folder = out;
    return "workspace_script 1.0\r\n" + node_line(1, "Open", -1, file_open_module.format(open)) +
           node_line(2, "Unsharp Mask", 1, unsharp) +
           node_line(3, "Export", 2, export_module.format(save)) + "current_image 3\r\nend\r\n";
}

// The same steps in libvips: 2 src - blur(src) clipped, the cubic kernel (our Export resizes
// bicubic), quality 90 with 4:2:0 forced (libvips keeps full chroma from 90 on by default).
void vips_one(const std::string& path, const std::string& target) {
    VipsImage* in =
        vips_image_new_from_file(path.c_str(), "access", VIPS_ACCESS_SEQUENTIAL, nullptr);
    if (!in) vips_fail("compare", "vips_image_new_from_file " + path);
    VipsImage *blurred = nullptr, *difference = nullptr, *sum = nullptr, *sharp = nullptr,
              *small = nullptr;
    if (vips_gaussblur(in, &blurred, 2.0, nullptr)) vips_fail("compare", "vips_gaussblur");
    if (vips_subtract(in, blurred, &difference, nullptr)) vips_fail("compare", "vips_subtract");
    if (vips_add(in, difference, &sum, nullptr)) vips_fail("compare", "vips_add");
    if (vips_cast_uchar(sum, &sharp, nullptr)) vips_fail("compare", "vips_cast_uchar");
    const double scale = static_cast<double>(long_side) / std::max(in->Xsize, in->Ysize);
    if (vips_resize(sharp, &small, scale, "kernel", VIPS_KERNEL_CUBIC, nullptr))
        vips_fail("compare", "vips_resize");
    if (vips_jpegsave(small, target.c_str(), "Q", 90, "subsample_mode", VIPS_FOREIGN_SUBSAMPLE_ON,
                      nullptr)) {
        vips_fail("compare", "vips_jpegsave");
    }
    for (VipsImage* image : {in, blurred, difference, sum, sharp, small}) g_object_unref(image);
}

void empty_folder(const fs::path& folder) {
    std::error_code ec;
    fs::remove_all(folder, ec);
    fs::create_directories(folder, ec);
    if (ec) fail("cannot make " + folder.string());
}

// How many visible JPEGs the folder holds and how many of them have a long side of 2048; the
// header is all that is read.
std::pair<int, int> check_outputs(const fs::path& folder) {
    int files = 0, right = 0;
    for (const fs::directory_entry& e : fs::directory_iterator(folder)) {
        const std::string name = e.path().filename().string();
        if (name.front() == '.' || e.path().extension() != ".jpg") continue;
        ++files;
        VipsImage* image = vips_image_new_from_file(e.path().c_str(), nullptr);
        if (!image) continue;
        if (std::max(image->Xsize, image->Ysize) == long_side) ++right;
        g_object_unref(image);
    }
    return {files, right};
}

}  // namespace

// The caller has set two threads for libvips and turned its cache off.
void run_batch_compare(int runs) {
    // libvips warns about every wallpaper's EXIF resolution unit; the pictures are fine.
    g_log_set_handler(
        "VIPS", G_LOG_LEVEL_WARNING, [](const gchar*, GLogLevelFlags, const gchar*, gpointer) {},
        nullptr);
    setenv("MAGICK_THREAD_LIMIT", "2", 1);
    setenv("OMP_NUM_THREADS", "2", 1);
    char folder_template[] = "/dev/shm/tessaly-batch-XXXXXX";
    if (!mkdtemp(folder_template)) fail("cannot make a folder in /dev/shm");
    const fs::path root = folder_template;
    fs::create_directories(root / "in");
    const std::vector<std::string> inputs = copy_inputs(root / "in");
    const fs::path ours_out = root / "tessaly", vips_out = root / "vips",
                   magick_out = root / "magick";
    // ImageMagick's pixel cache spills to files beyond its 256 MiB policy; keep them off the disk.
    setenv("MAGICK_TEMPORARY_PATH", root.c_str(), 1);

    const std::string workspace = (root / "batch.workspace").string();
    {
        std::ofstream out(workspace, std::ios::binary);
        out << workspace_text(inputs, ours_out.string());
        if (!out) fail("cannot write " + workspace);
    }
    const std::vector<std::string> ours_command = {
        cli_path(), "--settings-root", (root / "settings").string(), "--threads", "2", "--quiet",
        workspace,  "--batch"};
    std::vector<std::string> magick_command = {"/usr/bin/mogrify-im6.q16", "-path",
                                               magick_out.string()};
    for (const char* option : {"-unsharp", "0x2+1+0", "-resize", "2048x2048", "-sampling-factor",
                               "2x2", "-quality", "90"}) {
        magick_command.push_back(option);
    }
    magick_command.insert(magick_command.end(), inputs.begin(), inputs.end());

    std::printf(
        "\nBatch of %zu JPEGs: open, unsharp mask (radius / sigma 2, amount 1), long side %d, "
        "JPEG quality 90, 2 threads, median of %d runs (s)\nload average before: %s\n",
        inputs.size(), long_side, runs, load_average().c_str());
    // Emptying an output folder first takes well under a millisecond on /dev/shm.
    const std::vector<double> t =
        median_ms({[&] {
                       empty_folder(ours_out);
                       if (run_command(ours_command))
                           fail("tessaly-cli failed: " + ours_command[0]);
                   },
                   [&] {
                       empty_folder(vips_out);
                       for (const std::string& path : inputs)
                           vips_one(path, (vips_out / fs::path(path).filename()).string());
                   },
                   [&] {
                       empty_folder(magick_out);
                       if (run_command(magick_command)) fail("mogrify-im6.q16 failed");
                   }},
                  runs);
    std::printf("load average after: %s\n\n", load_average().c_str());

    const char* names[] = {"tessaly-cli --batch", "libvips C API", "mogrify-im6.q16"};
    const fs::path folders[] = {ours_out, vips_out, magick_out};
    const double fastest_peer = std::min(t[1], t[2]);
    std::printf("%-22s %10s %12s   %s\n", "tool", "seconds", "ours / this",
                "JPEGs written, long side 2048");
    for (int i = 0; i < 3; ++i) {
        const auto [files, right] = check_outputs(folders[i]);
        std::printf("%-22s %10.2f %12.2f   %d, %d\n", names[i], t[i] / 1000.0,
                    i ? t[0] / t[i] : 1.0, files, right);
    }
    std::printf("\nours / fastest peer: %.2f\n", t[0] / fastest_peer);
    std::error_code ec;
    fs::remove_all(root, ec);
}

}  // namespace tessaly::bench
