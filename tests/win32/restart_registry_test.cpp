// The restart protocol against Wine's real registry: keys, value names, types and lengths,
// read back with the registry API and with Wine's own reg.exe.
#include <gtest/gtest.h>

#include <windows.h>

#include <stdio.h>
#include <string.h>

#include <string>

#include "restart.h"

namespace {

struct StoredValue {
  bool present = false;
  DWORD type = 0;
  DWORD length = 0;
  std::string bytes;
};

StoredValue Read(const char* key_path, const char* name) {
  StoredValue v;
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key_path, 0, KEY_READ, &key) != ERROR_SUCCESS) return v;
  char buffer[512];
  v.length = sizeof buffer;
  v.present = RegQueryValueExA(key, name, nullptr, &v.type, reinterpret_cast<BYTE*>(buffer),
                               &v.length) == ERROR_SUCCESS;
  if (v.present) v.bytes.assign(buffer, v.length);
  RegCloseKey(key);
  return v;
}

bool KeyExists(const char* key_path) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key_path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

void WriteRaw(const char* name, DWORD type, const void* data, DWORD length) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kProductKeyPath, 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), length);
  RegCloseKey(key);
}

// What Wine's reg.exe prints for a value.
std::string RegExe(const char* key, const char* value) {
  std::string command = std::string("reg query \"HKLM\\") + key + "\" /v \"" + value + "\" 2>nul";
  FILE* pipe = _popen(command.c_str(), "r");
  if (pipe == nullptr) return "";
  std::string out;
  char line[512];
  while (fgets(line, sizeof line, pipe) != nullptr) out += line;
  _pclose(pipe);
  return out;
}

class RestartRegistry : public ::testing::Test {
 protected:
  void SetUp() override {
    DeleteProductKey();
    ClearRunOnReboot();
  }
  void TearDown() override {
    DeleteProductKey();
    ClearRunOnReboot();
  }
};

TEST_F(RestartRegistry, RebootRequestIsAFourByteDwordInTheProductKey) {
  ASSERT_TRUE(SetRebootRequest(0)) << "creates Software\\Orvane\\KOV";
  StoredValue v = Read(kProductKeyPath, "Reboot");
  ASSERT_TRUE(v.present);
  EXPECT_EQ(v.type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(v.length, 4u);
  EXPECT_EQ(GetRebootRequest(), 0u);
  ASSERT_TRUE(SetRebootRequest(3));
  EXPECT_EQ(GetRebootRequest(), 3u);
  EXPECT_NE(RegExe(kProductKeyPath, "Reboot").find("REG_DWORD    0x3"), std::string::npos)
      << RegExe(kProductKeyPath, "Reboot");
}

TEST_F(RestartRegistry, OnlyAFourByteDwordIsARequest) {
  const unsigned char two_bytes[2] = {0x02, 0x00};
  WriteRaw("Reboot", REG_BINARY, two_bytes, sizeof two_bytes);
  EXPECT_EQ(GetRebootRequest(), 0u) << "a short binary value is no request";
  const unsigned char one[4] = {0x01, 0, 0, 0};
  WriteRaw("Reboot", REG_BINARY, one, sizeof one);
  EXPECT_EQ(GetRebootRequest(), 0u) << "four binary bytes are no number";
  WriteRaw("Reboot", REG_DWORD, one, 2);
  EXPECT_EQ(GetRebootRequest(), 0u) << "a REG_DWORD of two bytes is no request";
  WriteRaw("Reboot", REG_DWORD, one, sizeof one);
  EXPECT_EQ(GetRebootRequest(), 1u);
  const unsigned char eight_bytes[8] = {1, 0, 0, 0, 0, 0, 0, 0};
  WriteRaw("Reboot", REG_QWORD, eight_bytes, sizeof eight_bytes);
  EXPECT_EQ(GetRebootRequest(), 0u) << "a value longer than 4 bytes is no request";
  DeleteProductKey();
  EXPECT_EQ(GetRebootRequest(), 0u);
}

TEST_F(RestartRegistry, RunOnceValueHoldsTheQuotedPathWithItsTerminatorAndIsRemoved) {
  const char path[] = "C:\\Users\\Public\\Downloads\\product setup.exe";
  const std::string quoted = std::string("\"") + path + "\"";
  ASSERT_TRUE(SetRunOnReboot(path));
  StoredValue v = Read(kRunOnceKeyPath, kRunValueName);
  ASSERT_TRUE(v.present);
  EXPECT_EQ(v.type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(v.length, quoted.size() + 1) << "the stored length counts the terminating zero";
  EXPECT_EQ(v.bytes, quoted + std::string(1, '\0'));
  EXPECT_FALSE(Read(kRunKeyPath, kRunValueName).present);
  const std::string shown = RegExe(kRunOnceKeyPath, kRunValueName);
  EXPECT_NE(shown.find("REG_SZ    " + quoted), std::string::npos) << shown;
  // An older build's value in Run goes too.
  HKEY run;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kRunKeyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &run, nullptr),
            ERROR_SUCCESS);
  RegSetValueExA(run, kRunValueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(path), sizeof path);
  RegCloseKey(run);
  EXPECT_TRUE(ClearRunOnReboot());
  EXPECT_FALSE(Read(kRunOnceKeyPath, kRunValueName).present);
  EXPECT_FALSE(Read(kRunKeyPath, kRunValueName).present);
  EXPECT_TRUE(ClearRunOnReboot()) << "a missing value is no concern";
}

TEST_F(RestartRegistry, DeleteProductKeyRemovesTheKeyAndItsRequest) {
  ASSERT_TRUE(SetRebootRequest(1));
  ASSERT_TRUE(KeyExists(kProductKeyPath));
  EXPECT_TRUE(DeleteProductKey());
  EXPECT_FALSE(KeyExists(kProductKeyPath));
  EXPECT_TRUE(KeyExists(kProductParentKeyPath)) << "only the subkey goes";
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, kProductParentKeyPath);
  EXPECT_FALSE(DeleteProductKey()) << "no parent key to open";
}

}  // namespace
