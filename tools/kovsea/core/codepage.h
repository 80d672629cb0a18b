// The Windows ANSI code page that entry names travel in, held in one value that every
// command passes on: to the tree planner, to the readers of a finished file, and to the host
// platform's target, which turns stored names into host names with it.
//
// The host names files in its own encoding (UTF-8 on Linux, UTF-16 on Windows). Conversions
// refuse anything that does not map exactly, so that a name is never silently replaced by a
// look-alike.
#pragma once

#include <filesystem>
#include <string>

class Codepage {
 public:
  // Windows-1252, the code page of Western European Windows.
  Codepage() = default;

  // A code page given on the command line ("1252", "cp1252", "windows-1252"). False with
  // `error` when it is not a code page number, the system does not know it, or it does not
  // keep the ASCII characters as they are (EBCDIC and the like), where the stub's name rules,
  // which look at ASCII bytes, would not hold.
  static bool Parse(const std::string& given, Codepage* codepage, std::string* error);

  // The name iconv uses for it ("CP1252").
  const std::string& name() const { return name_; }
  // Converts one host file name component to the code page; false when it cannot be mapped.
  bool FromHostName(const std::filesystem::path& component, std::string* ansi) const;
  // Converts a stored name to the host's encoding for display (UTF-8 on Linux); a name that
  // does not convert is shown as stored.
  std::string ToDisplay(const std::string& ansi) const;

 private:
  std::string name_ = "CP1252";
};
