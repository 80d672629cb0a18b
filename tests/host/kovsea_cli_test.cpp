// The packer as a user runs it: the real binary, real files, exit codes and messages.
#include "kovsea_fixture.h"

namespace {

using test::Kovsea;
using test::Result;
using test::ReadAll;
using test::WriteAll;

TEST_F(Kovsea, PackVerifyExtractReproduceTreeAndSideFiles) {
  fs::path tree = MakeTree();
  fs::remove(tree / "Disk1" / "SETUP.INI");  // the side file would replace it at the user's site
  WriteAll(dir / "a.dat", "admin-bytes");
  WriteAll(dir / "c.dat", "client");
  WriteAll(dir / "n.dat", "");
  WriteAll(dir / "s.ini", "[from slot]");
  Result packed = Run("pack --stub " + Q(stub) + " -o " + Q(dir / "out.exe") + " " + Q(tree) +
                      " --admin " + Q(dir / "a.dat") + " --client " + Q(dir / "c.dat") +
                      " --net " + Q(dir / "n.dat") + " --setup-ini " + Q(dir / "s.ini"));
  ASSERT_EQ(packed.code, 0) << packed.err;
  EXPECT_EQ(fs::file_size(dir / "out.exe") % 8, 0u);

  Result verified = Run("verify " + Q(dir / "out.exe"));
  EXPECT_EQ(verified.code, 0) << verified.out;

  Result extracted = Run("extract " + Q(dir / "out.exe") + " -o " + Q(dir / "x"));
  ASSERT_EQ(extracted.code, 0) << extracted.err;
  auto expected = Snapshot(tree);
  expected["Disk1/KOVadmin.dat"] = "admin-bytes";
  expected["Disk1/KOVclient.dat"] = "client";
  expected["Disk1/KOVnet.dat"] = "";
  expected["Disk1/setup.ini"] = "[from slot]";
  EXPECT_EQ(Snapshot(dir / "x"), expected);
}

TEST_F(Kovsea, ListShowsEntriesInStoredOrderAndAsJson) {
  fs::path tree = MakeTree();
  ASSERT_EQ(Run("pack --stub " + Q(stub) + " -o " + Q(dir / "out.exe") + " " + Q(tree)).code, 0);
  Result listed = Run("list " + Q(dir / "out.exe"));
  ASSERT_EQ(listed.code, 0) << listed.err;
  const char* order[] = {"dir             -  Disk1\n", "Disk1\\SETUP.INI", "Disk1\\Setup.exe",
                         "Disk1\\data1.cab", "Disk1\\empty.txt", "Disk1\\emptydir",
                         "Disk1\\sub\n", "Disk1\\sub\\caf\xc3\xa9.txt"};
  size_t at = 0;
  for (const char* item : order) {
    size_t found = listed.out.find(item, at);
    ASSERT_NE(found, std::string::npos) << item << "\n" << listed.out;
    at = found;
  }
  EXPECT_NE(listed.out.find("file        70000  Disk1\\data1.cab"), std::string::npos);
  Result json = Run("list --json " + Q(dir / "out.exe"));
  ASSERT_EQ(json.code, 0);
  EXPECT_NE(json.out.find("{\"type\": \"directory\", \"size\": null, \"name\": \"Disk1\"}"), std::string::npos);
  EXPECT_NE(json.out.find("\"name\": \"Disk1\\\\sub\\\\caf\xc3\xa9.txt\""), std::string::npos);
  EXPECT_NE(json.out.find("\"admin\": null"), std::string::npos);
}

TEST_F(Kovsea, PackIsDeterministicAndMatchesTheLayoutByteForByte) {
  fs::path tree = dir / "t";
  WriteAll(tree / "Disk1" / "b", "BB");
  WriteAll(tree / "Disk1" / "a", "A");
  WriteAll(tree / "Disk1" / "Setup.exe", "MZ");
  WriteAll(tree / "Disk1" / "caf\xc3\xa9", "");
  WriteAll(dir / "s.ini", "ini");
  const std::string args = " --setup-ini " + Q(dir / "s.ini") + " --stub " + Q(stub) + " " + Q(tree);
  ASSERT_EQ(Run("pack -o " + Q(dir / "one.exe") + args).code, 0);
  ASSERT_EQ(Run("pack -o " + Q(dir / "two.exe") + args).code, 0);
  const std::string one = ReadAll(dir / "one.exe");
  EXPECT_EQ(one, ReadAll(dir / "two.exe"));

  // Read back independently of the tool: stub, entries, side file, padding, content digest
  // (openssl's SHA-256 of all but its own bytes: a stand-in stub has no signer's fields),
  // trailer.
  const std::string stub_bytes = ReadAll(stub);
  std::string stream = test::DirEntry("Disk1") + test::FileEntry("Disk1\\Setup.exe", "MZ") +
                       test::FileEntry("Disk1\\a", "A") + test::FileEntry("Disk1\\b", "BB") +
                       test::FileEntry("Disk1\\caf\xe9", "");
  const uint32_t side_at = static_cast<uint32_t>(stub_bytes.size() + stream.size());
  std::string body = stub_bytes + stream + "ini";
  body += std::string((8 - (body.size() + 40 + 52) % 8) % 8, '\0');
  test::Slot slots[4] = {{}, {}, {}, {side_at, 3}};
  const std::string trailer =
      test::Trailer(static_cast<uint32_t>(stub_bytes.size()), static_cast<uint32_t>(stream.size()), 5, slots);
  WriteAll(dir / "covered", body + "KOVSUM01" + trailer);
  ASSERT_EQ(system(("openssl dgst -sha256 -binary " + Q(dir / "covered") + " > " + Q(dir / "digest")).c_str()), 0);
  EXPECT_EQ(one, body + "KOVSUM01" + ReadAll(dir / "digest") + trailer);
}

TEST_F(Kovsea, HandWrittenFileIsListedAndExtracted) {
  std::string stream = test::DirEntry("Disk1") + test::FileEntry("Disk1\\Setup.exe", "MZ") +
                       test::FileEntry("Disk1\\x.bin", test::Pattern(1234));
  std::string file = std::string(512, 'M') + stream + "NETDATA";
  test::Slot slots[4] = {{}, {}, {static_cast<uint32_t>(512 + stream.size()), 7}, {}};
  file += test::Trailer(512, static_cast<uint32_t>(stream.size()), 3, slots);
  WriteAll(dir / "hand.exe", file);
  Result listed = Run("list " + Q(dir / "hand.exe"));
  EXPECT_EQ(listed.code, 0) << listed.err;
  EXPECT_NE(listed.out.find("net    KOVnet.dat     offset " + std::to_string(512 + stream.size()) + ", 7 bytes"),
            std::string::npos)
      << listed.out;
  ASSERT_EQ(Run("extract " + Q(dir / "hand.exe") + " -o " + Q(dir / "x")).code, 0);
  EXPECT_EQ(ReadAll(dir / "x" / "Disk1" / "x.bin"), test::Pattern(1234));
  EXPECT_EQ(ReadAll(dir / "x" / "Disk1" / "KOVnet.dat"), "NETDATA");
  EXPECT_EQ(Run("verify " + Q(dir / "hand.exe")).code, 0);
}

// diff on two hand-written files of the same entries: a side file is a change when its bytes
// differ, as when it is present on one side only.
TEST_F(Kovsea, DiffNamesEachSideFileThatDiffers) {
  const std::string stream = test::DirEntry("Disk1") + test::FileEntry("Disk1\\Setup.exe", "MZ");
  const auto with_setup_ini = [&](const std::string& name, const std::string& ini) {
    const test::Slot slots[4] = {{}, {}, {}, {ini.empty() ? 0 : static_cast<uint32_t>(64 + stream.size()),
                                              static_cast<uint32_t>(ini.size())}};
    return WriteSea(name, stream, slots, ini, 2);
  };
  const fs::path old_file = with_setup_ini("old.exe", "[Startup]");
  const struct {
    std::string ini;
    int code;
    const char* says;
  } cases[] = {
      {"[Startup]", 0, "payload: the same"},
      {"[StartuP]", 1, "~ side file setup.ini  file 9 bytes, sha256 "},
      {"", 1, "~ side file setup.ini  file 9 bytes, sha256 "},
  };
  for (const auto& c : cases) {
    Result d = Run("diff " + Q(old_file) + " " + Q(with_setup_ini("new.exe", c.ini)));
    EXPECT_EQ(d.code, c.code) << c.ini << ":\n" << d.out << d.err;
    EXPECT_NE(d.out.find(c.says), std::string::npos) << c.ini << ":\n" << d.out;
  }
}

TEST_F(Kovsea, ListStatesTheDeploymentFacts) {
  // A stream that writes one file twice, and a setup.ini side file in the place of SETUP.INI:
  // a rewritten file counts once, and the most held at once comes before the smaller side file
  // replaces the larger entry (2 + 400 + 50 + 5; not 507, nor the 410 held at the end).
  std::string stream = test::DirEntry("Disk1") + test::FileEntry("Disk1\\SETUP.EXE", "MZ") +
                       test::FileEntry("Disk1\\x.bin", test::Pattern(100)) +
                       test::FileEntry("Disk1\\x.bin", test::Pattern(400)) +
                       test::FileEntry("Disk1\\SETUP.INI", std::string(50, 'i'));
  std::string file = std::string(512, 'M') + stream + "ADMIN" + "[s]";
  const uint32_t at = static_cast<uint32_t>(512 + stream.size());
  test::Slot slots[4] = {{at, 5}, {}, {}, {at + 5, 3}};
  file += test::Trailer(512, static_cast<uint32_t>(stream.size()), 5, slots);
  WriteAll(dir / "facts.exe", file);
  Result listed = Run("list --json " + Q(dir / "facts.exe"));
  ASSERT_EQ(listed.code, 0) << listed.err;
  EXPECT_NE(listed.out.find("\"deployment\": {\"run_directly\": {\"shows_dialog\": true, \"reads_switches\": false, "
                            "\"exit_code\": 1, \"may_restart\": true}, \"installer\": \"Disk1\\\\Setup.exe\", "
                            "\"installer_present\": true, \"temp_bytes\": " + std::to_string(2 + 400 + 50 + 5) +
                            ", \"root_pattern\": \"%TEMP%\\\\KOV[0-9a-f]{1,5}\\\\\"}"),
            std::string::npos)
      << listed.out;
  // Without Setup.exe, and damaged: the stub would start nothing.
  std::string bare = test::DirEntry("Disk1") + test::FileEntry("Disk1\\readme", "r");
  test::Slot none[4] = {};
  WriteAll(dir / "bare.exe", std::string(512, 'M') + bare + test::Trailer(512, static_cast<uint32_t>(bare.size()), 2, none));
  EXPECT_NE(Run("list --json " + Q(dir / "bare.exe")).out.find("\"installer_present\": false, \"temp_bytes\": 1,"),
            std::string::npos);
  WriteAll(dir / "cut.exe", std::string(512, 'M') + bare.substr(0, bare.size() - 1) +
                                test::Trailer(512, static_cast<uint32_t>(bare.size() - 1), 2, none));
  EXPECT_NE(Run("list --json " + Q(dir / "cut.exe")).out.find("\"deployment\": null"), std::string::npos);
}

TEST_F(Kovsea, RefusedInputsLeaveNoOutputBehind) {
  struct Case {
    const char* what;
    std::function<void(const fs::path&)> make;
    const char* message;
  } cases[] = {
      {"symlink", [](const fs::path& t) { fs::create_symlink("/etc/passwd", t / "Disk1" / "link"); },
       "symbolic links"},
      {"fifo", [](const fs::path& t) { mkfifo((t / "Disk1" / "pipe").c_str(), 0600); },
       "only regular files"},
      {"unmappable name", [](const fs::path& t) { WriteAll(t / "Disk1" / "\xe6\x97\xa5.txt", "x"); },
       "code page"},
      {"reserved name", [](const fs::path& t) { WriteAll(t / "Disk1" / "aux.txt", "x"); },
       "reserved device name"},
      {"colon", [](const fs::path& t) { WriteAll(t / "Disk1" / "a:b", "x"); }, "forbids"},
      {"trailing dot", [](const fs::path& t) { WriteAll(t / "Disk1" / "name.", "x"); }, "dot or a space"},
      {"case clash",
       [](const fs::path& t) {
         WriteAll(t / "Disk1" / "readme", "x");
         WriteAll(t / "Disk1" / "README", "y");
       },
       "only in case"},
      {"over 4 GiB",
       [](const fs::path& t) {
         fs::path big = t / "Disk1" / "huge.bin";
         WriteAll(big, "");
         fs::resize_file(big, 0xFFFFFFFFull);
       },
       "larger than 4 GiB"},
  };
  for (const Case& c : cases) {
    fs::remove_all(dir / "tree");
    fs::path tree = MakeTree();
    c.make(tree);
    Result r = Run("pack --stub " + Q(stub) + " -o " + Q(dir / "out.exe") + " " + Q(tree));
    EXPECT_EQ(r.code, 1) << c.what;
    EXPECT_NE(r.err.find("kovsea: error: "), std::string::npos) << c.what;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.what << ": " << r.err;
    ExpectOnly({"tree"});
  }
  fs::remove_all(dir / "tree");
  fs::create_directories(dir / "emptytree");
  EXPECT_EQ(Run("pack --stub " + Q(stub) + " -o " + Q(dir / "out.exe") + " " + Q(dir / "emptytree")).code, 1);
  EXPECT_EQ(Run("pack --stub " + Q(dir / "missing.exe") + " -o " + Q(dir / "out.exe") + " " + Q(dir / "emptytree")).code, 1);
  ExpectOnly({"emptytree"});
}

TEST_F(Kovsea, HostileFilesAreRefusedAndNothingLandsOutsideTheTarget) {
  struct Case {
    const char* what;
    std::string stream;
    int32_t size_delta;
  } cases[] = {
      {"traversal", test::DirEntry("Disk1") + test::FileEntry("..\\..\\evil.txt", "pwned"), 0},
      {"absolute", test::FileEntry("\\tmp\\evil.txt", "pwned"), 0},
      {"slash", test::FileEntry("Disk1/../../evil.txt", "pwned"), 0},
      {"entry larger than stream", test::DirEntry("Disk1") + test::FileEntry("Disk1\\big", test::Pattern(100)), -40},
      {"file before its directory", test::FileEntry("Disk1\\a", "x") + test::DirEntry("Disk1"), 0},
  };
  for (const Case& c : cases) {
    fs::remove_all(dir / "x");
    fs::create_directories(dir / "x");
    WriteAll(dir / "x" / "keep.txt", "mine");
    std::string file = std::string(64, 'M') + c.stream;
    file += test::Trailer(64, static_cast<uint32_t>(c.stream.size() + c.size_delta), 2, {{}, {}, {}, {}});
    WriteAll(dir / "hostile.exe", file);
    Result r = Run("extract --force " + Q(dir / "hostile.exe") + " -o " + Q(dir / "x"));
    EXPECT_EQ(r.code, 1) << c.what;
    EXPECT_NE(r.err.find("kovsea: error:"), std::string::npos) << c.what;
    EXPECT_EQ(Snapshot(dir / "x"), (std::map<std::string, std::string>{{"keep.txt", "mine"}})) << c.what;
    EXPECT_FALSE(fs::exists("/tmp/evil.txt"));
    ExpectOnly({"x", "hostile.exe"});
  }
  // A trailer that points outside the file is refused before anything is made.
  WriteAll(dir / "outside.exe", std::string(64, 'M') + test::Trailer(60, 1000, 1, {{}, {}, {}, {}}));
  Result r = Run("extract " + Q(dir / "outside.exe") + " -o " + Q(dir / "y"));
  EXPECT_EQ(r.code, 1);
  EXPECT_FALSE(fs::exists(dir / "y"));
}

TEST_F(Kovsea, VerifyPinpointsEachKindOfDamage) {
  const std::string good = test::DirEntry("Disk1") + test::FileEntry("Disk1\\f", "12345");
  auto file = [&](const std::string& stream, uint32_t size, uint32_t count, test::Slot setup = {}) {
    std::string f = std::string(100, 'M') + stream;
    test::Slot slots[4] = {{}, {}, {}, setup};
    return f + test::Trailer(100, size, count, slots);
  };
  const uint32_t n = static_cast<uint32_t>(good.size());
  const size_t trailer_at = 100 + good.size();
  struct Case {
    const char* what;
    std::string bytes;
    std::string expected;
  } cases[] = {
      {"not ours", std::string(200, 'x'), "not a KOV self-extractor: it does not end in a KOVSEA trailer"},
      {"count", file(good, n, 5), "offset " + std::to_string(trailer_at + 16) + ": the trailer counts 5 entries, the stream holds 2"},
      {"cut short", file(good, n - 2, 2), "offset 110: entry \"Disk1\\f\" is cut short: 3 of 5 data bytes"},
      {"header cut", file(good + "\x05", n + 1, 3), "offset " + std::to_string(100 + good.size()) + ": the stream ends inside an entry header"},
      {"order", file(test::FileEntry("Disk1\\f", "1") + test::DirEntry("Disk1"), n - 4, 2),
       "offset 100: entry \"Disk1\\f\" comes before its directory \"Disk1\""},
      {"bad name", file(test::DirEntry("Disk1") + test::FileEntry("Disk1\\..\\x", "1"), n - 1, 2),
       "offset 110: entry name has a \".\" or \"..\" component"},
      {"slot", file(good, n, 2, {90, 100}), "offset " + std::to_string(trailer_at + 44) + ": side file lies outside the file (setup.ini)"},
      {"empty", file(good, 0, 2), "offset " + std::to_string(trailer_at + 12) + ": archive size is 0"},
  };
  for (const Case& c : cases) {
    WriteAll(dir / "v.exe", c.bytes);
    Result r = Run("verify " + Q(dir / "v.exe"));
    EXPECT_EQ(r.code, 1) << c.what;
    EXPECT_NE(r.out.find(c.expected), std::string::npos) << c.what << ":\n" << r.out;
  }
}

// Signs a packed file the way a signer lays it out: header entry pointing at a table
// appended at the (8-aligned) end. Returns the signed bytes.
std::string SignByHand(std::string packed, size_t table_size = 24) {
  const uint32_t table_at = static_cast<uint32_t>(packed.size());
  const std::string header = test::PeImage(0x200, table_at, static_cast<uint32_t>(table_size));
  packed.replace(0, header.size(), header);
  return packed + std::string(table_size, 'C');
}

TEST_F(Kovsea, SignedFilesAreListedVerifiedAndExtracted) {
  WriteAll(stub, test::PeImage(0x200, 0, 0));
  fs::path tree = MakeTree();
  ASSERT_EQ(Run("pack --stub " + Q(stub) + " -o " + Q(dir / "out.exe") + " " + Q(tree)).code, 0);
  const std::string packed = ReadAll(dir / "out.exe");
  EXPECT_NE(Run("verify " + Q(dir / "out.exe")).out.find("not signed"), std::string::npos);

  const std::string signed_file = SignByHand(packed);
  WriteAll(dir / "signed.exe", signed_file);
  // Laid out as signed, but the table holds no signature: nothing vouches for the file.
  Result verified = Run("verify " + Q(dir / "signed.exe"));
  EXPECT_EQ(verified.code, 1) << verified.out;
  EXPECT_NE(verified.out.find("signed: certificate table at offset " + std::to_string(packed.size()) +
                              ", 24 bytes"),
            std::string::npos)
      << verified.out;
  EXPECT_NE(verified.out.find("offset " + std::to_string(packed.size()) +
                              ": the certificate table holds no Authenticode signature"),
            std::string::npos)
      << verified.out;
  Result listed = Run("list --json " + Q(dir / "signed.exe"));
  EXPECT_EQ(listed.code, 0) << listed.err;
  EXPECT_NE(listed.out.find("\"signed\": true"), std::string::npos);
  ASSERT_EQ(Run("extract " + Q(dir / "signed.exe") + " -o " + Q(dir / "x")).code, 0);
  EXPECT_EQ(Snapshot(dir / "x"), Snapshot(tree));

  // Data appended after the signature is not covered by it.
  WriteAll(dir / "appended.exe", signed_file + "extra");
  Result appended = Run("verify " + Q(dir / "appended.exe"));
  EXPECT_EQ(appended.code, 1);
  EXPECT_NE(appended.out.find("offset " + std::to_string(signed_file.size()) +
                              ": 5 bytes follow the certificate table"),
            std::string::npos)
      << appended.out;
  EXPECT_EQ(Run("extract " + Q(dir / "appended.exe") + " -o " + Q(dir / "y")).code, 1);
  EXPECT_FALSE(fs::exists(dir / "y"));

  // A stream or side file that reaches into the table.
  const uint32_t trailer_at = static_cast<uint32_t>(packed.size() - 52);
  auto reaching = [&](size_t field, uint32_t offset, uint32_t size) {
    std::string bytes = packed;
    std::string value;
    test::Put32(&value, offset);
    test::Put32(&value, size);
    bytes.replace(trailer_at + field, 8, value);
    WriteAll(dir / "reaching.exe", SignByHand(bytes));
    return Run("verify " + Q(dir / "reaching.exe"));
  };
  Result stream = reaching(8, 0x200, trailer_at - 0x200 + 60);
  EXPECT_EQ(stream.code, 1);
  EXPECT_NE(stream.out.find("entry stream reaches into the certificate table"), std::string::npos)
      << stream.out;
  Result slot = reaching(20 + 8 * 3, trailer_at - 4, 60);
  EXPECT_EQ(slot.code, 1);
  EXPECT_NE(slot.out.find("side file reaches into the certificate table (setup.ini)"), std::string::npos)
      << slot.out;
}

TEST_F(Kovsea, PackRefusesASignedStub) {
  WriteAll(stub, test::PeImage(0x200, 0x200, 8) + std::string(8, 'C'));
  Result r = Run("pack --stub " + Q(stub) + " -o " + Q(dir / "out.exe") + " " + Q(MakeTree()));
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("sign the finished self-extractor instead"), std::string::npos) << r.err;
  ExpectOnly({"tree"});
}

