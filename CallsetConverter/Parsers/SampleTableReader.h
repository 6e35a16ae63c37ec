#pragma once

#include <array>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
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
  // header have no name and are not kept, nor are columns this reader does
  // not read. Of two equal header cells the later column's value is the one
  // read. Kept flat, in column order: a row has a few columns and is read a
  // few times.
  using Row = std::vector<std::pair<std::string, std::optional<std::string>>>;

  // One data row as index_rows finds it: the text of its first cell, where
  // PyPGx writes the sample name under an unnamed header cell, and the row's
  // text, whose other cells are not read until the row is chosen.
  struct IndexedRow {
    std::string first_cell;
    std::string_view text;
  };

  // The sample to read (--sample): only the rows whose first cell equals it
  // exactly; the others are passed over by that cell alone. Absent: every
  // row, but never rows of two samples, nor two rows of one gene.
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
  // so that no patient's call is taken for another's, when no sample is
  // chosen and the first cells name more than one sample (unless the first
  // column is one this reader reads, such as Gene: then they name no
  // sample) or two rows call one gene, or when the chosen sample has no row
  // (a one-row table whose first cell is empty is read as it is).
  std::vector<CallerStatement> parse() const override;
  std::string reader_source_name() const override;
  // Indexes the table by sample once (see SampleTableIndex).
  SampleReaderMaker _prepare_for_samples() override;

  // The data rows of `body`, a table's text after its header row, in order;
  // empty lines are left out. Only the first cell of each row is read, so a
  // cohort table can be split by sample at little more than the cost of
  // finding its line ends.
  static std::vector<IndexedRow> index_rows(std::string_view body);
  // The rows of the chosen sample (every row when none is chosen), each
  // read under `header`; InvalidArgumentError when the chosen sample has no
  // row, or when none is chosen and the rows are of several samples.
  std::vector<Row> _choose_rows(const TextRow& header, const std::vector<IndexedRow>& rows) const;
  // The gene symbol carried by the file name, if the name is one.
  std::optional<std::string> _gene_from_file_name() const;
  // The first of `columns` that the row holds a cell for, with trailing
  // ";" removed and then trimmed (possibly empty); nothing when none does.
  static std::optional<std::string> _value(const Row& row, const std::vector<std::string>& columns);
  // The same for one column.
  static std::optional<std::string> _column_value(const Row& row, std::string_view column);

 private:
  // "N sample(s): ..." for an error: the whole table's samples, also when
  // only the chosen sample's rows were looked at.
  std::string _samples_held(const std::vector<IndexedRow>& rows) const;

  std::shared_ptr<const SampleTableIndex> index_;
};

}  // namespace callset_converter
