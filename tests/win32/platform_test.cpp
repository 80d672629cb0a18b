// The Win32 platform against the real system (Wine): files, directories, messages.
#include <gtest/gtest.h>

#include <string.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "messages.h"
#include "resource_ids.h"
#include "platform_run.h"
#include "win32_platform.h"

#include <sddl.h>

namespace {

std::string TempPath() {
  char buffer[300];
  size_t n = platform::TemporaryDirectory(buffer, 261);
  EXPECT_GT(n, 0u);
  EXPECT_LT(n, 261u);
  return std::string(buffer, n);
}

TEST(Win32Files, DirectoryIsMadeOnceAndRemovedWhenEmpty) {
  std::string dir = TempPath() + "kovsea-platform-test";
  platform::RemoveEmptyDirectory(dir.c_str());
  ASSERT_TRUE(platform::MakeDirectory(dir.c_str()));
  EXPECT_FALSE(platform::MakeDirectory(dir.c_str())) << "an existing directory is an error";
  std::string file = dir + "\\data.bin";
  platform::File* out = platform::CreateForWriting(file.c_str());
  ASSERT_NE(out, nullptr);
  EXPECT_TRUE(platform::WriteBytes(out, "0123456789", 10));
  EXPECT_TRUE(platform::CloseFile(out));
  EXPECT_FALSE(platform::RemoveEmptyDirectory(dir.c_str())) << "not empty yet";

  platform::File* in = platform::OpenForReading(file.c_str());
  ASSERT_NE(in, nullptr);
  uint64_t length = 0;
  EXPECT_TRUE(platform::FileLength(in, &length));
  EXPECT_EQ(length, 10u);
  EXPECT_TRUE(platform::SeekTo(in, 7));
  char got[8] = {};
  EXPECT_EQ(platform::ReadBytes(in, got, sizeof got), 3u);
  EXPECT_FALSE(platform::ReadFailed(in));
  EXPECT_STREQ(got, "789");
  EXPECT_TRUE(platform::CloseFile(in));

  EXPECT_TRUE(platform::DeleteFileAt(file.c_str()));
  EXPECT_TRUE(platform::RemoveEmptyDirectory(dir.c_str()));
  EXPECT_EQ(GetFileAttributesA(dir.c_str()), INVALID_FILE_ATTRIBUTES);
}

// Long runs go from the archive to the new file outside the streams; both streams must carry
// on exactly after the copied bytes, wherever the copy starts.
TEST(Win32Files, CopyBetweenContinuesBothStreams) {
  const std::string dir = TempPath();
  const std::string source_path = dir + "kovsea-copy-source.bin";
  const std::string target_path = dir + "kovsea-copy-target.bin";
  std::string source(300000, '\0');
  for (size_t i = 0; i < source.size(); ++i) source[i] = static_cast<char>((i * 7919) >> 5);
  platform::File* writer = platform::CreateForWriting(source_path.c_str());
  ASSERT_NE(writer, nullptr);
  ASSERT_TRUE(platform::WriteBytes(writer, source.data(), source.size()));
  ASSERT_TRUE(platform::CloseFile(writer));

  platform::File* from = platform::OpenForReading(source_path.c_str());
  platform::File* to = platform::CreateForWriting(target_path.c_str());
  ASSERT_NE(from, nullptr);
  ASSERT_NE(to, nullptr);
  char head[1000];
  ASSERT_EQ(platform::ReadBytes(from, head, sizeof head), sizeof head);  // a view not on 64 KiB
  ASSERT_TRUE(platform::WriteBytes(to, "head", 4));                      // still buffered
  ASSERT_TRUE(platform::CanCopyBetween(from, to));
  EXPECT_EQ(platform::CopyBetween(from, to, 200000), 200000u);
  char next[10];
  ASSERT_EQ(platform::ReadBytes(from, next, sizeof next), sizeof next);
  EXPECT_EQ(std::string(next, sizeof next), source.substr(201000, 10));
  ASSERT_TRUE(platform::WriteBytes(to, "tail", 4));
  EXPECT_TRUE(platform::CloseFile(from));
  EXPECT_TRUE(platform::CloseFile(to));

  platform::File* check = platform::OpenForReading(target_path.c_str());
  ASSERT_NE(check, nullptr);
  std::string copied(200010, '\0');
  EXPECT_EQ(platform::ReadBytes(check, &copied[0], copied.size()), 200008u);
  copied.resize(200008);
  EXPECT_TRUE(platform::CloseFile(check));
  EXPECT_TRUE(copied == "head" + source.substr(1000, 200000) + "tail");
  DeleteFileA(source_path.c_str());
  DeleteFileA(target_path.c_str());
}

// The access list of `path`, read back through the security API.
struct AccessList {
  std::vector<std::pair<std::string, ACCESS_ALLOWED_ACE>> allowed;  // string SID, entry
  int other_entries = 0;
};

AccessList ReadAccessList(const std::string& path) {
  AccessList list;
  DWORD needed = 0;
  GetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &needed);
  std::vector<BYTE> buffer(needed);
  if (needed == 0 || !GetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, buffer.data(),
                                       needed, &needed)) {
    ADD_FAILURE() << "cannot read the security of " << path;
    return list;
  }
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  ACL* acl = nullptr;
  if (!GetSecurityDescriptorDacl(buffer.data(), &present, &acl, &defaulted) || !present || !acl) {
    ADD_FAILURE() << path << " has no access list";
    return list;
  }
  for (DWORD i = 0; i < acl->AceCount; ++i) {
    void* ace = nullptr;
    GetAce(acl, i, &ace);
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    if (allowed->Header.AceType != ACCESS_ALLOWED_ACE_TYPE) {
      ++list.other_entries;
      continue;
    }
    char* text = nullptr;
    ConvertSidToStringSidA(&allowed->SidStart, &text);
    list.allowed.emplace_back(text != nullptr ? text : "?", *allowed);
    LocalFree(text);
  }
  return list;
}

