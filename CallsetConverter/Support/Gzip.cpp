#include "CallsetConverter/Support/Gzip.h"

#include <zlib.h>

#include <memory>

#include "CallsetConverter/Support/Errors.h"

namespace callset_converter {

namespace {

// Window bits that make zlib read and write the gzip wrapper.
constexpr int kGzipWindowBits = 15 + 16;

}  // namespace

std::string gzip_compress(const std::string& text, const std::string& path) {
  z_stream stream{};
  if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, kGzipWindowBits, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    throw IoError("Cannot compress " + path + ": zlib could not be initialised");
  }
  std::unique_ptr<z_stream, int (*)(z_stream*)> guard(&stream, deflateEnd);
  std::string out(deflateBound(&stream, static_cast<uLong>(text.size())), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  stream.avail_in = static_cast<uInt>(text.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  if (deflate(&stream, Z_FINISH) != Z_STREAM_END) {
    throw IoError("Cannot compress " + path + ": " + (stream.msg != nullptr ? stream.msg : "zlib failed"));
  }
  out.resize(stream.total_out);
  return out;
}

std::optional<std::string> gzip_decompress(const std::string& bytes, std::uint64_t max_size) {
  z_stream stream{};
  if (inflateInit2(&stream, kGzipWindowBits) != Z_OK) return std::nullopt;
  std::unique_ptr<z_stream, int (*)(z_stream*)> guard(&stream, inflateEnd);
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  stream.avail_in = static_cast<uInt>(bytes.size());
  std::string text;
  char buffer[1 << 14];
  int status = Z_OK;
  // Stopping at the limit keeps a small stream that inflates without end
  // from filling memory.
  while (status == Z_OK && text.size() <= max_size) {
    stream.next_out = reinterpret_cast<Bytef*>(buffer);
    stream.avail_out = sizeof buffer;
    status = inflate(&stream, Z_NO_FLUSH);
    text.append(buffer, sizeof buffer - stream.avail_out);
  }
  if (status != Z_STREAM_END || stream.avail_in != 0 || text.size() > max_size) return std::nullopt;
  return text;
}

}  // namespace callset_converter
