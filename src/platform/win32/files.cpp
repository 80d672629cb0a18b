// Files through msvcrt's buffered streams, directories through the ANSI Win32 calls.
#include <io.h>
#include <stdio.h>

#include "platform/platform.h"
#include "platform/win32/win32_platform.h"

namespace platform {

struct File {
  FILE* stream;
};

namespace {

File* Wrap(FILE* stream) {
  if (stream == nullptr) return nullptr;
  auto* file = static_cast<File*>(AllocateZeroed(sizeof(File)));
  if (file == nullptr) {
    fclose(stream);
    return nullptr;
  }
  file->stream = stream;
  return file;
}

}  // namespace

File* OpenForReading(const char* path) { return Wrap(fopen(path, "rb")); }
File* CreateForWriting(const char* path) { return Wrap(fopen(path, "wb")); }

size_t ReadBytes(File* file, void* buffer, size_t bytes) {
  return fread(buffer, 1, bytes, file->stream);
}

bool ReadFailed(File* file) { return ferror(file->stream) != 0; }

bool SeekTo(File* file, uint64_t offset) {
  // fpos_t is 64-bit in msvcrt, so offsets past 2 GiB work on every version.
  fpos_t position = static_cast<fpos_t>(offset);
  return fsetpos(file->stream, &position) == 0;
}

bool FileLength(File* file, uint64_t* length) {
  const __int64 n = _filelengthi64(_fileno(file->stream));
  if (n < 0) return false;
  *length = static_cast<uint64_t>(n);
  return true;
}

bool WriteBytes(File* file, const void* data, size_t bytes) {
  return fwrite(data, 1, bytes, file->stream) == bytes;
}

bool CloseFile(File* file) {
  const bool ok = ferror(file->stream) == 0;
  const bool closed = fclose(file->stream) == 0;
  Release(file);
  return ok && closed;
}

bool MakeDirectory(const char* path) { return CreateDirectoryA(path, nullptr) != 0; }
bool RemoveEmptyDirectory(const char* path) { return RemoveDirectoryA(path) != 0; }
bool DeleteFileAt(const char* path) { return DeleteFileA(path) != 0; }

}  // namespace platform
