// Starting the installer and waiting for its processes.
#include "platform_run.h"
#include "win32_platform.h"

namespace platform {
namespace {

Process* FromHandle(HANDLE handle) { return reinterpret_cast<Process*>(handle); }
HANDLE ToHandle(Process* process) { return reinterpret_cast<HANDLE>(process); }

}  // namespace

Process* StartProgram(const char* path, const char* command_line) {
  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION info;
  ZeroMemory(&info, sizeof info);
  // The ANSI call does not write to the command line (only the wide one may).
  if (!CreateProcessA(path, const_cast<char*>(command_line), nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS,
                      nullptr, nullptr, &startup, &info)) {
    return nullptr;
  }
  CloseHandle(info.hThread);
  return FromHandle(info.hProcess);
}

void WaitForProcess(Process* process) { WaitForSingleObject(ToHandle(process), INFINITE); }
void CloseProcess(Process* process) { CloseHandle(ToHandle(process)); }

bool FindWindowOwner(const char* window_class, uint32_t* process_id) {
  HWND window = FindWindowA(window_class, nullptr);
  if (window == nullptr) return false;
  DWORD id = 0;
  GetWindowThreadProcessId(window, &id);
  *process_id = id;
  return true;
}

Process* OpenProcessById(uint32_t process_id) {
  return FromHandle(OpenProcess(PROCESS_ALL_ACCESS, FALSE, process_id));
}

}  // namespace platform
