// kovsea-observer: runs a self-extractor as its debugger, so that every process it starts
// (Setup.exe, the installer engine, a restart's wineboot) is seen from its first moment, and
// reports what `kovsea try` shows, one event a line on stdout. Used by `kovsea try` inside
// its throwaway Wine prefix; the self-extractor and its payload run unchanged.
//
//   kovsea-observer [--timeout-ms N] [--restart] [--dismiss-boxes] [--pause-for-windows] SEA
//
// A line is the observer's clock (milliseconds since it started, without the time it waited
// for kovsea's answers), the event's name and its fields, separated by tabs, each field with
// backslash, tab, line feed and carriage return escaped as \\, \t, \n and \r; text is
// UTF-8. Some events wait for a one-line answer on stdin (marked "waits" below); the process
// that caused them stands still meanwhile.
//
//   hello TEMP TEMP_UNIX                 the temporary directory (waits)
//   run N PID                            the self-extractor started, the Nth time
//   process PID PARENT IMAGE IMAGE_UNIX COMMAND_LINE
//   setup PID IMAGE IMAGE_UNIX           Setup.exe created, before its first instruction (waits)
//   exit PID CODE                        a process ended
//   crash PID EXCEPTION                  a process ended on an exception nothing handled
//   window PID HWND CLASS TITLE X Y W H  a top-level window first shown (waits with
//                                        --pause-for-windows; its process is suspended)
//   box PID HWND CAPTION TEXT BUTTONS X Y W H   a message box shown (waits: "dismiss" presses
//                                        its default button, anything else leaves it)
//   hidden HWND / closed HWND            a shown window hidden again / destroyed
//   engine PID HWND CLASS                a window of the installer engine's classes created
//   restart PID ASKER COMMAND_LINE intercepted|performed
//                                        the system's restart program started (wineboot)
//   value PHASE WHERE NAME TYPE DATA     a registry value: WHERE is product, run, runonce or
//                                        pending (a file the system deletes at the next start)
//   key-absent PHASE                     the product key does not exist
//   running PID IMAGE COMMAND_LINE       still running (at the self-extractor's end, at timeout)
//   running-window PID CLASS TITLE VISIBLE
//   stub-exit PID CODE                   the self-extractor ended (waits)
//   timeout                              --timeout-ms passed; every process is ended
//   end
#pragma once

#include <windows.h>

#include <stdint.h>

#include <string>
#include <vector>

namespace observer {

// ---- The line protocol (protocol.cpp) ----------------------------------------------------
void StartClock();
// Milliseconds since StartClock, without the time spent waiting for answers.
uint32_t Clock();
void Emit(const char* event, const std::vector<std::string>& fields = {});
// The answer to the event just written (without its line break); empty at end of input.
std::string AwaitReply();
std::string Utf8(const wchar_t* text);
std::string Decimal(uint64_t value);
std::string HandleText(HWND window);
// The Linux path Wine gives a Windows path, or "-" outside Wine.
std::string UnixPath(const wchar_t* path);

// ---- Processes (processes.cpp) ------------------------------------------------------------
struct Process {
  DWORD pid = 0;
  DWORD parent = 0;
  HANDLE handle = nullptr;  // owned by the debugging loop until the process's exit event
  std::vector<std::pair<DWORD, HANDLE>> threads;
  std::wstring image;
  std::wstring command_line;
  int run = 0;
  bool is_stub = false;
  bool installer = false;  // Setup.exe or a process it started
  bool loader_break_seen = false;
  bool terminating = false;
  bool own_restart = false;  // the restart the observer performs: ends by itself
};

class ProcessTable {
 public:
  Process* Find(DWORD pid);
  Process* Add(DWORD pid, HANDLE process, DWORD thread_id, HANDLE thread);
  void Remove(DWORD pid);
  bool Empty() const { return processes_.empty(); }
  std::vector<Process>& all() { return processes_; }
  // Ends every process but `except` (0: all) and the observer's own restart.
  void TerminateAll(DWORD except = 0);
  void Suspend(DWORD pid, bool suspend);

 private:
  std::vector<Process> processes_;
};

// The image path, the parent's id and the command line, read from the new process.
void DescribeProcess(Process* process);
bool EndsWithNoCase(const std::wstring& text, const wchar_t* tail);
// Whether `image` is the program Wine runs to restart or shut down the system.
bool IsRestartProgram(const std::wstring& image);

// ---- Windows (windows.cpp) ----------------------------------------------------------------
struct WindowOptions {
  bool dismiss_boxes = false;
  bool pause_for_windows = false;
};
void WatchWindows();
// Serves the window-creation notifications, then looks at every window of the sandbox's
// processes: reports those first shown, hidden, destroyed, and message boxes.
void PollWindows(ProcessTable* table, const WindowOptions& options);
// "running-window" lines for every top-level window of `pid`.
void EmitWindowsOf(DWORD pid);

// ---- Registry (registry.cpp) --------------------------------------------------------------
struct RegistryValue {
  std::string where, name, type, data;
};
struct RegistrySnapshot {
  bool product_key = false;
  std::vector<RegistryValue> values;
};
RegistrySnapshot ReadRegistry();
void EmitRegistry(const char* phase, const RegistrySnapshot& snapshot);

}  // namespace observer
