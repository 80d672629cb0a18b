// `kovsea pack` and `kovsea check`: a directory tree planned and checked before a byte is
// written, then written behind the stub with the side files and the trailer. The same inputs
// always give the same bytes.
#pragma once

#include <stdint.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "archive_format.h"

// The temporary directory the pre-flight check assumes, in characters: "C:\Users\", a user
// name of 20 characters (the longest Windows allows) and "\AppData\Local\Temp\".
constexpr uint32_t kDefaultTempLength = 9 + 20 + 20;
// The largest the stub may grow to: the layout of a tree is checked with it when no stub is
// at hand.
constexpr uint64_t kLargestStub = 36864;

// The length of the full path an entry named `name_length` characters gets at the user's
// site: the temporary directory, the stub's extraction root and the name.
inline uint64_t PathLengthAtSite(uint32_t temp_length, size_t name_length) {
  return uint64_t{temp_length} + kRootAddedCharacters + name_length;
}

struct PackOptions {
  std::filesystem::path stub;
  std::filesystem::path output;
  std::filesystem::path input_dir;
  std::filesystem::path side_files[4];  // admin, client, net, setup; empty = absent
  std::string codepage = "CP1252";      // iconv name of the target ANSI code page
  std::filesystem::path icon;           // replaces the program's icon when given
  std::map<std::string, std::string> version_info;  // a version resource when not empty
  uint32_t temp_length = kDefaultTempLength;
};

// Something that would make the self-extractor fail at the user's site, or that the format
// cannot hold: where it is, what is wrong, and what to do about it.
struct PackProblem {
  std::string where;
  std::string problem;
  std::string fix;
};

struct PlannedEntry {
  std::filesystem::path host_path;
  std::string name;  // ANSI, backslashes
  bool is_directory;
  uint64_t size;
};

// Everything the file will hold, and where: worked out before a byte is written.
struct PackPlan {
  std::vector<PlannedEntry> entries;
  uint64_t stub_size = 0;
  uint64_t archive_size = 0;
  uint64_t side_sizes[4] = {0, 0, 0, 0};
  uint32_t side_offsets[4] = {0, 0, 0, 0};
  uint64_t padding = 0;  // zeros in front of the trailer, so that the file ends 8-aligned
  uint64_t total = 0;
  std::vector<PackProblem> problems;
};

// Walks and checks the tree and the side files for a stub of `stub_size` bytes; every
// problem is collected, none stops the walk.
PackPlan PlanPack(const PackOptions& options, uint64_t stub_size);

// The stub's bytes as they go into the file: read from `options.stub`, with the icon and
// version information of the options. False with `error` when the stub, the icon or a
// version key is refused.
bool PrepareStub(const PackOptions& options, std::string* stub, std::string* error);

// Returns 0, or 1 with `errors` saying what was refused; nothing is left at the output path
// on failure (the file is written beside it under a temporary name and moved at the end).
int Pack(const PackOptions& options, std::vector<std::string>* errors);
