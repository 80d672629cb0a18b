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
  if (directory) return RemoveDirectoryA(full.c_str()) != 0;
  return !IsDirectoryAt(full) && DeleteFileA(full.c_str()) != 0;
}

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

// A lock file in the directory, open without sharing and removed when closed.
bool DirectoryLock::Acquire(const std::string& host_directory, bool* busy) {
  const std::string path = host_directory + "\\.kovsea-extracting";
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  *busy = h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION;
  if (h == INVALID_HANDLE_VALUE) return false;
  handle_ = reinterpret_cast<intptr_t>(h);
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
