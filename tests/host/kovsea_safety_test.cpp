// The packer's promises under hostile conditions: extract never writes, overwrites or deletes
// outside the directory it was given, undoes only what it made, and every reader refuses what
// the stub would refuse.
#include "kovsea_fixture.h"

namespace {

using test::Kovsea;
using test::ReadAll;
using test::Result;
using test::WriteAll;

// A small installer tree: Disk1\Setup.exe and Disk1\readme.txt.
constexpr size_t kTrailerBytes = 52;

const std::string kBasicStream = test::DirEntry("Disk1") + test::FileEntry("Disk1\\Setup.exe", "MZ") +
                                 test::FileEntry("Disk1\\readme.txt", "from the archive");

TEST_F(Kovsea, ExtractNeverFollowsLinksOutOfTheTarget) {
  struct Case {
    const char* what;
    std::function<void(const fs::path& out)> plant;
    std::string stream;
  } cases[] = {
      {"link to a directory", [](const fs::path& out) { fs::create_directory_symlink("../outside", out / "Disk1"); },
       kBasicStream},
      {"link to a file",
       [](const fs::path& out) {
         fs::create_directories(out / "Disk1");
         fs::create_symlink("../../outside/victim", out / "Disk1" / "readme.txt");
       },
       kBasicStream},
      {"dangling link",
       [](const fs::path& out) {
         fs::create_directories(out / "Disk1");
         fs::create_symlink("../../outside/planted", out / "Disk1" / "readme.txt");
       },
       kBasicStream},
      // The link's target is written first, then a later entry fails and the run is undone.
      {"link to a file, failing later",
       [](const fs::path& out) {
         fs::create_directories(out / "Disk1" / "blocker");
         fs::create_symlink("../../outside/victim", out / "Disk1" / "readme.txt");
       },
       kBasicStream + test::FileEntry("Disk1\\blocker", "cannot replace a directory")},
  };
  for (const Case& c : cases) {
    for (const bool force : {false, true}) {
      const std::string what = std::string(c.what) + (force ? " --force" : "");
      fs::remove_all(dir / "r");
      fs::create_directories(dir / "r" / "OUT");
      WriteAll(dir / "r" / "outside" / "victim", "precious");
      c.plant(dir / "r" / "OUT");
      const fs::path sea = WriteSea("basic.exe", c.stream, {{}, {}, {}, {}}, "", 3);
      const auto before = Snapshot(dir / "r" / "outside");
      Result r = Run("extract " + std::string(force ? "--force " : "") + Q(sea) + " -o " + Q(dir / "r" / "OUT"));
      EXPECT_EQ(r.code, 1) << what;
      EXPECT_NE(r.err.find("kovsea: error:"), std::string::npos) << what;
      EXPECT_EQ(Snapshot(dir / "r" / "outside"), before) << what << ": " << r.err;
      EXPECT_FALSE(fs::exists(dir / "r" / "outside" / "planted")) << what;
      EXPECT_TRUE(fs::is_symlink(dir / "r" / "OUT" / (std::string(c.what) == "link to a directory"
                                                          ? "Disk1" : "Disk1/readme.txt")))
          << what << ": the user's link is left as it was";
    }
  }
}

TEST_F(Kovsea, FailedForceExtractionUndoesOnlyWhatItCreated) {
  const fs::path out = dir / "OUT";
  WriteAll(out / "Disk1" / "mine.txt", "the user's own");
  WriteAll(out / "Disk1" / "readme.txt", "the user's readme");
  fs::create_directories(out / "Disk1" / "emptydir");
  fs::create_directories(out / "Disk1" / "blocker");
  const std::string stream = kBasicStream + test::DirEntry("Disk1\\emptydir") +
                             test::FileEntry("Disk1\\new.txt", "new") +
                             test::FileEntry("Disk1\\blocker", "cannot replace a directory");
  const fs::path sea = WriteSea("fails.exe", stream, {{}, {}, {}, {}}, "", 6);
  Result r = Run("extract --force " + Q(sea) + " -o " + Q(out));
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("Disk1\\blocker"), std::string::npos) << r.err;
  EXPECT_EQ(ReadAll(out / "Disk1" / "mine.txt"), "the user's own");
  EXPECT_TRUE(fs::is_regular_file(out / "Disk1" / "readme.txt")) << "it was there before";
  EXPECT_TRUE(fs::is_directory(out / "Disk1" / "emptydir")) << "it was there before";
  EXPECT_TRUE(fs::is_directory(out / "Disk1" / "blocker"));
  EXPECT_FALSE(fs::exists(out / "Disk1" / "new.txt")) << "made by the failed run";
  EXPECT_FALSE(fs::exists(out / "Disk1" / "Setup.exe")) << "made by the failed run";
}

