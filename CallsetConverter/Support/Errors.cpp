#include "CallsetConverter/Support/Errors.h"

namespace callset_converter {

// Out-of-line destructors anchor each class's type information in this
// library, so that a catch in one module matches a throw in another.
InvalidArgumentError::InvalidArgumentError(const std::string& message) : std::invalid_argument(message) {}
InvalidArgumentError::~InvalidArgumentError() = default;

TextDecodeError::TextDecodeError(const std::string& message) : InvalidArgumentError(message) {}
TextDecodeError::~TextDecodeError() = default;

IoError::IoError(const std::string& message) : std::runtime_error(message) {}
IoError::~IoError() = default;

FileNotFoundError::FileNotFoundError(const std::string& message) : IoError(message) {}
FileNotFoundError::~FileNotFoundError() = default;

MalformedStructureError::MalformedStructureError(const std::string& message) : std::runtime_error(message) {}
MalformedStructureError::~MalformedStructureError() = default;

}  // namespace callset_converter
