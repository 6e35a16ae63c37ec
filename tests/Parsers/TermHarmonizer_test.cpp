#include "CallsetConverter/Parsers/TermHarmonizer.h"

#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "CallsetConverter/Mappings.h"
#include "CallsetConverter/Support/Errors.h"
#include "CallsetConverter/Support/Json.h"
#include "TestSupport.h"

namespace callset_converter {
namespace {

using Strings = std::vector<std::string>;
using Opt = std::optional<std::string>;
using testing::LogCapture;
using testing::TempDir;

struct Tables {
  std::string rules = "{}";
  std::string phenotypes = "{}";
  std::string genotypes = "{}";
};

// A normaliser over tables written to a directory of the test's own.
TermHarmonizer harmonizer(const Tables& tables) {
  TempDir dir;
  dir.write("gene_rules.json", tables.rules);
  dir.write("phenotype_terms.json", tables.phenotypes);
  dir.write("genotype_terms.json", tables.genotypes);
  set_mappings_dir(dir.path().string());
  struct Reset {
    ~Reset() { set_mappings_dir(std::nullopt); }
  } reset;
  return {};
}

CallerStatement statement(const std::string& gene, Opt diplotype, Strings phenotypes = {}, Opt source = "caller",
                          Opt phenotype_source = "CPIC") {
  return CallerStatement(gene, std::move(diplotype), {}, std::move(phenotypes), std::move(source),
                         std::move(phenotype_source));
}

const char* const RULES = R"({
  "passthrough_sources": ["pypgx", ""],
  "no_call_tokens": ["n/a", "Unknown/Unknown"],
  "strip_suballele_suffix": true,
  "single_allele_genes": ["MT-RNR1"],
  "genotype_guided_genes": ["DPYD"],
  "hla_genes": ["HLA-B", "DPYD"]
})";

const char* const PHENOTYPES = R"({
  "genes": {"CYP2D6": {"Normal Metabolizer": "NM for CYP2D6", "Poor Metabolizer": null}},
  "global": {"Normal Metabolizer": "Normal", "Poor Metabolizer": "Poor", "Intermediate Metabolizer": "Intermediate",
             "Indeterminate": ""}
})";

const char* const GENOTYPES = R"({
  "alleles": {"DPYD": {"Reference": "R", "c.1A>G": "A", "c.2del": null}},
  "diplotype_activity": {"DPYD": {"R/A": "Intermediate", "R/R": "Normal", "A/A": null}}
})";

TEST(TermHarmonizerTables, LoadsTheThreeTablesAndReportsTheirVersions) {
  auto normaliser = harmonizer({R"({"version": "1.0"})", R"({"version": 2})", "{}"});
  EXPECT_EQ(to_json_text(normaliser.mapping_versions(), JsonStyle::Compact),
            R"({"gene_rules": "1.0", "phenotype_terms": 2, "genotype_terms": null})");
  EXPECT_TRUE(normaliser.unmapped_terms.empty());
}

TEST(TermHarmonizerTables, MissingTableFailsConstruction) {
  TempDir dir;
  dir.write("gene_rules.json", "{}");
  dir.write("phenotype_terms.json", "{}");
  set_mappings_dir(dir.path().string());
  EXPECT_THROW(TermHarmonizer(), FileNotFoundError);
  set_mappings_dir(std::nullopt);
}

struct Case {
  std::string name;
  std::string gene;
  Opt diplotype;
  Strings phenotypes;
  Opt star_allele;
  Opt activity;
  Strings warnings;
  std::set<std::string> unmapped = {};
  Opt source = "caller";
  Opt phenotype_source = "CPIC";
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }
std::string case_name(const ::testing::TestParamInfo<Case>& info) { return info.param.name; }

class Normalize : public ::testing::TestWithParam<Case> {};

TEST_P(Normalize, GivesStarAlleleActivityWarningsAndUnmappedTerms) {
  const Case& c = GetParam();
  auto normaliser = harmonizer({RULES, PHENOTYPES, GENOTYPES});
  const ReportRecord record =
      normaliser.normalize(statement(c.gene, c.diplotype, c.phenotypes, c.source, c.phenotype_source));
  EXPECT_EQ(record.gene, c.gene);
  EXPECT_EQ(record.source, c.source);
  EXPECT_EQ(record.phenotype_source, c.phenotype_source);
  EXPECT_EQ(record.star_allele, c.star_allele);
  EXPECT_EQ(record.activity, c.activity);
  EXPECT_EQ(record.warnings, c.warnings);
  EXPECT_EQ(normaliser.unmapped_terms, c.unmapped);
}

