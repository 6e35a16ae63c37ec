#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "CallsetConverter/Support/Files.h"

namespace callset_converter {

// Whether `path` holds a result this converter wrote: a JSON array, plain or
// gzipped, whose every element is an object with exactly the members Id,
// Name, StarAllele and Activity. A file that cannot be read or parsed is not,
// nor one whose bytes (or, gzipped, whose text) pass `max_size`. A file whose
// start already tells it apart (most callers write a JSON object) is not read
// further.
bool is_earlier_result(const std::string& path, std::uint64_t max_size = kDefaultMaxInputSize);

// Whether two paths name the same file: the same file identity, or the same
// path once symbolic links and dot components are resolved (so also for a
// file that does not exist yet).
bool same_file(const std::string& first, const std::string& second);

// The device and inode of files a run has already looked at, by the path it
// names them with: a cohort's shared inputs, looked at once for the whole
// run rather than again for each sample.
using KnownFiles = std::unordered_map<std::string, std::pair<dev_t, ino_t>>;

// A key for the file at `path`, equal for two paths when same_file holds for
// them: the device and inode of an existing file, else the resolved path,
// else the path as written. Taken once per path, it lets many paths be told
// apart without a file-system look for every pair; a path in `known` is not
// looked at again.
struct FileIdentity {
  std::optional<std::pair<dev_t, ino_t>> inode;
  bool resolved = false;  // `path` is resolved, not as written
  std::string path;       // without an inode
  bool operator==(const FileIdentity&) const = default;
};
FileIdentity file_identity(const std::string& path, const KnownFiles* known = nullptr);

// Raises InvalidArgumentError naming both when any of `outputs` (the result
// path, the sidecar path) is the same file as any of `inputs`, so that a run
// never writes over what it reads. Inputs in `known` are not looked at again.
void refuse_outputs_over_inputs(const std::vector<std::string>& inputs, const std::vector<std::string>& outputs,
                                const KnownFiles* known = nullptr);

}  // namespace callset_converter
