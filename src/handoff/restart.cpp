#include "restart.h"

#include "platform_run.h"
#include "text.h"

namespace {

constexpr uint32_t kPlatformNtFamily = 2;

bool DeleteRunValue(const char* key_path) {
  platform::RegistryKey* key = platform::OpenMachineKey(key_path);
  if (key == nullptr) return false;
  platform::DeleteValue(key, kRunValueName);
  platform::CloseKey(key);
  return true;
}

}  // namespace

bool SetRebootRequest(uint32_t value) {
  platform::RegistryKey* key = platform::CreateMachineKey(kProductKeyPath);
  if (key == nullptr) return false;
  platform::SetDwordValue(key, kRebootValueName, value);
  platform::CloseKey(key);
  return true;
}

uint32_t GetRebootRequest() {
  platform::RegistryKey* key = platform::OpenMachineKey(kProductKeyPath);
  if (key == nullptr) return 0;
  // Only a 4-byte REG_DWORD is a request: a value of another type or size that happens to
  // hold the bytes 1, 2 or 3 must not restart Windows or delete the product key.
  uint32_t request = 0;
  if (!platform::QueryDwordValue(key, kRebootValueName, &request)) request = 0;
  platform::CloseKey(key);
  return request;
}

bool SetRunOnReboot(const char* path) {
  // Quoted: at log-on the command line is split at its first blank, and an unquoted
  // "C:\Users\Ann\product setup.exe" would start "C:\Users\Ann\product.exe" instead.
  char command[kPathCapacity + 2];
  command[0] = '\0';
  if (!AppendQuoted(command, sizeof command, path)) return false;
  platform::RegistryKey* key = platform::CreateMachineKey(kRunOnceKeyPath);
  if (key == nullptr) return false;
  platform::SetStringValue(key, kRunValueName, command);
  platform::CloseKey(key);
  return true;
}

bool ClearRunOnReboot() {
  const bool run = DeleteRunValue(kRunKeyPath);
  const bool run_once = DeleteRunValue(kRunOnceKeyPath);
  return run || run_once;
}

bool DeleteProductKey() {
  platform::RegistryKey* key = platform::OpenMachineKey(kProductParentKeyPath);
  if (key == nullptr) return false;
  platform::DeleteSubkey(key, kProductSubkeyName);
  platform::CloseKey(key);
  return true;
}

bool RebootSystem() {
  if (platform::PlatformId() == kPlatformNtFamily) platform::EnableShutdownPrivilege();
  return platform::RequestRestart();
}

void RestartStep(bool request_reset_by_this_run) {
  ClearRunOnReboot();
  if (!request_reset_by_this_run) return;
  switch (GetRebootRequest()) {
    case 1:
      RebootSystem();
      break;
    case 2: {
      char path[kPathCapacity];
      const size_t length = platform::OwnExecutablePath(path, sizeof path);
      // Never register a cut or empty path; the restart is still asked for.
      if (length > 0 && length < sizeof path) SetRunOnReboot(path);
      RebootSystem();
      break;
    }
    case 3:
      DeleteProductKey();
      RebootSystem();
      break;
    default:
      break;
  }
}