std::string CurrentUserSid() {
  HANDLE token = nullptr;
  OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
  BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size);
  CloseHandle(token);
  char* text = nullptr;
  ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &text);
  std::string sid = text != nullptr ? text : "";
  LocalFree(text);
  return sid;
}

TEST(Win32Files, PrivateSecurityIsAProtectedListOfUserSystemAndAdministrators) {
  platform::PrivateSecurity security;
  ASSERT_TRUE(platform::BuildPrivateSecurity(&security));
  char* text = nullptr;
  ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorA(
      &security.descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr));
  // P: protected from inheritance; OICI: passed on to files and directories; FA: full access.
  EXPECT_EQ(std::string(text), "D:P(A;OICI;FA;;;" + CurrentUserSid() + ")(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)");
  LocalFree(text);
  platform::FreePrivateSecurity(&security);
}

// Wine keeps no access lists of its own: it turns the list given at creation into Unix
// permissions and reports a list made from those. What survives that is checked here: nobody
// but the user and the system account (and administrators, where kept) is let in.
TEST(Win32Files, PrivateDirectoryLetsNobodyElseIn) {
  const std::string dir = TempPath() + "kovsea-private-test";
  RemoveDirectoryA(dir.c_str());
  ASSERT_TRUE(platform::MakePrivateDirectory(dir.c_str()));
  EXPECT_FALSE(platform::MakePrivateDirectory(dir.c_str())) << "an existing directory is an error";

  const std::set<std::string> admitted = {CurrentUserSid(), "S-1-5-18", "S-1-5-32-544"};
  const AccessList root = ReadAccessList(dir);
  EXPECT_EQ(root.other_entries, 0);
  bool user_has_full_control = false;
  for (const auto& [sid, ace] : root.allowed) {
    EXPECT_TRUE(admitted.count(sid)) << sid << " is let in";
    if (sid == CurrentUserSid()) user_has_full_control = (ace.Mask & FILE_ALL_ACCESS) == FILE_ALL_ACCESS;
  }
  EXPECT_TRUE(user_has_full_control);
  EXPECT_TRUE(RemoveDirectoryA(dir.c_str()));
}

