#include "CallsetConverter/Mappings.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "CallsetConverter/HelvaraPgxConstants.h"
#include "CallsetConverter/Support/Errors.h"
#include "TestSupport.h"

namespace callset_converter {
namespace {

namespace C = HelvaraPgxConstants;

// Clears every override before and after each test.
class MappingsTest : public ::testing::Test {
 protected:
  void SetUp() override { reset(); }
  void TearDown() override { reset(); }
  static void reset() {
    set_mappings_dir(std::nullopt);
    ::unsetenv(MAPPINGS_DIR_VARIABLE);
  }
};

// The message of the `Error` that loading `identifier` raises.
template <typename Error>
std::string load_error(const std::string& identifier) {
  return testing::message_of<Error>([&] { (void)load_mapping(identifier); });
}

TEST_F(MappingsTest, EmbeddedTablesAreObjects) {
  for (const char* id : {C::MAPPING_GENE_RULES, C::MAPPING_PHENOTYPE_TERMS, C::MAPPING_GENOTYPE_TERMS}) {
    EXPECT_TRUE(load_mapping(id).is_object()) << id;
  }
  EXPECT_THROW((void)load_mapping("no_such_table"), FileNotFoundError);
}

TEST_F(MappingsTest, OverrideDirectoryReplacesEveryTable) {
  testing::TempDir dir;
  dir.write("gene_rules.json", R"({"version": "site-1", "b": 1, "a": 2})");
  set_mappings_dir(dir.path().string());
  const auto rules = load_mapping(C::MAPPING_GENE_RULES);
  EXPECT_EQ(rules["version"], "site-1");
  EXPECT_EQ(rules.begin().key(), "version");  // member order as written
  // A table missing from the override directory is an error, not the default.
  EXPECT_EQ(load_error<FileNotFoundError>(C::MAPPING_PHENOTYPE_TERMS),
            "File not found: " + dir.file("phenotype_terms.json"));
}

TEST_F(MappingsTest, EnvironmentVariableSetsTheDirectoryUnlessTheHostDoes) {
  testing::TempDir from_env;
  testing::TempDir from_host;
  from_env.write("gene_rules.json", R"({"version": "env"})");
  from_host.write("gene_rules.json", R"({"version": "host"})");
  ::setenv(MAPPINGS_DIR_VARIABLE, from_env.path().c_str(), 1);
  EXPECT_EQ(load_mapping(C::MAPPING_GENE_RULES)["version"], "env");
  set_mappings_dir(from_host.path().string());
  EXPECT_EQ(load_mapping(C::MAPPING_GENE_RULES)["version"], "host");
}

TEST_F(MappingsTest, MalformedTablesNameTheirPath) {
  testing::TempDir dir;
  set_mappings_dir(dir.path().string());
  const std::string rules = dir.write("gene_rules.json", "{\"version\": ");
  EXPECT_TRUE(load_error<InvalidArgumentError>(C::MAPPING_GENE_RULES)
                  .starts_with(rules + " is not valid JSON: [json.exception.parse_error"));
  dir.write("gene_rules.json", "[1, 2]");
  EXPECT_EQ(load_error<InvalidArgumentError>(C::MAPPING_GENE_RULES),
            rules + ": a mapping table must be a JSON object, not list");
}

}  // namespace
}  // namespace callset_converter
