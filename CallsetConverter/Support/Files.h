#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace callset_converter {

// The most bytes one input file or mapping table may hold unless a run says
// otherwise: 1 GiB. A device such as /dev/zero never ends, and a file beyond
// any real caller output would only exhaust memory.
inline constexpr std::uint64_t kDefaultMaxInputSize = std::uint64_t{1} << 30;

// Spare capacity that read_file_bytes leaves after the content, so that a
// JSON parser can read ahead of the text's end without copying it.
inline constexpr std::size_t kReadPadding = 64;

// Whole content of `path` as bytes, read with one open and one pass, so a
// named pipe or a device works like a regular file. A missing file raises
// FileNotFoundError ("File not found: <path>"); any other failure to open or
// read (a directory, no permission) raises IoError naming the path and the
// cause. Content beyond `max_size` bytes raises InvalidArgumentError "<path>
// is larger than the input size limit of <max_size> bytes", up front when
// the size is known and otherwise as soon as the limit is passed.
std::string read_file_bytes(const std::string& path, std::uint64_t max_size = kDefaultMaxInputSize);

// Content of `path` as UTF-8 text: TextDecodeError when the bytes are not
// UTF-8; a leading byte-order mark is removed when `skip_bom` is set.
std::string read_text_file(const std::string& path, bool skip_bom, std::uint64_t max_size = kDefaultMaxInputSize);

// Whether something exists at `path` (symbolic links followed): only a path
// that names nothing (ENOENT, ENOTDIR; also the
// empty path and one holding a NUL character) is false. Any other failure
// to check (a directory that may not be searched, a name too long, a loop of
// symbolic links) raises IoError "Cannot check <path>: <reason>", since
// taking such a path for absent could put another file in its place.
bool path_exists(const std::string& path);

// File-system tests on a path string; each follows symbolic links and is
// false for the empty path, for a path holding a NUL character and for a
// path that cannot be checked.
bool is_directory(const std::string& path);
bool is_regular_file(const std::string& path);

// Joins a directory and a name: the separator is added unless the directory
// is empty or already ends with one; an absolute name replaces the directory.
std::string join_path(const std::string& directory, const std::string& name);

// The final component of a path: the text after the last separator.
std::string base_name(std::string_view path);

// "Cannot <action> <path>: <the system's text for error>".
std::string describe_errno(const std::string& action, const std::string& path, int error);

// Closes a descriptor when the operation that opened it returns or fails.
struct FdGuard {
  explicit FdGuard(int descriptor) : fd(descriptor) {}
  ~FdGuard();
  FdGuard(const FdGuard&) = delete;
  FdGuard& operator=(const FdGuard&) = delete;

  int fd;
};

}  // namespace callset_converter