TEST_F(Kovsea, CodePagesThatMoveTheAsciiRangeAreRefused) {
  // "../../evil15" spelled in EBCDIC (code page 037), as the name of a file entry.
  const std::string ebcdic = "\x4b\x4b\x61\x4b\x4b\x61\x85\xa5\x89\x93\xf1\xf5";
  const fs::path sea = WriteSea("ebcdic.exe", test::FileEntry(ebcdic, "pwned"), {{}, {}, {}, {}});
  fs::create_directories(dir / "a" / "b" / "OUT");
  for (const char* codepage : {"037", "500", "875", "1026", "1047", "1140"}) {
    for (const char* command : {"verify", "list", "extract"}) {
      const std::string out = std::string(command) == "extract" ? " -o " + Q(dir / "a" / "b" / "OUT") : "";
      Result r = Run(std::string(command) + " --codepage " + codepage + " " + Q(sea) + out);
      EXPECT_EQ(r.code, 2) << command << " " << codepage;
      EXPECT_NE(r.err.find("ASCII"), std::string::npos) << r.err;
    }
    Result packed = Run("pack --codepage " + std::string(codepage) + " --stub " + Q(stub) + " -o " +
                        Q(dir / "p.exe") + " " + Q(MakeTree()));
    EXPECT_EQ(packed.code, 2) << codepage;
    fs::remove_all(dir / "tree");
  }
  EXPECT_FALSE(fs::exists(dir / "evil15"));
  EXPECT_FALSE(fs::exists(dir / "a" / "evil15"));
  EXPECT_FALSE(fs::exists(dir / "p.exe"));
}

TEST_F(Kovsea, DoubleByteNamesWithABackslashTrailByteAreRefusedEverywhere) {
  // U+8868 U+793A in code page 932 is 95 5C 8E A6: its first trail byte is a backslash.
  fs::path tree = dir / "t";
  WriteAll(tree / "Disk1" / "Setup.exe", "MZ");
  WriteAll(tree / "Disk1" / "\xe8\xa1\xa8\xe7\xa4\xba.txt", "x");
  Result packed = Run("pack --codepage 932 --stub " + Q(stub) + " -o " + Q(dir / "jp.exe") + " " + Q(tree));
  EXPECT_EQ(packed.code, 1);
  EXPECT_NE(packed.err.find("0x5C"), std::string::npos) << packed.err;
  EXPECT_FALSE(fs::exists(dir / "jp.exe"));

  // The same name in a file from another writer: every reader refuses it alike.
  const fs::path sea = WriteSea("jp.exe", test::DirEntry("Disk1") + test::FileEntry("Disk1\\\x95\x5c\x8e\xa6.txt", "x"),
                                {{}, {}, {}, {}}, "", 2);
  EXPECT_EQ(Run("verify --codepage 932 " + Q(sea)).code, 1);
  EXPECT_EQ(Run("list --codepage 932 " + Q(sea)).code, 1);
  EXPECT_EQ(Run("extract --codepage 932 " + Q(sea) + " -o " + Q(dir / "x")).code, 1);
  EXPECT_FALSE(fs::exists(dir / "x"));
}

TEST_F(Kovsea, PackNeverFollowsALinkPlantedAtItsTemporaryName) {
  WriteAll(dir / "victim", "precious");
  fs::permissions(dir / "victim", fs::perms::owner_read | fs::perms::owner_write);
  // The shell plants links at the names an output next to "out.exe" could get from this
  // process id, then becomes kovsea.
  Result r = RunAfter("ln -s victim " + Q(dir / "out.exe.tmp-") + "$$",
                      "pack --stub " + Q(stub) + " -o " + Q(dir / "out.exe") + " " + Q(MakeTree()));
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(ReadAll(dir / "victim"), "precious");
  EXPECT_EQ(fs::status(dir / "victim").permissions() & fs::perms::owner_exec, fs::perms::none);
  EXPECT_EQ(Run("verify " + Q(dir / "out.exe")).code, 0);
}

