// Builds entry streams and whole self-extractor files byte by byte, independently of the
// packer, straight from the file layout.
#pragma once

#include <stdint.h>

#include <string>

namespace test {

inline void Put32(std::string* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

inline std::string DirEntry(const std::string& name) {
  std::string e;
  Put32(&e, 0xFFFFFFFFu);
  e += name;
  e.push_back('\0');
  return e;
}

inline std::string FileEntry(const std::string& name, const std::string& data) {
  std::string e;
  Put32(&e, static_cast<uint32_t>(data.size()));
  e += name;
  e.push_back('\0');
  e += data;
  return e;
}

struct Slot {
  uint32_t offset = 0;
  uint32_t size = 0;
};

// "KOVSEA", two zero bytes, archive offset, size, entry count, four (offset, size) slots.
inline std::string Trailer(uint32_t archive_offset, uint32_t archive_size, uint32_t entries,
                           const Slot (&slots)[4]) {
  std::string t = "KOVSEA";
  t.push_back('\0');
  t.push_back('\0');
  Put32(&t, archive_offset);
  Put32(&t, archive_size);
  Put32(&t, entries);
  for (const Slot& s : slots) {
    Put32(&t, s.offset);
    Put32(&t, s.size);
  }
  return t;
}

// A stand-in PE image of `size` bytes (at least 0x200) whose header names a certificate table
// at `table_offset`, `table_size` bytes long (both 0 = none). `pe32_plus` picks the 64-bit
// form of the optional header; `directory_entries` is its NumberOfRvaAndSizes.
inline std::string PeImage(size_t size, uint32_t table_offset, uint32_t table_size,
                           bool pe32_plus = false, uint32_t directory_entries = 16) {
  std::string image(size, '\0');
  image[0] = 'M';
  image[1] = 'Z';
  const size_t pe = 0x80;
  auto put = [&image](size_t at, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) image[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  put(0x3C, pe, 4);
  image.replace(pe, 4, std::string("PE\0\0", 4));
  const size_t optional = pe + 4 + 20;
  const size_t count_at = pe32_plus ? 108 : 92;
  put(pe + 4 + 16, static_cast<uint32_t>(count_at + 4 + 8 * directory_entries), 2);
  put(optional, pe32_plus ? 0x20B : 0x10B, 2);
  put(optional + count_at, directory_entries, 4);
  if (directory_entries > 4) {
    put(optional + count_at + 4 + 8 * 4, table_offset, 4);
    put(optional + count_at + 4 + 8 * 4 + 4, table_size, 4);
  }
  return image;
}

// A deterministic filler of `n` bytes that differs from position to position.
inline std::string Pattern(size_t n, uint32_t seed = 1) {
  std::string out(n, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < n; ++i) {
    x = x * 1103515245u + 12345u;
    out[i] = static_cast<char>(x >> 24);
  }
  return out;
}

}  // namespace test
