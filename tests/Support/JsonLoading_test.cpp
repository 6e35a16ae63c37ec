#include "CallsetConverter/Support/JsonLoading.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <exception>
#include <filesystem>
#include <fstream>
#include <thread>

#include "CallsetConverter/Support/Errors.h"
#include "CallsetConverter/Support/Files.h"
#include "CallsetConverter/Support/Json.h"
#include "CallsetConverter/Support/Text.h"
#include "TestSupport.h"

namespace callset_converter {
namespace {

// The selections the readers and the dispatcher load with.
struct NamedSelection {
  const char* name;
  JsonSelection selection;
};

std::vector<NamedSelection> reader_selections() {
  return {
      {"everything", JsonSelection::everything()},
      {"member names", JsonSelection::member_names()},
      {"PharmCAT gene container",
       JsonSelection::member_names().keep({"geneReports"}).keep({"genes"}).keep({"report", "genes"})},
      {"PharmCAT versions", JsonSelection::member_names()
                                .keep({"pharmcatVersion"})
                                .keep({"dataVersion"})
                                .keep({"title"})
                                .keep({"timestamp"})},
      {"pbStarPhase gene_details", JsonSelection::member_names().keep({"gene_details"})},
      {"pbStarPhase versions", JsonSelection::member_names().keep({"pbstarphase_version"}).keep({"database_metadata"})},
  };
}

// What a selective load must give: the plain full parse with every value
// the selection does not build replaced by a discarded value.
JsonDict pruned(const JsonDict& value, const JsonSelection& selection) {
  if (selection.keeps_whole()) return value;
  if (!value.is_object()) {
    // Not a braced return: the JSON type takes initializer lists, so one
    // would build a one-element array.
    JsonDict discarded(JsonDict::value_t::discarded);
    return discarded;
  }
  JsonDict out = JsonDict::object();
  for (const auto& [name, member] : value.items()) {
    const JsonSelection* kept = selection.member(name);
    out[name] = kept == nullptr ? JsonDict(JsonDict::value_t::discarded) : pruned(member, *kept);
  }
  return out;
}

// Equality that also tells an integer from a float, a signed from an
// unsigned integer and a discarded value from null, and that sees member
// order. On a difference it names the path.
::testing::AssertionResult same_tree(const JsonDict& expected, const JsonDict& actual, const std::string& path = "$") {
  if (expected.type() != actual.type()) {
    return ::testing::AssertionFailure() << path << ": " << expected.type_name() << " vs " << actual.type_name() << " ("
                                         << static_cast<int>(expected.type()) << " vs "
                                         << static_cast<int>(actual.type()) << ")";
  }
  if (expected.is_object()) {
    if (expected.size() != actual.size()) return ::testing::AssertionFailure() << path << ": member counts differ";
    auto a = actual.items().begin();
    for (const auto& [name, value] : expected.items()) {
      if (a.key() != name) return ::testing::AssertionFailure() << path << ": member " << name << " vs " << a.key();
      if (auto result = same_tree(value, a.value(), testing::concat(path, ".", name)); !result) return result;
      ++a;
    }
    return ::testing::AssertionSuccess();
  }
  if (expected.is_array()) {
    if (expected.size() != actual.size()) return ::testing::AssertionFailure() << path << ": lengths differ";
    for (std::size_t i = 0; i < expected.size(); ++i) {
      if (auto result = same_tree(expected[i], actual[i], path + "[" + std::to_string(i) + "]"); !result) {
        return result;
      }
    }
    return ::testing::AssertionSuccess();
  }
  if (expected.is_discarded() || expected == actual) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << path << ": " << expected.dump() << " vs " << actual.dump();
}

// Every reader selection gives the pruned plain parse of `text`.
void expect_selections_match_plain_parse(const std::string& text, const std::string& label) {
  const JsonDict plain = JsonDict::parse(text);
  for (const auto& [name, selection] : reader_selections()) {
    EXPECT_TRUE(same_tree(pruned(plain, selection), parse_json_document(text, "in.json", selection)))
        << label << ", selection " << name;
  }
}

// An object of `count` members named from a small set, so that names recur
// at scattered places, with values of every kind.
std::string object_with_recurring_names(std::size_t count) {
  std::string text = "{";
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0) text += ", ";
    text += "\"m" + std::to_string(i * 7919 % (count / 3 + 1)) + "\": ";
    switch (i % 5) {
      case 0:
        text += std::to_string(i);
        break;
      case 1:
        text += "-" + std::to_string(i) + ".5e1";
        break;
      case 2:
        text += "{\"v\": [" + std::to_string(i) + R"(, null], "v": "later"})";
        break;
      case 3:
        text += "\"t\\u00e9xt " + std::to_string(i) + "\"";
        break;
      default:
        text += "[true, {}, []]";
    }
  }
  return text + "}";
}

