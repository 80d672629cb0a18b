// The registry values `kovsea try` reports: the product key the installer answers through,
// the stub's run-again values, and the files the system is to delete at its next start.
#include "observer.h"
#include "restart.h"

namespace observer {
namespace {

constexpr wchar_t kSessionManagerKey[] = L"System\\CurrentControlSet\\Control\\Session Manager";
constexpr wchar_t kPendingValue[] = L"PendingFileRenameOperations";

std::wstring Wide(const char* ascii) {
  std::wstring out;
  while (*ascii != '\0') out += static_cast<wchar_t>(*ascii++);
  return out;
}

std::string TypeName(DWORD type) {
  switch (type) {
    case REG_DWORD: return "REG_DWORD";
    case REG_SZ: return "REG_SZ";
    case REG_EXPAND_SZ: return "REG_EXPAND_SZ";
    case REG_MULTI_SZ: return "REG_MULTI_SZ";
    case REG_QWORD: return "REG_QWORD";
    case REG_BINARY: return "REG_BINARY";
    default: return "type " + Decimal(type);
  }
}

// A value's data as text: numbers in decimal, strings as they are (a multi-string's parts
// joined by line breaks), anything else in hex.
std::string DataText(DWORD type, const std::vector<BYTE>& data) {
  if (type == REG_DWORD && data.size() == 4) {
    return Decimal(data[0] | data[1] << 8 | data[2] << 16 | static_cast<uint32_t>(data[3]) << 24);
  }
  if (type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ) {
    std::wstring text(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t));
    while (!text.empty() && text.back() == L'\0') text.pop_back();
    for (wchar_t& c : text) {
      if (c == L'\0') c = L'\n';
    }
    return Utf8(text.c_str());
  }
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  for (BYTE b : data) {
    hex += kHex[b >> 4];
    hex += kHex[b & 15];
  }
  return hex;
}

bool ReadValue(HKEY key, const wchar_t* name, DWORD* type, std::vector<BYTE>* data) {
  DWORD size = 0;
  if (RegQueryValueExW(key, name, nullptr, type, nullptr, &size) != ERROR_SUCCESS) return false;
  data->assign(size, 0);
  return RegQueryValueExW(key, name, nullptr, type, data->data(), &size) == ERROR_SUCCESS;
}

void ReadOne(const wchar_t* key_path, const char* where, const wchar_t* name, RegistrySnapshot* out) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key_path, 0, KEY_READ, &key) != ERROR_SUCCESS) return;
  DWORD type = 0;
  std::vector<BYTE> data;
  if (ReadValue(key, name, &type, &data)) {
    out->values.push_back({where, Utf8(name), TypeName(type), DataText(type, data)});
  }
  RegCloseKey(key);
}

void ReadProductKey(RegistrySnapshot* out) {
  HKEY key = nullptr;
  const std::wstring path = Wide(kProductKeyPath);
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
  out->product_key = true;
  for (DWORD i = 0;; ++i) {
    wchar_t name[256];
    DWORD name_length = sizeof name / sizeof name[0];
    DWORD type = 0;
    DWORD size = 0;
    if (RegEnumValueW(key, i, name, &name_length, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) break;
    std::vector<BYTE> data;
    if (ReadValue(key, name, &type, &data)) {
      out->values.push_back({"product", Utf8(name), TypeName(type), DataText(type, data)});
    }
  }
  RegCloseKey(key);
}

// The pending operations come in pairs (the file, then its new name, empty for a deletion),
// each file named "\??\C:\...".
void ReadPendingDeletions(RegistrySnapshot* out) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return;
  DWORD type = 0;
  std::vector<BYTE> data;
  if (ReadValue(key, kPendingValue, &type, &data) && type == REG_MULTI_SZ) {
    data.push_back(0);
    data.push_back(0);
    const wchar_t* at = reinterpret_cast<const wchar_t*>(data.data());
    const wchar_t* end = at + data.size() / sizeof(wchar_t);
    while (at < end && *at != L'\0') {
      const wchar_t* source = at;
      at += lstrlenW(at) + 1;
      const wchar_t* target = at < end ? at : L"";
      if (at < end) at += lstrlenW(at) + 1;
      std::wstring file(source);
      if (file.compare(0, 4, L"\\??\\") == 0) file.erase(0, 4);
      out->values.push_back({"pending", Utf8(file.c_str()), *target == L'\0' ? "delete" : "rename", Utf8(target)});
    }
  }
  RegCloseKey(key);
}

}  // namespace

RegistrySnapshot ReadRegistry() {
  RegistrySnapshot snapshot;
  ReadProductKey(&snapshot);
  const std::wstring value = Wide(kRunValueName);
  ReadOne(Wide(kRunOnceKeyPath).c_str(), "runonce", value.c_str(), &snapshot);
  ReadOne(Wide(kRunKeyPath).c_str(), "run", value.c_str(), &snapshot);
  ReadPendingDeletions(&snapshot);
  return snapshot;
}

void EmitRegistry(const char* phase, const RegistrySnapshot& snapshot) {
  if (!snapshot.product_key) Emit("key-absent", {phase});
  for (const RegistryValue& v : snapshot.values) Emit("value", {phase, v.where, v.name, v.type, v.data});
}

}  // namespace observer
