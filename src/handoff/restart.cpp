#include "handoff/restart.h"

#include "platform/platform.h"

namespace {

constexpr uint32_t kPlatformNtFamily = 2;
constexpr int kOwnPathCapacity = 260;

bool g_request_reset_by_this_run = false;

}  // namespace

int SetRebootRequest(uint32_t value) {
  platform::RegistryKey* key = platform::CreateMachineKey(kProductKeyPath);
  if (key == nullptr) return 0;
  platform::SetDwordValue(key, kRebootValueName, value);
  platform::CloseKey(key);
  if (value == 0) g_request_reset_by_this_run = true;
  return 1;
}

uint32_t GetRebootRequest() {
  platform::RegistryKey* key = platform::OpenMachineKey(kProductKeyPath);
  if (key == nullptr) return 0;
  uint8_t bytes[4] = {0, 0, 0, 0};
  uint32_t length = sizeof bytes;
  const platform::QueryResult read =
      platform::QueryValue(key, kRebootValueName, bytes, &length);
  platform::CloseKey(key);
  // A value longer than 4 bytes is not a request; a shorter one fills only its low bytes.
  if (read != platform::QueryResult::kRead) return 0;
  return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
         static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

int SetRunOnReboot(const char* path) {
  platform::RegistryKey* key = platform::CreateMachineKey(kRunKeyPath);
  if (key == nullptr) return 0;
  platform::SetStringValue(key, kRunValueName, path);
  platform::CloseKey(key);
  return 1;
}

int ClearRunOnReboot() {
  platform::RegistryKey* key = platform::OpenMachineKey(kRunKeyPath);
  if (key == nullptr) return 0;
  platform::DeleteValue(key, kRunValueName);
  platform::CloseKey(key);
  return 1;
}

int DeleteProductKey() {
  platform::RegistryKey* key = platform::OpenMachineKey(kProductParentKeyPath);
  if (key == nullptr) return 0;
  platform::DeleteSubkey(key, kProductSubkeyName);
  platform::CloseKey(key);
  return 1;
}

int RebootSystem() {
  if (platform::PlatformId() == kPlatformNtFamily) platform::EnableShutdownPrivilege();
  return platform::RequestRestart() ? 1 : 0;
}

void RestartStep() {
  ClearRunOnReboot();
  if (!g_request_reset_by_this_run) return;
  switch (GetRebootRequest()) {
    case 1:
      RebootSystem();
      break;
    case 2: {
      char path[kOwnPathCapacity];
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

bool RebootRequestResetByThisRun() { return g_request_reset_by_this_run; }
void ForgetRebootRequestResetForTesting() { g_request_reset_by_this_run = false; }
