#include "fileio/exiftool.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <mutex>

#include "core/format.h"
#include "core/interaction.h"
#include "core/pending_file.h"
#include "core/text_file.h"
#include "fileio/image_write.h"
#include "fileio/metadata_copy.h"
#include "framework/settings_files.h"

extern char** environ;

namespace tessaly {

namespace fs = std::filesystem;

namespace {

std::string path_override;

constexpr const char* not_installed_copy = "ExifTool is not installed - please re-install Tessaly";
constexpr const char* not_found = "ExifTool not found - please re-install Tessaly";

// ExifTool keeps the folder it started in and reads a name such as "-o.jpg" as an option:
// every file goes to it as an absolute path.
std::string file_argument(const std::string& path) {
    std::error_code ec;
    const fs::path p = fs::absolute(path, ec);
    return ec ? path : p.lexically_normal().string();
}

bool is_executable(const std::string& path) {
    return !path.empty() && ::access(path.c_str(), X_OK) == 0 && !fs::is_directory(path);
}

// Makes a thumbnail JPEG of a name of its own in the temporary folder, created exclusively so
// that two saves at once never share one and nothing planted there is followed or deleted; ""
// after a message on failure.
std::string make_thumbnail(const Image& image) {
    std::error_code ec;
    fs::path folder = fs::temp_directory_path(ec);
    if (ec) {
        show_error("Cannot get temporary folder pathname");
        return {};
    }
    std::string path = (folder / "Thumbnail-XXXXXX.jpg").string();
    const int fd = ::mkstemps(path.data(), 4);
    if (fd < 0) {
        show_error("Cannot save thumbnail jpeg: %s", path);
        return {};
    }
    ::close(fd);
    if (write_thumbnail_jpeg(image, path)) {
        (void)fs::remove(path, ec);
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

// ExifTool's allowance: a command on one file gets five minutes, geotagging a folder an hour;
// its address space is held to 4 GiB (it reads large files in pieces, and a runaway must not
// take the machine's memory with it).
constexpr int command_seconds = 300;
constexpr int folder_seconds = 3600;
constexpr rlim_t memory_bytes = rlim_t{4} << 30;

void bound_memory(pid_t pid) {
    const rlimit limit{memory_bytes, memory_bytes};
    (void)::prlimit(pid, RLIMIT_AS, &limit, nullptr);
}

// The lines of ExifTool's report that tell of a failure.
bool error_line(const std::string& line) {
    return line.rfind("Error", 0) == 0 ||
           line.find("weren't updated due to errors") != std::string::npos ||
           line.find("files weren't created due to errors") != std::string::npos;
}

// Keeps a report short enough for a message.
void add_line(std::string& report, const std::string& line) {
    if (report.size() > 2000) return;
    if (!report.empty()) report += "\\n";
    report += line.substr(0, 500);
}

// One ExifTool process kept running for the whole session (its -stay_open mode), fed one command
// at a time through a pipe. Starting Perl and loading ExifTool's modules takes about a second;
// a batch that copies metadata into every file would otherwise spend most of its time on that.
class ExifToolSession {
  public:
    ~ExifToolSession() { stop(); }

    // true when the command could not be run this way; the caller then starts ExifTool once.
    // report gets the lines ExifTool wrote about errors.
    bool run(const std::string& program, const std::vector<std::string>& arguments,
             std::string& report) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!passable(arguments)) return true;
        if (pid_ > 0 && program != program_) stop();
        if (pid_ <= 0 && start(program)) return true;
        std::string text;
        for (const std::string& a : arguments) {
            // Quiet mode would also silence the line that says the command is done; the output
            // is not read anyway.
            if (a != "-q") text += a + "\n";
        }
        text += "-execute\n";
        if (write_all(text) || wait_ready(report)) {
            stop();
            return true;
        }
        return false;
    }

  private:
    // Arguments travel one per line, and ExifTool trims each line and skips comment lines.
    static bool passable(const std::vector<std::string>& arguments) {
        for (const std::string& a : arguments) {
            if (a.empty() || a.find_first_of("\r\n") != std::string::npos || a.front() == '#' ||
                std::isspace(static_cast<unsigned char>(a.front())) ||
                std::isspace(static_cast<unsigned char>(a.back()))) {
                return false;
            }
        }
        return true;
    }

    bool start(const std::string& program) {
        // A write to a process that has died must come back as an error, not end ours.
        std::signal(SIGPIPE, SIG_IGN);
        int in[2], out[2];
        if (::pipe2(in, O_CLOEXEC) != 0) return true;
        if (::pipe2(out, O_CLOEXEC) != 0) {
            ::close(in[0]);
            ::close(in[1]);
            return true;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, out[1], 2);
        std::vector<std::string> all = {program, "-stay_open", "True", "-@", "-"};
        std::vector<char*> argv;
        for (std::string& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        pid_t pid = 0;
        const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(out[1]);
        if (rc != 0) {
            ::close(in[1]);
            ::close(out[0]);
            return true;
        }
        bound_memory(pid);
        pid_ = pid;
        to_ = in[1];
        from_ = out[0];
        program_ = program;
        pending_.clear();
        return false;
    }

    void stop() {
        if (pid_ <= 0) return;
        (void)write_all("-stay_open\nFalse\n");
        ::close(to_);
        ::close(from_);
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
        to_ = from_ = -1;
    }

    bool write_all(const std::string& text) {
        std::size_t done = 0;
        while (done < text.size()) {
            const ssize_t n = ::write(to_, text.data() + done, text.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return true;
            done += static_cast<std::size_t>(n);
        }
        return false;
    }

    // Reads until the line ExifTool prints when a command is done; true at end of file, or when
    // it took too long. The lines before it that tell of errors go to report.
    bool wait_ready(std::string& report) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::seconds(command_seconds);
        for (;;) {
            std::size_t line_end;
            while ((line_end = pending_.find('\n')) != std::string::npos) {
                std::string line = pending_.substr(0, line_end);
                pending_.erase(0, line_end + 1);
                if (!line.empty() && line.back() == '\r') line.pop_back();
                if (line == "{ready}") return false;
                if (error_line(line)) add_line(report, line);
            }
            // A command that never reports back must not hang the program: after a minute of
            // silence, or a command's whole allowance, the process is ended and the command run
            // on its own.
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd ready{from_, POLLIN, 0};
            const int polled =
                left.count() <= 0
                    ? 0
                    : ::poll(&ready, 1, static_cast<int>(std::min<long long>(60000, left.count())));
            if (polled < 0 && errno == EINTR) continue;
            if (polled <= 0) {
                ::kill(pid_, SIGKILL);
                return true;
            }
            char buffer[4096];
            const ssize_t n = ::read(from_, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return true;
            pending_.append(buffer, static_cast<std::size_t>(n));
        }
    }

    std::mutex mutex_;
    pid_t pid_ = -1;
    int to_ = -1, from_ = -1;
    std::string program_;
    std::string pending_;
};

ExifToolSession& session() {
    static ExifToolSession s;
    return s;
}

// Shows the status text and the busy state while ExifTool runs. Commands whose output goes to a
// file start a process of their own. What ExifTool reports as an error is shown as a warning:
// the call itself succeeds once ExifTool ran, and the saved picture stays either way.
bool run_exiftool(const std::string& status, const std::vector<std::string>& arguments,
                  const std::string& output_file = std::string(), int seconds = command_seconds) {
    interaction().status(status);
    interaction().busy(true);
    const std::string program = exiftool_path();
    bool failed = false;
    std::string report;
    if (!output_file.empty() || program.empty() || session().run(program, arguments, report)) {
        report.clear();
        const ProgramRun ran = run_program_bounded(program, arguments, output_file, seconds);
        failed = !ran.started;
        report = ran.report;
    }
    interaction().busy(false);
    interaction().status("");
    if (!report.empty()) show_warning("ExifTool: %s", report);
    return failed;
}

// The library's answer where it gave one (true; failed then holds the result); false when the
// work is ExifTool's.
bool settled(InProcess result, bool& failed) {
    failed = result == InProcess::failed;
    return result != InProcess::not_handled;
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
ProgramRun run_program_bounded(const std::string& program,
                               const std::vector<std::string>& arguments,
                               const std::string& output_file, int seconds) {
    ProgramRun result;
    if (program.empty()) return result;
    std::vector<std::string> all;
    all.push_back(program);
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);

    // Without an output file, what the program says comes back through a pipe, to be read for
    // its errors.
    int report[2] = {-1, -1};
    if (output_file.empty() && ::pipe2(report, O_CLOEXEC) != 0) return result;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (output_file.empty()) {
        posix_spawn_file_actions_adddup2(&actions, report[1], 1);
    } else {
        posix_spawn_file_actions_addopen(&actions, 1, output_file.c_str(),
                                         O_WRONLY | O_CREAT | O_APPEND, 0644);
    }
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (report[1] >= 0) ::close(report[1]);
    if (rc != 0) {
        if (report[0] >= 0) ::close(report[0]);
        return result;
    }
    result.started = true;
    bound_memory(pid);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    std::string text;
    int status = 0;
    for (;;) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid || (done < 0 && errno != EINTR)) break;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            ::kill(pid, SIGKILL);
            while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            result.timed_out = true;
            break;
        }
        if (report[0] >= 0) {
            pollfd ready{report[0], POLLIN, 0};
            if (::poll(&ready, 1, static_cast<int>(std::min<long long>(100, left.count()))) > 0) {
                char buffer[4096];
                const ssize_t n = ::read(report[0], buffer, sizeof buffer);
                if (n > 0 && text.size() < 65536) text.append(buffer, static_cast<std::size_t>(n));
                if (n == 0) {
                    ::close(report[0]);
                    report[0] = -1;
                }
            }
        } else {
            ::usleep(10000);
        }
    }
    // What it wrote just before it ended (a process it left behind holding the pipe gets a tenth
    // of a second).
    while (report[0] >= 0) {
        pollfd ready{report[0], POLLIN, 0};
        char buffer[4096];
        const ssize_t n = ::poll(&ready, 1, 100) > 0 ? ::read(report[0], buffer, sizeof buffer) : 0;
        if (n <= 0 || text.size() >= 65536) break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    if (report[0] >= 0) ::close(report[0]);
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (error_line(line)) add_line(result.report, line);
        start = end + 1;
    }
    if (result.timed_out) {
        add_line(result.report, formatted("stopped after %d seconds", seconds));
    } else if (result.report.empty() && output_file.empty() &&
               !(WIFEXITED(status) && WEXITSTATUS(status) == 0)) {
        add_line(result.report, WIFEXITED(status) ? formatted("exit status %d", WEXITSTATUS(status))
                                                  : std::string("ended by a signal"));
    }
    return result;
}

bool run_program(const std::string& program, const std::vector<std::string>& arguments,
                 const std::string& output_file) {
    // Tests and tools that only want the program run: whether it started.
    return !run_program_bounded(program, arguments, output_file, folder_seconds).started;
}

std::vector<std::string> copy_metadata_arguments(const std::string& original,
                                                 const std::string& target, int mode,
                                                 const std::string& thumbnail) {
    std::vector<std::string> a = {
        "-tagsFromFile",      file_argument(original), "--JFIF:XResolution", "--JFIF:YResolution",
        "--EXIF:XResolution", "--EXIF:YResolution",    "--EXIF:Orientation", "--preview:all"};
    if (mode == metadata_all_but_gps) a.push_back("-GPS:all=");
    a.insert(a.end(), {"-m", "-q", "-overwrite_original"});
    if (!thumbnail.empty()) a.push_back("-ThumbnailImage<=" + thumbnail);
    a.push_back(file_argument(target));
    return a;
}

std::vector<std::string> add_thumbnail_arguments(const std::string& target,
                                                 const std::string& thumbnail) {
    return {"-ThumbnailImage<=" + thumbnail, file_argument(target)};
}

std::vector<std::string> lens_id_arguments(const std::string& image_path,
                                           const std::string& output) {
    return {"-s", "-LensID", "-LensInfo", file_argument(image_path), "-W+!", file_argument(output)};
}

std::vector<std::string> geotag_arguments(const std::string& gps_log, char sign, int hours,
                                          int minutes, const std::string& folder) {
    PlainSeparators plain;
    std::string offset = formatted(sign == '-' ? "-%2zd:%2zd" : "+%2zd:%2zd", hours, minutes);
    return {"-geotag", file_argument(gps_log), "-Geotime<${DateTimeOriginal}" + offset,
            file_argument(folder)};
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
    bool failed = false;
    if (settled(copy_metadata_in_process(original, target, mode, thumbnail_source), failed)) {
        return failed;
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
    failed = run_exiftool(formatted("Copying metadata from file: %s", original),
                          copy_metadata_arguments(original, target, mode, thumbnail));
    if (!thumbnail.empty() && delete_thumbnail(thumbnail)) failed = true;
    return failed;
}

bool add_thumbnail(const std::string& target, const Image& image) {
    bool failed = false;
    if (settled(add_thumbnail_in_process(target, image), failed)) return failed;
    if (exiftool_path().empty()) {
        show_error(not_found);
        return true;
    }
    std::string thumbnail = make_thumbnail(image);
    if (thumbnail.empty()) return true;
    failed = run_exiftool(formatted("Adding thumbnail to file: %s", target),
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
    // A file of this read's own, removed afterwards: two reads at once never share one.
    std::error_code ec;
    fs::create_directories(settings_root(), ec);
    PendingFile pending;
    if (pending.create((fs::path(settings_root()) / "LensID.tmp").string()) || pending.close()) {
        show_error("Cannot create lens id file in: %s", settings_root());
        return true;
    }
    const std::string& output = pending.path();
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
                        geotag_arguments(gps_log, sign, hours, minutes, folder), log,
                        folder_seconds);
}

}  // namespace tessaly
