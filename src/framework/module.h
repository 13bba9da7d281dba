// A transformation module: its settings declaration, its operation, and nothing else. The module
// file declares one `Registered` object, which puts the module into its registry row when the
// program starts; running from a command line, "Default" settings files, the version check, the
// range rules, the amount and mask mixing, the dialog's view of the module and its reference
// entry all come from the framework.
//
//   const Registered<InvertSettings> invert{{
//       .keyword = "invert",
//       .schema = Schema<InvertSettings>().choice("colorspace", ...).amount("amount", ...) ...,
//       .types = types_all_five,
//       .point = invert_rows,
//   }};
//
// Kinds of operation (exactly one is given):
// - point: a function of one pixel or a lookup table, chosen per run for the input's type; the
//   framework allocates the output and runs the rows;
// - area: the same over a window of 2r + 1 rows, padded by r pixels on each side by the edge rule;
// - image: a whole-image operation (pixel kernels) that fills the output itself;
// - run: everything itself (geometry, generators, and transformations with their own flow).
// For point, area and image the framework checks the input type, gives back a copy of the input
// when the settings are neutral, and mixes the result with the input through the first amount
// and its mask: in place, or as two settings sets where the mask is white and black.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/format.h"
#include "core/image.h"
#include "framework/declaration.h"
#include "framework/mix.h"
#include "framework/registry.h"
#include "framework/settings_files.h"
#include "framework/transformation.h"
#include "kernels/rows.h"

namespace tessaly {

// Image types as a set: bit t for type t (Part-style type codes 1 .. 7).
using TypeSet = std::uint32_t;
constexpr TypeSet type_bit(std::uint32_t type) {
    return TypeSet{1} << type;
}
inline constexpr TypeSet types_gray_and_colour = type_bit(image_gray8) | type_bit(image_color24) |
                                                 type_bit(image_gray16) | type_bit(image_color48);
inline constexpr TypeSet types_colour = type_bit(image_color24) | type_bit(image_color48);
inline constexpr TypeSet types_all_five = type_bit(image_binary) | types_gray_and_colour;
inline constexpr TypeSet types_floating = type_bit(image_float_gray) | type_bit(image_float_color);
inline constexpr TypeSet types_any = types_all_five | types_floating;

enum class ModuleKind : std::uint8_t { point, area, image, geometry, generator, custom };
const char* module_kind_name(ModuleKind kind);

// How the framework mixes a point, area or image result with the input.
enum class Mixing : std::uint8_t {
    in_place,  // mix in place through the first amount and its mask
    two_sets,  // with a mask in use: set 0 where it is white, set 1 where it is black
    none,      // the operation uses the amount itself (point rows then get the mask's rows)
};

// What a dialog needs to know beyond the settings.
// Preview buttons of a dialog: compute the whole result now, show the difference between
// result and input, show the preview at 2:1.
enum : std::uint8_t {
    preview_button_run = 1,
    preview_button_delta = 2,
    preview_button_double = 4,
};

struct DialogTraits {
    bool same_size = true;
    bool size_specific = false;
    // The output may differ in size from the input or replaces the image (Resize, Crop, ...):
    // opening the dialog asks first when something downstream depends on the image size.
    bool replaces_image = false;
    // The node starts an image of its own (File New, File Open): its dialog makes a new top
    // level image instead of a node after the current one.
    bool top_level = false;
    // The preview buttons the dialog offers (preview_button_* bits).
    std::uint8_t preview_buttons = 0;
};

template <class S>
struct Module {
    const char* keyword = nullptr;
    // Folder and extension of the settings files; an empty name means the display name and
    // "." + the display name in lowercase.
    SettingsName settings;
    // The version token written after the keyword; null: the command line is the keyword alone.
    const char* version = "0";
    Schema<S> schema;
    TypeSet types = types_gray_and_colour;  // accepted input types
    // The operation reads the input node's own image, binary included, instead of the gray view.
    bool reads_binary = false;
    Mixing mixing = Mixing::in_place;
    ModuleKind kind = ModuleKind::custom;  // for `run` only: what it does, for the reference
    const char* title = nullptr;           // progress title of point and area rows; null: name
    DialogTraits dialog;

    // Defaults that depend on the input (for example the source size); after the declared ones.
    void (*input_defaults)(S&, const TransformationContext<S>&) = nullptr;
    // Legacy keys whose values the declared keys may override: read before them.
    void (*before_read)(S&, const ArgumentList&, const TransformationContext<S>&) = nullptr;
    // Validation beyond the declared ranges, after reading; true = the parse failed.
    bool (*after_parse)(S&, const ArgumentList&, const TransformationContext<S>&) = nullptr;
    // Checks the extra inputs against the main one; warnings shown only when show is set.
    void (*check_inputs)(TransformationContext<S>&, bool show) = nullptr;

