// Bounded string helpers for fixed-size path buffers: they never write past `capacity` and
// always leave the destination terminated.
#pragma once

#include <stddef.h>

// The longest full path the stub creates, starts or registers, as the ANSI calls of Windows
// take them (MAX_PATH less the terminator), and the buffer that holds one.
constexpr size_t kMaxPathLength = 259;
constexpr size_t kPathCapacity = kMaxPathLength + 1;

// Copies `source` into `dest`; false (and a cut, terminated copy) when it did not fit.
bool CopyText(char* dest, size_t capacity, const char* source);
// Appends `source` to the text already in `dest`; false (cut, terminated) when it did not fit.
bool AppendText(char* dest, size_t capacity, const char* source);
// Appends `source` in double quotes, as a command line names a program whose path may hold
// a blank; false (cut, terminated) when it did not fit.
bool AppendQuoted(char* dest, size_t capacity, const char* source);
size_t TextLength(const char* text);

// Upper case for the ASCII letters only: device names are ASCII, and no locale may change
// how they compare.
inline char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }
// The same for every character of a terminated string, as Windows compares file names in
// the ASCII range.
inline void UpperAsciiInPlace(char* text) {
  for (; *text != '\0'; ++text) *text = UpperAscii(*text);
}
