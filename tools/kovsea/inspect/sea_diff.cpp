#include "sea_diff.h"

#include <algorithm>

#include "authenticode.h"
#include "digest.h"
#include "languages.h"
#include "pe_image.h"
#include "reading.h"
#include "side_files.h"
#include "stub_image.h"
#include "resource_tree.h"
#include "version_resource.h"

namespace fs = std::filesystem;
namespace host = platform::host;

namespace {

struct Contents {
  std::vector<DiffEntry> entries;
  std::optional<DiffEntry> side_files[kSideFileCount];
  std::string stub;  // the stub part, the signer's header fields zeroed
  SignatureReport signature;
};

bool ReadContents(const fs::path& path, const Codepage& codepage, Contents* contents, Problems* problems) {
  Sea sea;
  if (!OpenUsableSea(path, &sea, problems)) return false;
  std::vector<host::CatalogueEntry> entries;
  EntryDigests digests;
  *problems = StreamProblems(sea, CatalogueStream(&sea, codepage, &entries, &digests), codepage);
  if (!problems->empty()) return false;
  for (size_t i = 0; i < entries.size(); ++i) {
    const auto& e = entries[i];
    contents->entries.push_back(
        DiffEntry{codepage.ToDisplay(e.name), e.is_directory, e.is_directory ? 0 : e.size,
                  e.is_directory ? "" : digests.Of(i)});
  }
  for (int i = 0; i < kSideFileCount; ++i) {
    const SideFileSlot& slot = SideFileAt(sea.trailer, i);
    if (slot.offset != 0) {
      contents->side_files[i] = DiffEntry{kSideFiles[i].file, false, slot.size, DigestRange(sea.file, slot.offset, slot.size)};
    }
  }
  if (!ReadStubPart(sea, &contents->stub)) {
    problems->push_back(sea.At(0, "cannot read the stub part"));
    return false;
  }
  CheckSignature(sea, TrustPins(), &contents->signature);
  return true;
}

bool SameEntry(const DiffEntry& a, const DiffEntry& b) {
  return a.is_directory == b.is_directory && a.size == b.size && a.sha256 == b.sha256;
}

void DiffEntries(const Contents& old_file, const Contents& new_file, SeaDiff* diff) {
  std::map<std::string, const DiffEntry*> old_names;
  for (const DiffEntry& e : old_file.entries) old_names[e.name] = &e;
  for (const DiffEntry& e : new_file.entries) {
    const auto found = old_names.find(e.name);
    if (found == old_names.end()) {
      diff->added.push_back(e);
      continue;
    }
    if (!SameEntry(*found->second, e)) diff->changed.push_back(EntryChange{*found->second, e});
    old_names.erase(found);
  }
  for (const DiffEntry& e : old_file.entries) {
    if (old_names.count(e.name) != 0) diff->removed.push_back(e);
  }
}

// Every section but the one holding the resources, by name and bytes.
std::map<std::string, std::string> ProgramSections(const std::string& stub) {
  std::map<std::string, std::string> sections;
  pe::Image image;
  Problem ignored;
  if (!pe::ParseImage(stub, &image, &ignored)) return sections;
  const uint32_t resources = image.DirectoryAddress(stub, kResourceDirectory);
  for (const pe::Section& s : image.sections) {
    if (resources >= s.virtual_address && resources < s.virtual_address + std::max(s.virtual_size, s.raw_size)) {
      continue;
    }
    std::string name = stub.substr(s.header_at, 8);
    name.resize(std::min(name.size(), name.find('\0')));
    sections[name] = stub.substr(s.raw_at, s.raw_size);
  }
  return sections;
}

// The program's icon: each image of its group with the group's description of it, in order
// (the icons' numbers left out, which a rebuilt tree may change).
std::string IconOf(const pe::ResourceTree& tree) {
  const auto icons = tree.find(pe::ResourceId::Number(pe::kTypeIcon));
  const auto groups = tree.find(pe::ResourceId::Number(pe::kTypeGroupIcon));
  if (groups == tree.end()) return "";
  const auto group = groups->second.find(pe::ResourceId::Number(kProgramIconGroup));
  if (group == groups->second.end() || group->second.empty()) return "";
  const std::string& dir = group->second.begin()->second;
  std::string out;
  constexpr size_t kEntry = 14;  // GRPICONDIRENTRY: 12 bytes describing the image, its number
  for (size_t at = 6; at + kEntry <= dir.size(); at += kEntry) {
    out += dir.substr(at, kEntry - 2);
    const uint16_t number = static_cast<uint16_t>(static_cast<uint8_t>(dir[at + 12]) | static_cast<uint8_t>(dir[at + 13]) << 8);
    if (icons == tree.end()) continue;
    const auto icon = icons->second.find(pe::ResourceId::Number(number));
    if (icon != icons->second.end() && !icon->second.empty()) out += icon->second.begin()->second;
  }
  return out;
}

std::map<std::string, std::string> VersionOf(const pe::ResourceTree& tree) {
  std::map<std::string, std::string> strings;
  const auto versions = tree.find(pe::ResourceId::Number(pe::kTypeVersion));
  if (versions == tree.end() || versions->second.empty() || versions->second.begin()->second.empty()) return strings;
  pe::ReadVersionStrings(versions->second.begin()->second.begin()->second, &strings);
  return strings;
}

std::string Shown(const std::optional<std::string>& value) { return value ? "\"" + *value + "\"" : "(none)"; }

}  // namespace

