// What `kovsea pack` and `kovsea check` are asked to do: the tree, the side files, the code
// page, the stub and its resources (icon, version, texts in other languages), and the
// temporary directory the layout is checked for.
#pragma once

#include <stdint.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "codepage.h"
#include "install_layout.h"
#include "site_paths.h"

// The largest the stub may grow to (the build refuses a larger one): the layout of a tree is
// checked with it when no stub is at hand.
constexpr uint64_t kLargestStub = KOVSEA_STUB_SIZE_BUDGET;

struct PackOptions {
  std::filesystem::path stub;
  std::filesystem::path output;
  std::filesystem::path input_dir;
  std::filesystem::path side_files[kSideFileCount];  // in the trailer's order; empty = absent
  Codepage codepage;                                 // of the entry names
  std::filesystem::path icon;                        // replaces the program's icon when given
  std::map<std::string, std::string> version_info;   // a version resource when not empty
  uint32_t temp_length = kDefaultTempLength;
  std::vector<std::filesystem::path> texts;          // translators' .po files
  bool allow_untranslated = false;                   // English for what they leave untranslated
};
