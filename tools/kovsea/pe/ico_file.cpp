#include "ico_file.h"

#include <set>

#include "bytes.h"

namespace pe {
namespace {

constexpr size_t kHeaderSize = 6;
constexpr size_t kEntrySize = 16;

}  // namespace

bool ParseIcoFile(const std::string& bytes, std::vector<IconImage>* images, Problem* problem) {
  auto fail = [problem](uint64_t offset, const std::string& what) {
    problem->offset = offset;
    problem->what = "not a usable .ico file: " + what;
    return false;
  };
  if (bytes.size() < kHeaderSize || Get16(bytes, 0) != 0 || Get16(bytes, 2) != 1) return fail(0, "no icon header");
  const uint16_t count = Get16(bytes, 4);
  if (count == 0) return fail(4, "it holds no image");
  if (kHeaderSize + uint64_t{kEntrySize} * count > bytes.size()) return fail(kHeaderSize, "its directory is cut short");
  images->clear();
  for (uint16_t i = 0; i < count; ++i) {
    const size_t entry = kHeaderSize + kEntrySize * i;
    const uint32_t size = Get32(bytes, entry + 8);
    const uint32_t offset = Get32(bytes, entry + 12);
    const std::string which = "image " + std::to_string(i + 1);
    if (size == 0 || uint64_t{offset} + size > bytes.size()) return fail(entry, which + " lies outside the file");
    IconImage image;
    image.width = static_cast<uint8_t>(bytes[entry]);
    image.height = static_cast<uint8_t>(bytes[entry + 1]);
    image.colours = static_cast<uint8_t>(bytes[entry + 2]);
    image.planes = Get16(bytes, entry + 4);
    image.bit_count = Get16(bytes, entry + 6);
    image.data = bytes.substr(offset, size);
    const bool png = image.data.compare(0, 8, "\x89PNG\r\n\x1a\n") == 0;
    const bool dib = !png && size >= 40 && Get32(image.data, 0) == 40;
    if (!png && !dib) return fail(offset, which + " is neither a bitmap nor a PNG");
    if (dib && image.bit_count == 0) image.bit_count = Get16(image.data, 14);
    if (image.planes == 0) image.planes = 1;
    images->push_back(image);
  }
  return true;
}

void ReplaceIconGroup(ResourceTree* tree, uint16_t group, const std::vector<IconImage>& images) {
  auto& groups = (*tree)[ResourceId::Number(kTypeGroupIcon)];
  auto& icons = (*tree)[ResourceId::Number(kTypeIcon)];
  // The icons each group uses: a GRPICONDIR, then 14-byte entries ending in the icon's number.
  auto members = [](const std::string& dir) {
    std::set<uint16_t> ids;
    if (dir.size() < 6) return ids;
    const uint16_t count = Get16(dir, 4);
    for (uint16_t i = 0; i < count && 6 + 14u * (i + 1) <= dir.size(); ++i) ids.insert(Get16(dir, 6 + 14 * i + 12));
    return ids;
  };
  std::set<uint16_t> ours;
  std::set<uint16_t> others;
  uint16_t language = kLanguageUsEnglish;
  for (const auto& g : groups) {
    for (const auto& l : g.second) {
      const std::set<uint16_t> ids = members(l.second);
      if (g.first == ResourceId::Number(group)) {
        ours.insert(ids.begin(), ids.end());
        language = l.first;
      } else {
        others.insert(ids.begin(), ids.end());
      }
    }
  }
  for (uint16_t id : ours) {
    if (others.count(id) == 0) icons.erase(ResourceId::Number(id));
  }
  uint16_t next = 1;
  for (const auto& icon : icons) {
    if (!icon.first.is_name && icon.first.number >= next) next = static_cast<uint16_t>(icon.first.number + 1);
  }
  std::string dir;
  Put16(&dir, 0);
  Put16(&dir, 1);
  Put16(&dir, static_cast<uint16_t>(images.size()));
  for (const IconImage& image : images) {
    const uint16_t id = next++;
    dir.push_back(static_cast<char>(image.width));
    dir.push_back(static_cast<char>(image.height));
    dir.push_back(static_cast<char>(image.colours));
    dir.push_back('\0');
    Put16(&dir, image.planes);
    Put16(&dir, image.bit_count);
    Put32(&dir, static_cast<uint32_t>(image.data.size()));
    Put16(&dir, id);
    icons[ResourceId::Number(id)][language] = image.data;
  }
  auto& slot = groups[ResourceId::Number(group)];
  slot.clear();
  slot[language] = dir;
}

}  // namespace pe
