#include "CallsetConverter/Parsers/StellarPgxReader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "CallerFormats.h"
#include "CallsetConverter/Support/Errors.h"
#include "CallsetConverter/Support/Text.h"
#include "TestSupport.h"

namespace callset_converter {
namespace {

using testing::TempDir;

// "gene:diplotype|phenotypes|activity|warnings", or the error.
std::string outcome(const std::string& path, const std::optional<std::string>& sample = std::nullopt) {
  try {
    const std::vector<CallerStatement> statements = StellarPgxReader(path, sample).parse();
    if (statements.size() != 1) return "statements: " + std::to_string(statements.size());
    const CallerStatement& s = statements.front();
    EXPECT_EQ(s.source, "stellarpgx");
    return s.gene + ":" + s.diplotype.value_or("-") + "|" + join(s.phenotypes, ";") + "|" +
           s.activity_score.value_or("") + "|" + join(s.warnings, "; ");
  } catch (const std::exception& error) {
    const std::string message = error.what();
    return "error:" + message.substr(message.find(": ") + 2);
  }
}

struct StellarCase {
  const char* name;
  std::string text;
  const char* expected;
};

void PrintTo(const StellarCase& c, std::ostream* out) { *out << c.name; }

class StellarRules : public ::testing::TestWithParam<StellarCase> {};

TEST_P(StellarRules, ReadsTheResultSection) {
  TempDir dir;
  EXPECT_EQ(outcome(dir.write("S1_cyp2d6.alleles", GetParam().text)), GetParam().expected);
}

std::string result(const std::string& value, const std::string& status = "Intermediate metaboliser (IM)") {
  return testing::stellarpgx_result("S1", "CYP2D6", value, status);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, StellarRules,
    ::testing::Values(
        StellarCase{"call", result("*1/*4"), "CYP2D6:*1/*4|Intermediate metaboliser (IM)|1.0|"},
        StellarCase{"note_is_a_warning", result("*1/*2x2\tDuplication present", "Normal metaboliser (NM)"),
                    "CYP2D6:*1/*2x2|Normal metaboliser (NM)|1.0|Duplication present"},
        StellarCase{"alternatives", result("*1/*41 or *119/*2"),
                    "CYP2D6:-|||ambiguous: 2 possible diplotypes: *1/*41, *119/*2; metaboliser status of an "
                    "ambiguous call not used: Intermediate metaboliser (IM)"},
        StellarCase{"sentence", result("Possible novel allele or suballele present: interpret with caution", ""),
                    "CYP2D6:-|||Possible novel allele or suballele present: interpret with caution"},
        StellarCase{"hybrid_sentence", result("Possible rare CYP2D6/2D7 hybrid present", "Indeterminate"),
                    "CYP2D6:-|||Possible rare CYP2D6/2D7 hybrid present"},
        StellarCase{"crashed_run",
                    "CYP2D6 Star Allele Calling with StellarPGx\n\nCore variants:\n1~C>G~0/1\n\nResult:\n\n",
                    "CYP2D6:-|||no result in the file"},
        StellarCase{"no_banner", "Result:\n*1/*4\n",
                    "error:not a StellarPGx result - expected a line \"<GENE> Star Allele Calling with StellarPGx\" "
                    "at the top"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(StellarPgxSample, TheFileNameMustNameTheChosenSample) {
  TempDir dir;
  const std::string path =
      dir.write(testing::stellarpgx_file_name("S1", "cyp2d6"), result("*1/*4", "Normal metaboliser (NM)"));
  EXPECT_EQ(outcome(path, "S1"), "CYP2D6:*1/*4|Normal metaboliser (NM)|1.0|");
  EXPECT_EQ(outcome(path, "S"),
            "error:the file name is another sample's than 'S' - StellarPGx names its results <sample>_<gene>.alleles");
}

TEST(StellarPgxRealData, TheDocumentedExampleReads) {
  const std::string path = std::string(CALLSET_REALDATA_DIR) + "/stellarpgx/SIM001_cyp2d6.alleles";
  if (!std::filesystem::exists(path)) GTEST_SKIP() << "no real caller outputs";
  EXPECT_EQ(outcome(path, "SIM001"), "CYP2D6:*17/*29|Intermediate metaboliser (IM)|1.0|");
}

}  // namespace
}  // namespace callset_converter
