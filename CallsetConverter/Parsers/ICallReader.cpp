#include "CallsetConverter/Parsers/ICallReader.h"

#include <algorithm>
#include <unordered_set>
#include <utility>

#include "CallsetConverter/Support/Digest.h"
#include "CallsetConverter/Support/Errors.h"
#include "CallsetConverter/Support/Files.h"
#include "CallsetConverter/Support/Json.h"
#include "CallsetConverter/Support/Log.h"
#include "CallsetConverter/Support/Text.h"

namespace callset_converter {

namespace {

const std::string& given_path(const std::optional<std::string>& file_path) {
  if (!file_path || file_path->empty()) throw InvalidArgumentError("file_path cannot be empty");
  return *file_path;
}

const std::string& checked_path(const std::optional<std::string>& file_path) {
  if (!path_exists(given_path(file_path))) throw FileNotFoundError("File not found: " + *file_path);
  return *file_path;
}

}  // namespace

ICallReader::ICallReader(const std::optional<std::string>& file_path_) : file_path(checked_path(file_path_)) {}

ICallReader::ICallReader(const std::optional<std::string>& file_path_, ContentHeld)
    : file_path(given_path(file_path_)) {}

ICallReader::ICallReader(const char* file_path_)
    : ICallReader(file_path_ == nullptr ? std::nullopt : std::optional<std::string>(file_path_)) {}

ICallReader::~ICallReader() = default;

std::string ICallReader::reader_source_name() const { return source_name; }

ICallReader::SampleReaderMaker ICallReader::_prepare_for_samples() { return {}; }

std::string ICallReader::_content_sha256() const { return content_sha256_ ? *content_sha256_ : sha256_hex(_bytes()); }

const std::string& ICallReader::_bytes() const {
  if (!bytes_) bytes_ = read_file_bytes(file_path, max_input_size);
  return *bytes_;
}

std::string ICallReader::_take_bytes() {
  _bytes();
  std::string bytes = std::move(*bytes_);
  bytes_.reset();
  checked_utf8_ = false;
  return bytes;
}

void ICallReader::_adopt_bytes(std::string bytes) {
  bytes_ = std::move(bytes);
  checked_utf8_ = false;
}

std::string_view ICallReader::_text(bool skip_bom) const {
  std::string_view text = _bytes();
  if (!checked_utf8_) {
    require_utf8(text, file_path);
    checked_utf8_ = true;
  }
  if (skip_bom && text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  return text;
}

JsonDict ICallReader::_load_json() const { return _load_json(JsonSelection::everything()); }

JsonDict ICallReader::_load_json(const JsonSelection& selection) const {
  // Undecodable bytes are reported before any fault of the JSON itself.
  // The parser checks the UTF-8 of the whole text as it indexes it, so a
  // document it accepts is decodable and only a refused one needs a
  // search of its own (parse_json_file_bytes). The bytes are parsed in
  // place, without a copy.
  JsonDict document = parse_json_file_bytes(_bytes(), file_path, selection);
  checked_utf8_ = true;
  return document;
}

JsonDict ICallReader::_load_json_once(const JsonSelection& selection) const {
  if (document_selection_ != &selection || !document_) {
    document_ = _load_json(selection);
    document_selection_ = &selection;
  }
  return *document_;
}

JsonDict ICallReader::read_versions() const { return JsonDict::object(); }

std::string ICallReader::_ambiguous_warning(const std::vector<std::string>& candidates) {
  return "ambiguous: " + std::to_string(candidates.size()) + " possible diplotypes: " + join(candidates, ", ");
}

std::string ICallReader::_samples_held(const std::vector<std::string_view>& samples) {
  constexpr std::size_t named = 5;
  // A cohort file holds tens of thousands of samples: a set keeps this
  // linear.
  std::vector<std::string_view> distinct;
  std::unordered_set<std::string_view> seen;
  for (const auto sample : samples) {
    if (seen.insert(sample).second) distinct.push_back(sample);
  }
  std::vector<std::string> names;
  for (std::size_t i = 0; i < distinct.size() && i < named; ++i) names.push_back(quoted_literal(distinct[i]));
  if (distinct.size() > named) names.emplace_back("...");
  return std::to_string(distinct.size()) + " sample(s): " + join(names, ", ");
}

std::string ICallReader::_choose_sample(const std::vector<std::string_view>& samples,
                                        const std::optional<std::string>& chosen) const {
  const SampleRows rows(samples, file_path);
  const std::vector<SampleRows::Row> chosen_rows = _rows_of_chosen_sample(rows, chosen);
  return chosen_rows.empty() ? std::string() : std::string(samples[chosen_rows.front()]);
}

std::vector<SampleRows::Row> ICallReader::_rows_of_chosen_sample(const SampleRows& rows,
                                                                 const std::optional<std::string>& chosen) const {
  if (chosen) {
    std::vector<SampleRows::Row> found = rows.rows_of(*chosen);
    if (found.empty()) {
      throw InvalidArgumentError(file_path + ": no row for sample " + quoted_literal(*chosen) + "; the table holds " +
                                 _samples_held(rows.names()));
    }
    return found;
  }
  if (rows.sample_count() > 1) {
    throw InvalidArgumentError(file_path + ": the table holds " + _samples_held(rows.names()) +
                               "; choose one with --sample");
  }
  return rows.names().empty() ? std::vector<SampleRows::Row>{} : rows.rows_of(rows.names().front());
}

void ICallReader::_log_skip(const std::string& gene, const std::string& reason) {
  log_warning("Skipping %s: %s", gene, reason);
}

}  // namespace callset_converter
