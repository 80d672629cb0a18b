// How Windows tells names apart, beyond the stub's own name rules: case is folded for every
// letter (not only ASCII), and a long name also answers to the short 8.3 name Windows gives it
// ("LONGFI~1.TXT" for "longfilename.txt"). Two entries that Windows takes for one would replace
// each other at the user's site; the packer's checks refuse them.
#pragma once

#include <string>
#include <vector>

// `host_name` (a name in the host's encoding) as Windows compares it.
std::string FoldedName(const std::string& host_name);
// Whether `name` has the shape of a short name Windows generates, and could be the one it
// gives to `other`, a long name in the same directory (both folded).
bool MayBeShortNameOf(const std::string& name, const std::string& other);

// Finds, among the names of one directory (in the host's encoding), those that Windows would
// take for an earlier one. Each clash is reported once, as (index, index of the earlier one,
// whether it is by a short name rather than by case).
struct NameClash {
  size_t index;
  size_t earlier;
  bool short_name;
};
std::vector<NameClash> FindNameClashes(const std::vector<std::string>& host_names);
