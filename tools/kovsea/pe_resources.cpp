#include "pe_resources.h"

#include <string.h>

#include <algorithm>
#include <set>

#include "byte_order.h"

namespace pe {
namespace {

constexpr uint32_t kDirectoryResource = 2;
constexpr uint32_t kDirectorySecurity = 4;
constexpr uint32_t kDirectoryBaseRelocation = 5;
constexpr uint32_t kSectionHeaderSize = 40;
constexpr uint32_t kHighBit = 0x80000000u;
// Resource trees are three levels deep (type, name, language); deeper ones are not read.
constexpr int kTreeDepth = 3;

uint16_t Get16(const std::string& s, size_t at) {
  return LoadLe16(reinterpret_cast<const uint8_t*>(s.data() + at));
}
uint32_t Get32(const std::string& s, size_t at) {
  return LoadLe32(reinterpret_cast<const uint8_t*>(s.data() + at));
}
void Set16(std::string* s, size_t at, uint16_t v) {
  (*s)[at] = static_cast<char>(v);
  (*s)[at + 1] = static_cast<char>(v >> 8);
}
void Set32(std::string* s, size_t at, uint32_t v) {
  StoreLe32(reinterpret_cast<uint8_t*>(&(*s)[at]), v);
}
void Put16(std::string* s, uint16_t v) {
  s->push_back(static_cast<char>(v));
  s->push_back(static_cast<char>(v >> 8));
}
void Put32(std::string* s, uint32_t v) {
  Put16(s, static_cast<uint16_t>(v));
  Put16(s, static_cast<uint16_t>(v >> 16));
}
void PadTo(std::string* s, size_t alignment) {
  while (s->size() % alignment != 0) s->push_back('\0');
}
uint32_t AlignUp(uint32_t v, uint32_t alignment) { return (v + alignment - 1) / alignment * alignment; }

struct Section {
  size_t header_at;  // where its header stands in the image
  uint32_t virtual_size;
  uint32_t virtual_address;
  uint32_t raw_size;
  uint32_t raw_at;
};

// The parts of the headers that resource editing reads and changes.
struct Layout {
  size_t optional_at = 0;
  bool plus = false;  // PE32+
  uint32_t section_alignment = 0;
  uint32_t file_alignment = 0;
  size_t directory_at = 0;  // the data directory
  uint32_t directory_count = 0;
  std::vector<Section> sections;

  size_t DirectoryEntry(uint32_t index) const { return directory_at + 8 * index; }
};

bool ReadLayout(const std::string& image, Layout* layout, std::string* error) {
  auto fail = [error](const char* what) {
    *error = what;
    return false;
  };
  if (image.size() < 0x40 || image[0] != 'M' || image[1] != 'Z') return fail("not a PE image (no MZ header)");
  const uint32_t pe_at = Get32(image, 0x3C);
  if (uint64_t{pe_at} + 24 > image.size() || image.compare(pe_at, 4, std::string("PE\0\0", 4)) != 0) {
    return fail("not a PE image (no PE header)");
  }
  const uint16_t section_count = Get16(image, pe_at + 6);
  const uint16_t optional_size = Get16(image, pe_at + 20);
  layout->optional_at = pe_at + 24;
  if (layout->optional_at + optional_size > image.size() || optional_size < 96) {
    return fail("the PE optional header is cut short");
  }
  const uint16_t magic = Get16(image, layout->optional_at);
  if (magic != 0x10B && magic != 0x20B) return fail("unknown PE optional header");
  layout->plus = magic == 0x20B;
  layout->section_alignment = Get32(image, layout->optional_at + 32);
  layout->file_alignment = Get32(image, layout->optional_at + 36);
  const size_t count_at = layout->optional_at + (layout->plus ? 108 : 92);
  layout->directory_count = Get32(image, count_at);
  layout->directory_at = count_at + 4;
  if (layout->file_alignment == 0 || layout->section_alignment == 0 ||
      layout->directory_count <= kDirectoryBaseRelocation ||
      layout->DirectoryEntry(layout->directory_count) > layout->optional_at + optional_size) {
    return fail("the PE data directory is damaged");
  }
  const size_t sections_at = layout->optional_at + optional_size;
  if (sections_at + uint64_t{section_count} * kSectionHeaderSize > image.size()) {
    return fail("the PE section table is cut short");
  }
  for (uint16_t i = 0; i < section_count; ++i) {
    const size_t at = sections_at + i * kSectionHeaderSize;
    Section s{at, Get32(image, at + 8), Get32(image, at + 12), Get32(image, at + 16), Get32(image, at + 20)};
    if (uint64_t{s.raw_at} + s.raw_size > image.size()) return fail("a PE section lies outside the file");
    layout->sections.push_back(s);
  }
  return true;
}

// The section holding `rva`; null when none does.
const Section* SectionAt(const Layout& layout, uint32_t rva) {
  for (const Section& s : layout.sections) {
    const uint32_t size = std::max(s.virtual_size, s.raw_size);
    if (rva >= s.virtual_address && rva < s.virtual_address + size) return &s;
  }
  return nullptr;
}

// ---- Reading the tree ---------------------------------------------------------------------

struct TreeReader {
  const std::string& section;  // the resource section's bytes
  uint32_t section_rva;
  std::string* error;
  int directories_read = 0;

