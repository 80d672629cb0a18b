// `kovsea list` and `kovsea verify`: the stream read into the catalogue, nothing written.
#include <stdio.h>

#include "commands.h"
#include "encoding.h"
#include "reading.h"

namespace fs = std::filesystem;
namespace host = platform::host;

namespace {

const char* const kSlotKeys[kSideFileCount] = {"admin", "client", "net", "setup"};

std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char buf[8];
      snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

void PrintJson(const Sea& sea, const std::vector<host::CatalogueEntry>& entries, const std::string& codepage) {
  const ArchiveTrailer& t = sea.trailer;
  printf("{\"signed\": %s, \"archive_offset\": %u, \"archive_size\": %u, \"entry_count\": %u, "
         "\"entries\": [",
         sea.location.is_signed ? "true" : "false", t.archive_offset, t.archive_size, t.entry_count);
  for (size_t i = 0; i < entries.size(); ++i) {
    const auto& e = entries[i];
    const std::string size = e.is_directory ? "null" : std::to_string(e.size);
    printf("%s\n  {\"type\": \"%s\", \"size\": %s, \"name\": %s}", i == 0 ? "" : ",",
           e.is_directory ? "directory" : "file", size.c_str(),
           JsonString(AnsiToDisplay(e.name, codepage)).c_str());
  }
  printf("], \"side_files\": {");
  for (int i = 0; i < kSideFileCount; ++i) {
    const SideFileSlot& slot = SideFileAt(t, i);
    printf("%s\"%s\": ", i == 0 ? "" : ", ", kSlotKeys[i]);
    if (slot.offset == 0) {
      printf("null");
    } else {
      printf("{\"name\": \"%s\", \"offset\": %u, \"size\": %u}", SideFileName(i), slot.offset, slot.size);
    }
  }
  printf("}}\n");
}

void PrintTable(const Sea& sea, const std::vector<host::CatalogueEntry>& entries, const std::string& codepage) {
  const ArchiveTrailer& t = sea.trailer;
  printf("archive offset %u, size %u bytes, %u entries, %s\n", t.archive_offset, t.archive_size,
         t.entry_count, DescribeSignature(sea.location).c_str());
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
  const Reading reading = CatalogueStream(&sea, &entries);
  if (json) {
    PrintJson(sea, entries, codepage);
  } else {
    PrintTable(sea, entries, codepage);
  }
  const auto problems = StreamProblems(reading, codepage);
  for (const auto& p : problems) PrintError(path.string() + ": " + p);
  return problems.empty() ? 0 : 1;
}

int VerifyCommand(const fs::path& path, const std::string& codepage) {
  Sea sea;
  if (!OpenSea(path, &sea)) return 1;
  std::vector<std::string> problems = TrailerProblems(sea);
  if (problems.empty()) {
    std::vector<host::CatalogueEntry> entries;
    problems = StreamProblems(CatalogueStream(&sea, &entries), codepage);
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
