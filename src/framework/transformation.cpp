#include "framework/transformation.h"

#include <atomic>

#include "core/runner.h"

namespace tessaly {

namespace {
std::atomic<std::int32_t> mode{0};
std::atomic<bool> abort_requested{false};
}  // namespace

std::uint8_t fail_node(Node* node, std::string_view text) {
    node->error = true;
    node->error_text.assign(text.substr(0, 255));
    return 1;
}

namespace {
std::atomic<MaskPreparer> mask_preparer{nullptr};
}  // namespace

void set_mask_preparer(MaskPreparer preparer) {
    mask_preparer.store(preparer);
}

void prepare_masks(Node* input, Node* node, const ArgumentList& args) {
    if (MaskPreparer preparer = mask_preparer.load(); preparer && node && !node->masks.empty()) {
        preparer(input, node, args);
    }
}

std::int32_t batch_mode() {
    return mode.load();
}

void set_batch_mode(std::int32_t m) {
    mode.store(m);
    set_run_abort(m != 0 && abort_requested.load());
}

bool batch_abort() {
    return abort_requested.load();
}

// Pixel loops stop at their next tick only while a batch runs.
void set_batch_abort(bool abort) {
    abort_requested.store(abort);
    set_run_abort(abort && mode.load() != 0);
}

namespace {
std::atomic<bool> script_flag{false};
}

bool script_running() {
    return script_flag.load();
}

void set_script_running(bool running) {
    script_flag.store(running);
}

}  // namespace tessaly
