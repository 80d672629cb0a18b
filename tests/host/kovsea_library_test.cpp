// The packer's libraries on their own: .ico reading, the version resource's bytes, the
// resource tree written back into a real stub (read again by wrestool, an independent
// reader), the layout a pack plan works out, the names Windows takes for one another, and the
// exit codes of install.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "ico_file.h"
#include "install_result.h"
#include "json.h"
#include "pack_plan.h"
#include "pack_writer.h"
#include "pe_image.h"
#include "resource_tree.h"
#include "version_resource.h"
#include "whole_file.h"
#include "windows_names.h"
#include "windows_stub.h"

namespace fs = std::filesystem;

namespace {

uint32_t Le32(const std::string& s, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(s[at + i]);
  return v;
}

std::string Le(uint32_t v, int bytes) {
  std::string out;
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
  return out;
}

std::string Utf16(const std::string& ascii) {
  std::string out;
  for (char c : ascii) out += std::string(1, c) + '\0';
  return out;
}

// An .ico with one image of `image` bytes, its directory entry saying `size` and `offset`.
std::string Ico(const std::string& image, uint32_t size, uint32_t offset, uint16_t count = 1) {
  return std::string("\0\0\1\0", 4) + Le(count, 2) + std::string("\x10\x10\0\0\1\0\0\0", 8) + Le(size, 4) +
         Le(offset, 4) + image;
}

TEST(IcoFile, EachMalformedShapeIsRefusedWithItsOffset) {
  const std::string dib = Le(40, 4) + std::string(10, '\0') + Le(24, 2) + std::string(100, '\0');
  const struct {
    const char* what;
    std::string bytes;
    uint64_t offset;
    const char* reason;
  } cases[] = {
      {"GIF", "GIF89a", 0, "no icon header"},
      {"cursor", std::string("\0\0\2\0\1\0", 6), 0, "no icon header"},
      {"no image", std::string("\0\0\1\0\0\0", 6), 4, "holds no image"},
      {"directory cut", std::string("\0\0\1\0\2\0", 6) + std::string(20, '\0'), 6, "directory is cut short"},
      {"outside", Ico(dib, 500, 22), 6, "image 1 lies outside the file"},
      {"empty image", Ico(dib, 0, 22), 6, "image 1 lies outside the file"},
      {"neither", Ico(std::string(120, 'x'), 120, 22), 22, "neither a bitmap nor a PNG"},
  };
  for (const auto& c : cases) {
    std::vector<pe::IconImage> images;
    Problem problem;
    EXPECT_FALSE(pe::ParseIcoFile(c.bytes, &images, &problem)) << c.what;
    EXPECT_EQ(problem.offset, c.offset) << c.what;
    EXPECT_NE(problem.what.find(c.reason), std::string::npos) << c.what << ": " << problem.what;
  }
  // A good one: a bitmap whose entry leaves the bit count to its header, and a PNG.
  std::vector<pe::IconImage> images;
  Problem problem;
  ASSERT_TRUE(pe::ParseIcoFile(Ico(dib, static_cast<uint32_t>(dib.size()), 22), &images, &problem)) << problem.what;
  ASSERT_EQ(images.size(), 1u);
  EXPECT_EQ(images[0].bit_count, 24) << "taken from the BITMAPINFOHEADER";
  EXPECT_EQ(images[0].data, dib);
  const std::string png = std::string("\x89PNG\r\n\x1a\n", 8) + "rest";
  EXPECT_TRUE(pe::ParseIcoFile(Ico(png, static_cast<uint32_t>(png.size()), 22), &images, &problem));
}

TEST(VersionResource, BytesAreTheDocumentedNodes) {
  std::string bytes;
  Problem problem;
  ASSERT_TRUE(pe::BuildVersionResource({{"FileVersion", "1.2.3.4 beta"}, {"ProductName", "Caf\xc3\xa9"}}, &bytes,
                                       &problem));
  // Root node: its length, the fixed part's length, binary type, key, padding, fixed part.
  EXPECT_EQ(Le32(bytes, 0) & 0xFFFF, bytes.size());
  EXPECT_EQ(Le32(bytes, 0) >> 16, 52u);
  EXPECT_EQ(bytes.substr(6, 32), Utf16("VS_VERSION_INFO") + std::string(2, '\0'));
  EXPECT_EQ(Le32(bytes, 40), 0xFEEF04BDu);
  EXPECT_EQ(Le32(bytes, 48), 0x00010002u) << "file version 1.2";
  EXPECT_EQ(Le32(bytes, 52), 0x00030004u) << "file version .3.4";
  EXPECT_EQ(Le32(bytes, 56), 0x00010002u) << "the product version follows the file version";
  EXPECT_EQ(Le32(bytes, 60), 0x00030004u);
  // A string node: key, its terminator, padding to 32 bits, then the UTF-16 value.
  const std::string key = Utf16("ProductName") + std::string(2, '\0');
  const size_t at = bytes.find(key);
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(bytes.substr(at + key.size() + 2, 10), Utf16("Caf") + std::string("\xe9\0\0\0", 4));
  EXPECT_NE(bytes.find(Utf16("040904b0")), std::string::npos);

  const struct {
    std::map<std::string, std::string> strings;
    const char* reason;
  } refused[] = {
      {{{"Flavour", "vanilla"}}, "unknown version key 'Flavour'"},
      {{{"ProductVersion", "v1"}}, "does not begin with a dotted version"},
      {{{"FileVersion", "70000.1"}}, "does not begin with a dotted version"},
      {{{"Comments", "\xff"}}, "not UTF-8"},
  };
  for (const auto& c : refused) {
    Problem p;
    EXPECT_FALSE(pe::BuildVersionResource(c.strings, &bytes, &p)) << c.reason;
    EXPECT_NE(p.what.find(c.reason), std::string::npos) << p.what;
  }
}

class StubResources : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(test::WindowsStubBuilt());
    ASSERT_TRUE(ReadWholeFile(KOVSEA_STUB, &stub));
    char tmpl[] = "/tmp/kovsea-pe-XXXXXX";
    dir = mkdtemp(tmpl);
  }
  void TearDown() override {
    if (!dir.empty()) fs::remove_all(dir);
  }
  // What wrestool lists of `image`, one line a resource.
  std::string Wrestool(const std::string& image) {
    std::ofstream(dir / "image.exe", std::ios::binary) << image;
    const std::string command = "wrestool -l " + (dir / "image.exe").string() + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    std::string out;
    char buffer[512];
    while (pipe != nullptr && fgets(buffer, sizeof buffer, pipe) != nullptr) out += buffer;
    if (pipe != nullptr) pclose(pipe);
    return out;
  }
  std::string stub;
  fs::path dir;
};

