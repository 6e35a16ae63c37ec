#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

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

  // The bytes the index holds: the table and the index itself.
  std::size_t memory_bytes() const;

 private:
  std::unique_ptr<SampleTableReader> source_;  // owns the bytes and decodes them
  TextRow header_;
  std::vector<SampleTableReader::IndexedRow> rows_;  // in file order
  // A sample's rows: its first by name (a hash lookup touches one row, where
  // a search of sorted rows would touch a dozen scattered ones), then each
  // the next in file order.
  static constexpr std::uint32_t kNoRow = std::numeric_limits<std::uint32_t>::max();
  std::unordered_map<std::string_view, std::uint32_t> first_of_sample_;
  std::vector<std::uint32_t> next_of_sample_;
  std::vector<bool> starts_its_sample_;
  // The row after the last one found: a cohort's samples mostly come in the
  // table's own order, and this row, next to the last, is tried before the
  // lookup, whose memory is scattered.
  mutable std::atomic<std::uint32_t> next_guess_{0};
  mutable std::optional<std::string> samples_held_;
  std::optional<std::string> file_gene_;
};

}  // namespace callset_converter
