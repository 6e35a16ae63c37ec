#include "CallsetConverter/Parsers/ICallReader.h"

#include <gtest/gtest.h>

#include <exception>
#include <filesystem>
#include <string>

#include "CallsetConverter/Support/Errors.h"
#include "CallsetConverter/Support/Json.h"
#include "TestSupport.h"

namespace callset_converter {
namespace {

using testing::LogCapture;
using testing::TempDir;

// The smallest concrete reader: the base's behaviour, nothing else.
class PlainReader : public ICallReader {
 public:
  using ICallReader::ICallReader;
  std::vector<CallerStatement> parse() const override { return {}; }
};

using testing::message_of;

TEST(ReaderConstruction, RefusesAnAbsentOrEmptyPathBeforeLookingAtTheFileSystem) {
  for (const auto& build :
       {+[] { PlainReader reader(std::nullopt); }, +[] { PlainReader reader(""); },
        +[] { PlainReader reader{std::string()}; }, +[] { PlainReader reader(static_cast<const char*>(nullptr)); }}) {
    EXPECT_EQ(message_of<InvalidArgumentError>(build), "file_path cannot be empty");
  }
}

TEST(ReaderConstruction, RequiresAnExistingEntryOfAnyKind) {
  TempDir dir;
  const std::string missing = dir.file("no such.json");
  EXPECT_EQ(message_of<FileNotFoundError>([&] { PlainReader reader(missing); }), "File not found: " + missing);

  const std::string file = dir.write("a.json", "{}");
  // The text before a NUL character names another file, not this path.
  const std::string with_nul = file + std::string(1, '\0') + "x";
  EXPECT_THROW(PlainReader reader(with_nul), FileNotFoundError);
  const PlainReader reader(file);
  EXPECT_EQ(reader.file_path, file);
  // A directory is an existing entry: construction passes, loading fails.
  const PlainReader directory_reader(dir.path().string());
  EXPECT_THROW(directory_reader._load_json(), IoError);
}

TEST(ReaderConstruction, SourceNameIsUnknownForTheBase) {
  TempDir dir;
  EXPECT_STREQ(ICallReader::source_name, "unknown");
  EXPECT_EQ(PlainReader(dir.write("a.json", "{}")).reader_source_name(), "unknown");
}

TEST(LoadJson, ReturnsTheRootWhateverItsKind) {
  TempDir dir;
  EXPECT_EQ(PlainReader(dir.write("array.json", "[1, 2]"))._load_json(), JsonDict::parse("[1, 2]"));
  EXPECT_EQ(PlainReader(dir.write("number.json", " 7 \n"))._load_json(), JsonDict(7));
  const JsonDict numbers = PlainReader(dir.write("kinds.json", "[2, 2.0, 1e2]"))._load_json();
  EXPECT_EQ(kind_name(numbers[0]) + kind_name(numbers[1]) + kind_name(numbers[2]), "intfloatfloat");
}

TEST(LoadJson, AcceptsNestingUpToTheLimit) {
  TempDir dir;
  // Brackets inside strings are text, not nesting.
  const std::string deep = "{\"a\": " + std::string(999, '[') + "\"[[[{{{\"" + std::string(999, ']') + R"(, "b": "\")" +
                           std::string(2000, '[') + R"(", "c": 1})";
  const JsonDict root = PlainReader(dir.write("deep.json", deep))._load_json();
  EXPECT_EQ(root.size(), 3U);
}

TEST(LoadJson, DuplicateMemberKeepsTheLaterValueAtTheFirstPlace) {
  TempDir dir;
  const JsonDict root = PlainReader(dir.write("dup.json", R"({"a": 1, "b": 2, "a": 3})"))._load_json();
  EXPECT_EQ(to_string(root), R"({"a":3,"b":2})");
}

struct InvalidJsonCase {
  const char* name;
  std::string content;
};

class LoadJsonInvalid : public ::testing::TestWithParam<InvalidJsonCase> {};

TEST_P(LoadJsonInvalid, NamesThePathAndKeepsTheParserErrorAsCause) {
  TempDir dir;
  const std::string path = dir.write("input.json", GetParam().content);
  try {
    PlainReader(path)._load_json();
    FAIL() << "expected an error";
  } catch (const InvalidArgumentError& error) {
    EXPECT_EQ(dynamic_cast<const TextDecodeError*>(&error), nullptr);
    const std::string message = error.what();
    EXPECT_EQ(message.rfind(path + " is not valid JSON: ", 0), 0U) << message;
    // The parser states where the fault lies.
    EXPECT_NE(message.find("line "), std::string::npos) << message;
    try {
      std::rethrow_if_nested(error);
      FAIL() << "expected a nested cause";
    } catch (const JsonDict::parse_error&) {
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Contents, LoadJsonInvalid,
    ::testing::Values(InvalidJsonCase{"Empty", ""}, InvalidJsonCase{"Truncated", "{\"a\": ["},
                      InvalidJsonCase{"TrailingGarbage", "{} x"}, InvalidJsonCase{"ByteOrderMark", "\xEF\xBB\xBF{}"},
                      InvalidJsonCase{"NestedTooDeep", std::string(1001, '[') + std::string(1001, ']')}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LoadJson, UndecodableBytesRaiseTheDecodingErrorNotTheJsonOne) {
  TempDir dir;
  const std::string path = dir.write("latin1.json", "{\"gene\": \"caf\xE9\"}");
  try {
    PlainReader(path)._load_json();
    FAIL() << "expected an error";
  } catch (const TextDecodeError& error) {
    EXPECT_EQ(std::string(error.what()).find("is not valid JSON"), std::string::npos);
  }
}

TEST(LoadJson, FileRemovedAfterConstructionRaisesTheFileSystemError) {
  TempDir dir;
  const std::string path = dir.write("gone.json", "{}");
  const PlainReader reader(path);
  std::filesystem::remove(path);
  EXPECT_THROW(reader._load_json(), IoError);
}

TEST(LogSkip, WritesOneWarning) {
  LogCapture log;
  ICallReader::_log_skip("CYP2D6", "no diplotypes called");
  ASSERT_EQ(log.records.size(), 1U);
  EXPECT_EQ(log.records[0].level, LogLevel::WARNING);
  EXPECT_EQ(log.records[0].message, "Skipping CYP2D6: no diplotypes called");
}

}  // namespace
}  // namespace callset_converter