const Strings NM = {"Normal Metabolizer"};

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    DefaultRule, Normalize,
    ::testing::Values(
        Case{"spaces_around_slash", "CYP2C9", "  *1 /  *4 ", NM, "*1/*4", "Normal", {}},
        Case{"doubled_slash", "CYP2C9", "*1//*4", NM, "*1/*4", "Normal", {}},
        Case{"three_alleles_in_caller_order", "CYP2C9", "*3/*1/*2", NM, "*3/*1/*2", "Normal", {}},
        Case{"bar_is_not_a_separator", "CYP2C9", "*1|*4", NM, "*1|*4", "Normal", {}},
        Case{"only_slashes", "CYP2C9", " / / ", NM, std::nullopt, "Normal", {"unparsable diplotype ' / / '"}},
        Case{"suballeles_stripped", "CYP2C9", "*2.001/*17.002", NM, "*2/*17", "Normal", {}},
        Case{"suballele_lookalikes_kept", "CYP2C9", "*2.001.1/*2a.001/2.001", NM, "*2.001.1/*2a.001/2.001", "Normal",
             {}},
        Case{"suballeles_stripped_in_combinations", "CYP2D6", "*68+*4.001/*4.001", NM, "*68+*4/*4", "NM for CYP2D6",
             {}},
        Case{"combination_lookalikes_kept", "CYP2D6", "*68+*4a.001+/*36x2+*10", NM, "*68+*4a.001+/*36x2+*10",
             "NM for CYP2D6", {}},
        Case{"no_call_token_trimmed", "CYP2C9", "  n/a ", NM, std::nullopt, "Normal", {"no diplotype called"}},
        Case{"no_call_token_case_sensitive", "CYP2C9", "N/A", NM, "N/A", "Normal", {}},
        Case{"absent_diplotype_then_no_phenotype", "CYP2C9", std::nullopt, {}, std::nullopt, std::nullopt,
             {"no diplotype called", "no phenotype from CPIC"}},
        Case{"single_allele_homozygous", "MT-RNR1", "*1/*1", NM, "*1", "Normal", {}},
        Case{"single_allele_conflict", "MT-RNR1", "*2 / *1", NM, "*2", "Normal",
             {"single-allele gene reported as a diplotype: '*2 / *1'"}}),
    case_name);

INSTANTIATE_TEST_SUITE_P(
    Phenotypes, Normalize,
    ::testing::Values(
        Case{"per_gene_wins", "CYP2D6", "*1/*1", NM, "*1/*1", "NM for CYP2D6", {}},
        Case{"global_fallback", "CYP2D6", "*1/*1", {"Intermediate Metabolizer"}, "*1/*1", "Intermediate", {}},
        Case{"per_gene_null_hides_global", "CYP2D6", "*1/*1", {"Poor Metabolizer"}, "*1/*1", std::nullopt,
             {"unmapped phenotype term 'Poor Metabolizer'"}, {"CYP2D6\tPoor Metabolizer"}},
        Case{"other_gene_uses_global", "CYP2C19", "*1/*1", {"Poor Metabolizer"}, "*1/*1", "Poor", {}},
        Case{"case_differs", "CYP2C19", "*1/*1", {"normal metabolizer"}, "*1/*1", std::nullopt,
             {"unmapped phenotype term 'normal metabolizer'"}, {"CYP2C19\tnormal metabolizer"}},
        Case{"kept_terms_not_trimmed", "CYP2C19", "*1/*1", {" Poor Metabolizer"}, "*1/*1", std::nullopt,
             {"unmapped phenotype term ' Poor Metabolizer'"}, {"CYP2C19\t Poor Metabolizer"}},
        Case{"empty_string_is_a_mapping", "CYP2C19", "*1/*1", {"Indeterminate"}, "*1/*1", "", {}},
        Case{"no_call_token_dropped", "CYP2C19", "*1/*1", {" n/a ", "Poor Metabolizer"}, "*1/*1", "Poor", {}},
        Case{"second_term_never_looked_up", "CYP2C19", "*1/*1", {"Poor Metabolizer", "Bogus"}, "*1/*1", "Poor",
             {"2 phenotypes reported; using the first"}},
        Case{"falls_back_to_source", "CYP2C19", "*1/*1", {}, "*1/*1", std::nullopt, {"no phenotype from pbstarphase"},
             {}, "pbstarphase", ""},
        Case{"absent_source_written_none", "CYP2C19", "*1/*1", {"n/a"}, "*1/*1", std::nullopt,
             {"no phenotype from None"}, {}, std::nullopt, std::nullopt},
        Case{"empty_source_written_empty", "CYP2C19", "*1/*1", {}, "*1/*1", std::nullopt, {"no phenotype from "}, {},
             "", std::nullopt}),
    case_name);

