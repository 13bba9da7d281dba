// The mask command line: a mask's recipe as one line of text (header, tool settings groups, the
// recorded operations with coordinates as fractions of the image size), its place inside a
// transformation's command line, and the rebuild of a mask from it without a dialog.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/arguments.h"
#include "framework/node.h"
#include "mask_operations.h"

namespace tessaly {

// The text of a state. Without commands (a "Default" settings file) n_op is 0.
std::string mask_command_line(const MaskState& state, bool with_commands = true);

struct MaskReadOptions {
    bool with_commands = true;  // false for a "Default" file: n_op is taken as 0
    bool replay = true;         // rebuild the mask images (needs state.base)
};

// Reads a mask command line into state: every setting back to its default, a new list holding
// the head and the commands read, then (with a base image) the replay. Coordinates are scaled to
// the base image; without one, to the size the header records. The reader never fails: what does
// not read keeps its value. Returns true only when the replay failed.
bool read_mask_command_line(std::string_view text, MaskState& state,
                            const MaskReadOptions& options = {});
bool read_mask_command_line(const ArgumentList& args, MaskState& state,
                            const MaskReadOptions& options = {});

// Writes the state's text into the Mask Settings, as the dialog does after every change.
void store_mask_command_line(const MaskState& state, MaskSettings& mask);

// " mask_settings<k> ″text″" for every mask that has a recipe; in a settings file, masks built on
// another input are left out.
std::string mask_settings_keys(const std::vector<std::unique_ptr<MaskSettings>>& masks,
                               bool for_settings_file);
// Copies the token after each "mask_settings<k>" into mask k; a missing key leaves it as it is.
void read_mask_settings_keys(const ArgumentList& args,
                             std::vector<std::unique_ptr<MaskSettings>>& masks);

// The picture a node's mask is built on: its input's image, or the image of its auxiliary input
// base_input_index; nullptr when there is none.
const Image* mask_base_image(const Node* input, const Node& node, const MaskSettings& mask);

// Rebuilds the mask image from its recipe on base (the transformation's input, or the auxiliary
// input of base_input_index). An initial mask image of another size resets the mask; an absent
// recipe builds nothing. true when an operation or an allocation failed.
bool rebuild_mask(MaskSettings& mask, const Image& base);

}  // namespace tessaly
