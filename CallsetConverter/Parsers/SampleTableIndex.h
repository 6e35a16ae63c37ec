#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "CallsetConverter/Parsers/SampleRows.h"
#include "CallsetConverter/Parsers/SampleTableReader.h"

namespace callset_converter {

// A PyPGx cohort table read once for a whole run and indexed by sample:
// each sample's reader then parses only its own rows. The table's bytes are
// held once, and each row costs its first cell and a few words of index
// beside them, so the memory is about the table's size however many samples
// read it.
class SampleTableIndex {
 public:
  // Indexes the bytes of `file_path` (already read, within the run's size
  // limit) in one pass. Raises what a reader of the whole file raises for
  // undecodable bytes or a missing header row.
  SampleTableIndex(const std::string& file_path, std::string bytes);
  // Its lookup holds views of its own rows' names.
  SampleTableIndex(const SampleTableIndex&) = delete;
  SampleTableIndex& operator=(const SampleTableIndex&) = delete;

  // The header row as read.
  const TextRow& header() const { return header_; }

  // The rows a reader of the whole file would choose from for `sample`:
  // every row when no sample is chosen; otherwise the rows whose first cell
  // is the sample, or the table's only row (whose sample the reader checks).
  std::vector<SampleTableReader::IndexedRow> rows_of(const std::optional<std::string>& sample) const;

  // The gene the file's name gives, as its reader finds it.
  const std::optional<std::string>& file_gene() const { return file_gene_; }

  // "N sample(s): A, B, ..." for the whole table, as its reader names them.
  // Found when first asked for (an error message): most runs never ask.
  const std::string& samples_held() const;

 private:
  std::unique_ptr<SampleTableReader> source_;  // owns the bytes and decodes them
  TextRow header_;
  std::vector<SampleTableReader::IndexedRow> rows_;  // in file order
  std::optional<SampleRows> by_sample_;              // views of rows_' first cells
  mutable std::optional<std::string> samples_held_;
  std::optional<std::string> file_gene_;
};

}  // namespace callset_converter
