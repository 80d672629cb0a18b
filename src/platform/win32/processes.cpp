// Starting the installer and waiting for its processes.
#include "platform_run.h"
#include "win32_platform.h"

namespace platform {
namespace {

constexpr size_t kCommandLineCapacity = MAX_PATH + 3;

Process* FromHandle(HANDLE handle) { return reinterpret_cast<Process*>(handle); }
HANDLE ToHandle(Process* process) { return reinterpret_cast<HANDLE>(process); }

}  // namespace

Process* StartProgram(const char* path) {
  // The program is named as the application, and its command line is the same path in
  // quotes: with a blank in the path, an unquoted line would let "C:\Documents.exe" and the
  // like run in its place.
  char command_line[kCommandLineCapacity];
  const int length = lstrlenA(path);
  if (length + 3 > static_cast<int>(kCommandLineCapacity)) return nullptr;
  command_line[0] = '"';
  CopyMemory(command_line + 1, path, static_cast<size_t>(length));
  command_line[length + 1] = '"';
  command_line[length + 2] = '\0';

  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION info;
  ZeroMemory(&info, sizeof info);
  if (!CreateProcessA(path, command_line, nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS,
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
