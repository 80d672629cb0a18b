// Files through msvcrt's buffered streams, directories through the ANSI Win32 calls.
#include <fcntl.h>
#include <io.h>
#include <stdio.h>

#include "platform_run.h"
#include "win32_platform.h"

namespace platform {

struct File {
  FILE* stream;
  char* copy_buffer;  // for copies out of this file; made on the first one
};

namespace {

// Stream buffer size. The decoder moves data in 512-byte blocks; with the runtime's default
// 4 KiB buffer every eighth block costs a system call, which dominates large extractions.
constexpr size_t kStreamBuffer = 64 * 1024;
// The decoder copies long runs in chunks of at most 1 MiB, so that a Cancel is seen in time.
constexpr size_t kCopyBuffer = 1u << 20;

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

File* OpenOwnExecutable() {
  // By its UTF-16 name: in a directory such as "C:\Users\\u0141ukasz\Downloads" the ANSI name of
  // the file holds a "?" where the code page has no character.
  wchar_t path[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return nullptr;
  auto* file = static_cast<File*>(AllocateZeroed(sizeof(File)));
  return file != nullptr ? Wrap(file, _wfopen(path, L"rb")) : nullptr;
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
  Release(file->copy_buffer);
  const bool ok = ferror(file->stream) == 0;
  const bool closed = fclose(file->stream) == 0;
  Release(file);
  return ok && closed;
}

// Long runs are copied with the system's own reads and writes through one buffer, past the
// runtime's buffers and the decoder's blocks.
bool CanCopyBetween(File*, File*) { return true; }

uint64_t CopyBetween(File* from, File* to, uint64_t bytes) {
  fpos_t in_at = 0;
  fpos_t out_at = 0;
  if (fflush(to->stream) != 0 || fgetpos(from->stream, &in_at) != 0 ||
      fgetpos(to->stream, &out_at) != 0) {
    return 0;
  }
  // Allocated on the first copy and kept: a long entry is copied in chunks of this size.
  if (from->copy_buffer == nullptr) {
    from->copy_buffer = static_cast<char*>(AllocateZeroed(kCopyBuffer));
    if (from->copy_buffer == nullptr) return 0;
  }
  const HANDLE in = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(from->stream)));
  const HANDLE out = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(to->stream)));
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(in_at);
  bool ok = SetFilePointerEx(in, position, nullptr, FILE_BEGIN) != 0;
  position.QuadPart = static_cast<LONGLONG>(out_at);
  ok = ok && SetFilePointerEx(out, position, nullptr, FILE_BEGIN) != 0;
  uint64_t copied = 0;
  while (ok && copied < bytes) {
    const DWORD want = static_cast<DWORD>(bytes - copied < kCopyBuffer ? bytes - copied : kCopyBuffer);
    DWORD got = 0;
    DWORD written = 0;
    ok = ReadFile(in, from->copy_buffer, want, &got, nullptr) && got == want &&
         WriteFile(out, from->copy_buffer, got, &written, nullptr) && written == got;
    if (ok) copied += got;
  }
  // Both streams continue after the copied bytes.
  const fpos_t in_next = in_at + static_cast<fpos_t>(copied);
  const fpos_t out_next = out_at + static_cast<fpos_t>(copied);
  if (fsetpos(from->stream, &in_next) != 0 || fsetpos(to->stream, &out_next) != 0) return 0;
  return copied;
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

// A read-only attribute is cleared only when the first attempt fails: most files have none,
// and under Wine every look at a path costs a walk of it.
bool RemoveEmptyDirectory(const char* path) {
  if (RemoveDirectoryA(path)) return true;
  MakeWritable(path);
  return RemoveDirectoryA(path) != 0;
}

bool DeleteFileAt(const char* path) {
  if (DeleteFileA(path)) return true;
  MakeWritable(path);
  return DeleteFileA(path) != 0;
}

bool PathExists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

bool DeleteAtRestart(const char* path) {
  // Only what is still there: a path deleted meanwhile needs no request.
  return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES &&
         MoveFileExA(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != 0;
}

}  // namespace platform
