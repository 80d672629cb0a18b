// `kovsea list` and `kovsea verify`: the stream read into the catalogue, nothing written.
#include <stdio.h>

#include <memory>

#include "commands.h"
#include "digest.h"
#include "encoding.h"
#include "json.h"
#include "reading.h"

namespace fs = std::filesystem;
namespace host = platform::host;

namespace {

const char* const kSlotKeys[kSideFileCount] = {"admin", "client", "net", "setup"};

// A digest of every catalogued file, fed as the decoder writes it.
class EntryDigests : public host::CatalogueObserver {
 public:
  void Data(size_t entry, const void* bytes, size_t count) override {
    while (digests_.size() <= entry) digests_.emplace_back(new Sha256);
    digests_[entry]->Update(bytes, count);
  }
  // The digest of catalogue entry `entry` (a file with no data has the empty digest).
  std::string Of(size_t entry) {
    while (digests_.size() <= entry) digests_.emplace_back(new Sha256);
    return digests_[entry]->HexDigest();
  }

 private:
  std::vector<std::unique_ptr<Sha256>> digests_;
};

std::string FileDigest(const Sea& sea) {
  return DigestRange(sea.file, 0, sea.location.file_length);
}

void PrintJson(Sea* sea, const std::vector<host::CatalogueEntry>& entries, EntryDigests* digests,
               const std::string& codepage) {
  const ArchiveTrailer& t = sea->trailer;
  printf("{\"signed\": %s, \"sha256\": \"%s\", \"stub_sha256\": \"%s\", \"archive_offset\": %u, "
         "\"archive_size\": %u, \"entry_count\": %u, \"entries\": [",
         sea->location.is_signed ? "true" : "false", FileDigest(*sea).c_str(),
         DigestRange(sea->file, 0, t.archive_offset).c_str(), t.archive_offset, t.archive_size, t.entry_count);
  for (size_t i = 0; i < entries.size(); ++i) {
    const auto& e = entries[i];
    const std::string name = JsonString(AnsiToDisplay(e.name, codepage));
    if (e.is_directory) {
      printf("%s\n  {\"type\": \"directory\", \"size\": null, \"name\": %s}", i == 0 ? "" : ",", name.c_str());
    } else {
      printf("%s\n  {\"type\": \"file\", \"size\": %llu, \"name\": %s, \"sha256\": \"%s\"}", i == 0 ? "" : ",",
             static_cast<unsigned long long>(e.size), name.c_str(), digests->Of(i).c_str());
    }
  }
  printf("], \"side_files\": {");
  for (int i = 0; i < kSideFileCount; ++i) {
    const SideFileSlot& slot = SideFileAt(t, i);
    printf("%s\"%s\": ", i == 0 ? "" : ", ", kSlotKeys[i]);
    if (slot.offset == 0) {
      printf("null");
    } else {
      printf("{\"name\": \"%s\", \"offset\": %u, \"size\": %u, \"sha256\": \"%s\"}", SideFileName(i), slot.offset,
             slot.size, DigestRange(sea->file, slot.offset, slot.size).c_str());
    }
  }
  printf("}}\n");
}

void PrintTable(const Sea& sea, const std::vector<host::CatalogueEntry>& entries, const std::string& codepage) {
  const ArchiveTrailer& t = sea.trailer;
  printf("archive offset %u, size %u bytes, %u entries, %s\n", t.archive_offset, t.archive_size,
         t.entry_count, DescribeSignature(sea.location).c_str());
  printf("sha256 %s\n", FileDigest(sea).c_str());
  for (const auto& e : entries) {
    if (e.is_directory) {
      printf("  dir  %12s  %s\n", "-", AnsiToDisplay(e.name, codepage).c_str());
    } else {
      printf("  file %12llu  %s\n", static_cast<unsigned long long>(e.size),
             AnsiToDisplay(e.name, codepage).c_str());
    }
  }
  printf("side files:\n");
  for (int i = 0; i < kSideFileCount; ++i) {
    const SideFileSlot& slot = SideFileAt(t, i);
    if (slot.offset == 0) {
      printf("  %-6s %-14s absent\n", kSlotKeys[i], SideFileName(i));
    } else {
      printf("  %-6s %-14s offset %u, %u bytes\n", kSlotKeys[i], SideFileName(i), slot.offset, slot.size);
    }
  }
}

}  // namespace

int ListCommand(const fs::path& path, bool json, const std::string& codepage) {
  Sea sea;
  if (!OpenUsableSea(path, &sea)) return 1;
  std::vector<host::CatalogueEntry> entries;
  EntryDigests digests;
  const Reading reading = CatalogueStream(&sea, &entries, json ? &digests : nullptr);
  if (json) {
    PrintJson(&sea, entries, &digests, codepage);
  } else {
    PrintTable(sea, entries, codepage);
  }
  const auto problems = StreamProblems(reading, codepage);
  for (const auto& p : problems) PrintError(path.string() + ": " + p);
  return problems.empty() ? 0 : 1;
}

namespace {

// Entries whose path at the user's site would be longer than Windows allows, each with the
// offset of its entry (entries follow each other: size, name and its zero, data).
std::vector<std::string> PathProblems(const Sea& sea, const std::vector<host::CatalogueEntry>& entries,
                                      const std::string& codepage, uint32_t temp_length) {
  std::vector<std::string> problems;
  uint64_t offset = sea.trailer.archive_offset;
  for (const auto& e : entries) {
    const uint64_t length = PathLengthAtSite(temp_length, e.name.size());
    if (length > kMaxPathLength) {
      problems.push_back("offset " + std::to_string(offset) + ": entry \"" + AnsiToDisplay(e.name, codepage) +
                         "\" would make a path of " + std::to_string(length) +
                         " characters at the user's site, more than 259 (with a temporary directory of " +
                         std::to_string(temp_length) + " characters)");
    }
    offset += EntryBytes(e.name.size(), e.is_directory, e.size);
  }
  return problems;
}

}  // namespace

int VerifyCommand(const fs::path& path, const std::string& codepage, uint32_t temp_length) {
  Sea sea;
  if (!OpenSea(path, &sea)) return 1;
  std::vector<std::string> problems = TrailerProblems(sea);
  if (problems.empty()) {
    std::vector<host::CatalogueEntry> entries;
    problems = StreamProblems(CatalogueStream(&sea, &entries), codepage);
    for (const auto& p : PathProblems(sea, entries, codepage, temp_length)) problems.push_back(p);
    if (entries.size() != sea.trailer.entry_count) {
      problems.push_back("offset " + std::to_string(sea.TrailerAt() + 16) + ": the trailer counts " +
                         std::to_string(sea.trailer.entry_count) + " entries, the stream holds " +
                         std::to_string(entries.size()));
    }
  }
  printf("%s: %s\n", path.string().c_str(), DescribeSignature(sea.location).c_str());
  for (const auto& p : problems) printf("%s: %s\n", path.string().c_str(), p.c_str());
  if (!problems.empty()) return 1;
  printf("%s: OK\n", path.string().c_str());
  return 0;
}
