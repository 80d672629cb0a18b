// The platform seam: everything the portable core needs from the operating system.
//
// The core never includes <windows.h>. It asks this interface, in its own terms, to make a
// directory, show an error box, start a program and wait for it, find the process behind an
// installer window, read and write its registry values, and restart the machine.
//
// Three implementations exist:
//   win32/  the real one, linked into the stub and the Win32 tests;
//   host/   real files on Linux, stderr instead of message boxes, no processes or registry
//           (used by the packer);
//   tests/fake/  an in-memory, scriptable platform for unit tests and fault injection.
//
// Paths are byte strings in the system's ANSI code page with backslash separators. Unless a
// contract says otherwise, calls returning bool report success with true and never throw.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace platform {

// Opaque handles. A null handle means "none" (failure, or not available).
using Window = void*;
struct File;
struct Process;
struct RegistryKey;

// ---- Memory -------------------------------------------------------------------------------
// Zero-filled block from the general-purpose heap; null when it cannot be had.
void* AllocateZeroed(size_t bytes);
void Release(void* block);

// ---- Files: buffered binary streams ------------------------------------------------------
File* OpenForReading(const char* path);
File* CreateForWriting(const char* path);  // creates, or truncates an existing file
// Reads up to `bytes`; returns how many were read. A short count is either the end of the
// file or a read error; ReadFailed tells them apart.
size_t ReadBytes(File* file, void* buffer, size_t bytes);
bool ReadFailed(File* file);
bool SeekTo(File* file, uint64_t offset);
// Length of the file in bytes; false when it cannot be determined.
bool FileLength(File* file, uint64_t* length);
// True only when every byte was accepted by the stream.
bool WriteBytes(File* file, const void* data, size_t bytes);
// Flushes and closes. False when buffered data could not be written (a full disk); the
// handle is gone either way.
bool CloseFile(File* file);
// Whether CopyBetween can move bytes from `from` to `to` inside the system, without passing
// them through the caller's buffers (and so without two copies through user memory).
bool CanCopyBetween(File* from, File* to);
// Copies `bytes` bytes from the current position of `from` to the current position of `to`
// and advances both. Returns how many were copied; fewer than asked means a read or write
// failed or the source ended. Only called after CanCopyBetween said yes.
uint64_t CopyBetween(File* from, File* to, uint64_t bytes);
// Creates one directory; fails when it exists or its parent is missing.
bool MakeDirectory(const char* path);
// Creates one directory, as MakeDirectory, that only the current user, the system account and
// the administrators may use, with nothing inherited from its parent; what is created inside
// inherits that. The protection is part of the creation, so there is no moment in which
// others could place files in it.
bool MakePrivateDirectory(const char* path);
bool RemoveEmptyDirectory(const char* path);
bool DeleteFileAt(const char* path);

// ---- Process environment -----------------------------------------------------------------
// Copies the user's temporary directory (ending in a separator) into `buffer`, spelled so
// that the ANSI calls reach it: where the ANSI code page cannot hold its name, its short
// name. Returns its length; 0 when unavailable or not reachable that way; a value >= capacity
// means it did not fit and nothing usable was copied.
size_t TemporaryDirectory(char* buffer, size_t capacity);
// Full path of the running program's own file; same return convention as above.
size_t OwnExecutablePath(char* buffer, size_t capacity);
// Seeds the generator behind NextRandom from the clock, the process id and a fine counter.
void SeedRandom();
// Next draw, 0..32767.
int NextRandom();
// Suspends the calling thread.
void Pause(uint32_t milliseconds);

// ---- User interface ----------------------------------------------------------------------
// Copies message `id` from the program's string table (cut to fit, always terminated);
// returns its length, 0 when missing.
int LoadMessage(int id, char* buffer, int capacity);
// Modal error box owned by `owner` (error icon, brought to the foreground); returns when the
// user dismisses it.
void ShowErrorBox(Window owner, const char* text, const char* caption);
void HideWindow(Window window);
// Moves the progress bar of the progress dialog `dialog`; waits until the dialog's thread
// has handled it. Does nothing when the window no longer exists.
void SetProgressBar(Window dialog, int32_t position);

// ---- Processes and installer windows -----------------------------------------------------
// Starts the program at `path` with no arguments, the caller's environment and current
// directory and no inherited handles. The program is named by its full path, so no other
// file can be started in its place. Null when it cannot be started.
Process* StartProgram(const char* path);
// Waits without limit until the process has ended.
void WaitForProcess(Process* process);
void CloseProcess(Process* process);
// Finds a top-level window of `window_class` (any process, any title, visible or hidden) and
// reports the id of the process that owns it. False when there is none.
bool FindWindowOwner(const char* window_class, uint32_t* process_id);
// Opens a process for waiting; null when it cannot be opened.
Process* OpenProcessById(uint32_t process_id);

// ---- Registry, under the machine-wide root, always with full access ----------------------
RegistryKey* CreateMachineKey(const char* path);  // creates missing keys on the way
RegistryKey* OpenMachineKey(const char* path);    // existing keys only
void SetDwordValue(RegistryKey* key, const char* name, uint32_t value);
// Stores a string value; the stored length counts the terminating zero.
void SetStringValue(RegistryKey* key, const char* name, const char* value);
enum class QueryResult { kRead, kTooLarge, kMissing };
// Reads a value's bytes into `buffer` (capacity `*length`); on kRead `*length` is the size.
QueryResult QueryValue(RegistryKey* key, const char* name, void* buffer, uint32_t* length);
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
