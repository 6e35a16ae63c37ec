#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "CallsetConverter/Models/CallerStatement.h"
#include "CallsetConverter/Models/JsonDict.h"
#include "CallsetConverter/Models/ReportRecord.h"
#include "CallsetConverter/Support/Files.h"

namespace callset_converter {

// Turns caller statements into report records. Every clinical term decision
// of the system is made here, driven by the three mapping tables loaded at
// construction: an unmapped term never reaches the report; it leaves an
// absent value, a warning on the record and an entry in unmapped_terms.
class TermHarmonizer {
 public:
  // The gene rules, phenotype terms and genotype terms; read-only.
  JsonDict rules;
  JsonDict phenotype_terms;
  JsonDict genotype_terms;
  // Every term that had no mapping during this object's life, as
  // "<gene>\t<term>". Never cleared.
  std::set<std::string> unmapped_terms;

  // Loads the three tables through load_mapping, in the order gene rules,
  // phenotype terms, genotype terms, each of at most `max_input_size` bytes;
  // a loading failure passes unchanged. Logs where the tables come from when
  // an override directory replaces the defaults.
  TermHarmonizer();
  explicit TermHarmonizer(std::uint64_t max_input_size);

  // {"gene_rules": version, "phenotype_terms": version, "genotype_terms":
  // version}, null where a table has none.
  JsonDict mapping_versions() const;

  // A new record for `call`: passthrough, else genotype-guided, else HLA,
  // else the default rule.
  ReportRecord normalize(const CallerStatement& call);

  // What joins an HLA gene's mapped findings into its one activity (the
  // gene rules' "hla_join_phenotypes_with").
  std::string hla_phenotype_separator() const;

  bool is_passthrough(const std::optional<std::string>& source) const;
  bool is_no_call(const std::optional<std::string>& value) const;

  // One WARNING record listing unmapped_terms, when there are any.
  void log_unmapped() const;

  // Steps of normalize, public for the host's diagnostics and tests.
  ReportRecord& _passthrough(const CallerStatement& call, ReportRecord& result) const;
  std::vector<std::string> _split(const std::string& diplotype) const;
  std::string _strip_suballele(const std::string& allele) const;
  std::optional<std::string> _star_allele(const CallerStatement& call, ReportRecord& result) const;
  std::optional<std::string> _map_phenotypes(const CallerStatement& call, ReportRecord& result, bool join_all = false);
  // The report term for `phenotype`, or nothing (a null mapping included).
  std::optional<std::string> _lookup_phenotype(const std::string& gene, const std::string& phenotype) const;
  bool _is_genotype_guided(const std::string& gene) const;
  bool _is_hla(const std::string& gene) const;
  std::optional<std::string> _genotype_guided_star_allele(const CallerStatement& call, ReportRecord& result);
  std::optional<std::string> _genotype_guided_activity(const std::string& gene, ReportRecord& result);
  std::optional<std::string> _hla_star_allele(const CallerStatement& call) const;

 private:
  // The text entries of the gene rules' lists, as sets: every gene of a run
  // is looked up in them.
  struct RuleSets {
    std::set<std::string, std::less<>> passthrough_sources;
    std::set<std::string, std::less<>> no_call_tokens;
    std::set<std::string, std::less<>> single_allele_genes;
    std::set<std::string, std::less<>> genotype_guided_genes;
    std::set<std::string, std::less<>> hla_genes;
  };
  static RuleSets _rule_sets(const JsonDict& rules);
  RuleSets rule_sets_;
};

}  // namespace callset_converter