StubDiff DiffStubs(const std::string& old_stub, const std::string& new_stub) {
  StubDiff diff;
  diff.same = old_stub == new_stub;
  diff.program_same = ProgramSections(old_stub) == ProgramSections(new_stub);
  pe::ResourceTree old_tree, new_tree;
  Problem ignored;
  pe::ReadResources(old_stub, &old_tree, &ignored);
  pe::ReadResources(new_stub, &new_tree, &ignored);
  diff.icon_same = IconOf(old_tree) == IconOf(new_tree);
  diff.old_languages = StubLanguages(old_stub);
  diff.new_languages = StubLanguages(new_stub);
  const auto old_version = VersionOf(old_tree);
  const auto new_version = VersionOf(new_tree);
  for (const auto& [key, value] : old_version) {
    const auto there = new_version.find(key);
    if (there == new_version.end()) diff.version[key] = VersionChange{value, std::nullopt};
    else if (there->second != value) diff.version[key] = VersionChange{value, there->second};
  }
  for (const auto& [key, value] : new_version) {
    if (old_version.count(key) == 0) diff.version[key] = VersionChange{std::nullopt, value};
  }
  return diff;
}

std::vector<std::string> StubDifferences(const StubDiff& stub) {
  if (stub.same) return {};
  std::vector<std::string> what;
  if (!stub.program_same) what.push_back("the program");
  if (!stub.version.empty()) {
    std::string changes;
    for (const auto& [key, change] : stub.version) {
      changes += (changes.empty() ? "" : "; ") + key + " " + Shown(change.old_value) + " -> " + Shown(change.new_value);
    }
    what.push_back("the version strings (" + changes + ")");
  }
  if (!stub.icon_same) what.push_back("the icon");
  if (stub.old_languages != stub.new_languages) {
    what.push_back("the texts' languages (" + LanguagesText(stub.old_languages) + " -> " +
                   LanguagesText(stub.new_languages) + ")");
  }
  if (what.empty()) what.push_back("other resources or headers");
  return what;
}

std::vector<std::string> RunDifferences(const SeaDiff& diff) {
  std::vector<std::string> what;
  if (!diff.added.empty() || !diff.removed.empty() || !diff.changed.empty()) what.push_back("entries");
  if (!diff.side_files.empty()) what.push_back("side files");
  for (const std::string& s : StubDifferences(diff.stub)) what.push_back("the stub's " + s.substr(s.find(' ') + 1));
  return what;
}

bool DiffSeas(const fs::path& old_path, const fs::path& new_path, const Codepage& codepage, SeaDiff* diff,
              Problems* problems) {
  Contents old_file, new_file;
  Problems new_problems;
  const bool old_read = ReadContents(old_path, codepage, &old_file, problems);
  const bool new_read = ReadContents(new_path, codepage, &new_file, &new_problems);
  problems->insert(problems->end(), new_problems.begin(), new_problems.end());
  if (!old_read || !new_read) return false;
  DiffEntries(old_file, new_file, diff);
  for (int i = 0; i < kSideFileCount; ++i) {
    const auto& a = old_file.side_files[i];
    const auto& b = new_file.side_files[i];
    if (a.has_value() != b.has_value() || (a && !SameEntry(*a, *b))) diff->side_files[i] = {a, b};
  }
  diff->stub = DiffStubs(old_file.stub, new_file.stub);
  diff->old_signature = old_file.signature;
  diff->new_signature = new_file.signature;
  return true;
}
