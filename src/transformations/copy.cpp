#include "transformations/copy.h"

#include "core/runner.h"
#include "framework/module.h"

namespace tessaly {

namespace {

constexpr std::uint32_t placeholder_width = 320;
constexpr std::uint32_t placeholder_height = 240;
constexpr std::uint32_t placeholder_square = 20;

struct Settings {
    DialogKeys dialog;
};

// The result is a copy of the effective image of the node in the first input slot, or the
// placeholder when the slot is empty; the main input is not used.
std::uint8_t run_copy(TransformationContext<Settings>& ctx) {
    Node* slot = ctx.node->inputs.empty() ? nullptr : ctx.node->inputs.front();
    // Built aside, so that a slot naming the node itself still reads an intact image.
    Image out;
    const bool failed =
        slot ? image_copy(effective_image_node(slot)->image, out) : copy_placeholder(out);
    if (failed) {
        image_free(*ctx.result);
        return 1;
    }
    *ctx.result = std::move(out);
    return 0;
}

const Registered<Settings> copy{{
    .keyword = "copy",
    .schema = Schema<Settings>().dialog(&Settings::dialog, {.display = 1, .sync_scroll = 1}),
    .types = types_any,
    // The main input is never read; no gray view needs to be made of it.
    .reads_binary = true,
    .kind = ModuleKind::generator,
    .run = run_copy,
}};

}  // namespace

bool copy_placeholder(Image& image) {
    if (image_alloc(image, image_gray8, placeholder_width, placeholder_height, working_image_dpi)) {
        return true;
    }
    const std::uint8_t result = run_rows(
        [](const Image*, Image* out, int first, int last, Progress& progress) -> std::uint8_t {
            for (int y = first; y <= last; ++y) {
                if (progress_tick(progress)) return 1;
                const std::uint32_t row_parity =
                    (static_cast<std::uint32_t>(y) / placeholder_square) & 1;
                std::uint8_t* row = out->rows[y];
                for (std::uint32_t x = 0; x < out->width; ++x) {
                    row[x] = ((x / placeholder_square) & 1) == row_parity ? 128 : 255;
                }
            }
            return 0;
        },
        {}, nullptr, &image);
    if (result != 0) {
        image_free(image);
        return true;
    }
    return false;
}

}  // namespace tessaly
