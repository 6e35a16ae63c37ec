#include "CallsetConverter/Support/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "CallsetConverter/Support/Errors.h"
#include "CallsetConverter/Support/Text.h"

namespace callset_converter {

std::string describe_errno(const std::string& action, const std::string& path, int error) {
  return "Cannot " + action + " " + path + ": " + std::strerror(error);
}

FdGuard::~FdGuard() {
  if (fd >= 0) ::close(fd);
}

namespace {

[[noreturn]] void raise_too_large(const std::string& path, std::uint64_t max_size) {
  throw InvalidArgumentError(path + " is larger than the input size limit of " + std::to_string(max_size) + " bytes");
}

}  // namespace

std::string read_file_bytes(const std::string& path, std::uint64_t max_size) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    if (error == ENOENT) throw FileNotFoundError("File not found: " + path);
    throw IoError(describe_errno("open", path, error));
  }
  FdGuard guard{fd};
  // Read straight into the string: a regular file's size is known, so one
  // read fills it and one more sees its end. A pipe or device has no size up
  // front (and a regular file may grow): the string grows by blocks and the
  // limit is checked on every one, never after the whole is held.
  constexpr std::size_t kBlock = 1 << 16;
  std::string content;
  std::size_t room = kBlock;
  struct stat info {};
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
    if (static_cast<std::uint64_t>(info.st_size) > max_size) raise_too_large(path, max_size);
    content.reserve(static_cast<std::size_t>(info.st_size) + kReadPadding);
    room = static_cast<std::size_t>(info.st_size) + 1;
  }
  content.resize(room);
  std::size_t size = 0;
  for (;;) {
    if (size == content.size()) content.resize(size + std::max(size, kBlock));
    const ssize_t got = ::read(fd, content.data() + size, content.size() - size);
    if (got < 0) {
      if (errno == EINTR) continue;
      throw IoError(describe_errno("read", path, errno));
    }
    if (got == 0) break;
    if (size + static_cast<std::uint64_t>(got) > max_size) raise_too_large(path, max_size);
    size += static_cast<std::size_t>(got);
  }
  content.resize(size);
  if (content.capacity() < size + kReadPadding) content.reserve(size + kReadPadding);
  return content;
}

std::string read_text_file(const std::string& path, bool skip_bom, std::uint64_t max_size) {
  std::string text = read_file_bytes(path, max_size);
  require_utf8(text, path);
  if (skip_bom && text.starts_with("\xEF\xBB\xBF")) text.erase(0, 3);
  return text;
}

namespace {

// stat of `path`; false for the empty path and for a path holding a NUL
// character, which names no file (the system call would see only the text
// before it, another file).
bool stat_path(const std::string& path, struct stat& info) {
  return !path.empty() && path.find('\0') == std::string::npos && ::stat(path.c_str(), &info) == 0;
}

}  // namespace

bool path_exists(const std::string& path) {
  if (path.empty() || path.find('\0') != std::string::npos) return false;
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0) return true;
  const int error = errno;
  if (error == ENOENT || error == ENOTDIR) return false;
  throw IoError(describe_errno("check", path, error));
}

bool is_directory(const std::string& path) {
  struct stat info {};
  return stat_path(path, info) && S_ISDIR(info.st_mode);
}

bool is_regular_file(const std::string& path) {
  struct stat info {};
  return stat_path(path, info) && S_ISREG(info.st_mode);
}

std::string join_path(const std::string& directory, const std::string& name) {
  if (name.starts_with('/')) return name;
  if (directory.empty() || directory.ends_with('/')) return directory + name;
  return directory + "/" + name;
}

std::string base_name(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

}  // namespace callset_converter
