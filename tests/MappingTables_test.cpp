// Checks the mapping tables shipped in mappings/ (as embedded in the library)
// against what the normaliser reads from them, against the vocabulary of real
// PharmCAT outputs, and against the bundled example sample in examples/.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "CallsetConverter/HelvaraPgxConstants.h"
#include "CallsetConverter/Mappings.h"
#include "CallsetConverter/Parsers/FormatDispatcher.h"
#include "CallsetConverter/Parsers/TermHarmonizer.h"
#include "CallsetConverter/Support/Json.h"
#include "CallsetConverter/Support/Text.h"
#include "TestSupport.h"

namespace callset_converter {
namespace {

namespace C = HelvaraPgxConstants;

// Caller terms that have no report term yet, on purpose: they reach the
// report as an absent activity with an "unmapped phenotype term" warning and
// show in the sidecar. Each must stay unmapped until a report term is known;
// mapping one means removing it here.
const std::set<std::pair<std::string, std::string>> KNOWN_GAPS = {
    {"CFTR", "ivacaftor responsive in CF patients"},
    {"CFTR", "ivacaftor non-responsive in CF patients"},
    {"DPYD", "0.5 (Phenotyping)"},
    {"F5", "Factor V Leiden absent"},
    {"DPYD", "1.0 (Phenotyping)"},
    {"VKORC1", "-1639 AA"},
    {"VKORC1", "-1639 AG"},
    {"VKORC1", "-1639 GG"},
};

// Genes of the example sample for which no caller gives a phenotype and no
// genotype table exists: reported with a star allele and no activity.
const std::set<std::string> EXAMPLE_GENES_WITHOUT_ACTIVITY = {"CYP2C8"};

// Loads the embedded tables: no override directory from the host or the
// environment.
class MappingTablesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    set_mappings_dir(std::nullopt);
    ::unsetenv(MAPPINGS_DIR_VARIABLE);
  }
  void TearDown() override { set_mappings_dir(std::nullopt); }
};

enum class Kind { Text, TextList, Flag, PositiveInteger };

bool has_kind(const JsonDict& value, Kind kind) {
  switch (kind) {
    case Kind::Text:
      return value.is_string() && !value.get<std::string>().empty();
    case Kind::TextList:
      if (!value.is_array()) return false;
      for (const auto& item : value) {
        if (!item.is_string() || item.get<std::string>().empty()) return false;
      }
      return true;
    case Kind::Flag:
      return value.is_boolean();
    case Kind::PositiveInteger:
      return value.is_number_integer() && value.get<long long>() > 0;
  }
  return false;
}

std::vector<std::string> texts(const JsonDict& list) {
  std::vector<std::string> out;
  for (const auto& item : list) out.push_back(item.get<std::string>());
  return out;
}

// An object whose members are objects mapping text to text or null.
void expect_term_mapping(const JsonDict& mapping, const std::string& where) {
  ASSERT_TRUE(mapping.is_object()) << where;
  for (const auto& [key, value] : mapping.items()) {
    EXPECT_FALSE(key.empty()) << where;
    EXPECT_TRUE(value.is_string() || value.is_null()) << where << " / " << key << " is " << kind_name(value);
  }
}

void expect_per_gene_mappings(const JsonDict& table, const std::string& member) {
  const JsonDict* genes = find_member(table, member);
  ASSERT_NE(genes, nullptr) << member;
  ASSERT_TRUE(genes->is_object()) << member;
  for (const auto& [gene, mapping] : genes->items()) expect_term_mapping(mapping, testing::concat(member, " / ", gene));
}

TEST_F(MappingTablesTest, GeneRulesHaveTheShapeTheNormaliserAndMergeRead) {
  const JsonDict rules = load_mapping(C::MAPPING_GENE_RULES);
  const std::vector<std::pair<std::string, Kind>> members = {
      {"version", Kind::Text},
      {"passthrough_sources", Kind::TextList},
      {"no_call_tokens", Kind::TextList},
      {"phenotype_source_preference", Kind::TextList},
      {"allow_source_fallback", Kind::Flag},
      {"recoverable_genes", Kind::TextList},
      {"strip_suballele_suffix", Kind::Flag},
      {"single_allele_genes", Kind::TextList},
      {"genotype_guided_genes", Kind::TextList},
      {"hla_genes", Kind::TextList},
      {"hla_allele_fields", Kind::PositiveInteger},
      {"hla_join_phenotypes_with", Kind::Text},
  };
  for (const auto& [member, kind] : members) {
    const JsonDict* value = find_member(rules, member);
    ASSERT_NE(value, nullptr) << member;
    EXPECT_TRUE(has_kind(*value, kind)) << member << " is " << kind_name(*value);
  }
  // Passthrough sources are caller identifiers, compared exactly.
  EXPECT_EQ(texts(rules["passthrough_sources"]), std::vector<std::string>{C::CALLER_PYPGX});
  // The command line names CPIC as the default phenotype source.
  EXPECT_EQ(texts(rules["phenotype_source_preference"]), (std::vector<std::string>{"CPIC", "DPWG"}));
  // A gene in both lists would silently lose its HLA handling.
  const auto hla = texts(rules["hla_genes"]);
  for (const auto& gene : texts(rules["genotype_guided_genes"])) {
    EXPECT_EQ(std::find(hla.begin(), hla.end(), gene), hla.end()) << gene;
  }
}

