// The directory target on Windows: paths are joined below the target directory, and a
// reparse point (a symbolic link or junction) found on the way or at the place is refused.
#include <errno.h>
#include <stdlib.h>
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

// A file that stands where one is to be written is never changed in place: the new bytes go
// to a file beside it, which replaces it only when the whole run has succeeded.
File* CreateInDirectory(const char* path) {
  std::string full;
  if (!Place(path, &full)) return nullptr;
  int fd = _open(full.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
  if (fd >= 0) {
    NoteCreated(path);
  } else if (errno == EEXIST && !IsDirectoryAt(full) && WritesInPlace()) {
    fd = _open(full.c_str(), _O_WRONLY | _O_TRUNC | _O_BINARY);
    if (fd < 0) {
      Refuse(Refusal::kSystem, errno);
      return nullptr;
    }
    NoteFound(path);
  } else if (errno == EEXIST && !IsDirectoryAt(full)) {
    const size_t cut = full.rfind('\\');
    std::string beside;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
      beside = ReplacementName(full.substr(cut + 1));
      fd = _open((full.substr(0, cut + 1) + beside).c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY,
                 _S_IREAD | _S_IWRITE);
      if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
      Refuse(Refusal::kSystem, errno);
      return nullptr;
    }
    NoteFound(path);
    NoteReplacement(path, beside);
  } else {
    Refuse(IsDirectoryAt(full) ? Refusal::kExists : RefusalForErrno(errno), errno);
    return nullptr;
  }
  return WrapStream(_fdopen(fd, "wb"));
}

bool ReplaceInDirectory(const char* path, const std::string& beside, bool keep) {
  std::string full;
  if (!Place(path, &full)) return false;
  const std::string from = full.substr(0, full.rfind('\\') + 1) + beside;
  if (!keep) return DeleteFileA(from.c_str()) != 0;
  return MoveFileExA(from.c_str(), full.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
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


FILE* OpenRegularFile(const std::string& host_path, FileIdentity* identity) {
  if (IsReparsePoint(host_path) || IsDirectoryAt(host_path)) {
    errno = EINVAL;
    return nullptr;
  }
  FILE* stream = fopen(host_path.c_str(), "rb");
  if (stream == nullptr) return nullptr;
  const __int64 length = _filelengthi64(_fileno(stream));
  *identity = FileIdentity();
  identity->size = length < 0 ? 0 : static_cast<uint64_t>(length);
  return stream;
}

DirectoryLock::~DirectoryLock() {
  if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

// Not a file in the directory, where an entry or a file of the user's could have its name:
// a named mutex of the directory's identity (its volume's serial number and file index), so
// that every spelling of its path (a short name, another case, a link) meets the same lock.
// The system removes it with its last handle, however the run ends. A mutex of that name that
// this user may not open is another user's run.
bool DirectoryLock::Acquire(const std::string& host_directory, bool* busy) {
  *busy = false;
  HANDLE directory = CreateFileA(host_directory.c_str(), FILE_READ_ATTRIBUTES,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (directory == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  const BOOL identified = GetFileInformationByHandle(directory, &info);
  CloseHandle(directory);
  if (!identified) return false;
  char name[64];
  snprintf(name, sizeof name, "Global\\kovsea-extracting-%08lx-%08lx%08lx",
           static_cast<unsigned long>(info.dwVolumeSerialNumber), static_cast<unsigned long>(info.nFileIndexHigh),
           static_cast<unsigned long>(info.nFileIndexLow));
  HANDLE mutex = CreateMutexA(nullptr, FALSE, name);
  if (mutex == nullptr) {
    *busy = GetLastError() == ERROR_ACCESS_DENIED;
    return false;
  }
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    *busy = true;
    return false;
  }
  handle_ = reinterpret_cast<intptr_t>(mutex);
  return true;
}

bool IsLeadByteIn(const std::string& codepage, uint8_t byte) {
  return IsDBCSLeadByteEx(static_cast<UINT>(atoi(codepage.c_str() + 2)), byte) != 0;
}

std::string WindowsUpperCase(const std::string& host_name) {
  std::string upper = host_name;
  if (!upper.empty()) CharUpperBuffA(&upper[0], static_cast<DWORD>(upper.size()));
  return upper;
}

// On Windows paths stay in the system's ANSI code page and go to the ANSI calls unchanged.
bool ConvertEncoding(const char*, const char*, const std::string& in, std::string* out) {
  *out = in;
  return true;
}

}  // namespace platform::host
