#include "CallsetConverter/Mappings.h"

#include <cstdlib>
#include <map>
#include <string_view>
#include <utility>

#include "CallsetConverter/Support/Errors.h"
#include "CallsetConverter/Support/Files.h"
#include "CallsetConverter/Support/Json.h"

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

JsonDict load_mapping(const std::string& identifier) {
  const std::string origin = mapping_origin(identifier);
  if (mappings_dir()) return require_object(load_json_file(origin), origin);
  const auto& tables = embedded::tables();
  const auto found = tables.find(identifier);
  if (found == tables.end()) throw FileNotFoundError("File not found: " + origin);
  return require_object(parse_json_document(found->second, origin), origin);
}

}  // namespace callset_converter
