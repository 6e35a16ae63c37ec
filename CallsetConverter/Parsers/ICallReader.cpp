#include "CallsetConverter/Parsers/ICallReader.h"

#include <cstddef>
#include <exception>
#include <string_view>

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

// Deepest nesting of arrays and objects a caller output may have. Caller
// outputs nest a dozen levels at most; far deeper documents would exhaust
// the stack when the parser copies nested values, so they are refused as
// invalid JSON instead.
constexpr std::size_t kMaxNesting = 1000;

// Raises the "is not valid JSON" error when `text` opens more than
// kMaxNesting arrays and objects inside one another (brackets inside
// strings do not count).
void require_bounded_nesting(std::string_view text, const std::string& path) {
  std::size_t depth = 0;
  std::size_t line = 0;
  std::size_t line_start = 0;
  bool in_string = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (in_string) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        in_string = false;
      }
      continue;
    }
    if (c == '"') {
      in_string = true;
    } else if (c == '\n') {
      ++line;
      line_start = i + 1;
    } else if (c == ']' || c == '}') {
      if (depth > 0) --depth;
    } else if ((c == '[' || c == '{') && ++depth > kMaxNesting) {
      try {
        throw JsonDict::parse_error::create(
            101, nlohmann::detail::position_t{i + 1, i + 1 - line_start, line},
            "syntax error while parsing value - nesting deeper than " + std::to_string(kMaxNesting) +
                " levels is not supported",
            static_cast<const JsonDict*>(nullptr));
      } catch (const JsonDict::exception& e) {
        std::throw_with_nested(InvalidArgumentError(path + " is not valid JSON: " + e.what()));
      }
    }
  }
}

}  // namespace

ICallReader::ICallReader(const std::optional<std::string>& file_path_) : file_path(checked_path(file_path_)) {}

ICallReader::ICallReader(const char* file_path_)
    : ICallReader(file_path_ == nullptr ? std::nullopt : std::optional<std::string>(file_path_)) {}

ICallReader::~ICallReader() = default;

std::string ICallReader::reader_source_name() const { return source_name; }

JsonDict ICallReader::_load_json() const {
  const std::string bytes = read_file_bytes(file_path);
  require_utf8(bytes, file_path);
  require_bounded_nesting(bytes, file_path);
  return parse_json_document(bytes, file_path);
}

void ICallReader::_log_skip(const std::string& gene, const std::string& reason) {
  log_warning("Skipping %s: %s", gene, reason);
}

}  // namespace callset_converter
