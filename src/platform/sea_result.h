// Result codes shared by the whole stub.
#pragma once

#include <stdint.h>

constexpr int32_t kSeaSuccess = 0;
// A run that failed before or during extraction, or whose Cancel was seen at a progress point.
constexpr int32_t kSeaErrorAborted = -11987;
// The dialog runner could not allocate its record.
constexpr int32_t kSeaErrorOutOfMemory = -11999;
