// Amount Settings: how strongly a transformation's result replaces its input, with one amount
// where the mask is black and one where it is white once a mask is in use. Amounts are integers
// on a scale where 10008 is 100 percent; -1 means "not set".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/arguments.h"
#include "framework/node.h"

namespace tessaly {

inline constexpr std::int32_t amount_full = 10008;
inline constexpr std::int32_t amount_half = 5004;  // 50 percent, and 0 percent in mode 1

enum : std::int32_t {
    amount_mode_percent = 0,   // 0..100 percent
    amount_mode_signed = 1,    // -100..+100 percent, 5004 is 0 percent
    amount_mode_separate = 2,  // 0..100 percent, the second amount on a slider of its own
};

struct AmountSettings {
    std::int32_t amount = amount_full;  // where the mask is black, or the only amount
    std::int32_t second = -1;           // where the mask is white
    std::int32_t mode = amount_mode_percent;
    std::int32_t flag = 1;
    std::string label = "Amount: ";
    std::string mask_caption = "Mask";
    std::int32_t mask_number = 0;
    std::int32_t base_input_index = -1;  // -1 = main input
};

// The amount a control starts from: full (or 0 percent in mode 1) when enabled, else -1.
std::int32_t amount_default(std::int32_t mode);

// Fresh settings of one amount control; a null label or caption takes "Amount: " and "Mask".
AmountSettings amount_init(std::int32_t mask_number, bool enabled, std::int32_t mode,
                           const char* label = nullptr, const char* mask_caption = nullptr,
                           std::int32_t base_input_index = -1);

// The built mask of this control's mask slot in node, or null when it has none.
const Image* amount_built_mask(const AmountSettings& amount, const Node* node);
// The mask to mix with: the built mask while it is in use (the second amount set, or the
// amount switched off), else null.
const Image* amount_mask(const AmountSettings& amount, const Node* node);
inline bool amount_mask_in_use(const AmountSettings& amount, const Node* node) {
    return amount_mask(amount, node) != nullptr;
}

// Two amounts read for a control without a built mask fall back to one amount at its default.
void amount_make_consistent(AmountSettings& amount, const Node* node);

// The slider caption: the label, then the percentage or the two percentages.
std::string amount_caption(const AmountSettings& amount);

// The command-line value: six tokens.
std::string amount_to_text(const AmountSettings& amount);
// Reads the six tokens after key; true when the key is absent or has fewer than six tokens
// after it (the settings are then unchanged).
bool amount_from_args(const ArgumentList& args, std::string_view key, AmountSettings& amount);

}  // namespace tessaly
