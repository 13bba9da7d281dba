#include "core/arguments.h"

#include <gtest/gtest.h>

#include <utility>

#include "core/format.h"
#include "support/recording_interaction.h"

namespace tessaly {
namespace {

using V = std::vector<std::string>;

TEST(Split, BlanksTabsTheThreeQuotesAndAMissingQuote) {
    testing::RecordingScope scope;
    const std::pair<const char*, V> cases[] = {
        {"add_border 0 left \u20331 2\u2033 \u2033\u2033 \"x y\"",
         {"add_border", "0", "left", "1 2", "", "x y"}},
        {"  a\t\tb  ", {"a", "b"}},
        {" \t ", {}},
        // A command line quoted with the triple prime keeps its own string quotes; a quote
        // character inside an unquoted token is part of it.
        {"image command \u2034mask 0 caption \u2033a b\u2033\u2034 n 1",
         {"image", "command", "mask 0 caption \u2033a b\u2033", "n", "1"}},
        {"ab\u2033c d", {"ab\u2033c", "d"}},
        // A missing closing quote runs to the end.
        {"x 0 a \u2033b", {"x", "0", "a", "b"}},
        {"x \u2034a \u2033b c\u2033", {"x", "a \u2033b c\u2033"}}};
    for (const auto& [text, tokens] : cases) EXPECT_EQ(split(text).tokens(), tokens) << text;
    EXPECT_EQ(scope.recorder.errors(), V(2, "Missing quote"));
}

// What a reader returns (true = failed) and leaves in a destination that held value.
template <class T>
std::pair<bool, T> read(bool (*reader)(const ArgumentList&, std::string_view, T&),
                        const ArgumentList& args, std::string_view key, T value) {
    const bool failed = reader(args, key, value);
    return {failed, value};
}

TEST(KeyReaders, AbsentKeysKeepTheDestination) {
    ArgumentList args =
        split("add_border 0 left 20 scale 1.5000 color 80ff name \u2033a b\u2033 last");
    using I = std::pair<bool, std::int32_t>;
    EXPECT_EQ(read(read_integer, args, "left", -1), I(false, 20));
    EXPECT_EQ(read(read_integer, args, "top", 77), I(true, 77));    // absent
    EXPECT_EQ(read(read_integer, args, "last", 77), I(true, 77));   // the key stands last
    EXPECT_EQ(read(read_integer, args, "scale", 77), I(true, 77));  // 1.5 is not an integer
    EXPECT_EQ(read(read_real, args, "scale", 0.0), std::pair(false, 1.5));
    EXPECT_EQ(read(find_key, args, "scale", 0), std::pair(false, 5));
    EXPECT_EQ(read(value_length, args, "name", std::size_t{0}), std::pair(false, std::size_t{4}));
    std::uint8_t c1 = 0, c2 = 0, c3 = 9;
    EXPECT_FALSE(read_colour(args, "color", c1, c2, c3));
    EXPECT_EQ(std::vector<int>({c1, c2, c3}), std::vector<int>({255, 128, 0}));
    // Keys are case-sensitive and the first occurrence wins.
    EXPECT_EQ(read(read_integer, split("k 0 a 1 a 2 A 3"), "a", 0), I(false, 1));

    // Strings are cut at a character boundary after their capacity (255 unless given).
    std::string long_value, s;
    for (int k = 0; k < 300; ++k) long_value += "\xc3\xa9";  // é, two bytes each
    EXPECT_TRUE(!read_string(args, "name", s) && s == "a b");
    args = split("k 0 caption \u2033" + long_value + "\u2033");
    EXPECT_TRUE(!read_string(args, "caption", s) && s == long_value.substr(0, 510));
    EXPECT_TRUE(!read_string(args, "caption", s, 3) && s == long_value.substr(0, 6));
}

TEST(KeyReaders, IntegersAndColours) {
    std::int32_t v = 0;
    EXPECT_TRUE(!parse_integer("+5", v) && v == 5);
    EXPECT_TRUE(!parse_integer("-2147483648", v) && v == -2147483647 - 1);
    for (const char* bad : {"", "+", "-", "1.0", "12a", " 1", "2147483648"})
        EXPECT_TRUE(parse_integer(bad, v)) << bad;
    std::uint32_t c = 0;
    EXPECT_TRUE(!parse_colour("80 FF", c) && c == 0x80ffu && parse_colour("1ffffffff", c));

    ArgumentList args = split("k 0 back ffffffff fore 10203 3 shadow ff 1.5 -2 short ff 1");
    std::uint8_t a = 1, b = 2, d = 3;
    bool none = false;
    EXPECT_TRUE(!read_optional_colour(args, "back", a, b, d, none) && none && a + b + d == 0);
    EXPECT_TRUE(!read_optional_colour(args, "fore", a, b, d, none) && !none);
    EXPECT_EQ(std::vector<int>({a, b, d}), std::vector<int>({3, 2, 1}));
    double r1 = 0, r2 = 0;
    EXPECT_FALSE(read_optional_colour_and_reals(args, "shadow", a, b, d, none, r1, r2));
    EXPECT_EQ(std::vector<double>({double(a), r1, r2}), std::vector<double>({255, 1.5, -2}));
    r1 = 9;
    EXPECT_TRUE(read_optional_colour_and_reals(args, "short", a, b, d, none, r1, r2) && r1 == 9);
}

TEST(KeyReaders, RealNumberSyntax) {
    PlainSeparators plain;
    const std::pair<const char*, double> good[] = {
        {"1,000.5", 1000.5}, {"50%", 0.5},        {"2.5e-1", 0.25}, {".", 0.0},   {"+.5", 0.5},
        {"%50", 0.5},        {"12.5e+2", 1250.0}, {"1,2,3", 123.0}, {"5e1%", 0.5}};
    for (auto [text, value] : good) {
        double v = -99;
        EXPECT_FALSE(parse_real(text, v)) << text;
        EXPECT_DOUBLE_EQ(v, value) << text;
    }
    for (const char* bad : {"1.2.3", "12a", "+", "", "5%%", "1e1234", "e5", "1e", "1 2", "--1"}) {
        double v = -99;
        EXPECT_TRUE(parse_real(bad, v)) << bad;
        EXPECT_EQ(v, -99) << bad;
    }
}

}  // namespace
}  // namespace tessaly