TEST(JsonSelectiveLoad, MatchesThePlainParseOnShapedDocuments) {
  const std::string large = object_with_recurring_names(3000);
  const std::string cases[] = {
      R"({"a": 1, "b": 2, "a": 3})",
      R"({"genes": {"CPIC": {"X": {"geneSymbol": "X"}}, "CPIC": {"Y": 1}}, "drugs": {"d": [1, 2]}, "genes": null})",
      R"({"report": {"genes": {"A": 1}, "other": [1, 2], "genes": {"B": 2}}, "title": "t"})",
      R"({"report": [1, {"genes": {}}], "geneReports": "text", "genes": 7})",
      R"({"report": "text", "pharmcatVersion": 1.5, "dataVersion": null, "timestamp": false})",
      R"({"gene_details": {"CYP2D6": {"diplotypes": [{"hap1": "*1"}]}, "NAT2": null}, "pbstarphase_version": 3})",
      R"({"database_metadata": {"cpic_version": 1, "cpic_version": 2}, "pbstarphase_version": "1.0"})",
      R"({"n": [0, -0, 1, -1, 18446744073709551615, -9223372036854775808, 1.0, 1e2, -2.5E-3, 12345678901234567890]})",
      R"({"": {"": [""]}, "\u00e9\ud83d\ude00": "\u0000\n\"\\/"})",
      R"([{"genes": 1}, 2])",
      R"("text")",
      "17",
      "null",
      "{}",
      "[]",
      "  {\n\t\"a\" :\r\n [ ] }  ",
      "{\"genes\": " + large + ", \"drugs\": " + large + ", \"genes\": " + large + "}",
      "{\"gene_details\": " + std::string(999, '[') + std::string(999, ']') + "}",
  };
  for (const std::string& text : cases) expect_selections_match_plain_parse(text, text.substr(0, 60));
}

TEST(JsonSelectiveLoad, MatchesThePlainParseOnRealCallerOutputs) {
  const std::string dir = testing::realdata_dir();
  if (dir.empty()) GTEST_SKIP() << "real caller outputs are not available";
  std::size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(join_path(dir, "pharmcat"))) {
    if (entry.path().extension() != ".json") continue;
    expect_selections_match_plain_parse(read_file_bytes(entry.path().string()), entry.path().filename().string());
    ++files;
  }
  EXPECT_GE(files, 8U);
}

// What a selection that also opens other members, arrays and scalars must
// give: the plain full parse, each value built as the selection says.
JsonDict selected(const JsonDict& value, const JsonSelection& selection) {
  if (selection.keeps_whole()) return value;
  JsonDict out(JsonDict::value_t::discarded);
  if (value.is_object()) {
    out = JsonDict::object();
    for (const auto& [name, member] : value.items()) {
      const JsonSelection* kept = selection.member(name);
      out[name] = kept == nullptr ? JsonDict(JsonDict::value_t::discarded) : selected(member, *kept);
    }
  } else if (value.is_array() && selection.element() != nullptr) {
    out = JsonDict::array();
    for (const JsonDict& element : value) out.push_back(selected(element, *selection.element()));
  } else if (!value.is_structured() && selection.keeps_scalars()) {
    out = value;
  }
  return out;
}

