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

QueryResult QueryValue(RegistryKey* key, const char* name, void* buffer, uint32_t* length) {
  DWORD type = 0;
  DWORD size = *length;
  const LONG status =
      RegQueryValueExA(ToKey(key), name, nullptr, &type, static_cast<BYTE*>(buffer), &size);
  if (status == ERROR_MORE_DATA) return QueryResult::kTooLarge;
  if (status != ERROR_SUCCESS) return QueryResult::kMissing;
  *length = size;
  return QueryResult::kRead;
}

void DeleteValue(RegistryKey* key, const char* name) { RegDeleteValueA(ToKey(key), name); }
void DeleteSubkey(RegistryKey* key, const char* subkey) { RegDeleteKeyA(ToKey(key), subkey); }
void CloseKey(RegistryKey* key) { RegCloseKey(ToKey(key)); }

}  // namespace platform
