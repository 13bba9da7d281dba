// Mask command lines arrive inside scripts, workspaces and ".mask" files: any bytes must read
// without harm, and whatever a line reads to must write back to a text that reads to itself.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/runner.h"
#include "fuzz_support.h"
#include "masks/mask_command_line.h"

using namespace tessaly;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::silence_messages();
    set_processor_count(1);  // tiny masks: no worker threads
    std::string_view text(reinterpret_cast<const char*>(data), size);

    // As text on its own: no base image, so nothing is rendered.
    MaskState state;
    (void)read_mask_command_line(text, state);
    const std::string written = mask_command_line(state);
    MaskState again;
    (void)read_mask_command_line(written, again);
    const std::string rewritten = mask_command_line(again);
    if (rewritten != written) {
        std::fprintf(stderr, "written:   %s\nrewritten: %s\n", written.c_str(), rewritten.c_str());
        std::abort();
    }
    const std::string defaults = mask_command_line(again, false);
    if (defaults.find(" command") != std::string::npos) std::abort();

    // Replayed on a small picture: the operations that render run on it.
    static Image base = [] {
        Image im;
        if (image_alloc(im, image_color24, 7, 5, 0)) std::abort();
        return im;
    }();
    MaskState built;
    mask_state_set_base(built, &base);
    (void)read_mask_command_line(written, built);
    if (built.records.empty() || built.current >= built.records.size()) std::abort();
    const Image& mask = built.records.back().after;
    if (!mask.empty() && (mask.width != 7 || mask.height != 5)) std::abort();
    return 0;
}
