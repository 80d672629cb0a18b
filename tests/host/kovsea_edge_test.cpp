// The packer at the edges an outside test attacked: a failed forced extraction that must leave
// the user's files as they were, two extractions into one directory at once, names that alias
// each other on Windows (case outside ASCII, 8.3 short names, double-byte characters), an output
// inside the tree it packs, and files the check passes but pack would refuse.
#include <sys/stat.h>
#include <unistd.h>


#include "kovsea_fixture.h"

namespace {

using test::Kovsea;
using test::ReadAll;
using test::Result;
using test::WriteAll;

// Runs kovsea as an unprivileged user, for whom file modes hold (the suite may run as root);
// the work directory is opened to everyone first.
Result RunUnprivileged(const fs::path& dir, const std::string& setup, const std::string& args) {
  fs::permissions(dir, fs::perms::all);
  const std::string out = (dir / "stdout").string();
  const std::string err = (dir / "stderr").string();
  const std::string as = geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
  const std::string script = setup + "; " + as + KOVSEA_BINARY + " " + args + " >" + out + " 2>" + err;
  const int status = system(("sh -c \"" + script + "\"").c_str());
  return Result{WEXITSTATUS(status), ReadAll(out), ReadAll(err)};
}

TEST_F(Kovsea, FailedForcedExtractionLeavesEveryFileThatWasThereAsItWas) {
  const fs::path out = dir / "OUT";
  WriteAll(out / "Disk1" / "readme.txt", "the user's readme");
  fs::create_directories(out / "Disk1" / "blocker");
  const std::string stream = test::DirEntry("Disk1") + test::FileEntry("Disk1\\readme.txt", "from the archive") +
                             test::FileEntry("Disk1\\blocker", "cannot replace a directory");
  const fs::path sea = WriteSea("fails.exe", stream, {{}, {}, {}, {}}, "", 3);
  EXPECT_EQ(Run("extract --force " + Q(sea) + " -o " + Q(out)).code, 1);
  EXPECT_EQ(ReadAll(out / "Disk1" / "readme.txt"), "the user's readme");
  EXPECT_EQ(Snapshot(out).size(), 3u) << "nothing the run wrote beside its targets is left";
  // A run that succeeds replaces it, and leaves nothing beside it either.
  const std::string good = test::DirEntry("Disk1") + test::FileEntry("Disk1\\readme.txt", "from the archive");
  ASSERT_EQ(Run("extract --force " + Q(WriteSea("good.exe", good, {{}, {}, {}, {}}, "", 2)) + " -o " + Q(out)).code, 0);
  EXPECT_EQ(ReadAll(out / "Disk1" / "readme.txt"), "from the archive");
  EXPECT_EQ(Snapshot(out).size(), 3u);
}

TEST_F(Kovsea, ASecondExtractionIntoTheSameDirectoryAtOnceIsRefused) {
  const fs::path out = dir / "OUT";
  fs::create_directories(out);
  const std::string stream = test::DirEntry("Disk1") + test::FileEntry("Disk1\\Setup.exe", "MZ");
  const fs::path sea = WriteSea("a.exe", stream, {{}, {}, {}, {}}, "", 2);
  // The first holds the directory's lock (as an extraction in progress does) while the second runs.
  Result r = RunAfter("exec 9<" + Q(out) + "; flock -x 9", "extract --force " + Q(sea) + " -o " + Q(out));
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("another kovsea is extracting into it"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(out / "Disk1"));
}

TEST_F(Kovsea, NamesThatWindowsTakesForOneAnotherAreRefusedByCheckPackAndVerify) {
  const struct {
    const char* what;
    std::vector<std::string> names;  // below Disk1, UTF-8
    std::vector<std::string> ansi;   // the same in code page 1252
    const char* message;  // null: Windows holds both, and so does the package
  } cases[] = {
      {"case outside ASCII", {"r\xc3\xa9sum\xc3\xa9.txt", "R\xc3\x89SUM\xc3\x89.txt"},
       {"r\xe9sum\xe9.txt", "R\xc9SUM\xc9.txt"}, "only in case"},
      {"short name", {"longfilename.txt", "LONGFI~1.TXT"}, {"longfilename.txt", "LONGFI~1.TXT"}, "short name"},
      {"case in two directories", {"a/x.txt", "b/X.txt"}, {}, nullptr},
  };
  for (const auto& c : cases) {
    fs::remove_all(dir / "tree");
    const fs::path tree = MakeTree();
    for (const std::string& name : c.names) WriteAll(tree / "Disk1" / name, name);
    Result checked = Run("check " + Q(tree));
    if (c.message == nullptr) {
      EXPECT_EQ(checked.code, 0) << c.what << ": " << checked.out;
      EXPECT_EQ(Run("pack --stub " + Q(stub) + " -o " + Q(dir / "out.exe") + " " + Q(tree)).code, 0) << c.what;
      Result verified = Run("verify " + Q(dir / "out.exe"));
      EXPECT_EQ(verified.code, 0) << c.what << ": " << verified.out;
      continue;
    }
    EXPECT_EQ(checked.code, 1) << c.what;
    EXPECT_NE(checked.out.find(c.message), std::string::npos) << c.what << ": " << checked.out;
    EXPECT_EQ(Run("pack --stub " + Q(stub) + " -o " + Q(dir / "out.exe") + " " + Q(tree)).code, 1) << c.what;
    // A file written by hand with the same names.
    std::string stream = test::DirEntry("Disk1") + test::FileEntry("Disk1\\Setup.exe", "MZ");
    for (const std::string& ansi : c.ansi) stream += test::FileEntry("Disk1\\" + ansi, "x");
    const fs::path sea = WriteSea("hand.exe", stream, {{}, {}, {}, {}}, "", 4);
    Result verified = Run("verify " + Q(sea));
    EXPECT_EQ(verified.code, 1) << c.what;
    EXPECT_NE(verified.out.find(c.message), std::string::npos) << c.what << ": " << verified.out;
  }
}

TEST_F(Kovsea, DoubleByteNamesAreCheckedByCharacterNotByByte) {
  // "\x83\x8c\x83\x7c\x81\x5b\x83\x67.txt" in code page 932: trail bytes 0x7C ('|') and 0x5B.
  const fs::path tree = dir / "tree";
  WriteAll(tree / "Disk1" / "Setup.exe", "MZ");
  WriteAll(tree / "Disk1" / "\xe3\x83\xac\xe3\x83\x9d\xe3\x83\xbc\xe3\x83\x88.txt", "report");
  WriteAll(tree / "Disk1" / "\xe3\x83\x9d.txt", "po");
  Result packed = Run("pack --codepage 932 --stub " + Q(stub) + " -o " + Q(dir / "jp.exe") + " " + Q(tree));
  EXPECT_EQ(packed.code, 0) << packed.err;
  EXPECT_EQ(Run("verify --codepage 932 " + Q(dir / "jp.exe")).code, 0);
}

TEST_F(Kovsea, AnOutputInsideTheTreeIsRefused) {
  const fs::path tree = MakeTree();
  for (const fs::path& output : {tree / "product.exe", tree / "Disk1" / "Setup.exe"}) {
    Result r = Run("pack --stub " + Q(stub) + " -o " + Q(output) + " " + Q(tree));
    EXPECT_EQ(r.code, 1) << output;
    EXPECT_NE(r.err.find("inside the tree"), std::string::npos) << r.err;
  }
  EXPECT_FALSE(fs::exists(tree / "product.exe"));
  EXPECT_EQ(ReadAll(tree / "Disk1" / "Setup.exe"), "MZ setup program");
}

TEST_F(Kovsea, CheckRefusesWhatPackCannotRead) {
  const fs::path tree = MakeTree();
  const fs::path secret = tree / "Disk1" / "secret.cab";
  WriteAll(secret, "x");
  fs::permissions(tree, fs::perms::all);
  fs::permissions(tree / "Disk1", fs::perms::all);
  Result r = RunUnprivileged(dir, "chmod 000 '" + secret.string() + "'", "check '" + tree.string() + "'");
  EXPECT_EQ(r.code, 1) << r.out << r.err;
  EXPECT_NE(r.out.find("secret.cab: cannot be read"), std::string::npos) << r.out;
}

TEST_F(Kovsea, ExtractIntoADirectoryItCannotWriteSaysSo) {
  const fs::path out = dir / "OUT";
  fs::create_directories(out);
  const std::string stream = test::DirEntry("Disk1") + test::FileEntry("Disk1\\Setup.exe", "MZ");
  const fs::path sea = WriteSea("a.exe", stream, {{}, {}, {}, {}}, "", 2);
  fs::permissions(sea, fs::perms::all);
  Result r = RunUnprivileged(dir, "chmod 555 '" + out.string() + "'",
                             "extract --force '" + sea.string() + "' -o '" + out.string() + "'");
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("ermission denied"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("before its directory"), std::string::npos) << r.err;
}

}  // namespace
