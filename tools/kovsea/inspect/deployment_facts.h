// What an admin who deploys a self-extractor needs to know of it, beyond its entries: how it
// behaves when run directly, the installer it starts, and the room it takes under the user's
// temporary directory (list --json gives them as "deployment").
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "archive_format.h"
#include "host_files.h"

// The name pattern of the extraction root under the temporary directory.
constexpr char kRootPattern[] = "%TEMP%\\KOV[0-9a-f]{1,5}\\";

struct DeploymentFacts {
  bool installer_present = false;  // Disk1\Setup.exe is among the file entries
  // The most file data the run holds under the temporary directory at one time: the entries
  // and the side files, less what a later one replaces (names compared as Windows does). The
  // entries are stored, so this is exact; the file system's own allocation comes on top.
  uint64_t temp_bytes = 0;
};

DeploymentFacts FactsOf(const std::vector<platform::host::CatalogueEntry>& entries, const ArchiveTrailer& trailer);
// The facts as the "deployment" object of list --json.
std::string DeploymentJson(const DeploymentFacts& facts);
