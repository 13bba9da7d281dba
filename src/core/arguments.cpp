#include "arguments.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

#include "format.h"

namespace tessaly {

namespace {

// The length in bytes of the quote starting at text[i], or 0 when none starts there.
std::size_t quote_at(std::string_view text, std::size_t i) {
    if (text[i] == '"') return 1;
    if (text.substr(i, 3) == string_quote || text.substr(i, 3) == command_line_quote) return 3;
    return 0;
}

bool blank(char c) {
    return c == ' ' || c == '\t';
}

// Decodes UTF-8 into code points; invalid bytes become U+FFFD so they never match a digit.
std::u32string code_points(std::string_view text) {
    std::u32string out;
    for (std::size_t i = 0; i < text.size();) {
        auto b = static_cast<unsigned char>(text[i]);
        int extra = b < 0x80 ? 0 : b >= 0xf0 ? 3 : b >= 0xe0 ? 2 : b >= 0xc0 ? 1 : -1;
        if (extra < 0 || i + static_cast<std::size_t>(extra) >= text.size()) {
            out.push_back(U'\uFFFD');
            ++i;
            continue;
        }
        char32_t c = extra == 0 ? b : (b & (0x3f >> extra));
        bool ok = true;
        for (int k = 1; k <= extra; ++k) {
            auto n = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
            if ((n & 0xc0) != 0x80) ok = false;
            c = (c << 6) | (n & 0x3f);
        }
        out.push_back(ok ? c : U'\uFFFD');
        i += ok ? static_cast<std::size_t>(extra) + 1 : 1;
    }
    return out;
}

bool is_digit(char32_t c) {
    return c >= U'0' && c <= U'9';
}

}  // namespace

ArgumentList split(std::string_view text) {
    ArgumentList list;
    bool missing_quote = false;
    std::size_t i = 0;
    while (i < text.size()) {
        if (blank(text[i])) {
            ++i;
            continue;
        }
        std::size_t q = quote_at(text, i);
        if (q > 0) {
            std::string_view quote = text.substr(i, q);
            std::size_t start = i + q;
            std::size_t end = text.find(quote, start);
            if (end == std::string_view::npos) {
                missing_quote = true;
                list.tokens_.emplace_back(text.substr(start));
                i = text.size();
            } else {
                list.tokens_.emplace_back(text.substr(start, end - start));
                i = end + q;
            }
        } else {
            std::size_t start = i;
            while (i < text.size() && !blank(text[i])) ++i;
            list.tokens_.emplace_back(text.substr(start, i - start));
        }
    }
    if (missing_quote) show_error("Missing quote");
    return list;
}

bool find_key(const ArgumentList& args, std::string_view key, int& value_index) {
    for (int i = 0; i < args.count(); ++i) {
        if (args[i] == key) {
            if (i + 1 >= args.count()) return true;  // a key standing last has no value
            value_index = i + 1;
            return false;
        }
    }
    return true;
}

bool value_length(const ArgumentList& args, std::string_view key, std::size_t& length) {
    int index = 0;
    if (find_key(args, key, index)) return true;
    length = character_count(args[index]) + 1;
    return false;
}

bool parse_integer(std::string_view token, std::int32_t& value) {
    std::size_t i = 0;
    bool negative = false;
    if (i < token.size() && (token[i] == '+' || token[i] == '-')) negative = token[i++] == '-';
    if (i >= token.size()) return true;
    std::int64_t v = 0;
    for (; i < token.size(); ++i) {
        char c = token[i];
        if (c < '0' || c > '9') return true;
        v = v * 10 + (c - '0');
        if (v > 2147483648LL) return true;
    }
    if (negative) v = -v;
    if (v > 2147483647LL) return true;
    value = static_cast<std::int32_t>(v);
    return false;
}

bool parse_real(std::string_view token, double& value) {
    std::u32string s = code_points(token);
    char32_t point = decimal_separator();
    char32_t grouping = thousands_separator();
    std::size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == U'+' || s[i] == U'-')) negative = s[i++] == U'-';
    std::string digits;
    int fraction_digits = 0;
    bool seen_point = false;
    int percents = 0;
    for (; i < s.size(); ++i) {
        char32_t c = s[i];
        if (is_digit(c)) {
            digits.push_back(static_cast<char>(c));
            if (seen_point) ++fraction_digits;
        } else if (c == point) {
            if (seen_point) return true;
            seen_point = true;
        } else if (c == U'%') {
            if (++percents > 1) return true;
        } else if (c == grouping) {
            // grouping is skipped among the digits
        } else {
            break;
        }
    }
    if (digits.empty() && !seen_point) return true;
    int exponent = 0;
    if (i < s.size() && (s[i] == U'e' || s[i] == U'E')) {
        ++i;
        bool exponent_negative = false;
        if (i < s.size() && (s[i] == U'+' || s[i] == U'-')) exponent_negative = s[i++] == U'-';
        int n = 0;
        for (; i < s.size() && is_digit(s[i]) && n < 3; ++i, ++n) {
            exponent = exponent * 10 + static_cast<int>(s[i] - U'0');
        }
        if (n == 0) return true;
        if (exponent_negative) exponent = -exponent;
    }
    if (i < s.size() && s[i] == U'%') {
        if (++percents > 1) return true;
        ++i;
    }
    if (i != s.size()) return true;
    if (digits.empty()) digits = "0";
    // The digits as one integer scaled by a power of ten, rounded once by from_chars.
    int scale = exponent - fraction_digits - 2 * percents;
    std::string text = digits + "e" + std::to_string(scale);
    double v = 0.0;
    auto result = std::from_chars(text.data(), text.data() + text.size(), v);
    if (result.ec == std::errc::result_out_of_range) {
        v = scale < 0 ? 0.0 : HUGE_VAL;
    } else if (result.ec != std::errc()) {
        return true;
    }
    value = negative ? -v : v;
    return false;
}

