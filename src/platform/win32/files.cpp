// Files through msvcrt's buffered streams, directories through the ANSI Win32 calls.
#include <fcntl.h>
#include <io.h>
#include <stdio.h>

#include "platform_run.h"
#include "win32_platform.h"

namespace platform {

struct File {
  FILE* stream;
  HANDLE mapping;     // a read-only mapping of the whole file, made on its first copy
  const char* view;   // the window of it that copies are written from; null when none
  uint64_t view_start;
  uint64_t view_length;
};

namespace {

// Stream buffer size. The decoder moves data in 512-byte blocks; with the runtime's default
// 4 KiB buffer every eighth block costs a system call, which dominates large extractions.
constexpr size_t kStreamBuffer = 64 * 1024;

// Gives `stream` the larger buffer; without it the stream still works, only slower.
File* Wrap(File* file, FILE* stream) {
  if (stream == nullptr) {
    Release(file);
    return nullptr;
  }
  file->stream = stream;
  setvbuf(stream, nullptr, _IOFBF, kStreamBuffer);
  return file;
}

// A new file is created as new, and only an existing one truncated. Truncating a file that
// is empty anyway is not free: Wine truncates with an explicit ftruncate, after which ext4
// allocates and starts writing the whole file at its close, and its deletion then frees
// blocks instead of reservations. For a 1 GiB file that doubled the time of the copy.
FILE* CreateStream(const char* path) {
  HANDLE handle = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS) {
    handle = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
  if (descriptor == -1) {
    CloseHandle(handle);
    return nullptr;
  }
  FILE* stream = _fdopen(descriptor, "wb");
  if (stream == nullptr) _close(descriptor);
  return stream;
}

// Clears the read-only attribute, which an installer may have set on a file the run
// created, so that the deletion that follows is not refused for it.
void MakeWritable(const char* path) {
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    SetFileAttributesA(path, attributes & ~FILE_ATTRIBUTE_READONLY);
  }
}

}  // namespace

// The wrapper is allocated before the file is opened: a file created and then given up for
// want of memory would be left on disk with nobody to delete it.
File* OpenForReading(const char* path) {
  auto* file = static_cast<File*>(AllocateZeroed(sizeof(File)));
  return file != nullptr ? Wrap(file, fopen(path, "rb")) : nullptr;
}

File* CreateForWriting(const char* path) {
  auto* file = static_cast<File*>(AllocateZeroed(sizeof(File)));
  return file != nullptr ? Wrap(file, CreateStream(path)) : nullptr;
}

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
  if (file->view != nullptr) UnmapViewOfFile(file->view);
  if (file->mapping != nullptr) CloseHandle(file->mapping);
  const bool ok = ferror(file->stream) == 0;
  const bool closed = fclose(file->stream) == 0;
  Release(file);
  return ok && closed;
}

// Long runs are written straight from a mapped view of the archive: the system then copies
// the bytes once, into the new file, instead of into the runtime's buffers, the decoder's
// blocks and back.
bool CanCopyBetween(File*, File*) { return true; }

