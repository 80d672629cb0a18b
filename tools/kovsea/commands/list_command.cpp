// `kovsea list`: the stream read into the catalogue with the stub's decoder, nothing written.
#include <stdio.h>

#include "commands.h"
#include "deployment_facts.h"
#include "digest.h"
#include "json.h"
#include "languages.h"
#include "reading.h"
#include "side_files.h"
#include "signature.h"
#include "stub_image.h"
#include "verification.h"

namespace fs = std::filesystem;
namespace host = platform::host;

namespace {

std::string FileDigest(const Sea& sea) { return DigestRange(sea.file, 0, sea.location.file_length); }

std::string EntriesJson(const std::vector<host::CatalogueEntry>& entries, EntryDigests* digests,
                        const Codepage& codepage) {
  std::vector<std::string> items;
  for (size_t i = 0; i < entries.size(); ++i) {
    const auto& e = entries[i];
    const std::string name = JsonString(codepage.ToDisplay(e.name));
    if (e.is_directory) {
      items.push_back(JsonObject({{"type", JsonString("directory")}, {"size", "null"}, {"name", name}}));
    } else {
      items.push_back(JsonObject({{"type", JsonString("file")},
                                  {"size", JsonNumber(e.size)},
                                  {"name", name},
                                  {"sha256", JsonString(digests->Of(i))}}));
    }
  }
  return JsonArray(items);
}

std::string SideFilesJson(const Sea& sea) {
  std::vector<JsonField> slots;
  for (int i = 0; i < kSideFileCount; ++i) {
    const SideFileSlot& slot = SideFileAt(sea.trailer, i);
    slots.emplace_back(kSideFiles[i].key,
                       slot.offset == 0 ? "null"
                                        : JsonObject({{"name", JsonString(kSideFiles[i].file)},
                                                      {"offset", JsonNumber(slot.offset)},
                                                      {"size", JsonNumber(slot.size)},
                                                      {"sha256", JsonString(DigestRange(sea.file, slot.offset, slot.size))}}));
  }
  return JsonObject(slots);
}

// The signature and the content digest as verify reports them (without pins), taken in one
// read; their problems are verify's to report.
TrustReport TrustOf(const Sea& sea) {
  TrustReport report;
  CheckTrust(sea, TrustPins(), false, TrustUse::kVerify, ReadPkcs7, &report);
  return report;
}

// The languages the stub part shows its texts in.
std::vector<uint16_t> LanguagesOf(const Sea& sea) {
  std::string stub;
  return ReadStubPart(sea, &stub) ? StubLanguages(stub) : std::vector<uint16_t>();
}

void PrintTable(const Sea& sea, const std::vector<host::CatalogueEntry>& entries, const Codepage& codepage) {
  const ArchiveTrailer& t = sea.trailer;
  printf("archive offset %u, size %u bytes, %u entries, %s\n", t.archive_offset, t.archive_size,
         t.entry_count, DescribeSignature(sea.location).c_str());
  printf("sha256 %s\n", FileDigest(sea).c_str());
  printf("languages: %s\n", LanguagesText(LanguagesOf(sea)).c_str());
  for (const auto& e : entries) {
    if (e.is_directory) {
      printf("  dir  %12s  %s\n", "-", codepage.ToDisplay(e.name).c_str());
    } else {
      printf("  file %12llu  %s\n", static_cast<unsigned long long>(e.size), codepage.ToDisplay(e.name).c_str());
    }
  }
  printf("side files:\n");
  for (int i = 0; i < kSideFileCount; ++i) {
    const SideFileSlot& slot = SideFileAt(t, i);
    if (slot.offset == 0) {
      printf("  %-6s %-14s absent\n", kSideFiles[i].key, kSideFiles[i].file);
    } else {
      printf("  %-6s %-14s offset %u, %u bytes\n", kSideFiles[i].key, kSideFiles[i].file, slot.offset, slot.size);
    }
  }
}

}  // namespace

int ListCommand(const fs::path& path, bool json, const Codepage& codepage) {
  Sea sea;
  Problems problems;
  if (!OpenUsableSea(path, &sea, &problems)) {
    if (json) {
      fputs(JsonReport(false, {}, ProblemsJson(problems)).c_str(), stdout);
    } else {
      PrintErrors(problems);
    }
    return 1;
  }
  std::vector<host::CatalogueEntry> entries;
  EntryDigests digests;
  const Reading reading = CatalogueStream(&sea, codepage, &entries, json ? &digests : nullptr);
  problems = StreamProblems(sea, reading, codepage);
  if (json) {
    const ArchiveTrailer& t = sea.trailer;
    const TrustReport trust = TrustOf(sea);
    fputs(JsonReport(problems.empty(),
                     {{"signed", JsonBool(sea.location.is_signed)},
                      {"signature", SignatureJson(trust.signature)},
                      {"content_digest", ContentJson(trust.content)},
                      {"sha256", JsonString(FileDigest(sea))},
                      {"stub_sha256", JsonString(DigestRange(sea.file, 0, t.archive_offset))},
                      {"archive_offset", JsonNumber(t.archive_offset)},
                      {"archive_size", JsonNumber(t.archive_size)},
                      {"entry_count", JsonNumber(t.entry_count)},
                      {"entries", EntriesJson(entries, &digests, codepage)},
                      {"side_files", SideFilesJson(sea)},
                      {"languages", LanguagesJson(LanguagesOf(sea))},
                      // A damaged stream installs nothing: no facts of what it would need.
                      {"deployment", problems.empty() ? DeploymentJson(FactsOf(entries, t)) : "null"}},
                     ProblemsJson(problems))
              .c_str(),
          stdout);
  } else {
    PrintTable(sea, entries, codepage);
    PrintErrors(problems);
  }
  return problems.empty() ? 0 : 1;
}
