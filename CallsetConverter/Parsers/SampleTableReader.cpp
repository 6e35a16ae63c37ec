#include "CallsetConverter/Parsers/SampleTableReader.h"

#include <algorithm>
#include <set>
#include <string_view>
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

std::optional<std::string> SampleTableReader::_column_value(const Row& row, std::string_view column) {
  // The later of two equal header cells is the one read.
  const auto found = std::find_if(row.rbegin(), row.rend(), [&](const auto& cell) { return cell.first == column; });
  if (found == row.rend() || !found->second) return std::nullopt;
  // PyPGx ends its ";"-separated lists with a separator; only trailing ones
  // go, and before trimming, so "*1/*2; " keeps its semicolon.
  std::string_view text = *found->second;
  while (!text.empty() && text.back() == ';') text.remove_suffix(1);
  return trim(text);
}

std::optional<std::string> SampleTableReader::_value(const Row& row, const std::vector<std::string>& columns) {
  for (const auto& column : columns) {
    if (std::optional<std::string> value = _column_value(row, column)) return value;
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

std::vector<SampleTableReader::IndexedRow> SampleTableReader::index_rows(std::string_view body) {
  std::vector<IndexedRow> rows;
  DelimitedTextReader reader(body, kTabSeparated);
  for (std::size_t start = 0; auto first = reader.next_row(/*kept_cells=*/1); start = reader.position()) {
    if (first->empty()) continue;
    rows.push_back({std::move(first->front()), body.substr(start, reader.position() - start)});
  }
  return rows;
}

namespace {

// "N sample(s): A, B, C, D, E, ..." for the distinct first cells of `rows`.
std::string samples_held(const std::vector<SampleTableReader::IndexedRow>& rows) {
  std::vector<std::string_view> samples;
  samples.reserve(rows.size());
  for (const auto& row : rows) samples.emplace_back(row.first_cell);
  return ICallReader::_samples_held(samples);
}

bool names_several_samples(const std::vector<SampleTableReader::IndexedRow>& rows) {
  const std::string* first = nullptr;
  for (const auto& row : rows) {
    if (row.first_cell.empty()) continue;
    if (first == nullptr) {
      first = &row.first_cell;
    } else if (row.first_cell != *first) {
      return true;
    }
  }
  return false;
}

// Whether the first column is one the reader takes a value from (header
// cells are matched exactly), so that its cells are genes or calls, not
// sample names.
bool names_a_read_column(const std::string& header_cell) {
  const auto is = [&](const char* column) { return header_cell == column; };
  return is(SampleTableReader::GENOTYPE_COLUMN) || is(SampleTableReader::PHENOTYPE_COLUMN) ||
         std::any_of(SampleTableReader::GENE_COLUMNS.begin(), SampleTableReader::GENE_COLUMNS.end(), is) ||
         std::any_of(SampleTableReader::HAPLOTYPE_COLUMNS.begin(), SampleTableReader::HAPLOTYPE_COLUMNS.end(), is);
}

}  // namespace

SampleTableReader::SampleTableReader(const std::optional<std::string>& file_path_, std::optional<std::string> sample_id)
    : ICallReader(file_path_), sample(std::move(sample_id)) {}

SampleTableReader::SampleTableReader(const std::optional<std::string>& file_path_, std::optional<std::string> sample_id,
                                     std::shared_ptr<const SampleTableIndex> index)
    : ICallReader(file_path_, ContentHeld{}), sample(std::move(sample_id)), index_(std::move(index)) {}

ICallReader::SampleReaderMaker SampleTableReader::_prepare_for_samples() {
  return _maker_on<SampleTableReader>(std::make_shared<const SampleTableIndex>(file_path, _take_bytes()));
}

std::string SampleTableReader::_samples_held(const std::vector<IndexedRow>& rows) const {
  return index_ ? index_->samples_held() : samples_held(rows);
}

std::vector<SampleTableReader::Row> SampleTableReader::_choose_rows(const TextRow& given_header,
                                                                    const std::vector<IndexedRow>& rows) const {
  std::vector<const IndexedRow*> chosen;
  for (const auto& row : rows) {
    if (!sample || row.first_cell == *sample) chosen.push_back(&row);
  }
  // A one-row table without a sample name says nothing about whose it is.
  if (chosen.empty() && rows.size() == 1 && trim(rows.front().first_cell).empty()) chosen.push_back(&rows.front());
  if (sample && chosen.empty()) {
    throw InvalidArgumentError(file_path + ": no row for sample " + quoted_literal(*sample) + "; the table holds " +
                               _samples_held(rows));
  }
  std::vector<TextRow> lines;
  for (const IndexedRow* row : chosen) {
    lines.push_back(DelimitedTextReader(row->text, kTabSeparated).next_row().value_or(TextRow{}));
  }
  // PyPGx's printed layout (print-data) pads the unnamed sample column's
  // header with spaces instead of ending it with a tab: the header is one
  // cell short and every value would sit under its neighbour's name. Only
  // the chosen rows decide, so that a sample reads the same out of a cohort
  // table as out of a table of its own rows.
  const bool printed_layout = !lines.empty() && !given_header.front().empty() && given_header.front().front() == ' ' &&
                              std::all_of(lines.begin(), lines.end(), [&](const TextRow& cells) {
                                return cells.size() == given_header.size() + 1;
                              });
  TextRow realigned;
  if (printed_layout) {
    realigned = given_header;
    realigned.front() = trim(realigned.front());
    realigned.insert(realigned.begin(), std::string());
  }
  const TextRow& header = printed_layout ? realigned : given_header;
  // One report is one patient's: without a chosen sample, rows of two
  // samples are refused whatever genes they call.
  if (!sample && !names_a_read_column(header.front()) && names_several_samples(rows)) {
    throw InvalidArgumentError(file_path + ": the table holds " + _samples_held(rows) + "; choose one with --sample");
  }
  std::vector<Row> selected;
  for (TextRow& cells : lines) {
    Row row;
    row.reserve(header.size());
    for (std::size_t column = 0; column < header.size(); ++column) {
      // Only the columns this reader reads are kept.
      if (!names_a_read_column(header[column])) continue;
      row.emplace_back(header[column],
                       column < cells.size() ? std::optional<std::string>(std::move(cells[column])) : std::nullopt);
    }
    selected.push_back(std::move(row));
  }
  return selected;
}

std::vector<CallerStatement> SampleTableReader::parse() const {
  TextRow own_header;
  const TextRow* header = &own_header;
  std::vector<IndexedRow> indexed;
  if (index_) {
    header = &index_->header();
    indexed = index_->rows_of(sample);
  } else {
    const std::string_view text = _text(/*skip_bom=*/true);
    DelimitedTextReader reader(text, kTabSeparated);
    std::optional<TextRow> first = reader.next_row();
    if (!first || first->empty()) throw InvalidArgumentError(file_path + ": the table has no header row");
    own_header = std::move(*first);
    indexed = index_rows(text.substr(reader.position()));
  }
  const std::vector<Row> rows = _choose_rows(*header, indexed);
  const std::optional<std::string> file_gene = index_ ? index_->file_gene() : _gene_from_file_name();
  static const std::vector<std::string> gene_columns(GENE_COLUMNS.begin(), GENE_COLUMNS.end());
  std::vector<CallerStatement> statements;
  for (const Row& row : rows) {
    std::optional<std::string> gene = _value(row, gene_columns);
    if (!gene || gene->empty()) gene = file_gene;
    if (!gene) {
      throw InvalidArgumentError(file_path +
                                 ": cannot tell which gene this table is for - the file name is not a gene symbol "
                                 "and there is no Gene column");
    }
    std::optional<std::string> genotype = _column_value(row, GENOTYPE_COLUMN);
    std::optional<std::string> phenotype = _column_value(row, PHENOTYPE_COLUMN);
    if (!genotype && !phenotype) {
      _log_skip(*gene, "no Genotype or Phenotype column");
      continue;
    }
    std::vector<std::string> haplotypes;
    for (const char* column : HAPLOTYPE_COLUMNS) {
      std::optional<std::string> haplotype = _column_value(row, column);
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
  std::set<std::string_view> genes;
  for (const auto& statement : statements) {
    if (statements.size() == 1 || genes.insert(statement.gene).second) continue;
    if (!sample) {
      throw InvalidArgumentError(file_path + ": the table holds " + _samples_held(indexed) +
                                 "; choose one with --sample");
    }
    throw InvalidArgumentError(file_path + ": sample " + quoted_literal(*sample) + " has more than one row for " +
                               statement.gene);
  }
  return statements;
}

}  // namespace callset_converter