INSTANTIATE_TEST_SUITE_P(
    Passthrough, Normalize,
    ::testing::Values(
        Case{"values_untouched", "HLA-B", " *1.001 / n/a ", {"", "Bogus"}, " *1.001 / n/a ", "",
             {"2 phenotypes reported; using the first"}, {}, "pypgx"},
        Case{"no_phenotypes", "DPYD", std::nullopt, {}, std::nullopt, std::nullopt, {}, {}, "pypgx"},
        Case{"absent_source_is_not_passthrough", "CYP2C19", "*1/*1", {}, "*1/*1", std::nullopt,
             {"no phenotype from CPIC"}, {}, std::nullopt}),
    case_name);

// DPYD is listed both as genotype-guided and as HLA: the genotype-guided rule
// applies, and the caller's phenotypes play no part.
INSTANTIATE_TEST_SUITE_P(
    GenotypeGuided, Normalize,
    ::testing::Values(
        Case{"rewritten_and_mapped", "DPYD", " Reference / c.1A>G", {"Bogus"}, "R/A", "Intermediate", {}},
        Case{"other_order_is_another_key", "DPYD", "c.1A>G/Reference", {}, "A/R", std::nullopt,
             {"unmapped genotype-guided diplotype 'A/R'"}, {"DPYD\tA/R"}},
        Case{"known_without_term", "DPYD", "c.1A>G/c.1A>G", {}, "A/A", std::nullopt,
             {"genotype-guided diplotype 'A/A' has no Helvara term yet"}, {"DPYD\tA/A"}},
        Case{"unmapped_second_allele", "DPYD", "Reference/c.9T>C", {}, std::nullopt, std::nullopt,
             {"unmapped allele name 'c.9T>C'"}, {"DPYD\tc.9T>C"}},
        Case{"null_allele_stops_the_lookup", "DPYD", "c.2del/c.9T>C", {}, std::nullopt, std::nullopt,
             {"unmapped allele name 'c.2del'"}, {"DPYD\tc.2del"}},
        Case{"no_call", "DPYD", "Unknown/Unknown", NM, std::nullopt, std::nullopt, {"no diplotype called"}},
        Case{"no_pieces", "DPYD", " / ", {}, std::nullopt, std::nullopt, {}}),
    case_name);

INSTANTIATE_TEST_SUITE_P(
    Hla, Normalize,
    ::testing::Values(
        Case{"two_fields_by_default", "HLA-B", "*02:01:01:03/*03:01:01", {}, "*02:01/*03:01", std::nullopt,
             {"no phenotype from CPIC"}},
        Case{"fewer_fields_and_repeated_stars", "HLA-B", "*02/**57:01:01", {}, "*02/*57:01", std::nullopt,
             {"no phenotype from CPIC"}},
        Case{"gene_name_prefix_kept_whole", "HLA-B", "HLA-B*57:01:01/58:01:01", {}, "HLA-B*57:01:01/58:01:01",
             std::nullopt, {"no phenotype from CPIC"}},
        Case{"pbstarphase_json_without_star", "HLA-B", "01:01:01:01/26:01:01:01", {}, "*01:01/*26:01",
             std::nullopt, {"no phenotype from pbstarphase"}, {}, "pbstarphase", std::nullopt},
        Case{"all_terms_joined", "HLA-B", "*57:01", {"Normal Metabolizer", "Poor Metabolizer", "Normal Metabolizer"},
             "*57:01", "Normal; Poor; Normal", {}},
        Case{"only_mapped_terms_joined", "HLA-B", "*57:01", {"Bogus", "Poor Metabolizer"}, "*57:01", "Poor",
             {"unmapped phenotype term 'Bogus'"}, {"HLA-B\tBogus"}},
        Case{"no_call_still_maps_phenotypes", "HLA-B", "n/a", {"Normal Metabolizer", "Poor Metabolizer"},
             std::nullopt, "Normal; Poor", {}}),
    case_name);
// clang-format on

// hla_allele_fields and hla_join_phenotypes_with as the operator may write them.
struct HlaRuleCase {
  std::string rules;
  Opt star_allele;
  Opt activity;
};

class HlaRules : public ::testing::TestWithParam<HlaRuleCase> {};

TEST_P(HlaRules, ReadsFieldCountAndSeparator) {
  auto normaliser = harmonizer({GetParam().rules, PHENOTYPES, "{}"});
  const auto record =
      normaliser.normalize(statement("HLA-B", "*02:01:01:03/*57:01:01", {"Normal Metabolizer", "Poor Metabolizer"}));
  EXPECT_EQ(record.star_allele, GetParam().star_allele);
  EXPECT_EQ(record.activity, GetParam().activity);
}