TEST(JsonSelectiveLoad, OpensOtherMembersArraysAndScalarsWhereAsked) {
  JsonSelection report = JsonSelection::member_names().keep({"geneSymbol"}).keep({"sourceDiplotypes"});
  JsonSelection collection = report;
  collection.other_members(report).elements(report).scalars();
  JsonSelection container = JsonSelection::member_names();
  container.other_members(collection);
  JsonSelection listed = JsonSelection::member_names();
  listed.elements(report).scalars();
  const JsonSelection selections[] = {
      JsonSelection::member_names()
          .select({"genes"}, container)
          .select({"report", "genes"}, container)
          .select({"calls"}, listed),
      JsonSelection::member_names().other_members(JsonSelection::member_names().scalars()),
      JsonSelection::member_names().keep({"genes"}).select({"genes", "CPIC"}, listed),
  };
  std::vector<std::string> texts = {
      R"({"genes": {"A": {"geneSymbol": "A", "variants": [{"p": 1}], "sourceDiplotypes": [{"l": "x"}], "o": {"q": 1}},
          "CPIC": {"B": {"geneSymbol": [1], "v": 2}, "n": 3}, "DPWG": [{"geneSymbol": "C"}, 4, [5], null], "X": "t",
          "Y": 0, "A": {"later": true}}, "calls": [{"geneSymbol": "D", "x": [1]}, 2, {}], "drugs": {"d": [1]}})",
      R"({"report": {"genes": {"CPIC": []}, "x": 1}, "calls": {"a": [1]}, "genes": [1, {"geneSymbol": "E"}]})",
      R"({"calls": 0, "genes": "none", "s": -2.5e3, "t": null, "u": false, "v": "é"})",
      R"([{"genes": {}}, 1])",
      R"("text")",
  };
  if (const std::string dir = testing::realdata_dir(); !dir.empty()) {
    texts.push_back(read_file_bytes(join_path(join_path(dir, "pharmcat"), "pharmcat.example.v3.0.1.report.json")));
  }
  for (const std::string& text : texts) {
    const JsonDict plain = JsonDict::parse(text);
    for (std::size_t i = 0; i < std::size(selections); ++i) {
      EXPECT_TRUE(same_tree(selected(plain, selections[i]), parse_json_document(text, "in.json", selections[i])))
          << text.substr(0, 60) << ", selection " << i;
    }
  }
}

// The message and the nested parser error of a failed load.
struct Failure {
  std::string message;
  int cause_id = -1;
};

Failure failure_of(const std::string& text, const JsonSelection& selection) {
  Failure failure;
  try {
    (void)parse_json_document(text, "in.json", selection);
  } catch (const InvalidArgumentError& error) {
    failure.message = error.what();
    try {
      std::rethrow_if_nested(error);
    } catch (const JsonDict::exception& cause) {
      failure.cause_id = cause.id;
    }
  }
  return failure;
}

// The loader against the JSON library's own parser on every document of the
// fuzz regression corpus: the same tree for each selection, or the same
// error. The library reads integers beyond 64 bits as doubles and skips a
// byte-order mark, so documents with those are left to the tests of them.
TEST(JsonSelectiveLoad, MatchesThePlainParseOnTheFuzzCorpus) {
  std::size_t documents = 0;
  for (const auto& entry :
       std::filesystem::recursive_directory_iterator(std::string(CALLSET_SOURCE_DIR) + "/tests/fuzz-corpus")) {
    if (!entry.is_regular_file()) continue;
    const std::string text = read_file_bytes(entry.path().string());
    if (text.starts_with("\xEF\xBB\xBF")) continue;
    const std::string label = entry.path().filename().string();
    const auto long_digits =
        std::search_n(text.begin(), text.end(), 20, '0', [](char c, char) { return c >= '0' && c <= '9'; });
    if (long_digits != text.end()) continue;  // perhaps an integer beyond 64 bits
    try {
      const JsonDict plain = JsonDict::parse(text);
      expect_selections_match_plain_parse(text, label);
    } catch (const JsonDict::exception& error) {
      for (const auto& [name, selection] : reader_selections()) {
        EXPECT_EQ(failure_of(text, selection).message, std::string("in.json is not valid JSON: ") + error.what())
            << label << ", selection " << name;
      }
    }
    ++documents;
  }
  EXPECT_GE(documents, 50U);
}