TEST_F(Kovsea, UsageErrorsExitWithTwoAndHelpWithZero) {
  EXPECT_EQ(Run("").code, 2);
  EXPECT_EQ(Run("frobnicate").code, 2);
  EXPECT_EQ(Run("pack").code, 2);
  EXPECT_EQ(Run("pack --bogus x").code, 2);
  EXPECT_EQ(Run("extract somefile").code, 2);
  EXPECT_EQ(Run("list --codepage klingon x").code, 2);
  EXPECT_EQ(Run("install --timeout 0 x").code, 2);
  // Only the Windows build runs an installer; this one says so, whatever the file.
  Result install = Run("install " + Q(dir / "does-not-exist") + " -- /s");
  EXPECT_EQ(install.code, 2);
  EXPECT_NE(install.err.find("kovsea: error: install runs the installer, which takes Windows"), std::string::npos)
      << install.err;
  EXPECT_NE(Run("install --help").out.find("the deployment system owns restarts"), std::string::npos);
  Result help = Run("pack --help");
  EXPECT_EQ(help.code, 0);
  EXPECT_NE(help.out.find("usage: kovsea pack"), std::string::npos);
  Result version = Run("--version");
  EXPECT_EQ(version.code, 0);
  EXPECT_EQ(version.out.rfind("kovsea ", 0), 0u);
  EXPECT_EQ(Run("verify " + Q(dir / "does-not-exist")).code, 1);
}

