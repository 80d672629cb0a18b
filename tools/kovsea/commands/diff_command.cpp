// `kovsea diff`: what changed between two self-extractors, entry by entry, and in their side
// files, stubs and signatures. Exit code 0 when nothing the user runs differs: the payload
// and the stub (its program, resources and texts) are the same.
#include <stdio.h>

#include "commands.h"
#include "json.h"
#include "languages.h"
#include "sea_diff.h"
#include "side_files.h"

namespace fs = std::filesystem;

namespace {

std::string Describe(const DiffEntry& e) {
  return e.is_directory ? "dir " : "file " + std::to_string(e.size) + " bytes, sha256 " + e.sha256;
}

std::string EntryJson(const DiffEntry& e) {
  return JsonObject({{"type", JsonString(e.is_directory ? "directory" : "file")},
                     {"size", e.is_directory ? "null" : JsonNumber(e.size)},
                     {"name", JsonString(e.name)},
                     {"sha256", e.is_directory ? "null" : JsonString(e.sha256)}});
}

std::string SideJson(const std::optional<DiffEntry>& e) {
  return e ? JsonObject({{"size", JsonNumber(e->size)}, {"sha256", JsonString(e->sha256)}}) : "null";
}

std::string Optional(const std::optional<std::string>& s) { return s ? JsonString(*s) : "null"; }

std::vector<JsonField> DiffFields(const SeaDiff& d) {
  std::vector<std::string> added, removed, changed;
  for (const DiffEntry& e : d.added) added.push_back(EntryJson(e));
  for (const DiffEntry& e : d.removed) removed.push_back(EntryJson(e));
  for (const EntryChange& c : d.changed) {
    changed.push_back(JsonObject({{"name", JsonString(c.new_entry.name)},
                                  {"old", EntryJson(c.old_entry)},
                                  {"new", EntryJson(c.new_entry)}}));
  }
  std::vector<JsonField> sides;
  for (int i = 0; i < kSideFileCount; ++i) {
    const auto found = d.side_files.find(i);
    sides.emplace_back(kSideFiles[i].key, found == d.side_files.end()
                                              ? "null"
                                              : JsonObject({{"old", SideJson(found->second.first)},
                                                            {"new", SideJson(found->second.second)}}));
  }
  std::vector<JsonField> version;
  for (const auto& [key, change] : d.stub.version) {
    version.emplace_back(key.c_str(), JsonObject({{"old", Optional(change.old_value)}, {"new", Optional(change.new_value)}}));
  }
  return {{"entries", JsonObject({{"added", JsonArray(added)},
                                  {"removed", JsonArray(removed)},
                                  {"changed", JsonArray(changed)}})},
          {"side_files", JsonObject(sides)},
          {"stub", JsonObject({{"same", JsonBool(d.stub.same)},
                               {"program_same", JsonBool(d.stub.program_same)},
                               {"version", JsonObject(version)},
                               {"icon_same", JsonBool(d.stub.icon_same)},
                               {"languages", JsonObject({{"old", LanguagesJson(d.stub.old_languages)},
                                                         {"new", LanguagesJson(d.stub.new_languages)}})}})},
          {"signature", JsonObject({{"old", SignatureJson(d.old_signature)}, {"new", SignatureJson(d.new_signature)}})}};
}

std::string Shown(const std::optional<std::string>& value) { return value ? "\"" + *value + "\"" : "(none)"; }

std::string SignedBy(const SignatureReport& r) {
  if (!r.present) return "not signed";
  if (!r.read) return "signed, the signature unreadable here";
  std::string text = "signed by " + SignerLine(r.signer);
  if (r.countersignature) text += " at " + r.countersignature->time;
  if (!r.Matches()) text += " (the signature does not match the file)";
  return text;
}

void PrintDiff(const fs::path& old_path, const fs::path& new_path, const SeaDiff& d) {
  printf("--- %s\n+++ %s\n", old_path.string().c_str(), new_path.string().c_str());
  for (const DiffEntry& e : d.removed) printf("- %s  %s\n", e.name.c_str(), Describe(e).c_str());
  for (const DiffEntry& e : d.added) printf("+ %s  %s\n", e.name.c_str(), Describe(e).c_str());
  for (const EntryChange& c : d.changed) {
    printf("~ %s  %s -> %s\n", c.new_entry.name.c_str(), Describe(c.old_entry).c_str(), Describe(c.new_entry).c_str());
  }
  for (const auto& [slot, sides] : d.side_files) {
    printf("~ side file %s  %s -> %s\n", kSideFiles[slot].file, sides.first ? Describe(*sides.first).c_str() : "absent",
           sides.second ? Describe(*sides.second).c_str() : "absent");
  }
  std::string stub = d.stub.same ? "the same" : d.stub.program_same ? "the same program, other resources" : "another program";
  for (const auto& [key, change] : d.stub.version) {
    stub += "; " + key + " " + Shown(change.old_value) + " -> " + Shown(change.new_value);
  }
  if (!d.stub.same) stub += d.stub.icon_same ? "; the same icon" : "; another icon";
  if (d.stub.old_languages != d.stub.new_languages) {
    stub += "; texts in " + LanguagesText(d.stub.old_languages) + " -> " + LanguagesText(d.stub.new_languages);
  }
  printf("stub: %s\n", stub.c_str());
  printf("signature: %s -> %s\n", SignedBy(d.old_signature).c_str(), SignedBy(d.new_signature).c_str());
  printf("payload: %s\n", d.SamePayload() ? "the same" : "differs");
  std::string differs;
  for (const std::string& what : RunDifferences(d)) differs += (differs.empty() ? "" : ", ") + what;
  printf("what runs: %s\n", differs.empty() ? "the same" : ("differs: " + differs).c_str());
}

}  // namespace

int DiffCommand(const fs::path& old_path, const fs::path& new_path, bool json, const Codepage& codepage) {
  SeaDiff diff;
  Problems problems;
  const bool read = DiffSeas(old_path, new_path, codepage, &diff, &problems);
  const bool same = read && diff.SameRun();
  if (json) {
    std::vector<std::string> differs;
    for (const std::string& what : RunDifferences(diff)) differs.push_back(JsonString(what));
    std::vector<JsonField> fields = {{"old", JsonString(old_path.string())},
                                     {"new", JsonString(new_path.string())},
                                     {"same_payload", read ? JsonBool(diff.SamePayload()) : "null"},
                                     {"differs", read ? JsonArray(differs) : "null"}};
    if (read) {
      for (const JsonField& f : DiffFields(diff)) fields.push_back(f);
    }
    fputs(JsonReport(same, fields, ProblemsJson(problems)).c_str(), stdout);
  } else if (!read) {
    PrintErrors(problems);
  } else {
    PrintDiff(old_path, new_path, diff);
  }
  return same ? 0 : 1;
}
