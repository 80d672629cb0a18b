// The host platform against the real file system: the same seam the packer uses, with the
// paths of a directory target relative to it.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "codepage.h"
#include "host_files.h"

namespace fs = std::filesystem;
namespace host = platform::host;

namespace {

class HostPlatform : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/kovsea-host-XXXXXX";
    root = mkdtemp(tmpl);
    fs::create_directories(root / "out");
    ASSERT_TRUE(host::TargetDirectory((root / "out").string(), "CP1252"));
  }
  void TearDown() override {
    host::ClearTarget();
    fs::remove_all(root);
  }
  static void Write(const fs::path& p, const std::string& bytes) { std::ofstream(p, std::ios::binary) << bytes; }
  static std::string Read(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  fs::path root;
};

TEST_F(HostPlatform, DirectoriesAreMadeOnceAndRemovedOnlyWhenEmpty) {
  ASSERT_TRUE(platform::MakeDirectory("Disk1"));
  EXPECT_FALSE(platform::MakeDirectory("Disk1")) << "an existing directory is an error";
  EXPECT_FALSE(platform::MakeDirectory("missing\\child")) << "no parents made";
  platform::File* f = platform::CreateForWriting("Disk1\\data.bin");
  ASSERT_NE(f, nullptr);
  EXPECT_TRUE(platform::WriteBytes(f, "abcdef", 6));
  EXPECT_TRUE(platform::CloseFile(f));
  EXPECT_EQ(Read(root / "out" / "Disk1" / "data.bin"), "abcdef") << "backslashes become slashes";
  EXPECT_FALSE(platform::RemoveEmptyDirectory("Disk1"));
  EXPECT_FALSE(platform::DeleteFileAt("Disk1")) << "a directory is not a file";
  EXPECT_TRUE(platform::DeleteFileAt("Disk1\\data.bin"));
  EXPECT_TRUE(platform::RemoveEmptyDirectory("Disk1"));
  EXPECT_FALSE(fs::exists(root / "out" / "Disk1"));
  EXPECT_FALSE(host::ExistedBefore("Disk1"));
}

TEST_F(HostPlatform, NamesAreConvertedOneComponentAtATime) {
  platform::File* f = platform::CreateForWriting("caf\xe9.txt");
  ASSERT_NE(f, nullptr);
  platform::CloseFile(f);
  EXPECT_TRUE(fs::exists(root / "out" / "caf\xc3\xa9.txt"));
  // In code page 932, 0x95 0x5C is one character; split at the backslash its lead byte stands
  // alone and cannot be converted.
  ASSERT_TRUE(host::TargetDirectory((root / "out").string(), "CP932"));
  EXPECT_EQ(platform::CreateForWriting("\x95\\\x8e\xa6.txt"), nullptr);
  EXPECT_EQ(host::LastRefusal(), host::Refusal::kUnspellable);
  Codepage codepage;
  std::string error;
  EXPECT_FALSE(Codepage::Parse("037", &codepage, &error)) << "EBCDIC moves the ASCII letters";
  EXPECT_EQ(codepage.name(), "CP1252") << "a refused code page changes nothing";
}

TEST_F(HostPlatform, AConversionStartsFreshAfterOneThatFailed) {
  // The converters stay open between names; one cut inside a double-byte character after a
  // shift into it must not leave the next name read as double bytes.
  std::string out;
  EXPECT_FALSE(host::ConvertEncoding("ISO-2022-JP", "UTF-8", "\x1b$BF", &out));
  ASSERT_TRUE(host::ConvertEncoding("ISO-2022-JP", "UTF-8", "AB", &out));
  EXPECT_EQ(out, "AB");
}

TEST_F(HostPlatform, ADirectoryIsRemovedThroughTheOneKeptOpenAndTheWalkGoesOn) {
  ASSERT_TRUE(platform::MakeDirectory("a"));
  ASSERT_TRUE(platform::MakeDirectory("a\\b"));
  platform::File* f = platform::CreateForWriting("a\\f");  // keeps "a" open
  ASSERT_NE(f, nullptr);
  EXPECT_TRUE(platform::CloseFile(f));
  EXPECT_TRUE(platform::RemoveEmptyDirectory("a\\b"));
  f = platform::CreateForWriting("a\\g");
  ASSERT_NE(f, nullptr) << "the directory is still reached";
  EXPECT_TRUE(platform::CloseFile(f));
}