namespace {

// Views start at multiples of the allocation granularity. A window of 64 MiB serves 64 of
// the decoder's 1 MiB chunks: under Wine, mapping and unmapping a view for every chunk cost
// more than the copy itself.
constexpr uint64_t kViewGranularity = 64 * 1024;
constexpr uint64_t kViewWindow = 64u << 20;

// Makes the window of `file` hold [start, start + bytes); false when it cannot be mapped.
bool MapWindow(File* file, HANDLE handle, uint64_t start, uint64_t bytes) {
  if (file->view != nullptr && start >= file->view_start &&
      start + bytes <= file->view_start + file->view_length) {
    return true;
  }
  if (file->view != nullptr) UnmapViewOfFile(file->view);
  file->view = nullptr;
  if (file->mapping == nullptr) {
    file->mapping = CreateFileMappingA(handle, nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (file->mapping == nullptr) return false;
  }
  LARGE_INTEGER size;
  if (!GetFileSizeEx(handle, &size)) return false;
  const uint64_t view_start = start - start % kViewGranularity;
  const uint64_t file_end = static_cast<uint64_t>(size.QuadPart);
  uint64_t length = file_end - view_start < kViewWindow ? file_end - view_start : kViewWindow;
  if (length < start - view_start + bytes) length = start - view_start + bytes;
  file->view = static_cast<const char*>(MapViewOfFile(file->mapping, FILE_MAP_READ,
                                                      static_cast<DWORD>(view_start >> 32),
                                                      static_cast<DWORD>(view_start),
                                                      static_cast<size_t>(length)));
  file->view_start = view_start;
  file->view_length = length;
  return file->view != nullptr;
}

}  // namespace

uint64_t CopyBetween(File* from, File* to, uint64_t bytes) {
  fpos_t in_at = 0;
  fpos_t out_at = 0;
  if (fflush(to->stream) != 0 || fgetpos(from->stream, &in_at) != 0 ||
      fgetpos(to->stream, &out_at) != 0) {
    return 0;
  }
  const HANDLE in = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(from->stream)));
  const HANDLE out = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(to->stream)));
  const uint64_t start = static_cast<uint64_t>(in_at);
  if (!MapWindow(from, in, start, bytes)) return 0;
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(out_at);
  DWORD written = 0;
  if (!SetFilePointerEx(out, position, nullptr, FILE_BEGIN) ||
      !WriteFile(out, from->view + (start - from->view_start), static_cast<DWORD>(bytes), &written,
                 nullptr)) {
    written = 0;
  }
  // Both streams continue after the copied bytes.
  const fpos_t in_next = in_at + static_cast<fpos_t>(written);
  const fpos_t out_next = out_at + static_cast<fpos_t>(written);
  if (fsetpos(from->stream, &in_next) != 0 || fsetpos(to->stream, &out_next) != 0) return 0;
  return written;
}

bool MakeDirectory(const char* path) { return CreateDirectoryA(path, nullptr) != 0; }

bool BuildPrivateSecurity(PrivateSecurity* security) {
  ZeroMemory(security, sizeof *security);
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  DWORD owner_size = 0;
  const BOOL have_user = GetTokenInformation(token, TokenUser, &security->owner,
                                             sizeof security->owner, &owner_size);
  CloseHandle(token);
  SID_IDENTIFIER_AUTHORITY nt_authority = {SECURITY_NT_AUTHORITY};
  AllocateAndInitializeSid(&nt_authority, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0,
                           &security->system);
  AllocateAndInitializeSid(&nt_authority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                           DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &security->administrators);
  // Full control, passed on to every file and directory created inside.
  const DWORD inherit = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
  ACL* acl = &security->dacl.acl;
  return have_user && security->system != nullptr && security->administrators != nullptr &&
         InitializeAcl(acl, sizeof security->dacl, ACL_REVISION) &&
         AddAccessAllowedAceEx(acl, ACL_REVISION, inherit, FILE_ALL_ACCESS,
                               security->owner.user.User.Sid) &&
         AddAccessAllowedAceEx(acl, ACL_REVISION, inherit, FILE_ALL_ACCESS, security->system) &&
         AddAccessAllowedAceEx(acl, ACL_REVISION, inherit, FILE_ALL_ACCESS,
                               security->administrators) &&
         InitializeSecurityDescriptor(&security->descriptor, SECURITY_DESCRIPTOR_REVISION) &&
         SetSecurityDescriptorDacl(&security->descriptor, TRUE, acl, FALSE) &&
         // Protected: nothing is inherited from the temporary directory.
         SetSecurityDescriptorControl(&security->descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
}

void FreePrivateSecurity(PrivateSecurity* security) {
  if (security->system != nullptr) FreeSid(security->system);
  if (security->administrators != nullptr) FreeSid(security->administrators);
  security->system = security->administrators = nullptr;
}

bool MakePrivateDirectory(const char* path) {
  PrivateSecurity security;
  bool made;
  if (BuildPrivateSecurity(&security)) {
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, &security.descriptor, FALSE};
    made = CreateDirectoryA(path, &attributes) != 0;
  } else {
    // Systems without security (the Windows 9x family) have no access lists to set; anywhere
    // else the directory is not made without its protection.
    made = GetLastError() == ERROR_CALL_NOT_IMPLEMENTED && MakeDirectory(path);
  }
  FreePrivateSecurity(&security);
  return made;
}

bool RemoveEmptyDirectory(const char* path) {
  MakeWritable(path);
  return RemoveDirectoryA(path) != 0;
}

bool DeleteFileAt(const char* path) {
  MakeWritable(path);
  return DeleteFileA(path) != 0;
}

bool DeleteAtRestart(const char* path) {
  // Only what is still there: a path deleted meanwhile needs no request.
  return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES &&
         MoveFileExA(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != 0;
}

}  // namespace platform