// Single-byte changes anywhere in a document with every kind of token: the
// loader accepts exactly what the library's parser accepts, builds the same
// tree and gives the same error.
TEST(JsonSelectiveLoad, MutatedDocumentsMatchThePlainParse) {
  const std::string original =
      R"({"genes": {"CPIC": {"A": {"n": [0, -1, 2.5e-3, 1E2, true, false, null], "t": "x\"\\\/\b\f\n\r\t\u00e9\ud83d\ude00"}}},)"
      "\n \"drugs\": [{\"d\": \"\xC3\xA9\", \"e\": {}}, [], -0.0], \"title\": \"t\"}";
  const char replacements[] = {'"', '\\', '{', '}', '[', ']', ',', ':', ' ',
                               '0', '-',  '.', 'e', 'u', 'd', 'n', 'x', '\x01'};
  expect_selections_match_plain_parse(original, "unchanged");
  std::uint64_t state = 42;
  for (int round = 0; round < 600; ++round) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    std::string text = original;
    const std::size_t at = static_cast<std::size_t>(state >> 33) % text.size();
    text[at] = replacements[(state >> 20) % sizeof replacements];
    try {
      const JsonDict plain = JsonDict::parse(text);
      expect_selections_match_plain_parse(text, text);
    } catch (const JsonDict::exception& error) {
      EXPECT_EQ(failure_of(text, JsonSelection::member_names()).message,
                std::string("in.json is not valid JSON: ") + error.what())
          << text;
    }
  }
}

TEST(JsonSelectiveLoad, LeavesUnreadValuesDiscarded) {
  const JsonDict root =
      parse_json_document(R"({"drugs": {"x": [1]}, "genes": {"A": 1}})", "in.json", JsonSelection::member_names());
  ASSERT_TRUE(root.is_object());
  const JsonDict* drugs = find_member(root, "drugs");
  ASSERT_NE(drugs, nullptr);
  EXPECT_TRUE(drugs->is_discarded());
  EXPECT_TRUE(is_blank(*drugs));
  EXPECT_EQ(kind_name(*drugs), "NoneType");
  EXPECT_EQ(to_json_text(root, JsonStyle::Compact), R"({"drugs": null, "genes": null})");
}

std::string nesting_message(int line, int column) {
  return "in.json is not valid JSON: [json.exception.parse_error.101] parse error at line " + std::to_string(line) +
         ", column " + std::to_string(column) +
         ": syntax error while parsing value - nesting deeper than 1000 levels is not supported";
}

TEST(JsonSelectiveLoad, InvalidDocumentsFailAsThePlainParseDoes) {
  const std::string texts[] = {"",
                               "{",
                               "{\"a\": }",
                               "[1] x",
                               "[1e400]",
                               R"("\ud800")",
                               "{\"a\":1,}",
                               "nul",
                               "[\"\x01\"]",
                               "{\"a\" 1}",
                               "[1,,2]",
                               "{\"drugs\": [1, 2}",
                               R"({"genes": {"A": tru}})",
                               R"({"a": 1} {"b": 2})"};
  for (const std::string& text : texts) {
    Failure expected;
    try {
      const JsonDict parsed = JsonDict::parse(text);
      ADD_FAILURE() << "valid: " << text << " -> " << parsed.dump();
    } catch (const JsonDict::exception& error) {
      expected = {std::string("in.json is not valid JSON: ") + error.what(), error.id};
    }
    for (const auto& [name, selection] : reader_selections()) {
      const Failure actual = failure_of(text, selection);
      EXPECT_EQ(actual.message, expected.message) << text << ", selection " << name;
      EXPECT_EQ(actual.cause_id, expected.cause_id) << text << ", selection " << name;
    }
  }
}

