// The tokenizer and typed key readers of Tessaly's one-line settings language, shared by command
// lines and by every line-oriented text file (curves, preferences, favorites, masks).
//
// Tokens are separated by blanks or tabs. A token that starts with one of three quotes runs to
// the next occurrence of the same quote: ″ (U+2033) for strings, ‴ (U+2034) for an embedded
// command line, and " accepted on reading. There is no escape.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tessaly {

inline constexpr std::string_view string_quote = "\u2033";        // ″
inline constexpr std::string_view command_line_quote = "\u2034";  // ‴

// The split form of a line: the tokens, owned, in order.
class ArgumentList {
  public:
    int count() const { return static_cast<int>(tokens_.size()); }
    std::string_view operator[](int i) const { return tokens_[static_cast<std::size_t>(i)]; }
    const std::vector<std::string>& tokens() const { return tokens_; }
    void release() { tokens_.clear(); }
    bool empty() const { return tokens_.empty(); }

  private:
    friend ArgumentList split(std::string_view text);
    std::vector<std::string> tokens_;
};

// Splits a line; an unterminated quote shows "Missing quote" and runs to the end of the text.
ArgumentList split(std::string_view text);

// The readers find the first token equal to key and read the token after it. They return true
// on failure and leave the destination unchanged then (an absent key, a key standing last, or
// a value that does not read).
bool find_key(const ArgumentList& args, std::string_view key, int& value_index);
bool value_length(const ArgumentList& args, std::string_view key, std::size_t& length);
bool read_integer(const ArgumentList& args, std::string_view key, std::int32_t& value);
bool read_real(const ArgumentList& args, std::string_view key, double& value);
bool read_colour(const ArgumentList& args, std::string_view key, std::uint8_t& c1, std::uint8_t& c2,
                 std::uint8_t& c3);
// "ffffffff" sets no_colour and all components to 0.
bool read_optional_colour(const ArgumentList& args, std::string_view key, std::uint8_t& c1,
                          std::uint8_t& c2, std::uint8_t& c3, bool& no_colour);
// The same, then two reals from the two tokens after the colour.
bool read_optional_colour_and_reals(const ArgumentList& args, std::string_view key,
                                    std::uint8_t& c1, std::uint8_t& c2, std::uint8_t& c3,
                                    bool& no_colour, double& r1, double& r2);
// Cut to at most capacity characters.
bool read_string(const ArgumentList& args, std::string_view key, std::string& value,
                 std::size_t capacity = 255);

// A value written between string quotes (″value″) or command-line quotes (‴value‴). A quote of
// the same kind inside the value would end it early when read back, so it is written as the
// plain quotation mark (″) or the string quote (‴) instead.
std::string quoted_text(std::string_view value);
std::string quoted_command(std::string_view value);

// The value parsers behind the readers (the whole token must be consumed).
bool parse_integer(std::string_view token, std::int32_t& value);
bool parse_real(std::string_view token, double& value);
bool parse_colour(std::string_view token, std::uint32_t& value);

// Version check of a versioned text: warns (naming what) when the token does not read, or is
// newer or older than expected, and returns the result. Reading goes on after a warning.
enum class VersionCheck { same, older, newer, invalid };
VersionCheck version_check(std::string_view token, double expected, std::string_view what);

}  // namespace tessaly
