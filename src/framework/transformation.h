// The run contract every transformation stands on: the per-run context, the error a node keeps,
// the masks prepared before a silent run, and the process-wide batch and script state. Modules
// themselves are declared with framework/module.h.
#pragma once

#include <cstdint>
#include <string_view>

#include "core/arguments.h"
#include "core/image.h"
#include "framework/node.h"

namespace tessaly {

// The text a failed run leaves in its node for an input type it cannot handle.
inline constexpr const char* illegal_input_type = "Illegal input image type";

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

// Fills the context's input fields from the given input node (null for a new top level image).
// Without gray the working input is the input node's own image. true on failure (the gray view
// could not be made).
template <class S>
bool bind_input(TransformationContext<S>& ctx, Node* input, Node* node, bool gray = true) {
    ctx.node = node;
    ctx.result = node ? &node->image : nullptr;
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
