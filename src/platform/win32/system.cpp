// Memory, the process environment, the generator's seed, and the restart.
#include <time.h>

#include "common/random.h"
#include "platform/platform.h"
#include "platform/win32/win32_platform.h"

namespace platform {
namespace {

RandomGenerator g_random = {1};

}  // namespace

void* AllocateZeroed(size_t bytes) {
  return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bytes == 0 ? 1 : bytes);
}

void Release(void* block) {
  if (block != nullptr) HeapFree(GetProcessHeap(), 0, block);
}

size_t TemporaryDirectory(char* buffer, size_t capacity) {
  return GetTempPathA(static_cast<DWORD>(capacity), buffer);
}

size_t OwnExecutablePath(char* buffer, size_t capacity) {
  const DWORD n = GetModuleFileNameA(nullptr, buffer, static_cast<DWORD>(capacity));
  // A cut path fills the buffer completely; report it as not fitting.
  return n >= capacity ? capacity : n;
}

void SeedRandom() {
  LARGE_INTEGER counter;
  counter.QuadPart = 0;
  QueryPerformanceCounter(&counter);
  SeedGenerator(&g_random,
                MixSeed(static_cast<uint64_t>(time(nullptr)), GetCurrentProcessId(),
                        static_cast<uint64_t>(counter.QuadPart) ^ GetTickCount()));
}

int NextRandom() { return NextDraw(&g_random); }

void Pause(uint32_t milliseconds) { Sleep(milliseconds); }

uint32_t PlatformId() {
  OSVERSIONINFOA info;
  ZeroMemory(&info, sizeof info);
  info.dwOSVersionInfoSize = sizeof info;
  GetVersionExA(&info);
  return info.dwPlatformId;
}

void EnableShutdownPrivilege() {
  HANDLE token = nullptr;
  OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token);
  TOKEN_PRIVILEGES privileges;
  ZeroMemory(&privileges, sizeof privileges);
  LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &privileges.Privileges[0].Luid);
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
  if (token != nullptr) CloseHandle(token);
}

bool RequestRestart() { return ExitWindowsEx(EWX_REBOOT, 0) != 0; }

}  // namespace platform
