#include "color/color_settings.h"

#include <cstdlib>
#include <filesystem>

namespace tessaly {

namespace fs = std::filesystem;

namespace {

std::vector<std::string>& extra_folders() {
    static std::vector<std::string> folders;
    return folders;
}

std::string home_folder() {
    const char* home = std::getenv("HOME");
    return home ? home : "";
}

}  // namespace

ColorManagementSettings& color_settings() {
    static ColorManagementSettings settings;
    return settings;
}

std::vector<std::string> profile_folders() {
    std::vector<std::string> folders = extra_folders();
    folders.push_back("/usr/share/color/icc");
    std::string home = home_folder();
    if (!home.empty()) {
        folders.push_back(home + "/.local/share/icc");
        folders.push_back(home + "/.color/icc");
    }
    return folders;
}

void add_profile_folder(const std::string& folder) {
    extra_folders().insert(extra_folders().begin(), folder);
}

void reset_profile_folders() {
    extra_folders().clear();
}

bool names_profile(const std::string& name) {
    return !name.empty() && name != "None";
}

std::string find_profile_file(const std::string& name) {
    if (!names_profile(name)) return {};
    std::error_code ec;
    if (name.find('/') != std::string::npos) {
        return fs::is_regular_file(name, ec) ? name : std::string();
    }
    for (const std::string& folder : profile_folders()) {
        fs::path direct = fs::path(folder) / name;
        if (fs::is_regular_file(direct, ec)) return direct.string();
        if (!fs::is_directory(folder, ec)) continue;
        // Distribution packages keep their profiles in subfolders of the profile folder.
        fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied,
                                            ec);
        for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
            if (it->path().filename() == name && it->is_regular_file(ec))
                return it->path().string();
        }
        ec.clear();
    }
    return {};
}

}  // namespace tessaly
