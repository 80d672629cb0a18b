// The platform seam, part one: memory and files, which the format layer needs.
//
// The portable code never includes <windows.h>. It asks this interface, in its own terms, for
// memory, buffered binary files and directories; platform_run.h adds what only a run of the
// stub needs (windows, processes, registry, restart). Implementations:
//   win32/        the real one, linked into the stub and the Win32 tests (both parts);
//   host/         real files on Linux and Windows for the packer (this part only), with a
//                 catalogue mode that records instead of writing;
//   tests/fake/   an in-memory, scriptable platform for unit tests and fault injection
//                 (both parts).
//
// Paths are byte strings in the system's ANSI code page with backslash separators. Unless a
// contract says otherwise, calls returning bool report success with true and never throw.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace platform {

struct File;

// ---- Memory -------------------------------------------------------------------------------
// Zero-filled block from the general-purpose heap; null when it cannot be had.
void* AllocateZeroed(size_t bytes);
void Release(void* block);

// ---- Files: buffered binary streams ------------------------------------------------------
File* OpenForReading(const char* path);
// Creates a file, or truncates an existing one. Null when it cannot be had.
File* CreateForWriting(const char* path);
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
// them through the caller's buffers.
bool CanCopyBetween(File* from, File* to);
// Copies `bytes` bytes from the current position of `from` to the current position of `to`
// and advances both. Returns how many were copied; fewer than asked means a read or write
// failed or the source ended. Only called after CanCopyBetween said yes.
uint64_t CopyBetween(File* from, File* to, uint64_t bytes);

// ---- Names ------------------------------------------------------------------------------
// Whether `byte` begins a double-byte character in the ANSI code page that paths are in: the
// byte after it belongs to the same character, whatever its value.
bool IsLeadByte(uint8_t byte);

// ---- Directories and deletion ------------------------------------------------------------
// Creates one directory; fails when it exists or its parent is missing.
bool MakeDirectory(const char* path);
// Removes a directory that is empty, and a file; neither is stopped by a read-only attribute
// (what a run created is deleted even when its installer marked it read-only).
bool RemoveEmptyDirectory(const char* path);
bool DeleteFileAt(const char* path);

}  // namespace platform
