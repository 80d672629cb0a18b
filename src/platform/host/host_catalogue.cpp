// The catalogue target: nothing touches the disk; directories and files are recorded with the
// bytes written to each, and a file whose directory was not recorded first cannot be created.
#include <string>
#include <vector>

#include "host_target.h"
#include "text.h"

namespace platform {
namespace host {

namespace {

// A catalogued name as Windows compares names: every letter in upper case (ASCII only for a
// name the code page cannot spell, which the catalogue refuses anyway).
std::string CatalogueKey(const std::string& name) {
  std::string host_name;
  if (ConvertEncoding(g_target.codepage.c_str(), "UTF-8", name, &host_name)) return WindowsUpperCase(host_name);
  std::string key = name;
  UpperAsciiInPlace(&key[0]);
  return key;
}

const CatalogueEntry* CataloguedByKey(const std::string& key) {
  const auto found = g_target.by_key.find(key);
  return found == g_target.by_key.end() ? nullptr : &g_target.entries[found->second];
}

const CatalogueEntry* Catalogued(const std::string& name) { return CataloguedByKey(CatalogueKey(name)); }

// Records an entry under its key, findable by its name from then on.
size_t Record(const char* path, const std::string& key, bool is_directory) {
  g_target.entries.push_back(CatalogueEntry{path, is_directory, 0});
  const size_t index = g_target.entries.size() - 1;
  g_target.by_key[key] = index;
  return index;
}

// A name may be recorded when it converts and its directory was recorded before it.
bool CatalogueAccepts(const char* path) {
  std::vector<std::string> components;
  if (!HostComponents(path, &components)) return false;
  const std::string name(path);
  const size_t cut = name.rfind('\\');
  if (cut != std::string::npos) {
    const CatalogueEntry* parent = Catalogued(name.substr(0, cut));
    if (parent == nullptr || !parent->is_directory) return Refuse(Refusal::kNoParent);
  }
  return true;
}

}  // namespace

bool CatalogueDirectory(const char* path) {
  if (!CatalogueAccepts(path)) return false;
  const std::string key = CatalogueKey(path);
  if (CataloguedByKey(key) != nullptr) return Refuse(Refusal::kExists);
  Record(path, key, true);
  return true;
}

File* CatalogueFile(const char* path) {
  if (!CatalogueAccepts(path)) return nullptr;
  const std::string key = CatalogueKey(path);
  const CatalogueEntry* same = CataloguedByKey(key);
  if (same != nullptr && same->is_directory) {
    Refuse(Refusal::kExists);
    return nullptr;
  }
  auto* file = new File;
  file->catalogue_index = Record(path, key, false);
  return file;
}


void TargetCatalogue(const std::string& codepage, CatalogueObserver* observer) {
  ClearTarget();
  g_target.kind = TargetKind::kCatalogue;
  g_target.codepage = codepage;
  g_target.observer = observer;
}

std::vector<CatalogueEntry> TakeCatalogue() {
  std::vector<CatalogueEntry> out;
  out.swap(g_target.entries);
  g_target.by_key.clear();
  return out;
}

}  // namespace host
}  // namespace platform
