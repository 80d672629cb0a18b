// The restart: the platform family, the shutdown privilege and the request to the system.
// Apart from the rest, so that a program that must never restart Windows (kovsea.exe) links
// none of it.
#include "platform_run.h"
#include "win32_platform.h"

namespace platform {

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
