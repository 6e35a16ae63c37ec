#include "CallsetConverter/Parsers/ICallReader.h"

#include <utility>

#include "CallsetConverter/Support/Errors.h"
#include "CallsetConverter/Support/Files.h"
#include "CallsetConverter/Support/Json.h"
#include "CallsetConverter/Support/Log.h"
#include "CallsetConverter/Support/Text.h"

namespace callset_converter {

namespace {

const std::string& checked_path(const std::optional<std::string>& file_path) {
  if (!file_path || file_path->empty()) throw InvalidArgumentError("file_path cannot be empty");
  if (!path_exists(*file_path)) throw FileNotFoundError("File not found: " + *file_path);
  return *file_path;
}

}  // namespace

ICallReader::ICallReader(const std::optional<std::string>& file_path_) : file_path(checked_path(file_path_)) {}

ICallReader::ICallReader(const char* file_path_)
    : ICallReader(file_path_ == nullptr ? std::nullopt : std::optional<std::string>(file_path_)) {}

ICallReader::~ICallReader() = default;

std::string ICallReader::reader_source_name() const { return source_name; }

const std::string& ICallReader::_bytes() const {
  if (!bytes_) bytes_ = read_file_bytes(file_path, max_input_size);
  return *bytes_;
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

void ICallReader::_log_skip(const std::string& gene, const std::string& reason) {
  log_warning("Skipping %s: %s", gene, reason);
}

}  // namespace callset_converter
