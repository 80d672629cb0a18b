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

uint64_t SystemTime() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return uint64_t{now.dwHighDateTime} << 32 | now.dwLowDateTime;
}

namespace {

struct WindowSearch {
  const char* window_class;
  uint64_t started_since;
  DWORD process_id;
};

// Whether process `id` started at `since` or later; one whose start cannot be read counts.
bool StartedSince(DWORD id, uint64_t since) {
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, id);
  if (process == nullptr) return true;
  FILETIME created;
  FILETIME exited;
  FILETIME kernel;
  FILETIME user;
  const BOOL read = GetProcessTimes(process, &created, &exited, &kernel, &user);
  CloseHandle(process);
  return !read || (uint64_t{created.dwHighDateTime} << 32 | created.dwLowDateTime) >= since;
}

BOOL CALLBACK TakeWindowOfClass(HWND window, LPARAM context) {
  auto* search = reinterpret_cast<WindowSearch*>(context);
  char name[64];
  if (GetClassNameA(window, name, sizeof name) == 0 || lstrcmpiA(name, search->window_class) != 0) return TRUE;
  DWORD id = 0;
  GetWindowThreadProcessId(window, &id);
  if (search->started_since != 0 && !StartedSince(id, search->started_since)) return TRUE;
  search->process_id = id;
  return FALSE;
}

}  // namespace

bool FindWindowOwner(const char* window_class, uint64_t started_since, uint32_t* process_id) {
  WindowSearch search = {window_class, started_since, 0};
  EnumWindows(TakeWindowOfClass, reinterpret_cast<LPARAM>(&search));
  if (search.process_id == 0) return false;
  *process_id = search.process_id;
  return true;
}

Process* OpenProcessById(uint32_t process_id) {
  return FromHandle(OpenProcess(PROCESS_ALL_ACCESS, FALSE, process_id));
}

}  // namespace platform
