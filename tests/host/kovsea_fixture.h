// The packer as a user runs it: the real binary in a scratch directory, with helpers to
// build trees and hand-written self-extractors and to read back what landed where.
#pragma once

#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include "stream_builder.h"

namespace fs = std::filesystem;

namespace test {


struct Result {
  int code;
  std::string out;
  std::string err;
};

inline std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void WriteAll(const fs::path& p, const std::string& bytes) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << bytes;
}

class Kovsea : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/kovsea-cli-XXXXXX";
    dir = mkdtemp(tmpl);
    stub = dir / "stub.exe";
    WriteAll(stub, "MZ this stands in for the stub image" + std::string(100, '\x90'));
  }
  void TearDown() override { fs::remove_all(dir); }

  Result Run(const std::string& args) { return RunAfter("", args); }

  // Runs kovsea from a shell that first does `shell_setup` (limits, planted files) and then
  // execs the tool, so that kovsea keeps the shell's process id ($$).
  Result RunAfter(const std::string& shell_setup, const std::string& args) {
    const std::string out = (dir / "stdout").string();
    const std::string err = (dir / "stderr").string();
    const std::string script = shell_setup + (shell_setup.empty() ? "" : "; ") + "exec " +
                               KOVSEA_BINARY + " " + args + " >" + out + " 2>" + err;
    std::string quoted = "'";
    for (char c : script) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    const int status = system(("sh -c " + quoted + "'").c_str());
    return Result{WEXITSTATUS(status), ReadAll(out), ReadAll(err)};
  }

  // A self-extractor written by hand: `image_size` bytes of stand-in image, the stream, then
  // `extra` (side-file bytes), and a trailer with the given slots.
  fs::path WriteSea(const std::string& name, const std::string& stream, const test::Slot (&slots)[4],
                    const std::string& extra = "", uint32_t entries = 1, uint32_t image_size = 64) {
    std::string file = std::string(image_size, 'M') + stream + extra;
    file += test::Trailer(image_size, static_cast<uint32_t>(stream.size()), entries, slots);
    WriteAll(dir / name, file);
    return dir / name;
  }

  std::string Q(const fs::path& p) { return "'" + p.string() + "'"; }

  // A typical installer tree with a nested directory, an empty file and a non-ASCII name.
  fs::path MakeTree() {
    fs::path tree = dir / "tree";
    WriteAll(tree / "Disk1" / "Setup.exe", "MZ setup program");
    WriteAll(tree / "Disk1" / "data1.cab", test::Pattern(70000, 3));
    // Long enough that extract copies most of it file to file.
    WriteAll(tree / "Disk1" / "data2.cab", test::Pattern(3 << 20, 4));
    WriteAll(tree / "Disk1" / "SETUP.INI", "[from tree]");
    WriteAll(tree / "Disk1" / "empty.txt", "");
    WriteAll(tree / "Disk1" / "sub" / "caf\xc3\xa9.txt", "cafe");
    fs::create_directories(tree / "Disk1" / "emptydir");
    return tree;
  }

  // Every regular file below `root`, with its bytes, keyed by relative path.
  static std::map<std::string, std::string> Snapshot(const fs::path& root) {
    std::map<std::string, std::string> out;
    for (auto& e : fs::recursive_directory_iterator(root)) {
      out[fs::relative(e.path(), root).string()] = e.is_directory() ? "<dir>" : ReadAll(e.path());
    }
    return out;
  }

  // Nothing but the named entries in the work directory: no output, no temporary files.
  void ExpectOnly(std::initializer_list<const char*> names) {
    std::set<std::string> expected(names.begin(), names.end());
    expected.insert({"stub.exe", "stdout", "stderr"});
    for (auto& e : fs::directory_iterator(dir)) {
      EXPECT_TRUE(expected.count(e.path().filename().string())) << "left behind: " << e.path();
    }
  }

  fs::path dir;
  fs::path stub;
};

}  // namespace test
