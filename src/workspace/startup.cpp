#include "workspace/startup.h"

#include <filesystem>

#include "color/color_settings.h"
#include "core/arguments.h"
#include "core/format.h"
#include "core/interaction.h"
#include "core/text_file.h"
#include "fileio/file_open.h"
#include "fileio/save.h"
#include "framework/settings_files.h"
#include "tree/edit.h"
#include "tree/run_node.h"
#include "tree/tree.h"
#include "workspace/preferences.h"
#include "workspace/script_files.h"
#include "workspace/session_state.h"
#include "workspace/theme.h"

namespace tessaly {

namespace fs = std::filesystem;

namespace {

bool exit_flag = false;

std::string& open_folder() {
    static std::string folder;
    return folder;
}

bool extension_is(const std::string& path, std::string_view extension) {
    std::string ext = fs::path(path).extension().string();
    if (ext.size() != extension.size()) return false;
    for (std::size_t i = 0; i < ext.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(ext[i])) != extension[i]) return false;
    }
    return true;
}

bool equal_ignoring_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

bool save_workspace_as() {
    return save_workspace(std::nullopt, ImageNames::with_names, false, true);
}

bool write_snippet(Node* first) {
    return save_snippet(first, std::nullopt);
}

}  // namespace

std::string workspace_scripts_folder() {
    return settings_root() + "/Workspace Scripts";
}

std::string crash_recovery_file() {
    return local_data_folder() + "/Crash Recovery.workspace";
}

void create_program_folders() {
    std::error_code ec;
    fs::create_directories(settings_root(), ec);
    fs::create_directories(local_data_folder(), ec);
    fs::create_directories(workspace_scripts_folder(), ec);
}

void install_workspace_hooks() {
    set_workspace_hooks(autosave_workspace, save_workspace_as);
    set_snippet_writer(write_snippet);
    set_companion_writer(write_companion_file);
}

void autosave_workspace() {
    if (tree_root().children.empty()) return;
    const std::string folder = workspace_scripts_folder();
    std::error_code ec;
    fs::create_directories(folder, ec);
    auto name = [&](int n) {
        return n == 0 ? folder + "/Autosave.workspace"
                      : folder + formatted("/Autosave%d.workspace", n);
    };
    fs::remove(name(4), ec);
    for (int n = 3; n >= 0; --n) {
        if (fs::exists(name(n), ec)) fs::rename(name(n), name(n + 1), ec);
    }
    if (write_workspace_file(name(0), ImageNames::with_names, {})) return;
    std::string bytes;
    if (read_file_bytes(name(0), bytes)) return;
    fs::create_directories(local_data_folder(), ec);
    (void)write_file_atomic(crash_recovery_file(), bytes);
}

bool exit_when_done() {
    return exit_flag;
}

void set_exit_when_done(bool on) {
    exit_flag = on;
}

const std::string& last_file_open_folder() {
    return open_folder();
}

void set_last_file_open_folder(const std::string& folder) {
    open_folder() = folder;
}

Node* open_top_level_image(const std::string& path) {
    FileOpenSettings settings;
    std::string full = fs::absolute(fs::path(path)).lexically_normal().string();
    settings.files.push_back({full, std::string(), true});
    Node* node = create_top_level_image(false, false, 0, 0, bypass_none,
                                        fs::path(full).filename().string(), false);
    if (!node) return nullptr;
    node->command_line = file_open_module.format(settings);
    set_current_node(node, -1);
    (void)run_node(&tree_root(), node);
    return node;
}

bool process_command_token(const std::string& token) {
    if (equal_ignoring_case(token, "exit_when_done")) {
        exit_flag = true;
        return false;
    }
    std::error_code ec;
    bool failed = false;
    if (!fs::exists(token, ec)) {
        show_error("Cannot open file: %s", token);
        failed = true;
    }
    if (extension_is(token, ".script") || extension_is(token, ".workspace")) {
        return load_script(token) || failed;
    }
    Node* node = open_top_level_image(token);
    set_last_file_open_folder(fs::absolute(fs::path(token)).parent_path().string());
    return failed || !node || node->error;
}

