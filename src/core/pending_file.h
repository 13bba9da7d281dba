// A file being written beside its target. It is unnamed while it is written (Linux's O_TMPFILE)
// when nothing but this process needs to reach it, else it has a name of its own in the
// target's folder (".<stem>-XXXXXXXX<extension>"), created exclusively, so that two writers
// never share one, a planted link is never followed, and a file left by a killed process is in
// nobody's way. commit() replaces the target with one rename: until then the target is
// untouched, and at any moment it is either the old file or the new one, whole. A file never
// committed is removed, and only that file: nothing the program did not create is deleted.
#pragma once

#include <string>

namespace tessaly {

class PendingFile {
  public:
    PendingFile() = default;
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;
    PendingFile(PendingFile&& other) noexcept;
    PendingFile& operator=(PendingFile&& other) noexcept;
    ~PendingFile();

    // Creates the file, open for writing, with the permissions of an existing target (else
    // those of a new file); true on failure. A file that another program (or a library that
    // opens files by name) must reach is asked for with a name.
    [[nodiscard]] bool create(const std::string& target, bool named = true);
    // The file's name ("" while it is unnamed), for messages and for tools.
    const std::string& path() const { return path_; }
    const std::string& target() const { return target_; }
    // The open descriptor, or -1 once closed or released.
    int fd() const { return fd_; }
    // Closes the descriptor of a named file; true when the close reports an error.
    [[nodiscard]] bool close();
    // Writes every byte; true on failure.
    [[nodiscard]] bool write(const char* data, std::size_t size);
    // Closes the file (synced first when asked) and renames it over the target; true on
    // failure, when the file is removed and the target left as it was.
    [[nodiscard]] bool commit(bool sync = false);
    // Removes the file now.
    void discard();

  private:
    bool link_unnamed();

    std::string target_, path_;
    int fd_ = -1;
    bool unnamed_ = false;
};

}  // namespace tessaly
