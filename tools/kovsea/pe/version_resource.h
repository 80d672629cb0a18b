// The version resource (VS_VERSIONINFO) that Explorer's properties and installers read: a
// tree of nodes, each its length, its value's length, its type, a UTF-16 key and a value,
// padded to 32 bits:
//
//   VS_VERSION_INFO  value: VS_FIXEDFILEINFO (signature 0xFEEF04BD, file and product
//                    versions as four 16-bit numbers, flags, OS, type)
//     StringFileInfo
//       040904b0     US English, Unicode: one node a key, the value a UTF-16 string
//     VarFileInfo
//       Translation  value: language 1033, code page 1200
#pragma once

#include <map>
#include <string>
#include <vector>

#include "problem.h"

namespace pe {

// The keys a version resource may carry, in the order they are written.
const std::vector<std::string>& VersionKeys();
// Builds a VS_VERSIONINFO resource from `strings` (key -> UTF-8 value). The fixed file and
// product versions come from the leading dotted numbers of FileVersion and ProductVersion
// (each standing in for the other when missing). False with `problem` for an unknown key, a
// version that does not begin with a number, or a value that is not UTF-8.
bool BuildVersionResource(const std::map<std::string, std::string>& strings, std::string* resource,
                          Problem* problem);
// The strings of a version resource (key -> UTF-8 value), of every string table it holds;
// false when `resource` is not a well-formed VS_VERSIONINFO.
bool ReadVersionStrings(const std::string& resource, std::map<std::string, std::string>* strings);

}  // namespace pe