TEST_F(Kovsea, OverlappingRangesAreRefused) {
  // Image 64 bytes, the stream, then 8 bytes of side-file data.
  const uint32_t stream_end = 64 + static_cast<uint32_t>(kBasicStream.size());
  struct Case {
    const char* what;
    test::Slot slots[4];
  } cases[] = {
      {"a side file inside the entry stream", {{}, {}, {}, {stream_end - 4, 6}}},
      {"a side file inside the stub", {{10, 4}, {}, {}, {}}},
      {"two side files over each other", {{stream_end, 6}, {}, {stream_end + 2, 6}, {}}},
  };
  for (const Case& c : cases) {
    const fs::path sea = WriteSea("overlap.exe", kBasicStream, c.slots, "SIDEDATA", 3);
    Result verified = Run("verify " + Q(sea));
    EXPECT_EQ(verified.code, 1) << c.what;
    EXPECT_NE(verified.out.find("overlaps"), std::string::npos) << c.what << ": " << verified.out;
    EXPECT_EQ(Run("extract " + Q(sea) + " -o " + Q(dir / "x")).code, 1) << c.what;
    EXPECT_FALSE(fs::exists(dir / "x")) << c.what;
  }
  // Side files back to back behind the stream are the packer's own layout.
  const fs::path sea = WriteSea("adjacent.exe", kBasicStream, {{stream_end, 4}, {}, {stream_end + 4, 4}, {}},
                                "SIDEDATA", 3);
  Result verified = Run("verify " + Q(sea));
  EXPECT_EQ(verified.code, 0) << verified.out;
}

TEST_F(Kovsea, EveryReaderRefusesWhatTheStubRefuses) {
  test::Slot none[4] = {};
  // The magic differs from "KOVSEA" in its last byte only.
  fs::path magic = WriteSea("magic.exe", kBasicStream, none, "", 3);
  std::string bytes = ReadAll(magic);
  bytes[bytes.size() - kTrailerBytes + 5] = 'B';
  WriteAll(magic, bytes);
  // A directory entry that leaves the root.
  fs::path dot_dot = WriteSea("dotdot.exe", kBasicStream + test::DirEntry("..\\x"), none, "", 4);
  for (const auto& c : {std::make_pair(magic, "trailer magic"), std::make_pair(dot_dot, "\"..\"")}) {
    Result verified = Run("verify " + Q(c.first));
    EXPECT_EQ(verified.code, 1) << c.first;
    EXPECT_NE(verified.out.find(c.second), std::string::npos) << c.first << ": " << verified.out;
    EXPECT_EQ(Run("extract " + Q(c.first) + " -o " + Q(dir / "x")).code, 1) << c.first;
    EXPECT_FALSE(fs::exists(dir / "x")) << c.first;
  }
}

TEST_F(Kovsea, SideFileSlotPastTheEndIsRefusedForEachSlot) {
  for (int slot = 0; slot < 4; ++slot) {
    test::Slot slots[4] = {};
    const uint32_t end = 64 + static_cast<uint32_t>(kBasicStream.size()) + 4;
    slots[slot] = {end - 4, 5};  // one byte more than lies before the trailer
    const fs::path sea = WriteSea("slot.exe", kBasicStream, slots, "DATA", 3);
    Result verified = Run("verify " + Q(sea));
    EXPECT_EQ(verified.code, 1) << slot;
    EXPECT_NE(verified.out.find("offset " + std::to_string(end + 20 + 8 * slot) + ": side file"),
              std::string::npos)
        << slot << ": " << verified.out;
  }
}

TEST_F(Kovsea, PackRefusesCharactersWindowsForbids) {
  for (const char* name : {"a<b", "a>b", "a\"b", "a|b", "a?b"}) {
    fs::remove_all(dir / "tree");
    fs::path tree = MakeTree();
    WriteAll(tree / "Disk1" / name, "x");
    Result r = Run("pack --stub " + Q(stub) + " -o " + Q(dir / "out.exe") + " " + Q(tree));
    EXPECT_EQ(r.code, 1) << name;
    EXPECT_NE(r.err.find("character Windows forbids"), std::string::npos) << name << ": " << r.err;
    EXPECT_FALSE(fs::exists(dir / "out.exe")) << name;
  }
}

TEST_F(Kovsea, ExtractFailsWhenAFileCannotBeClosedWhole) {
  // The file's 20,000 bytes sit in the stream's buffer until the close, which the file-size
  // limit (8 KiB) then refuses: every write succeeded, only the close fails.
  const std::string stream = test::DirEntry("Disk1") + test::FileEntry("Disk1\\data.bin", test::Pattern(20000));
  const fs::path sea = WriteSea("small.exe", stream, {{}, {}, {}, {}}, "", 2);
  Result r = RunAfter("ulimit -f 8; trap '' XFSZ", "extract " + Q(sea) + " -o " + Q(dir / "x"));
  EXPECT_EQ(r.code, 1) << r.err;
  EXPECT_NE(r.err.find("Disk1\\data.bin"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(dir / "x"));
}

}  // namespace
