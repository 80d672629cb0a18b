// The plan of a self-extractor: a directory tree walked and checked before a byte is
// written, with every entry, every side file and where each lands in the file. `kovsea
// check` prints the plan's problems; `kovsea pack` writes the plan when it has none. A new
// check of the tree goes here, as one more Problem in the plan.
#pragma once

#include <stdint.h>

#include <filesystem>
#include <string>
#include <vector>

#include "host_files.h"
#include "install_layout.h"
#include "pack_options.h"
#include "problem.h"

struct PlannedEntry {
  std::filesystem::path host_path;
  std::string name;  // in the code page, backslashes
  bool is_directory;
  uint64_t size;
  platform::host::FileIdentity identity;  // of a file, as the plan saw it
};

// Everything the file will hold, and where: worked out before a byte is written.
struct PackPlan {
  std::vector<PlannedEntry> entries;
  uint64_t stub_size = 0;
  uint64_t archive_size = 0;
  uint64_t side_sizes[kSideFileCount] = {};
  uint32_t side_offsets[kSideFileCount] = {};
  uint64_t padding = 0;  // zeros in front of the content digest, so that the file ends aligned for a signature
  uint64_t total = 0;
  Problems problems;
};

// Walks and checks the tree and the side files for a stub of `stub_size` bytes; every
// problem is collected, none stops the walk. Entries come in the stub's order: names sorted
// byte-wise, each directory's entry before its contents.
PackPlan PlanPack(const PackOptions& options, uint64_t stub_size);
