#include "CallsetConverter/Parsers/PharmcatTsvReader.h"

#include <algorithm>
#include <array>
#include <map>
#include <optional>
#include <string_view>
#include <utility>

#include "CallsetConverter/Parsers/AnnotatorJsonReaders.h"
#include "CallsetConverter/Support/Errors.h"
#include "CallsetConverter/Support/Log.h"
#include "CallsetConverter/Support/Text.h"

namespace callset_converter {

namespace {

// Column names of PharmCAT's TSV report.
constexpr const char* GENE = "Gene";
constexpr const char* SOURCE_DIPLOTYPE = "Source Diplotype";
constexpr const char* PHENOTYPE = "Phenotype";
constexpr const char* ACTIVITY_SCORE = "Activity Score";
constexpr std::array<const char*, 2> HAPLOTYPES = {"Haplotype 1", "Haplotype 2"};
constexpr const char* LOOKUP_DIPLOTYPE = "Recommendation Lookup Diplotype";
constexpr const char* LOOKUP_PHENOTYPE = "Recommendation Lookup Phenotype";
constexpr const char* LOOKUP_ACTIVITY_SCORE = "Recommendation Lookup Activity Score";

// The header's column positions by trimmed name; the first of equal names
// counts.
class Columns {
 public:
  explicit Columns(const TextRow& header) {
    for (std::size_t i = 0; i < header.size(); ++i) positions_.emplace(trim(header[i]), i);
  }

  // The trimmed cell of `column` in `row`; nothing when the header has no
  // such column, the row does not reach it or the cell is blank.
  std::optional<std::string> cell(const TextRow& row, const char* column) const {
    const auto found = positions_.find(column);
    if (found == positions_.end() || found->second >= row.size()) return std::nullopt;
    std::string text = trim(row[found->second]);
    if (text.empty()) return std::nullopt;
    return text;
  }

