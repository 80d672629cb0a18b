// Message digests through the system's own cryptography: OpenSSL's libcrypto on Linux, the
// Windows cryptography API (bcrypt) on Windows. SHA-256 names every file and entry; the other
// algorithms are the ones a code signature may name for the digest of the image it signs.
// Digests are printed as lowercase hex, as sha256sum prints them.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>

#include "platform_files.h"

enum class DigestAlgorithm { kSha1, kSha256, kSha384, kSha512 };

// "sha1", "sha256", "sha384", "sha512": how reports name the algorithm.
const char* DigestName(DigestAlgorithm algorithm);

class Digest {
 public:
  explicit Digest(DigestAlgorithm algorithm);
  ~Digest();
  Digest(const Digest&) = delete;
  Digest& operator=(const Digest&) = delete;
  void Update(const void* data, size_t bytes);
  // Finishes the digest and returns its bytes (empty when the system could not make it); the
  // object takes no more data afterwards.
  std::string Finish();
  // Gives `copy` (made for the same algorithm) this digest's state, so that two digests of
  // inputs that share a beginning read it once.
  void CopyTo(Digest* copy) const;

 private:
  struct State;
  State* state_;
};

class Sha256 : public Digest {
 public:
  Sha256() : Digest(DigestAlgorithm::kSha256) {}
  std::string HexDigest();
};

// `bytes` as lowercase hex.
std::string HexBytes(const std::string& bytes);

// The digest of `bytes` bytes of `file` from `offset`; empty when they cannot all be read.
std::string DigestRange(platform::File* file, uint64_t offset, uint64_t bytes);