TEST(Win32Environment, TemporaryDirectoryTheCodePageCannotSpellIsReachedByItsShortName) {
  wchar_t saved[MAX_PATH] = L"";
  const bool had_tmp = GetEnvironmentVariableW(L"TMP", saved, MAX_PATH) != 0;
  wchar_t base[MAX_PATH];
  ASSERT_NE(GetTempPathW(MAX_PATH, base), 0u);
  // Greek and Japanese letters: none of them is in the ANSI code page of the test prefix.
  const std::wstring foreign = std::wstring(base) + L"\x03A9\x03BC\x03AD\x03B3\x03B1-\x65E5\x672C";
  CreateDirectoryW(foreign.c_str(), nullptr);
  ASSERT_TRUE(SetEnvironmentVariableW(L"TMP", (foreign + L"\\").c_str()));

  char buffer[300];
  const size_t n = platform::TemporaryDirectory(buffer, 261);
  ASSERT_GT(n, 0u);
  ASSERT_LT(n, 261u);
  const std::string path(buffer, n);
  for (char c : path) EXPECT_GT(static_cast<unsigned char>(c), 0x1F) << path;
  for (char c : path) EXPECT_LT(static_cast<unsigned char>(c), 0x80) << path;
  EXPECT_EQ(path.back(), '\\');
  EXPECT_NE(path.find('~'), std::string::npos) << path;
  EXPECT_EQ(path.find('?'), std::string::npos) << path;
  const DWORD attributes = GetFileAttributesA(path.c_str());
  EXPECT_NE(attributes, INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
  // It names the very directory: its long form is the foreign name.
  wchar_t wide_short[MAX_PATH];
  MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide_short, MAX_PATH);
  wchar_t wide_long[MAX_PATH];
  ASSERT_NE(GetLongPathNameW(wide_short, wide_long, MAX_PATH), 0u);
  EXPECT_TRUE(std::wstring(wide_long) == foreign + L"\\");

  // A name the code page holds is returned as GetTempPathA spells it.
  SetEnvironmentVariableW(L"TMP", base);
  char ansi[MAX_PATH];
  const DWORD ansi_length = GetTempPathA(MAX_PATH, ansi);
  EXPECT_EQ(platform::TemporaryDirectory(buffer, 261), ansi_length);
  EXPECT_STREQ(buffer, ansi);

  SetEnvironmentVariableW(L"TMP", had_tmp ? saved : nullptr);
  RemoveDirectoryW(foreign.c_str());
}

TEST(Win32Environment, OwnPathIsThisExecutable) {
  char path[260];
  size_t n = platform::OwnExecutablePath(path, sizeof path);
  ASSERT_GT(n, 0u);
  ASSERT_LT(n, sizeof path);
  EXPECT_NE(strstr(path, "win32_platform_tests.exe"), nullptr) << path;
  // A buffer that is too small is reported as not fitting.
  char small[8];
  EXPECT_GE(platform::OwnExecutablePath(small, sizeof small), sizeof small);
}

TEST(Win32Environment, DrawsStayInFifteenBits) {
  platform::SeedRandom();
  for (int i = 0; i < 1000; ++i) {
    int draw = platform::NextRandom();
    ASSERT_GE(draw, 0);
    ASSERT_LE(draw, 32767);
  }
}

TEST(Win32Messages, StringTableHoldsTheSixMessages) {
  platform::SetInstanceHandle(GetModuleHandleA(nullptr));
  struct {
    int id;
    const char* text;
  } expected[] = {
      {IDS_ERR_CREATE_FILE, "Cannot create the current file."},
      {IDS_ERR_START_EXE, "Cannot start the executable."},
      {IDS_ERR_CREATE_ADMIN, "Cannot create admin file."},
      {IDS_ERROR_TITLE, "KOV Error"},
      {IDS_ERR_NOT_SEA, "This is not a valid KOV SEA file!"},
      {IDS_ERR_TEMP_DIR, "Could not get temp directory location."},
  };
  for (const auto& e : expected) {
    char buffer[100];
    EXPECT_EQ(platform::LoadMessage(e.id, buffer, sizeof buffer),
              static_cast<int>(strlen(e.text)));
    EXPECT_STREQ(buffer, e.text);
  }
  char cut[10];
  EXPECT_EQ(platform::LoadMessage(IDS_ERR_NOT_SEA, cut, sizeof cut), 9);
  EXPECT_STREQ(cut, "This is n");
}

TEST(Win32Windows, CentringHalvesTheDifferenceTowardZero) {
  EXPECT_EQ(platform::CenteredOrigin(1024 + 691, 1024), 345);
  EXPECT_EQ(platform::CenteredOrigin(1000, 1005), -2);
  EXPECT_EQ(platform::CenteredOrigin(800, 800), 0);
  EXPECT_EQ(platform::CenteredOrigin(1920, 400), 760);
}

}  // namespace
