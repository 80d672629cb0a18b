// Files through msvcrt's buffered streams, directories through the ANSI Win32 calls.
#include <io.h>
#include <stdio.h>

#include "platform_run.h"
#include "win32_platform.h"

namespace platform {

struct File {
  FILE* stream;
  HANDLE mapping;  // a read-only mapping of the whole file, made on its first copy
};

namespace {

// Stream buffer size. The decoder moves data in 512-byte blocks; with the runtime's default
// 4 KiB buffer every eighth block costs a system call, which dominates large extractions.
constexpr size_t kStreamBuffer = 64 * 1024;

// The wrapper is allocated before the file is opened: a file created and then given up for
// want of memory would be left on disk with nobody to delete it.
File* Open(const char* path, const char* mode) {
  auto* file = static_cast<File*>(AllocateZeroed(sizeof(File)));
  if (file == nullptr) return nullptr;
  file->stream = fopen(path, mode);
  if (file->stream == nullptr) {
    Release(file);
    return nullptr;
  }
  // Without the larger buffer the stream still works, only slower.
  setvbuf(file->stream, nullptr, _IOFBF, kStreamBuffer);
  return file;
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

File* OpenForReading(const char* path) { return Open(path, "rb"); }
File* CreateForWriting(const char* path) { return Open(path, "wb"); }

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

uint64_t CopyBetween(File* from, File* to, uint64_t bytes) {
  constexpr uint64_t kViewGranularity = 64 * 1024;  // views start at multiples of this
  fpos_t in_at = 0;
  fpos_t out_at = 0;
  if (fflush(to->stream) != 0 || fgetpos(from->stream, &in_at) != 0 ||
      fgetpos(to->stream, &out_at) != 0) {
    return 0;
  }
  const HANDLE in = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(from->stream)));
  const HANDLE out = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(to->stream)));
  if (from->mapping == nullptr) {
    from->mapping = CreateFileMappingA(in, nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (from->mapping == nullptr) return 0;
  }
  const uint64_t start = static_cast<uint64_t>(in_at);
  const uint64_t view_start = start - start % kViewGranularity;
  const size_t lead = static_cast<size_t>(start - view_start);
  const char* view = static_cast<const char*>(
      MapViewOfFile(from->mapping, FILE_MAP_READ, static_cast<DWORD>(view_start >> 32),
                    static_cast<DWORD>(view_start), lead + static_cast<size_t>(bytes)));
  if (view == nullptr) return 0;
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(out_at);
  DWORD written = 0;
  if (!SetFilePointerEx(out, position, nullptr, FILE_BEGIN) ||
      !WriteFile(out, view + lead, static_cast<DWORD>(bytes), &written, nullptr)) {
    written = 0;
  }
  UnmapViewOfFile(view);
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
