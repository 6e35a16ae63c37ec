#include "CallsetConverter/Parsers/SampleTableIndex.h"

#include <algorithm>
#include <limits>
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
  // Walked from the end, so that each sample's first row is the one kept
  // and each row links to the sample's next in file order.
  next_of_sample_.assign(rows_.size(), kNoRow);
  first_of_sample_.reserve(rows_.size());
  for (std::size_t row = rows_.size(); row-- > 0;) {
    const auto [place, added] =
        first_of_sample_.try_emplace(std::string_view(rows_[row].first_cell), static_cast<std::uint32_t>(row));
    if (!added) {
      next_of_sample_[row] = place->second;
      place->second = static_cast<std::uint32_t>(row);
    }
  }
  starts_its_sample_.assign(rows_.size(), false);
  for (const auto& [name, row] : first_of_sample_) starts_its_sample_[row] = true;
  file_gene_ = source_->_gene_from_file_name();
}

const std::string& SampleTableIndex::samples_held() const {
  if (!samples_held_) {
    std::vector<std::string_view> names;
    names.reserve(rows_.size());
    for (const auto& row : rows_) names.emplace_back(row.first_cell);
    samples_held_ = ICallReader::_samples_held(names);
  }
  return *samples_held_;
}

std::vector<SampleTableReader::IndexedRow> SampleTableIndex::rows_of(const std::optional<std::string>& sample) const {
  if (!sample || rows_.size() == 1) return rows_;
  std::vector<SampleTableReader::IndexedRow> rows;
  std::uint32_t first = next_guess_.load(std::memory_order_relaxed);
  if (first >= rows_.size() || !starts_its_sample_[first] || rows_[first].first_cell != *sample) {
    const auto found = first_of_sample_.find(std::string_view(*sample));
    if (found == first_of_sample_.end()) return rows;
    first = found->second;
  }
  std::uint32_t last = first;
  for (std::uint32_t row = first; row != kNoRow; row = next_of_sample_[row]) {
    rows.push_back(rows_[row]);
    last = row;
  }
  next_guess_.store(last + 1, std::memory_order_relaxed);
  return rows;
}

std::size_t SampleTableIndex::memory_bytes() const {
  std::size_t names = 0;
  for (const auto& row : rows_) {
    if (row.first_cell.capacity() > std::string().capacity()) names += row.first_cell.capacity();
  }
  return source_->_text(/*skip_bom=*/true).size() + rows_.capacity() * sizeof(SampleTableReader::IndexedRow) +
         next_of_sample_.capacity() * sizeof(std::uint32_t) + starts_its_sample_.capacity() / 8 +
         first_of_sample_.bucket_count() * sizeof(void*) +
         first_of_sample_.size() * (sizeof(std::string_view) + 2 * sizeof(void*) + sizeof(std::uint32_t)) + names;
}

}  // namespace callset_converter
