// What an amount control does with its mask beyond mixing: starting from its defaults against
// the node's mask, its menu commands, preparing masks before a run without a dialog, and what a
// settings file keeps of masks and inputs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "framework/amount.h"
#include "framework/node.h"

namespace tessaly {

// Fresh settings for a control of node (its main input is input): as amount_init, then a built
// mask of another size than its base image is reported ("Image and mask size mismatch ...") and
// reset, a mask with a recipe is rebuilt on its base image, and the amounts are made consistent.
AmountSettings amount_control_init(Node* input, Node* node, std::int32_t mask_number, bool enabled,
                                   std::int32_t mode, const char* label = nullptr,
                                   const char* mask_caption = nullptr,
                                   std::int32_t base_input_index = -1);

// "Reverse Black and White Sliders": swaps the two amounts while the second is set.
void amount_reverse_sliders(AmountSettings& amount);

// "New mask..." and the image entries of the control's menu: creates the Mask Settings when
// absent (copying the base input index), starts it from source (its image -1, its transparency
// -99 or its mask k; null for none) named from, and sets the second amount to 100 percent.
// Returns the Mask Settings for the mask dialog to open on, or null when the slot does not exist
// or the source is not a gray picture (said so; the mask is then left as it was).
MaskSettings* amount_start_mask(AmountSettings& amount, Node* node, Node* source = nullptr,
                                std::int32_t initial_mask_index = -1,
                                const std::string& from = std::string());

// An image a new mask can start from, as the amount control's menu lists it: a node's image
// (index -1), its transparency (-99) or its built mask k (k).
struct MaskSourceEntry {
    std::int32_t serial = -1;
    std::int32_t index = -1;
    std::string text;
};

// The images of the tree a mask of node (built on its main input, or on the auxiliary input
// base_input_index) can start from: those of the base image's size, except the node's own and
// those of nodes that depend on it, which would make a cycle.
std::vector<MaskSourceEntry> amount_mask_sources(Node* node, std::int32_t base_input_index);

// "Reset": asks first; on yes the amounts return to one amount at its default (when it was set)
// and the mask is reset. false when the user declined.
bool amount_reset_mask(AmountSettings& amount, Node* node);

// The preparer installed into the run machinery: takes the mask_settings keys of args, then
// rebuilds every mask with a recipe on its base image; a built mask without a recipe that no
// longer fits its base image is reported and reset.
void prepare_node_masks(Node* input, Node* node, const ArgumentList& args);
void install_mask_preparer();

// The sentence warning that a settings file leaves out inputs and masks that depend on other
// images; empty when there is nothing to warn about.
std::string settings_file_dependency_warning(const Node& node);
// The command line a settings file keeps for node: the warning shown when it applies, then the
// mask_settings keys of the masks that depend on no other image appended.
std::string command_line_for_settings_file(const Node& node, const std::string& command_line);

}  // namespace tessaly
