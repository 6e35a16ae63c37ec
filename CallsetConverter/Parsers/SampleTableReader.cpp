#include "CallsetConverter/Parsers/SampleTableReader.h"

#include <algorithm>
#include <set>
#include <string_view>
#include <unordered_set>
#include <utility>

#include "CallsetConverter/Parsers/SampleTableIndex.h"
#include "CallsetConverter/Support/DelimitedText.h"
#include "CallsetConverter/Support/Errors.h"
#include "CallsetConverter/Support/Files.h"
#include "CallsetConverter/Support/Text.h"

namespace callset_converter {

bool SampleTableReader::is_pypgx_table(const std::vector<std::string>& header) {
  std::set<std::string> names;
  for (const auto& cell : header) {
    if (!cell.empty()) names.insert(trim(cell));
  }
  return names.contains(GENOTYPE_COLUMN) && names.contains(PHENOTYPE_COLUMN);
}

std::string SampleTableReader::reader_source_name() const { return source_name; }

std::optional<std::string> SampleTableReader::_value(const Row& row, const std::vector<std::string>& columns) {
  for (const auto& column : columns) {
    const auto found = row.find(column);
    if (found == row.end() || !found->second) continue;
    // PyPGx ends its ";"-separated lists with a separator; only trailing
    // ones go, and before trimming, so "*1/*2; " keeps its semicolon.
    std::string_view text = *found->second;
    while (!text.empty() && text.back() == ';') text.remove_suffix(1);
    return trim(text);
  }
  return std::nullopt;
}

std::optional<std::string> SampleTableReader::_gene_from_file_name() const {
  // A file name is bytes; undecodable ones become lone surrogates rather
  // than taking the characters after them along.
  const std::string name = decode_file_name(base_name(file_path));
  // The last extension goes, from the last "." on; a name whose only "."
  // is its first character (".tsv") has no extension.
  std::string_view stem = name;
  const std::size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) stem = stem.substr(0, dot);
  std::string gene = trim(stem);
  if (gene.empty()) return std::nullopt;
  const std::string lowered = to_lower(gene);
  for (const char* non_gene : NON_GENE_STEMS) {
    if (lowered == non_gene) return std::nullopt;
  }
  return gene;
}

TextRow SampleTableReader::_table_header(TextRow first, std::size_t line_count, bool later_rows_one_longer) {
  // PyPGx's printed layout (print-data) pads the unnamed sample column's
  // header with spaces instead of ending it with a tab: the header is one
  // cell short and every value would sit under its neighbour's name.
  const bool printed_layout =
      line_count > 1 && !first.front().empty() && first.front().front() == ' ' && later_rows_one_longer;
  if (printed_layout) {
    first.front() = trim(first.front());
    first.insert(first.begin(), std::string());
  }
  return first;
}

SampleTableReader::SampleRow SampleTableReader::_sample_row(const TextRow& header, const TextRow& cells) {
  SampleRow row{cells.front(), {}};
  for (std::size_t column = 0; column < header.size(); ++column) {
    row.row[header[column]] = column < cells.size() ? std::optional<std::string>(cells[column]) : std::nullopt;
  }
  return row;
}

std::vector<SampleTableReader::SampleRow> SampleTableReader::_read_sample_rows() const {
  if (index_) return index_->rows_of(sample);
  const std::vector<TextRow> lines = read_delimited_rows(_text(/*skip_bom=*/true), kTabSeparated);
  if (lines.empty() || lines.front().empty()) throw InvalidArgumentError(file_path + ": the table has no header row");
  const std::size_t first_size = lines.front().size();
  const TextRow header =
      _table_header(lines.front(), lines.size(), std::all_of(lines.begin() + 1, lines.end(), [&](const TextRow& cells) {
                      return cells.empty() || cells.size() == first_size + 1;
                    }));
  std::vector<SampleRow> rows;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    if (!lines[i].empty()) rows.push_back(_sample_row(header, lines[i]));
  }
  return rows;
}

std::vector<SampleTableReader::Row> SampleTableReader::_read_rows() const {
  std::vector<Row> rows;
  for (auto& sample_row : _read_sample_rows()) rows.push_back(std::move(sample_row.row));
  return rows;
}

