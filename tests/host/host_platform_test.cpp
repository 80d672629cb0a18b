// The host platform against the real file system: the same seam the packer uses.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/host/host_platform.h"
#include "platform/platform.h"

namespace fs = std::filesystem;

namespace {

class HostPlatform : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/kovsea-host-XXXXXX";
    root = std::string(mkdtemp(tmpl)) + "/";
    platform::ConfigureHostNames("CP1252", root.c_str());
  }
  void TearDown() override { fs::remove_all(root); }
  std::string root;
};

TEST_F(HostPlatform, DirectoriesAreMadeOnceAndRemovedOnlyWhenEmpty) {
  const std::string dir = root + "Disk1";
  ASSERT_TRUE(platform::MakeDirectory(dir.c_str()));
  EXPECT_FALSE(platform::MakeDirectory(dir.c_str())) << "an existing directory is an error";
  EXPECT_FALSE(platform::MakeDirectory((root + "missing\\child").c_str())) << "no parents made";
  platform::File* f = platform::CreateForWriting((root + "Disk1\\data.bin").c_str());
  ASSERT_NE(f, nullptr);
  EXPECT_TRUE(platform::WriteBytes(f, "abcdef", 6));
  EXPECT_TRUE(platform::CloseFile(f));
  EXPECT_TRUE(fs::exists(root + "Disk1/data.bin")) << "backslashes become slashes";
  EXPECT_FALSE(platform::RemoveEmptyDirectory(dir.c_str()));
  EXPECT_FALSE(platform::DeleteFileAt(dir.c_str())) << "a directory is not a file";
  EXPECT_TRUE(platform::DeleteFileAt((root + "Disk1\\data.bin").c_str()));
  EXPECT_TRUE(platform::RemoveEmptyDirectory(dir.c_str()));
  EXPECT_FALSE(fs::exists(dir));
}

TEST_F(HostPlatform, NamesAreConvertedFromTheCodePage) {
  platform::File* f = platform::CreateForWriting((root + "caf\xe9.txt").c_str());
  ASSERT_NE(f, nullptr);
  platform::CloseFile(f);
  EXPECT_TRUE(fs::exists(root + "caf\xc3\xa9.txt"));
}

TEST_F(HostPlatform, ReadsSeeksAndReportsLength) {
  platform::File* f = platform::CreateForWriting((root + "x").c_str());
  platform::WriteBytes(f, "0123456789", 10);
  platform::CloseFile(f);
  platform::File* in = platform::OpenForReading((root + "x").c_str());
  ASSERT_NE(in, nullptr);
  uint64_t length = 0;
  EXPECT_TRUE(platform::FileLength(in, &length));
  EXPECT_EQ(length, 10u);
  EXPECT_TRUE(platform::SeekTo(in, 8));
  char buffer[8] = {};
  EXPECT_EQ(platform::ReadBytes(in, buffer, sizeof buffer), 2u);
  EXPECT_FALSE(platform::ReadFailed(in));
  EXPECT_STREQ(buffer, "89");
  platform::CloseFile(in);
}

TEST_F(HostPlatform, CatalogueRecordsWithoutTouchingTheDisk) {
  platform::OpenCatalogue("<cat>\\");
  EXPECT_TRUE(platform::MakeDirectory("<cat>\\Disk1"));
  platform::File* f = platform::CreateForWriting("<cat>\\Disk1\\a");
  ASSERT_NE(f, nullptr);
  platform::WriteBytes(f, "xyz", 3);
  platform::CloseFile(f);
  EXPECT_EQ(platform::CreateForWriting("<cat>\\Other\\b"), nullptr) << "its directory came first";
  const auto entries = platform::CloseCatalogue();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_TRUE(entries[0].is_directory);
  EXPECT_EQ(entries[1].name, "Disk1\\a");
  EXPECT_EQ(entries[1].size, 3u);
  EXPECT_FALSE(fs::exists("<cat>"));
}

}  // namespace
