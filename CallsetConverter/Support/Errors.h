#pragma once

#include <stdexcept>
#include <string>
#include <utility>

namespace callset_converter {

// The error kinds of the system. Each carries the exact message the caller
// sees through what(); what() is a C string and ends at a NUL character that
// a message quoting input text may hold, so each also keeps its whole
// message for full_message().

// The whole message of an error of the system.
class FullMessage {
 public:
  explicit FullMessage(std::string message) : message_(std::move(message)) {}
  virtual ~FullMessage();
  FullMessage(const FullMessage&) = default;
  FullMessage& operator=(const FullMessage&) = default;
  const std::string& message() const { return message_; }

 private:
  std::string message_;
};

// The whole message of `error`: its FullMessage when it has one, else what().
std::string full_message(const std::exception& error);

// Missing inputs, unsupported file types, unusable file content.
class InvalidArgumentError : public std::invalid_argument, public FullMessage {
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
class IoError : public std::runtime_error, public FullMessage {
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
class MalformedStructureError : public std::runtime_error, public FullMessage {
 public:
  explicit MalformedStructureError(const std::string& message);
  ~MalformedStructureError() override;
};

// A file whose reading or conversion ran out of memory: "out of memory while
// reading <path>".
class OutOfMemoryError : public std::runtime_error, public FullMessage {
 public:
  explicit OutOfMemoryError(const std::string& message);
  ~OutOfMemoryError() override;
};

}  // namespace callset_converter
