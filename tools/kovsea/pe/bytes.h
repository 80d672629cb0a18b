// Little-endian fields of an image held in a std::string: read at an offset, written at an
// offset, or appended. Callers check the bounds first.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>

#include "byte_order.h"

namespace pe {

inline uint16_t Get16(const std::string& s, size_t at) {
  return LoadLe16(reinterpret_cast<const uint8_t*>(s.data() + at));
}
inline uint32_t Get32(const std::string& s, size_t at) {
  return LoadLe32(reinterpret_cast<const uint8_t*>(s.data() + at));
}
inline void Set16(std::string* s, size_t at, uint16_t v) {
  (*s)[at] = static_cast<char>(v);
  (*s)[at + 1] = static_cast<char>(v >> 8);
}
inline void Set32(std::string* s, size_t at, uint32_t v) { StoreLe32(reinterpret_cast<uint8_t*>(&(*s)[at]), v); }
inline void Put16(std::string* s, uint16_t v) {
  s->push_back(static_cast<char>(v));
  s->push_back(static_cast<char>(v >> 8));
}
inline void Put32(std::string* s, uint32_t v) {
  Put16(s, static_cast<uint16_t>(v));
  Put16(s, static_cast<uint16_t>(v >> 16));
}
inline void PadTo(std::string* s, size_t alignment) {
  while (s->size() % alignment != 0) s->push_back('\0');
}
inline uint32_t AlignUp(uint32_t v, uint32_t alignment) { return (v + alignment - 1) / alignment * alignment; }

}  // namespace pe
