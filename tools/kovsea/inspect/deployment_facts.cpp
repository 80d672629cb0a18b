#include "deployment_facts.h"

#include <map>

#include "install_layout.h"
#include "json.h"
#include "side_files.h"
#include "text.h"

namespace host = platform::host;

namespace {

std::string Key(const std::string& name) {
  std::string key = name;
  UpperAsciiInPlace(&key[0]);
  return key;
}

}  // namespace

DeploymentFacts FactsOf(const std::vector<host::CatalogueEntry>& entries, const ArchiveTrailer& trailer) {
  DeploymentFacts facts;
  const std::string installer = Key(InDiskDirectory(kSetupProgram));
  // Each file's size as it stands; a file written again is truncated first.
  std::map<std::string, uint64_t> sizes;
  uint64_t held = 0;
  auto write = [&](const std::string& name, uint64_t size) {
    uint64_t& current = sizes[Key(name)];
    held = held - current + size;
    current = size;
    if (held > facts.temp_bytes) facts.temp_bytes = held;
  };
  for (const host::CatalogueEntry& e : entries) {
    if (e.is_directory) continue;
    write(e.name, e.size);
    if (Key(e.name) == installer) facts.installer_present = true;
  }
  for (int i = 0; i < kSideFileCount; ++i) {
    const SideFileSlot& slot = SideFileAt(trailer, i);
    if (slot.offset != 0) write(InDiskDirectory(kSideFiles[i].file), slot.size);
  }
  return facts;
}

std::string DeploymentJson(const DeploymentFacts& facts) {
  // Run directly, the stub shows its dialog, reads no command line, always exits with 1 and
  // restarts Windows when the installer asks for it.
  const std::string run_directly = JsonObject({{"shows_dialog", JsonBool(true)},
                                               {"reads_switches", JsonBool(false)},
                                               {"exit_code", JsonNumber(1)},
                                               {"may_restart", JsonBool(true)}});
  return JsonObject({{"run_directly", run_directly},
                     {"installer", JsonString(InDiskDirectory(kSetupProgram))},
                     {"installer_present", JsonBool(facts.installer_present)},
                     {"temp_bytes", JsonNumber(facts.temp_bytes)},
                     {"root_pattern", JsonString(kRootPattern)}});
}
