// SHA-256 through the system's own cryptography: OpenSSL's libcrypto on Linux, the Windows
// cryptography API (bcrypt) on Windows. Digests are printed as lowercase hex, as sha256sum
// prints them.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>

#include "platform_files.h"

class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;
  void Update(const void* data, size_t bytes);
  // Finishes the digest; the object takes no more data afterwards.
  std::string HexDigest();

 private:
  struct State;
  State* state_;
};

// The digest of `bytes` bytes of `file` from `offset`; empty when they cannot all be read.
std::string DigestRange(platform::File* file, uint64_t offset, uint64_t bytes);