TEST_F(MappingTablesTest, TermTablesHaveTheShapeTheNormaliserReads) {
  const JsonDict phenotypes = load_mapping(C::MAPPING_PHENOTYPE_TERMS);
  EXPECT_TRUE(has_kind(phenotypes["version"], Kind::Text));
  expect_per_gene_mappings(phenotypes, "genes");
  expect_term_mapping(phenotypes["global"], "global");

  const JsonDict genotypes = load_mapping(C::MAPPING_GENOTYPE_TERMS);
  EXPECT_TRUE(has_kind(genotypes["version"], Kind::Text));
  expect_per_gene_mappings(genotypes, "alleles");
  expect_per_gene_mappings(genotypes, "diplotype_activity");
}

// Caller values are trimmed before they are compared with the tokens, and a
// phenotype equal to a token is dropped before any mapping: a token with
// surrounding spaces never matches, and a token that is also a caller term
// would silently discard that term.
TEST_F(MappingTablesTest, NoCallTokensAreNeverTermsOrAlleles) {
  const TermHarmonizer harmonizer;
  std::set<std::string> vocabulary;
  for (const auto& [term, report] : harmonizer.phenotype_terms["global"].items()) {
    vocabulary.insert(term);
    if (report.is_string()) vocabulary.insert(report.get<std::string>());
  }
  for (const auto& [gene, mapping] : harmonizer.phenotype_terms["genes"].items()) {
    for (const auto& [term, report] : mapping.items()) {
      vocabulary.insert(term);
      if (report.is_string()) vocabulary.insert(report.get<std::string>());
    }
  }
  for (const auto& [gene, mapping] : harmonizer.genotype_terms["alleles"].items()) {
    for (const auto& [name, report] : mapping.items()) vocabulary.insert(name);
  }
  for (const auto& token : texts(harmonizer.rules["no_call_tokens"])) {
    EXPECT_EQ(trim(token), token) << quoted_literal(token);
    EXPECT_FALSE(vocabulary.count(token)) << quoted_literal(token) << " is a term as well as a no-call token";
  }
}

// Aldy's and StellarPGx's phenotype words map, gene by gene, to the CPIC
// term of that gene; a word CPIC does not use for a gene stays unmapped.
TEST_F(MappingTablesTest, SpecialistPhenotypeWordsMapToTheGenesCpicTerms) {
  TermHarmonizer harmonizer;
  struct Word {
    const char* gene;
    const char* word;
    std::optional<std::string> term;
  };
  for (const Word& w :
       {Word{"CYP2D6", "intermediate", "Intermediate Metabolizer"},
        Word{"CYP2D6", "ultrarapid", "Ultrarapid Metabolizer"}, Word{"CYP2D6", "indeterminate", "Indeterminate"},
        Word{"CYP2D6", "rapid", std::nullopt}, Word{"CYP2C19", "rapid", "Rapid Metabolizer"},
        Word{"CYP2C9", "ultrarapid", std::nullopt}, Word{"SLCO1B1", "normal", std::nullopt},
        Word{"CYP2D6", "Poor metaboliser (PM)", "Poor Metabolizer"},
        Word{"CYP2D6", "Ultrarapid metaboliser (UM)", "Ultrarapid Metabolizer"},
        Word{"CYP2D6", "Indeterminate", "Indeterminate"}}) {
    EXPECT_EQ(harmonizer._lookup_phenotype(w.gene, w.word), w.term) << w.gene << " " << w.word;
  }
}

