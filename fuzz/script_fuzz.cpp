// Script and workspace files are shared between people and machines: the loader must take any
// bytes and fail cleanly, and whatever it builds must save and load back to the same tree.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "batch/engine.h"
#include "core/image.h"
#include "core/text_file.h"
#include "framework/registry.h"
#include "fuzz_support.h"
#include "tree/tree.h"
#include "workspace/script_files.h"
#include "workspace/startup.h"

using namespace tessaly;

namespace {

// Files are not what this target is about: File Open makes a small picture of its own.
std::uint8_t small_picture(Node*, Node* node, const ArgumentList&) {
    if (image_alloc(node->image, image_color24, 3, 2, 72.0)) return 1;
    return 0;
}

void setup() {
    fuzz::silence_messages();
    install_engine();
    install_transformation("file_open", small_picture, nullptr);
    // Resize and File New may ask for any size: keep every picture small.
    image_set_memory_limit(std::uint64_t{64} << 20);
}

// Nodes of the forest; -1 when it holds a cycle (such a tree cannot be written in order).
int node_count() {
    if (check_cycles()) return -1;
    return static_cast<int>(all_nodes().size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static bool ready = (setup(), true);
    (void)ready;
    const std::string folder = fuzz::scratch_folder();
    const std::string input = folder + "/in.workspace", output = folder + "/out.workspace";
    if (write_file_atomic(input, std::string_view(reinterpret_cast<const char*>(data), size))) {
        std::abort();
    }
    const bool failed = load_workspace(input);
    const int built = node_count();
    if (!failed && built > 0) {
        if (write_workspace_file(output, ImageNames::with_names, {})) std::abort();
        close_all_images();
        if (load_workspace(output)) std::abort();
        if (node_count() != built) std::abort();
    }
    close_all_images();
    clear_script_state();
    return 0;
}
