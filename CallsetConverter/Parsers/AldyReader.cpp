#include "CallsetConverter/Parsers/AldyReader.h"

#include <algorithm>
#include <map>
#include <set>
#include <utility>

#include "CallsetConverter/Support/Errors.h"
#include "CallsetConverter/Support/Text.h"

namespace callset_converter {

namespace {

// The columns a solution is read from.
constexpr const char* SAMPLE = "Sample";
constexpr const char* GENE = "Gene";
constexpr const char* SOLUTION_ID = "SolutionID";
constexpr const char* MAJOR = "Major";

// The "key=value" members of a "#Solution N: minors; gene=...; cpic=..."
// line (Aldy 4.8 and later); the minor alleles before them are not read.
std::map<std::string, std::string, std::less<>> solution_members(std::string_view line) {
  std::map<std::string, std::string, std::less<>> members;
  const std::vector<std::string> parts = split(line, ';');
  for (std::size_t i = 1; i < parts.size(); ++i) {
    const std::size_t equals = parts[i].find('=');
    if (equals == std::string::npos) continue;
    members.emplace(trim(std::string_view(parts[i]).substr(0, equals)),
                    trim(std::string_view(parts[i]).substr(equals + 1)));
  }
  return members;
}

// One solution of one sample's gene.
struct Solution {
  std::string id;
  std::string major;
  std::optional<std::string> cpic;
  std::optional<std::string> cpic_score;
};

struct GeneSolutions {
  std::string sample;
  std::string gene;
  std::vector<Solution> solutions;
  std::set<std::string, std::less<>> solution_ids;
};

// The values, when every solution gives the same one.
std::optional<std::string> shared(const std::vector<Solution>& solutions,
                                  std::optional<std::string> Solution::*member) {
  const std::optional<std::string>& first = solutions.front().*member;
  if (!first || first->empty()) return std::nullopt;
  for (const auto& solution : solutions) {
    if (solution.*member != first) return std::nullopt;
  }
  return first;
}

}  // namespace

AldyReader::AldyReader(const std::optional<std::string>& file_path_, std::optional<std::string> sample_id)
    : ICallReader(file_path_), sample(std::move(sample_id)) {}

bool AldyReader::is_aldy_report(std::string_view bytes) {
  if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
  const std::string_view first = bytes.substr(0, bytes.find('\n'));
  if (!first.starts_with(HEADER_START)) return false;
  const std::vector<std::string> cells = split(first, '\t');
  return cells.size() >= 4 && trim(cells[0]) == HEADER_START && trim(cells[1]) == GENE &&
         trim(cells[2]) == SOLUTION_ID && trim(cells[3]) == MAJOR;
}

std::string AldyReader::reader_source_name() const { return source_name; }

std::optional<std::string> AldyReader::_without_novel_mark(std::string_view allele) {
  constexpr std::string_view old_mark = ".ALDY";
  if (allele.size() > old_mark.size() && allele.ends_with(old_mark)) {
    return std::string(allele.substr(0, allele.size() - old_mark.size()));
  }
  // Only a star allele's name ends in Aldy's "X"; a duplication is a
  // lower-case "x" with a count after it.
  if (allele.size() > 2 && allele.front() == '*' && allele.back() == 'X') {
    return std::string(allele.substr(0, allele.size() - 1));
  }
  return std::nullopt;
}

std::vector<CallerStatement> AldyReader::parse() const {
  const std::string_view text = _text(/*skip_bom=*/true);
  if (!is_aldy_report(text)) {
    throw InvalidArgumentError(file_path + ": not an Aldy report - expected a first line starting " + HEADER_START +
                               ", Gene, SolutionID, Major");
  }
  std::map<std::string, std::size_t, std::less<>> columns;
  // The "#Solution" line not yet matched with its first row.
  std::optional<std::map<std::string, std::string, std::less<>>> pending;
  std::vector<GeneSolutions> genes;
  std::map<std::pair<std::string, std::string>, std::size_t> gene_index;
  std::vector<std::string> row_samples;
  for_each_line(text, [&](std::size_t number, std::string_view line) {
    if (trim(line).empty()) return;
    if (line.starts_with(HEADER_START)) {
      // Repeated once per gene when several genes share a file.
      columns.clear();
      const std::vector<std::string> cells = split(line.substr(1), '\t');
      for (std::size_t i = 0; i < cells.size(); ++i) columns.emplace(trim(cells[i]), i);
      return;
    }
    if (line.starts_with(SOLUTION_START)) {
      pending = solution_members(line);
      return;
    }
    if (line.starts_with('#')) return;
    const std::vector<std::string> cells = split(line, '\t');
    const auto cell = [&](const char* name) {
      const auto found = columns.find(name);
      std::string value =
          found == columns.end() || found->second >= cells.size() ? std::string() : trim(cells[found->second]);
      if (value.empty()) {
        throw InvalidArgumentError(file_path + ", line " + std::to_string(number) + ": an Aldy row without a " + name +
                                   " cell");
      }
      return value;
    };
    Solution solution{cell(SOLUTION_ID), cell(MAJOR), std::nullopt, std::nullopt};
    std::string row_sample = cell(SAMPLE);
    std::string gene = cell(GENE);
    row_samples.push_back(row_sample);
    // Indexed, so that a file of many genes or solutions is read in one pass.
    const auto [position, added] = gene_index.try_emplace({row_sample, gene}, genes.size());
    if (added) genes.push_back({std::move(row_sample), std::move(gene), {}, {}});
    GeneSolutions& entry = genes[position->second];
    // A "#Solution" line belongs to the row right after it.
    const auto members = std::exchange(pending, std::nullopt);
    if (!entry.solution_ids.insert(solution.id).second) return;
    if (members) {
      if (auto found = members->find("cpic"); found != members->end()) solution.cpic = found->second;
      if (auto found = members->find("cpic_score"); found != members->end()) solution.cpic_score = found->second;
    }
    entry.solutions.push_back(std::move(solution));
  });

  std::vector<CallerStatement> statements;
  if (genes.empty()) return statements;
  std::vector<std::string_view> samples(row_samples.begin(), row_samples.end());
  const std::string chosen = _choose_sample(samples, sample);
  for (const auto& entry : genes) {
    if (entry.sample != chosen) continue;
    CallerStatement statement(entry.gene);
    statement.source = source_name;
    std::vector<std::string> majors;
    std::vector<std::string> novel;
    for (const auto& solution : entry.solutions) {
      // The alleles of a Major are joined by "/" (the two copies) and "+"
      // (tandem gene copies).
      std::string major;
      std::size_t start = 0;
      while (start <= solution.major.size()) {
        std::size_t end = solution.major.find_first_of("/+", start);
        if (end == std::string::npos) end = solution.major.size();
        const std::string_view allele = std::string_view(solution.major).substr(start, end - start);
        if (auto unmarked = _without_novel_mark(allele)) {
          novel.emplace_back(allele);
          major += *unmarked;
        } else {
          major += allele;
        }
        if (end < solution.major.size()) major += solution.major[end];
        start = end + 1;
      }
      majors.push_back(std::move(major));
    }
    majors = distinct_in_order(std::move(majors));
    novel = distinct_in_order(std::move(novel));
    for (const auto& allele : novel) statement.warnings.push_back("novel allele inferred by Aldy: " + allele);
    if (majors.size() > 1) {
      statement.warnings.insert(statement.warnings.begin(), _ambiguous_warning(majors));
    } else {
      statement.diplotype = majors.front();
      for (auto& haplotype : split(majors.front(), '/')) {
        if (!trim(haplotype).empty()) statement.haplotypes.push_back(trim(haplotype));
      }
    }
    // A phenotype stands for the call only when every solution names it.
    if (auto phenotype = shared(entry.solutions, &Solution::cpic)) {
      statement.phenotypes.push_back(std::move(*phenotype));
      statement.activity_score = shared(entry.solutions, &Solution::cpic_score);
    }
    statements.push_back(std::move(statement));
  }
  return statements;
}

JsonDict AldyReader::read_versions() const {
  std::vector<std::string> databases;
  for_each_line(_text(/*skip_bom=*/true), [&](std::size_t, std::string_view line) {
    if (!line.starts_with(SOLUTION_START)) return;
    const auto members = solution_members(line);
    const auto found = members.find("gene");
    if (found == members.end() || found->second.empty()) return;
    if (std::find(databases.begin(), databases.end(), found->second) == databases.end()) {
      databases.push_back(found->second);
    }
  });
  JsonDict versions = JsonDict::object();
  if (!databases.empty()) versions[GENE_DATABASE_VERSION] = join(databases, ", ");
  return versions;
}

}  // namespace callset_converter
