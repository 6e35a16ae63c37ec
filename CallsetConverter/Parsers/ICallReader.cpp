#include "CallsetConverter/Parsers/ICallReader.h"

#include "CallsetConverter/Support/Errors.h"
#include "CallsetConverter/Support/Files.h"
#include "CallsetConverter/Support/Json.h"
#include "CallsetConverter/Support/Log.h"

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

JsonDict ICallReader::_load_json() const { return load_json_file(file_path); }

JsonDict ICallReader::_load_json(const JsonSelection& selection) const { return load_json_file(file_path, selection); }

void ICallReader::_log_skip(const std::string& gene, const std::string& reason) {
  log_warning("Skipping %s: %s", gene, reason);
}

}  // namespace callset_converter
