// Memory, the process environment, the generator's seed, and the restart.
#include <time.h>

#include "random.h"
#include "platform_run.h"
#include "win32_platform.h"

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

bool IsLeadByte(uint8_t byte) { return IsDBCSLeadByte(byte) != 0; }

namespace {

// Converts to the ANSI code page only when every character survives: no "?" and no
// best-fit look-alike. Returns the length, or `capacity` when it does not fit, or 0.
size_t ToAnsiExactly(const wchar_t* wide, char* buffer, size_t capacity) {
  BOOL lost = FALSE;
  // UTF-8 as the ANSI code page holds every name, and takes neither the flag nor the report.
  const bool utf8 = GetACP() == CP_UTF8;
  const int n = WideCharToMultiByte(CP_ACP, utf8 ? 0 : WC_NO_BEST_FIT_CHARS, wide, -1, buffer,
                                    static_cast<int>(capacity), nullptr, utf8 ? nullptr : &lost);
  if (n == 0) return GetLastError() == ERROR_INSUFFICIENT_BUFFER ? capacity : 0;
  return lost ? 0 : static_cast<size_t>(n - 1);
}

// The temporary directory as current systems give it: GetTempPath2W, where it exists, gives
// processes of the system account the system's protected temporary directory, and every
// other account the same directory GetTempPathW does.
DWORD TemporaryPathW(DWORD capacity, wchar_t* buffer) {
  using GetTempPath2WFn = DWORD(WINAPI*)(DWORD, LPWSTR);
  const auto get_temp_path2 = reinterpret_cast<GetTempPath2WFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetTempPath2W")));
  return get_temp_path2 != nullptr ? get_temp_path2(capacity, buffer) : GetTempPathW(capacity, buffer);
}

}  // namespace

size_t TemporaryDirectory(char* buffer, size_t capacity) {
  // One more than the ANSI capacity, so that a path that cannot fit is seen as such.
  wchar_t wide[MAX_PATH + 2];
  const DWORD n = TemporaryPathW(MAX_PATH + 2, wide);
  if (n == 0) return 0;
  if (n >= MAX_PATH + 2) return capacity;
  const size_t length = ToAnsiExactly(wide, buffer, capacity);
  if (length != 0) return length;
  // A name the code page cannot spell: its short name is plain ASCII, where it has one.
  wchar_t short_name[MAX_PATH + 2];
  const DWORD m = GetShortPathNameW(wide, short_name, MAX_PATH + 2);
  if (m == 0 || m >= MAX_PATH + 2) return 0;
  return ToAnsiExactly(short_name, buffer, capacity);
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
