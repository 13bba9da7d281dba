// Curve settings arrive inside command lines, scripts and workspaces: the compact curve forms must
// take any bytes, and whatever they accept must evaluate safely and write back to the same text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/curve.h"
#include "fuzz_support.h"

using namespace tessaly;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::silence_messages();
    std::string_view text(reinterpret_cast<const char*>(data), size);

    Curve curve;
    if (!curve_from_text(text, curve)) {
        std::string written = curve_to_text(curve);
        Curve again;
        if (curve_from_text(written, again) || curve_to_text(again) != written) std::abort();
        std::uint8_t t8[256];
        curve_table8(curve, t8);
        static std::vector<std::uint16_t> t16(65536);
        curve_table16(curve, t16.data(), false);
        curve_table16(curve, t16.data(), true);
        Curve fitted = curve_fit_table(t8, 0);
        std::uint8_t refit[256];
        curve_table8(fitted, refit);
        for (int v = 0; v < 256; ++v) {
            if (refit[v] != t8[v]) std::abort();
        }
    }

    FloatCurve fcurve;
    if (!float_curve_from_text(text, fcurve)) {
        FloatCurve again;
        (void)float_curve_from_text(float_curve_to_text(fcurve), again);
    }
    return 0;
}
