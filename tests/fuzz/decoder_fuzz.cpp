// Fuzzes the whole extraction worker on the fake platform: the input is an entry stream
// (its first byte also chooses how the trailer's size relates to it), wrapped in a stub image
// and a trailer. Whatever the bytes, nothing may be created outside the extraction root, no
// path may exceed 259 characters, and everything created must be gone afterwards.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include <string>

#include "extraction_worker.h"
#include "fake_platform.h"
#include "invariant.h"
#include "stream_builder.h"

namespace {

constexpr char kRoot[] = "C:\\Temp\\KOV11426\\";

bool HasDotDotComponent(const std::string& path) {
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('\\', start);
    if (end == std::string::npos) end = path.size();
    if (path.compare(start, end - start, "..") == 0) return true;
    start = end + 1;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  fake::Reset();
  fake::world().random_draws = {12345, 23456};
  const std::string stream(reinterpret_cast<const char*>(data) + 1, size - 1);
  // Mode byte: 0 exact size, 1 size larger than the stream, 2 smaller, 3 with side files
  // (16 bytes each, behind the stream); bit 2 lets the platform copy long runs file to file.
  const uint8_t mode = data[0] % 4;
  fake::world().copies_between_files = (data[0] & 4) != 0;
  uint32_t archive_size = static_cast<uint32_t>(stream.size());
  if (mode == 1) archive_size += data[0];
  if (mode == 2 && archive_size > 0) archive_size -= (data[0] % archive_size) / 2;
  std::string file(64, 'M');
  file += stream;
  if (mode == 3) file += std::string(64, 'S');
  test::Slot slots[4] = {};
  for (int i = 0; i < 4 && mode == 3; ++i) {
    slots[i].offset = static_cast<uint32_t>(64 + stream.size() + 16 * i);
    slots[i].size = 16;
  }
  file += test::Trailer(64, archive_size, 1, slots);
  fake::PutFile(fake::world().own_path, file);

  ProgressDialogRecord record{};
  RunOutcome outcome = {false};
  ExtractArchive(&record, &outcome);

  for (const std::string& event : fake::world().events) {
    for (const char* verb : {"create ", "mkdir private ", "mkdir "}) {
      const std::string v(verb);
      if (event.compare(0, v.size(), v) != 0) continue;
      if (v == "mkdir " && event.compare(0, 14, "mkdir private ") == 0) continue;
      if (event.compare(v.size(), 7, "failed ") == 0) continue;  // nothing was made
      const std::string path = event.substr(v.size());
      Require(path.compare(0, sizeof kRoot - 1, kRoot) == 0, "created outside the root", path);
      Require(!HasDotDotComponent(path), "a '..' component", path);
      Require(path.size() <= 259, "a path longer than 259 characters", path);
    }
  }
  for (const std::string& p : fake::Paths()) {
    Require(p == "C:\\TEMP" || p == "C:\\DOWNLOADS" || p == fake::Upper(fake::world().own_path),
            "left behind", p);
  }
  Require(fake::world().open_files == 0, "a file left open", "");
  Require(fake::world().live_allocations == 0, "memory left allocated", "");
  return 0;
}
