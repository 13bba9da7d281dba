#include "mask_settings.h"

namespace tessaly {

namespace {

constexpr const char* operation_names[mask_operation_count] = {
    "Freehand Outline",
    "Rectangle",
    "Oval",
    "Polygon",
    "Spline",
    "Feather",
    "Blur",
    "Color Range",
    "Paint",
    "Curve",
    "Flood Fill",
    "Separate Based on 2 Colors",
    "Texture",
    "Linear Gradient",
    "Oval Gradient",
    "Remove Pinholes",
    "Median Filter",
    "Mask All",
    "Clear Mask",
    "Invert Mask",
    "Mask Left Half",
    "Mask Right Half",
    "Mask Top Half",
    "Mask Bottom Half",
    "Save current mask",
    "Combine saved mask",
    "Mask Brightness Curve",
    "Set Mask to 50% Gray",
    "Hue and Saturation",
    "Hue Saturation Histogram",
};

}  // namespace

const std::array<std::int32_t, 20> mask_tool_buttons = {0, 1, 2,  3,  4,  5,  6,  7,  28, 29,
                                                        8, 9, 10, 11, 12, 13, 14, 15, 16, 26};
const std::array<std::int32_t, 8> mask_command_buttons = {17, 18, 27, 19, 20, 21, 22, 23};

const char* mask_operation_name(std::int32_t code) {
    if (code < 0 || code >= mask_operation_count) return "";
    return operation_names[code];
}

SeparateEntries default_separate_entries() {
    SeparateEntries entries;
    for (int i = 0; i < 16; ++i) entries[static_cast<std::size_t>(i)].colour = i < 8 ? 0 : 0xffffff;
    entries[0].in_use = true;
    entries[8].in_use = true;
    return entries;
}

bool mask_settings_empty(const MaskSettings& mask) {
    return mask.command_line.empty() && initial_mask_image(mask) == nullptr && mask.image.empty() &&
           mask.derived.empty() && mask.dialog == nullptr;
}

const Image* initial_mask_image(const MaskSettings& mask) {
    if (!mask.initial_image.empty()) return &mask.initial_image;
    const Node* source = mask.source;
    if (!source) return nullptr;
    if (mask.initial_mask_index == -1) {
        const Node* shown = effective_image_node(source);
        return shown && !shown->image.empty() ? &shown->image : nullptr;
    }
    if (mask.initial_mask_index == -99) {
        return source->transparency.empty() ? nullptr : &source->transparency;
    }
    if (mask.initial_mask_index >= 0 && mask.initial_mask_index < source->mask_count()) {
        const MaskSettings* other =
            source->masks[static_cast<std::size_t>(mask.initial_mask_index)].get();
        if (other && !other->image.empty()) return &other->image;
    }
    return nullptr;
}

bool mask_depends_on_other_image(const MaskSettings& mask) {
    return mask.source != nullptr || !mask.initial_image.empty() || mask.base_input_index != -1;
}

void reset_mask_settings(MaskSettings& mask) {
    mask.command_line.clear();
    image_free(mask.image);
    image_free(mask.derived);
    image_free(mask.initial_image);
    mask.source = nullptr;
    mask.initial_mask_index = -1;
    mask.source_name.clear();
    if (mask.dialog) {
        DialogHandle* dialog = mask.dialog;
        mask.dialog = nullptr;
        dialog->close_without_running();
    }
}

}  // namespace tessaly
