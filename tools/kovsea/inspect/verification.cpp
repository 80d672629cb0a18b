#include "verification.h"

#include "site_paths.h"
#include "reading.h"
#include "text.h"

namespace host = platform::host;

namespace {

// Where the trailer's entry count stands in it.
constexpr uint64_t kEntryCountAt = 16;

// Entries whose path at the user's site would be longer than Windows allows, each with the
// offset of its entry (entries follow each other: size, name and its zero, data).
Problems PathProblems(const Sea& sea, const std::vector<host::CatalogueEntry>& entries, const Codepage& codepage,
                      uint32_t temp_length) {
  Problems problems;
  uint64_t offset = sea.trailer.archive_offset;
  for (const auto& e : entries) {
    const uint64_t length = PathLengthAtSite(temp_length, e.name.size());
    if (length > kMaxPathLength) {
      problems.push_back(sea.At(offset, "entry \"" + codepage.ToDisplay(e.name) + "\" would make a path of " +
                                            std::to_string(length) +
                                            " characters at the user's site, more than 259 (with a temporary "
                                            "directory of " + std::to_string(temp_length) + " characters)"));
    }
    offset += EntryBytes(e.name.size(), e.is_directory, e.size);
  }
  return problems;
}

}  // namespace

Problems VerifySea(Sea* sea, const Codepage& codepage, uint32_t temp_length) {
  Problems problems = TrailerProblems(*sea);
  if (!problems.empty()) return problems;
  std::vector<host::CatalogueEntry> entries;
  problems = StreamProblems(*sea, CatalogueStream(sea, codepage, &entries), codepage);
  for (const Problem& p : PathProblems(*sea, entries, codepage, temp_length)) problems.push_back(p);
  if (entries.size() != sea->trailer.entry_count) {
    problems.push_back(sea->At(sea->TrailerAt() + kEntryCountAt,
                               "the trailer counts " + std::to_string(sea->trailer.entry_count) +
                                   " entries, the stream holds " + std::to_string(entries.size())));
  }
  return problems;
}