    // Settings set (0, or 1 for the black areas of two sets) under which the output is the input.
    bool (*neutral)(const TransformationContext<S>&, int set, const Image& in) = nullptr;
    PointRows (*point)(const TransformationContext<S>&, int set, const Image& in) = nullptr;
    AreaRows (*area)(const TransformationContext<S>&, int set, const Image& in) = nullptr;
    // Fills out (allocated by the operation); true on failure.
    bool (*image)(const TransformationContext<S>&, int set, const Image& in, Image& out) = nullptr;
    // Everything itself: fills *ctx.result; returns the error flag (and sets the node's text).
    std::uint8_t (*run)(TransformationContext<S>&) = nullptr;
    // A menu command of its own in place of a dialog (registry contract, Part-style).
    DialogEntry dialog_entry = nullptr;
    // An open dialog's input changed type (gray to colour or back): settings that no longer fit
    // are put right, with a message; true when they changed.
    bool (*input_switched)(S&, std::uint32_t previous_type, std::uint32_t current_type) = nullptr;
};

// What the registry, the command-line program, the dialogs and the tests see of a module.
class TransformationModule {
  public:
    virtual ~TransformationModule() = default;
    virtual const char* keyword() const = 0;
    virtual const char* display_name() const = 0;
    virtual const SettingsName& settings_name() const = 0;
    virtual std::string_view version() const = 0;
    virtual DialogEntry dialog_entry() const = 0;
    virtual ModuleKind kind() const = 0;
    virtual TypeSet types() const = 0;
    virtual bool reads_binary() const = 0;
    virtual Mixing mixing() const = 0;
    virtual int amount_count() const = 0;
    virtual DialogTraits dialog_traits() const = 0;
    // The module's answer to an open dialog's input changing type: line rewritten when its
    // settings had to change.
    virtual bool input_switched(std::string& line, std::uint32_t previous_type,
                                std::uint32_t current_type) const = 0;
    virtual std::vector<SettingInfo> describe() const = 0;
    virtual std::string default_command_line() const = 0;
    // The run entry (Part-style contract): fills node's result from input.
    virtual std::uint8_t run(Node* input, Node* node, const ArgumentList& args) const = 0;
    // What a command line means: parsed (against node's masks and input's image when given) and
    // written back. true when it does not parse; out then holds the default command line.
    virtual bool normalise(const ArgumentList& args, Node* input, Node* node,
                           std::string& out) const = 0;
};

// Puts a module into its registry row (called by Registered). A keyword without a row is a
// programming error: reported on stderr and the program ends.
void register_module(const TransformationModule& module);
// The display name of a registry row ("" when there is none).
const char* registry_display_name(std::string_view keyword);
// The module of a keyword, or null when none is built.
const TransformationModule* find_module(std::string_view keyword);
// Every built module, in keyword order.
std::vector<const TransformationModule*> built_modules();

// "Rotate/Mirror" -> {"Rotate/Mirror", ".rotate/mirror"}: the usual settings name.
SettingsName settings_name_of(std::string_view display_name);

// --- the shared pieces of the filter kinds (module.cpp; the rows in kernels/rows.h) ----------

// The sequence around a filter's passes.
struct FilterRun {
    const Image& input;
    Image& result;
    const AmountSettings* amount = nullptr;  // the first amount, if any
    const Image* mask = nullptr;             // its mask while in use
    Mixing mixing = Mixing::in_place;
    std::function<bool(int set)> neutral;
    std::function<bool(int set, Image& out)> pass;  // true on failure
};
// 0 on success; on failure the result is empty.
std::uint8_t run_filter(const FilterRun& run);

template <class S>
class Registered final : public TransformationModule {
  public:
    explicit Registered(Module<S> module) : m_(std::move(module)) {
        display_ = registry_display_name(m_.keyword);
        settings_ = m_.settings.name.empty() ? settings_name_of(display_) : m_.settings;
        register_module(*this);
    }
    Registered(const Registered&) = delete;
    Registered& operator=(const Registered&) = delete;

    const Module<S>& module() const { return m_; }
    const Schema<S>& schema() const { return m_.schema; }

    // --- typed use by the module's neighbours --------------------------------------------------

    S defaults() const { return m_.schema.defaults(); }
    std::string format(const S& s) const {
        if (!m_.version) return m_.keyword;
        return m_.schema.format(m_.keyword, m_.version, s);
    }
    // Declared defaults, input defaults, then the command line: version check under the display
    // name, legacy keys, declared keys with their range rules, the amounts made consistent with
    // the node's masks, validation. true when the parse failed; the settings are then the
    // defaults again.
    bool parse(const ArgumentList& args, TransformationContext<S>& ctx) const {
        if (!read_into(args, ctx)) return false;
        start(ctx);
        return true;
    }
    // The declared defaults, then those that depend on the input.
    void start(TransformationContext<S>& ctx) const {
        ctx.settings = m_.schema.defaults();
        if (m_.input_defaults) m_.input_defaults(ctx.settings, ctx);
    }

  private:
    bool read_into(const ArgumentList& args, TransformationContext<S>& ctx) const {
        start(ctx);
        if (args.count() < 1 || args[0] != m_.keyword) return true;
        if (args.count() > 1 && m_.version) {
            double expected = 0.0;
            (void)parse_real(m_.version, expected);
            (void)version_check(args[1], expected, display_);
        }
        PlainSeparators plain;
        if (m_.before_read) m_.before_read(ctx.settings, args, ctx);
        if (m_.schema.read(args, ctx.settings)) return true;
        for (AmountSettings S::*a : m_.schema.amounts()) {
            amount_make_consistent(ctx.settings.*a, ctx.node);
        }
        return m_.after_parse && m_.after_parse(ctx.settings, args, ctx);
    }

