// The scaffolding every transformation module stands on. A module declares its settings once
// (key, field, written form) and provides a run function; the command line is written in the
// declared key order and read back by key, and the run entry sequence is shared:
//
//   struct FlipSettings { std::int32_t axis = 0; std::int32_t display = 1; ... };
//   const Module<FlipSettings> flip_module = {
//       .keyword = "flip", .display_name = "Flip", .settings = {"Flip", ".flip"},
//       .schema = Schema<FlipSettings>().integer("axis", &FlipSettings::axis)
//                                       .integer("display", &FlipSettings::display),
//       .run = run_flip};
//   std::uint8_t flip_run_entry(Node* in, Node* n, const ArgumentList& a) {
//       return run_entry(flip_module, in, n, a);
//   }
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/arguments.h"
#include "core/curve.h"
#include "core/format.h"
#include "core/image.h"
#include "framework/node.h"
#include "framework/settings_files.h"

namespace tessaly {

// The text a failed run leaves in its node for an input type it cannot handle.
inline constexpr const char* illegal_input_type = "Illegal input image type";

// Three 8-bit colour components; c1 is the low byte of the written hexadecimal value.
struct Colour {
    std::uint8_t c1 = 0, c2 = 0, c3 = 0;
    std::uint32_t value() const { return c1 | (c2 << 8) | (static_cast<std::uint32_t>(c3) << 16); }
    bool operator==(const Colour&) const = default;
};

// An optional colour: written "ffffffff" when absent.
struct OptionalColour {
    Colour colour;
    bool none = false;
    bool operator==(const OptionalColour&) const = default;
};

// The settings declaration: one entry per key, in the order the command line writes them.
template <class S>
class Schema {
  public:
    using Writer = std::function<void(const S&, std::string&)>;
    using Reader = std::function<void(const ArgumentList&, S&)>;

    Schema&& integer(std::string_view key, std::int32_t S::*field) && {
        return add(
            key, [field](const S& s, std::string& out) { out += formatted("%d", s.*field); },
            [key, field](const ArgumentList& a, S& s) { (void)read_integer(a, key, s.*field); });
    }
    Schema&& flag(std::string_view key, bool S::*field) && {
        return add(
            key, [field](const S& s, std::string& out) { out += (s.*field) ? "1" : "0"; },
            [key, field](const ArgumentList& a, S& s) {
                std::int32_t v = 0;
                if (!read_integer(a, key, v)) s.*field = v != 0;
            });
    }
    // directive: the written form, for example "%4f", "%4zf", "%5zf".
    Schema&& real(std::string_view key, double S::*field, std::string_view directive) && {
        return add(
            key,
            [field, directive](const S& s, std::string& out) {
                out += formatted(directive, s.*field);
            },
            [key, field](const ArgumentList& a, S& s) { (void)read_real(a, key, s.*field); });
    }
    Schema&& colour(std::string_view key, Colour S::*field) && {
        return add(
            key,
            [field](const S& s, std::string& out) { out += formatted("%x", (s.*field).value()); },
            [key, field](const ArgumentList& a, S& s) {
                Colour& c = s.*field;
                (void)read_colour(a, key, c.c1, c.c2, c.c3);
            });
    }
    Schema&& optional_colour(std::string_view key, OptionalColour S::*field) && {
        return add(
            key,
            [field](const S& s, std::string& out) {
                const OptionalColour& c = s.*field;
                out += c.none ? std::string("ffffffff") : formatted("%x", c.colour.value());
            },
            [key, field](const ArgumentList& a, S& s) {
                OptionalColour& c = s.*field;
                (void)read_optional_colour(a, key, c.colour.c1, c.colour.c2, c.colour.c3, c.none);
            });
    }
    // Written between ″ quotes; read cut to capacity characters.
    Schema&& text(std::string_view key, std::string S::*field, std::size_t capacity = 255) && {
        return add(
            key,
            [field](const S& s, std::string& out) { out += formatted("\u2033%s\u2033", s.*field); },
            [key, field, capacity](const ArgumentList& a, S& s) {
                (void)read_string(a, key, s.*field, capacity);
            });
    }
    Schema&& curve(std::string_view key, Curve S::*field) && {
        return add(
            key,
            [field](const S& s, std::string& out) {
                out += formatted("\u2033%s\u2033", curve_to_text(s.*field));
            },
            [key, field](const ArgumentList& a, S& s) {
                int i = 0;
                if (!find_key(a, key, i)) (void)curve_from_text(a[i], s.*field);
            });
    }
    // Anything else: the module writes the value and reads it itself.
    Schema&& custom(std::string_view key, Writer writer, Reader reader) && {
        return add(key, std::move(writer), std::move(reader));
    }

    // "keyword version key value key value ..."
    std::string format(std::string_view keyword, std::string_view version, const S& s) const {
        PlainSeparators plain;
        std::string out(keyword);
        out += ' ';
        out += version;
        for (const Field& f : fields_) {
            out += ' ';
            out += f.key;
            out += ' ';
            f.write(s, out);
        }
        return out;
    }
    // Reads every declared key that is present; absent or unreadable keys keep their values.
    void read(const ArgumentList& args, S& s) const {
        PlainSeparators plain;
        for (const Field& f : fields_) f.read(args, s);
    }
    std::vector<std::string_view> keys() const {
        std::vector<std::string_view> k;
        for (const Field& f : fields_) k.push_back(f.key);
        return k;
    }

