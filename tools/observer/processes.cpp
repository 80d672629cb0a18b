// The processes of the sandbox: every process the self-extractor starts, and what they
// start, is a debuggee; each is described the moment it is created.
#include "observer.h"

#include <winternl.h>

namespace observer {
namespace {

using QueryImageName = BOOL(WINAPI*)(HANDLE, DWORD, LPWSTR, PDWORD);

std::wstring ImageOf(HANDLE process) {
  static const auto query = reinterpret_cast<QueryImageName>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "QueryFullProcessImageNameW")));
  wchar_t path[MAX_PATH * 2];
  DWORD length = sizeof path / sizeof path[0];
  if (query == nullptr || !query(process, 0, path, &length)) return std::wstring();
  return std::wstring(path, length);
}

template <typename T>
bool ReadRemote(HANDLE process, const void* address, T* out) {
  SIZE_T read = 0;
  return ReadProcessMemory(process, address, out, sizeof *out, &read) && read == sizeof *out;
}

// The command line as the creator gave it, from the new process's parameter block, which
// the creator has written before the process's first instruction.
std::wstring CommandLineOf(HANDLE process, DWORD* parent) {
  PROCESS_BASIC_INFORMATION basic;
  ULONG length = 0;
  if (NtQueryInformationProcess(process, ProcessBasicInformation, &basic, sizeof basic, &length) != 0) {
    return std::wstring();
  }
  *parent = static_cast<DWORD>(basic.InheritedFromUniqueProcessId);
  PEB peb;
  RTL_USER_PROCESS_PARAMETERS parameters;
  if (!ReadRemote(process, basic.PebBaseAddress, &peb) ||
      !ReadRemote(process, peb.ProcessParameters, &parameters)) {
    return std::wstring();
  }
  const USHORT bytes = parameters.CommandLine.Length;
  std::wstring text(bytes / sizeof(wchar_t), L'\0');
  SIZE_T read = 0;
  if (bytes == 0 || !ReadProcessMemory(process, parameters.CommandLine.Buffer, &text[0], bytes, &read)) {
    return std::wstring();
  }
  text.resize(read / sizeof(wchar_t));
  return text;
}

}  // namespace

Process* ProcessTable::Find(DWORD pid) {
  for (Process& p : processes_) {
    if (p.pid == pid) return &p;
  }
  return nullptr;
}

Process* ProcessTable::Add(DWORD pid, HANDLE process, DWORD thread_id, HANDLE thread) {
  Process p;
  p.pid = pid;
  p.handle = process;
  p.threads.emplace_back(thread_id, thread);
  processes_.push_back(p);
  return &processes_.back();
}

void ProcessTable::Remove(DWORD pid) {
  for (size_t i = 0; i < processes_.size(); ++i) {
    if (processes_[i].pid == pid) {
      processes_.erase(processes_.begin() + static_cast<ptrdiff_t>(i));
      return;
    }
  }
}

void ProcessTable::TerminateAll(DWORD except) {
  for (Process& p : processes_) {
    if (p.pid == except || p.terminating || p.own_restart) continue;
    p.terminating = true;
    TerminateProcess(p.handle, 1);
  }
}

void ProcessTable::Suspend(DWORD pid, bool suspend) {
  Process* p = Find(pid);
  if (p == nullptr) return;
  for (auto& thread : p->threads) {
    if (suspend) {
      SuspendThread(thread.second);
    } else {
      ResumeThread(thread.second);
    }
  }
}

void DescribeProcess(Process* process) {
  process->image = ImageOf(process->handle);
  process->command_line = CommandLineOf(process->handle, &process->parent);
}

bool EndsWithNoCase(const std::wstring& text, const wchar_t* tail) {
  const size_t n = lstrlenW(tail);
  return text.size() >= n && lstrcmpiW(text.c_str() + text.size() - n, tail) == 0;
}

bool IsRestartProgram(const std::wstring& image) { return EndsWithNoCase(image, L"\\wineboot.exe"); }

}  // namespace observer
