// The resources of a PE image, read into a tree and written back: what `kovsea pack` needs to
// give the stub a vendor's icon and version information before the archive is appended. A
// new kind of resource is built in a file of its own (as ico_file and version_resource are)
// and put into the tree by the stub's preparation.
//
// The image's resource section is rebuilt whole. When it grows, the sections behind it
// (the stub's relocations) move back by as much, in the file and in memory, and the headers
// that name them follow. Nothing else in the image changes, so what signs and runs before
// still signs and runs.
#pragma once

#include <stdint.h>

#include <map>
#include <string>

#include "problem.h"

namespace pe {

constexpr uint16_t kTypeIcon = 3;
constexpr uint16_t kTypeGroupIcon = 14;
constexpr uint16_t kTypeVersion = 16;
constexpr uint16_t kLanguageUsEnglish = 1033;

// A resource's type or name: a number, or a name (UTF-16 as stored, kept as raw bytes).
struct ResourceId {
  bool is_name = false;
  uint16_t number = 0;
  std::u16string name;

  static ResourceId Number(uint16_t n) {
    ResourceId id;
    id.number = n;
    return id;
  }
  bool operator<(const ResourceId& other) const;
  bool operator==(const ResourceId& other) const;
};

// type -> name -> language -> data.
using ResourceTree = std::map<ResourceId, std::map<ResourceId, std::map<uint16_t, std::string>>>;

// Reads the resource tree of `image`; false with `problem` (what, and the offset where the
// damage was found) when the image or its resources are not what a PE file holds.
bool ReadResources(const std::string& image, ResourceTree* tree, Problem* problem);
// Writes `tree` as the image's resource section; false with `problem` when the image's
// layout does not allow it (no resource section, a section behind it that cannot move). The
// image must not be signed: the stub's preparation refuses a signed stub before this.
bool WriteResources(std::string* image, const ResourceTree& tree, Problem* problem);

}  // namespace pe
