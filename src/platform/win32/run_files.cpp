// What a run needs of the file system beyond the file seam: the extraction root made private
// as it is created, and deletion at the next start for what is still in use at the end.
// Apart from the files themselves, so that a program with files of its own (kovsea.exe's
// install, over the host platform) can link these.
#include "platform_run.h"
#include "win32_platform.h"

namespace platform {

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
    made = GetLastError() == ERROR_CALL_NOT_IMPLEMENTED && CreateDirectoryA(path, nullptr) != 0;
  }
  FreePrivateSecurity(&security);
  return made;
}

bool PathExists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

bool DeleteAtRestart(const char* path) {
  // Only what is still there: a path deleted meanwhile needs no request.
  return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES &&
         MoveFileExA(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != 0;
}

}  // namespace platform
