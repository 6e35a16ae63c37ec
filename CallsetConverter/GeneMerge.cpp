#include "CallsetConverter/GeneMerge.h"

#include <algorithm>
#include <map>
#include <utility>

#include "CallsetConverter/HelvaraPgxConstants.h"
#include "CallsetConverter/Support/Log.h"
#include "CallsetConverter/Support/Text.h"

namespace callset_converter {

namespace C = HelvaraPgxConstants;

namespace {

// How a statement is named in a record's warnings: its phenotype source
// when it has one, else its caller.
std::string label(const CallerStatement& call) {
  if (call.phenotype_source && !call.phenotype_source->empty()) return *call.phenotype_source;
  return text_or_none(call.source);
}

bool is_no_call(const ReportRecord& record) { return !record.star_allele && !record.activity; }

bool from_starphase(const CallerStatement& call) { return call.source && *call.source == C::CALLER_PBSTARPHASE; }

}  // namespace

GeneMerge::GeneMerge(TermHarmonizer& normalizer, GeneMergeRules rules)
    : normalizer_(normalizer), rules_(std::move(rules)) {}

std::vector<ReportRecord> GeneMerge::merge(const std::vector<CallerStatement>& calls) {
  // std::map orders gene names by unsigned bytes: code-point order.
  std::map<std::string, std::vector<Candidate>> groups;
  for (const auto& call : calls) {
    if (!rules_.gene_filter.empty() && !rules_.gene_filter.contains(call.gene)) continue;
    groups[call.gene].push_back(Candidate{&call, std::nullopt, {}});
  }

  std::vector<ReportRecord> results;
  std::vector<std::string> dropped;
  for (auto& [gene, group] : groups) {
    order(group);
    if (auto record = merge_gene(gene, group, dropped)) results.push_back(std::move(*record));
  }
  if (!dropped.empty()) {
    log_warning("%d gene(s) called only by pbStarPhase are not reported: %s", dropped.size(), join(dropped, ", "));
  }
  return results;
}

std::optional<ReportRecord> GeneMerge::merge_gene(const std::string& gene, std::vector<Candidate>& ordered,
                                                  std::vector<std::string>& dropped) {
  // PharmCAT's calls without a guideline annotation do not decide whether a
  // gene came from pbStarPhase alone: that rule is about PharmCAT's guideline
  // genes.
  bool counted = false;
  bool only_from_starphase = true;
  for (const auto& candidate : ordered) {
    if (candidate.statement->unannotated) continue;
    counted = true;
    only_from_starphase = only_from_starphase && from_starphase(*candidate.statement);
  }
  only_from_starphase = counted && only_from_starphase;
  if (only_from_starphase && (!rules_.recover_dropped_genes || !rules_.recoverable.contains(gene))) {
    dropped.push_back(gene);
    return std::nullopt;
  }

  // A no-call never beats a call: the first statement that called something
  // takes the place of a first statement that called nothing.
  std::size_t winner = 0;
  const bool first_is_no_call = is_no_call(look_at(ordered.front()));
  keep_terms(ordered.front());
  if (first_is_no_call) {
    for (std::size_t i = 1; i < ordered.size(); ++i) {
      if (!is_no_call(look_at(ordered[i]))) {
        winner = i;
        break;
      }
    }
  }
  const CallerStatement& chosen = *ordered[winner].statement;
  ReportRecord best = *ordered[winner].record;
  if (winner != 0) {
    keep_terms(ordered[winner]);
    best.add_warning("no call from " + label(*ordered.front().statement) + "; taken from " + label(chosen));
  }
  if (chosen.unannotated) best.add_warning("no guideline annotation from PharmCAT");

  // The activity may come only from the same call: the same caller (another
  // of its phenotype sources) or a statement with the same star allele.
  if (!best.activity && rules_.allow_fallback) {
    for (std::size_t i = winner + 1; i < ordered.size(); ++i) {
      const ReportRecord& other = look_at(ordered[i]);
      keep_terms(ordered[i]);
      const CallerStatement& candidate = *ordered[i].statement;
      const bool same_call =
          candidate.source == chosen.source || (other.star_allele && other.star_allele == best.star_allele);
      if (!other.activity || !same_call) continue;
      best.activity = other.activity;
      best.phenotype_source = candidate.phenotype_source;
      best.add_warning("no usable phenotype from " + label(chosen) + "; taken from " + label(candidate));
      break;
    }
  }

  for (std::size_t i = 0; i < ordered.size(); ++i) {
    const CallerStatement& other_call = *ordered[i].statement;
    if (i == winner || other_call.source == chosen.source) continue;
    const ReportRecord& other = look_at(ordered[i]);
    if (other.star_allele && other.star_allele != best.star_allele) {
      best.add_warning("discordant call from " + text_or_none(other_call.source) + ": " + *other.star_allele);
    }
  }

  if (is_no_call(best)) log_warning("%s produced neither diplotype nor phenotype", gene);
  if (only_from_starphase) best.add_warning("recovered from pbStarPhase; PharmCAT reported no guideline");
  return best;
}

void GeneMerge::order(std::vector<Candidate>& candidates) const {
  std::stable_sort(candidates.begin(), candidates.end(), [&](const Candidate& a, const Candidate& b) {
    const int rank_a = rank(*a.statement);
    const int rank_b = rank(*b.statement);
    if (rank_a != rank_b) return rank_a > rank_b;
    return preference_position(a.statement->phenotype_source) < preference_position(b.statement->phenotype_source);
  });
}

const ReportRecord& GeneMerge::look_at(Candidate& candidate) {
  if (!candidate.record) {
    // The normaliser notes every unmapped term it meets; a statement that is
    // only looked at must not leave them, so its own are set aside.
    std::set<std::string> noted;
    noted.swap(normalizer_.unmapped_terms);
    candidate.record = normalizer_.normalize(*candidate.statement);
    noted.swap(normalizer_.unmapped_terms);
    candidate.unmapped_terms.assign(noted.begin(), noted.end());
  }
  return *candidate.record;
}

void GeneMerge::keep_terms(const Candidate& candidate) {
  normalizer_.unmapped_terms.insert(candidate.unmapped_terms.begin(), candidate.unmapped_terms.end());
}

int GeneMerge::rank(const CallerStatement& call) const {
  // Below every caller, the uploaded table included.
  if (call.unannotated) return -1;
  if (!call.source) return 0;
  const auto found = CALLER_RANK.find(*call.source);
  return found == CALLER_RANK.end() ? 0 : found->second;
}

std::size_t GeneMerge::preference_position(const std::optional<std::string>& source) const {
  if (!source) return rules_.preference.size();
  const auto found = std::find(rules_.preference.begin(), rules_.preference.end(), *source);
  return static_cast<std::size_t>(found - rules_.preference.begin());
}

}  // namespace callset_converter
