// `kovsea pack`: writes a stub, the entry stream built from a directory tree, the side files
// and the trailer. The same inputs always give the same bytes.
#pragma once

#include <filesystem>
#include <string>

struct PackOptions {
  std::filesystem::path stub;
  std::filesystem::path output;
  std::filesystem::path input_dir;
  std::filesystem::path side_files[4];  // admin, client, net, setup; empty = absent
  std::string codepage = "CP1252";      // iconv name of the target ANSI code page
};

// Returns 0, or 1 with `error` saying what was refused; nothing is left at the output path
// on failure (the file is written beside it under a temporary name and moved at the end).
int Pack(const PackOptions& options, std::string* error);
