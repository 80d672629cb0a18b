#include "windows_names.h"

#include <map>

#include "host_files.h"

namespace {

constexpr size_t kShortBase = 8;
constexpr size_t kShortExtension = 3;

void SplitExtension(const std::string& name, std::string* base, std::string* extension) {
  const size_t dot = name.rfind('.');
  *base = dot == std::string::npos ? name : name.substr(0, dot);
  *extension = dot == std::string::npos ? std::string() : name.substr(dot + 1);
}

// Whether Windows keeps `name` as its own short name: it fits 8.3 and has no blank or second dot.
bool FitsShortName(const std::string& name) {
  std::string base;
  std::string extension;
  SplitExtension(name, &base, &extension);
  return !base.empty() && base.size() <= kShortBase && extension.size() <= kShortExtension &&
         name.find(' ') == std::string::npos && base.find('.') == std::string::npos;
}

// What of a long name's part goes into its short name: blanks and dots are left out.
std::string ShortNameCharacters(const std::string& part) {
  std::string out;
  for (char c : part) {
    if (c != ' ' && c != '.') out.push_back(c);
  }
  return out;
}

}  // namespace

std::string FoldedName(const std::string& host_name) { return platform::host::WindowsUpperCase(host_name); }

bool MayBeShortNameOf(const std::string& name, const std::string& other) {
  if (name == other || !FitsShortName(name) || FitsShortName(other)) return false;
  std::string base;
  std::string extension;
  SplitExtension(name, &base, &extension);
  // "PREFIX~N": one to six characters, a tilde, a number.
  const size_t tilde = base.rfind('~');
  if (tilde == std::string::npos || tilde == 0 || tilde + 1 == base.size()) return false;
  for (size_t i = tilde + 1; i < base.size(); ++i) {
    if (base[i] < '0' || base[i] > '9') return false;
  }
  std::string other_base;
  std::string other_extension;
  SplitExtension(other, &other_base, &other_extension);
  const std::string prefix = base.substr(0, tilde);
  return ShortNameCharacters(other_base).compare(0, prefix.size(), prefix) == 0 &&
         ShortNameCharacters(other_extension).substr(0, kShortExtension) == extension;
}

std::vector<NameClash> FindNameClashes(const std::vector<std::string>& host_names) {
  std::vector<NameClash> clashes;
  std::vector<std::string> folded;
  std::map<std::string, size_t> first;
  std::vector<size_t> all;           // every earlier name, once
  std::vector<size_t> shaped_names;  // the earlier ones of the short shape
  for (size_t i = 0; i < host_names.size(); ++i) {
    folded.push_back(FoldedName(host_names[i]));
    const auto seen = first.emplace(folded[i], i);
    if (!seen.second) {
      if (host_names[seen.first->second] != host_names[i]) clashes.push_back({i, seen.first->second, false});
      continue;
    }
    // Names of the short shape are few: each is held against every long name, and not every
    // pair of long names against each other, so that a directory of many files stays cheap.
    const bool shaped = folded[i].find('~') != std::string::npos && FitsShortName(folded[i]);
    const std::vector<size_t>& partners = shaped ? all : shaped_names;
    for (size_t j : partners) {
      if (shaped ? MayBeShortNameOf(folded[i], folded[j]) : MayBeShortNameOf(folded[j], folded[i])) {
        clashes.push_back({i, j, true});
        break;
      }
    }
    all.push_back(i);
    if (shaped) shaped_names.push_back(i);
  }
  return clashes;
}