bool parse_colour(std::string_view token, std::uint32_t& value) {
    std::uint64_t v = 0;
    int digits = 0;
    for (char c : token) {
        if (c == ' ' || c == '\t') continue;
        int d;
        if (c >= '0' && c <= '9') {
            d = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            d = c - 'a' + 10;
        } else if (c >= 'A' && c <= 'F') {
            d = c - 'A' + 10;
        } else {
            return true;
        }
        v = v * 16 + static_cast<std::uint64_t>(d);
        if (v > 0xffffffffull) return true;
        ++digits;
    }
    if (digits == 0) return true;
    value = static_cast<std::uint32_t>(v);
    return false;
}

bool read_integer(const ArgumentList& args, std::string_view key, std::int32_t& value) {
    int index = 0;
    if (find_key(args, key, index)) return true;
    return parse_integer(args[index], value);
}

bool read_real(const ArgumentList& args, std::string_view key, double& value) {
    int index = 0;
    if (find_key(args, key, index)) return true;
    return parse_real(args[index], value);
}

bool read_colour(const ArgumentList& args, std::string_view key, std::uint8_t& c1, std::uint8_t& c2,
                 std::uint8_t& c3) {
    int index = 0;
    std::uint32_t v = 0;
    if (find_key(args, key, index) || parse_colour(args[index], v)) return true;
    c1 = static_cast<std::uint8_t>(v);
    c2 = static_cast<std::uint8_t>(v >> 8);
    c3 = static_cast<std::uint8_t>(v >> 16);
    return false;
}

bool read_optional_colour(const ArgumentList& args, std::string_view key, std::uint8_t& c1,
                          std::uint8_t& c2, std::uint8_t& c3, bool& no_colour) {
    int index = 0;
    std::uint32_t v = 0;
    if (find_key(args, key, index) || parse_colour(args[index], v)) return true;
    no_colour = v == 0xffffffffu;
    if (no_colour) v = 0;
    c1 = static_cast<std::uint8_t>(v);
    c2 = static_cast<std::uint8_t>(v >> 8);
    c3 = static_cast<std::uint8_t>(v >> 16);
    return false;
}

bool read_optional_colour_and_reals(const ArgumentList& args, std::string_view key,
                                    std::uint8_t& c1, std::uint8_t& c2, std::uint8_t& c3,
                                    bool& no_colour, double& r1, double& r2) {
    int index = 0;
    if (find_key(args, key, index) || index + 2 >= args.count()) return true;
    double a = 0.0;
    double b = 0.0;
    if (parse_real(args[index + 1], a) || parse_real(args[index + 2], b)) return true;
    if (read_optional_colour(args, key, c1, c2, c3, no_colour)) return true;
    r1 = a;
    r2 = b;
    return false;
}

bool read_string(const ArgumentList& args, std::string_view key, std::string& value,
                 std::size_t capacity) {
    int index = 0;
    if (find_key(args, key, index)) return true;
    std::string_view token = args[index];
    // Cut at a character boundary after capacity characters.
    std::size_t characters = 0;
    std::size_t end = 0;
    for (; end < token.size(); ++end) {
        if ((static_cast<unsigned char>(token[end]) & 0xc0) != 0x80) {
            if (characters == capacity) break;
            ++characters;
        }
    }
    value.assign(token.substr(0, end));
    return false;
}

VersionCheck version_check(std::string_view token, double expected, std::string_view what) {
    PlainSeparators plain;
    double version = 0.0;
    if (parse_real(token, version)) {
        show_warning("%s file has invalid version number", what);
        return VersionCheck::invalid;
    }
    if (version > expected) {
        show_warning(
            "%s file was created for a newer version of Tessaly -- some settings may be ignored",
            what);
        return VersionCheck::newer;
    }
    if (version < expected) {
        show_warning(
            "%s file was created for an older version of Tessaly -- some settings may assigned "
            "default "
            "values",
            what);
        return VersionCheck::older;
    }
    return VersionCheck::same;
}

namespace {

std::string enclosed(std::string_view value, std::string_view quote, std::string_view stand_in) {
    std::string out(quote);
    for (std::size_t i = 0; i < value.size();) {
        if (value.substr(i, quote.size()) == quote) {
            out += stand_in;
            i += quote.size();
        } else {
            out += value[i++];
        }
    }
    out += quote;
    return out;
}

}  // namespace

std::string quoted_text(std::string_view value) {
    return enclosed(value, string_quote, "\"");
}

std::string quoted_command(std::string_view value) {
    return enclosed(value, command_line_quote, string_quote);
}

}  // namespace tessaly
