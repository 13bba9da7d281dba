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
    : target_(std::move(other.target_)), path_(std::move(other.path_)), fd_(other.fd_) {
    other.path_.clear();
    other.fd_ = -1;
}

PendingFile& PendingFile::operator=(PendingFile&& other) noexcept {
    if (this != &other) {
        discard();
        target_ = std::move(other.target_);
        path_ = std::move(other.path_);
        fd_ = other.fd_;
        other.path_.clear();
        other.fd_ = -1;
    }
    return *this;
}

PendingFile::~PendingFile() {
    discard();
}

bool PendingFile::create(const std::string& target) {
    discard();
    const fs::path t(target);
    if (t.filename().empty()) return true;
    // "./" keeps a name such as "-o.jpg" from ever reading as an option to a tool.
    const fs::path folder = t.has_parent_path() ? t.parent_path() : fs::path(".");
    const std::string stem = t.stem().string(), extension = t.extension().string();
    struct stat existing {};
    const bool replaces = ::stat(target.c_str(), &existing) == 0 && S_ISREG(existing.st_mode);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string candidate = (folder / ("." + stem + "-" + random_tag() + extension)).string();
        // O_EXCL refuses any existing name, a symbolic link included, dangling or not.
        const int fd =
            ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return true;
        }
        if (replaces) (void)::fchmod(fd, existing.st_mode & 07777);
        target_ = target;
        path_ = std::move(candidate);
        fd_ = fd;
        return false;
    }
    return true;
}

int PendingFile::release_fd() {
    return std::exchange(fd_, -1);
}

bool PendingFile::close() {
    if (fd_ < 0) return false;
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

bool PendingFile::commit(bool sync) {
    if (path_.empty()) return true;
    bool failed = false;
    if (fd_ >= 0 && sync && ::fsync(fd_) != 0 && errno != EINVAL) failed = true;
    if (close()) failed = true;
    if (failed || std::rename(path_.c_str(), target_.c_str()) != 0) {
        discard();
        return true;
    }
    path_.clear();
    return false;
}

void PendingFile::discard() {
    if (fd_ >= 0) ::close(std::exchange(fd_, -1));
    if (!path_.empty()) ::unlink(std::exchange(path_, std::string()).c_str());
}

}  // namespace tessaly
