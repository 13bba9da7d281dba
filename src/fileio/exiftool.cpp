#include "fileio/exiftool.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "core/format.h"
#include "core/interaction.h"
#include "core/text_file.h"
#include "fileio/image_write.h"
#include "framework/settings_files.h"

extern char** environ;

namespace tessaly {

namespace fs = std::filesystem;

namespace {

std::string path_override;

constexpr const char* not_installed_copy = "ExifTool is not installed - please re-install Tessaly";
constexpr const char* not_found = "ExifTool not found - please re-install Tessaly";

bool is_executable(const std::string& path) {
    return !path.empty() && ::access(path.c_str(), X_OK) == 0 && !fs::is_directory(path);
}

// Makes "Thumbnail.jpg" in the temporary folder; "" after a message on failure.
std::string make_thumbnail(const Image& image) {
    std::error_code ec;
    fs::path folder = fs::temp_directory_path(ec);
    if (ec) {
        show_error("Cannot get temporary folder pathname");
        return {};
    }
    std::string path = (folder / "Thumbnail.jpg").string();
    if (fs::exists(path, ec) && !fs::remove(path, ec)) {
        show_error("Cannot delete temporary thumbnail image: %s", path);
        return {};
    }
    if (write_thumbnail_jpeg(image, path)) {
        show_error("Cannot save thumbnail jpeg: %s", path);
        return {};
    }
    return path;
}

bool delete_thumbnail(const std::string& path) {
    std::error_code ec;
    if (fs::exists(path, ec) && !fs::remove(path, ec)) {
        show_error("Cannot delete temporary thumbnail image: %s", path);
        return true;
    }
    return false;
}

// Shows the status text and the busy state while ExifTool runs.
bool run_exiftool(const std::string& status, const std::vector<std::string>& arguments,
                  const std::string& output_file = std::string()) {
    interaction().status(status);
    interaction().busy(true);
    bool failed = run_program(exiftool_path(), arguments, output_file);
    interaction().busy(false);
    interaction().status("");
    return failed;
}

}  // namespace

std::string exiftool_path() {
    if (!path_override.empty()) return is_executable(path_override) ? path_override : std::string();
    std::string beside = program_folder() + "/exiftool";
    if (is_executable(beside)) return beside;
    const char* path = std::getenv("PATH");
    std::string list = path ? path : "/usr/local/bin:/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t end = list.find(':', start);
        if (end == std::string::npos) end = list.size();
        std::string candidate = list.substr(start, end - start) + "/exiftool";
        if (end > start && is_executable(candidate)) return candidate;
        start = end + 1;
    }
    return {};
}

void set_exiftool_path(const std::string& path) {
    path_override = path;
}
bool run_program(const std::string& program, const std::vector<std::string>& arguments,
                 const std::string& output_file) {
    if (program.empty()) return true;
    std::vector<std::string> all;
    all.push_back(program);
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const char* sink = output_file.empty() ? "/dev/null" : output_file.c_str();
    int flags = output_file.empty() ? O_WRONLY : O_WRONLY | O_CREAT | O_APPEND;
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, sink, flags, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = 0;
    int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return true;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return true;
    }
    return false;  // ExifTool's own exit status is not examined
}

std::vector<std::string> copy_metadata_arguments(const std::string& original,
                                                 const std::string& target, int mode,
                                                 const std::string& thumbnail) {
    std::vector<std::string> a = {"-tagsFromFile",      original,
                                  "--JFIF:XResolution", "--JFIF:YResolution",
                                  "--EXIF:XResolution", "--EXIF:YResolution",
                                  "--EXIF:Orientation", "--preview:all"};
    if (mode == metadata_all_but_gps) a.push_back("-GPS:all=");
    a.insert(a.end(), {"-m", "-q", "-overwrite_original"});
    if (!thumbnail.empty()) a.push_back("-ThumbnailImage<=" + thumbnail);
    a.push_back(target);
    return a;
}

std::vector<std::string> add_thumbnail_arguments(const std::string& target,
                                                 const std::string& thumbnail) {
    return {"-ThumbnailImage<=" + thumbnail, target};
}

