//===- sha256.h - SHA-256 digests of test data and streams -------------------===//
//
// The digest that the recorded streams are known by, so that a test or a
// benchmark can say that a stream is byte for byte the one recorded without
// keeping the stream itself. OpenSSL computes it; callers link OpenSSL::Crypto.
//
//===----------------------------------------------------------------------===//
#pragma once

#include <openssl/sha.h>

#include <cstdint>
#include <span>
#include <string>

namespace qd::test {

// The digest of the bytes in lowercase hexadecimal, as sha256sum prints it.
inline std::string Sha256Hex(std::span<const std::uint8_t> bytes) {
  unsigned char digest[SHA256_DIGEST_LENGTH];
  SHA256(bytes.data(), bytes.size(), digest);
  static constexpr char Digits[] = "0123456789abcdef";
  std::string hex;
  for (const unsigned char byte : digest) {
    hex += Digits[byte >> 4];
    hex += Digits[byte & 0xF];
  }
  return hex;
}

}  // namespace qd::test
