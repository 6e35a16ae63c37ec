#pragma once

// Shared helpers for the test programs: a capture of log records, a
// temporary directory that removes itself, file writing and text joining.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "CallsetConverter/Models/CallerStatement.h"
#include "CallsetConverter/Support/Log.h"
#include "CallsetConverter/Support/Text.h"

namespace callset_converter {

// Failure output shows a statement, haplotypes included.
inline void PrintTo(const CallerStatement& statement, std::ostream* out) {
  *out << statement.repr() << " haplotypes=" << quoted_literal(statement.haplotypes);
}

}  // namespace callset_converter

namespace callset_converter::testing {

// The parts (texts, literals) joined into one text, with no temporaries in
// between as a chain of + makes.
template <typename... Parts>
std::string concat(const Parts&... parts) {
  std::string out;
  (out.append(parts), ...);
  return out;
}

// The message of the `Error` that `body` raises; a test failure when it
// raises none.
template <typename Error, typename Body>
std::string message_of(Body body) {
  try {
    body();
  } catch (const Error& error) {
    return error.what();
  }
  ADD_FAILURE() << "expected an error";
  return {};
}

// Captures every record at every level while it lives, then restores the
// logger as it was.
class LogCapture {
 public:
  LogCapture() : old_level_(Logger::instance().level()), old_handler_(Logger::instance().handler()) {
    Logger::instance().set_level(LogLevel::NOTSET);
    Logger::instance().set_handler([this](const LogRecord& record) { records.push_back(record); });
  }
  ~LogCapture() {
    Logger::instance().set_level(old_level_);
    Logger::instance().set_handler(old_handler_);
  }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  // Messages of the records at `level`, in order.
  std::vector<std::string> messages(LogLevel level) const {
    std::vector<std::string> out;
    for (const auto& record : records) {
      if (record.level == level) out.push_back(record.message);
    }
    return out;
  }
  std::vector<std::string> warnings() const { return messages(LogLevel::WARNING); }

  std::vector<LogRecord> records;

 private:
  LogLevel old_level_;
  LogHandler old_handler_;
};

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes.
class TempDir {
 public:
  TempDir() {
    std::random_device seed;
    path_ =
        std::filesystem::temp_directory_path() / ("callset-test-" + std::to_string(seed()) + std::to_string(seed()));
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // Path of `name` inside the directory, as text.
  std::string file(const std::string& name) const { return (path_ / name).string(); }
  // Writes `content` (bytes, unchanged) to `name` and returns its path.
  std::string write(const std::string& name, const std::string& content) const {
    const auto target = path_ / name;
    std::filesystem::create_directories(target.parent_path());
    std::ofstream out(target, std::ios::binary);
    out << content;
    return target.string();
  }

 private:
  std::filesystem::path path_;
};

inline std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The names of the entries of `directory`, sorted.
inline std::vector<std::string> names_in(const std::filesystem::path& directory) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// The folder of real caller outputs, or an empty string when it is absent.
inline std::string realdata_dir() {
  const std::string dir = CALLSET_REALDATA_DIR;
  return std::filesystem::is_directory(dir) ? dir : std::string();
}

}  // namespace callset_converter::testing
