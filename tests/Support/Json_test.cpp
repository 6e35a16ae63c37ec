#include "CallsetConverter/Support/Json.h"

#include <gtest/gtest.h>

#include "CallsetConverter/Support/Text.h"

namespace callset_converter {
namespace {

TEST(JsonWriter, IndentedFormIsByteExact) {
  const auto value = JsonDict::parse(R"({"a": [1, 2.0, "x"], "b": {}, "c": [], "d": null, "e": true,
                                         "f": {"g": [[]]}})");
  EXPECT_EQ(to_json_text(value, JsonStyle::Indented),
            "{\n"
            "    \"a\": [\n"
            "        1,\n"
            "        2.0,\n"
            "        \"x\"\n"
            "    ],\n"
            "    \"b\": {},\n"
            "    \"c\": [],\n"
            "    \"d\": null,\n"
            "    \"e\": true,\n"
            "    \"f\": {\n"
            "        \"g\": [\n"
            "            []\n"
            "        ]\n"
            "    }\n"
            "}");
  EXPECT_EQ(to_json_text(JsonDict::array(), JsonStyle::Indented), "[]");
}

TEST(JsonWriter, CompactFormUsesSpacedSeparators) {
  const auto value = JsonDict::parse(R"([{"Id": "CYP2C19", "StarAllele": null}, {}, [], false, -3])");
  EXPECT_EQ(to_json_text(value, JsonStyle::Compact), R"([{"Id": "CYP2C19", "StarAllele": null}, {}, [], false, -3])");
}

TEST(JsonWriter, EscapesToPureAscii) {
  const JsonDict text = std::string("\xC3\xA9/\"\\\b\f\n\r\t\x01\x7f\xF0\x9F\x98\x80") + std::string(1, '\0');
  EXPECT_EQ(to_json_text(text, JsonStyle::Compact),
            "\"\\u00e9/\\\"\\\\\\b\\f\\n\\r\\t\\u0001\\u007f\\ud83d\\ude00\\u0000\"");
}

TEST(JsonWriter, WritesNumbersExactly) {
  const auto value = JsonDict::parse("[1e-5, 1e16, 1e2, 0.1, 18446744073709551615, -9223372036854775808, 2]");
  EXPECT_EQ(to_json_text(value, JsonStyle::Compact),
            "[1e-05, 1e+16, 100.0, 0.1, 18446744073709551615, -9223372036854775808, 2]");
}

TEST(JsonWriter, KeepsMemberOrderAndHandlesDeepNesting) {
  JsonDict object = JsonDict::object();
  object["z"] = 1;
  object["a"] = 2;
  EXPECT_EQ(to_json_text(object, JsonStyle::Compact), R"({"z": 1, "a": 2})");

  const std::size_t depth = 100000;
  const std::string deep = std::string(depth, '[') + std::string(depth, ']');
  const auto nested = JsonDict::parse(deep);
  EXPECT_EQ(to_json_text(nested, JsonStyle::Compact), deep);
}

struct FloatCase {
  double value;
  const char* text;
};

class FloatTextTest : public ::testing::TestWithParam<FloatCase> {};

TEST_P(FloatTextTest, IsShortestWithFractionOrExponent) { EXPECT_EQ(float_text(GetParam().value), GetParam().text); }

INSTANTIATE_TEST_SUITE_P(Values, FloatTextTest,
                         ::testing::Values(FloatCase{2.0, "2.0"}, FloatCase{1.5, "1.5"}, FloatCase{0.25, "0.25"},
                                           FloatCase{100.0, "100.0"}, FloatCase{0.00001, "1e-05"},
                                           FloatCase{0.0001, "0.0001"}, FloatCase{1e16, "1e+16"},
                                           FloatCase{1.5e16, "1.5e+16"},
                                           FloatCase{1234567890123456.0, "1234567890123456.0"}, FloatCase{-0.0, "-0.0"},
                                           FloatCase{-2.5, "-2.5"}, FloatCase{1e300, "1e+300"},
                                           FloatCase{5e-324, "5e-324"}, FloatCase{0.1 + 0.2, "0.30000000000000004"}));

TEST(JsonValues, BlankAndKindNames) {
  const auto values =
      JsonDict::parse(R"([null, false, 0, 0.0, "", [], {}, " ", true, 1, -0.5, "x", [0], {"a": null}])");
  std::vector<bool> blank;
  for (const auto& v : values) blank.push_back(is_blank(v));
  EXPECT_EQ(blank, (std::vector<bool>{true, true, true, true, true, true, true, false, false, false, false, false,
                                      false, false}));
  EXPECT_TRUE(is_blank(nullptr));

  std::vector<std::string> kinds;
  for (const auto& v : JsonDict::parse(R"({"a": {}, "b": [], "c": "", "d": 2, "e": 2.0, "f": true, "g": null,
                                          "h": 18446744073709551615})")) {
    kinds.push_back(kind_name(v));
  }
  EXPECT_EQ(kinds, (std::vector<std::string>{"dict", "list", "str", "int", "float", "bool", "NoneType", "int"}));
}

TEST(JsonValues, ScalarText) {
  const auto values = JsonDict::parse(R"(["2.0", "", 2, -3, 2.0, 1e2, true, false, null])");
  std::vector<std::optional<std::string>> texts;
  for (const auto& v : values) texts.push_back(scalar_text(v));
  EXPECT_EQ(texts, (std::vector<std::optional<std::string>>{"2.0", "", "2", "-3", "2.0", "100.0", "True", "False",
                                                            std::nullopt}));
}

TEST(JsonParsing, DuplicateMembersKeepTheLaterValueAtTheFirstPlace) {
  const auto value = parse_json_document(R"({"a": 1, "b": 2, "a": 3})", "in.json");
  EXPECT_EQ(to_json_text(value, JsonStyle::Compact), R"({"a": 3, "b": 2})");
}

TEST(JsonParsing, IntegersBeyond64BitsKeepEveryDigit) {
  const std::string huge = "1" + std::string(400, '7');
  const auto value = parse_json_document(
      "[123456789012345678901234567890, -123456789012345678901234567890, 18446744073709551616, " + huge + "]",
      "in.json");
  const std::vector<std::string> digits{"123456789012345678901234567890", "-123456789012345678901234567890",
                                        "18446744073709551616", huge};
  ASSERT_EQ(value.size(), digits.size());
  for (std::size_t i = 0; i < digits.size(); ++i) {
    EXPECT_EQ(kind_name(value[i]), "int");
    EXPECT_EQ(scalar_text(value[i]), digits[i]);
    EXPECT_FALSE(is_blank(value[i]));
  }
  EXPECT_EQ(to_json_text(value, JsonStyle::Compact), "[" + join(digits, ", ") + "]");
  // Copies keep them: a version object merged into the sidecar, say.
  JsonDict versions = JsonDict::object();
  versions["pbstarphase_version"] = value[2];
  EXPECT_EQ(to_json_text(versions, JsonStyle::Compact), R"({"pbstarphase_version": 18446744073709551616})");
  // The largest 64-bit values stay plain numbers.
  const auto edges = parse_json_document("[18446744073709551615, -9223372036854775808]", "in.json");
  EXPECT_TRUE(edges[0].is_number_unsigned());
  EXPECT_TRUE(edges[1].is_number_integer());
}

}  // namespace
}  // namespace callset_converter