namespace {

// "N sample(s): A, B, C, D, E, ..." for the distinct first cells of `rows`.
std::string samples_held(const std::vector<SampleTableReader::SampleRow>& rows) {
  constexpr std::size_t named = 5;
  // A cohort table holds tens of thousands of samples: a set keeps this
  // linear.
  std::vector<std::string_view> samples;
  std::unordered_set<std::string_view> seen;
  for (const auto& row : rows) {
    if (seen.insert(row.sample).second) samples.emplace_back(row.sample);
  }
  std::vector<std::string> names;
  for (std::size_t i = 0; i < samples.size() && i < named; ++i) names.push_back(quoted_literal(samples[i]));
  if (samples.size() > named) names.emplace_back("...");
  return std::to_string(samples.size()) + " sample(s): " + join(names, ", ");
}

}  // namespace

SampleTableReader::SampleTableReader(const std::optional<std::string>& file_path_, std::optional<std::string> sample_id)
    : ICallReader(file_path_), sample(std::move(sample_id)) {}

SampleTableReader::SampleTableReader(const std::optional<std::string>& file_path_, std::optional<std::string> sample_id,
                                     std::shared_ptr<const SampleTableIndex> index)
    : ICallReader(file_path_), sample(std::move(sample_id)), index_(std::move(index)) {}

std::string SampleTableReader::_samples_held(const std::vector<SampleRow>& rows) const {
  return index_ ? index_->samples_held() : samples_held(rows);
}

std::string SampleTableReader::_describe_samples(const std::vector<SampleRow>& rows) { return samples_held(rows); }

std::vector<SampleTableReader::Row> SampleTableReader::_select_rows(std::vector<SampleRow> rows) const {
  std::vector<Row> selected;
  if (!sample) {
    for (auto& row : rows) selected.push_back(std::move(row.row));
    return selected;
  }
  for (const auto& row : rows) {
    if (row.sample == *sample) selected.push_back(row.row);
  }
  // A one-row table without a sample name says nothing about whose it is.
  if (selected.empty() && rows.size() == 1 && trim(rows.front().sample).empty()) {
    selected.push_back(std::move(rows.front().row));
  }
  if (selected.empty()) {
    throw InvalidArgumentError(file_path + ": no row for sample " + quoted_literal(*sample) + "; the table holds " +
                               _samples_held(rows));
  }
  return selected;
}

std::vector<CallerStatement> SampleTableReader::parse() const {
  std::vector<SampleRow> sample_rows = _read_sample_rows();
  const std::string held = _samples_held(sample_rows);
  const std::vector<Row> rows = _select_rows(std::move(sample_rows));
  const std::optional<std::string> file_gene = _gene_from_file_name();
  const std::vector<std::string> gene_columns(GENE_COLUMNS.begin(), GENE_COLUMNS.end());
  std::vector<CallerStatement> statements;
  for (const Row& row : rows) {
    std::optional<std::string> gene = _value(row, gene_columns);
    if (!gene || gene->empty()) gene = file_gene;
    if (!gene) {
      throw InvalidArgumentError(file_path +
                                 ": cannot tell which gene this table is for - the file name is not a gene symbol "
                                 "and there is no Gene column");
    }
    std::optional<std::string> genotype = _value(row, {GENOTYPE_COLUMN});
    std::optional<std::string> phenotype = _value(row, {PHENOTYPE_COLUMN});
    if (!genotype && !phenotype) {
      _log_skip(*gene, "no Genotype or Phenotype column");
      continue;
    }
    std::vector<std::string> haplotypes;
    for (const char* column : HAPLOTYPE_COLUMNS) {
      std::optional<std::string> haplotype = _value(row, {column});
      if (haplotype && !haplotype->empty()) haplotypes.push_back(std::move(*haplotype));
    }
    std::vector<std::string> phenotypes;
    if (phenotype) phenotypes.push_back(std::move(*phenotype));
    statements.emplace_back(*gene, std::move(genotype), std::move(haplotypes), std::move(phenotypes), source_name);
  }
  if (statements.empty()) {
    throw InvalidArgumentError(file_path + ": no usable rows - a PyPGx table needs a " + GENOTYPE_COLUMN + " or " +
                               PHENOTYPE_COLUMN + " column and one data row");
  }
  // PyPGx writes one table per gene for a whole cohort: two calls of one
  // gene are two patients (or one patient twice), and the merge would take
  // whichever came first.
  std::set<std::string> genes;
  for (const auto& statement : statements) {
    if (genes.insert(statement.gene).second) continue;
    if (!sample) {
      throw InvalidArgumentError(file_path + ": the table holds " + held + "; choose one with --sample");
    }
    throw InvalidArgumentError(file_path + ": sample " + quoted_literal(*sample) + " has more than one row for " +
                               statement.gene);
  }
  return statements;
}

}  // namespace callset_converter
