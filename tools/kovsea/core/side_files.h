// The side-file slots as the packer names them: from the install layout, each slot's file
// name in the disk directory, the option that gives it to `pack` and `check`, and its key
// in JSON output.
#pragma once

#include <string>

#include "install_layout.h"

struct SideFileInfo {
  const char* file;    // in the disk directory, e.g. "KOVadmin.dat"
  const char* option;  // e.g. "--admin"
  const char* key;     // e.g. "admin"
};

#define KOVSEA_SIDE_FILE_INFO(field, file, option, key) {file, option, key},
constexpr SideFileInfo kSideFiles[kSideFileCount] = {KOVSEA_SIDE_FILES(KOVSEA_SIDE_FILE_INFO)};
#undef KOVSEA_SIDE_FILE_INFO

// `name` in the disk directory as the stub spells it: "Disk1\NAME".
inline std::string InDiskDirectory(const std::string& name) { return kDiskDirectoryPath + name; }
