#include "CallsetConverter/OutputGuard.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <optional>
#include <set>
#include <utility>

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

namespace {

// What same_file compares, found once per path: its file identity when it
// exists (`missing` when nothing is there), and its resolved form, resolved
// only when asked.
struct PathIdentity {
  explicit PathIdentity(std::string path_) : path(std::move(path_)) {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
      file.emplace(info.st_dev, info.st_ino);
    } else {
      missing = errno == ENOENT;
    }
  }

  const std::optional<std::filesystem::path>& resolved() {
    if (!resolved_done) {
      std::error_code error;
      auto form = std::filesystem::weakly_canonical(path, error);
      if (!error) resolved_form = std::move(form);
      resolved_done = true;
    }
    return resolved_form;
  }

  std::string path;
  std::optional<std::pair<dev_t, ino_t>> file;
  bool missing = false;
  bool resolved_done = false;
  std::optional<std::filesystem::path> resolved_form;
};

bool same(PathIdentity& first, PathIdentity& second) {
  if (first.file && first.file == second.file) return true;
  const auto& first_resolved = first.resolved();
  return first_resolved && first_resolved == second.resolved();
}

}  // namespace

void refuse_outputs_over_inputs(const std::vector<std::string>& inputs, const std::vector<std::string>& outputs) {
  // Each path is looked at once, not once per pair: a sample of a cohort
  // names twenty inputs or more.
  std::vector<PathIdentity> input_identities;
  input_identities.reserve(inputs.size());
  for (const auto& input : inputs) input_identities.emplace_back(input);
  const bool inputs_exist =
      std::all_of(input_identities.begin(), input_identities.end(), [](const auto& input) { return input.file; });
  for (const auto& output : outputs) {
    PathIdentity output_identity(output);
    // Nothing at the output's place: no existing input resolves there.
    if (output_identity.missing && inputs_exist) continue;
    for (auto& input : input_identities) {
      if (same(output_identity, input)) {
        throw InvalidArgumentError("Refusing to write " + output + ": it is the input file " + input.path);
      }
    }
  }
}

}  // namespace callset_converter
