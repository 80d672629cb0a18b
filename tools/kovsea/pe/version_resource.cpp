#include "version_resource.h"

#include <string.h>

#include <algorithm>

#include "bytes.h"
#include "resource_tree.h"
#include "utf16.h"

namespace pe {

namespace {

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

// A node read back: where its value and its children stand.
struct NodeView {
  size_t end;
  std::u16string key;
  std::u16string text;  // the value, when it is text (type 1), up to its terminator
  size_t children_at;
};

size_t Align4(size_t at) { return (at + 3) & ~size_t{3}; }

bool ReadNode(const std::string& r, size_t at, size_t limit, NodeView* node) {
  if (at + 6 > limit || Get16(r, at) < 6 || at + Get16(r, at) > limit) return false;
  node->end = at + Get16(r, at);
  const uint16_t value_length = Get16(r, at + 2);
  const bool text = Get16(r, at + 4) == 1;
  size_t p = at + 6;
  node->key.clear();
  for (; p + 2 <= node->end && Get16(r, p) != 0; p += 2) node->key.push_back(static_cast<char16_t>(Get16(r, p)));
  if (p + 2 > node->end) return false;
  const size_t value_at = Align4(p + 2);
  const size_t value_bytes = text ? 2u * value_length : value_length;
  if (value_at + value_bytes > node->end && value_length != 0) return false;
  node->text.clear();
  for (size_t v = value_at; text && v + 2 <= value_at + value_bytes && Get16(r, v) != 0; v += 2) {
    node->text.push_back(static_cast<char16_t>(Get16(r, v)));
  }
  node->children_at = std::min(Align4(value_at + value_bytes), node->end);
  return true;
}

// Calls `visit` with each child of `parent`; false when one is damaged.
template <typename Visit>
bool Children(const std::string& r, const NodeView& parent, Visit visit) {
  for (size_t at = parent.children_at; at + 6 <= parent.end;) {
    NodeView child;
    if (!ReadNode(r, at, parent.end, &child) || !visit(child)) return false;
    at = Align4(child.end);
  }
  return true;
}

}  // namespace

bool ReadVersionStrings(const std::string& resource, std::map<std::string, std::string>* strings) {
  strings->clear();
  NodeView root;
  if (!ReadNode(resource, 0, resource.size(), &root) || root.key != u"VS_VERSION_INFO") return false;
  return Children(resource, root, [&](const NodeView& info) {
    if (info.key != u"StringFileInfo") return true;
    return Children(resource, info, [&](const NodeView& table) {
      return Children(resource, table, [&](const NodeView& s) {
        (*strings)[Utf8(s.key)] = Utf8(s.text);
        return true;
      });
    });
  });
}

const std::vector<std::string>& VersionKeys() {
  static const std::vector<std::string> keys = {
      "CompanyName",     "FileDescription", "FileVersion", "InternalName", "LegalCopyright",
      "LegalTrademarks", "OriginalFilename", "ProductName", "ProductVersion", "Comments",
      "PrivateBuild",    "SpecialBuild"};
  return keys;
}

bool BuildVersionResource(const std::map<std::string, std::string>& strings, std::string* resource,
                          Problem* problem) {
  const std::vector<std::string>& keys = VersionKeys();
  for (const auto& s : strings) {
    if (std::find(keys.begin(), keys.end(), s.first) == keys.end()) {
      std::string known;
      for (const auto& k : keys) known += (known.empty() ? "" : ", ") + k;
      problem->what = "unknown version key '" + s.first + "'";
      problem->fix = "give one of " + known;
      return false;
    }
  }
  uint16_t file[4] = {0, 0, 0, 0};
  uint16_t product[4] = {0, 0, 0, 0};
  const auto file_text = strings.find("FileVersion");
  const auto product_text = strings.find("ProductVersion");
  for (const auto& v : {file_text, product_text}) {
    if (v != strings.end() && !DottedVersion(v->second, v == file_text ? file : product)) {
      problem->what = v->first + " '" + v->second + "' does not begin with a dotted version";
      problem->fix = "begin it with one such as 1.2.3";
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
      problem->what = "the value of " + key + " is not UTF-8";
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