// Keys are matched exactly and in the caller's allele order: every pair of
// report allele names must be listed in both orders, and each activity must
// be a term of the report vocabulary.
TEST_F(MappingTablesTest, GenotypeGuidedGenesCoverEveryPairInBothOrders) {
  const TermHarmonizer harmonizer;
  std::set<std::string> report_terms;
  for (const auto& [term, report] : harmonizer.phenotype_terms["global"].items()) {
    if (report.is_string()) report_terms.insert(report.get<std::string>());
  }
  const auto guided = texts(harmonizer.rules["genotype_guided_genes"]);
  ASSERT_FALSE(guided.empty());
  for (const auto& gene : guided) {
    SCOPED_TRACE(gene);
    const JsonDict* alleles = find_member(harmonizer.genotype_terms["alleles"], gene);
    const JsonDict* activity = find_member(harmonizer.genotype_terms["diplotype_activity"], gene);
    ASSERT_FALSE(is_blank(alleles));
    ASSERT_FALSE(is_blank(activity));
    std::set<std::string> names;
    for (const auto& [caller_name, report_name] : alleles->items()) {
      ASSERT_TRUE(report_name.is_string()) << caller_name;
      names.insert(report_name.get<std::string>());
    }
    for (const auto& first : names) {
      for (const auto& second : names) {
        const std::string key = testing::concat(first, "/", second);
        const JsonDict* term = find_member(*activity, key);
        ASSERT_NE(term, nullptr) << key << " is missing";
        ASSERT_TRUE(term->is_string()) << key;
        EXPECT_TRUE(report_terms.count(term->get<std::string>())) << key << " -> " << term->get<std::string>();
      }
    }
    // Nothing else: every key is made of report allele names.
    EXPECT_EQ(activity->size(), names.size() * names.size());
  }
}

TEST_F(MappingTablesTest, HlaTermsAreKeptAsWritten) {
  const TermHarmonizer harmonizer;
  // "*NN:NN positive" or "*NN:NN negative".
  const auto is_hla_term = [](const std::string& term) {
    const auto digit = [&](std::size_t i) { return term[i] >= '0' && term[i] <= '9'; };
    return term.size() > 7 && term[0] == '*' && digit(1) && digit(2) && term[3] == ':' && digit(4) && digit(5) &&
           (term.substr(6) == " positive" || term.substr(6) == " negative");
  };
  for (const auto& gene : texts(harmonizer.rules["hla_genes"])) {
    const JsonDict* mapping = find_member(harmonizer.phenotype_terms["genes"], gene);
    ASSERT_FALSE(is_blank(mapping)) << gene;
    for (const auto& [term, report] : mapping->items()) {
      EXPECT_TRUE(is_hla_term(term)) << gene << " " << term;
      EXPECT_EQ(report, term) << gene;
    }
  }
}

TEST_F(MappingTablesTest, KnownGapsAreStillGaps) {
  const TermHarmonizer harmonizer;
  for (const auto& [gene, term] : KNOWN_GAPS) {
    EXPECT_FALSE(harmonizer.is_no_call(term)) << gene << " " << term;
    EXPECT_EQ(harmonizer._lookup_phenotype(gene, term), std::nullopt)
        << gene << " " << term << " is mapped now; remove it from the known gaps";
  }
}

// One source diplotype of a real PharmCAT gene report.
struct RealCall {
  std::string file;
  std::string gene;
  std::optional<std::string> label;
  std::vector<std::string> phenotypes;
};

void collect_report(const JsonDict& report, const std::string& file, std::vector<RealCall>& calls) {
  const JsonDict* gene = find_member(report, "geneSymbol");
  const JsonDict* diplotypes = find_member(report, "sourceDiplotypes");
  if (gene == nullptr || !gene->is_string() || diplotypes == nullptr || !diplotypes->is_array()) return;
  for (const auto& diplotype : *diplotypes) {
    RealCall call{file, gene->get<std::string>(), std::nullopt, {}};
    if (const JsonDict* label = find_member(diplotype, "label"); label != nullptr && label->is_string()) {
      call.label = label->get<std::string>();
    }
    if (const JsonDict* phenotypes = find_member(diplotype, "phenotypes"); phenotypes != nullptr) {
      for (const auto& phenotype : *phenotypes) {
        if (phenotype.is_string() && !phenotype.get<std::string>().empty()) {
          call.phenotypes.push_back(phenotype.get<std::string>());
        }
      }
    }
    calls.push_back(std::move(call));
  }
}

// Every source diplotype of every PharmCAT output in the real-data folder, in
// every layout: gene reports keyed by gene, or by source and then gene (as an
// object or an array), under "geneReports" or "genes".
std::vector<RealCall> real_pharmcat_calls(const std::string& folder) {
  std::vector<RealCall> calls;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (entry.path().extension() != ".json") continue;
    const std::string file = entry.path().filename().string();
    const JsonDict root = load_json_file(entry.path().string());
    for (const char* key : {"geneReports", "genes"}) {
      const JsonDict* container = find_member(root, key);
      if (container == nullptr || !container->is_object()) continue;
      for (const auto& [name, value] : container->items()) {
        if (find_member(value, "geneSymbol") != nullptr) {
          collect_report(value, file, calls);
        } else if (value.is_object() || value.is_array()) {
          for (const auto& report : value) collect_report(report, file, calls);
        }
      }
    }
  }
  return calls;
}

