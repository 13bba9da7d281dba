// The program's own text formatter. Its directives differ from printf on purpose: every stored
// command line is written through it, so "%4zf" must give the same bytes in every build.
//
//   \n \r \t          line feed, carriage return, tab; a backslash before anything else copies it
//   %%                a percent sign
//   %c                one character (a code point)
//   %s                a string, whole
//   %d %x %,          decimal, lowercase hexadecimal, decimal with thousands separators
//   %Nd %zNd          width N: right-aligned with blanks (or zeros with z); "*" x N when too long
//   %f %Nf %zNf       N decimals (default 4, at most 15); z strips trailing zeros and the point
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

#include "interaction.h"

namespace tessaly {

// One value handed to format_text.
class FormatArg {
  public:
    enum class Kind { signed_int, unsigned_int, real, text, character };

    template <typename T,
              std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, bool> &&
                                   !std::is_same_v<T, char> && !std::is_same_v<T, char32_t>,
                               int> = 0>
    FormatArg(T v) {  // NOLINT(google-explicit-constructor): values are passed as they are
        if constexpr (std::is_signed_v<T>) {
            kind_ = Kind::signed_int;
            i_ = v;
            bits_ = sizeof(T) * 8;
        } else {
            kind_ = Kind::unsigned_int;
            u_ = v;
            bits_ = sizeof(T) * 8;
        }
    }
    FormatArg(bool v) : kind_(Kind::signed_int), i_(v ? 1 : 0), bits_(32) {}          // NOLINT
    FormatArg(double v) : kind_(Kind::real), d_(v) {}                                 // NOLINT
    FormatArg(float v) : kind_(Kind::real), d_(v) {}                                  // NOLINT
    FormatArg(char v) : kind_(Kind::character), c_(static_cast<unsigned char>(v)) {}  // NOLINT
    FormatArg(char32_t v) : kind_(Kind::character), c_(v) {}                          // NOLINT
    FormatArg(std::string_view v) : kind_(Kind::text), s_(v) {}                       // NOLINT
    FormatArg(const std::string& v) : kind_(Kind::text), s_(v) {}                     // NOLINT
    FormatArg(const char* v) : kind_(Kind::text), s_(v ? v : "") {}                   // NOLINT

    Kind kind() const { return kind_; }
    std::int64_t as_signed() const;
    std::uint64_t as_hex_bits() const;  // the value's own width: -1 of an int gives ffffffff
    double as_real() const;
    std::string_view as_text() const { return s_; }
    char32_t as_character() const { return c_; }

  private:
    Kind kind_;
    std::int64_t i_ = 0;
    std::uint64_t u_ = 0;
    double d_ = 0.0;
    std::string_view s_;
    char32_t c_ = 0;
    unsigned bits_ = 64;
};

// Formats into out (replacing its contents) and returns the number of characters written.
std::size_t format_text_args(std::string& out, std::string_view format, const FormatArg* args,
                             std::size_t count);

template <typename... Args>
std::size_t format_text(std::string& out, std::string_view format, const Args&... args) {
    const FormatArg list[] = {FormatArg(args)..., FormatArg(0)};
    return format_text_args(out, format, list, sizeof...(Args));
}

// The same, returning the text.
template <typename... Args>
std::string formatted(std::string_view format, const Args&... args) {
    std::string out;
    format_text(out, format, args...);
    return out;
}

// The conversion behind %f: precision is clamped to 0..15; percent multiplies by 100 first;
// strip removes trailing zeros after the decimal separator (the separator stays).
std::string format_number(double value, int precision, bool percent, bool strip);

// Separator mode: plain means "." and ","; locale means the user's characters (read once at
// start-up with init_locale_separators). Command lines and stored files always use plain.
void set_plain_separators();
void set_locale_separators();
bool separators_are_plain();
char32_t decimal_separator();
char32_t thousands_separator();
// Reads the user's locale characters (LC_NUMERIC from the environment) without changing the
// process locale. Tests may set them directly.
void init_locale_separators();
void set_locale_characters(char32_t decimal, char32_t thousands);

// Plain separators for the lifetime of a scope; restores the previous mode.
class PlainSeparators {
  public:
    PlainSeparators();
    ~PlainSeparators();
    PlainSeparators(const PlainSeparators&) = delete;
    PlainSeparators& operator=(const PlainSeparators&) = delete;

  private:
    bool was_plain_;
};

// Messages: format, then hand the text to the Interaction with the caption "Error" or "Warning".
Answer show_message_text(MessageKind kind, std::string_view text);

template <typename... Args>
Answer show_error(std::string_view format, const Args&... args) {
    return show_message_text(MessageKind::error, formatted(format, args...));
}

template <typename... Args>
Answer show_warning(std::string_view format, const Args&... args) {
    return show_message_text(MessageKind::warning, formatted(format, args...));
}

// Characters (code points) of a UTF-8 text; length limits count these, not bytes.
std::size_t character_count(std::string_view utf8);
// Appends one code point as UTF-8.
void append_utf8(std::string& out, char32_t c);

}  // namespace tessaly
