#include "digest.h"

#include <vector>

#ifdef _WIN32
// The cryptography API is Vista's; the rest of the build names an older system.
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0600
#include <windows.h>
#include <bcrypt.h>
#else
#include <openssl/evp.h>
#endif

const char* DigestName(DigestAlgorithm algorithm) {
  switch (algorithm) {
    case DigestAlgorithm::kSha1: return "sha1";
    case DigestAlgorithm::kSha256: return "sha256";
    case DigestAlgorithm::kSha384: return "sha384";
    case DigestAlgorithm::kSha512: return "sha512";
  }
  return "";
}

std::string HexBytes(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out.push_back(kDigits[c >> 4]);
    out.push_back(kDigits[c & 15]);
  }
  return out;
}

std::string Sha256::HexDigest() { return HexBytes(Finish()); }

#ifdef _WIN32

namespace {

LPCWSTR AlgorithmId(DigestAlgorithm algorithm) {
  switch (algorithm) {
    case DigestAlgorithm::kSha1: return BCRYPT_SHA1_ALGORITHM;
    case DigestAlgorithm::kSha256: return BCRYPT_SHA256_ALGORITHM;
    case DigestAlgorithm::kSha384: return BCRYPT_SHA384_ALGORITHM;
    case DigestAlgorithm::kSha512: return BCRYPT_SHA512_ALGORITHM;
  }
  return BCRYPT_SHA256_ALGORITHM;
}

}  // namespace

struct Digest::State {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
};

Digest::Digest(DigestAlgorithm algorithm) : state_(new State) {
  if (BCryptOpenAlgorithmProvider(&state_->algorithm, AlgorithmId(algorithm), nullptr, 0) == 0) {
    BCryptCreateHash(state_->algorithm, &state_->hash, nullptr, 0, nullptr, 0, 0);
  }
}

Digest::~Digest() {
  if (state_->hash != nullptr) BCryptDestroyHash(state_->hash);
  if (state_->algorithm != nullptr) BCryptCloseAlgorithmProvider(state_->algorithm, 0);
  delete state_;
}

void Digest::Update(const void* data, size_t bytes) {
  if (state_->hash != nullptr) {
    BCryptHashData(state_->hash, static_cast<PUCHAR>(const_cast<void*>(data)), static_cast<ULONG>(bytes), 0);
  }
}

void Digest::CopyTo(Digest* copy) const {
  if (copy->state_->hash != nullptr) BCryptDestroyHash(copy->state_->hash);
  copy->state_->hash = nullptr;
  if (state_->hash != nullptr) BCryptDuplicateHash(state_->hash, &copy->state_->hash, nullptr, 0, 0);
}

std::string Digest::Finish() {
  DWORD length = 0;
  ULONG got = 0;
  if (state_->hash == nullptr ||
      BCryptGetProperty(state_->hash, BCRYPT_HASH_LENGTH, reinterpret_cast<PUCHAR>(&length), sizeof length, &got, 0) != 0) {
    return "";
  }
  std::string digest(length, '\0');
  if (BCryptFinishHash(state_->hash, reinterpret_cast<PUCHAR>(&digest[0]), length, 0) != 0) return "";
  BCryptDestroyHash(state_->hash);
  state_->hash = nullptr;
  return digest;
}

#else

namespace {

const EVP_MD* Method(DigestAlgorithm algorithm) {
  switch (algorithm) {
    case DigestAlgorithm::kSha1: return EVP_sha1();
    case DigestAlgorithm::kSha256: return EVP_sha256();
    case DigestAlgorithm::kSha384: return EVP_sha384();
    case DigestAlgorithm::kSha512: return EVP_sha512();
  }
  return EVP_sha256();
}

}  // namespace

struct Digest::State {
  EVP_MD_CTX* context = nullptr;
};

Digest::Digest(DigestAlgorithm algorithm) : state_(new State) {
  state_->context = EVP_MD_CTX_new();
  if (state_->context != nullptr && EVP_DigestInit_ex(state_->context, Method(algorithm), nullptr) != 1) {
    EVP_MD_CTX_free(state_->context);
    state_->context = nullptr;
  }
}

Digest::~Digest() {
  EVP_MD_CTX_free(state_->context);
  delete state_;
}

void Digest::Update(const void* data, size_t bytes) {
  if (state_->context != nullptr) EVP_DigestUpdate(state_->context, data, bytes);
}

void Digest::CopyTo(Digest* copy) const {
  if (state_->context == nullptr || copy->state_->context == nullptr ||
      EVP_MD_CTX_copy_ex(copy->state_->context, state_->context) != 1) {
    EVP_MD_CTX_free(copy->state_->context);
    copy->state_->context = nullptr;
  }
}

std::string Digest::Finish() {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (state_->context == nullptr || EVP_DigestFinal_ex(state_->context, digest, &length) != 1) return "";
  EVP_MD_CTX_free(state_->context);
  state_->context = nullptr;
  return std::string(reinterpret_cast<char*>(digest), length);
}

#endif

std::string DigestRange(platform::File* file, uint64_t offset, uint64_t bytes) {
  if (!platform::SeekTo(file, offset)) return "";
  Sha256 digest;
  std::vector<char> buffer(1u << 20);
  while (bytes > 0) {
    const size_t want = bytes < buffer.size() ? static_cast<size_t>(bytes) : buffer.size();
    if (platform::ReadBytes(file, buffer.data(), want) != want) return "";
    digest.Update(buffer.data(), want);
    bytes -= want;
  }
  return digest.HexDigest();
}
