#pragma once

#include <string>
#include <string_view>

namespace callset_converter {

// The SHA-256 digest of `bytes` as 64 lower-case hexadecimal digits.
std::string sha256_hex(std::string_view bytes);

// Starts the digest's library, OpenSSL, as a program that uses it for
// sha256_hex alone needs it: without reading OpenSSL's configuration file
// and without registering every cipher and digest by name, which together
// cost more processor time than converting a sample's report. This decides
// for the whole process, so only a program calls it, before anything else;
// a library user's process keeps OpenSSL's own defaults.
void start_digest_for_program();

}  // namespace callset_converter
