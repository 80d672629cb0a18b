// The registry under HKEY_LOCAL_MACHINE, always with full access.
#include "platform_run.h"
#include "win32_platform.h"

namespace platform {
namespace {

RegistryKey* FromKey(HKEY key) { return reinterpret_cast<RegistryKey*>(key); }
HKEY ToKey(RegistryKey* key) { return reinterpret_cast<HKEY>(key); }

}  // namespace

RegistryKey* CreateMachineKey(const char* path) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                      &disposition) != ERROR_SUCCESS) {
    return nullptr;
  }
  return FromKey(key);
}

RegistryKey* OpenMachineKey(const char* path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) {
    return nullptr;
  }
  return FromKey(key);
}

void SetDwordValue(RegistryKey* key, const char* name, uint32_t value) {
  DWORD data = value;
  RegSetValueExA(ToKey(key), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                 sizeof data);
}

void SetStringValue(RegistryKey* key, const char* name, const char* value) {
  RegSetValueExA(ToKey(key), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                 static_cast<DWORD>(lstrlenA(value) + 1));
}

bool QueryDwordValue(RegistryKey* key, const char* name, uint32_t* value) {
  DWORD type = 0;
  DWORD data = 0;
  DWORD size = sizeof data;
  const LONG status = RegQueryValueExA(ToKey(key), name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size);
  if (status != ERROR_SUCCESS || type != REG_DWORD || size != sizeof data) return false;
  *value = data;
  return true;
}

void DeleteValue(RegistryKey* key, const char* name) { RegDeleteValueA(ToKey(key), name); }
void DeleteSubkey(RegistryKey* key, const char* subkey) { RegDeleteKeyA(ToKey(key), subkey); }
void CloseKey(RegistryKey* key) { RegCloseKey(ToKey(key)); }

}  // namespace platform
