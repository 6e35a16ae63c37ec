#include "CallsetConverter/Support/Text.h"

#include <gtest/gtest.h>

#include "CallsetConverter/Support/Errors.h"
#include "TestSupport.h"

namespace callset_converter {
namespace {

struct LiteralCase {
  std::string text;
  std::string literal;
};

class QuotedLiteralTest : public ::testing::TestWithParam<LiteralCase> {};

TEST_P(QuotedLiteralTest, RendersText) {
  EXPECT_EQ(quoted_literal(std::string_view(GetParam().text)), GetParam().literal);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, QuotedLiteralTest,
    ::testing::Values(LiteralCase{"abc", "'abc'"}, LiteralCase{"", "''"},
                      // quote choice
                      LiteralCase{"it's", "\"it's\""}, LiteralCase{"say \"hi\"", "'say \"hi\"'"},
                      LiteralCase{"it's \"q\"", "'it\\'s \"q\"'"},
                      // backslash escapes
                      LiteralCase{"a\\b", "'a\\\\b'"}, LiteralCase{"t\tn\nr\r", "'t\\tn\\nr\\r'"},
                      // other control characters as hexadecimal escapes
                      LiteralCase{std::string("\x01\x1f\x7f", 3), "'\\x01\\x1f\\x7f'"},
                      LiteralCase{std::string("a\0b", 3), "'a\\x00b'"},
                      // printable non-ASCII kept, non-printable escaped by width
                      LiteralCase{"\xC3\xA9", "'\xC3\xA9'"}, LiteralCase{"\xF0\x9F\x98\x80", "'\xF0\x9F\x98\x80'"},
                      LiteralCase{"\xC2\xA0", "'\\xa0'"},                // no-break space (Zs)
                      LiteralCase{"\xC2\x85", "'\\x85'"},                // C1 control (Cc)
                      LiteralCase{"\xE2\x80\x8B", "'\\u200b'"},          // zero-width space (Cf)
                      LiteralCase{"\xE2\x80\xA8", "'\\u2028'"},          // line separator (Zl)
                      LiteralCase{"\xEE\x80\x80", "'\\ue000'"},          // private use (Co)
                      LiteralCase{"\xCD\xB8", "'\\u0378'"},              // unassigned (Cn)
                      LiteralCase{"\xF3\xB0\x80\x80", "'\\U000f0000'"},  // private use beyond U+FFFF
                      LiteralCase{" ", "' '"}));

TEST(QuotedLiteral, AbsentValueAndLists) {
  EXPECT_EQ(quoted_literal(std::optional<std::string>()), "None");
  EXPECT_EQ(quoted_literal(std::optional<std::string>("x")), "'x'");
  EXPECT_EQ(quoted_literal(std::vector<std::string>{}), "[]");
  EXPECT_EQ(quoted_literal(std::vector<std::string>{"a", "b'c", ""}), "['a', \"b'c\", '']");
}

TEST(Trim, RemovesUnicodeWhitespaceOnly) {
  EXPECT_EQ(trim("  CYP2D6 \t\r\n"), "CYP2D6");
  EXPECT_EQ(trim("\xC2\xA0"
                 "CYP2D6\xE2\x80\x83"),
            "CYP2D6");  // no-break space, em space
  EXPECT_EQ(trim("\x1c"
                 "a b\x1f"),
            "a b");  // separators count as whitespace
  EXPECT_EQ(trim("\xE2\x80\x8B"
                 "x"),
            "\xE2\x80\x8B"
            "x");  // zero-width space is not whitespace
  EXPECT_EQ(trim("   "), "");
  EXPECT_EQ(trim(""), "");
}

TEST(CaseMapping, IsUnicodeAware) {
  EXPECT_EQ(to_lower("Gene SYMBOL"), "gene symbol");
  EXPECT_EQ(to_upper("dpwg"), "DPWG");
  EXPECT_EQ(to_lower("\xC3\x89TUDE"), "\xC3\xA9tude");
  EXPECT_EQ(to_upper("stra\xC3\x9F"
                     "e"),
            "STRASSE");
}

TEST(Utf8, FindsTheFirstInvalidByte) {
  EXPECT_FALSE(find_invalid_utf8("plain \xC3\xA9 \xF0\x9F\x98\x80").has_value());
  EXPECT_EQ(find_invalid_utf8("ab\xFF"), 2U);
  EXPECT_EQ(find_invalid_utf8("\xC0\xAF"), 0U);          // overlong
  EXPECT_EQ(find_invalid_utf8("x\xED\xA0\x80"), 1U);     // encoded surrogate
  EXPECT_EQ(find_invalid_utf8("\xE2\x82"), 0U);          // truncated sequence
  EXPECT_EQ(find_invalid_utf8("\xF4\x90\x80\x80"), 0U);  // beyond U+10FFFF
}

TEST(Utf8, FindsFaultsAtEveryPlaceAroundAsciiRuns) {
  // ASCII is passed in blocks; a fault or a sequence may start anywhere in
  // or after a block, and a sequence may be cut by the end of the text.
  for (std::size_t before = 0; before < 20; ++before) {
    const std::string ascii(before, 'a');
    for (std::size_t after : {0U, 1U, 7U, 8U, 9U, 17U}) {
      const std::string tail(after, 'b');
      EXPECT_FALSE(find_invalid_utf8(testing::concat(ascii, "\xC3\xA9", tail, "\xE2\x80\x93", tail)).has_value())
          << before;
      EXPECT_EQ(find_invalid_utf8(testing::concat(ascii, "\xFF", tail)), before) << before << " " << after;
      EXPECT_EQ(find_invalid_utf8(testing::concat(ascii, tail, "\xF0\x9F\x98")), before + after)
          << before << " " << after;
      EXPECT_EQ(find_invalid_utf8(testing::concat(ascii, "\xC3\xA9", tail, "\x80")), before + 2 + after)
          << before << " " << after;
    }
  }
}

TEST(Utf8, RequireRaisesTheDecodingKindNamingTheOrigin) {
  try {
    require_utf8("ok\xFE", "in.tsv");
    FAIL() << "expected a decoding error";
  } catch (const TextDecodeError& e) {
    EXPECT_EQ(std::string(e.what()), "in.tsv: not valid UTF-8: cannot decode byte 0xfe at offset 2");
  }
  EXPECT_NO_THROW(require_utf8("fine", "in.tsv"));
}

}  // namespace
}  // namespace callset_converter
