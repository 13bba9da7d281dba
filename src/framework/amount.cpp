#include "framework/amount.h"

#include "core/format.h"
#include "core/numeric.h"

namespace tessaly {

namespace {

constexpr std::size_t text_capacity = 255;

// The first capacity characters (code points) of a UTF-8 text.
std::string cut_text(std::string_view text, std::size_t capacity) {
    std::size_t characters = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        if ((static_cast<unsigned char>(text[i]) & 0xc0) != 0x80) {
            if (characters == capacity) break;
            ++characters;
        }
        ++i;
    }
    return std::string(text.substr(0, i));
}

std::string amount_token(std::int32_t value) {
    if (value == -1) return "-1";
    return formatted("%5zf", static_cast<double>(value) / amount_full);
}

// "-1" is the unset value; any other number is a fraction of 100 percent.
void read_amount_token(std::string_view token, std::int32_t& value) {
    if (token == "-1") {
        value = -1;
        return;
    }
    double v = 0.0;
    if (!parse_real(token, v)) value = round_to_int(v * amount_full);
}

double percent(std::int32_t value, std::int32_t mode) {
    if (mode == amount_mode_signed) return (value - amount_half) * 200.0 / amount_full;
    return value * 100.0 / amount_full;
}

}  // namespace

std::int32_t amount_default(std::int32_t mode) {
    return mode == amount_mode_signed ? amount_half : amount_full;
}

AmountSettings amount_init(std::int32_t mask_number, bool enabled, std::int32_t mode,
                           const char* label, const char* mask_caption,
                           std::int32_t base_input_index) {
    AmountSettings a;
    a.amount = enabled ? amount_default(mode) : -1;
    a.second = -1;
    a.mode = mode;
    a.flag = 1;
    a.label = label ? label : "Amount: ";
    a.mask_caption = mask_caption ? mask_caption : "Mask";
    a.mask_number = mask_number;
    a.base_input_index = base_input_index;
    return a;
}

const Image* amount_built_mask(const AmountSettings& amount, const Node* node) {
    if (!node || amount.mask_number < 0 || amount.mask_number >= node->mask_count()) return nullptr;
    const MaskSettings* mask = node->masks[static_cast<std::size_t>(amount.mask_number)].get();
    if (!mask || !mask->image.has_pixels()) return nullptr;
    return &mask->image;
}

const Image* amount_mask(const AmountSettings& amount, const Node* node) {
    if (amount.second == -1 && amount.amount != -1) return nullptr;
    return amount_built_mask(amount, node);
}

void amount_make_consistent(AmountSettings& amount, const Node* node) {
    if (amount.second == -1 || amount_built_mask(amount, node)) return;
    amount.second = -1;
    if (amount.amount != -1) amount.amount = amount_default(amount.mode);
}

std::string amount_caption(const AmountSettings& a) {
    if (a.amount == -1) return formatted("%s", a.label);
    if (a.second == -1) return formatted("%s%1f\\%", a.label, percent(a.amount, a.mode));
    return formatted("%s%1f\\% .. %1f\\%", a.label, percent(a.amount, a.mode),
                     percent(a.second, a.mode));
}

std::string amount_to_text(const AmountSettings& a) {
    return formatted("%s %s %d %d %s %s", amount_token(a.amount), amount_token(a.second), a.mode, 1,
                     quoted_text(a.label), quoted_text(a.mask_caption));
}

bool amount_from_args(const ArgumentList& args, std::string_view key, AmountSettings& amount) {
    int i = 0;
    if (find_key(args, key, i) || i + 6 > args.count()) return true;
    read_amount_token(args[i], amount.amount);
    read_amount_token(args[i + 1], amount.second);
    if (parse_integer(args[i + 2], amount.mode)) amount.mode = 0;
    amount.flag = 1;
    amount.label = cut_text(args[i + 4], text_capacity);
    amount.mask_caption = cut_text(args[i + 5], text_capacity);
    return false;
}

}  // namespace tessaly
