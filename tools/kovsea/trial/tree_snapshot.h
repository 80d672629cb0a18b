// The tree Setup.exe found: read from Linux through the prefix's drive while Setup.exe is
// held at its creation, before its first instruction, and compared with the
// self-extractor's catalogue (what `kovsea list` shows) and its side files.
#pragma once

#include <stdint.h>

#include <filesystem>
#include <string>
#include <vector>

#include "codepage.h"
#include "trial_report.h"

namespace trial {

struct ExpectedEntry {
  std::string name;  // UTF-8, backslashes, as `kovsea list` shows it
  bool is_directory = false;
  uint64_t size = 0;
  std::string sha256;
};

struct ExpectedSideFile {
  std::string key;
  std::string name;  // Disk1\KOVadmin.dat
  bool carried = false;
  uint64_t size = 0;
  std::string sha256;
};

// What the self-extractor says it holds; `problem` is why it could not be read, if so.
struct ExpectedTree {
  bool known = false;
  std::string problem;
  std::vector<ExpectedEntry> entries;
  std::vector<ExpectedSideFile> side_files;
};

// Reads the catalogue and the side files of `sea` with the packer's own readers, its names
// in `codepage`.
ExpectedTree ReadExpectedTree(const std::filesystem::path& sea, const Codepage& codepage);

struct FoundEntry {
  std::string name;
  bool is_directory = false;
  uint64_t size = 0;
  std::string sha256;
};

// Every directory and file below `root`, sorted by name, each file's digest taken; false
// when `root` cannot be read.
bool ReadFoundTree(const std::filesystem::path& root, std::vector<FoundEntry>* found);
// Fills the run's tree and side-file rows from what was found against what was expected.
void CompareTree(const ExpectedTree& expected, const std::vector<FoundEntry>& found, TrialRun* run);

// Every path below `directory` (relative, backslashes), with its size, for telling what a
// run left there.
std::vector<LeftEntry> ListDirectory(const std::filesystem::path& directory);

}  // namespace trial
