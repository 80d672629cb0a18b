// The Win32 platform against the real system (Wine): files, directories, messages.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "common/resource_ids.h"
#include "platform/platform.h"
#include "platform/win32/win32_platform.h"

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

}  // namespace
