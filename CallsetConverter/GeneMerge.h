#pragma once

#include <cstddef>
#include <map>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "CallsetConverter/HelvaraPgxConstants.h"
#include "CallsetConverter/Models/CallerStatement.h"
#include "CallsetConverter/Models/ReportRecord.h"
#include "CallsetConverter/OutputGuard.h"
#include "CallsetConverter/Parsers/TermHarmonizer.h"

namespace callset_converter {

// What decides one run's per-gene merge; fixed for the run.
struct GeneMergeRules {
  // PharmCAT phenotype sources in order of preference.
  std::vector<std::string> preference;
  // Whether a winner without a usable phenotype may take one from a further
  // statement of the same call.
  bool allow_fallback = false;
  // Genes that may be reported from pbStarPhase alone, and whether they are.
  std::set<std::string> recoverable;
  bool recover_dropped_genes = true;
  // When not empty, the only genes merged (exact comparison).
  std::set<std::string> gene_filter;
  // Input files whose identity is already known (see file_identity).
  const KnownFiles* known_files = nullptr;
};

// Whether two normalised star alleles name one diplotype: as the unordered
// pair of their two haplotypes when each holds exactly one "/" (*4/*1 is
// *1/*4), else as text. A haplotype's own text is compared exactly.
bool same_diplotype(std::string_view first, std::string_view second);

// Collapses the statements of a run into one report record per gene.
//
// A statement's caller is its input file: two paths of one file are one
// caller, and a statement without a file is its format label's. Statements
// of a gene are ordered by caller rank, then by phenotype-source preference.
// The first one wins unless it is a no-call and a further statement has a
// call; a winner without an activity may borrow one only from a statement of
// the same call (the same caller, or the same diplotype); statements of
// other callers that called another diplotype are named on the record.
//
// Every statement is normalised at most once. Only the winner and the
// statements considered for its activity leave their unmapped terms in the
// normaliser's record; the others are looked at without a trace.
class GeneMerge {
 public:
  // Caller identifier to merge rank; a higher rank wins. Any other caller,
  // or none, ranks 0.
  inline static const std::map<std::string, int, std::less<>> CALLER_RANK = {
      {HelvaraPgxConstants::CALLER_PHARMCAT_REPORT, 3}, {HelvaraPgxConstants::CALLER_PHARMCAT_PHENOTYPE, 2},
      {HelvaraPgxConstants::CALLER_PBSTARPHASE, 1},     {HelvaraPgxConstants::CALLER_PYPGX, 1},
      {HelvaraPgxConstants::CALLER_CYRIUS, 1},          {HelvaraPgxConstants::CALLER_ALDY, 1},
      {HelvaraPgxConstants::CALLER_STELLARPGX, 1},      {HelvaraPgxConstants::CALLER_DIPLOTYPE_TABLE, 0},
  };

  GeneMerge(TermHarmonizer& normalizer, GeneMergeRules rules);

  // One record per surviving gene, in ascending gene-name order (code-point
  // order). Genes called only by pbStarPhase that may not be recovered are
  // left out and named in one WARNING at the end.
  std::vector<ReportRecord> merge(const std::vector<CallerStatement>& calls);

 private:
  // A statement and, once looked at, its record and the unmapped terms its
  // normalisation found.
  struct Candidate {
    const CallerStatement* statement;
    std::size_t caller;
    std::optional<ReportRecord> record;
    std::vector<std::string> unmapped_terms;
  };

  // Numbers the callers of `calls`, one number per input file (by file
  // identity) or, for a statement without a file, per format label.
  std::vector<std::size_t> number_callers(const std::vector<CallerStatement>& calls) const;
  std::optional<ReportRecord> merge_gene(const std::string& gene, std::span<Candidate> ordered,
                                         std::vector<std::string>& dropped);
  void order(std::span<Candidate> candidates) const;
  // The candidate's record, normalised on first use without leaving its
  // unmapped terms behind.
  const ReportRecord& look_at(Candidate& candidate);
  // Leaves the candidate's unmapped terms in the normaliser's record.
  void keep_terms(const Candidate& candidate);
  int rank(const CallerStatement& call) const;
  std::size_t preference_position(const std::optional<std::string>& source) const;

  TermHarmonizer& normalizer_;
  GeneMergeRules rules_;
};

}  // namespace callset_converter
