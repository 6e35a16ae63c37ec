#include "CallsetConverter/Parsers/ICallReader.h"

#include <gtest/gtest.h>

#include <string>

#include "CallsetConverter/Support/Errors.h"
#include "CallsetConverter/Support/Json.h"
#include "TestSupport.h"

namespace callset_converter {
namespace {

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
  EXPECT_EQ(PlainReader(file).reader_source_name(), "unknown");
  // A directory is an existing entry: construction passes, loading fails.
  const PlainReader directory_reader(dir.path().string());
  EXPECT_THROW(directory_reader._load_json(), IoError);
}

// The shared JSON loader reads the reader's file; its own rules are tested
// with the loader.
TEST(LoadJson, ReadsTheReadersFileWithTheSharedLoader) {
  TempDir dir;
  EXPECT_EQ(to_string(PlainReader(dir.write("array.json", "[2, 2.0]"))._load_json()), "[2,2.0]");
  const std::string invalid = dir.write("invalid.json", "{} x");
  EXPECT_TRUE(message_of<InvalidArgumentError>([&] {
                PlainReader(invalid)._load_json();
              }).starts_with(invalid + " is not valid JSON: "));
  EXPECT_THROW(PlainReader(dir.write("latin1.json", "{\"gene\": \"caf\xE9\"}"))._load_json(), TextDecodeError);
}

}  // namespace
}  // namespace callset_converter