  bool Fail(const char* what) {
    *error = std::string("the stub's resources are damaged: ") + what;
    return false;
  }

  bool Id(uint32_t raw, ResourceId* id) {
    if ((raw & kHighBit) == 0) {
      *id = ResourceId::Number(static_cast<uint16_t>(raw));
      return true;
    }
    const uint32_t at = raw & ~kHighBit;
    if (uint64_t{at} + 2 > section.size()) return Fail("a name lies outside the section");
    const uint16_t length = Get16(section, at);
    if (uint64_t{at} + 2 + 2ull * length > section.size()) return Fail("a name lies outside the section");
    id->is_name = true;
    id->name.clear();
    for (uint16_t i = 0; i < length; ++i) id->name.push_back(static_cast<char16_t>(Get16(section, at + 2 + 2 * i)));
    return true;
  }

  // Calls `visit(id, offset, is_directory)` for each entry of the directory at `at`.
  template <typename Visit>
  bool Entries(uint32_t at, Visit visit) {
    if (++directories_read > 100000) return Fail("too many directories");
    if (uint64_t{at} + 16 > section.size()) return Fail("a directory lies outside the section");
    const uint32_t count = uint32_t{Get16(section, at + 12)} + Get16(section, at + 14);
    if (uint64_t{at} + 16 + 8ull * count > section.size()) return Fail("a directory lies outside the section");
    for (uint32_t i = 0; i < count; ++i) {
      const uint32_t entry = at + 16 + 8 * i;
      ResourceId id;
      if (!Id(Get32(section, entry), &id)) return false;
      const uint32_t target = Get32(section, entry + 4);
      if (!visit(id, target & ~kHighBit, (target & kHighBit) != 0)) return false;
    }
    return true;
  }

  bool Data(uint32_t at, std::string* data) {
    if (uint64_t{at} + 16 > section.size()) return Fail("a data entry lies outside the section");
    const uint32_t rva = Get32(section, at);
    const uint32_t size = Get32(section, at + 4);
    if (rva < section_rva || uint64_t{rva - section_rva} + size > section.size()) {
      return Fail("resource data lies outside the section");
    }
    data->assign(section, rva - section_rva, size);
    return true;
  }

  bool Read(ResourceTree* tree) {
    return Entries(0, [&](const ResourceId& type, uint32_t types_at, bool type_dir) {
      if (!type_dir) return Fail("a type without names");
      return Entries(types_at, [&](const ResourceId& name, uint32_t names_at, bool name_dir) {
        if (!name_dir) return Fail("a name without languages");
        return Entries(names_at, [&](const ResourceId& language, uint32_t data_at, bool data_dir) {
          if (data_dir || language.is_name) return Fail("deeper than type, name and language");
          return Data(data_at, &(*tree)[type][name][language.number]);
        });
      });
    });
  }
};

// ---- Writing the tree ---------------------------------------------------------------------

// Lays out a resource section: every directory first, then the names, the data entries and
// the data, each in the order the tree gives (names before numbers at every level).
class TreeWriter {
 public:
  TreeWriter(const ResourceTree& tree, uint32_t section_rva) : tree_(tree), section_rva_(section_rva) {}

