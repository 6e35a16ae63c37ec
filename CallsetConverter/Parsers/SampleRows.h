#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace callset_converter {

// Whose each row of a multi-sample table is: the rows of every sample, in
// file order, found by a hash of the sample's name. Built in one pass over
// the rows' names; a lookup touches only that sample's rows, so that a cohort
// reading one table for each of its samples costs its size, not its square.
class SampleRows {
 public:
  using Row = std::uint32_t;

  // `names[i]` is the sample of row i. The index holds these views: what
  // they point to must outlive it and stay in place. InvalidArgumentError
  // naming `origin` (the file) for more rows than it can number.
  SampleRows(std::vector<std::string_view> names, const std::string& origin);
  // Its lookup holds views of its own names.
  SampleRows(const SampleRows&) = delete;
  SampleRows& operator=(const SampleRows&) = delete;

  // The rows of `sample` in file order; none when no row is its.
  std::vector<Row> rows_of(std::string_view sample) const;
  // Every row's sample, in file order, as given.
  const std::vector<std::string_view>& names() const { return names_; }
  // How many samples the rows name.
  std::size_t sample_count() const { return first_of_sample_.size(); }

 private:
  static constexpr Row kNoRow = UINT32_MAX;
  std::vector<std::string_view> names_;
  // A sample's first row by name, then each the next in file order.
  std::unordered_map<std::string_view, Row> first_of_sample_;
  std::vector<Row> next_of_sample_;
  std::vector<bool> starts_its_sample_;
  // The row after the last one found: a cohort's samples mostly come in the
  // table's own order, and this row, next to the last, is tried before the
  // lookup, whose memory is scattered.
  mutable std::atomic<Row> next_guess_{0};
};

}  // namespace callset_converter
