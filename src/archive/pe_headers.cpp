#include "pe_headers.h"

#include "byte_order.h"

namespace {

constexpr uint32_t kCoffHeaderAt = 4;
constexpr uint32_t kCoffHeaderSize = 20;
// Where NumberOfRvaAndSizes stands in the two forms of the optional header.
constexpr uint32_t kDirectoryCountPe32 = 92;
constexpr uint32_t kDirectoryCountPe32Plus = 108;

}  // namespace

bool ParsePeHeaders(const uint8_t* pe, size_t length, PeHeaders* headers) {
  const uint32_t optional_at = kCoffHeaderAt + kCoffHeaderSize;
  if (length < optional_at + 2 || pe[0] != 'P' || pe[1] != 'E' || pe[2] != 0 || pe[3] != 0) {
    return false;
  }
  uint32_t count_at;
  switch (LoadLe16(pe + optional_at)) {
    case 0x10B: count_at = kDirectoryCountPe32; headers->plus = false; break;
    case 0x20B: count_at = kDirectoryCountPe32Plus; headers->plus = true; break;
    default: return false;
  }
  headers->optional_at = optional_at;
  headers->optional_size = LoadLe16(pe + kCoffHeaderAt + 16);
  headers->section_count = LoadLe16(pe + kCoffHeaderAt + 2);
  headers->sections_at = optional_at + headers->optional_size;
  headers->directory_at = optional_at + count_at + 4;
  const bool has_count = headers->optional_size >= count_at + 4 && optional_at + count_at + 4 <= length;
  headers->directory_count = has_count ? LoadLe32(pe + optional_at + count_at) : 0;
  return true;
}

uint32_t DataDirectoryEntryAt(const PeHeaders& headers, uint32_t index, size_t length) {
  if (index >= headers.directory_count) return 0;
  const uint64_t entry = uint64_t{headers.directory_at} + 8ull * index;
  if (entry + 8 > uint64_t{headers.optional_at} + headers.optional_size || entry + 8 > length) return 0;
  return static_cast<uint32_t>(entry);
}