  std::string Build() {
    // Sizes first, to know where each part begins.
    uint32_t directories = Directory(tree_.size());
    for (const auto& type : tree_) {
      directories += Directory(type.second.size());
      for (const auto& name : type.second) directories += Directory(name.second.size());
    }
    uint32_t names = 0;
    uint32_t data_entries = 0;
    ForEachId([&](const ResourceId& id) {
      if (id.is_name) names += 2 + 2 * static_cast<uint32_t>(id.name.size());
    });
    for (const auto& type : tree_) {
      for (const auto& name : type.second) data_entries += 16 * static_cast<uint32_t>(name.second.size());
    }
    names_at_ = directories;
    data_entries_at_ = AlignUp(names_at_ + names, 4);
    data_at_ = data_entries_at_ + data_entries;

    out_.assign(data_at_, '\0');
    uint32_t next_directory = 0;
    auto place = [&next_directory](size_t count) {
      const uint32_t at = next_directory;
      next_directory += Directory(count);
      return at;
    };
    const uint32_t root = place(tree_.size());
    std::vector<uint32_t> type_dirs;
    for (const auto& type : tree_) type_dirs.push_back(place(type.second.size()));
    std::vector<uint32_t> name_dirs;
    for (const auto& type : tree_) {
      for (const auto& name : type.second) name_dirs.push_back(place(name.second.size()));
    }
    size_t t = 0;
    size_t n = 0;
    WriteDirectory(root, tree_, [&](size_t) { return type_dirs[t++] | kHighBit; });
    t = 0;
    for (const auto& type : tree_) {
      WriteDirectory(type_dirs[t++], type.second, [&](size_t) { return name_dirs[n++] | kHighBit; });
    }
    n = 0;
    for (const auto& type : tree_) {
      for (const auto& name : type.second) {
        WriteLanguages(name_dirs[n++], name.second);
      }
    }
    return out_;
  }

 private:
  static uint32_t Directory(size_t entries) { return 16 + 8 * static_cast<uint32_t>(entries); }

  template <typename Visit>
  void ForEachId(Visit visit) const {
    for (const auto& type : tree_) {
      visit(type.first);
      for (const auto& name : type.second) visit(name.first);
    }
  }

  uint32_t NameOffset(const ResourceId& id) {
    auto known = name_offsets_.find(id.name);
    if (known != name_offsets_.end()) return known->second;
    const uint32_t at = names_at_ + names_used_;
    Set16(&out_, at, static_cast<uint16_t>(id.name.size()));
    for (size_t i = 0; i < id.name.size(); ++i) Set16(&out_, at + 2 + 2 * i, static_cast<uint16_t>(id.name[i]));
    names_used_ += 2 + 2 * static_cast<uint32_t>(id.name.size());
    name_offsets_[id.name] = at;
    return at;
  }

  void Header(uint32_t at, uint16_t named, uint16_t numbered) {
    Set16(&out_, at + 12, named);
    Set16(&out_, at + 14, numbered);
  }

  template <typename Map, typename Target>
  void WriteDirectory(uint32_t at, const Map& entries, Target target) {
    uint16_t named = 0;
    for (const auto& e : entries) named += e.first.is_name ? 1 : 0;
    Header(at, named, static_cast<uint16_t>(entries.size() - named));
    uint32_t entry = at + 16;
    size_t index = 0;
    for (const auto& e : entries) {
      Set32(&out_, entry, e.first.is_name ? NameOffset(e.first) | kHighBit : e.first.number);
      Set32(&out_, entry + 4, target(index++));
      entry += 8;
    }
  }

  void WriteLanguages(uint32_t at, const std::map<uint16_t, std::string>& languages) {
    Header(at, 0, static_cast<uint16_t>(languages.size()));
    uint32_t entry = at + 16;
    for (const auto& language : languages) {
      const uint32_t data_entry = data_entries_at_ + data_entries_used_;
      data_entries_used_ += 16;
      PadTo(&out_, 8);
      const uint32_t data_rva = section_rva_ + static_cast<uint32_t>(out_.size());
      out_ += language.second;
      Set32(&out_, entry, language.first);
      Set32(&out_, entry + 4, data_entry);
      Set32(&out_, data_entry, data_rva);
      Set32(&out_, data_entry + 4, static_cast<uint32_t>(language.second.size()));
      entry += 8;
    }
  }

