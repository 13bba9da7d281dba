#include "core/format.h"

#include <gtest/gtest.h>

#include <iterator>
#include <utility>

namespace tessaly {
namespace {

// Every test leaves the separator mode as the test program found it.
class FormatTest : public ::testing::Test {
  protected:
    void TearDown() override {
        set_locale_characters(U'.', U',');
        was_plain_ ? set_plain_separators() : set_locale_separators();
    }
    const bool was_plain_ = separators_are_plain();
};

TEST_F(FormatTest, IntegersHexadecimalTextAndEscapes) {
    EXPECT_EQ(formatted("%z4d|%4d|%2d|%3d", 7, 7, 123, 123), "0007|   7|**|123");
    EXPECT_EQ(formatted("%4zd", 42), "0042");  // digits and z in any order
    EXPECT_EQ(formatted("%d", static_cast<std::int64_t>(-9223372036854775807LL - 1)),
              "-9223372036854775808");
    // Hexadecimal uses the value's own width.
    EXPECT_EQ(formatted("%x %x %x %z8x", 255 + 128 * 256, 0, -1, 0xabcu),
              "80ff 0 ffffffff 00000abc");
    EXPECT_EQ(formatted("a\\nb\\rc\\td\\\\e\\q"), "a\nb\rc\td\\eq");
    EXPECT_EQ(formatted("100%%"), "100%");
    EXPECT_EQ(formatted("%q%d", 5), "5");    // an unknown letter writes nothing, uses no value
    EXPECT_EQ(formatted("%d %d", 1), "1 ");  // a missing value writes nothing
    EXPECT_EQ(formatted("%s|%c|%c", "Add Border", U'\u2033', 'x'), "Add Border|\u2033|x");
    std::string out = "old";
    EXPECT_EQ(format_text(out, "folder \u2033%s\u2033", std::string("a b")), 12u);  // characters
    EXPECT_EQ(out, "folder \u2033a b\u2033");
    append_utf8(out, U'\U0001F600');
    EXPECT_TRUE(out.ends_with("\u2033\xF0\x9F\x98\x80"));
}

TEST_F(FormatTest, ThousandsSeparatorsFollowTheMode) {
    set_plain_separators();
    EXPECT_EQ(formatted("%, %, %, %,", 1234567, 123, 1000, -123456),
              "1,234,567 123 1,000 -123,456");
    set_locale_characters(U',', U'\u00a0');
    set_locale_separators();
    EXPECT_EQ(formatted("%,", 1234567), "1\u00a0234\u00a0567");
    EXPECT_EQ(formatted("%4f", 1.5), "1,5000");
    {
        PlainSeparators plain;
        // Command lines are written with "." whatever the user's locale.
        EXPECT_EQ(formatted("scale %4f %,", 1.0, 1234567), "scale 1.0000 1,234,567");
    }
    EXPECT_EQ(formatted("%2zf", 0.5), "0,5");
}

TEST_F(FormatTest, RealNumbersAndFormatNumber) {
    set_plain_separators();
    const std::pair<const char*, double> cases[] = {
        {"%4f", 2.5},       {"%f", 2.5},        {"%4zf", 2.5},      {"%2zf", 3.0},
        {"%4zf", 0.0},      {"%4zf", -0.00001}, {"%4zf", 1e12},     {"%4f", -1e12},
        {"%2f", 0.004},     {"%2f", 0.126},     {"%2f", -0.126},    {"%0f", 2.5},
        {"%0zf", 100.0},    {"%4zf", -12.25},   {"%6f", 1.0 / 3.0}, {"%4f", 123456.78},
        {"%0f", 1000000.0}, {"%0f", 1000001.0}};
    const char* expected[] = {"2.5000", "2.5000", "2.5",      "3",           "0",       "0",
                              "*",      "-*",     "0.00",     "0.13",        "-0.13",   "3",
                              "100",    "-12.25", "0.333333", "123456.7800", "1000000", "*"};
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(formatted(cases[i].first, cases[i].second), expected[i])
            << cases[i].first << " " << cases[i].second;
    }
    EXPECT_EQ(formatted("%20f", 1.0).size(), 17u);  // precision is clamped to 15
    EXPECT_EQ(formatted("%f", 7), "7.0000");        // an integer argument converts
    // Stripping leaves the separator of a whole number ("3.").
    EXPECT_EQ(format_number(0.0, 3, false, false) + " " + format_number(0.25, 1, true, false) +
                  " " + format_number(2.5, 4, false, true) + " " +
                  format_number(3.0, 2, false, true) + " " + format_number(100.0, 0, false, true) +
                  " " + format_number(-7.0, -3, false, false),
              "0.000 25.0 2.5 3. 100 -7");
}

}  // namespace
}  // namespace tessaly
