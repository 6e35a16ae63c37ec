#include "CallsetConverter/Parsers/SampleTableIndex.h"

#include <algorithm>
#include <limits>
#include <numeric>
#include <string_view>
#include <utility>

#include "CallsetConverter/Support/Errors.h"

namespace callset_converter {

SampleTableIndex::SampleTableIndex(const std::string& file_path, std::string bytes)
    : source_(std::make_unique<SampleTableReader>(file_path, std::nullopt)) {
  source_->_adopt_bytes(std::move(bytes));
  const std::string_view text = source_->_text(/*skip_bom=*/true);
  DelimitedTextReader reader(text, kTabSeparated);
  std::optional<TextRow> first = reader.next_row();
  if (!first || first->empty()) throw InvalidArgumentError(file_path + ": the table has no header row");
  header_ = std::move(*first);
  rows_ = SampleTableReader::index_rows(text.substr(reader.position()));
  // Row numbers are kept in 32 bits; a larger table is read whole by each
  // sample.
  if (rows_.size() >= std::numeric_limits<std::uint32_t>::max()) {
    throw InvalidArgumentError(file_path + ": too many rows to index by sample");
  }
  by_sample_.resize(rows_.size());
  std::iota(by_sample_.begin(), by_sample_.end(), 0U);
  std::stable_sort(by_sample_.begin(), by_sample_.end(),
                   [&](std::uint32_t a, std::uint32_t b) { return rows_[a].first_cell < rows_[b].first_cell; });
  std::vector<std::string_view> names;
  names.reserve(rows_.size());
  for (const auto& row : rows_) names.emplace_back(row.first_cell);
  samples_held_ = ICallReader::_samples_held(names);
  file_gene_ = source_->_gene_from_file_name();
}

std::vector<SampleTableReader::IndexedRow> SampleTableIndex::rows_of(const std::optional<std::string>& sample) const {
  if (!sample || rows_.size() == 1) return rows_;
  struct BySample {
    const std::vector<SampleTableReader::IndexedRow>& rows;
    bool operator()(std::uint32_t row, std::string_view name) const { return rows[row].first_cell < name; }
    bool operator()(std::string_view name, std::uint32_t row) const { return name < rows[row].first_cell; }
  };
  const auto [from, to] =
      std::equal_range(by_sample_.begin(), by_sample_.end(), std::string_view(*sample), BySample{rows_});
  std::vector<SampleTableReader::IndexedRow> rows;
  for (auto it = from; it != to; ++it) rows.push_back(rows_[*it]);
  return rows;
}

std::size_t SampleTableIndex::memory_bytes() const {
  std::size_t names = 0;
  for (const auto& row : rows_) {
    if (row.first_cell.capacity() > std::string().capacity()) names += row.first_cell.capacity();
  }
  return source_->_text(/*skip_bom=*/true).size() + rows_.capacity() * sizeof(SampleTableReader::IndexedRow) +
         by_sample_.capacity() * sizeof(std::uint32_t) + names;
}

}  // namespace callset_converter
