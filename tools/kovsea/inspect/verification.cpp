#include "verification.h"

#include <map>

#include "reading.h"
#include "site_paths.h"
#include "text.h"
#include "windows_names.h"

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

// Entries that Windows takes for an earlier one in the same directory (by case, or by the
// short name it gives a long one): one replaces the other at the user's site.
Problems NameClashProblems(const Sea& sea, const std::vector<host::CatalogueEntry>& entries, const Codepage& codepage) {
  std::map<std::string, std::vector<size_t>> by_directory;
  std::vector<uint64_t> offsets;
  uint64_t offset = sea.trailer.archive_offset;
  for (size_t i = 0; i < entries.size(); ++i) {
    const size_t cut = entries[i].name.rfind('\\');
    by_directory[cut == std::string::npos ? std::string() : entries[i].name.substr(0, cut)].push_back(i);
    offsets.push_back(offset);
    offset += EntryBytes(entries[i].name.size(), entries[i].is_directory, entries[i].size);
  }
  Problems problems;
  for (const auto& directory : by_directory) {
    std::vector<std::string> names;
    for (size_t i : directory.second) {
      const std::string& name = entries[i].name;
      const size_t cut = name.rfind('\\');
      names.push_back(codepage.ToDisplay(cut == std::string::npos ? name : name.substr(cut + 1)));
    }
    for (const NameClash& clash : FindNameClashes(names)) {
      const host::CatalogueEntry& entry = entries[directory.second[clash.index]];
      const std::string other = "\"" + codepage.ToDisplay(entries[directory.second[clash.earlier]].name) + "\"";
      problems.push_back(sea.At(offsets[directory.second[clash.index]],
                                "entry \"" + codepage.ToDisplay(entry.name) + "\" " +
                                    (clash.short_name ? "may be the short name Windows gives " + other + ", and would replace it"
                                                      : "differs from " + other + " only in case, and would replace it")));
    }
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
  for (const Problem& p : NameClashProblems(*sea, entries, codepage)) problems.push_back(p);
  if (entries.size() != sea->trailer.entry_count) {
    problems.push_back(sea->At(sea->TrailerAt() + kEntryCountAt,
                               "the trailer counts " + std::to_string(sea->trailer.entry_count) +
                                   " entries, the stream holds " + std::to_string(entries.size())));
  }
  return problems;
}

Problems CheckTrust(const Sea& sea, const TrustPins& pins, bool require_digest, TrustUse use, Pkcs7Reader reader,
                    TrustReport* report) {
  report->content = FindContentDigest(sea);
  Problems problems = CheckSignature(sea, pins, &report->signature, &report->content, reader);
  TakeContentDigest(sea, &report->content);
  const SignatureReport& signature = report->signature;
  if (signature.present && !signature.readable_here && use == TrustUse::kVerify && !pins.AsksForSigner()) {
    problems.push_back(Problem{sea.path, std::nullopt,
                               "the file is signed, and " + signature.unreadable_why +
                                   ": it is not OK until a kovsea that checks signatures says so",
                               "check it with the Linux kovsea verify, or with Windows' own signature check"});
  }
  for (const Problem& p : ContentProblems(sea, report->content, require_digest)) problems.push_back(p);
  return problems;
}