TEST_F(StubResources, TreeWrittenBackReadsTheSameAndTheRelocationsFollowItsGrowth) {
  pe::ResourceTree tree;
  Problem problem;
  ASSERT_TRUE(pe::ReadResources(stub, &tree, &problem)) << problem.what;
  ASSERT_FALSE(tree.empty());
  std::string same = stub;
  ASSERT_TRUE(pe::WriteResources(&same, tree, &problem)) << problem.what;
  pe::ResourceTree again;
  ASSERT_TRUE(pe::ReadResources(same, &again, &problem));
  EXPECT_EQ(again, tree);

  // A resource of 100 000 bytes makes the section grow; the relocations behind it move.
  tree[pe::ResourceId::Number(10)][pe::ResourceId::Number(7)][pe::kLanguageUsEnglish] = std::string(100000, 'r');
  std::string grown = stub;
  ASSERT_TRUE(pe::WriteResources(&grown, tree, &problem)) << problem.what;
  pe::Image before;
  pe::Image after;
  ASSERT_TRUE(pe::ParseImage(stub, &before, &problem));
  ASSERT_TRUE(pe::ParseImage(grown, &after, &problem));
  ASSERT_EQ(after.sections.size(), before.sections.size());
  const pe::Section& reloc = after.sections.back();
  EXPECT_EQ(after.DirectoryAddress(grown, kBaseRelocationDirectory), reloc.virtual_address);
  EXPECT_GT(reloc.virtual_address, before.sections.back().virtual_address + 100000 - 4096);
  EXPECT_EQ(grown.substr(reloc.raw_at, reloc.raw_size),
            stub.substr(before.sections.back().raw_at, before.sections.back().raw_size))
      << "the relocations' bytes move unchanged";
  EXPECT_EQ(grown.size() - stub.size(), reloc.raw_at - before.sections.back().raw_at);
  const std::string listed = Wrestool(grown);
  EXPECT_NE(listed.find("--type=10 --name=7 --language=1033"), std::string::npos) << listed;
  EXPECT_NE(listed.find("--type=14 --name=99"), std::string::npos) << listed;
}

