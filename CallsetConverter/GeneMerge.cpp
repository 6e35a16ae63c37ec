#include "CallsetConverter/GeneMerge.h"

#include <algorithm>
#include <map>
#include <utility>

#include "CallsetConverter/HelvaraPgxConstants.h"
#include "CallsetConverter/OutputGuard.h"
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

bool same_star_allele(const std::optional<std::string>& first, const std::optional<std::string>& second) {
  return first && second && same_diplotype(*first, *second);
}

}  // namespace

bool same_diplotype(std::string_view first, std::string_view second) {
  if (first == second) return true;
  const std::size_t first_slash = first.find('/');
  const std::size_t second_slash = second.find('/');
  if (first_slash == std::string_view::npos || first.find('/', first_slash + 1) != std::string_view::npos ||
      second_slash == std::string_view::npos || second.find('/', second_slash + 1) != std::string_view::npos) {
    return false;
  }
  return first.substr(0, first_slash) == second.substr(second_slash + 1) &&
         first.substr(first_slash + 1) == second.substr(0, second_slash);
}

GeneMerge::GeneMerge(TermHarmonizer& normalizer, GeneMergeRules rules)
    : normalizer_(normalizer), rules_(std::move(rules)) {}

std::vector<ReportRecord> GeneMerge::merge(const std::vector<CallerStatement>& calls) {
  // One list, grouped by gene in code-point order (std::string compares
  // unsigned bytes), each gene's statements in the order given.
  // The statements are put in that order first, so that no candidate is
  // moved once made.
  std::vector<std::size_t> by_gene;
  by_gene.reserve(calls.size());
  for (std::size_t i = 0; i < calls.size(); ++i) {
    if (rules_.gene_filter.empty() || rules_.gene_filter.contains(calls[i].gene)) by_gene.push_back(i);
  }
  std::stable_sort(by_gene.begin(), by_gene.end(),
                   [&](std::size_t a, std::size_t b) { return calls[a].gene < calls[b].gene; });
  const std::vector<std::size_t> callers = number_callers(calls);
  std::vector<Candidate> candidates;
  candidates.reserve(by_gene.size());
  for (const std::size_t i : by_gene) candidates.push_back(Candidate{&calls[i], callers[i], std::nullopt, {}});

  std::vector<ReportRecord> results;
  results.reserve(candidates.size());
  std::vector<std::string> dropped;
  for (auto from = candidates.begin(); from != candidates.end();) {
    const std::string& gene = from->statement->gene;
    const auto to = std::find_if(from, candidates.end(), [&](const Candidate& c) { return c.statement->gene != gene; });
    const std::span<Candidate> group(from, to);
    order(group);
    if (auto record = merge_gene(gene, group, dropped)) results.push_back(std::move(*record));
    from = to;
  }
  if (!dropped.empty()) {
    log_warning("%d gene(s) called only by pbStarPhase are not reported: %s", dropped.size(), join(dropped, ", "));
  }
  return results;
}

std::vector<std::size_t> GeneMerge::number_callers(const std::vector<CallerStatement>& calls) const {
  // A run names a few dozen files at most: looked up in order, each path
  // and each identity once.
  std::vector<std::pair<std::string_view, std::size_t>> by_path;
  std::vector<std::pair<FileIdentity, std::size_t>> identities;
  std::map<std::optional<std::string>, std::size_t> by_label;
  std::size_t count = 0;
  std::vector<std::size_t> callers;
  callers.reserve(calls.size());
  for (const auto& call : calls) {
    if (!call.input_file) {
      const auto [place, added] = by_label.try_emplace(call.source, count);
      if (added) ++count;
      callers.push_back(place->second);
      continue;
    }
    const std::string_view path = *call.input_file;
    auto known = std::find_if(by_path.begin(), by_path.end(), [&](const auto& entry) { return entry.first == path; });
    if (known == by_path.end()) {
      FileIdentity identity = file_identity(*call.input_file, rules_.known_files);
      auto same = std::find_if(identities.begin(), identities.end(),
                               [&](const auto& entry) { return entry.first == identity; });
      if (same == identities.end()) same = identities.insert(same, {std::move(identity), count++});
      by_path.emplace_back(path, same->second);
      known = by_path.end() - 1;
    }
    callers.push_back(known->second);
  }
  return callers;
}

std::optional<ReportRecord> GeneMerge::merge_gene(const std::string& gene, std::span<Candidate> ordered,
                                                  std::vector<std::string>& dropped) {
  // Any other caller's statement, a PharmCAT call without a guideline
  // annotation or a no-call included, means the gene is not pbStarPhase's
  // alone.
  const bool only_from_starphase = std::all_of(
      ordered.begin(), ordered.end(), [](const Candidate& candidate) { return from_starphase(*candidate.statement); });
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
  const std::size_t chosen_caller = ordered[winner].caller;
  // The winner's own record is not looked at again.
  ReportRecord best = std::move(*ordered[winner].record);
  if (winner != 0) {
    keep_terms(ordered[winner]);
    best.add_warning("no call from " + label(*ordered.front().statement) + "; taken from " + label(chosen));
  }
  if (chosen.unannotated) best.add_warning("no guideline annotation from PharmCAT");

  // The activity may come only from the same call: the same caller (another
  // of its phenotype sources) or a statement with the same diplotype.
  if (!best.activity && rules_.allow_fallback) {
    for (std::size_t i = winner + 1; i < ordered.size(); ++i) {
      const ReportRecord& other = look_at(ordered[i]);
      keep_terms(ordered[i]);
      const CallerStatement& candidate = *ordered[i].statement;
      const bool same_call =
          ordered[i].caller == chosen_caller || same_star_allele(other.star_allele, best.star_allele);
      if (!other.activity || !same_call) continue;
      best.activity = other.activity;
      best.phenotype_source = candidate.phenotype_source;
      best.add_warning("no usable phenotype from " + label(chosen) + "; taken from " + label(candidate));
      break;
    }
  }

  // One warning per format label and diplotype: the first spelling of a
  // diplotype stands for the others.
  std::vector<std::pair<std::optional<std::string>, std::string>> named;
  for (std::size_t i = 0; i < ordered.size(); ++i) {
    const CallerStatement& other_call = *ordered[i].statement;
    if (i == winner || ordered[i].caller == chosen_caller) continue;
    const ReportRecord& other = look_at(ordered[i]);
    if (!other.star_allele || same_star_allele(other.star_allele, best.star_allele)) continue;
    const bool already_named = std::any_of(named.begin(), named.end(), [&](const auto& earlier) {
      return earlier.first == other_call.source && same_diplotype(earlier.second, *other.star_allele);
    });
    if (already_named) continue;
    named.emplace_back(other_call.source, *other.star_allele);
    best.add_warning("discordant call from " + text_or_none(other_call.source) + ": " + *other.star_allele);
  }

  if (is_no_call(best)) log_warning("%s produced neither diplotype nor phenotype", gene);
  if (only_from_starphase) best.add_warning("recovered from pbStarPhase; PharmCAT reported no guideline");
  return best;
}

void GeneMerge::order(std::span<Candidate> candidates) const {
  // Most genes have one statement: nothing to order, and no buffer to take.
  if (candidates.size() < 2) return;
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