TEST_F(Kovsea, ExtractRefusesANonEmptyTargetWithoutForce) {
  fs::path tree = MakeTree();
  ASSERT_EQ(Run("pack --stub " + Q(stub) + " -o " + Q(dir / "out.exe") + " " + Q(tree)).code, 0);
  WriteAll(dir / "x" / "mine", "1");
  Result r = Run("extract " + Q(dir / "out.exe") + " -o " + Q(dir / "x"));
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("--force"), std::string::npos);
  EXPECT_EQ(Snapshot(dir / "x").size(), 1u);
  EXPECT_EQ(Run("extract --force " + Q(dir / "out.exe") + " -o " + Q(dir / "x")).code, 0);
  EXPECT_EQ(ReadAll(dir / "x" / "Disk1" / "data1.cab"), test::Pattern(70000, 3));
}

TEST_F(Kovsea, CodepageChoosesHowNamesAreStored) {
  fs::path tree = dir / "t";
  WriteAll(tree / "Disk1" / "Setup.exe", "MZ");
  WriteAll(tree / "Disk1" / "\xd0\xb4.txt", "cyrillic de");  // U+0434
  EXPECT_EQ(Run("pack --stub " + Q(stub) + " -o " + Q(dir / "a.exe") + " " + Q(tree)).code, 1);
  ASSERT_EQ(Run("pack --codepage 1251 --stub " + Q(stub) + " -o " + Q(dir / "a.exe") + " " + Q(tree)).code, 0);
  EXPECT_NE(ReadAll(dir / "a.exe").find(std::string("Disk1\\\xe4.txt") + '\0'), std::string::npos);
  Result listed = Run("list --codepage cp1251 " + Q(dir / "a.exe"));
  EXPECT_NE(listed.out.find("Disk1\\\xd0\xb4.txt"), std::string::npos) << listed.out;
}