bool process_command_line(std::string_view text) {
    exit_flag = false;
    ArgumentList tokens = split(text);
    bool failed = false;
    for (const std::string& token : tokens.tokens())
        failed = process_command_token(token) || failed;
    if (!tree_root().children.empty()) autosave_workspace();
    return failed;
}

void load_saved_state() {
    if (load_default_theme()) show_error(theme_load_error);
    const bool preferences_failed = load_preferences();
    const bool session_failed = load_session_state();
    if (preferences_failed || session_failed) show_error(last_session_load_error);
    apply_preferences();
    // Without a window there is no display whose monitor profile could be asked for.
    if (load_color_settings(false)) {
        show_error("Error loading color management settings.\nSettings reset to defaults.");
    }
}

void apply_preferences() {
    const Preferences& p = preferences();
    ScriptLoadPolicy& policy = script_load_policy();
    policy.ask_on_script_load = p.ask_on_script_load != 0;
    policy.ask_on_workspace_load = p.ask_on_workspace_script_load != 0;
    policy.ask_save_on_close_all = p.save_workspace_file_on_close_all != 0;
    policy.ignore_cm_changes = p.ignore_cm_changes != 0;
}

namespace {

std::string hand_over_file() {
    return settings_root() + "/cmdline";
}

// UTF-8 to UTF-16 little-endian; invalid bytes pass through as U+FFFD.
std::string utf16le(std::string_view text) {
    std::string out;
    auto unit = [&](std::uint32_t u) {
        out += static_cast<char>(u & 0xFF);
        out += static_cast<char>(u >> 8);
    };
    for (std::size_t i = 0; i < text.size();) {
        auto b = static_cast<unsigned char>(text[i]);
        int extra = b < 0x80 ? 0 : b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : -1;
        std::uint32_t cp = 0xFFFD;
        if (extra >= 0 && i + static_cast<std::size_t>(extra) < text.size()) {
            cp = extra == 0 ? b : b & (0x3F >> extra);
            for (int k = 1; k <= extra; ++k) {
                cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
            }
            i += static_cast<std::size_t>(extra) + 1;
        } else {
            ++i;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            unit(0xD800 | (cp >> 10));
            unit(0xDC00 | (cp & 0x3FF));
        } else {
            unit(cp);
        }
    }
    return out;
}

}  // namespace

bool hand_over_command_line(std::string_view text) {
    std::string bytes = utf16le(text);
    bytes.append(2, '\0');
    return write_file_atomic(hand_over_file(), bytes);
}

bool process_handed_over_command_line() {
    std::string bytes, text;
    if (read_file_bytes(hand_over_file(), bytes) || decode_text(bytes, text)) return true;
    std::error_code ec;
    fs::remove(hand_over_file(), ec);
    while (!text.empty() && text.back() == '\0') text.pop_back();
    return process_command_line(text);
}

bool load_recovery_choice(const std::string& path) {
    bool failed = true;
    if (extension_is(path, ".workspace")) {
        failed = load_workspace(path);
    } else if (extension_is(path, ".script")) {
        failed = load_script(path);
    } else {
        show_error("Illegal script pathname: %s", path);
        return true;
    }
    if (!failed) autosave_workspace();
    return failed;
}

bool offer_crash_recovery() {
    std::error_code ec;
    if (!fs::exists(crash_recovery_file(), ec)) return false;
    if (interaction().ask("Alert",
                          "Last session terminated abnormally -- restore last autosaved "
                          "workspace?",
                          Buttons::yes_no, Answer::no) != Answer::yes) {
        return false;
    }
    return !load_autosaved_workspace();
}

void finish_session() {
    SessionState& session = session_state();
    session.open_files.clear();
    if (!tree_root().children.empty()) {
        const std::string previous = workspace_scripts_folder() + "/Previous.workspace";
        if (!write_workspace_file(previous, ImageNames::with_names, {})) {
            session.prev_workspace = previous;
        }
        for (Node* top : tree_root().children) {
            if (!top->name.empty()) session.open_files.push_back(top->name);
        }
    }
    if (!last_file_open_folder().empty()) session.last_file_open_folder = last_file_open_folder();
    // Files that cannot be written are skipped: the session still ends normally.
    (void)save_preferences();
    (void)save_session_state();
    std::error_code ec;
    fs::remove(crash_recovery_file(), ec);
}

}  // namespace tessaly