TEST_F(MappingTablesTest, EveryRealPharmcatPhenotypeMapsOrIsAKnownGap) {
  const std::string realdata = testing::realdata_dir();
  if (realdata.empty()) GTEST_SKIP() << "no real caller outputs";
  const TermHarmonizer harmonizer;
  const auto calls = real_pharmcat_calls(realdata + "/pharmcat");
  std::set<std::string> genes_seen;
  std::size_t terms_checked = 0;
  for (const auto& call : calls) {
    genes_seen.insert(call.gene);
    for (const auto& term : call.phenotypes) {
      ++terms_checked;
      if (harmonizer.is_no_call(term) || harmonizer._lookup_phenotype(call.gene, term)) continue;
      EXPECT_TRUE(KNOWN_GAPS.count({call.gene, term}))
          << call.file << ": " << call.gene << " " << quoted_literal(term) << " neither maps nor is a known gap";
    }
  }
  // The walk found the gene reports of every layout.
  EXPECT_GT(terms_checked, 100U);
  for (const char* gene : {"CYP2C19", "CYP2D6", "DPYD", "G6PD", "HLA-B", "MT-RNR1", "NAT2"}) {
    EXPECT_TRUE(genes_seen.count(gene)) << gene;
  }
}

// Where PharmCAT itself gives a phenotype for a genotype-guided gene, the
// activity taken from its diplotype must say the same.
TEST_F(MappingTablesTest, GenotypeGuidedActivityAgreesWithRealPharmcatPhenotypes) {
  const std::string realdata = testing::realdata_dir();
  if (realdata.empty()) GTEST_SKIP() << "no real caller outputs";
  TermHarmonizer harmonizer;
  std::size_t compared = 0;
  for (const auto& call : real_pharmcat_calls(realdata + "/pharmcat")) {
    if (!harmonizer._is_genotype_guided(call.gene) || call.phenotypes.empty()) continue;
    const auto expected = harmonizer._lookup_phenotype(call.gene, call.phenotypes.front());
    if (!expected) continue;
    const ReportRecord record =
        harmonizer.normalize(CallerStatement(call.gene, call.label, {}, call.phenotypes, C::CALLER_PHARMCAT_REPORT));
    EXPECT_EQ(record.activity, expected) << call.file << ": " << call.gene << " " << text_or_none(call.label);
    ++compared;
  }
  EXPECT_GT(compared, 0U);
}

// The bundled sample is one person seen by every caller: after
// normalisation each gene has one star allele, and the callers that give an
// activity give the same one, with no term left unmapped.
TEST_F(MappingTablesTest, ExampleSampleIsConsistentAcrossCallers) {
  const std::string examples = std::string(CALLSET_SOURCE_DIR) + "/examples";
  TermHarmonizer harmonizer;
  std::map<std::string, std::vector<ReportRecord>> by_gene;
  std::set<std::string> sources;
  for (const auto& entry : std::filesystem::directory_iterator(examples)) {
    const std::string suffix = to_lower(entry.path().extension().string());
    if (suffix != ".json" && suffix != ".csv" && suffix != ".tsv") continue;
    const auto reader = FormatDispatcher::get_parser(entry.path().string());
    sources.insert(reader->reader_source_name());
    for (const auto& statement : reader->parse()) by_gene[statement.gene].push_back(harmonizer.normalize(statement));
  }
  EXPECT_EQ(sources, (std::set<std::string>{C::CALLER_PHARMCAT_REPORT, C::CALLER_PBSTARPHASE, C::CALLER_PYPGX,
                                            C::CALLER_DIPLOTYPE_TABLE}));
  for (const char* gene : {"NAT2", "CYP2C8"}) EXPECT_TRUE(by_gene.count(gene)) << gene;
  for (const auto& [gene, records] : by_gene) {
    SCOPED_TRACE(gene);
    std::set<std::string> star_alleles;
    std::set<std::string> activities;
    for (const auto& record : records) {
      ASSERT_TRUE(record.star_allele) << record.repr();
      star_alleles.insert(*record.star_allele);
      if (record.activity) activities.insert(*record.activity);
    }
    EXPECT_EQ(star_alleles.size(), 1U) << join({star_alleles.begin(), star_alleles.end()}, ", ");
    EXPECT_EQ(activities.size(), EXAMPLE_GENES_WITHOUT_ACTIVITY.contains(gene) ? 0U : 1U)
        << join({activities.begin(), activities.end()}, ", ");
  }
  EXPECT_TRUE(harmonizer.unmapped_terms.empty())
      << join({harmonizer.unmapped_terms.begin(), harmonizer.unmapped_terms.end()}, ", ");
}

}  // namespace
}  // namespace callset_converter
