#include "CallsetConverter/Support/Digest.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <stdexcept>

namespace callset_converter {

std::string sha256_hex(std::string_view bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), digest, &size, EVP_sha256(), nullptr) != 1) {
    throw std::runtime_error("Cannot compute a SHA-256 digest: libcrypto failed");
  }
  static constexpr char DIGITS[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(static_cast<std::size_t>(size) * 2);
  for (unsigned int i = 0; i < size; ++i) {
    hex.push_back(DIGITS[digest[i] >> 4]);
    hex.push_back(DIGITS[digest[i] & 0x0f]);
  }
  return hex;
}

void start_digest_for_program() {
  // A failure here is no failure of the program: the first digest then
  // starts OpenSSL the default way, or reports the fault itself.
  OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG | OPENSSL_INIT_NO_ADD_ALL_CIPHERS | OPENSSL_INIT_NO_ADD_ALL_DIGESTS,
                      nullptr);
}

}  // namespace callset_converter
