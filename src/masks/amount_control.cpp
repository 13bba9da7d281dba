#include "amount_control.h"

#include "core/format.h"
#include "core/interaction.h"
#include "framework/transformation.h"
#include "mask_command_line.h"
#include "mask_settings.h"
#include "tree/tree.h"

namespace tessaly {

namespace {

MaskSettings* mask_slot(Node* node, std::int32_t number) {
    if (!node || number < 0 || number >= node->mask_count()) return nullptr;
    return node->masks[static_cast<std::size_t>(number)].get();
}

std::string node_name(const Node* node) {
    return node ? node->name : std::string();
}

bool same_size(const Image& a, const Image& b) {
    return a.has_pixels() && a.width == b.width && a.height == b.height;
}

// A built mask that no longer fits its base image is useless for mixing: say so and start over.
// true when the mask was reset.
bool reset_if_misfit(MaskSettings& mask, const Image& base, const Node* base_node, const Node* node,
                     const std::string& caption) {
    if (!mask.image.has_pixels() ||
        (mask.image.width == base.width && mask.image.height == base.height)) {
        return false;
    }
    const std::string mask_image = mask.source ? node_name(mask.source) : node_name(node);
    show_warning("Image and mask size mismatch (%s and %s %s) - mask is being reset",
                 node_name(base_node), mask_image, caption);
    reset_mask_settings(mask);
    return true;
}

const Node* base_node_of(Node* input, const Node& node, const MaskSettings& mask) {
    const Node* from = input;
    if (mask.base_input_index != -1) {
        const auto index = static_cast<std::size_t>(mask.base_input_index);
        from =
            mask.base_input_index >= 0 && index < node.inputs.size() ? node.inputs[index] : nullptr;
    }
    return from ? effective_image_node(from) : nullptr;
}

}  // namespace

AmountSettings amount_control_init(Node* input, Node* node, std::int32_t mask_number, bool enabled,
                                   std::int32_t mode, const char* label, const char* mask_caption,
                                   std::int32_t base_input_index) {
    AmountSettings amount =
        amount_init(mask_number, enabled, mode, label, mask_caption, base_input_index);
    MaskSettings* mask = mask_slot(node, mask_number);
    if (!mask) return amount;
    mask->caption = amount.mask_caption;
    mask->base_input_index = base_input_index;
    if (const Image* base = mask_base_image(input, *node, *mask)) {
        if (!reset_if_misfit(*mask, *base, base_node_of(input, *node, *mask), node,
                             amount.mask_caption) &&
            !mask->command_line.empty()) {
            (void)rebuild_mask(*mask, *base);
        }
    }
    amount_make_consistent(amount, node);
    return amount;
}

void amount_reverse_sliders(AmountSettings& amount) {
    if (amount.second == -1) return;
    std::swap(amount.amount, amount.second);
}

MaskSettings* amount_start_mask(AmountSettings& amount, Node* node, Node* source,
                                std::int32_t initial_mask_index, const std::string& from) {
    if (!node || amount.mask_number < 0 || amount.mask_number >= node->mask_count()) {
        return nullptr;
    }
    if (source) {
        // Checked before anything changes, so that a refused source leaves the mask alone.
        MaskSettings probe;
        probe.source = source;
        probe.initial_mask_index = initial_mask_index;
        const Image* start = initial_mask_image(probe);
        if (start && start->type != image_gray8 && start->type != image_gray16) {
            show_error("Initial mask image is not an 8- or 16-bit black and white image");
            return nullptr;
        }
    }
    auto& slot = node->masks[static_cast<std::size_t>(amount.mask_number)];
    if (!slot) slot = std::make_unique<MaskSettings>();
    MaskSettings& mask = *slot;
    mask.base_input_index = amount.base_input_index;
    mask.caption = amount.mask_caption;
    mask.source = source;
    mask.initial_mask_index = source ? initial_mask_index : -1;
    mask.source_name = source ? from : std::string();
    amount.second = amount_full;
    return &mask;
}

std::vector<MaskSourceEntry> amount_mask_sources(Node* node, std::int32_t base_input_index) {
    std::vector<MaskSourceEntry> entries;
    if (!node) return entries;
    Node* base_node = base_input_index == -1 ? effective_image_node(node->parent)
                                             : effective_input(node, base_input_index);
    if (!base_node || !base_node->image.has_pixels()) return entries;
    const Image& base = base_node->image;
    for (Node* other : all_nodes()) {
        if (other == node || depends_on(other, node)) continue;
        const std::string name = other->name.empty() ? other->caption : other->name;
        const Node* shown = effective_image_node(other);
        // A node that passes its input through shows its ancestor's picture, listed there.
        if (shown == other && same_size(other->image, base)) {
            entries.push_back({other->serial, -1, name});
        }
        for (int k = 0; k < other->mask_count(); ++k) {
            const MaskSettings* mask = other->masks[static_cast<std::size_t>(k)].get();
            if (mask && same_size(mask->image, base)) {
                entries.push_back({other->serial, k, formatted("%s - Mask %d", name, k + 1)});
            }
        }
        if (same_size(other->transparency, base)) {
            entries.push_back({other->serial, -99, formatted("%s - Transparency", name)});
        }
    }
    return entries;
}

bool amount_reset_mask(AmountSettings& amount, Node* node) {
    if (interaction().ask("Confirm", "Reset Mask?\nAll mask operations will be lost.",
                          Buttons::yes_no, Answer::yes) != Answer::yes) {
        return false;
    }
    if (amount.amount != -1) amount.amount = amount_default(amount.mode);
    amount.second = -1;
    if (MaskSettings* mask = mask_slot(node, amount.mask_number)) reset_mask_settings(*mask);
    return true;
}

void prepare_node_masks(Node* input, Node* node, const ArgumentList& args) {
    if (!node) return;
    read_mask_settings_keys(args, node->masks);
    for (auto& slot : node->masks) {
        if (!slot) continue;
        MaskSettings& mask = *slot;
        const Image* base = mask_base_image(input, *node, mask);
        if (!base) continue;
        if (!mask.command_line.empty()) {
            // A failed operation has said so; the mask keeps what could be built.
            (void)rebuild_mask(mask, *base);
        } else {
            (void)reset_if_misfit(mask, *base, base_node_of(input, *node, mask), node,
                                  mask.caption);
        }
    }
}

void install_mask_preparer() {
    set_mask_preparer(prepare_node_masks);
}

std::string settings_file_dependency_warning(const Node& node) {
    int inputs = 0;
    for (const Node* in : node.inputs) inputs += in ? 1 : 0;
    int masks = 0;
    for (const auto& mask : node.masks) masks += mask && mask_depends_on_other_image(*mask) ? 1 : 0;
    std::string sentence;
    if (inputs == 0) {
        if (masks == 0) return std::string();
        sentence =
            masks == 1
                ? std::string("This transformation uses a mask that depends on another image.")
                : formatted("This transformation uses %d masks that depend other images.", masks);
    } else {
        sentence = inputs == 1
                       ? std::string("This transformation depends on an auxiliary input")
                       : formatted("This transformation depends on %d auxiliary inputs", inputs);
        if (masks == 1) {
            sentence += " and uses a mask that depends on another image.";
        } else if (masks > 1) {
            sentence += formatted(" and uses %d masks that depend other images.", masks);
        } else {
            sentence += ".";
        }
    }
    return formatted(
        "%s\nThe saved settings file will omit this information; to save inputs or masks that "
        "depend on other images, use script files instead.",
        sentence);
}

std::string command_line_for_settings_file(const Node& node, const std::string& command_line) {
    const std::string warning = settings_file_dependency_warning(node);
    if (!warning.empty()) show_warning("%s", warning);
    return command_line + mask_settings_keys(node.masks, true);
}

}  // namespace tessaly
