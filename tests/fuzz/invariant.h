// What a fuzzer does when an invariant breaks: says which, and aborts so the fuzzer keeps the
// input.
#pragma once

#include <stdio.h>
#include <stdlib.h>

#include <string>

inline void Require(bool condition, const char* what, const std::string& detail) {
  if (!condition) {
    fprintf(stderr, "invariant broken: %s: %s\n", what, detail.c_str());
    abort();
  }
}
