#include "text.h"

size_t TextLength(const char* text) {
  size_t n = 0;
  while (text[n] != '\0') ++n;
  return n;
}

bool CopyText(char* dest, size_t capacity, const char* source) {
  if (capacity == 0) return false;
  dest[0] = '\0';
  return AppendText(dest, capacity, source);
}

bool AppendText(char* dest, size_t capacity, const char* source) {
  if (capacity == 0) return false;
  size_t at = TextLength(dest);
  for (; *source != '\0'; ++source) {
    if (at + 1 >= capacity) {
      dest[at] = '\0';
      return false;
    }
    dest[at++] = *source;
  }
  dest[at] = '\0';
  return true;
}

bool AppendQuoted(char* dest, size_t capacity, const char* source) {
  const bool opened = AppendText(dest, capacity, "\"");
  const bool body = opened && AppendText(dest, capacity, source);
  return body && AppendText(dest, capacity, "\"");
}
