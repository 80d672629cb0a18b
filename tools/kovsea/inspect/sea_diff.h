// What changed between two self-extractors (two releases of an installer): the entries
// added, removed and changed (by type, size and SHA-256), the side files, the stub part
// (the same bytes or not, less what a signer rewrites; the same program or not; the version
// resource's strings; the icon) and the signatures. The payload is the entries and the side
// files: two files hold the same payload when none of those differ.
#pragma once

#include <stdint.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "codepage.h"
#include "install_layout.h"
#include "problem.h"
#include "signature.h"

struct DiffEntry {
  std::string name;  // UTF-8, backslashes
  bool is_directory = false;
  uint64_t size = 0;
  std::string sha256;  // files only
};

struct EntryChange {
  DiffEntry old_entry;
  DiffEntry new_entry;
};

struct VersionChange {
  std::optional<std::string> old_value;
  std::optional<std::string> new_value;
};

struct StubDiff {
  bool same = false;          // the stub parts are the same bytes, less what a signer rewrites
  bool program_same = false;  // every section but the resources holds the same bytes
  std::map<std::string, VersionChange> version;  // the strings that differ
  bool icon_same = false;     // the program's icon group holds the same images
  std::vector<uint16_t> old_languages;  // the languages its texts are given in (StubLanguages)
  std::vector<uint16_t> new_languages;
};

struct SeaDiff {
  std::vector<DiffEntry> added;
  std::vector<DiffEntry> removed;
  std::vector<EntryChange> changed;
  // Each slot whose side file differs (absent on one side, or other bytes).
  std::map<int, std::pair<std::optional<DiffEntry>, std::optional<DiffEntry>>> side_files;
  StubDiff stub;
  SignatureReport old_signature;
  SignatureReport new_signature;

  bool SamePayload() const { return added.empty() && removed.empty() && changed.empty() && side_files.empty(); }
  // Nothing the user runs differs: the payload and the stub part (less what a signer writes).
  bool SameRun() const { return SamePayload() && stub.same; }
};

// What differs between two stub parts (each with the signer's header fields zeroed).
StubDiff DiffStubs(const std::string& old_stub, const std::string& new_stub);
// What differs in the stub, in words ("the program", "the icon", "the version strings
// (FileVersion "1.0" -> "1.1")", "the texts' languages (...)", "other resources or headers");
// empty when it is the same.
std::vector<std::string> StubDifferences(const StubDiff& stub);
// Everything the user runs that differs, in words: "entries", "side files", and the stub's
// differences; empty when nothing does.
std::vector<std::string> RunDifferences(const SeaDiff& diff);

// Reads both files; false with `problems` when either cannot be read whole.
bool DiffSeas(const std::filesystem::path& old_path, const std::filesystem::path& new_path, const Codepage& codepage,
              SeaDiff* diff, Problems* problems);