  const ResourceTree& tree_;
  uint32_t section_rva_;
  std::string out_;
  uint32_t names_at_ = 0;
  uint32_t names_used_ = 0;
  uint32_t data_entries_at_ = 0;
  uint32_t data_entries_used_ = 0;
  uint32_t data_at_ = 0;
  std::map<std::u16string, uint32_t> name_offsets_;
};

}  // namespace

bool ResourceId::operator<(const ResourceId& other) const {
  // Names come first, in order of their code units; then numbers, ascending: the order the
  // system's lookup expects.
  if (is_name != other.is_name) return is_name;
  return is_name ? name < other.name : number < other.number;
}

bool ResourceId::operator==(const ResourceId& other) const {
  return is_name == other.is_name && (is_name ? name == other.name : number == other.number);
}

bool ReadResources(const std::string& image, ResourceTree* tree, std::string* error) {
  Layout layout;
  if (!ReadLayout(image, &layout, error)) return false;
  const uint32_t rva = Get32(image, layout.DirectoryEntry(kDirectoryResource));
  tree->clear();
  if (rva == 0) return true;
  const Section* section = SectionAt(layout, rva);
  if (section == nullptr || rva != section->virtual_address) {
    *error = "the stub's resources do not begin their own section";
    return false;
  }
  const std::string bytes = image.substr(section->raw_at, section->raw_size);
  TreeReader reader{bytes, section->virtual_address, error};
  return reader.Read(tree);
}

bool WriteResources(std::string* image, const ResourceTree& tree, std::string* error) {
  Layout layout;
  if (!ReadLayout(*image, &layout, error)) return false;
  if (Get32(*image, layout.DirectoryEntry(kDirectorySecurity) + 4) != 0) {
    *error = "the stub is signed; its resources cannot change without breaking the signature";
    return false;
  }
  const uint32_t rva = Get32(*image, layout.DirectoryEntry(kDirectoryResource));
  size_t index = 0;
  while (index < layout.sections.size() && layout.sections[index].virtual_address != rva) ++index;
  if (rva == 0 || index == layout.sections.size()) {
    *error = "the stub has no resource section of its own";
    return false;
  }
  Section& resources = layout.sections[index];
  // Only sections that nothing but their data directory entry points into may move: the
  // base relocations. Anything else behind the resources would break the code.
  const uint32_t relocations = Get32(*image, layout.DirectoryEntry(kDirectoryBaseRelocation));
  for (size_t i = index + 1; i < layout.sections.size(); ++i) {
    if (layout.sections[i].virtual_address != relocations) {
      *error = "the stub's resources are not its last section but for its relocations";
      return false;
    }
  }

  const std::string built = TreeWriter(tree, resources.virtual_address).Build();
  const uint32_t new_raw = AlignUp(static_cast<uint32_t>(built.size()), layout.file_alignment);
  const uint32_t old_end_va = resources.virtual_address + AlignUp(std::max(resources.virtual_size, resources.raw_size),
                                                                  layout.section_alignment);
  const uint32_t new_end_va = resources.virtual_address + AlignUp(static_cast<uint32_t>(built.size()),
                                                                  layout.section_alignment);
  const int64_t raw_shift = int64_t{new_raw} - resources.raw_size;
  const int64_t va_shift = int64_t{new_end_va} - old_end_va;

  std::string section = built;
  section.resize(new_raw, '\0');
  std::string result = image->substr(0, resources.raw_at) + section +
                       image->substr(uint64_t{resources.raw_at} + resources.raw_size);
  Set32(&result, resources.header_at + 8, static_cast<uint32_t>(built.size()));
  Set32(&result, resources.header_at + 16, new_raw);
  Set32(&result, layout.DirectoryEntry(kDirectoryResource) + 4, static_cast<uint32_t>(built.size()));
  for (size_t i = index + 1; i < layout.sections.size(); ++i) {
    const Section& s = layout.sections[i];
    if (s.raw_at != 0) Set32(&result, s.header_at + 20, static_cast<uint32_t>(s.raw_at + raw_shift));
    Set32(&result, s.header_at + 12, static_cast<uint32_t>(s.virtual_address + va_shift));
  }
  if (relocations != 0) {
    Set32(&result, layout.DirectoryEntry(kDirectoryBaseRelocation), static_cast<uint32_t>(relocations + va_shift));
  }
  // The image's size in memory, and its initialised data, follow the resources' growth.
  const size_t image_size_at = layout.optional_at + 56;
  Set32(&result, image_size_at, static_cast<uint32_t>(Get32(result, image_size_at) + va_shift));
  const size_t initialised_at = layout.optional_at + 8;
  Set32(&result, initialised_at, static_cast<uint32_t>(Get32(result, initialised_at) + raw_shift));
  *image = result;
  return true;
}

// ---- Icons ----------------------------------------------------------------------------------

bool ParseIcoFile(const std::string& bytes, std::vector<IconImage>* images, std::string* error) {
  auto fail = [error](const std::string& what) {
    *error = "not a usable .ico file: " + what;
    return false;
  };
  if (bytes.size() < 6 || Get16(bytes, 0) != 0 || Get16(bytes, 2) != 1) return fail("no icon header");
  const uint16_t count = Get16(bytes, 4);
  if (count == 0) return fail("it holds no image");
  if (6 + 16ull * count > bytes.size()) return fail("its directory is cut short");
  images->clear();
  for (uint16_t i = 0; i < count; ++i) {
    const size_t entry = 6 + 16 * i;
    const uint32_t size = Get32(bytes, entry + 8);
    const uint32_t offset = Get32(bytes, entry + 12);
    const std::string which = "image " + std::to_string(i + 1);
    if (size == 0 || uint64_t{offset} + size > bytes.size()) return fail(which + " lies outside the file");
    IconImage image;
    image.width = static_cast<uint8_t>(bytes[entry]);
    image.height = static_cast<uint8_t>(bytes[entry + 1]);
    image.colours = static_cast<uint8_t>(bytes[entry + 2]);
    image.planes = Get16(bytes, entry + 4);
    image.bit_count = Get16(bytes, entry + 6);
    image.data = bytes.substr(offset, size);
    const bool png = image.data.compare(0, 8, "\x89PNG\r\n\x1a\n") == 0;
    const bool dib = !png && size >= 40 && Get32(image.data, 0) == 40;
    if (!png && !dib) return fail(which + " is neither a bitmap nor a PNG");
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

// ---- Version information ----------------------------------------------------------------------

namespace {

// Decodes UTF-8 into UTF-16; false for anything that is not well-formed UTF-8.
bool Utf16(const std::string& in, std::u16string* out) {
  out->clear();
  for (size_t i = 0; i < in.size();) {
    const unsigned char c = static_cast<unsigned char>(in[i]);
    uint32_t code = 0;
    size_t length = 0;
    if (c < 0x80) {
      code = c;
      length = 1;
    } else if ((c & 0xE0) == 0xC0) {
      code = c & 0x1F;
      length = 2;
    } else if ((c & 0xF0) == 0xE0) {
      code = c & 0x0F;
      length = 3;
    } else if ((c & 0xF8) == 0xF0) {
      code = c & 0x07;
      length = 4;
    } else {
      return false;
    }
    if (i + length > in.size()) return false;
    for (size_t k = 1; k < length; ++k) {
      const unsigned char d = static_cast<unsigned char>(in[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      code = code << 6 | (d & 0x3F);
    }
    const uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < smallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    if (code >= 0x10000) {
      code -= 0x10000;
      out->push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
      out->push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    } else {
      out->push_back(static_cast<char16_t>(code));
    }
    i += length;
  }
  return true;
}

// One node of a version resource: length, value length, type, key, value, children, with
// the padding to 32 bits that the format puts after the key and after the value.
std::string Node(const std::u16string& key, uint16_t type, const std::string& value,
                 uint16_t value_length, const std::string& children) {
  std::string node(6, '\0');
  for (char16_t c : key) Put16(&node, static_cast<uint16_t>(c));
  Put16(&node, 0);
  PadTo(&node, 4);
  node += value;
  if (!children.empty()) {
    PadTo(&node, 4);
    node += children;
  }
  Set16(&node, 0, static_cast<uint16_t>(node.size()));
  Set16(&node, 2, value_length);
  Set16(&node, 4, type);
  return node;
}

// The version's leading dotted numbers, up to four of at most 65535 each.
bool DottedVersion(const std::string& text, uint16_t parts[4]) {
  size_t i = 0;
  int count = 0;
  while (count < 4 && i < text.size() && text[i] >= '0' && text[i] <= '9') {
    uint32_t value = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
      value = value * 10 + static_cast<uint32_t>(text[i++] - '0');
      if (value > 65535) return false;
    }
    parts[count++] = static_cast<uint16_t>(value);
    if (i < text.size() && text[i] == '.' && i + 1 < text.size() && text[i + 1] >= '0' && text[i + 1] <= '9') ++i;
    else break;
  }
  for (int k = count; k < 4; ++k) parts[k] = 0;
  return count > 0;
}

}  // namespace

const std::vector<std::string>& VersionKeys() {
  static const std::vector<std::string> keys = {
      "CompanyName",     "FileDescription", "FileVersion", "InternalName", "LegalCopyright",
      "LegalTrademarks", "OriginalFilename", "ProductName", "ProductVersion", "Comments",
      "PrivateBuild",    "SpecialBuild"};
  return keys;
}

bool BuildVersionResource(const std::map<std::string, std::string>& strings, std::string* resource,
                          std::string* error) {
  const std::vector<std::string>& keys = VersionKeys();
  for (const auto& s : strings) {
    if (std::find(keys.begin(), keys.end(), s.first) == keys.end()) {
      std::string known;
      for (const auto& k : keys) known += (known.empty() ? "" : ", ") + k;
      *error = "unknown version key '" + s.first + "' (known: " + known + ")";
      return false;
    }
  }
  uint16_t file[4] = {0, 0, 0, 0};
  uint16_t product[4] = {0, 0, 0, 0};
  const auto file_text = strings.find("FileVersion");
  const auto product_text = strings.find("ProductVersion");
  for (const auto& v : {file_text, product_text}) {
    if (v != strings.end() && !DottedVersion(v->second, v == file_text ? file : product)) {
      *error = v->first + " '" + v->second + "' does not begin with a dotted version such as 1.2.3";
      return false;
    }
  }
  if (file_text == strings.end()) memcpy(file, product, sizeof file);
  if (product_text == strings.end()) memcpy(product, file, sizeof product);

  std::string table;
  for (const std::string& key : keys) {
    const auto s = strings.find(key);
    if (s == strings.end()) continue;
    std::u16string key16;
    std::u16string value16;
    Utf16(key, &key16);
    if (!Utf16(s->second, &value16)) {
      *error = "the value of " + key + " is not UTF-8";
      return false;
    }
    std::string value;
    for (char16_t c : value16) Put16(&value, static_cast<uint16_t>(c));
    Put16(&value, 0);
    PadTo(&table, 4);
    table += Node(key16, 1, value, static_cast<uint16_t>(value16.size() + 1), "");
  }
  // US English, Unicode.
  const std::string string_table = Node(u"040904b0", 1, "", 0, table);
  const std::string string_info = Node(u"StringFileInfo", 1, "", 0, string_table);
  std::string translation;
  Put16(&translation, kLanguageUsEnglish);
  Put16(&translation, 1200);
  const std::string var_info = Node(u"VarFileInfo", 1, "", 0, Node(u"Translation", 0, translation, 4, ""));

  std::string fixed;
  Put32(&fixed, 0xFEEF04BDu);  // signature
  Put32(&fixed, 0x00010000u);  // structure version 1.0
  Put32(&fixed, uint32_t{file[0]} << 16 | file[1]);
  Put32(&fixed, uint32_t{file[2]} << 16 | file[3]);
  Put32(&fixed, uint32_t{product[0]} << 16 | product[1]);
  Put32(&fixed, uint32_t{product[2]} << 16 | product[3]);
  Put32(&fixed, 0x3F);       // flags mask
  Put32(&fixed, 0);          // flags
  Put32(&fixed, 0x00040004);  // VOS_NT_WINDOWS32
  Put32(&fixed, 1);          // VFT_APP
  Put32(&fixed, 0);          // subtype
  Put32(&fixed, 0);          // date, most significant
  Put32(&fixed, 0);          // date, least significant
  std::string children = string_info;
  PadTo(&children, 4);
  children += var_info;
  *resource = Node(u"VS_VERSION_INFO", 0, fixed, static_cast<uint16_t>(fixed.size()), children);
  return true;
}

}  // namespace pe
