// The vendor's kit: the icon and version information refused when they are not usable, and
// the pre-flight check that pack, check and verify share.
#include "kovsea_fixture.h"
#include "windows_stub.h"

namespace {

using test::Kovsea;
using test::ReadAll;
using test::Result;
using test::WriteAll;

// A well-formed .ico holding one 16 x 16 bitmap, for the cases to damage.
std::string GoodIco() {
  std::string bitmap(40 + 16 * 4 * 16 + 16 * 4, '\0');
  bitmap[0] = 40;
  std::string ico("\0\0\1\0\1\0", 6);
  std::string entry(16, '\0');
  entry[0] = 16;
  entry[1] = 16;
  entry[4] = 1;
  entry[6] = 32;
  const uint32_t size = static_cast<uint32_t>(bitmap.size());
  const uint32_t offset = 6 + 16;
  for (int i = 0; i < 4; ++i) {
    entry[8 + i] = static_cast<char>(size >> (8 * i));
    entry[12 + i] = static_cast<char>(offset >> (8 * i));
  }
  return ico + entry + bitmap;
}

TEST_F(Kovsea, UnusableIconsAndVersionKeysAreRefusedBeforeAnythingIsWritten) {
  // The fixture's stub is no PE image: a real one comes from the Windows build.
  ASSERT_TRUE(test::WindowsStubBuilt());
  WriteAll(stub, ReadAll(KOVSEA_STUB));
  const std::string good = GoodIco();
  struct Case {
    const char* what;
    std::string ico;
    std::string version;
    int code;
    const char* message;
  } cases[] = {
      {"not an icon", "GIF89a", "", 1, "no icon header"},
      {"no images", std::string("\0\0\1\0\0\0", 6), "", 1, "holds no image"},
      {"image outside the file", good.substr(0, 30), "", 1, "lies outside the file"},
      {"neither bitmap nor PNG", good.substr(0, 22) + std::string(good.size() - 22, 'x'), "", 1,
       "neither a bitmap nor a PNG"},
      {"unknown key", good, "--version-info Flavour=vanilla", 1, "unknown version key 'Flavour'"},
      {"no dotted version", good, "--version-info FileVersion=latest", 1, "dotted version"},
      {"not KEY=VALUE", good, "--version-info ProductName", 2, "KEY=VALUE"},
  };
  for (const Case& c : cases) {
    WriteAll(dir / "product.ico", c.ico);
    Result r = Run("pack --stub " + Q(stub) + " -o " + Q(dir / "out.exe") + " " + Q(MakeTree()) + " --icon " +
                   Q(dir / "product.ico") + " " + c.version);
    EXPECT_EQ(r.code, c.code) << c.what;
    EXPECT_NE(r.err.find(std::string("kovsea: error: ")), std::string::npos) << c.what;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.what << ": " << r.err;
    EXPECT_FALSE(fs::exists(dir / "out.exe")) << c.what;
    fs::remove_all(dir / "tree");
  }
  // The good icon with known keys packs, and the same inputs give the same bytes.
  const fs::path tree = MakeTree();
  WriteAll(dir / "product.ico", good);
  const std::string options = " --icon " + Q(dir / "product.ico") + " --version-info ProductVersion=3.1";
  ASSERT_EQ(Run("pack --stub " + Q(stub) + " -o " + Q(dir / "a.exe") + " " + Q(tree) + options).code, 0);
  ASSERT_EQ(Run("pack --stub " + Q(stub) + " -o " + Q(dir / "b.exe") + " " + Q(tree) + options).code, 0);
  EXPECT_EQ(ReadAll(dir / "a.exe"), ReadAll(dir / "b.exe"));
  EXPECT_EQ(Run("verify " + Q(dir / "a.exe")).code, 0);
}

TEST_F(Kovsea, PreflightListsEveryProblemAtOnceWithItsFix) {
  fs::path tree = dir / "tree";
  // 49 (temporary directory) + 9 (root) + 202 = 260 characters: one too many.
  const std::string long_name = std::string(187, 'n') + ".cab";
  WriteAll(tree / "Disk1" / "deep" / long_name, "x");
  WriteAll(tree / "Disk1" / "\xe6\x97\xa5.txt", "not in 1252");
  WriteAll(tree / "Disk1" / "readme", "1");
  WriteAll(tree / "Disk1" / "README", "2");
  fs::create_symlink("/etc/hostname", tree / "Disk1" / "link");
  const char* problems[] = {"would make a path of 260 characters", "code page", "only in case",
                            "symbolic links", "Disk1/Setup.exe: is missing"};

  Result packed = Run("pack --stub " + Q(stub) + " -o " + Q(dir / "out.exe") + " " + Q(tree));
  EXPECT_EQ(packed.code, 1);
  for (const char* p : problems) EXPECT_NE(packed.err.find(p), std::string::npos) << p << ":\n" << packed.err;
  EXPECT_NE(packed.err.find("(shorten its name or the directories above it by 1 character)"), std::string::npos)
      << packed.err;
  EXPECT_FALSE(fs::exists(dir / "out.exe"));

  Result checked = Run("check " + Q(tree));
  EXPECT_EQ(checked.code, 1);
  for (const char* p : problems) EXPECT_NE(checked.out.find(p), std::string::npos) << p << ":\n" << checked.out;
  EXPECT_NE(checked.out.find("5 problems"), std::string::npos) << checked.out;

  Result json = Run("check --json " + Q(tree));
  EXPECT_EQ(json.code, 1);
  EXPECT_EQ(json.out.rfind("{\"ok\": false, \"temp_length\": 49,", 0), 0u) << json.out;
  size_t fixes = 0;
  for (size_t at = json.out.find("\"fix\": \""); at != std::string::npos; at = json.out.find("\"fix\": \"", at + 1)) ++fixes;
  EXPECT_EQ(fixes, 5u) << json.out;

  // A shorter temporary directory lets the long path through; the rest stays.
  Result shorter = Run("check --temp-length 48 " + Q(tree));
  EXPECT_EQ(shorter.out.find("would make a path"), std::string::npos) << shorter.out;
  EXPECT_NE(shorter.out.find("4 problems"), std::string::npos) << shorter.out;
}

TEST_F(Kovsea, VerifyFlagsEntriesTooLongForTheUsersTemporaryDirectory) {
  const std::string name = "Disk1\\" + std::string(196, 'v');  // 49 + 9 + 202 = 260
  const std::string stream = test::DirEntry("Disk1") + test::FileEntry("Disk1\\Setup.exe", "MZ") +
                             test::FileEntry(name, "x");
  const fs::path sea = WriteSea("long.exe", stream, {{}, {}, {}, {}}, "", 3);
  Result verified = Run("verify " + Q(sea));
  EXPECT_EQ(verified.code, 1);
  const std::string offset = std::to_string(64 + test::DirEntry("Disk1").size() +
                                            test::FileEntry("Disk1\\Setup.exe", "MZ").size());
  EXPECT_NE(verified.out.find("offset " + offset + ": entry \"" + name + "\" would make a path of 260 characters"),
            std::string::npos)
      << verified.out;
  EXPECT_EQ(Run("verify --temp-length 48 " + Q(sea)).code, 0);
}

}  // namespace
