#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <string>

namespace callset_converter {

// `text` as one gzip stream (RFC 1952). IoError names `path` (the file the
// stream is meant for) when zlib fails.
std::string gzip_compress(const std::string& text, const std::string& path);

// The text inside one gzip stream; nothing when `bytes` is not one whole
// stream or its text passes `max_size` bytes.
std::optional<std::string> gzip_decompress(const std::string& bytes,
                                           std::uint64_t max_size = std::numeric_limits<std::uint64_t>::max());

}  // namespace callset_converter