TEST_F(HostPlatform, NothingIsReachedThroughALink) {
  fs::create_directories(root / "outside");
  Write(root / "outside" / "victim", "precious");
  fs::create_directory_symlink("../outside", root / "out" / "dirlink");
  fs::create_symlink("../outside/victim", root / "out" / "filelink");
  fs::create_symlink("../outside/new", root / "out" / "dangling");
  EXPECT_EQ(platform::CreateForWriting("dirlink\\victim"), nullptr);
  EXPECT_EQ(host::LastRefusal(), host::Refusal::kLink);
  EXPECT_EQ(platform::CreateForWriting("filelink"), nullptr);
  EXPECT_EQ(host::LastRefusal(), host::Refusal::kLink);
  EXPECT_EQ(platform::CreateForWriting("dangling"), nullptr);
  EXPECT_FALSE(platform::MakeDirectory("dirlink\\sub"));
  EXPECT_FALSE(platform::DeleteFileAt("dirlink\\victim"));
  EXPECT_EQ(platform::OpenForReading("dirlink\\victim"), nullptr);
  EXPECT_EQ(Read(root / "outside" / "victim"), "precious");
  EXPECT_FALSE(fs::exists(root / "outside" / "new"));
  EXPECT_FALSE(fs::exists(root / "outside" / "sub"));
}

TEST_F(HostPlatform, WhatWasThereBeforeIsKnownAsSuch) {
  fs::create_directories(root / "out" / "Disk1");
  Write(root / "out" / "Disk1" / "old.txt", "old");
  EXPECT_FALSE(platform::MakeDirectory("Disk1"));
  platform::File* f = platform::CreateForWriting("Disk1\\old.txt");
  ASSERT_NE(f, nullptr);
  platform::CloseFile(f);
  EXPECT_EQ(Read(root / "out" / "Disk1" / "old.txt"), "old") << "an existing file is not changed in place";
  EXPECT_TRUE(host::CommitReplacements());
  EXPECT_EQ(Read(root / "out" / "Disk1" / "old.txt"), "") << "it is replaced when the run commits";
  platform::CloseFile(platform::CreateForWriting("Disk1\\new.txt"));
  EXPECT_TRUE(host::ExistedBefore("Disk1"));
  EXPECT_TRUE(host::ExistedBefore("Disk1\\old.txt"));
  EXPECT_FALSE(host::ExistedBefore("Disk1\\new.txt"));
}

TEST_F(HostPlatform, FullPathsReachOnlyTheDirectoryTheyBeginWith) {
  // The directory named as the run layer names its root; what follows is a stub path.
  const std::string top = (root / "out").string() + "/";
  ASSERT_TRUE(host::TargetDirectoryByFullPaths(top, "CP1252"));
  ASSERT_TRUE(platform::MakeDirectory((top + "Disk1").c_str()));
  platform::File* f = platform::CreateForWriting((top + "Disk1\\a.txt").c_str());
  ASSERT_NE(f, nullptr);
  platform::CloseFile(f);
  EXPECT_TRUE(fs::exists(root / "out" / "Disk1" / "a.txt"));
  Write(root / "beside", "precious");
  for (const std::string& outside : {(root / "beside").string(), std::string("Disk1\\a.txt"), top.substr(1) + "b"}) {
    EXPECT_EQ(platform::CreateForWriting(outside.c_str()), nullptr) << outside;
    EXPECT_EQ(host::LastRefusal(), host::Refusal::kOutside) << outside;
    EXPECT_FALSE(platform::DeleteFileAt(outside.c_str())) << outside;
  }
  EXPECT_EQ(Read(root / "beside"), "precious");
  EXPECT_FALSE(platform::RemoveEmptyDirectory(top.c_str())) << "not while it holds anything";
  EXPECT_TRUE(platform::DeleteFileAt((top + "Disk1\\a.txt").c_str()));
  EXPECT_TRUE(platform::RemoveEmptyDirectory((top + "Disk1").c_str()));
  EXPECT_TRUE(platform::RemoveEmptyDirectory(top.c_str())) << "the directory itself goes last";
  EXPECT_FALSE(fs::exists(root / "out"));
}

TEST_F(HostPlatform, ReadsSeeksAndReportsLength) {
  Write(root / "x", "0123456789");
  platform::File* in = host::OpenHostFile((root / "x").string());
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

TEST_F(HostPlatform, CatalogueRecordsWithoutTouchingTheDiskOrReadingData) {
  Write(root / "archive", "0123456789");
  platform::File* archive = host::OpenHostFile((root / "archive").string());
  host::TargetCatalogue("CP1252");
  EXPECT_TRUE(platform::MakeDirectory("Disk1"));
  platform::File* f = platform::CreateForWriting("DISK1\\a");  // names compare as Windows does
  ASSERT_NE(f, nullptr);
  platform::WriteBytes(f, "xyz", 3);
  ASSERT_TRUE(platform::CanCopyBetween(archive, f));
  platform::SeekTo(archive, 4);
  EXPECT_EQ(platform::CopyBetween(archive, f, 100), 6u) << "only as far as the file goes";
  platform::CloseFile(f);
  EXPECT_EQ(platform::CreateForWriting("Other\\b"), nullptr) << "its directory came first";
  EXPECT_EQ(host::LastRefusal(), host::Refusal::kNoParent);
  const auto entries = host::TakeCatalogue();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_TRUE(entries[0].is_directory);
  EXPECT_EQ(entries[1].name, "DISK1\\a");
  EXPECT_EQ(entries[1].size, 9u);
  EXPECT_FALSE(fs::exists(root / "out" / "Disk1"));
  platform::CloseFile(archive);
}

}  // namespace
