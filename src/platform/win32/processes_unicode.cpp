// Starting a program with a command line in Unicode, for kovsea install: the installer's own
// switches may hold characters the ANSI code page cannot spell ("Łódź" in code page 1252),
// which CreateProcessA would replace by look-alikes or question marks without a word. A file
// of its own, so that the stub, which starts Setup.exe without arguments, links none of it.
#include "platform_run.h"
#include "win32_platform.h"

namespace platform {
namespace {

// `text` in `codepage` as a new wide string (freed with LocalFree); null when it does not
// convert exactly.
wchar_t* Widen(UINT codepage, const char* text) {
  const DWORD flags = MB_ERR_INVALID_CHARS;
  const int length = MultiByteToWideChar(codepage, flags, text, -1, nullptr, 0);
  if (length <= 0) return nullptr;
  wchar_t* wide = static_cast<wchar_t*>(LocalAlloc(LMEM_FIXED, sizeof(wchar_t) * static_cast<size_t>(length)));
  if (wide != nullptr && MultiByteToWideChar(codepage, flags, text, -1, wide, length) != length) {
    LocalFree(wide);
    return nullptr;
  }
  return wide;
}

}  // namespace

Process* StartProgramWithUtf8Arguments(const char* path, const char* utf8_arguments) {
  wchar_t* wide_path = Widen(CP_ACP, path);
  wchar_t* wide_arguments = Widen(CP_UTF8, utf8_arguments);
  wchar_t* line = nullptr;
  if (wide_path != nullptr && wide_arguments != nullptr) {
    const size_t length = static_cast<size_t>(lstrlenW(wide_path)) + static_cast<size_t>(lstrlenW(wide_arguments)) + 4;
    line = static_cast<wchar_t*>(LocalAlloc(LMEM_FIXED, sizeof(wchar_t) * length));
  }
  HANDLE process = nullptr;
  if (line != nullptr) {
    lstrcpyW(line, L"\"");
    lstrcatW(line, wide_path);
    lstrcatW(line, L"\" ");
    lstrcatW(line, wide_arguments);
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION info;
    ZeroMemory(&info, sizeof info);
    // The wide call may write to the command line, which is why it is a buffer of our own.
    if (CreateProcessW(wide_path, line, nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS, nullptr, nullptr, &startup,
                       &info)) {
      CloseHandle(info.hThread);
      process = info.hProcess;
    }
  }
  if (line != nullptr) LocalFree(line);
  if (wide_arguments != nullptr) LocalFree(wide_arguments);
  if (wide_path != nullptr) LocalFree(wide_path);
  return reinterpret_cast<Process*>(process);
}

}  // namespace platform