TEST(JsonSelectiveLoad, NestingIsBoundedInsideUnreadValuesToo) {
  const std::string deep = std::string(1001, '[') + std::string(1001, ']');
  const std::pair<std::string, std::string> cases[] = {
      // The 1001st opening bracket, counted from the document's start.
      {"{\"drugs\": " + deep + "}", nesting_message(1, 1010)},
      {"{\"genes\": " + deep + "}", nesting_message(1, 1010)},
      {"{\n  \"a\": 1,\n  \"drugs\": " + deep + "}", nesting_message(3, 1011)},
      // Refused for its nesting even where the parser would stop earlier.
      {"[1 2, " + deep, nesting_message(1, 1006)},
      {"{\"drugs\": " + deep + "} trailing", nesting_message(1, 1010)},
      {"\xEF\xBB\xBF" + deep,
       "in.json is not valid JSON: [json.exception.parse_error.101] parse error at line 1, column 1: syntax error "
       "while parsing value - unexpected byte-order mark; expected '[', '{', or a literal"},
  };
  for (const auto& [text, message] : cases) {
    for (const auto& [name, selection] : reader_selections()) {
      const Failure failure = failure_of(text, selection);
      EXPECT_EQ(failure.message, message) << text.substr(0, 30) << ", selection " << name;
      EXPECT_EQ(failure.cause_id, 101) << name;
    }
  }
  // Brackets in text, also next to escaped quotes, do not count, and 1000
  // levels are allowed.
  const std::string allowed =
      R"({"drugs": ["\")" + std::string(2000, '[') + R"(\"", )" + std::string(998, '[') + std::string(998, ']') + "]}";
  for (const auto& [name, selection] : reader_selections()) {
    EXPECT_NO_THROW((void)parse_json_document(allowed, "in.json", selection)) << name;
  }
}

TEST(JsonSelectiveLoad, FilesKeepTheLoaderErrorKinds) {
  testing::TempDir dir;
  const std::string folder = dir.path().string();
  const std::string undecodable = dir.write("bad.json", "{\"drugs\": \"\xFF\"}");
  for (const auto& [name, named_selection] : reader_selections()) {
    const JsonSelection& selection = named_selection;  // a plain name the lambda below can capture
    EXPECT_THROW((void)load_json_file(dir.file("missing.json"), selection), FileNotFoundError) << name;
    // A directory is a file-system failure naming it, not a missing file.
    EXPECT_TRUE(testing::message_of<IoError>([&] {
                  (void)load_json_file(folder, selection);
                }).starts_with("Cannot read " + folder + ": "))
        << name;
    EXPECT_THROW((void)load_json_file(undecodable, selection), TextDecodeError) << name;
  }
  const JsonDict root = load_json_file(dir.write("ok.json", R"({"drugs": [1], "genes": {"A": 1}})"),
                                       JsonSelection::member_names().keep({"genes"}));
  EXPECT_EQ(to_json_text(root, JsonStyle::Compact), R"({"drugs": null, "genes": {"A": 1}})");
}

// What loading `path` gives the whole-text way: the bytes checked as UTF-8
// and then parsed. The result's compact text, or the error's kind and
// message.
std::string whole_text_load(const std::string& path, const JsonSelection& selection) {
  try {
    const std::string bytes = read_file_bytes(path);
    require_utf8(bytes, path);
    return "ok " + to_json_text(parse_json_document(bytes, path, selection), JsonStyle::Compact);
  } catch (const TextDecodeError& error) {
    return std::string("decode ") + error.what();
  } catch (const InvalidArgumentError& error) {
    return std::string("invalid ") + error.what();
  }
}

std::string file_load(const std::string& path, const JsonSelection& selection) {
  try {
    return "ok " + to_json_text(load_json_file(path, selection), JsonStyle::Compact);
  } catch (const TextDecodeError& error) {
    return std::string("decode ") + error.what();
  } catch (const InvalidArgumentError& error) {
    return std::string("invalid ") + error.what();
  }
}