INSTANTIATE_TEST_SUITE_P(
    Values, HlaRules,
    ::testing::Values(
        HlaRuleCase{R"({"hla_genes": ["HLA-B"], "hla_allele_fields": 3})", "*02:01:01/*57:01:01", "Normal; Poor"},
        HlaRuleCase{R"({"hla_genes": ["HLA-B"], "hla_allele_fields": " 3 "})", "*02:01:01/*57:01:01", "Normal; Poor"},
        HlaRuleCase{R"({"hla_genes": ["HLA-B"], "hla_allele_fields": 1.0})", "*02/*57", "Normal; Poor"},
        HlaRuleCase{R"({"hla_genes": ["HLA-B"], "hla_allele_fields": 0})", "*02:01/*57:01", "Normal; Poor"},
        HlaRuleCase{R"({"hla_genes": ["HLA-B"], "hla_allele_fields": ""})", "*02:01/*57:01", "Normal; Poor"},
        HlaRuleCase{R"({"hla_genes": ["HLA-B"], "hla_join_phenotypes_with": " | "})", "*02:01/*57:01",
                    "Normal | Poor"}));

TEST(TermHarmonizerHla, FieldCountThatIsNotAPositiveIntegerIsAConfigurationError) {
  for (const std::string value : {R"("3a")", "-1", "2.5", "true", R"("0")", "[2]"}) {
    SCOPED_TRACE(value);
    auto normaliser = harmonizer(
        {R"({"hla_genes": ["HLA-B"], "no_call_tokens": ["n/a"], "hla_allele_fields": )" + value + "}", "{}", "{}"});
    EXPECT_THROW(normaliser.normalize(statement("HLA-B", "*57:01:01")), InvalidArgumentError);
    // A no-call never reaches the field count.
    EXPECT_EQ(normaliser.normalize(statement("HLA-B", "n/a")).star_allele, std::nullopt);
  }
  auto normaliser = harmonizer({R"({"hla_genes": ["HLA-B"], "hla_allele_fields": "3a"})", "{}", "{}"});
  try {
    normaliser.normalize(statement("HLA-B", "*57:01:01"));
    FAIL() << "no error";
  } catch (const InvalidArgumentError& error) {
    EXPECT_STREQ(error.what(), "gene_rules: hla_allele_fields must be a positive integer or the text of one, not '3a'");
  }
}

TEST(TermHarmonizerTables, TablesWithoutTheirSectionsMapNothing) {
  auto normaliser = harmonizer(
      {R"({"genotype_guided_genes": ["DPYD"]})", R"({"CYP2C19": {"Bogus": "x"}})", R"({"DPYD": {"Reference": "R"}})"});
  auto record = normaliser.normalize(statement("CYP2C19", "*1/*2", {"Bogus"}));
  EXPECT_EQ(record.activity, std::nullopt);
  record = normaliser.normalize(statement("DPYD", "Reference/Reference"));
  EXPECT_EQ(record.warnings, Strings{"unmapped allele name 'Reference'"});
  EXPECT_EQ(normaliser.unmapped_terms, (std::set<std::string>{"CYP2C19\tBogus", "DPYD\tReference"}));
}

TEST(TermHarmonizerTables, NonTextTermIsAConfigurationError) {
  auto normaliser = harmonizer({"{}", R"({"global": {"Normal Metabolizer": 1}})", "{}"});
  EXPECT_THROW(normaliser.normalize(statement("CYP2C19", "*1/*1", NM)), InvalidArgumentError);
}

TEST(TermHarmonizerUnmapped, CollectsOnceAndLogsSortedInOneRecord) {
  auto normaliser = harmonizer({RULES, PHENOTYPES, GENOTYPES});
  {
    LogCapture capture;
    normaliser.log_unmapped();
    EXPECT_TRUE(capture.records.empty());
  }
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(normaliser.normalize(statement("cyp2c19", "*1/*1", {"Bogus"})).warnings,
              Strings{"unmapped phenotype term 'Bogus'"});
  }
  normaliser.normalize(statement("CYP2D6", "*1/*1", {"Poor Metabolizer"}));
  normaliser.normalize(statement("CYP2D6", "*1/*1", {"Bogus"}));
  LogCapture capture;
  normaliser.log_unmapped();
  normaliser.log_unmapped();
  const std::string expected =
      "3 term(s) have no Helvara mapping yet:\n  CYP2D6\tBogus\n  CYP2D6\tPoor Metabolizer\n  cyp2c19\tBogus";
  EXPECT_EQ(capture.warnings(), (Strings{expected, expected}));
  EXPECT_EQ(capture.records.size(), 2U);
}

}  // namespace
}  // namespace callset_converter
