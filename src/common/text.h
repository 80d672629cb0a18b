// Bounded string helpers for fixed-size path buffers: they never write past `capacity`
// and always leave the destination terminated.
#pragma once

#include <stddef.h>

// Copies `source` into `dest`; false (and a cut, terminated copy) when it did not fit.
bool CopyText(char* dest, size_t capacity, const char* source);
// Appends `source` to the text already in `dest`; false (cut, terminated) when it did not fit.
bool AppendText(char* dest, size_t capacity, const char* source);
size_t TextLength(const char* text);

// Upper case for the ASCII letters only: Windows compares file names that way for the ranges
// that matter here, and no locale may change it.
inline char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }
