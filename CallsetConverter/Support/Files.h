#pragma once

#include <string>
#include <string_view>

namespace callset_converter {

// Whole content of `path` as bytes. A missing file raises FileNotFoundError
// ("File not found: <path>"); any other failure to open or read (a
// directory, no permission) raises IoError naming the path and the cause.
std::string read_file_bytes(const std::string& path);

// Content of `path` as UTF-8 text: TextDecodeError when the bytes are not
// UTF-8; a leading byte-order mark is removed when `skip_bom` is set.
std::string read_text_file(const std::string& path, bool skip_bom);

// File-system tests on a path string; each follows symbolic links and is
// false for the empty path and for a path holding a NUL character.
bool path_exists(const std::string& path);
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
