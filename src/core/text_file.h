// Tessaly's text files: UTF-8 with a byte-order mark and CR LF line ends when written; UTF-8 or
// UTF-16 of either byte order accepted when read. The line-oriented files (curves, preferences,
// favorites and the like) hold one keyword and its values per line, start with a tag and a
// version, and end with a line "end".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "arguments.h"

namespace tessaly {

enum class TextEncoding { utf8, utf16le, utf16be, utf32 };

// The encoding of a file's first bytes: a byte-order mark, else the zero-byte rule of UTF-16.
TextEncoding detect_text_encoding(std::string_view bytes);
// Decodes bytes to UTF-8 (the mark removed). Fails for 32-bit encodings.
bool decode_text(std::string_view bytes, std::string& utf8);
// Reads a whole file into memory; true on failure.
bool read_file_bytes(const std::string& path, std::string& bytes);
// Reads and decodes a whole text file; true on failure.
bool read_text_file(const std::string& path, std::string& utf8);
// Writes bytes to a file of its own beside path, synced, and renames it over path only when
// complete (core/pending_file.h); true on failure.
bool write_file_atomic(const std::string& path, std::string_view bytes);

// Reads a line-oriented file line by line, skipping empty lines.
class LineReader {
  public:
    // true on failure (cannot open, cannot decode)
    bool open(const std::string& path);
    void open_text(std::string_view utf8);
    // Script files keep line ends inside quoted values: CR, LF and NUL between a pair of
    // quotes then belong to the line, and NUL outside quotes ends it.
    void keep_quoted_line_ends(bool keep) { quoted_ = keep; }
    // Splits the next non-empty line; false at the end of the file.
    bool next(ArgumentList& line);
    // The raw text of the line last returned.
    std::string_view line_text() const { return current_; }

  private:
    std::string text_;
    std::size_t position_ = 0;
    std::string_view current_;
    bool quoted_ = false;

    std::size_t quoted_line_end(std::size_t from) const;
};

// Collects lines and writes them as UTF-8 with a byte-order mark and CR LF line ends, through a
// temporary file.
class LineWriter {
  public:
    explicit LineWriter(bool byte_order_mark = true) : bom_(byte_order_mark) {}
    void line(std::string_view text);
    const std::string& text() const { return text_; }
    // true on failure
    bool save(const std::string& path) const;

  private:
    bool bom_;
    std::string text_;
};

// Reads the header line "<tag> <version>" of a versioned file: true on failure (no line, another
// tag). The version is checked against expected under the name what; a newer version fails when
// refuse_newer is set.
bool read_versioned_header(LineReader& reader, std::string_view tag, double expected,
                           std::string_view what, bool refuse_newer);

}  // namespace tessaly
