// The resources of a PE image, read into a tree and written back: what `kovsea pack` needs to
// give the stub a vendor's icon and version information before the archive is appended.
//
// The image's resource section is rebuilt whole. When it grows, the sections behind it
// (the stub's relocations) move back by as much, in the file and in memory, and the headers
// that name them follow. Nothing else in the image changes, so what signs and runs before
// still signs and runs.
#pragma once

#include <stdint.h>

#include <map>
#include <string>
#include <vector>

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

// Reads the resource tree of `image`; false with `error` when the image or its resources
// are not what a PE file holds.
bool ReadResources(const std::string& image, ResourceTree* tree, std::string* error);
// Writes `tree` as the image's resource section; false with `error` when the image's layout
// does not allow it (no resource section, a signature, no room for the headers).
bool WriteResources(std::string* image, const ResourceTree& tree, std::string* error);

// One image of an .ico file, and the whole file checked.
struct IconImage {
  uint8_t width;  // 0 = 256
  uint8_t height;
  uint8_t colours;
  uint16_t planes;
  uint16_t bit_count;
  std::string data;  // a DIB (BITMAPINFOHEADER and bits) or a PNG
};
bool ParseIcoFile(const std::string& bytes, std::vector<IconImage>* images, std::string* error);

// Replaces icon group `group` (and the icons only it uses) with `images`, numbering the new
// icons after the highest icon number in use.
void ReplaceIconGroup(ResourceTree* tree, uint16_t group, const std::vector<IconImage>& images);

// The keys a version resource may carry, in the order they are written.
const std::vector<std::string>& VersionKeys();
// Builds a VS_VERSIONINFO resource from `strings` (key -> UTF-8 value). The fixed file and
// product versions come from the leading dotted numbers of FileVersion and ProductVersion
// (each standing in for the other when missing). False with `error` for an unknown key or a
// version that does not begin with a number.
bool BuildVersionResource(const std::map<std::string, std::string>& strings, std::string* resource,
                          std::string* error);

}  // namespace pe