 private:
  std::map<std::string, std::size_t, std::less<>> positions_;
};

// PharmCAT writes the second haplotype with the gene in front ("CYP2C19*2",
// "RYR1 Reference") and the first without; the JSON report names both
// without, and so does the statement.
std::string without_gene_prefix(const std::string& haplotype, const std::string& gene) {
  if (!starts_with(haplotype, gene) || haplotype.size() == gene.size()) return haplotype;
  const std::string_view rest = std::string_view(haplotype).substr(gene.size());
  if (rest.front() == '*') return std::string(rest);
  if (rest.front() == ' ') return trim(rest);
  return haplotype;
}

// One gene's statement from the row that holds its call, read from the
// given columns (the source or the recommendation lookup columns).
CallerStatement statement_from(const std::string& gene, const TextRow& row, const Columns& columns,
                               const char* diplotype_column, const char* phenotype_column, const char* activity_column,
                               std::vector<std::string> haplotypes) {
  std::vector<std::string> phenotypes;
  if (auto phenotype = columns.cell(row, phenotype_column)) phenotypes.push_back(std::move(*phenotype));
  return CallerStatement(gene, columns.cell(row, diplotype_column), std::move(haplotypes), std::move(phenotypes),
                         PharmcatTsvReader::source_name, std::nullopt, columns.cell(row, activity_column));
}

}  // namespace

bool PharmcatTsvReader::is_banner(const TextRow& banner) {
  if (banner.size() != 1) return false;
  const std::string text = trim(banner.front());
  return text == BANNER || starts_with(text, std::string(BANNER) + " ");
}

bool PharmcatTsvReader::is_header(const TextRow& header) {
  if (header.size() < LEADING_COLUMNS.size()) return false;
  return std::equal(LEADING_COLUMNS.begin(), LEADING_COLUMNS.end(), header.begin(),
                    [](const char* name, const std::string& cell) { return trim(cell) == name; });
}

std::string PharmcatTsvReader::reader_source_name() const { return source_name; }

std::vector<CallerStatement> PharmcatTsvReader::parse() const {
  const std::vector<TextRow> rows = read_delimited_rows(_text(/*skip_bom=*/true), kTabSeparated);
  if (rows.size() < 2 || !is_banner(rows[0]) || !is_header(rows[1])) {
    throw InvalidArgumentError(file_path + ": not a PharmCAT TSV report - expected a first line \"" + BANNER +
                               " <version>\" and a header row starting " +
                               join({LEADING_COLUMNS.begin(), LEADING_COLUMNS.end()}, ", "));
  }
  const Columns columns(rows[1]);

  // The rows of each gene, genes in order of their first row.
  std::vector<std::pair<std::string, std::vector<const TextRow*>>> genes;
  for (std::size_t i = 2; i < rows.size(); ++i) {
    const TextRow& row = rows[i];
    if (row.empty()) continue;
    const std::optional<std::string> gene = columns.cell(row, GENE);
    if (!gene) {
      log_warning("Row %d without a gene in %s", i + 1, file_path);
      continue;
    }
    if (!columns.cell(row, SOURCE_DIPLOTYPE)) {
      _log_skip(*gene, "no source diplotype");
      continue;
    }
    const auto found =
        std::find_if(genes.begin(), genes.end(), [&](const auto& entry) { return entry.first == *gene; });
    if (found == genes.end()) {
      genes.emplace_back(*gene, std::vector<const TextRow*>{&row});
    } else {
      found->second.push_back(&row);
    }
  }

  std::vector<CallerStatement> statements;
  for (const auto& [gene, gene_rows] : genes) {
    // As in the JSON report: an unphased result is one row per allele
    // found, all naming PharmCAT's one combined call in the recommendation
    // lookup columns; that call is the one to report.
    // Any row of the gene may carry it; two different ones are ambiguous.
    std::vector<std::string> lookups;
    const TextRow* lookup_row = nullptr;
    for (const TextRow* row : gene_rows) {
      auto lookup = columns.cell(*row, LOOKUP_DIPLOTYPE);
      if (!lookup || std::find(lookups.begin(), lookups.end(), *lookup) != lookups.end()) continue;
      lookups.push_back(*lookup);
      if (lookup_row == nullptr) lookup_row = row;
    }
    if (gene_rows.size() > 1 && lookups.size() == 1) {
      std::vector<std::string> haplotypes;
      for (const auto& piece : split(lookups.front(), '/')) {
        std::string allele = trim(piece);
        if (!allele.empty()) haplotypes.push_back(std::move(allele));
      }
      statements.push_back(statement_from(gene, *lookup_row, columns, LOOKUP_DIPLOTYPE, LOOKUP_PHENOTYPE,
                                          LOOKUP_ACTIVITY_SCORE, std::move(haplotypes)));
      continue;
    }
    const TextRow& first = *gene_rows.front();
    std::vector<std::string> haplotypes;
    for (const char* column : HAPLOTYPES) {
      if (auto haplotype = columns.cell(first, column)) haplotypes.push_back(without_gene_prefix(*haplotype, gene));
    }
    CallerStatement statement =
        statement_from(gene, first, columns, SOURCE_DIPLOTYPE, PHENOTYPE, ACTIVITY_SCORE, std::move(haplotypes));
    if (gene_rows.size() > 1) {
      std::vector<std::string> labels;
      for (const TextRow* row : gene_rows) labels.push_back(*columns.cell(*row, SOURCE_DIPLOTYPE));
      statement.warnings.push_back(PharmcatPhenotypeJsonParser::_first_of_several(gene, std::nullopt, labels));
    }
    statements.push_back(std::move(statement));
  }
  if (statements.empty()) throw InvalidArgumentError(file_path + ": no usable rows");
  return statements;
}

JsonDict PharmcatTsvReader::read_versions() const {
  JsonDict versions = JsonDict::object();
  // From the bytes parse read: a second open would block on a named pipe
  // and escape the size limit.
  const TextRow banner = first_row_of(_bytes(), kTabSeparated, file_path);
  if (!is_banner(banner)) return versions;
  const std::string version = trim(trim(banner.front()).substr(std::string_view(BANNER).size()));
  if (!version.empty()) versions["pharmcatVersion"] = version;
  return versions;
}

}  // namespace callset_converter