  private:
    struct Field {
        std::string_view key;
        Writer write;
        Reader read;
    };
    Schema&& add(std::string_view key, Writer w, Reader r) {
        fields_.push_back({key, std::move(w), std::move(r)});
        return std::move(*this);
    }
    std::vector<Field> fields_;
};

// The per-run (or per-dialog) record of a transformation.
template <class S>
struct TransformationContext {
    S settings{};
    Node* input_node = nullptr;            // the effective image node of the node's parent
    const Image* working_input = nullptr;  // gray view of the input node's image
    Node* node = nullptr;
    Image* result = nullptr;  // the node's result Image
    Image scratch;            // the gray view's 8-bit copy of a binary input
    bool dialog = false;      // running from a dialog (messages may be shown)
};

// A transformation module: names, settings declaration and the operation.
template <class S>
struct Module {
    const char* keyword = nullptr;
    const char* display_name = nullptr;
    SettingsName settings;        // folder and extension of the settings files
    const char* version = "0";    // the version token written after the keyword
    double version_number = 0.0;  // the version the parser expects
    // The operation reads the input node's own image, binary included, instead of the gray view.
    bool reads_binary = false;
    Schema<S> schema;
    // Defaults that depend on the input (for example the source size); after the built-in ones.
    void (*input_defaults)(S&, const TransformationContext<S>&) = nullptr;
    // Legacy keys whose values the declared keys may override: read before them.
    void (*before_read)(S&, const ArgumentList&, const TransformationContext<S>&) = nullptr;
    // Validation after the declared keys were read; true = the parse failed.
    bool (*after_parse)(S&, const ArgumentList&, const TransformationContext<S>&) = nullptr;
    // Checks the extra inputs against the main one; warnings shown only when show is set.
    void (*check_inputs)(TransformationContext<S>&, bool show) = nullptr;
    // The operation: fills *ctx.result; returns the error flag (and sets node->error_text).
    std::uint8_t (*run)(TransformationContext<S>&) = nullptr;
};

// Built-in defaults, input defaults, then the command line (version check under the display
// name, legacy keys, declared keys, validation). true when the parse failed.
template <class S>
bool parse_settings(const Module<S>& module, const ArgumentList& args,
                    TransformationContext<S>& ctx) {
    ctx.settings = S{};
    if (module.input_defaults) module.input_defaults(ctx.settings, ctx);
    if (args.count() < 1 || args[0] != module.keyword) return true;
    if (args.count() > 1) (void)version_check(args[1], module.version_number, module.display_name);
    if (module.before_read) {
        PlainSeparators plain;
        module.before_read(ctx.settings, args, ctx);
    }
    module.schema.read(args, ctx.settings);
    if (module.after_parse) {
        PlainSeparators plain;
        if (module.after_parse(ctx.settings, args, ctx)) return true;
    }
    return false;
}

template <class S>
std::string format_settings(const Module<S>& module, const S& settings) {
    return module.schema.format(module.keyword, module.version, settings);
}

// Fills the context's input fields from the given input node (null for a new top level image).
// Without gray_view the working input is the input node's own image. true on failure (the gray
// view could not be made).
template <class S>
bool bind_input(TransformationContext<S>& ctx, Node* input, Node* node, bool gray = true) {
    ctx.node = node;
    ctx.result = &node->image;
    ctx.input_node = input ? effective_image_node(input) : nullptr;
    ctx.working_input = nullptr;
    if (ctx.input_node && !gray) {
        ctx.working_input = &ctx.input_node->image;
    } else if (ctx.input_node) {
        ctx.working_input = gray_view(ctx.input_node->image, ctx.scratch);
        if (!ctx.working_input) return true;
    }
    return false;
}

// Sets the node's error flag and text and returns the flag.
std::uint8_t fail_node(Node* node, std::string_view text);

// Before a run without a dialog a node's masks take the recipes its command line carries and
// are rebuilt on their base images. The masks layer provides the work; without it nothing happens.
using MaskPreparer = void (*)(Node* input, Node* node, const ArgumentList& args);
void set_mask_preparer(MaskPreparer preparer);
void prepare_masks(Node* input, Node* node, const ArgumentList& args);

// The run entry sequence shared by every module: context, settings (the tokens, or "Default"
// when only the keyword is given), input checks without messages, the operation, the error flag
// stored in the node.
template <class S>
std::uint8_t run_entry(const Module<S>& module, Node* input, Node* node, const ArgumentList& args) {
    TransformationContext<S> ctx;
    if (bind_input(ctx, input, node, !module.reads_binary)) {
        node->error = true;
        return 1;
    }
    bool failed;
    if (args.count() <= 1) {
        ctx.settings = S{};
        if (module.input_defaults) module.input_defaults(ctx.settings, ctx);
        failed = false;
        if (auto stored = load_settings(module.keyword, std::string("Default"), module.settings)) {
            prepare_masks(input, node, *stored);
            failed = parse_settings(module, *stored, ctx);
        } else {
            prepare_masks(input, node, args);
        }
    } else {
        // The amounts are made consistent with the masks while parsing, so the masks come first.
        prepare_masks(input, node, args);
        failed = parse_settings(module, args, ctx);
    }
    if (failed) {
        return fail_node(node, formatted("Illegal %s command line", module.settings.name));
    }
    if (module.check_inputs) module.check_inputs(ctx, false);
    std::uint8_t error = module.run(ctx);
    node->error = error != 0;
    return error;
}

// The batch state shared with the batch layer: mode 0 none, 1 run, 2 test (asks after each
// file); the abort flag also stops every running pixel loop at its next tick.
std::int32_t batch_mode();
void set_batch_mode(std::int32_t mode);
bool batch_abort();
void set_batch_abort(bool abort);

// Set while a script, workspace or snippet file is read and its nodes run; transformations that
// write files (Export) consult it.
bool script_running();
void set_script_running(bool running);

}  // namespace tessaly
