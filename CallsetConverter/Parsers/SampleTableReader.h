#pragma once

#include <array>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "CallsetConverter/HelvaraPgxConstants.h"
#include "CallsetConverter/Parsers/ICallReader.h"
#include "CallsetConverter/Support/DelimitedText.h"

namespace callset_converter {

class SampleTableIndex;

// Reads one PyPGx per-gene sample table (PyPGx's data.tsv, renamed to
// <GENE>.tsv by the pipeline): one statement per sample row, the gene taken
// from a Gene column or else from the file name. PyPGx terms pass through
// to the report unchanged, so nothing here rewrites them.
class SampleTableReader : public ICallReader {
 public:
  static constexpr const char* source_name = HelvaraPgxConstants::CALLER_PYPGX;
  static constexpr const char* GENOTYPE_COLUMN = "Genotype";
  static constexpr const char* PHENOTYPE_COLUMN = "Phenotype";
  static constexpr std::array<const char*, 2> HAPLOTYPE_COLUMNS = {"Haplotype1", "Haplotype2"};
  // An explicit gene column wins over the file name; tried in this order.
  static constexpr std::array<const char*, 2> GENE_COLUMNS = {"Gene", "gene"};
  // File-name stems that are not gene symbols (compared lower-cased).
  static constexpr std::array<const char*, 4> NON_GENE_STEMS = {"data", "results", "genotypes", "phenotypes"};

  // One data row: header cell text, exactly as written, to the row's cell;
  // absent for a column the row is too short to reach. Cells beyond the
  // header have no name and are not kept. Of two equal header cells the
  // later column's value is kept.
  using Row = std::map<std::string, std::optional<std::string>>;

  // One data row with the text of its first cell: PyPGx writes the sample
  // name there, under an unnamed header cell.
  struct SampleRow {
    std::string sample;
    Row row;
  };

  // The sample to read (--sample): only the rows whose first cell equals it
  // exactly. Absent: every row, but never two for one gene.
  const std::optional<std::string> sample;

  using ICallReader::ICallReader;
  SampleTableReader(const std::optional<std::string>& file_path, std::optional<std::string> sample_id);
  // A reader of a table already read and indexed by sample (a cohort table
  // shared by many samples of one run): it parses only its sample's rows,
  // and reads as a reader of the whole file would.
  SampleTableReader(const std::optional<std::string>& file_path, std::optional<std::string> sample_id,
                    std::shared_ptr<const SampleTableIndex> index);

  // Whether `header` (a first row, cells as read) names both the Genotype
  // and the Phenotype column; cells are trimmed, names compared exactly.
  static bool is_pypgx_table(const std::vector<std::string>& header);

  // Statements in row order. InvalidArgumentError when the table has no
  // header, when a row's gene cannot be told, or when no row is usable; and,
  // so that no patient's call is taken for another's, when rows of several
  // samples call one gene and no sample is chosen, or when the chosen sample
  // has no row (a one-row table whose first cell is empty is read as it is).
  std::vector<CallerStatement> parse() const override;
  std::string reader_source_name() const override;

  // The data rows; InvalidArgumentError when there is no header row.
  std::vector<Row> _read_rows() const;
  std::vector<SampleRow> _read_sample_rows() const;
  // The rows of the chosen sample (all rows when none is chosen);
  // InvalidArgumentError naming the sample when it has none.
  std::vector<Row> _select_rows(std::vector<SampleRow> rows) const;
  // The gene symbol carried by the file name, if the name is one.
  std::optional<std::string> _gene_from_file_name() const;
  // The first of `columns` that the row holds a cell for, with trailing
  // ";" removed and then trimmed (possibly empty); nothing when none does.
  static std::optional<std::string> _value(const Row& row, const std::vector<std::string>& columns);

  // The header of a table whose first row is `first`, followed by
  // `line_count` rows in all (empty ones included); `later_rows_one_longer`:
  // every later non-empty row has one cell more than `first`.
  static TextRow _table_header(TextRow first, std::size_t line_count, bool later_rows_one_longer);
  // One data row's cells under `header`.
  static SampleRow _sample_row(const TextRow& header, const TextRow& cells);
  // "N sample(s): A, B, C, D, E, ..." for the distinct first cells of `rows`.
  static std::string _describe_samples(const std::vector<SampleRow>& rows);

 private:
  // "N sample(s): A, B, ..." for the table's samples, for error messages.
  std::string _samples_held(const std::vector<SampleRow>& rows) const;

  std::shared_ptr<const SampleTableIndex> index_;
};

}  // namespace callset_converter
