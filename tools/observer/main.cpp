// kovsea-observer's entry and its debugging loop (the protocol is described in observer.h).
#include "observer.h"

#include <shellapi.h>

#include "install_layout.h"

namespace observer {
namespace {

constexpr DWORD kLoopWaitMs = 5;
constexpr uint32_t kEndingGraceMs = 10000;

struct Options {
  uint32_t timeout_ms = 600000;
  bool restart = false;
  WindowOptions windows;
  std::wstring sea;
};

struct Run {
  int number = 0;
  bool restart_asked = false;
  bool have_installer_registry = false;
  RegistrySnapshot installer_registry;
};

class Observer {
 public:
  explicit Observer(const Options& options) : options_(options) {}
  int Main();

 private:
  bool Start(const std::wstring& application, const std::wstring& command_line, const wchar_t* directory);
  void OnCreate(const DEBUG_EVENT& event);
  void OnExit(const DEBUG_EVENT& event);
  DWORD OnException(const DEBUG_EVENT& event);
  void EndRun(Process* stub, DWORD code);
  void EmitRunning(DWORD except);
  void EndEverything();
  void PerformRestart();
  Run* RunOf(int number) { return number >= 1 && number <= static_cast<int>(runs_.size()) ? &runs_[number - 1] : nullptr; }

