// Masks: outputs a transformation's masks as images. Four mask slots, each behind an amount
// control; the output is the input itself, one of the masks, or masks 1 and 2 combined.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "core/arguments.h"
#include "framework/node.h"
#include "masks/amount.h"

namespace tessaly {

enum : std::int32_t {
    masks_output_input = 0,  // "Copy of Input Image"
    masks_output_mask1 = 1,  // 1..4 "Mask k"
    masks_output_sum = 5,    // "Mask 1 + Mask 2"
    masks_output_difference = 6,
    masks_output_overlap = 7,
};
constexpr int masks_slot_count = 4;

// The names of the output choices, in the order of the "Output:" list.
extern const std::array<const char*, 8> masks_output_names;

struct MasksSettings {
    std::array<AmountSettings, masks_slot_count> amounts = default_amounts();
    std::int32_t output = masks_output_input;
    std::int32_t display = 1;
    std::int32_t sync_scroll = 1;

    static std::array<AmountSettings, masks_slot_count> default_amounts();
};

std::string masks_command_line(const MasksSettings& settings);
// Defaults, then the command line; node (may be null) holds the masks the amounts refer to.
// true when the parse failed.
bool masks_parse(const ArgumentList& args, const Node* node, MasksSettings& settings);

std::uint8_t masks_run_entry(Node* input, Node* node, const ArgumentList& args);

}  // namespace tessaly