TEST(PackPlan, LayoutIsTheHandComputedOne) {
  char tmpl[] = "/tmp/kovsea-plan-XXXXXX";
  const fs::path dir = mkdtemp(tmpl);
  fs::create_directories(dir / "tree" / "Disk1" / "sub");
  std::ofstream(dir / "tree" / "Disk1" / "Setup.exe", std::ios::binary) << "12345";
  std::ofstream(dir / "tree" / "Disk1" / "a.txt", std::ios::binary) << "";
  std::ofstream(dir / "admin", std::ios::binary) << "ADMIN12";
  PackOptions options;
  options.input_dir = dir / "tree";
  options.side_files[0] = dir / "admin";
  const PackPlan plan = PlanPack(options, 100);
  const PackPlan longer_stub = PlanPack(options, 101);
  fs::remove_all(dir);
  ASSERT_TRUE(plan.problems.empty()) << plan.problems[0].what;
  // Byte-wise order ("S" before "a" before "s"), each directory before its contents.
  std::vector<std::string> names;
  for (const auto& e : plan.entries) names.push_back(e.name);
  EXPECT_EQ(names, (std::vector<std::string>{"Disk1", "Disk1\\Setup.exe", "Disk1\\a.txt", "Disk1\\sub"}));
  // Each entry: 4 size bytes, the name and its zero, the data.
  const uint64_t archive = (4 + 6) + (4 + 16 + 5) + (4 + 12) + (4 + 10);
  EXPECT_EQ(plan.archive_size, archive);
  EXPECT_EQ(plan.side_offsets[0], 100 + archive);
  EXPECT_EQ(plan.side_sizes[0], 7u);
  EXPECT_EQ(plan.side_offsets[1], 0u);
  // 100 + 65 + 7 = 172; with the 40-byte content digest and the 52-byte trailer 264,
  // already a multiple of 8.
  EXPECT_EQ(plan.padding, 0u);
  EXPECT_EQ(plan.total, 264u);
  EXPECT_EQ(longer_stub.padding, 7u) << "one byte more of stub, seven of padding";
  EXPECT_EQ(longer_stub.total % 8, 0u);
}

// The names of one directory that Windows takes for one another: by its case folding (every
// letter, none becoming two: "ß" stays), and by the short names it documents for long ones
// (blanks and every dot but the last left out, six characters, "~" and a number, then the
// first three characters of the extension; a name that fits 8.3 keeps its own).
TEST(WindowsNames, ClashesAreTheOnesWindowsMakes) {
  const struct {
    std::vector<std::string> names;
    const char* clashes;  // "index<earlier" and "case" or "short", one a clash
  } cases[] = {
      {{"a.txt", "A.TXT"}, "1<0 case"},
      {{"zebra.txt", "ZEBRA.TXT"}, "1<0 case"},
      {{"@.txt", "`.txt", "[.txt", "{.txt"}, ""},
      {{"r\xc3\xa9sum\xc3\xa9.txt", "R\xc3\x89SUM\xc3\x89.TXT"}, "1<0 case"},
      {{"stra\xc3\x9f" "e", "STRASSE"}, ""},
      {{"longfilename.txt", "LONGFI~1.TXT"}, "1<0 short"},
      {{"LONGFI~1.TXT", "longfilename.txt"}, "1<0 short"},
      {{"longfilename.txt", "LONGFI~1.DOC"}, ""},
      {{"my.long.name.txt", "MYLONG~1.TXT"}, "1<0 short"},
      {{"long file name.txt", "LONGFI~1.TXT"}, "1<0 short"},
      {{"extension.html", "EXTENS~1.HTM"}, "1<0 short"},
      {{"short.txt", "SHORT~1.TXT"}, ""},
  };
  for (const auto& c : cases) {
    std::string clashes;
    for (const NameClash& clash : FindNameClashes(c.names)) {
      clashes += (clashes.empty() ? "" : ", ") + std::to_string(clash.index) + "<" + std::to_string(clash.earlier) +
                 (clash.short_name ? " short" : " case");
    }
    EXPECT_EQ(clashes, c.clashes) << c.names[0] << " ... " << c.names.back();
  }
}

