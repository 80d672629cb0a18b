// How long the paths of a self-extractor's entries get at the user's site: the user's
// temporary directory, the stub's extraction root below it, and the entry's name.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "install_layout.h"

// The temporary directory the checks assume, in characters: "C:\Users\", a user name of 20
// characters (the longest Windows allows) and "\AppData\Local\Temp\".
constexpr uint32_t kDefaultTempLength = 9 + 20 + 20;

// The length of the full path an entry named `name_length` characters gets at the user's
// site under a temporary directory of `temp_length` characters.
inline uint64_t PathLengthAtSite(uint32_t temp_length, size_t name_length) {
  return uint64_t{temp_length} + kRootAddedCharacters + name_length;
}
