#include "framework/settings_files.h"

#include <pwd.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>

#include "core/format.h"
#include "core/text_file.h"

namespace tessaly {

namespace fs = std::filesystem;

namespace {

std::optional<std::string> chosen_root;
std::optional<std::string> chosen_local;

std::string environment(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

// Without HOME, the account's own home folder: never a fixed name in a shared folder, where
// another user could have put a folder or a link first.
std::string home() {
    std::string h = environment("HOME");
    if (!h.empty()) return h;
    const passwd* account = ::getpwuid(::getuid());
    return account && account->pw_dir ? std::string(account->pw_dir) : std::string();
}

std::string portable_folder() {
    std::string folder = program_folder();
    if (folder.empty()) return {};
    std::error_code ec;
    fs::path p = fs::path(folder) / "Settings";
    return fs::is_directory(p, ec) ? p.string() : std::string();
}

bool ends_with_extension(const std::string& path, const std::string& extension) {
    if (path.size() < extension.size()) return false;
    for (std::size_t i = 0; i < extension.size(); ++i) {
        auto a = static_cast<unsigned char>(path[path.size() - extension.size() + i]);
        auto b = static_cast<unsigned char>(extension[i]);
        if (std::tolower(a) != std::tolower(b)) return false;
    }
    return true;
}

FileChoice settings_choice(const char* verb, const SettingsName& which) {
    FileChoice choice;
    choice.title = formatted("%s %s Settings", verb, which.name);
    choice.filter_name = formatted("%s Settings Files", which.name);
    choice.patterns = {"*" + which.extension};
    std::error_code ec;
    fs::path folder = fs::path(settings_root()) / which.name;
    fs::create_directories(folder, ec);
    choice.folder = folder.string();
    return choice;
}

}  // namespace

std::string version_string() {
    return formatted("Tessaly %d.%d.%d", TESSALY_VERSION_MAJOR, TESSALY_VERSION_MINOR,
                     TESSALY_VERSION_PATCH);
}

std::string program_folder() {
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : exe.parent_path().string();
}

const std::string& settings_root() {
    if (!chosen_root) {
        std::string root = environment("TESSALY_SETTINGS_ROOT");
        if (root.empty()) root = portable_folder();
        if (root.empty()) {
            std::string documents = environment("XDG_DOCUMENTS_DIR");
            if (documents.empty()) documents = home() + "/Documents";
            root = documents + "/Tessaly";
        }
        chosen_root = root;
    }
    return *chosen_root;
}

// As with TESSALY_SETTINGS_ROOT, the one folder then holds the local data (crash recovery) too.
void set_settings_root(const std::string& folder) {
    chosen_root = folder;
    chosen_local = folder;
}

const std::string& local_data_folder() {
    if (!chosen_local) {
        std::string folder = environment("TESSALY_SETTINGS_ROOT");
        if (folder.empty()) folder = portable_folder();
        if (folder.empty()) {
            std::string data = environment("XDG_DATA_HOME");
            if (data.empty()) data = home() + "/.local/share";
            folder = data + "/Tessaly";
        }
        chosen_local = folder;
    }
    return *chosen_local;
}

void reset_settings_folders() {
    chosen_root.reset();
    chosen_local.reset();
}

std::string settings_path(const SettingsName& which, std::string_view file_name) {
    fs::path folder = fs::path(settings_root()) / which.name;
    std::error_code ec;
    fs::create_directories(folder, ec);
    return (folder / (std::string(file_name) + which.extension)).string();
}

bool settings_exist(const SettingsName& which, std::string_view file_name) {
    std::error_code ec;
    return fs::is_regular_file(settings_path(which, file_name), ec);
}

bool read_settings_file(const std::string& path, std::string& command_line) {
    std::string text;
    if (read_text_file(path, text)) return true;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    command_line = std::move(text);
    return false;
}

bool write_settings_file(const std::string& path, std::string_view command_line) {
    std::string bytes = "\xEF\xBB\xBF";
    bytes.append(command_line);
    return write_file_atomic(path, bytes);
}

std::optional<ArgumentList> load_settings(std::string_view keyword,
                                          std::optional<std::string> file_name,
                                          const SettingsName& which) {
    std::string path;
    if (file_name) {
        path = settings_path(which, *file_name);
    } else {
        std::optional<std::string> chosen =
            interaction().choose_open_file(settings_choice("Load", which));
        if (!chosen) return std::nullopt;
        path = *chosen;
    }
    std::string command_line;
    if (read_settings_file(path, command_line)) return std::nullopt;  // silently
    ArgumentList args = split(command_line);
    std::string_view first = args.count() > 0 ? args[0] : std::string_view();
    if (first != keyword) {
        show_error("Settings file %s - command line starts with wrong command: %s", path, first);
        return std::nullopt;
    }
    return args;
}

bool save_settings(std::string_view command_line, std::optional<std::string> file_name,
                   const SettingsName& which) {
    std::string path;
    if (file_name) {
        path = settings_path(which, *file_name);
    } else {
        FileChoice choice = settings_choice("Save", which);
        // The dialog comes back until the name carries the extension (bounded, so that a
        // non-interactive answer cannot loop for ever).
        for (int attempt = 0;; ++attempt) {
            std::optional<std::string> chosen = interaction().choose_save_file(choice);
            if (!chosen || attempt >= 20) return true;
            if (ends_with_extension(*chosen, which.extension)) {
                path = *chosen;
                break;
            }
            show_error("%s files must have the extension %s\\nFile: %s", which.name,
                       which.extension, *chosen);
            choice.suggested_name = *chosen + which.extension;
        }
    }
    if (write_settings_file(path, command_line)) {
        show_error("Cannot create file: %s", path);
        return true;
    }
    return false;
}

void clear_default(const SettingsName& which) {
    std::error_code ec;
    fs::remove(settings_path(which, "Default"), ec);
}

}  // namespace tessaly