TEST_F(Kovsea, EveryJsonReportHasTheSameEnvelopeAndNothingOnStderr) {
  const fs::path tree = MakeTree();
  fs::create_directories(dir / "empty");
  WriteAll(dir / "damaged.exe", std::string(200, 'x'));
  const std::string sea = Q(dir / "out.exe");
  const struct {
    std::string args;
    int code;
    std::string starts;
    std::string holds;
  } cases[] = {
      {"pack --json --stub " + Q(stub) + " -o " + sea + " " + Q(tree), 0, "{\"ok\": true, \"output\": ",
       "\"problems\": []}"},
      {"pack --json --stub " + Q(stub) + " -o " + Q(dir / "no.exe") + " " + Q(dir / "empty"), 1,
       "{\"ok\": false, \"output\": null", "\"what\": \"nothing to pack (empty directory)\""},
      {"verify --json " + sea, 0, "{\"ok\": true, \"file\": ", "\"signed\": false"},
      {"verify --json " + Q(dir / "damaged.exe"), 1, "{\"ok\": false, \"file\": ", "\"offset\": null, \"what\": \"not a KOV self-extractor"},
      {"list --json " + Q(dir / "missing.exe"), 1, "{\"ok\": false, \"problems\": [", "\"fix\": null"},
      {"check --json " + Q(tree), 0, "{\"ok\": true, \"temp_length\": 49,", "\"problems\": []}"},
  };
  for (const auto& c : cases) {
    Result r = Run(c.args);
    EXPECT_EQ(r.code, c.code) << c.args;
    EXPECT_EQ(r.out.rfind(c.starts, 0), 0u) << c.args << ":\n" << r.out;
    EXPECT_NE(r.out.find(c.holds), std::string::npos) << c.args << ":\n" << r.out;
    EXPECT_EQ(r.out.substr(r.out.size() - 2), "}\n") << c.args;
    EXPECT_EQ(r.err, "") << c.args;
  }
  EXPECT_FALSE(fs::exists(dir / "no.exe"));
}

}  // namespace
