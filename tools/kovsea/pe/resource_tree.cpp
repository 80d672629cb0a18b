#include "resource_tree.h"

#include <algorithm>

#include "bytes.h"
#include "pe_image.h"

namespace pe {
namespace {

constexpr uint32_t kHighBit = 0x80000000u;
// Where the image's size in memory and its initialised data's size stand in the optional
// header.
constexpr size_t kSizeOfImageAt = 56;
constexpr size_t kSizeOfInitializedDataAt = 8;
// The most directories a tree is read with: far more than any real image holds, few enough
// that a tree whose directories point at each other ends.
constexpr int kMostDirectories = 100000;

// ---- Reading the tree ---------------------------------------------------------------------

struct TreeReader {
  const std::string& section;  // the resource section's bytes
  uint32_t section_rva;
  Problem* problem;
  int directories_read = 0;

  bool Fail(const char* what) {
    problem->what = std::string("the stub's resources are damaged: ") + what;
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
    if (++directories_read > kMostDirectories) return Fail("too many directories");
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

bool ReadResources(const std::string& bytes, ResourceTree* tree, Problem* problem) {
  Image image;
  if (!ParseImage(bytes, &image, problem)) return false;
  const uint32_t rva = image.DirectoryAddress(bytes, kResourceDirectory);
  tree->clear();
  if (rva == 0) return true;
  const Section* section = SectionAt(image, rva);
  if (section == nullptr || rva != section->virtual_address) {
    problem->offset = image.DirectoryEntry(kResourceDirectory);
    problem->what = "the stub's resources do not begin their own section";
    return false;
  }
  const std::string raw = bytes.substr(section->raw_at, section->raw_size);
  TreeReader reader{raw, section->virtual_address, problem};
  if (reader.Read(tree)) return true;
  problem->offset = section->raw_at;
  return false;
}

bool WriteResources(std::string* bytes, const ResourceTree& tree, Problem* problem) {
  Image image;
  if (!ParseImage(*bytes, &image, problem)) return false;
  const uint32_t rva = image.DirectoryAddress(*bytes, kResourceDirectory);
  size_t index = 0;
  while (index < image.sections.size() && image.sections[index].virtual_address != rva) ++index;
  if (rva == 0 || index == image.sections.size()) {
    problem->what = "the stub has no resource section of its own";
    return false;
  }
  Section& resources = image.sections[index];
  // Only sections that nothing but their data directory entry points into may move: the
  // base relocations. Anything else behind the resources would break the code.
  const uint32_t relocations = image.DirectoryAddress(*bytes, kBaseRelocationDirectory);
  for (size_t i = index + 1; i < image.sections.size(); ++i) {
    if (image.sections[i].virtual_address != relocations) {
      problem->offset = image.sections[i].header_at;
      problem->what = "the stub's resources are not its last section but for its relocations";
      return false;
    }
  }

  const std::string built = TreeWriter(tree, resources.virtual_address).Build();
  const uint32_t new_raw = AlignUp(static_cast<uint32_t>(built.size()), image.file_alignment);
  const uint32_t old_end_va = resources.virtual_address +
                              AlignUp(std::max(resources.virtual_size, resources.raw_size), image.section_alignment);
  const uint32_t new_end_va =
      resources.virtual_address + AlignUp(static_cast<uint32_t>(built.size()), image.section_alignment);
  const int64_t raw_shift = int64_t{new_raw} - resources.raw_size;
  const int64_t va_shift = int64_t{new_end_va} - old_end_va;

  std::string section = built;
  section.resize(new_raw, '\0');
  std::string result = bytes->substr(0, resources.raw_at) + section +
                       bytes->substr(uint64_t{resources.raw_at} + resources.raw_size);
  Set32(&result, resources.header_at + 8, static_cast<uint32_t>(built.size()));
  Set32(&result, resources.header_at + 16, new_raw);
  Set32(&result, image.DirectoryEntry(kResourceDirectory) + 4, static_cast<uint32_t>(built.size()));
  for (size_t i = index + 1; i < image.sections.size(); ++i) {
    const Section& s = image.sections[i];
    if (s.raw_at != 0) Set32(&result, s.header_at + 20, static_cast<uint32_t>(s.raw_at + raw_shift));
    Set32(&result, s.header_at + 12, static_cast<uint32_t>(s.virtual_address + va_shift));
  }
  if (relocations != 0) {
    Set32(&result, image.DirectoryEntry(kBaseRelocationDirectory), static_cast<uint32_t>(relocations + va_shift));
  }
  // The image's size in memory, and its initialised data, follow the resources' growth.
  const size_t image_size_at = image.OptionalAt() + kSizeOfImageAt;
  Set32(&result, image_size_at, static_cast<uint32_t>(Get32(result, image_size_at) + va_shift));
  const size_t initialised_at = image.OptionalAt() + kSizeOfInitializedDataAt;
  Set32(&result, initialised_at, static_cast<uint32_t>(Get32(result, initialised_at) + raw_shift));
  *bytes = result;
  return true;
}

}  // namespace pe
