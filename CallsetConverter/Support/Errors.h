#pragma once

#include <stdexcept>
#include <string>

namespace callset_converter {

// The error kinds of the system. Each carries the exact message the caller
// sees through what().

// Missing inputs, unsupported file types, unusable file content.
class InvalidArgumentError : public std::invalid_argument {
 public:
  explicit InvalidArgumentError(const std::string& message);
  ~InvalidArgumentError() override;
};

// Bytes that are not UTF-8. A kind of invalid argument, so whoever handles
// bad content also handles undecodable content.
class TextDecodeError : public InvalidArgumentError {
 public:
  explicit TextDecodeError(const std::string& message);
  ~TextDecodeError() override;
};

// File-system failures: a file that cannot be opened, read or written.
class IoError : public std::runtime_error {
 public:
  explicit IoError(const std::string& message);
  ~IoError() override;
};

// "File not found: <path>".
class FileNotFoundError : public IoError {
 public:
  explicit FileNotFoundError(const std::string& message);
  ~FileNotFoundError() override;
};

// A document whose structure a reader cannot use at all (a diplotype list
// that is not an array, say). Deliberately neither an invalid-argument nor a
// file-system error, so that the version collection of a run does not
// swallow it.
class MalformedStructureError : public std::runtime_error {
 public:
  explicit MalformedStructureError(const std::string& message);
  ~MalformedStructureError() override;
};

}  // namespace callset_converter
