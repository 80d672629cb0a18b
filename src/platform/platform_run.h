// The platform seam, part two: what only a run of the stub needs. The progress dialog and
// its record, error boxes from the string table, the temporary directory, starting and
// waiting for programs, the installer's windows, the registry and the restart.
//
// The win32/ side implements it for the stub and the fake for the unit tests; the packer
// never runs anything it extracts, so the host platform has no part of it. Conventions as in
// platform_files.h.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <atomic>

#include "platform_files.h"

namespace platform {

// Opaque handles. A null handle means "none" (failure, or not available).
using Window = void*;
struct Process;
struct RegistryKey;

}  // namespace platform

// ---- The progress dialog -----------------------------------------------------------------
// The record that the progress dialog (UI thread) and its worker (worker thread) share.
//
// No lock is taken: each shared field is one aligned 32-bit word (or a pointer) written and
// read whole, and no field is updated by a read-modify-write from both threads. The fields
// the two threads share are atomics with relaxed ordering, which compile to plain moves and
// tell the compiler (and sanitizers) that the sharing is intended. What only the dialog's own
// implementation needs (its semaphore, its thread, its animation state) stays with it.
struct ProgressDialogRecord;

// The job run under the dialog; called exactly once, on the worker thread.
using ProgressWorker = int32_t (*)(ProgressDialogRecord* record, void* user_data);

struct ProgressDialogRecord {
  platform::Window dialog_window;  // set at dialog start, before the worker thread exists
  platform::Window owner_window;
  ProgressWorker worker;
  void* user_data;
  int32_t initial_position;
  const char* caption;
  const char* first_text;
  const char* second_text;
  int32_t animation;  // resource id of an AVI clip (low 16 bits), 0 = none
  std::atomic<int32_t> requested_position;
  std::atomic<int32_t> shown_position;
  std::atomic<int32_t> result;
  std::atomic<int32_t> cancelled;
};

// Stores what RunProgressDialog was given in a zero-filled record: each implementation of
// the runner fills its record so.
inline void FillProgressDialogRecord(ProgressDialogRecord* record, platform::Window owner,
                                     ProgressWorker worker, void* user_data,
                                     int32_t initial_position, const char* caption,
                                     const char* first_text, const char* second_text,
                                     int32_t animation) {
  record->worker = worker;
  record->user_data = user_data;
  record->initial_position = initial_position;
  record->caption = caption;
  record->first_text = first_text;
  record->second_text = second_text;
  record->animation = animation;
  record->owner_window = owner;
}

