#include "format.h"

#include <langinfo.h>
#include <locale.h>

#include <atomic>
#include <charconv>
#include <cmath>

namespace tessaly {

namespace {

std::atomic<bool> plain_mode{false};
std::atomic<char32_t> locale_decimal{U'.'};
std::atomic<char32_t> locale_thousands{U','};

char32_t first_code_point(const char* text, char32_t fallback) {
    if (!text || !*text) return fallback;
    auto b = reinterpret_cast<const unsigned char*>(text);
    if (b[0] < 0x80) return b[0];
    int extra = (b[0] >= 0xf0) ? 3 : (b[0] >= 0xe0) ? 2 : (b[0] >= 0xc0) ? 1 : -1;
    if (extra < 0) return fallback;
    char32_t c = b[0] & (0x3f >> extra);
    for (int i = 1; i <= extra; ++i) {
        if ((b[i] & 0xc0) != 0x80) return fallback;
        c = (c << 6) | (b[i] & 0x3f);
    }
    return c;
}

std::string separator_text(char32_t c) {
    std::string s;
    append_utf8(s, c);
    return s;
}

void append_padded(std::string& out, const std::string& text, int width, bool zeros) {
    int length = static_cast<int>(character_count(text));
    if (width <= 0 || length == width) {
        out += text;
    } else if (length > width) {
        out.append(static_cast<std::size_t>(width), '*');
    } else {
        out.append(static_cast<std::size_t>(width - length), zeros ? '0' : ' ');
        out += text;
    }
}

std::string decimal_digits(std::uint64_t magnitude) {
    char buffer[24];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, magnitude);
    return std::string(buffer, result.ptr);
}

std::string grouped(std::int64_t value) {
    bool negative = value < 0;
    std::uint64_t magnitude =
        negative ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    std::string digits = decimal_digits(magnitude);
    std::string out = negative ? "-" : "";
    if (digits.size() <= 3) return out + digits;
    std::string separator = separator_text(thousands_separator());
    std::size_t lead = digits.size() % 3;
    if (lead == 0) lead = 3;
    out.append(digits, 0, lead);
    for (std::size_t i = lead; i < digits.size(); i += 3) {
        out += separator;
        out.append(digits, i, 3);
    }
    return out;
}

std::string hexadecimal(std::uint64_t bits) {
    char buffer[24];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, bits, 16);
    return std::string(buffer, result.ptr);
}

