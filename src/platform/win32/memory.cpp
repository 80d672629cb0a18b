// Memory from the process heap, zero-filled.
#include "platform_files.h"
#include "win32_platform.h"

namespace platform {

void* AllocateZeroed(size_t bytes) {
  return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bytes == 0 ? 1 : bytes);
}

void Release(void* block) {
  if (block != nullptr) HeapFree(GetProcessHeap(), 0, block);
}

}  // namespace platform
