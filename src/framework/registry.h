// The Transformation Registry: one static table of every transformation, the only place where a
// keyword is tied to the code that runs it. Rows are reordered by use count at run time, so code
// keeps a row's keyword, command identifier or display name, never its position.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "core/arguments.h"
#include "framework/node.h"

namespace tessaly {

class TransformationModule;

// Runs a transformation from its command line without a window: fills node's result image from
// input (null for a transformation that starts a new top level image). Stores the error flag in
// the node and returns it (0 = success).
using RunEntry = std::uint8_t (*)(Node* input, Node* node, const ArgumentList& args);
// Opens the transformation's dialog: args null = the menu case (node is the current node), else
// the edit case. Returns 1 only when its working storage could not be obtained.
using DialogEntry = std::uint8_t (*)(Node* node, const ArgumentList* args);

struct TransformationEntry {
    const char* keyword = nullptr;
    RunEntry run = nullptr;
    DialogEntry dialog = nullptr;
    bool no_edit = false;
    std::int32_t max_masks = 0;   // -1: not checked
    std::int32_t max_inputs = 0;  // -1: not checked
    std::uint32_t command_id = 0;
    const char* display_name = nullptr;
    std::int32_t use_count = 0;
    const TransformationModule* module = nullptr;  // the built module, when there is one
};

// The rows in their current order.
std::span<TransformationEntry> registry_rows();
constexpr int registry_size = 142;

// Exact, case-sensitive lookup; "bilateral_sharpen" is looked up as "multipass_sharpen".
TransformationEntry* find_transformation(std::string_view keyword);
TransformationEntry* find_transformation_by_command(std::uint32_t command_id);
std::string_view canonical_keyword(std::string_view keyword);

// Clamps the counts to the registry's maxima (with their warnings when they were
// larger). true on failure: empty command line or unknown keyword.
bool check_masks_and_inputs(std::string_view command_line, std::int32_t& input_count,
                            std::int32_t& mask_count);

// Display name and command identifier of the node's transformation ("" and -1 when unknown).
struct NodeDescription {
    std::string display_name;
    std::int32_t command_id = -1;
};
NodeDescription describe_node(const Node* node);

// Opens an existing node's dialog (edit case). true on failure.
bool open_node_for_editing(Node* node);

void bump_use_count(std::uint32_t command_id);
void set_use_count(std::string_view keyword, std::int32_t count);
void reset_use_counts();
void sort_by_use_count();
// The preferences lines "use_count ″%s″ %d" of rows with a count above 0, in the current order.
std::vector<std::string> use_count_lines();
// Reads use_count lines; bilateral_sharpen and multipass_sharpen counts are summed when
// finish_use_counts is called at the end of the preferences.
class UseCountReader {
  public:
    void line(const ArgumentList& tokens);
    void finish();

  private:
    std::int32_t bilateral_ = 0;
    std::int32_t multipass_ = 0;
};

// The Command Applicability Table.
bool is_command_disabled(std::uint32_t command_id);
// The mask of the first row for a command identifier; false when there is none.
bool command_applicability(std::uint32_t command_id, std::int32_t& mask);

// Quick Pick.
bool quick_pick_match(std::string_view search, std::string_view display_name);
// What typing one character does: the command to send (-1 none), or that the Quick Pick dialog
// opens with the rows that matched.
struct QuickPickResult {
    std::int32_t command = -1;
    bool open_dialog = false;
};
QuickPickResult quick_pick(std::string_view search);

// Favorites: display name to command identifier ("Bilateral Sharpen" is "Multipass Sharpen").
std::int32_t favorite_command(std::string_view display_name);

// Puts other entries into a row in place of its module's (tests use stand-ins); a row given
// another run entry no longer names its module.
void install_transformation(std::string_view keyword, RunEntry run, DialogEntry dialog);

// The run entry of a row whose module is not written yet: fails with the node error text
// "Transformation not available: %s".
std::uint8_t run_not_available(Node* input, Node* node, const ArgumentList& args);

}  // namespace tessaly
