#include "CallsetConverter/Parsers/SampleTableIndex.h"

#include <algorithm>
#include <limits>
#include <numeric>
#include <utility>

#include "CallsetConverter/Support/Errors.h"

namespace callset_converter {

SampleTableIndex::SampleTableIndex(const std::string& file_path, std::string bytes)
    : source_(std::make_unique<SampleTableReader>(file_path, std::nullopt)) {
  source_->_adopt_bytes(std::move(bytes));
  text_ = source_->_text(/*skip_bom=*/true);
  // Offsets are kept in 32 bits; a larger table is read whole by each sample.
  if (text_.size() >= std::numeric_limits<std::uint32_t>::max()) {
    throw InvalidArgumentError(file_path + ": too large to index by sample");
  }
  DelimitedTextReader reader(text_, kTabSeparated);
  std::optional<TextRow> first = reader.next_row();
  if (!first || first->empty()) throw InvalidArgumentError(file_path + ": the table has no header row");
  std::size_t line_count = 1;
  bool later_rows_one_longer = true;
  for (std::size_t begin = reader.position();; begin = reader.position()) {
    std::optional<TextRow> cells = reader.next_row();
    if (!cells) break;
    ++line_count;
    if (cells->empty()) continue;
    later_rows_one_longer = later_rows_one_longer && cells->size() == first->size() + 1;
    std::string_view sample = text_.substr(begin, cells->front().size());
    if (sample != cells->front()) sample = quoted_samples_.emplace_back(std::move(cells->front()));
    rows_.push_back(Entry{sample, static_cast<std::uint32_t>(begin), static_cast<std::uint32_t>(reader.position())});
  }
  header_ = SampleTableReader::_table_header(std::move(*first), line_count, later_rows_one_longer);
  by_sample_.resize(rows_.size());
  std::iota(by_sample_.begin(), by_sample_.end(), 0U);
  std::stable_sort(by_sample_.begin(), by_sample_.end(),
                   [&](std::uint32_t a, std::uint32_t b) { return rows_[a].sample < rows_[b].sample; });
  std::vector<SampleTableReader::SampleRow> names;
  names.reserve(rows_.size());
  for (const auto& entry : rows_) names.push_back({std::string(entry.sample), {}});
  samples_held_ = SampleTableReader::_describe_samples(names);
}

SampleTableReader::SampleRow SampleTableIndex::row_at(const Entry& entry) const {
  DelimitedTextReader reader(text_.substr(entry.begin, entry.end - entry.begin), kTabSeparated);
  return SampleTableReader::_sample_row(header_, reader.next_row().value_or(TextRow{std::string(entry.sample)}));
}

std::vector<SampleTableReader::SampleRow> SampleTableIndex::rows_of(const std::optional<std::string>& sample) const {
  std::vector<SampleTableReader::SampleRow> rows;
  if (!sample || rows_.size() == 1) {
    for (const auto& entry : rows_) rows.push_back(row_at(entry));
    return rows;
  }
  struct BySample {
    const std::vector<Entry>& rows;
    bool operator()(std::uint32_t row, std::string_view name) const { return rows[row].sample < name; }
    bool operator()(std::string_view name, std::uint32_t row) const { return name < rows[row].sample; }
  };
  const auto [from, to] =
      std::equal_range(by_sample_.begin(), by_sample_.end(), std::string_view(*sample), BySample{rows_});
  for (auto it = from; it != to; ++it) rows.push_back(row_at(rows_[*it]));
  return rows;
}

std::size_t SampleTableIndex::memory_bytes() const {
  std::size_t quoted = 0;
  for (const auto& name : quoted_samples_) quoted += name.capacity();
  return text_.size() + rows_.capacity() * sizeof(Entry) + by_sample_.capacity() * sizeof(std::uint32_t) + quoted;
}

}  // namespace callset_converter