  public:
    // The same without a context: node (may be null) holds the masks the amounts refer to.
    bool parse(const ArgumentList& args, S& settings, Node* node = nullptr) const {
        TransformationContext<S> ctx;
        ctx.node = node;
        const bool failed = parse(args, ctx);
        settings = std::move(ctx.settings);
        return failed;
    }

    // --- TransformationModule ------------------------------------------------------------------

    const char* keyword() const override { return m_.keyword; }
    const char* display_name() const override { return display_; }
    const SettingsName& settings_name() const override { return settings_; }
    std::string_view version() const override { return m_.version ? m_.version : ""; }
    DialogEntry dialog_entry() const override { return m_.dialog_entry; }
    ModuleKind kind() const override {
        if (m_.point) return ModuleKind::point;
        if (m_.area) return ModuleKind::area;
        if (m_.image) return ModuleKind::image;
        return m_.kind;
    }
    TypeSet types() const override { return m_.types; }
    bool reads_binary() const override { return m_.reads_binary; }
    Mixing mixing() const override { return m_.mixing; }
    int amount_count() const override { return static_cast<int>(m_.schema.amounts().size()); }
    DialogTraits dialog_traits() const override { return m_.dialog; }
    bool input_switched(std::string& line, std::uint32_t previous_type,
                        std::uint32_t current_type) const override {
        S settings;
        if (!m_.input_switched || parse(split(line), settings)) return false;
        if (!m_.input_switched(settings, previous_type, current_type)) return false;
        line = format(settings);
        return true;
    }
    std::vector<SettingInfo> describe() const override { return m_.schema.describe(); }
    std::string default_command_line() const override { return format(defaults()); }

    std::uint8_t run(Node* input, Node* node, const ArgumentList& args) const override {
        TransformationContext<S> ctx;
        if (bind_input(ctx, input, node, !m_.reads_binary)) {
            node->error = true;
            return 1;
        }
        bool failed = false;
        if (args.count() <= 1) {
            start(ctx);
            if (auto stored = load_settings(m_.keyword, std::string("Default"), settings_)) {
                prepare_masks(input, node, *stored);
                failed = parse(*stored, ctx);
            } else {
                prepare_masks(input, node, args);
            }
        } else {
            // The amounts are made consistent with the masks while parsing: masks first.
            prepare_masks(input, node, args);
            failed = parse(args, ctx);
        }
        std::uint8_t error = 1;
        if (failed) {
            (void)fail_node(node, formatted("Illegal %s command line", settings_.name));
        } else {
            if (m_.check_inputs) m_.check_inputs(ctx, false);
            error = operate(ctx);
        }
        // A failed node shows a cleared picture; those below it report "Bad input image".
        if (error) {
            image_free(node->image);
            image_free(node->transparency);
        }
        node->error = error != 0;
        return error;
    }

    bool normalise(const ArgumentList& args, Node* input, Node* node,
                   std::string& out) const override {
        TransformationContext<S> ctx;
        if (bind_input(ctx, input, node, !m_.reads_binary)) return true;
        const bool failed = parse(args, ctx);
        out = format(ctx.settings);
        return failed;
    }

    // The operation on a parsed context: the module's own run, or the filter sequence.
    std::uint8_t operate(TransformationContext<S>& ctx) const {
        if (m_.run) return m_.run(ctx);
        const Image* in = ctx.working_input;
        if (!in || !in->has_pixels() || !(m_.types & type_bit(in->type))) {
            image_free(*ctx.result);
            return fail_node(ctx.node, illegal_input_type);
        }
        const auto& amounts = m_.schema.amounts();
        const AmountSettings* amount = amounts.empty() ? nullptr : &(ctx.settings.*amounts[0]);
        const Image* mask = amount ? amount_mask(*amount, ctx.node) : nullptr;
        const std::string_view title = m_.title ? std::string_view(m_.title) : display_;
        FilterRun run{*in, *ctx.result, amount, mask, m_.mixing};
        run.neutral = [&](int set) { return m_.neutral && m_.neutral(ctx, set, *in); };
        run.pass = [&](int set, Image& out) -> bool {
            if (m_.point) {
                const PointRows rows = m_.point(ctx, set, *in);
                if (!rows.row) return true;
                return run_point_rows(rows, *in, out, m_.mixing == Mixing::none ? mask : nullptr,
                                      title);
            }
            if (m_.area) {
                const AreaRows rows = m_.area(ctx, set, *in);
                if (!rows.row) return true;
                return run_area_rows(rows, *in, out, title);
            }
            return !m_.image || m_.image(ctx, set, *in, out);
        };
        return run_filter(run);
    }

  private:
    Module<S> m_;
    const char* display_ = "";
    SettingsName settings_;
};

}  // namespace tessaly
