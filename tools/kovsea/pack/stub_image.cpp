#include "stub_image.h"

#include "ico_file.h"
#include "pe_image.h"
#include "resource_tree.h"
#include "version_resource.h"
#include "whole_file.h"

namespace {

constexpr uint64_t kMaxOffset = 0xFFFFFFFFull;

bool Refuse(Problem* problem, const std::filesystem::path& where, const std::string& what,
            const std::string& fix = std::string()) {
  problem->where = where.string();
  problem->what = what;
  problem->fix = fix;
  return false;
}

// Gives the resource tree the icon of `options`, read from its .ico file.
bool PutIcon(const PackOptions& options, pe::ResourceTree* resources, Problem* problem) {
  std::string ico;
  if (!ReadWholeFile(options.icon, &ico)) return Refuse(problem, options.icon, "cannot read");
  std::vector<pe::IconImage> images;
  if (!pe::ParseIcoFile(ico, &images, problem)) {
    problem->where = options.icon.string();
    return false;
  }
  pe::ReplaceIconGroup(resources, kProgramIconGroup, images);
  return true;
}

bool PutVersion(const PackOptions& options, pe::ResourceTree* resources, Problem* problem) {
  std::string version;
  if (!pe::BuildVersionResource(options.version_info, &version, problem)) {
    problem->where = "--version-info";
    return false;
  }
  auto& slot = (*resources)[pe::ResourceId::Number(pe::kTypeVersion)][pe::ResourceId::Number(1)];
  slot.clear();
  slot[pe::kLanguageUsEnglish] = version;
  return true;
}

}  // namespace

bool PrepareStub(const PackOptions& options, std::string* stub, Problem* problem) {
  if (!ReadWholeFile(options.stub, stub) || stub->empty()) {
    return Refuse(problem, options.stub, "the stub is not a readable file");
  }
  if (stub->size() > kMaxOffset) return Refuse(problem, options.stub, "the stub is larger than 4 GiB");
  // A stand-in that is no PE image may be packed as it is, but its resources cannot be edited.
  if (pe::NamesCertificateTable(*stub)) {
    return Refuse(problem, options.stub, "the stub is signed, and the payload would break its signature",
                  "pack the unsigned stub and sign the finished self-extractor instead");
  }
  if (options.icon.empty() && options.version_info.empty()) return true;
  pe::ResourceTree resources;
  if (!pe::ReadResources(*stub, &resources, problem) ||
      (!options.icon.empty() && !PutIcon(options, &resources, problem)) ||
      (!options.version_info.empty() && !PutVersion(options, &resources, problem))) {
    if (problem->where.empty()) problem->where = options.stub.string();
    return false;
  }
  if (!pe::WriteResources(stub, resources, problem)) {
    problem->where = options.stub.string();
    return false;
  }
  return true;
}
