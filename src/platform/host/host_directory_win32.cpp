// The directory target on Windows: paths are joined below the target directory, and a
// reparse point (a symbolic link or junction) found on the way or at the place is refused.
#include <errno.h>
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <sys/stat.h>
#include <windows.h>

#include <string>
#include <vector>

#include "host_target.h"

namespace platform::host {
namespace {

std::string g_directory;  // the target directory, ending in a backslash

bool IsReparsePoint(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// The full path of a stub path in the directory target, refusing a reparse point on the way
// or at the place (what stands there is checked right before it is used).
bool Place(const char* path, std::string* full) {
  std::vector<std::string> components;
  if (!HostComponents(path, &components)) return false;
  *full = g_directory;
  for (size_t i = 0; i < components.size(); ++i) {
    *full += components[i];
    if (IsReparsePoint(*full)) return Refuse(Refusal::kLink);
    if (i + 1 < components.size()) *full += '\\';
  }
  return true;
}

// Clears the read-only attribute, which an installer may have set on a file the run created,
// so that the deletion that follows is not refused for it (as the stub's own deletion does).
void MakeWritable(const std::string& full) {
  const DWORD attributes = GetFileAttributesA(full.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    SetFileAttributesA(full.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  }
}

bool Remove(const std::string& full, bool directory) {
  if (directory ? RemoveDirectoryA(full.c_str()) : DeleteFileA(full.c_str())) return true;
  MakeWritable(full);
  return (directory ? RemoveDirectoryA(full.c_str()) : DeleteFileA(full.c_str())) != 0;
}

bool IsDirectoryAt(const std::string& full) {
  const DWORD attributes = GetFileAttributesA(full.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

bool OpenTargetDirectory(const std::string& host_directory) {
  g_directory = host_directory;
  if (g_directory.empty() || g_directory.back() != '\\') g_directory += '\\';
  return true;
}

void CloseTargetDirectory() { g_directory.clear(); }

File* CreateInDirectory(const char* path) {
  std::string full;
  if (!Place(path, &full)) return nullptr;
  int fd = _open(full.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
  if (fd < 0 && errno == EEXIST && !IsDirectoryAt(full)) {
    fd = _open(full.c_str(), _O_WRONLY | _O_TRUNC | _O_BINARY);
    if (fd >= 0) NoteFound(path);
  } else if (fd >= 0) {
    NoteCreated(path);
  }
  if (fd < 0) {
    Refuse(IsDirectoryAt(full) ? Refusal::kExists : RefusalForErrno(errno));
    return nullptr;
  }
  return WrapStream(_fdopen(fd, "wb"));
}

bool DirectoryInDirectory(const char* path) {
  std::string full;
  if (!Place(path, &full)) return false;
  if (CreateDirectoryA(full.c_str(), nullptr)) {
    NoteCreated(path);
    return true;
  }
  if (IsDirectoryAt(full)) NoteFound(path);
  return Refuse(GetLastError() == ERROR_ALREADY_EXISTS ? Refusal::kExists : Refusal::kNoParent);
}

bool RemoveInDirectory(const char* path, bool directory) {
  std::string full;
  if (!Place(path, &full)) return false;
  if (directory) return Remove(full, true);
  return !IsDirectoryAt(full) && Remove(full, false);
}

bool RemoveTargetDirectory(const std::string& host_directory) { return Remove(host_directory, true); }

File* OpenInDirectory(const char* path) {
  std::string full;
  if (!Place(path, &full)) return nullptr;
  return WrapStream(fopen(full.c_str(), "rb"));
}


// On Windows paths stay in the system's ANSI code page and go to the ANSI calls unchanged.
bool ConvertEncoding(const char*, const char*, const std::string& in, std::string* out) {
  *out = in;
  return true;
}

}  // namespace platform::host
