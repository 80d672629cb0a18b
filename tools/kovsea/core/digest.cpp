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

namespace {

std::string Hex(const unsigned char* digest, size_t bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < bytes; ++i) {
    out.push_back(kDigits[digest[i] >> 4]);
    out.push_back(kDigits[digest[i] & 15]);
  }
  return out;
}

}  // namespace

#ifdef _WIN32

struct Sha256::State {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
};

Sha256::Sha256() : state_(new State) {
  if (BCryptOpenAlgorithmProvider(&state_->algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) == 0) {
    BCryptCreateHash(state_->algorithm, &state_->hash, nullptr, 0, nullptr, 0, 0);
  }
}

Sha256::~Sha256() {
  if (state_->hash != nullptr) BCryptDestroyHash(state_->hash);
  if (state_->algorithm != nullptr) BCryptCloseAlgorithmProvider(state_->algorithm, 0);
  delete state_;
}

void Sha256::Update(const void* data, size_t bytes) {
  if (state_->hash != nullptr) {
    BCryptHashData(state_->hash, static_cast<PUCHAR>(const_cast<void*>(data)), static_cast<ULONG>(bytes), 0);
  }
}

std::string Sha256::HexDigest() {
  unsigned char digest[32];
  if (state_->hash == nullptr || BCryptFinishHash(state_->hash, digest, sizeof digest, 0) != 0) return "";
  return Hex(digest, sizeof digest);
}

#else

struct Sha256::State {
  EVP_MD_CTX* context = nullptr;
};

Sha256::Sha256() : state_(new State) {
  state_->context = EVP_MD_CTX_new();
  if (state_->context != nullptr) EVP_DigestInit_ex(state_->context, EVP_sha256(), nullptr);
}

Sha256::~Sha256() {
  EVP_MD_CTX_free(state_->context);
  delete state_;
}

void Sha256::Update(const void* data, size_t bytes) {
  if (state_->context != nullptr) EVP_DigestUpdate(state_->context, data, bytes);
}

std::string Sha256::HexDigest() {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (state_->context == nullptr || EVP_DigestFinal_ex(state_->context, digest, &length) != 1) return "";
  return Hex(digest, length);
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
