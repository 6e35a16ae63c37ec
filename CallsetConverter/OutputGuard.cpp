#include "CallsetConverter/OutputGuard.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <set>

#include "CallsetConverter/HelvaraPgxConstants.h"
#include "CallsetConverter/Models/JsonDict.h"
#include "CallsetConverter/Support/Errors.h"
#include "CallsetConverter/Support/Files.h"
#include "CallsetConverter/Support/Gzip.h"
#include "CallsetConverter/Support/Json.h"

namespace callset_converter {

namespace C = HelvaraPgxConstants;

bool is_earlier_result(const std::string& path) {
  static const std::set<std::string> MEMBERS = {C::ID, C::NAME, C::STAR_ALLELE, C::ACTIVITY};
  try {
    std::string text = read_file_bytes(path);
    if (text.starts_with("\x1f\x8b")) {
      std::optional<std::string> inflated = gzip_decompress(text);
      if (!inflated) return false;
      text = std::move(*inflated);
    }
    const JsonDict document = parse_json_document(text, path);
    if (!document.is_array()) return false;
    for (const auto& element : document) {
      if (!element.is_object() || element.size() != MEMBERS.size()) return false;
      for (const auto& [name, value] : element.items()) {
        if (!MEMBERS.contains(name)) return false;
      }
    }
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

bool same_file(const std::string& first, const std::string& second) {
  std::error_code error;
  if (std::filesystem::equivalent(first, second, error)) return true;
  std::error_code first_error;
  std::error_code second_error;
  const auto first_resolved = std::filesystem::weakly_canonical(first, first_error);
  const auto second_resolved = std::filesystem::weakly_canonical(second, second_error);
  return !first_error && !second_error && first_resolved == second_resolved;
}

void refuse_outputs_over_inputs(const std::vector<std::string>& inputs, const std::vector<std::string>& outputs) {
  for (const auto& output : outputs) {
    const auto input =
        std::find_if(inputs.begin(), inputs.end(), [&](const auto& path) { return same_file(output, path); });
    if (input != inputs.end())
      throw InvalidArgumentError("Refusing to write " + output + ": it is the input file " + *input);
  }
}

}  // namespace callset_converter
