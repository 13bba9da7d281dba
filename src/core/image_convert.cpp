#include "image_convert.h"

#include <atomic>
#include <bit>
#include <cstdlib>
#include <cstring>

#include "builtin_profiles.h"
#include "image_internal.h"
#include "runner.h"
#include "tables.h"

namespace tessaly {

// 16-bit rows are read and written through std::uint16_t pointers (rows start on 4-byte
// boundaries), which is the stored little-endian layout only on a little-endian host.
static_assert(std::endian::native == std::endian::little, "16-bit samples are little-endian");

// --- working profiles and the color-managed path ---

namespace {

struct StoredProfile {
    std::uint8_t* data = nullptr;
    std::uint32_t size = 0;
};

// Set by the color-management settings on the owning thread, never during a conversion.
StoredProfile rgb_working;
StoredProfile gray_working;

std::atomic<ColorManagedConversion> managed_conversion{nullptr};
std::atomic<bool> management_enabled{false};

void store_profile(StoredProfile& stored, const std::uint8_t* bytes, std::uint32_t size) {
    StoredProfile copy;
    if (bytes && size > 0) {
        // Copied before the old bytes go: the caller may hand back the stored profile itself.
        copy.data = static_cast<std::uint8_t*>(std::malloc(size));
        if (copy.data) {
            std::memcpy(copy.data, bytes, size);
            copy.size = size;
        }
    }
    std::free(stored.data);
    stored = copy;
}

}  // namespace

void set_rgb_working_profile(const std::uint8_t* bytes, std::uint32_t size) {
    store_profile(rgb_working, bytes, size);
}
void set_gray_working_profile(const std::uint8_t* bytes, std::uint32_t size) {
    store_profile(gray_working, bytes, size);
}
ProfileBytes rgb_working_profile() {
    return {rgb_working.data, rgb_working.size};
}
ProfileBytes gray_working_profile() {
    return {gray_working.data, gray_working.size};
}

void set_color_managed_conversion(ColorManagedConversion conversion) {
    managed_conversion.store(conversion);
}
void set_color_management_enabled(bool enabled) {
    management_enabled.store(enabled);
}
bool color_management_enabled() {
    return management_enabled.load();
}

// --- row conversions: pixels only; the driver zeroes the padding ---

namespace {

using RowConversion = void (*)(const std::uint8_t* in, std::uint8_t* out, std::size_t width);

const std::uint16_t* samples16(const std::uint8_t* row) {
    return reinterpret_cast<const std::uint16_t*>(row);
}
std::uint16_t* samples16(std::uint8_t* row) {
    return reinterpret_cast<std::uint16_t*>(row);
}
float* samples_float(std::uint8_t* row) {
    return reinterpret_cast<float*>(row);
}

std::uint8_t binary_level(const std::uint8_t* row, std::size_t x) {
    return static_cast<std::uint8_t>(0u - ((row[x >> 3] >> (7 - (x & 7))) & 1u));
}

void row_1_to_2(const std::uint8_t* __restrict in, std::uint8_t* __restrict out, std::size_t w) {
    for (std::size_t x = 0; x < w; ++x) out[x] = binary_level(in, x);
}

void row_1_to_3(const std::uint8_t* __restrict in, std::uint8_t* __restrict out, std::size_t w) {
    for (std::size_t x = 0; x < w; ++x) {
        const std::uint8_t v = binary_level(in, x);
        out[3 * x] = v;
        out[3 * x + 1] = v;
        out[3 * x + 2] = v;
    }
}

void row_2_to_3(const std::uint8_t* __restrict in, std::uint8_t* __restrict out, std::size_t w) {
    for (std::size_t x = 0; x < w; ++x) {
        out[3 * x] = in[x];
        out[3 * x + 1] = in[x];
        out[3 * x + 2] = in[x];
    }
}

void row_2_to_4(const std::uint8_t* __restrict in, std::uint8_t* __restrict row, std::size_t w) {
    std::uint16_t* __restrict out = samples16(row);
    for (std::size_t x = 0; x < w; ++x) out[x] = static_cast<std::uint16_t>(in[x] * 257u);
}

void row_2_to_6(const std::uint8_t* __restrict in, std::uint8_t* __restrict row, std::size_t w) {
    float* __restrict out = samples_float(row);
    for (std::size_t x = 0; x < w; ++x) out[x] = static_cast<float>(in[x] / 255.0);
}

void row_3_to_2(const std::uint8_t* __restrict in, std::uint8_t* __restrict out, std::size_t w) {
    for (std::size_t x = 0; x < w; ++x) {
        const std::uint32_t sum = in[3 * x] + in[3 * x + 1] + in[3 * x + 2];
        out[x] = static_cast<std::uint8_t>(sum / 3);
    }
}

void row_3_to_5(const std::uint8_t* __restrict in, std::uint8_t* __restrict row, std::size_t w) {
    std::uint16_t* __restrict out = samples16(row);
    const std::size_t n = 3 * w;
    for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint16_t>(in[i] * 257u);
}

void row_4_to_2(const std::uint8_t* __restrict row, std::uint8_t* __restrict out, std::size_t w) {
    const std::uint16_t* __restrict in = samples16(row);
    for (std::size_t x = 0; x < w; ++x) out[x] = to8_fast(in[x]);
}

void row_4_to_3(const std::uint8_t* __restrict row, std::uint8_t* __restrict out, std::size_t w) {
    const std::uint16_t* __restrict in = samples16(row);
    for (std::size_t x = 0; x < w; ++x) {
        const std::uint8_t v = to8_fast(in[x]);
        out[3 * x] = v;
        out[3 * x + 1] = v;
        out[3 * x + 2] = v;
    }
}

void row_4_to_5(const std::uint8_t* __restrict row, std::uint8_t* __restrict out_row,
                std::size_t w) {
    const std::uint16_t* __restrict in = samples16(row);
    std::uint16_t* __restrict out = samples16(out_row);
    for (std::size_t x = 0; x < w; ++x) {
        out[3 * x] = in[x];
        out[3 * x + 1] = in[x];
        out[3 * x + 2] = in[x];
    }
}

void row_4_to_6(const std::uint8_t* __restrict row, std::uint8_t* __restrict out_row,
                std::size_t w) {
    const std::uint16_t* __restrict in = samples16(row);
    float* __restrict out = samples_float(out_row);
    for (std::size_t x = 0; x < w; ++x) out[x] = static_cast<float>(in[x] / 65535.0);
}

void row_5_to_2(const std::uint8_t* __restrict row, std::uint8_t* __restrict out, std::size_t w) {
    const std::uint16_t* __restrict in = samples16(row);
    for (std::size_t x = 0; x < w; ++x) {
        const std::uint32_t sum = std::uint32_t{in[3 * x]} + in[3 * x + 1] + in[3 * x + 2];
        out[x] = to8_fast(static_cast<std::uint16_t>(sum / 3));
    }
}

void row_5_to_3(const std::uint8_t* __restrict row, std::uint8_t* __restrict out, std::size_t w) {
    const std::uint16_t* __restrict in = samples16(row);
    const std::size_t n = 3 * w;
    for (std::size_t i = 0; i < n; ++i) out[i] = to8_fast(in[i]);
}

// Bytes of pixels in a row of the target types (the rest is padding).
std::size_t pixel_bytes(std::uint32_t type, std::size_t width) {
    switch (type) {
        case image_gray8:
            return width;
        case image_color24:
            return 3 * width;
        case image_gray16:
            return 2 * width;
        case image_color48:
            return 6 * width;
        case image_float_gray:
            return 4 * width;
        default:
            return 0;
    }
}

enum class TargetProfile { source, gray, rgb };

ProfileBytes choose_profile(const Image& source, TargetProfile rule) {
    switch (rule) {
        case TargetProfile::gray: {
            ProfileBytes p = gray_working_profile();
            return p.size > 0 ? p : builtin_gray_profile();
        }
        case TargetProfile::rgb: {
            ProfileBytes p = rgb_working_profile();
            return p.size > 0 ? p : builtin_srgb_profile();
        }
        case TargetProfile::source:
        default:
            return {source.profile, source.profile_size};
    }
}

struct ConversionRule {
    std::uint32_t from;
    std::uint32_t to;
    TargetProfile profile;
    RowConversion rows;
    bool color_managed;
};

bool convert_into(const Image& source, Image& target, const ConversionRule& rule) {
    if (source.type != rule.from) {
        image_free(target);
        return true;
    }
    ColorManagedConversion managed = managed_conversion.load();
    const bool use_managed = rule.color_managed && managed && management_enabled.load();
    const ProfileBytes profile = choose_profile(source, rule.profile);
    // The plain rows overwrite every byte; a color transform writes only the pixels.
    if (detail::allocate_like(target, rule.to, source.width, source.height, source.dpi,
                              profile.data, profile.size, source.tags, use_managed)) {
        return true;
    }
    if (!target.rows) return false;
    bool failed;
    if (use_managed) {
        failed = managed(source, target);
    } else {
        const std::size_t width = source.width;
        const std::size_t used = pixel_bytes(rule.to, width);
        const std::size_t padding = target.row_bytes - used;
        const RowConversion rows = rule.rows;
        failed =
            run_rows(
                [=](const Image* in, Image* out, int first, int last, Progress&) -> std::uint8_t {
                    for (int r = first; r <= last; ++r) {
                        rows(in->rows[r], out->rows[r], width);
                        if (padding > 0) std::memset(out->rows[r] + used, 0, padding);
                    }
                    return 0;
                },
                {}, &source, &target) != 0;
    }
    if (failed) {
        image_free(target);
        return true;
    }
    return false;
}

bool convert(const Image& source, Image& target, const ConversionRule& rule) {
    if (&source != &target) return convert_into(source, target, rule);
    Image converted;
    if (convert_into(source, converted, rule)) return true;
    target = std::move(converted);
    return false;
}

constexpr ConversionRule rule_1_to_2{1, 2, TargetProfile::gray, row_1_to_2, false};
constexpr ConversionRule rule_1_to_3{1, 3, TargetProfile::rgb, row_1_to_3, false};
constexpr ConversionRule rule_2_to_3{2, 3, TargetProfile::rgb, row_2_to_3, true};
constexpr ConversionRule rule_2_to_4{2, 4, TargetProfile::source, row_2_to_4, false};
constexpr ConversionRule rule_2_to_6{2, 6, TargetProfile::source, row_2_to_6, false};
constexpr ConversionRule rule_3_to_2{3, 2, TargetProfile::gray, row_3_to_2, true};
constexpr ConversionRule rule_3_to_5{3, 5, TargetProfile::source, row_3_to_5, false};
constexpr ConversionRule rule_4_to_2{4, 2, TargetProfile::source, row_4_to_2, false};
constexpr ConversionRule rule_4_to_3{4, 3, TargetProfile::rgb, row_4_to_3, true};
constexpr ConversionRule rule_4_to_5{4, 5, TargetProfile::rgb, row_4_to_5, true};
constexpr ConversionRule rule_4_to_6{4, 6, TargetProfile::source, row_4_to_6, false};
constexpr ConversionRule rule_5_to_2{5, 2, TargetProfile::gray, row_5_to_2, true};
constexpr ConversionRule rule_5_to_3{5, 3, TargetProfile::source, row_5_to_3, false};

constexpr const ConversionRule* all_rules[] = {
    &rule_1_to_2, &rule_1_to_3, &rule_2_to_3, &rule_2_to_4, &rule_2_to_6,
    &rule_3_to_2, &rule_3_to_5, &rule_4_to_2, &rule_4_to_3, &rule_4_to_5,
    &rule_4_to_6, &rule_5_to_2, &rule_5_to_3,
};

const ConversionRule* find_rule(std::uint32_t from, std::uint32_t to) {
    for (const ConversionRule* rule : all_rules) {
        if (rule->from == from && rule->to == to) return rule;
    }
    return nullptr;
}

}  // namespace

bool convert_1_to_2(const Image& source, Image& target) {
    return convert(source, target, rule_1_to_2);
}
bool convert_1_to_3(const Image& source, Image& target) {
    return convert(source, target, rule_1_to_3);
}
bool convert_2_to_3(const Image& source, Image& target) {
    return convert(source, target, rule_2_to_3);
}
bool convert_2_to_4(const Image& source, Image& target) {
    return convert(source, target, rule_2_to_4);
}
bool convert_2_to_6(const Image& source, Image& target) {
    return convert(source, target, rule_2_to_6);
}
bool convert_3_to_2(const Image& source, Image& target) {
    return convert(source, target, rule_3_to_2);
}
bool convert_3_to_5(const Image& source, Image& target) {
    return convert(source, target, rule_3_to_5);
}
bool convert_4_to_2(const Image& source, Image& target) {
    return convert(source, target, rule_4_to_2);
}
bool convert_4_to_3(const Image& source, Image& target) {
    return convert(source, target, rule_4_to_3);
}
bool convert_4_to_5(const Image& source, Image& target) {
    return convert(source, target, rule_4_to_5);
}
bool convert_4_to_6(const Image& source, Image& target) {
    return convert(source, target, rule_4_to_6);
}
bool convert_5_to_2(const Image& source, Image& target) {
    return convert(source, target, rule_5_to_2);
}
bool convert_5_to_3(const Image& source, Image& target) {
    return convert(source, target, rule_5_to_3);
}

bool image_convert(const Image& source, Image& target, std::uint32_t type) {
    const ConversionRule* rule = find_rule(source.type, type);
    if (!rule) {
        if (&source != &target) image_free(target);
        return true;
    }
    return convert(source, target, *rule);
}

bool image_conversion_exists(std::uint32_t from, std::uint32_t to) {
    return find_rule(from, to) != nullptr;
}

}  // namespace tessaly