  Options options_;
  ProcessTable table_;
  std::vector<Run> runs_;
  std::vector<DWORD> own_restart_programs_;
  bool restart_pending_ = false;
  bool restart_done_ = false;
  bool ending_ = false;
  uint32_t ending_since_ = 0;
};

bool Observer::Start(const std::wstring& application, const std::wstring& command_line, const wchar_t* directory) {
  STARTUPINFOW startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info;
  std::wstring line = command_line;
  if (!CreateProcessW(application.c_str(), &line[0], nullptr, nullptr, FALSE, DEBUG_PROCESS, nullptr, directory,
                      &startup, &info)) {
    return false;
  }
  // The debugging events hand out their own handles to the process and its thread.
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  return true;
}

void Observer::OnCreate(const DEBUG_EVENT& event) {
  const CREATE_PROCESS_DEBUG_INFO& info = event.u.CreateProcessInfo;
  if (info.hFile != nullptr) CloseHandle(info.hFile);
  Process* p = table_.Add(event.dwProcessId, info.hProcess, event.dwThreadId, info.hThread);
  DescribeProcess(p);
  const Process* parent = table_.Find(p->parent);
  p->is_stub = lstrcmpiW(p->image.c_str(), options_.sea.c_str()) == 0;
  if (p->is_stub) {
    runs_.push_back(Run());
    runs_.back().number = static_cast<int>(runs_.size());
    p->run = runs_.back().number;
    Emit("run", {Decimal(p->run), Decimal(p->pid)});
  } else {
    p->run = parent != nullptr ? parent->run : static_cast<int>(runs_.size());
    p->installer = parent != nullptr && parent->installer;
  }
  Emit("process", {Decimal(p->pid), Decimal(p->parent), Utf8(p->image.c_str()), UnixPath(p->image.c_str()),
                   Utf8(p->command_line.c_str())});
  if (IsRestartProgram(p->image)) {
    bool ours = false;
    for (DWORD pid : own_restart_programs_) ours = ours || pid == p->pid;
    // A restart of the sandbox would end every process and start what RunOnce names: kept
    // from happening unless it was asked for (and then performed by the observer itself).
    p->own_restart = ours;
    if (!ours) {
      if (Run* run = RunOf(p->run)) run->restart_asked = true;
      TerminateProcess(p->handle, 0);
      p->terminating = true;
    }
    Emit("restart", {Decimal(p->pid), Decimal(p->parent), Utf8(p->command_line.c_str()),
                     ours ? "performed" : "intercepted"});
    return;
  }
  static const std::wstring kSetupTail = L"\\" + std::wstring(L"" KOVSEA_DISK_DIRECTORY) + L"\\Setup.exe";
  if (parent != nullptr && parent->is_stub && EndsWithNoCase(p->image, kSetupTail.c_str())) {
    p->installer = true;
    Emit("setup", {Decimal(p->pid), Utf8(p->image.c_str()), UnixPath(p->image.c_str())});
    AwaitReply();
  }
}

void Observer::EmitRunning(DWORD except) {
  for (Process& p : table_.all()) {
    if (p.pid == except || p.terminating || p.own_restart) continue;
    Emit("running", {Decimal(p.pid), Utf8(p.image.c_str()), Utf8(p.command_line.c_str())});
    EmitWindowsOf(p.pid);
  }
}

void Observer::EndEverything() {
  table_.TerminateAll();
  ending_ = true;
  ending_since_ = Clock();
}

void Observer::EndRun(Process* stub, DWORD code) {
  Run* run = RunOf(stub->run);
  if (run != nullptr && run->have_installer_registry) EmitRegistry("installer", run->installer_registry);
  EmitRegistry("after", ReadRegistry());
  EmitRunning(stub->pid);
  Emit("stub-exit", {Decimal(stub->pid), Decimal(code)});
  AwaitReply();
  // What outlives the self-extractor is ended with it, as a restart would end it.
  table_.TerminateAll(stub->pid);
  if (options_.restart && !restart_done_ && run != nullptr && run->restart_asked) {
    restart_pending_ = true;
  } else if (!restart_pending_) {
    ending_ = true;
    ending_since_ = Clock();
  }
}

void Observer::OnExit(const DEBUG_EVENT& event) {
  Process* p = table_.Find(event.dwProcessId);
  if (p == nullptr) return;
  const DWORD code = event.u.ExitProcess.dwExitCode;
  Emit("exit", {Decimal(p->pid), Decimal(code)});
  if (p->is_stub) {
    EndRun(p, code);
  } else if (Run* run = p->installer ? RunOf(p->run) : nullptr) {
    // The installer's answer as its processes leave it, before the stub acts on it.
    run->installer_registry = ReadRegistry();
    run->have_installer_registry = true;
  }
  table_.Remove(event.dwProcessId);
}

DWORD Observer::OnException(const DEBUG_EVENT& event) {
  const EXCEPTION_DEBUG_INFO& info = event.u.Exception;
  Process* p = table_.Find(event.dwProcessId);
  if (info.ExceptionRecord.ExceptionCode == EXCEPTION_BREAKPOINT && p != nullptr && !p->loader_break_seen) {
    p->loader_break_seen = true;  // the loader's breakpoint every new debuggee stops at
    return DBG_CONTINUE;
  }
  if (info.dwFirstChance == 0 && p != nullptr) {
    char code[12];
    wsprintfA(code, "%08lx", static_cast<unsigned long>(info.ExceptionRecord.ExceptionCode));
    Emit("crash", {Decimal(p->pid), code});
  }
  return DBG_EXCEPTION_NOT_HANDLED;
}

void Observer::PerformRestart() {
  restart_pending_ = false;
  restart_done_ = true;
  wchar_t system[MAX_PATH];
  GetSystemDirectoryW(system, MAX_PATH);
  const std::wstring program = std::wstring(system) + L"\\wineboot.exe";
  // What Wine's ExitWindowsEx runs for a restart: the session ends, the files marked for
  // deletion at the next start go, and RunOnce runs.
  STARTUPINFOW startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info;
  std::wstring line = L"wineboot.exe --end-session";
  if (CreateProcessW(program.c_str(), &line[0], nullptr, nullptr, FALSE, DEBUG_PROCESS, nullptr, nullptr, &startup,
                     &info)) {
    own_restart_programs_.push_back(info.dwProcessId);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
  } else {
    ending_ = true;
    ending_since_ = Clock();
  }
}

int Observer::Main() {
  wchar_t temp[MAX_PATH + 1];
  GetTempPathW(MAX_PATH + 1, temp);
  Emit("hello", {Utf8(temp), UnixPath(temp)});
  AwaitReply();
  WatchWindows();
  std::wstring directory = options_.sea;
  const size_t slash = directory.find_last_of(L'\\');
  directory = slash == std::wstring::npos ? std::wstring() : directory.substr(0, slash + 1);
  if (!Start(options_.sea, L"\"" + options_.sea + L"\"", directory.empty() ? nullptr : directory.c_str())) {
    Emit("end", {"cannot start: error " + Decimal(GetLastError())});
    return 1;
  }
  bool timed_out = false;
  for (;;) {
    DEBUG_EVENT event;
    if (WaitForDebugEvent(&event, kLoopWaitMs)) {
      DWORD answer = DBG_CONTINUE;
      switch (event.dwDebugEventCode) {
        case CREATE_PROCESS_DEBUG_EVENT: OnCreate(event); break;
        case EXIT_PROCESS_DEBUG_EVENT: OnExit(event); break;
        case CREATE_THREAD_DEBUG_EVENT:
          if (Process* p = table_.Find(event.dwProcessId)) {
            p->threads.emplace_back(event.dwThreadId, event.u.CreateThread.hThread);
          }
          break;
        case EXIT_THREAD_DEBUG_EVENT:
          if (Process* p = table_.Find(event.dwProcessId)) {
            for (size_t i = 0; i < p->threads.size(); ++i) {
              if (p->threads[i].first == event.dwThreadId) p->threads.erase(p->threads.begin() + static_cast<ptrdiff_t>(i));
            }
          }
          break;
        case LOAD_DLL_DEBUG_EVENT:
          if (event.u.LoadDll.hFile != nullptr) CloseHandle(event.u.LoadDll.hFile);
          break;
        case EXCEPTION_DEBUG_EVENT: answer = OnException(event); break;
        default: break;
      }
      ContinueDebugEvent(event.dwProcessId, event.dwThreadId, answer);
    }
    if (table_.Empty()) {
      if (!restart_pending_) break;
      Emit("restart-performing");
      PerformRestart();
      continue;
    }
    if (!ending_) PollWindows(&table_, options_.windows);
    if (!timed_out && Clock() >= options_.timeout_ms) {
      timed_out = true;
      Emit("timeout");
      EmitRegistry("after", ReadRegistry());
      EmitRunning(0);
      restart_pending_ = false;
      EndEverything();
    }
    if (ending_ && Clock() - ending_since_ >= kEndingGraceMs) break;
  }
  Emit("end");
  return 0;
}

bool ParseNumber(const wchar_t* text, uint32_t* out) {
  uint32_t value = 0;
  if (*text == L'\0') return false;
  for (; *text != L'\0'; ++text) {
    if (*text < L'0' || *text > L'9') return false;
    value = value * 10 + static_cast<uint32_t>(*text - L'0');
  }
  *out = value;
  return true;
}

}  // namespace
}  // namespace observer

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  observer::Options options;
  for (int i = 1; i < argc; ++i) {
    const std::wstring arg = argv[i];
    if (arg == L"--timeout-ms" && i + 1 < argc && observer::ParseNumber(argv[i + 1], &options.timeout_ms)) {
      ++i;
    } else if (arg == L"--restart") {
      options.restart = true;
    } else if (arg == L"--dismiss-boxes") {
      options.windows.dismiss_boxes = true;
    } else if (arg == L"--pause-for-windows") {
      options.windows.pause_for_windows = true;
    } else if (options.sea.empty() && arg.compare(0, 2, L"--") != 0) {
      options.sea = arg;
    } else {
      options.sea.clear();
      break;
    }
  }
  if (options.sea.empty()) {
    static const char kUsage[] =
        "usage: kovsea-observer [--timeout-ms N] [--restart] [--dismiss-boxes] [--pause-for-windows] SEA\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), kUsage, sizeof kUsage - 1, &written, nullptr);
    return 2;
  }
  // A relative name is taken from the current directory, so that it compares with the image
  // path the system reports for the started process.
  wchar_t full[MAX_PATH * 2];
  const DWORD n = GetFullPathNameW(options.sea.c_str(), MAX_PATH * 2, full, nullptr);
  if (n > 0 && n < MAX_PATH * 2) options.sea = full;
  observer::StartClock();
  observer::Observer watcher(options);
  return watcher.Main();
}
