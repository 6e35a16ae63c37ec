#include "CallsetConverter/Support/Errors.h"

namespace callset_converter {

FullMessage::~FullMessage() = default;

std::string full_message(const std::exception& error) {
  if (const auto* whole = dynamic_cast<const FullMessage*>(&error)) return whole->message();
  return error.what();
}

// Out-of-line destructors anchor each class's type information in this
// library, so that a catch in one module matches a throw in another.
InvalidArgumentError::InvalidArgumentError(const std::string& message)
    : std::invalid_argument(message), FullMessage(message) {}
InvalidArgumentError::~InvalidArgumentError() = default;

TextDecodeError::TextDecodeError(const std::string& message) : InvalidArgumentError(message) {}
TextDecodeError::~TextDecodeError() = default;

IoError::IoError(const std::string& message) : std::runtime_error(message), FullMessage(message) {}
IoError::~IoError() = default;

FileNotFoundError::FileNotFoundError(const std::string& message) : IoError(message) {}
FileNotFoundError::~FileNotFoundError() = default;

MalformedStructureError::MalformedStructureError(const std::string& message)
    : std::runtime_error(message), FullMessage(message) {}
MalformedStructureError::~MalformedStructureError() = default;

OutOfMemoryError::OutOfMemoryError(const std::string& message) : std::runtime_error(message), FullMessage(message) {}
OutOfMemoryError::~OutOfMemoryError() = default;

}  // namespace callset_converter