// Windows' own codes: ERROR_SUCCESS_REBOOT_REQUIRED (3010) when the installer asks for a
// restart in "Reboot" (1, 2 or 3); ERROR_SUCCESS_REBOOT_INITIATED (1641) only as Setup.exe's.
TEST(InstallExitCode, IsSetupsOwnOrWhatTheRestartRequestAsks) {
  const struct {
    uint32_t setup_exit_code;
    uint32_t restart_request;
    uint32_t code;
  } cases[] = {{0, 0, 0},       {0, 1, 3010},    {0, 2, 3010}, {0, 3, 3010},    {0, 4, 0},
               {1641, 0, 1641}, {3010, 0, 3010}, {5, 3, 5},    {0, 0xFFFFFFFF, 0}};
  for (const auto& c : cases) {
    EXPECT_EQ(InstallExitCode(c.setup_exit_code, c.restart_request), c.code)
        << "Setup.exe " << c.setup_exit_code << ", Reboot " << c.restart_request;
  }
}

TEST(PackWriter, AFileSwappedForALinkAfterTheCheckIsNotPacked) {
  char tmpl[] = "/tmp/kovsea-swap-XXXXXX";
  const fs::path dir = mkdtemp(tmpl);
  fs::create_directories(dir / "tree" / "Disk1");
  std::ofstream(dir / "tree" / "Disk1" / "Setup.exe", std::ios::binary) << "MZ";
  std::ofstream(dir / "tree" / "Disk1" / "data.cab", std::ios::binary) << "inside";
  std::ofstream(dir / "secret", std::ios::binary) << "outside";
  PackOptions options;
  options.input_dir = dir / "tree";
  options.output = dir / "out.exe";
  const PackPlan plan = PlanPack(options, 2);
  ASSERT_TRUE(plan.problems.empty());
  // Between the check and the write the file becomes a link to a file of the same size. (The
  // checked file lives on under another name, so that its inode number is not reused.)
  fs::create_hard_link(dir / "tree" / "Disk1" / "data.cab", dir / "checked");
  fs::remove(dir / "tree" / "Disk1" / "data.cab");
  fs::create_symlink(dir / "secret", dir / "tree" / "Disk1" / "data.cab");
  std::ofstream(dir / "secret", std::ios::binary) << "outsid";
  Problem problem;
  EXPECT_FALSE(WritePackage(options, "MZ", plan, &problem));
  EXPECT_NE(problem.what.find("cannot open"), std::string::npos) << problem.what;
  // Replaced by another regular file of the same size: refused as well.
  fs::remove(dir / "tree" / "Disk1" / "data.cab");
  std::ofstream(dir / "tree" / "Disk1" / "data.cab", std::ios::binary) << "INSIDE";
  EXPECT_FALSE(WritePackage(options, "MZ", plan, &problem));
  EXPECT_NE(problem.what.find("replaced after it was checked"), std::string::npos) << problem.what;
  EXPECT_FALSE(fs::exists(dir / "out.exe"));
  fs::remove_all(dir);
}

}  // namespace

TEST(JsonString, EveryStringBecomesValidUtf8Json) {
  const std::string kReplacement = "\xEF\xBF\xBD";
  const struct {
    const char* in;
    std::string out;
  } cases[] = {
      {"Disk1\\a \"b\"", "\"Disk1\\\\a \\\"b\\\"\""},
      {"\x01\t", "\"\\u0001\\u0009\""},
      {"caf\xC3\xA9 \xE6\x97\xA5 \xF0\x9F\x98\x80", "\"caf\xC3\xA9 \xE6\x97\xA5 \xF0\x9F\x98\x80\""},
      {"a\xFF" "b", "\"a" + kReplacement + "b\""},                                         // a Latin-1 name from Linux
      {"\xC3", "\"" + kReplacement + "\""},                                                 // cut short
      {"\xC0\xAF", "\"" + kReplacement + kReplacement + "\""},                             // overlong
      {"\xED\xA0\x80", "\"" + kReplacement + kReplacement + kReplacement + "\""},         // a surrogate
      {"\xF4\x90\x80\x80", "\"" + kReplacement + kReplacement + kReplacement + kReplacement + "\""},  // past U+10FFFF
  };
  for (const auto& c : cases) EXPECT_EQ(JsonString(c.in), c.out) << c.in;
}