std::vector<std::string> lens_id_arguments(const std::string& image_path,
                                           const std::string& output) {
    return {"-s", "-LensID", "-LensInfo", image_path, "-W+!", output};
}

std::vector<std::string> geotag_arguments(const std::string& gps_log, char sign, int hours,
                                          int minutes, const std::string& folder) {
    PlainSeparators plain;
    std::string offset = formatted(sign == '-' ? "-%2zd:%2zd" : "+%2zd:%2zd", hours, minutes);
    return {"-geotag", gps_log, "-Geotime<${DateTimeOriginal}" + offset, folder};
}

bool copy_metadata(const std::string& original, const std::string& target, int mode,
                   const Image* thumbnail_source) {
    if (mode == metadata_profile_only || mode == metadata_none || original.empty() ||
        target.empty()) {
        return false;
    }
    std::error_code ec;
    if (!fs::exists(original, ec)) {
        show_error(
            "Cannot find original file: %s.\\nIt may have been deleted or renamed.\\nMetadata "
            "cannot be saved.",
            original);
        return true;
    }
    if (exiftool_path().empty()) {
        show_error(not_installed_copy);
        return true;
    }
    std::string thumbnail;
    if (thumbnail_source) {
        thumbnail = make_thumbnail(*thumbnail_source);
        if (thumbnail.empty()) return true;
    }
    bool failed = run_exiftool(formatted("Copying metadata from file: %s", original),
                               copy_metadata_arguments(original, target, mode, thumbnail));
    if (!thumbnail.empty() && delete_thumbnail(thumbnail)) failed = true;
    return failed;
}

bool add_thumbnail(const std::string& target, const Image& image) {
    if (exiftool_path().empty()) {
        show_error(not_found);
        return true;
    }
    std::string thumbnail = make_thumbnail(image);
    if (thumbnail.empty()) return true;
    bool failed = run_exiftool(formatted("Adding thumbnail to file: %s", target),
                               add_thumbnail_arguments(target, thumbnail));
    if (delete_thumbnail(thumbnail)) failed = true;
    return failed;
}

bool parse_lens_id(const std::string& text, std::string& lens) {
    std::size_t colon = text.find(':');
    if (colon == std::string::npos) return true;
    std::size_t start = std::min(colon + 2, text.size());
    std::size_t end = text.find_first_of(std::string("\r\n\0", 3), start);
    lens = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    return false;
}

bool read_lens_id(const std::string& image_path, std::string& lens) {
    if (exiftool_path().empty()) {
        show_error(not_found);
        return true;
    }
    std::string output = (fs::path(settings_root()) / "LensID.tmp").string();
    std::error_code ec;
    fs::create_directories(settings_root(), ec);
    fs::remove(output, ec);
    if (run_exiftool(formatted("Reading lens id of file: %s", image_path),
                     lens_id_arguments(image_path, output))) {
        return true;
    }
    std::uintmax_t size = fs::file_size(output, ec);
    if (ec) {
        show_error("Cannot get lens id file size: %s", output);
        return true;
    }
    if (size > 1000) {
        show_error("Lens id file too large: %s", output);
        return true;
    }
    std::string text;
    if (read_file_bytes(output, text) || text.size() != size) {
        show_error("Error reading lens id file: %s", output);
        return true;
    }
    if (parse_lens_id(text, lens)) {
        show_error("Error reading lens id from lens id file: %s", output);
        return true;
    }
    return false;
}

bool geotag_folder(const std::string& gps_log, char sign, int hours, int minutes,
                   const std::string& folder) {
    if (exiftool_path().empty()) {
        show_error(not_found);
        return true;
    }
    std::error_code ec;
    fs::create_directories(settings_root(), ec);
    std::string log = (fs::path(settings_root()) / "geotag_log.txt").string();
    fs::remove(log, ec);
    return run_exiftool(formatted("Geotagging files in folder: %s", folder),
                        geotag_arguments(gps_log, sign, hours, minutes, folder), log);
}

}  // namespace tessaly
