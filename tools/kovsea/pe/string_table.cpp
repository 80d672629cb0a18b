#include "string_table.h"

#include "bytes.h"

namespace pe {

bool ParseStringBlock(const std::string& data, StringBlock* block, Problem* problem) {
  size_t at = 0;
  for (int i = 0; i < kStringsPerBlock; ++i) {
    if (at + 2 > data.size()) {
      if (at == data.size()) break;  // a block may leave its trailing empty strings out
      problem->what = "a string table block ends inside string " + std::to_string(i);
      return false;
    }
    const uint16_t count = Get16(data, at);
    at += 2;
    if (at + 2u * count > data.size()) {
      problem->what = "a string table block ends inside string " + std::to_string(i);
      problem->offset = at;
      return false;
    }
    block->strings[i].clear();
    for (uint16_t k = 0; k < count; ++k) block->strings[i].push_back(static_cast<char16_t>(Get16(data, at + 2u * k)));
    at += 2u * count;
  }
  return true;
}

std::string BuildStringBlock(const StringBlock& block) {
  std::string out;
  for (const std::u16string& s : block.strings) {
    Put16(&out, static_cast<uint16_t>(s.size()));
    for (char16_t c : s) Put16(&out, c);
  }
  return out;
}

}  // namespace pe
