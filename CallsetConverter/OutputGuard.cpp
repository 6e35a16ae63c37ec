#include "CallsetConverter/OutputGuard.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <optional>
#include <set>
#include <string_view>
#include <utility>

#include "CallsetConverter/HelvaraPgxConstants.h"
#include "CallsetConverter/Models/JsonDict.h"
#include "CallsetConverter/Support/Errors.h"
#include "CallsetConverter/Support/Files.h"
#include "CallsetConverter/Support/Gzip.h"
#include "CallsetConverter/Support/Json.h"

namespace callset_converter {

namespace C = HelvaraPgxConstants;

namespace {

const std::set<std::string, std::less<>>& result_members() {
  static const std::set<std::string, std::less<>> MEMBERS = {C::ID, C::NAME, C::STAR_ALLELE, C::ACTIVITY};
  return MEMBERS;
}

// Up to `size` bytes from the start of `path`; nothing when it cannot be
// read.
std::optional<std::string> read_start(const std::string& path, std::size_t size) {
  const FdGuard guard(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (guard.fd < 0) return std::nullopt;
  std::string bytes(size, '\0');
  std::size_t filled = 0;
  while (filled < size) {
    const ssize_t got = ::read(guard.fd, bytes.data() + filled, size - filled);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return std::nullopt;
    if (got == 0) break;
    filled += static_cast<std::size_t>(got);
  }
  bytes.resize(filled);
  return bytes;
}

// Whether `text` may begin a result: "[" then "]", or "[", "{" and a first
// member that a result has. A start too short to tell may.
bool may_start_result(std::string_view text) {
  std::size_t at = 0;
  // The next character after JSON white space; '\0' at the end.
  const auto next = [&] {
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t' || text[at] == '\n' || text[at] == '\r')) ++at;
    return at < text.size() ? text[at++] : '\0';
  };
  char c = next();
  if (c != '[') return c == '\0';
  c = next();
  if (c == ']' || c == '\0') return true;
  if (c != '{') return false;
  c = next();
  if (c != '"') return c == '\0';
  const std::size_t close = text.find('"', at);
  if (close == std::string_view::npos) return true;
  const std::string_view name = text.substr(at, close - at);
  // An escaped name is left to the parser.
  return name.find('\\') != std::string_view::npos || result_members().contains(name);
}

}  // namespace

bool is_earlier_result(const std::string& path, std::uint64_t max_size) {
  // Enough to see the first member name of an indented result.
  constexpr std::size_t START_SIZE = 256;
  try {
    const std::optional<std::string> start = read_start(path, START_SIZE);
    if (!start) return false;
    const bool gzipped = start->starts_with("\x1f\x8b");
    if (!gzipped && !may_start_result(*start)) return false;
    std::string text = read_file_bytes(path, max_size);
    if (gzipped) {
      std::optional<std::string> inflated = gzip_decompress(text, max_size);
      if (!inflated || !may_start_result(*inflated)) return false;
      text = std::move(*inflated);
    }
    const JsonDict document = parse_json_document(text, path);
    if (!document.is_array()) return false;
    for (const auto& element : document) {
      if (!element.is_object() || element.size() != result_members().size()) return false;
      for (const auto& [name, value] : element.items()) {
        if (!result_members().contains(name)) return false;
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

FileIdentity file_identity(const std::string& path, const KnownFiles* known) {
  if (known != nullptr) {
    if (const auto found = known->find(path); found != known->end()) return {found->second, false, {}};
  }
  struct stat info {};
  if (path.find('\0') == std::string::npos && ::stat(path.c_str(), &info) == 0) {
    return {std::pair{info.st_dev, info.st_ino}, false, {}};
  }
  std::error_code error;
  const auto resolved = std::filesystem::weakly_canonical(path, error);
  if (!error) return {std::nullopt, true, resolved.string()};
  return {std::nullopt, false, path};
}

namespace {

// What same_file compares, found once per path: its file identity when it
// exists (`missing` when nothing is there), and its resolved form, resolved
// only when asked.
struct PathIdentity {
  PathIdentity(const std::string& path_, const KnownFiles* known) : path(path_) {
    if (known != nullptr) {
      if (const auto found = known->find(path); found != known->end()) {
        file = found->second;
        return;
      }
    }
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

  const std::string& path;  // the caller's, which outlives this
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

void refuse_outputs_over_inputs(const std::vector<std::string>& inputs, const std::vector<std::string>& outputs,
                                const KnownFiles* known) {
  // Each path is looked at once, not once per pair: a sample of a cohort
  // names twenty inputs or more.
  std::vector<PathIdentity> input_identities;
  input_identities.reserve(inputs.size());
  for (const auto& input : inputs) input_identities.emplace_back(input, known);
  const bool inputs_exist =
      std::all_of(input_identities.begin(), input_identities.end(), [](const auto& input) { return input.file; });
  for (const auto& output : outputs) {
    PathIdentity output_identity(output, nullptr);
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
