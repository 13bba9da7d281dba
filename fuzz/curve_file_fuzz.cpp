// Curve files come from users and from other programs: every loader must take any bytes, fail
// cleanly, and whatever it accepts must save and load back to the same curves.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "core/curve_files.h"
#include "core/text_file.h"
#include "fuzz_support.h"

using namespace tessaly;

namespace {

std::string describe(const ColorCurves& c) {
    return std::to_string(c.colorspace) + "|" + curve_to_text(c.curve[0]) + "|" +
           curve_to_text(c.curve[1]) + "|" + curve_to_text(c.curve[2]);
}

void check_tables_equal(const ColorCurves& a, const ColorCurves& b) {
    for (int c = 0; c < 3; ++c) {
        std::uint8_t ta[256], tb[256];
        curve_table8(a.curve[c], ta);
        curve_table8(b.curve[c], tb);
        for (int v = 0; v < 256; ++v) {
            if (ta[v] != tb[v]) std::abort();
        }
    }
}

void round_trip_cc(const ColorCurves& curves) {
    const std::string saved = fuzz::scratch_folder() + "/saved.cc";
    ColorCurves back;
    if (save_color_curves_file(saved, curves) || load_color_curves_file(saved, back) ||
        describe(back) != describe(curves)) {
        std::abort();
    }
    if (curves.colorspace == colorspace_rgb) {
        const std::string cube = fuzz::scratch_folder() + "/saved.cube";
        if (save_cube_file(cube, curves) || load_cube_file(cube, back)) std::abort();
        check_tables_equal(curves, back);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::silence_messages();
    const std::string input = fuzz::scratch_folder() + "/input";
    std::FILE* f = std::fopen(input.c_str(), "wb");
    if (!f) std::abort();
    if (size > 0) std::fwrite(data, 1, size, f);
    std::fclose(f);

    Curve curve;
    if (!load_curve_file(input, curve)) {
        const std::string saved = fuzz::scratch_folder() + "/saved.curve";
        Curve back;
        if (save_curve_file(saved, curve) || load_curve_file(saved, back) ||
            curve_to_text(back) != curve_to_text(curve)) {
            std::abort();
        }
    }

    FloatCurve fcurve;
    if (!load_float_curve_file(input, fcurve)) {
        // Four decimals may merge close points, so a reload may fail; it must not crash.
        const std::string saved = fuzz::scratch_folder() + "/saved.float curve";
        FloatCurve back;
        if (save_float_curve_file(saved, fcurve)) std::abort();
        (void)load_float_curve_file(saved, back);
    }

    ColorCurves curves;
    if (!load_color_curves_file(input, curves)) round_trip_cc(curves);
    if (!load_acv_file(input, curves)) round_trip_cc(curves);
    if (!load_amp_file(input, curves)) round_trip_cc(curves);
    if (!load_cube_file(input, curves)) round_trip_cc(curves);
    return 0;
}
