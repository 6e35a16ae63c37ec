#include "CallsetConverter/OutputGuard.h"

#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <set>

#include "CallsetConverter/HelvaraPgxConstants.h"
#include "CallsetConverter/Models/JsonDict.h"
#include "CallsetConverter/Support/Errors.h"
#include "CallsetConverter/Support/Files.h"
#include "CallsetConverter/Support/Json.h"

namespace callset_converter {

namespace C = HelvaraPgxConstants;

namespace {

// The text inside one gzip stream; nothing when `bytes` is not one whole
// stream.
std::optional<std::string> gunzip(const std::string& bytes) {
  z_stream stream{};
  if (inflateInit2(&stream, 15 + 16) != Z_OK) return std::nullopt;
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  stream.avail_in = static_cast<uInt>(bytes.size());
  std::string text;
  char buffer[1 << 14];
  int status = Z_OK;
  while (status == Z_OK) {
    stream.next_out = reinterpret_cast<Bytef*>(buffer);
    stream.avail_out = sizeof buffer;
    status = inflate(&stream, Z_NO_FLUSH);
    text.append(buffer, sizeof buffer - stream.avail_out);
  }
  const bool whole = status == Z_STREAM_END && stream.avail_in == 0;
  inflateEnd(&stream);
  if (!whole) return std::nullopt;
  return text;
}

}  // namespace

bool is_earlier_result(const std::string& path) {
  static const std::set<std::string> MEMBERS = {C::ID, C::NAME, C::STAR_ALLELE, C::ACTIVITY};
  try {
    std::string text = read_file_bytes(path);
    if (text.starts_with("\x1f\x8b")) {
      std::optional<std::string> inflated = gunzip(text);
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

std::string file_identity(const std::string& path) {
  struct stat info {};
  if (path.find('\0') == std::string::npos && ::stat(path.c_str(), &info) == 0) {
    return "inode " + std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
  }
  std::error_code error;
  const auto resolved = std::filesystem::weakly_canonical(path, error);
  if (!error) return "path " + resolved.string();
  return "text " + path;
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
