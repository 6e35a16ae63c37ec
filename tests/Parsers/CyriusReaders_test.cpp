#include "CallsetConverter/Parsers/CyriusReaders.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "CallerFormats.h"
#include "CallsetConverter/Support/Errors.h"
#include "CallsetConverter/Support/Files.h"
#include "CallsetConverter/Support/Text.h"
#include "TestSupport.h"

namespace callset_converter {
namespace {

using testing::message_of;
using testing::TempDir;

// "diplotype|phenotypes|activity|warnings" of a CYP2D6 statement, or the
// error's message.
template <typename Reader>
std::string outcome(const std::string& path, const std::optional<std::string>& sample) {
  try {
    const std::vector<CallerStatement> statements = Reader(path, sample).parse();
    if (statements.size() != 1) return "statements: " + std::to_string(statements.size());
    const CallerStatement& s = statements.front();
    EXPECT_EQ(s.gene, "CYP2D6");
    EXPECT_EQ(s.source, "cyrius");
    return s.diplotype.value_or("-") + "|" + join(s.phenotypes, ";") + "|" + s.activity_score.value_or("") + "|" +
           join(s.warnings, "; ");
  } catch (const std::exception& error) {
    const std::string message = error.what();
    return "error:" + message.substr(message.find(": ") + 2);
  }
}

struct CyriusCase {
  const char* name;
  const char* rows;  // after the header; "Sample\tGenotype\tFilter" unless `header`
  const char* sample;
  const char* expected;
  const char* header = "Sample\tGenotype\tFilter";
};

void PrintTo(const CyriusCase& c, std::ostream* out) { *out << c.name; }

class CyriusTable : public ::testing::TestWithParam<CyriusCase> {};

TEST_P(CyriusTable, ReadsTheFilterAndGenotypeAsCyriusMeansThem) {
  const CyriusCase& c = GetParam();
  TempDir dir;
  const std::string path = dir.write("cyrius.tsv", std::string(c.header) + "\n" + c.rows);
  const std::optional<std::string> sample = *c.sample ? std::optional<std::string>(c.sample) : std::nullopt;
  EXPECT_EQ(outcome<CyriusTsvReader>(path, sample), c.expected);
}

constexpr const char* kBcyrius = "Sample\tGenotype\tFilter\tActivity score\tPredicted phenotype";

INSTANTIATE_TEST_SUITE_P(
    Rules, CyriusTable,
    ::testing::Values(
        CyriusCase{"pass", "S1\t*2x2/*4.013+*4\tPASS\n", "", "*2x2/*4.013+*4|||"},
        CyriusCase{"low_quality", "S1\t*1/*36+*10\tLowQ_high_CN\n", "",
                   "*1/*36+*10|||low quality call from Cyrius: LowQ_high_CN"},
        CyriusCase{"several_genotypes", "S1\t*1/*46;*43/*45;*1/*46\tMore_than_one_possible_genotype\n", "",
                   "-|||ambiguous: 2 possible diplotypes: *1/*46, *43/*45"},
        CyriusCase{"not_assigned", "S1\t*1_*2_*68\tNot_assigned_to_haplotypes\n", "",
                   "-|||alleles not assigned to haplotypes: *1_*2_*68"},
        CyriusCase{"none", "S1\tNone\tNone\n", "", "-|||no call from Cyrius: Genotype None, Filter None"},
        CyriusCase{"other_filter", "S1\t*1/*1\tLowQ_cov\n", "", "*1/*1|||Cyrius filter: LowQ_cov"},
        CyriusCase{"chosen_sample_among_many", "S1\t*1/*4\tPASS\nS2\t*1/*5\tPASS\n", "S2", "*1/*5|||"},
        CyriusCase{"several_samples_need_a_choice", "S1\t*1/*4\tPASS\nS2\t*1/*5\tPASS\n", "",
                   "error:the table holds 2 sample(s): 'S1', 'S2'; choose one with --sample"},
        CyriusCase{"absent_sample", "S1\t*1/*4\tPASS\n", "S9",
                   "error:no row for sample 'S9'; the table holds 1 sample(s): 'S1'"},
        CyriusCase{"sample_twice", "S1\t*1/*4\tPASS\nS1\t*1/*5\tPASS\n", "S1",
                   "error:sample 'S1' has more than one row for CYP2D6"},
        CyriusCase{"bcyrius_phenotype", "S1\t*1/*4\tPASS\t1.0\tIntermediate Metabolizer\n\nGene\tX\nS9\ty\n", "",
                   "*1/*4|Intermediate Metabolizer|1.0|", kBcyrius},
        CyriusCase{"bcyrius_none", "S1\t*1/*4\tPASS\t-\t-\n", "", "*1/*4|||", kBcyrius},
        CyriusCase{"bcyrius_old_names", "S1\t*1/*1\tPASS\t2.0\tNormal Metabolizer\n", "",
                   "*1/*1|Normal Metabolizer|2.0|", "Sample\tGenotype\tFilter\tActivityScore\tPredictedPhenotype"},
        CyriusCase{"bcyrius_shared_phenotype",
                   "S1\t*1/*4;*4/*10\tMore_than_one_possible_genotype\t1.0;1.25\tIntermediate Metabolizer;"
                   "Intermediate Metabolizer\n",
                   "", "-|Intermediate Metabolizer||ambiguous: 2 possible diplotypes: *1/*4, *4/*10", kBcyrius},
        CyriusCase{"bcyrius_differing_phenotypes",
                   "S1\t*1/*4;*4/*4\tMore_than_one_possible_genotype\t1.0;0.0\tIntermediate Metabolizer;Poor "
                   "Metabolizer\n",
                   "", "-|||ambiguous: 2 possible diplotypes: *1/*4, *4/*4", kBcyrius},
        CyriusCase{"not_cyrius", "S1\t*1/*4\n", "",
                   "error:not a Cyrius table - expected a header row starting Sample, "
                   "Genotype, Filter",
                   "Sample\tGenotype"}),
    [](const auto& info) { return std::string(info.param.name); });

struct CyriusJsonCase {
  const char* name;
  const char* json;
  const char* sample;
  const char* expected;
};

void PrintTo(const CyriusJsonCase& c, std::ostream* out) { *out << c.name; }

class CyriusJson : public ::testing::TestWithParam<CyriusJsonCase> {};

TEST_P(CyriusJson, ReadsEachSampleByTheTableRules) {
  const CyriusJsonCase& c = GetParam();
  TempDir dir;
  const std::string path = dir.write("cyrius.json", c.json);
  const std::optional<std::string> sample = *c.sample ? std::optional<std::string>(c.sample) : std::nullopt;
  EXPECT_EQ(outcome<CyriusJsonReader>(path, sample), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, CyriusJson,
    ::testing::Values(
        CyriusJsonCase{"call",
                       R"({"NA1": {"Coverage_MAD": 0.1, "Total_CN": 3, "CNV_group": "star68", "Genotype": "*4/*68+*4",
                           "Filter": "PASS", "Raw_star_allele": ["*4_*4_*68"], "Call_info": "unique_match"}})",
                       "", "*4/*68+*4|||"},
        CyriusJsonCase{"null_no_call", R"({"NA1": {"Genotype": null, "Filter": null, "CNV_group": null}})", "",
                       "-|||no call from Cyrius: Genotype null, Filter null"},
        CyriusJsonCase{"chosen", R"({"A": {"Genotype": "*1/*2", "Filter": "PASS"},
                                     "B": {"Genotype": "*1/*46;*43/*45", "Filter": "More_than_one_possible_genotype"}})",
                       "B", "-|||ambiguous: 2 possible diplotypes: *1/*46, *43/*45"},
        CyriusJsonCase{"unchosen", R"({"A": {"Genotype": "*1/*2", "Filter": "PASS"}, "B": {"Genotype": null,
                                     "Filter": null}})",
                       "", "error:the table holds 2 sample(s): 'A', 'B'; choose one with --sample"},
        CyriusJsonCase{"genotype_not_text", R"({"A": {"Genotype": ["*1/*2"], "Filter": "PASS"}})", "",
                       "error:\"Genotype\" of sample 'A' is list, expected text or null"},
        CyriusJsonCase{"not_keyed_by_sample", R"([1])", "",
                       "error:not a Cyrius result - expected a JSON object keyed by sample id"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CyriusRealData, EveryFilterOfARealRunReadsAsItsRuleSays) {
  const std::string path = std::string(CALLSET_REALDATA_DIR) + "/cyrius/cyrius.v1.1.1.1kGP-cut.tsv";
  if (!std::filesystem::exists(path)) GTEST_SKIP() << "no real caller outputs";
  const std::vector<std::pair<const char*, const char*>> expected = {
      {"HG00096", "*1/*4|||"},
      {"HG00125", "*4/*68+*4|||"},
      {"HG00149", "*2x2/*4.013+*4|||"},
      {"HG00232", "-|||no call from Cyrius: Genotype None, Filter None"},
      {"HG02630", "-|||ambiguous: 2 possible diplotypes: *1/*46, *43/*45"},
      {"HG02778", "-|||alleles not assigned to haplotypes: *1_*2_*68"},
  };
  for (const auto& [sample, summary] : expected) {
    EXPECT_EQ(outcome<CyriusTsvReader>(path, std::string(sample)), summary) << sample;
  }
  EXPECT_TRUE(outcome<CyriusTsvReader>(path, std::nullopt).starts_with("error:the table holds 48 sample(s)"));
}

TEST(CyriusWriter, TheTestWriterIsReadBack) {
  TempDir dir;
  const std::string path = dir.write("c.tsv", testing::cyrius_tsv("S", "CYP2D6", "*1/*4", "Intermediate Metabolizer"));
  EXPECT_EQ(outcome<CyriusTsvReader>(path, std::nullopt), "*1/*4|Intermediate Metabolizer||");
}

}  // namespace
}  // namespace callset_converter