namespace platform {

// Runs `worker` on a thread of its own under the modal progress dialog owned by `owner`, and
// returns its result once it has finished. The record is allocated zero-filled and given the
// arguments; the dialog shows `initial_position`, and `caption`, the texts and the clip when
// given (null and 0 mean none). Returns kSeaErrorOutOfMemory when the record (or what the
// dialog needs to wait for its worker) cannot be allocated, and kSeaErrorAborted when the
// dialog or the worker's thread cannot be had; in those cases the worker is never called. Never returns while a started worker can still
// touch the record.
int32_t RunProgressDialog(Window owner, ProgressWorker worker, void* user_data,
                          int32_t initial_position, const char* caption, const char* first_text,
                          const char* second_text, int32_t animation);
// Moves the progress bar of the progress dialog `dialog`; waits until the dialog's thread
// has handled it. Does nothing when the window no longer exists.
void SetProgressBar(Window dialog, int32_t position);
void HideWindow(Window window);

// ---- Messages ----------------------------------------------------------------------------
// Copies message `id` from the program's string table (cut to fit, always terminated);
// returns its length, 0 when missing.
int LoadMessage(int id, char* buffer, int capacity);
// Modal error box owned by `owner` (error icon, brought to the foreground); returns when the
// user dismisses it.
void ShowErrorBox(Window owner, const char* text, const char* caption);

// ---- Process environment -----------------------------------------------------------------
// Copies the user's temporary directory (ending in a separator) into `buffer`, spelled so
// that the ANSI calls reach it: where the ANSI code page cannot hold its name, its short
// name. Returns its length; 0 when unavailable or not reachable that way; a value >= capacity
// means it did not fit and nothing usable was copied.
size_t TemporaryDirectory(char* buffer, size_t capacity);
// Full path of the running program's own file; same return convention as above.
size_t OwnExecutablePath(char* buffer, size_t capacity);
// Opens the running program's own file for reading, by the system's own name for it, which
// the ANSI code page may not be able to spell; null when it cannot be opened.
File* OpenOwnExecutable();
// Seeds the generator behind NextRandom from the clock, the process id and a fine counter.
void SeedRandom();
// Next draw, 0..32767.
int NextRandom();
// Suspends the calling thread.
void Pause(uint32_t milliseconds);
// Creates one directory, as MakeDirectory, that only the current user, the system account and
// the administrators may use, with nothing inherited from its parent; what is created inside
// inherits that. The protection is part of the creation, so there is no moment in which
// others could place files in it.
bool MakePrivateDirectory(const char* path);
// Asks the system to delete a file or an empty directory when it next starts, for what is
// still in use now. Requests are carried out in the order they were made.
bool DeleteAtRestart(const char* path);
// Whether a file or directory stands at `path` (one that could not be deleted may be gone).
bool PathExists(const char* path);

// ---- Processes and installer windows -----------------------------------------------------
// Starts the program at `path` (named as the application, so no other file can be started in
// its place) with `command_line`, the caller's environment and current directory and no
// inherited handles. Null when it cannot be started.
Process* StartProgram(const char* path, const char* command_line);
// StartProgram for arguments in Unicode: the command line is `path` in double quotes, a blank
// and `utf8_arguments` (UTF-8, already quoted for the program to read back), so that switches
// the ANSI code page cannot spell reach the program exactly. Null when it cannot be started or
// `utf8_arguments` is not UTF-8. kovsea install starts Setup.exe so; the stub never does.
Process* StartProgramWithUtf8Arguments(const char* path, const char* utf8_arguments);
// Waits without limit until the process has ended.
void WaitForProcess(Process* process);
// Waits until the process has ended or `milliseconds` have passed; true when it has ended.
bool WaitForProcessFor(Process* process, uint32_t milliseconds);
// The exit code of a process that has ended; false when it cannot be read.
bool ProcessExitCode(Process* process, uint32_t* exit_code);
void CloseProcess(Process* process);
// The system's time now, in 100-nanosecond units (as process start times are kept).
uint64_t SystemTime();
// Finds a top-level window of `window_class` (any title, visible or hidden) whose process
// started at `started_since` or later (any process for 0; one whose start cannot be read
// counts) and reports the id of that process. False when there is none.
bool FindWindowOwner(const char* window_class, uint64_t started_since, uint32_t* process_id);
// Opens a process for waiting; null when it cannot be opened.
Process* OpenProcessById(uint32_t process_id);

// ---- Registry, under the machine-wide root, always with full access ----------------------
RegistryKey* CreateMachineKey(const char* path);  // creates missing keys on the way
RegistryKey* OpenMachineKey(const char* path);    // existing keys only
void SetDwordValue(RegistryKey* key, const char* name, uint32_t value);
// Stores a string value; the stored length counts the terminating zero.
void SetStringValue(RegistryKey* key, const char* name, const char* value);
// Reads a value that is a REG_DWORD of exactly 4 bytes; false for any other type or size (a
// REG_BINARY holding the same bytes is not a number), and when it is missing.
bool QueryDwordValue(RegistryKey* key, const char* name, uint32_t* value);
void DeleteValue(RegistryKey* key, const char* name);
void DeleteSubkey(RegistryKey* key, const char* subkey);
void CloseKey(RegistryKey* key);

// ---- System ------------------------------------------------------------------------------
// Platform family identifier as the version query reports it (2 = NT family); 0 when the
// query fails.
uint32_t PlatformId();
// Enables the shutdown privilege in the process token; failures are silent.
void EnableShutdownPrivilege();
// Asks the system to restart, letting applications refuse; returns the system's answer.
bool RequestRestart();

}  // namespace platform
