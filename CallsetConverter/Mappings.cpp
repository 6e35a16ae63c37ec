#include "CallsetConverter/Mappings.h"

#include <cstdlib>
#include <map>
#include <new>
#include <string_view>
#include <utility>

#include "CallsetConverter/Support/Errors.h"
#include "CallsetConverter/Support/Files.h"
#include "CallsetConverter/Support/Json.h"
#include "CallsetConverter/Support/Log.h"

namespace callset_converter {

namespace embedded {
// Generated at build time from mappings/*.json.
const std::map<std::string, std::string_view>& tables();
}  // namespace embedded

namespace {

std::optional<std::string>& host_directory() {
  static std::optional<std::string> directory;
  return directory;
}

JsonDict require_object(JsonDict table, const std::string& origin) {
  if (!table.is_object()) {
    throw InvalidArgumentError(origin + ": a mapping table must be a JSON object, not " + kind_name(table));
  }
  return table;
}

}  // namespace

void set_mappings_dir(std::optional<std::string> directory) { host_directory() = std::move(directory); }

std::optional<std::string> mappings_dir() {
  if (host_directory() && !host_directory()->empty()) return host_directory();
  const char* from_environment = std::getenv(MAPPINGS_DIR_VARIABLE);
  if (from_environment != nullptr && *from_environment != '\0') return std::string(from_environment);
  return std::nullopt;
}

std::string mapping_origin(const std::string& identifier) {
  const std::string file_name = identifier + ".json";
  if (const auto directory = mappings_dir()) return join_path(*directory, file_name);
  return "<embedded>/" + file_name;
}

void log_mappings_source() {
  // A host that sets the directory knows it; the environment is easy to
  // forget, and its tables decide every clinical term of the run.
  if (host_directory() && !host_directory()->empty()) return;
  if (const auto directory = mappings_dir()) log_info("Mapping tables from %s (%s)", *directory, MAPPINGS_DIR_VARIABLE);
}

JsonDict load_mapping(const std::string& identifier, std::uint64_t max_input_size) {
  const std::string origin = mapping_origin(identifier);
  if (mappings_dir()) {
    try {
      const std::string text = read_text_file(origin, /*skip_bom=*/false, max_input_size);
      return require_object(parse_json_document(text, origin), origin);
    } catch (const std::bad_alloc&) {
      throw OutOfMemoryError("out of memory while reading " + origin);
    }
  }
  const auto& tables = embedded::tables();
  const auto found = tables.find(identifier);
  if (found == tables.end()) throw FileNotFoundError("File not found: " + origin);
  return require_object(parse_json_document(found->second, origin), origin);
}

}  // namespace callset_converter
