#pragma once

#include <string>
#include <string_view>

namespace callset_converter {

// The SHA-256 digest of `bytes` as 64 lower-case hexadecimal digits.
std::string sha256_hex(std::string_view bytes);

}  // namespace callset_converter
