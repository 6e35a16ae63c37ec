#include "CallsetConverter/Parsers/SampleTableIndex.h"

#include <algorithm>
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
  std::vector<std::string_view> names;
  names.reserve(rows_.size());
  for (const auto& row : rows_) names.emplace_back(row.first_cell);
  by_sample_.emplace(std::move(names), file_path);
  file_gene_ = source_->_gene_from_file_name();
}

const std::string& SampleTableIndex::samples_held() const {
  if (!samples_held_) samples_held_ = ICallReader::_samples_held(by_sample_->names());
  return *samples_held_;
}

std::vector<SampleTableReader::IndexedRow> SampleTableIndex::rows_of(const std::optional<std::string>& sample) const {
  if (!sample || rows_.size() == 1) return rows_;
  std::vector<SampleTableReader::IndexedRow> rows;
  for (const SampleRows::Row row : by_sample_->rows_of(*sample)) rows.push_back(rows_[row]);
  return rows;
}

}  // namespace callset_converter
