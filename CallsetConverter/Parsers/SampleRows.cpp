#include "CallsetConverter/Parsers/SampleRows.h"

#include <utility>

#include "CallsetConverter/Support/Errors.h"

namespace callset_converter {

SampleRows::SampleRows(std::vector<std::string_view> names, const std::string& origin) : names_(std::move(names)) {
  // Row numbers are kept in 32 bits.
  if (names_.size() >= kNoRow) throw InvalidArgumentError(origin + ": too many rows to index by sample");
  // Walked from the end, so that each sample's first row is the one kept
  // and each row links to the sample's next in file order.
  next_of_sample_.assign(names_.size(), kNoRow);
  first_of_sample_.reserve(names_.size());
  for (std::size_t row = names_.size(); row-- > 0;) {
    const auto [place, added] = first_of_sample_.try_emplace(names_[row], static_cast<Row>(row));
    if (!added) {
      next_of_sample_[row] = place->second;
      place->second = static_cast<Row>(row);
    }
  }
  starts_its_sample_.assign(names_.size(), false);
  for (const auto& [name, row] : first_of_sample_) starts_its_sample_[row] = true;
}

std::vector<SampleRows::Row> SampleRows::rows_of(std::string_view sample) const {
  std::vector<Row> rows;
  Row first = next_guess_.load(std::memory_order_relaxed);
  if (first >= names_.size() || !starts_its_sample_[first] || names_[first] != sample) {
    const auto found = first_of_sample_.find(sample);
    if (found == first_of_sample_.end()) return rows;
    first = found->second;
  }
  for (Row row = first; row != kNoRow; row = next_of_sample_[row]) rows.push_back(row);
  next_guess_.store(rows.back() + 1, std::memory_order_relaxed);
  return rows;
}

}  // namespace callset_converter
