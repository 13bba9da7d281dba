#include "pending_file.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <utility>

namespace tessaly {

namespace {

namespace fs = std::filesystem;

// Eight characters of [a-z0-9] from the system's random source.
std::string random_tag() {
    unsigned char bytes[8] = {};
    std::size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    static const char alphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string tag;
    for (unsigned char b : bytes) tag += alphabet[b % 36];
    return tag;
}

}  // namespace

PendingFile::PendingFile(PendingFile&& other) noexcept
    : target_(std::move(other.target_)),
      path_(std::move(other.path_)),
      fd_(std::exchange(other.fd_, -1)),
      unnamed_(std::exchange(other.unnamed_, false)) {
    other.path_.clear();
}

PendingFile& PendingFile::operator=(PendingFile&& other) noexcept {
    if (this != &other) {
        discard();
        target_ = std::move(other.target_);
        path_ = std::move(other.path_);
        fd_ = std::exchange(other.fd_, -1);
        unnamed_ = std::exchange(other.unnamed_, false);
        other.path_.clear();
    }
    return *this;
}

PendingFile::~PendingFile() {
    discard();
}

namespace {

// A name of its own beside the target: ".<stem>-XXXXXXXX<extension>" in the target's folder;
// "./" keeps a name such as "-o.jpg" from ever reading as an option to a tool.
std::string candidate_name(const std::string& target) {
    const fs::path t(target);
    const fs::path folder = t.has_parent_path() ? t.parent_path() : fs::path(".");
    std::string stem = t.stem().string();
    const std::string tail = "-" + random_tag() + t.extension().string();
    // A target whose name is near the longest a folder takes still gets a pending file: the
    // stem is shortened (at a character boundary) to make room for the tag.
    constexpr std::size_t longest_name = 255;
    auto continuation = [&] { return (static_cast<unsigned char>(stem.back()) & 0xC0) == 0x80; };
    while (!stem.empty() && 1 + stem.size() + tail.size() > longest_name) {
        while (!stem.empty() && continuation()) stem.pop_back();  // one whole character
        if (!stem.empty()) stem.pop_back();
    }
    return (folder / ("." + stem + tail)).string();
}

std::string proc_path(int fd) {
    return "/proc/self/fd/" + std::to_string(fd);
}

}  // namespace

bool PendingFile::create(const std::string& target, bool named) {
    discard();
    const fs::path t(target);
    if (t.filename().empty()) return true;
    struct stat existing {};
    const bool replaces = ::stat(target.c_str(), &existing) == 0 && S_ISREG(existing.st_mode);
    auto opened = [&](int fd, std::string path, bool unnamed) {
        if (replaces) (void)::fchmod(fd, existing.st_mode & 07777);
        target_ = target;
        path_ = std::move(path);
        fd_ = fd;
        unnamed_ = unnamed;
        return false;
    };
    // Unnamed only where it can be given a name at the end (through /proc); a file system
    // without O_TMPFILE gets a named file instead.
    if (!named && ::access("/proc/self/fd", X_OK) == 0) {
        const std::string folder = t.has_parent_path() ? t.parent_path().string() : ".";
        const int fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
        if (fd >= 0) return opened(fd, "", true);
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string candidate = candidate_name(target);
        // O_EXCL refuses any existing name, a symbolic link included, dangling or not.
        const int fd =
            ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0) return opened(fd, std::move(candidate), false);
        if (errno != EEXIST) return true;
    }
    return true;
}

bool PendingFile::close() {
    if (fd_ < 0 || unnamed_) return false;
    return ::close(std::exchange(fd_, -1)) != 0;
}

bool PendingFile::write(const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd_, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return true;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return false;
}

// Gives the unnamed file a name of its own beside the target, for the rename.
bool PendingFile::link_unnamed() {
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string candidate = candidate_name(target_);
        if (::linkat(AT_FDCWD, proc_path(fd_).c_str(), AT_FDCWD, candidate.c_str(),
                     AT_SYMLINK_FOLLOW) == 0) {
            path_ = std::move(candidate);
            unnamed_ = false;
            return false;
        }
        if (errno != EEXIST) return true;
    }
    return true;
}

bool PendingFile::commit(bool sync) {
    if (fd_ < 0 && path_.empty()) return true;
    bool failed = fd_ >= 0 && sync && ::fsync(fd_) != 0 && errno != EINVAL;
    if (!failed && unnamed_) failed = link_unnamed();
    // The rename follows the naming at once: closing may take a while (the file system can
    // write the data out then), and a process killed in between would leave the name behind.
    if (failed || std::rename(path_.c_str(), target_.c_str()) != 0) {
        discard();
        return true;
    }
    path_.clear();
    return close();
}

void PendingFile::discard() {
    if (fd_ >= 0) ::close(std::exchange(fd_, -1));
    unnamed_ = false;
    if (!path_.empty()) ::unlink(std::exchange(path_, std::string()).c_str());
}

}  // namespace tessaly
