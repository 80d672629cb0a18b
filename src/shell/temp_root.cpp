#include "temp_root.h"

void FormatRootSuffix(int r1, int r2, char out[kRootSuffixDigits + 1]) {
  static const char kDigits[] = "0123456789abcdef";
  uint32_t product = static_cast<uint32_t>(r1) * static_cast<uint32_t>(r2);
  char reversed[8];
  int count = 0;
  do {
    reversed[count++] = kDigits[product & 0xF];
    product >>= 4;
  } while (product != 0);
  int kept = count < kRootSuffixDigits ? count : kRootSuffixDigits;
  for (int i = 0; i < kept; ++i) out[i] = reversed[count - 1 - i];
  out[kept] = '\0';
}

int32_t CreateTempRoot(ExtractionState* state) { return MakeTempRoot(state); }
