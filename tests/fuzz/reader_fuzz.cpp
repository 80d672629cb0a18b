// Fuzzes kovsea's reading path on real files: list, verify and extract (with --force, into a
// directory where links to the outside are planted). The input is an entry stream wrapped in
// a stub image and a trailer, or, when its first byte is odd, a whole file as it stands.
// Whatever the bytes, nothing may be written outside the output directory, and a failed
// extraction leaves the output directory as it found it.
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "commands.h"
#include "host_files.h"
#include "invariant.h"
#include "stream_builder.h"

namespace fs = std::filesystem;

namespace {

fs::path g_scratch;

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Every path below `root` (links as links), with a file's bytes or a link's target.
std::map<std::string, std::string> Snapshot(const fs::path& root) {
  std::map<std::string, std::string> out;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
    const fs::path& p = it->path();
    const std::string key = fs::relative(p, root).string();
    if (fs::is_symlink(fs::symlink_status(p))) {
      out[key] = "link " + fs::read_symlink(p).string();
    } else {
      out[key] = fs::is_directory(p) ? "<dir>" : ReadAll(p);
    }
  }
  return out;
}

std::string AsSea(const uint8_t* data, size_t size) {
  const std::string body(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (data[0] & 1) return body;
  std::string file(64, 'M');
  file += body;
  // Bit 1: a side file over the stream's last 8 bytes (refused); bit 2: one behind it.
  test::Slot slots[4] = {};
  if ((data[0] & 6) != 0) {
    slots[3].offset = static_cast<uint32_t>(64 + body.size() - ((data[0] & 2) ? 8 : 0));
    slots[3].size = (data[0] & 2) ? 8 : 0;
  }
  return file + test::Trailer(64, static_cast<uint32_t>(body.size()), 1, slots);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char tmpl[] = "/tmp/kovsea-reader-fuzz-XXXXXX";
  g_scratch = mkdtemp(tmpl);
  atexit([] {
    std::error_code ignored;
    fs::remove_all(g_scratch, ignored);
  });
  // The commands print; the fuzzer's own output is on stderr, which stays.
  if (freopen("/dev/null", "w", stdout) == nullptr) abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  fs::remove_all(g_scratch / "run");
  const fs::path run = g_scratch / "run";
  fs::create_directories(run / "outside");
  fs::create_directories(run / "out");
  {
    std::ofstream(run / "outside" / "victim", std::ios::binary) << "precious";
    std::ofstream(run / "sea.exe", std::ios::binary) << AsSea(data, size);
  }
  // Links an archive could try to write through: a directory and a file.
  fs::create_directory_symlink("../outside", run / "out" / "Disk2");
  fs::create_symlink("../outside/victim", run / "out" / "readme.txt");
  const auto outside = Snapshot(run / "outside");
  const auto planted = Snapshot(run / "out");

  const fs::path sea = run / "sea.exe";
  Codepage codepage;
  std::string refused;
  if ((data[0] & 8) != 0 && !Codepage::Parse("932", &codepage, &refused)) abort();
  const int listed = ListCommand(sea, (data[0] & 16) != 0, codepage);
  const int verified = VerifyCommand(sea, (data[0] & 32) != 0, codepage, 49);
  const int extracted = ExtractCommand(sea, run / "out", true, codepage);

  Require(Snapshot(run / "outside") == outside, "written outside the output directory", "");
  for (const auto& entry : fs::directory_iterator(run)) {
    const std::string name = entry.path().filename().string();
    Require(name == "outside" || name == "out" || name == "sea.exe", "created beside it", name);
  }
  if (extracted != 0) Require(Snapshot(run / "out") == planted, "a failed extraction left files", "");
  // The readers agree: verify checks all that list checks and more, and extract checks what
  // list checks before it writes.
  Require(listed == 0 || verified != 0, "verify accepted what list refused", "");
  Require(extracted != 0 || listed == 0, "extract accepted what list refused", "");
  return 0;
}