// A document of several of the loader's blocks, with text outside ASCII.
std::string multi_block_document() {
  std::string text = "{\"title\": \"s\u00e9\", \"drugs\": [";
  for (int i = 0; i < 3000; ++i) {
    if (i > 0) text += ",\n";
    text += R"({"name": "drug )" + std::to_string(i) + " \xC2\xB5g \xE2\x89\xA5\", \"dose\": " + std::to_string(i) +
            ".5, \"ids\": [" + std::to_string(i) + ", -1, null, true]}";
  }
  return text + R"(], "genes": {"CPIC": {"A": {"geneSymbol": "A"}}}, "title": 2})";
}

TEST(JsonFileLoad, FilesLoadAsTheirWholeText) {
  testing::TempDir dir;
  const std::string large = multi_block_document();
  ASSERT_GT(large.size(), 3U * 65536U);
  const std::string deep = "{\"drugs\": " + std::string(1001, '[') + std::string(1001, ']') + "}";
  const std::string texts[] = {
      large,
      large.substr(0, large.size() - 1),                      // cut short
      large + " x",                                           // trailing text
      large.substr(0, 70000) + "\xFF" + large.substr(70001),  // undecodable byte past the first block
      "\xEF\xBB\xBF" + large,                                 // byte-order mark
      "\xEF\xBB\xBF{\"a\": \"\xFF\"}",                        // byte-order mark and an undecodable byte
      "{\"a\": }\xFF",                                        // a syntax error, then an undecodable byte
      "",
      "  \n",
      "\xEF",
      deep,
      deep + "\xC0",
      "[1, 2]",
      "\"text\"",
  };
  std::size_t index = 0;
  for (const std::string& text : texts) {
    const std::string path = dir.write("doc" + std::to_string(index++) + ".json", text);
    for (const auto& [name, selection] : reader_selections()) {
      EXPECT_EQ(file_load(path, selection), whole_text_load(path, selection))
          << "text " << index - 1 << ", selection " << name;
    }
  }
}

TEST(JsonFileLoad, MutatedFilesLoadAsTheirWholeText) {
  // Byte changes anywhere in a document of several blocks: every outcome,
  // success, syntax error or undecodable byte, is the whole-text load's.
  testing::TempDir dir;
  const std::string original = multi_block_document();
  const std::string path = dir.file("mutated.json");
  const JsonSelection selection =
      JsonSelection::member_names().keep({"geneReports"}).keep({"genes"}).keep({"report", "genes"});
  const char replacements[] = {'"', '\\', '{', '}', '[', ']', ',', ':', ' ', '0', 'e', '\x80', '\xC3', '\x01'};
  std::uint64_t state = 12345;
  for (int round = 0; round < 150; ++round) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    std::string text = original;
    const std::size_t at = static_cast<std::size_t>(state >> 33) % text.size();
    text[at] = replacements[(state >> 20) % sizeof replacements];
    dir.write("mutated.json", text);
    EXPECT_EQ(file_load(path, selection), whole_text_load(path, selection)) << "byte " << at;
  }
}

TEST(JsonFileLoad, APipeIsReadOnce) {
  testing::TempDir dir;
  const std::string path = dir.file("piped.json");
  ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
  std::thread writer([&] { std::ofstream(path) << R"({"drugs": [1], "genes": {"A": 1}})"; });
  const JsonDict root = load_json_file(path, JsonSelection::member_names().keep({"genes"}));
  writer.join();
  EXPECT_EQ(to_json_text(root, JsonStyle::Compact), R"({"drugs": null, "genes": {"A": 1}})");
}

TEST(JsonSelection, KeepMergesPaths) {
  JsonSelection selection = JsonSelection::member_names();
  selection.keep({"report", "genes"}).keep({"report"}).keep({"report", "other"});
  const JsonSelection* report = selection.member("report");
  ASSERT_NE(report, nullptr);
  EXPECT_TRUE(report->keeps_whole());
  EXPECT_EQ(selection.member("genes"), nullptr);
  EXPECT_TRUE(JsonSelection::member_names().keep({}).keeps_whole());
}

}  // namespace
}  // namespace callset_converter