bool ends_with(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

std::int64_t FormatArg::as_signed() const {
    switch (kind_) {
        case Kind::signed_int:
            return i_;
        case Kind::unsigned_int:
            return static_cast<std::int64_t>(u_);
        case Kind::real:
            if (!(std::fabs(d_) < 9.2e18)) return 0;
            return static_cast<std::int64_t>(d_);
        case Kind::character:
            return static_cast<std::int64_t>(c_);
        case Kind::text:
            return 0;
    }
    return 0;
}

std::uint64_t FormatArg::as_hex_bits() const {
    std::uint64_t mask = bits_ >= 64 ? ~0ull : ((1ull << bits_) - 1);
    switch (kind_) {
        case Kind::signed_int:
            return static_cast<std::uint64_t>(i_) & mask;
        case Kind::unsigned_int:
            return u_;
        default:
            return static_cast<std::uint64_t>(as_signed());
    }
}

double FormatArg::as_real() const {
    switch (kind_) {
        case Kind::real:
            return d_;
        case Kind::signed_int:
            return static_cast<double>(i_);
        case Kind::unsigned_int:
            return static_cast<double>(u_);
        case Kind::character:
            return static_cast<double>(c_);
        case Kind::text:
            return 0.0;
    }
    return 0.0;
}

std::string format_number(double value, int precision, bool percent, bool strip) {
    int p = precision < 0 ? 0 : (precision > 15 ? 15 : precision);
    std::string separator = separator_text(decimal_separator());
    auto zeros = [&](std::string s) {
        if (p > 0) {
            s += separator;
            s.append(static_cast<std::size_t>(p), '0');
        }
        return s;
    };
    std::string out;
    if (value == 0.0 || value != value) {
        out = zeros("0");
    } else {
        if (percent) value *= 100.0;
        bool negative = value < 0.0;
        double magnitude = std::fabs(value);
        std::string sign = negative ? "-" : "";
        if (magnitude < std::pow(10.0, -p)) {
            out = zeros(sign + "0");
        } else if (magnitude > std::pow(10.0, p) * 1e6) {
            out = sign + "*";
        } else {
            // Half of the last place is added, then the digits are taken exactly (the
            // expansion of a double of this size ends well within 120 places).
            double m = magnitude + 0.5 * std::pow(10.0, -p);
            char buffer[200];
            auto result =
                std::to_chars(buffer, buffer + sizeof buffer, m, std::chars_format::fixed, 120);
            std::string_view digits(buffer, static_cast<std::size_t>(result.ptr - buffer));
            std::size_t point = digits.find('.');
            out = sign;
            out.append(digits.substr(0, point));
            if (p > 0) {
                out += separator;
                out.append(digits.substr(point + 1, static_cast<std::size_t>(p)));
            }
        }
    }
    if (strip && p > 0 && out.find(separator) != std::string::npos) {
        while (!out.empty() && out.back() == '0') out.pop_back();
    }
    return out;
}

std::size_t format_text_args(std::string& out, std::string_view format, const FormatArg* args,
                             std::size_t count) {
    out.clear();
    std::size_t next_arg = 0;
    auto take = [&]() -> const FormatArg* {
        return next_arg < count ? &args[next_arg++] : nullptr;
    };
    std::size_t i = 0;
    while (i < format.size()) {
        char c = format[i];
        if (c == '\\') {
            if (i + 1 < format.size()) {
                char n = format[i + 1];
                out.push_back(n == 'n' ? '\n' : n == 'r' ? '\r' : n == 't' ? '\t' : n);
            }
            i += 2;
            continue;
        }
        if (c != '%') {
            out.push_back(c);
            ++i;
            continue;
        }
        bool z = false;
        bool have_digits = false;
        int n = 0;
        std::size_t j = i + 1;
        for (; j < format.size(); ++j) {
            char f = format[j];
            if (f == 'z') {
                z = true;
            } else if (f >= '0' && f <= '9') {
                have_digits = true;
                if (n < 100000) n = n * 10 + (f - '0');
            } else {
                break;
            }
        }
        if (j >= format.size()) break;
        char conversion = format[j];
        i = j + 1;
        switch (conversion) {
            case '%':
                out.push_back('%');
                break;
            case 'c':
                if (const FormatArg* a = take())
                    append_utf8(out, a->as_character() ? a->as_character()
                                                       : static_cast<char32_t>(a->as_signed()));
                break;
            case 's':
                if (const FormatArg* a = take()) out.append(a->as_text());
                break;
            case 'd':
                if (const FormatArg* a = take()) {
                    std::int64_t v = a->as_signed();
                    std::string text = v < 0
                                           ? "-" + decimal_digits(0 - static_cast<std::uint64_t>(v))
                                           : decimal_digits(static_cast<std::uint64_t>(v));
                    append_padded(out, text, n, z);
                }
                break;
            case 'x':
                if (const FormatArg* a = take())
                    append_padded(out, hexadecimal(a->as_hex_bits()), n, z);
                break;
            case ',':
                if (const FormatArg* a = take()) append_padded(out, grouped(a->as_signed()), n, z);
                break;
            case 'f':
                if (const FormatArg* a = take()) {
                    std::string text =
                        format_number(a->as_real(), have_digits ? n : 4, false, false);
                    if (z) {
                        std::string separator = separator_text(decimal_separator());
                        if (text.find(separator) != std::string::npos) {
                            while (!text.empty() && text.back() == '0') text.pop_back();
                            if (ends_with(text, separator))
                                text.resize(text.size() - separator.size());
                        }
                        if (text == "-0") text = "0";
                    }
                    out += text;
                }
                break;
            default:
                break;  // an unknown letter ends the directive and writes nothing
        }
    }
    return character_count(out);
}

void set_plain_separators() {
    plain_mode.store(true);
}
void set_locale_separators() {
    plain_mode.store(false);
}
bool separators_are_plain() {
    return plain_mode.load();
}

char32_t decimal_separator() {
    return plain_mode.load() ? U'.' : locale_decimal.load();
}
char32_t thousands_separator() {
    return plain_mode.load() ? U',' : locale_thousands.load();
}

void init_locale_separators() {
    locale_t user = newlocale(LC_NUMERIC_MASK | LC_CTYPE_MASK, "", static_cast<locale_t>(nullptr));
    if (user == static_cast<locale_t>(nullptr)) return;
    char32_t decimal = first_code_point(nl_langinfo_l(RADIXCHAR, user), U'.');
    char32_t thousands =
        first_code_point(nl_langinfo_l(THOUSEP, user), decimal == U',' ? U'.' : U',');
    freelocale(user);
    set_locale_characters(decimal, thousands);
}

void set_locale_characters(char32_t decimal, char32_t thousands) {
    locale_decimal.store(decimal);
    locale_thousands.store(thousands);
}

PlainSeparators::PlainSeparators() : was_plain_(plain_mode.exchange(true)) {}
PlainSeparators::~PlainSeparators() {
    plain_mode.store(was_plain_);
}

namespace {

// Where the n-th code point starts (the end when there are fewer).
std::size_t code_point_offset(std::string_view utf8, std::size_t n) {
    std::size_t at = 0;
    for (std::size_t seen = 0; at < utf8.size(); ++at) {
        if ((static_cast<unsigned char>(utf8[at]) & 0xc0) != 0x80 && seen++ == n) break;
    }
    return at;
}

// A message is read by a person: a text longer than a screen (a file name built to be huge, a
// library's dump) keeps its start and its end.
constexpr std::size_t message_head = 1400, message_tail = 500;

std::string shortened(std::string_view text) {
    const std::size_t count = character_count(text);
    if (count <= message_head + message_tail + 100) return std::string(text);
    return std::string(text.substr(0, code_point_offset(text, message_head))) + " \u2026 " +
           std::string(text.substr(code_point_offset(text, count - message_tail)));
}

}  // namespace

Answer show_message_text(MessageKind kind, std::string_view text) {
    return interaction().message(kind, kind == MessageKind::error ? "Error" : "Warning",
                                 shortened(text));
}

std::size_t character_count(std::string_view utf8) {
    std::size_t n = 0;
    for (unsigned char c : utf8) {
        if ((c & 0xc0) != 0x80) ++n;
    }
    return n;
}

void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xc0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3f)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xe0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3f)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3f)));
    } else if (c < 0x110000) {
        out.push_back(static_cast<char>(0xf0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3f)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3f)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3f)));
    }
}

}  // namespace tessaly
