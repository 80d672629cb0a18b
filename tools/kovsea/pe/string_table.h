// String table resources: strings are stored sixteen to a block, block N (its resource name)
// holding the strings numbered (N - 1) * 16 to (N - 1) * 16 + 15, each as a 16-bit count of
// UTF-16 code units followed by those units, an absent string as a count of 0.
#pragma once

#include <stdint.h>

#include <string>

#include "problem.h"

namespace pe {

constexpr uint16_t kTypeString = 6;
constexpr int kStringsPerBlock = 16;

// The name of the block holding string `id`.
inline uint16_t StringBlockName(uint16_t id) { return static_cast<uint16_t>(id / kStringsPerBlock + 1); }

struct StringBlock {
  std::u16string strings[kStringsPerBlock];
};

// Reads a block; false with `problem` when it ends inside a string.
bool ParseStringBlock(const std::string& data, StringBlock* block, Problem* problem);
std::string BuildStringBlock(const StringBlock& block);

}  // namespace pe
