#include "framework/module.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/runner.h"
#include "core/tables.h"
#include "framework/registry.h"

namespace tessaly {

const char* module_kind_name(ModuleKind kind) {
    switch (kind) {
        case ModuleKind::point:
            return "point filter";
        case ModuleKind::area:
            return "area filter";
        case ModuleKind::image:
            return "image filter";
        case ModuleKind::geometry:
            return "geometry";
        case ModuleKind::generator:
            return "generator";
        default:
            return "custom";
    }
}

const char* setting_kind_name(SettingKind kind) {
    switch (kind) {
        case SettingKind::integer:
            return "integer";
        case SettingKind::flag:
            return "flag";
        case SettingKind::choice:
            return "choice";
        case SettingKind::real:
            return "real";
        case SettingKind::colour:
            return "colour";
        case SettingKind::optional_colour:
            return "optional colour";
        case SettingKind::text:
            return "text";
        case SettingKind::curve:
            return "curve";
        case SettingKind::amount:
            return "amount";
        case SettingKind::dialog:
            return "dialog";
        case SettingKind::count:
            return "count";
        case SettingKind::group:
            return "group";
        default:
            return "custom";
    }
}

const char* out_of_range_name(OutOfRange rule) {
    switch (rule) {
        case OutOfRange::clamp:
            return "clamp";
        case OutOfRange::reject:
            return "reject";
        case OutOfRange::reset:
            return "default";
        default:
            return "accept";
    }
}

// --- the registry's side -----------------------------------------------------------------------

namespace {

// Every registered module's run entry: the row found again by keyword (the alias included).
std::uint8_t run_registered_module(Node* input, Node* node, const ArgumentList& args) {
    const TransformationEntry* e = args.count() > 0 ? find_transformation(args[0]) : nullptr;
    if (!e || !e->module) return run_not_available(input, node, args);
    return e->module->run(input, node, args);
}

}  // namespace

void register_module(const TransformationModule& module) {
    TransformationEntry* e = find_transformation(module.keyword());
    if (!e || e->keyword != std::string_view(module.keyword())) {
        std::fprintf(stderr, "internal error: no registry row for module %s\n", module.keyword());
        std::abort();
    }
    e->module = &module;
    e->run = run_registered_module;
    if (module.dialog_entry()) e->dialog = module.dialog_entry();
}

const char* registry_display_name(std::string_view keyword) {
    for (const TransformationEntry& e : registry_rows()) {
        if (e.keyword && keyword == e.keyword) return e.display_name;
    }
    return "";
}

const TransformationModule* find_module(std::string_view keyword) {
    const TransformationEntry* e = find_transformation(keyword);
    return e ? e->module : nullptr;
}

std::vector<const TransformationModule*> built_modules() {
    std::vector<const TransformationModule*> out;
    for (const TransformationEntry& e : registry_rows()) {
        if (e.module) out.push_back(e.module);
    }
    std::sort(out.begin(), out.end(), [](const auto* a, const auto* b) {
        return std::strcmp(a->keyword(), b->keyword()) < 0;
    });
    return out;
}

SettingsName settings_name_of(std::string_view display_name) {
    std::string extension = ".";
    for (const char c : display_name) {
        extension += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return {std::string(display_name), extension};
}

// --- the filter kinds --------------------------------------------------------------------------

namespace {

bool alloc_like(const Image& in, Image& out) {
    return image_alloc_with(out, in.type, in.width, in.height, in.dpi, in.profile, in.profile_size,
                            in.tags);
}

// Row y of an 8 or 16-bit gray mask as 8-bit values.
const std::uint8_t* mask_row8(const Image& mask, int y, std::vector<std::uint8_t>& buffer) {
    if (mask.type != image_gray16) return mask.rows[y];
    buffer.resize(mask.width);
    for (std::uint32_t x = 0; x < mask.width; ++x) buffer[x] = to8[sample16(mask.rows[y], x)];
    return buffer.data();
}

// Position of a row or column beyond an edge of 0 .. n - 1.
int edge_index(int i, int n, Edge edge) {
    if (i >= 0 && i < n) return i;
    if (edge == Edge::clamp) return std::clamp(i, 0, n - 1);
    if (i < 0) return std::min(-i, n - 1);
    return std::max(2 * n - i - 2, 0);
}

}  // namespace

bool run_point_rows(const PointRows& rows, const Image& in, Image& out, const Image* mask,
                    std::string_view title) {
    if (&in == &out || alloc_like(in, out)) return true;
    if (mask && (mask->width != in.width || mask->height != in.height)) {
        image_free(out);
        return true;
    }
    const std::uint8_t error = run_rows(
        [&](const Image* source, Image* target, int first, int last, Progress& p) -> std::uint8_t {
            std::vector<std::uint8_t> scratch(rows.scratch_bytes), mask_buffer;
            for (int y = first; y <= last; ++y) {
                if (progress_tick(p)) return 1;
                rows.row(source->rows[y], target->rows[y], source->width,
                         mask ? mask_row8(*mask, y, mask_buffer) : nullptr, scratch.data());
            }
            return 0;
        },
        title, &in, &out);
    if (error) image_free(out);
    return error != 0;
}

bool run_area_rows(const AreaRows& rows, const Image& in, Image& out, std::string_view title) {
    const std::size_t bpp = image_pixel_bytes(in.type);
    if (&in == &out || bpp == 0 || rows.radius < 0 || alloc_like(in, out)) return true;
    const int r = rows.radius;
    const int width = static_cast<int>(in.width), height = static_cast<int>(in.height);
    const std::size_t padded = (static_cast<std::size_t>(width) + 2 * r) * bpp;
    const int window = 2 * r + 1;
    const std::uint8_t error = run_rows(
        [&](const Image* source, Image* target, int first, int last, Progress& p) -> std::uint8_t {
            std::vector<std::uint8_t> ring(padded * window), scratch(rows.scratch_bytes);
            std::vector<const std::uint8_t*> window_rows(window);
            auto slot = [&](int y) {
                return ring.data() +
                       static_cast<std::size_t>(((y % window) + window) % window) * padded;
            };
            auto load = [&](int y) {
                std::uint8_t* b = slot(y);
                const std::uint8_t* s = source->rows[edge_index(y, height, rows.edge)];
                std::memcpy(b + r * bpp, s, static_cast<std::size_t>(width) * bpp);
                for (int k = 1; k <= r; ++k) {
                    std::memcpy(b + (r - k) * bpp, s + edge_index(-k, width, rows.edge) * bpp, bpp);
                    std::memcpy(b + (r + width - 1 + k) * bpp,
                                s + edge_index(width - 1 + k, width, rows.edge) * bpp, bpp);
                }
            };
            for (int y = first - r; y < first + r; ++y) load(y);
            for (int y = first; y <= last; ++y) {
                if (progress_tick(p)) return 1;
                load(y + r);
                for (int k = 0; k < window; ++k) window_rows[k] = slot(y - r + k) + r * bpp;
                rows.row(window_rows.data(), target->rows[y], source->width, scratch.data());
            }
            return 0;
        },
        title, &in, &out);
    if (error) image_free(out);
    return error != 0;
}

std::uint8_t run_filter(const FilterRun& run) {
    const Image& in = run.input;
    Image& result = run.result;
    auto pass_or_copy = [&](int set, Image& out) {
        return run.neutral(set) ? image_copy(in, out) : run.pass(set, out);
    };
    auto fail = [&]() -> std::uint8_t {
        image_free(result);
        return 1;
    };
    if (run.mixing != Mixing::none && run.amount && amount_leaves_input(*run.amount, run.mask)) {
        return image_copy(in, result) ? fail() : 0;
    }
    if (run.mixing == Mixing::two_sets && run.mask) {
        Image white, black, out;
        if (pass_or_copy(0, white) || pass_or_copy(1, black) ||
            mix_two_results(in, black, white, out, *run.amount, run.mask)) {
            return fail();
        }
        result = std::move(out);
        return 0;
    }
    if (run.neutral(0)) return image_copy(in, result) ? fail() : 0;
    if (run.pass(0, result)) return fail();
    if (run.mixing != Mixing::none && run.amount &&
        mix_in_place(in, result, *run.amount, run.mask)) {
        return fail();
    }
    return 0;
}

}  // namespace tessaly
