#include "framework/module.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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
