#include "text_file.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "format.h"
#include "pending_file.h"

namespace tessaly {

namespace {

constexpr std::string_view utf8_mark = "\xEF\xBB\xBF";

bool byte_is(std::string_view b, std::size_t i, unsigned char v) {
    return i < b.size() && static_cast<unsigned char>(b[i]) == v;
}

void utf16_to_utf8(std::string_view bytes, bool big_endian, std::string& out) {
    std::size_t n = bytes.size() / 2;
    auto unit = [&](std::size_t i) -> char32_t {
        auto lo = static_cast<unsigned char>(bytes[2 * i + (big_endian ? 1 : 0)]);
        auto hi = static_cast<unsigned char>(bytes[2 * i + (big_endian ? 0 : 1)]);
        return static_cast<char32_t>(lo | (hi << 8));
    };
    for (std::size_t i = 0; i < n; ++i) {
        char32_t c = unit(i);
        if (c >= 0xd800 && c <= 0xdbff && i + 1 < n) {
            char32_t low = unit(i + 1);
            if (low >= 0xdc00 && low <= 0xdfff) {
                c = 0x10000 + ((c - 0xd800) << 10) + (low - 0xdc00);
                ++i;
            }
        }
        if (c >= 0xd800 && c <= 0xdfff) c = 0xfffd;  // a lone surrogate
        append_utf8(out, c);
    }
}

}  // namespace

TextEncoding detect_text_encoding(std::string_view b) {
    if (byte_is(b, 0, 0xEF) && byte_is(b, 1, 0xBB) && byte_is(b, 2, 0xBF))
        return TextEncoding::utf8;
    if (byte_is(b, 0, 0xFF) && byte_is(b, 1, 0xFE)) {
        return byte_is(b, 2, 0) && byte_is(b, 3, 0) ? TextEncoding::utf32 : TextEncoding::utf16le;
    }
    if (byte_is(b, 0, 0) && byte_is(b, 1, 0) && byte_is(b, 2, 0xFE) && byte_is(b, 3, 0xFF)) {
        return TextEncoding::utf32;
    }
    if (byte_is(b, 0, 0xFE) && byte_is(b, 1, 0xFF)) return TextEncoding::utf16be;
    if (b.size() >= 4 && b[0] != 0 && b[1] == 0 && b[2] == 0 && b[3] == 0)
        return TextEncoding::utf32;
    if (b.size() >= 4 && b[0] == 0 && b[1] == 0 && b[2] == 0 && b[3] != 0)
        return TextEncoding::utf32;
    if (b.size() >= 2 && b[0] != 0 && b[1] == 0) return TextEncoding::utf16le;
    if (b.size() >= 2 && b[0] == 0 && b[1] != 0) return TextEncoding::utf16be;
    return TextEncoding::utf8;
}

bool decode_text(std::string_view bytes, std::string& utf8) {
    std::string out;
    switch (detect_text_encoding(bytes)) {
        case TextEncoding::utf32:
            return true;
        case TextEncoding::utf8:
            if (bytes.substr(0, 3) == utf8_mark) bytes.remove_prefix(3);
            out.assign(bytes);
            break;
        case TextEncoding::utf16le:
            if (byte_is(bytes, 0, 0xFF) && byte_is(bytes, 1, 0xFE)) bytes.remove_prefix(2);
            utf16_to_utf8(bytes, false, out);
            break;
        case TextEncoding::utf16be:
            if (byte_is(bytes, 0, 0xFE) && byte_is(bytes, 1, 0xFF)) bytes.remove_prefix(2);
            utf16_to_utf8(bytes, true, out);
            break;
    }
    utf8 = std::move(out);
    return false;
}

bool read_file_bytes(const std::string& path, std::string& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return true;
    std::string data;
    char buffer[65536];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) data.append(buffer, n);
    bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed) return true;
    bytes = std::move(data);
    return false;
}

bool read_text_file(const std::string& path, std::string& utf8) {
    std::string bytes;
    if (read_file_bytes(path, bytes)) return true;
    return decode_text(bytes, utf8);
}

bool write_file_atomic(const std::string& path, std::string_view bytes) {
    PendingFile file;
    return file.create(path, false) || file.write(bytes.data(), bytes.size()) || file.commit(true);
}

bool LineReader::open(const std::string& path) {
    std::string text;
    if (read_text_file(path, text)) return true;
    text_ = std::move(text);
    position_ = 0;
    current_ = {};
    return false;
}

void LineReader::open_text(std::string_view utf8) {
    text_.assign(utf8);
    position_ = 0;
    current_ = {};
}

std::size_t LineReader::quoted_line_end(std::size_t from) const {
    const std::string_view text(text_);
    std::size_t i = from;
    while (i < text.size()) {
        char c = text[i];
        if (c == '\r' || c == '\n' || c == '\0') return i;
        if (c == ' ' || c == '\t') {
            ++i;
            continue;
        }
        std::size_t q = c == '"' ? 1 : 0;
        if (text.substr(i, 3) == "\u2033" || text.substr(i, 3) == "\u2034") q = 3;
        if (q > 0) {
            std::size_t close = text.find(text.substr(i, q), i + q);
            if (close != std::string_view::npos) {
                i = close + q;
                continue;
            }
            // An unpaired quote must not swallow the rest of the file.
            return std::min(text.find_first_of(std::string_view("\r\n\0", 3), i), text.size());
        }
        while (i < text.size() && text[i] != ' ' && text[i] != '\t' && text[i] != '\r' &&
               text[i] != '\n' && text[i] != '\0') {
            ++i;
        }
    }
    return text.size();
}

bool LineReader::next(ArgumentList& line) {
    while (position_ < text_.size()) {
        std::size_t end =
            quoted_ ? quoted_line_end(position_) : text_.find_first_of("\r\n", position_);
        if (end == std::string::npos) end = text_.size();
        std::string_view candidate(text_.data() + position_, end - position_);
        position_ = end;
        if (quoted_ && position_ < text_.size() && text_[position_] == '\0') ++position_;
        if (position_ < text_.size() && text_[position_] == '\r') ++position_;
        if (position_ < text_.size() && text_[position_] == '\n') ++position_;
        ArgumentList tokens = split(candidate);
        if (tokens.empty()) continue;  // empty lines are skipped
        current_ = candidate;
        line = std::move(tokens);
        return true;
    }
    line.release();
    return false;
}

void LineWriter::line(std::string_view text) {
    text_.append(text);
    text_.append("\r\n");
}

bool LineWriter::save(const std::string& path) const {
    std::string bytes;
    if (bom_) bytes.append(utf8_mark);
    bytes.append(text_);
    return write_file_atomic(path, bytes);
}

bool read_versioned_header(LineReader& reader, std::string_view tag, double expected,
                           std::string_view what, bool refuse_newer) {
    ArgumentList line;
    if (!reader.next(line) || line.count() < 2 || line[0] != tag) return true;
    VersionCheck check = version_check(line[1], expected, what);
    return refuse_newer && check == VersionCheck::newer;
}

}  // namespace tessaly
