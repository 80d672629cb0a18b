#include "codepage.h"

#include <ctype.h>
#include <stdlib.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include "host_files.h"

namespace {

// "1252", "cp1252" or "windows-1252" as iconv names it ("CP1252"); empty when it is not a
// code page number.
std::string IconvName(const std::string& argument) {
  std::string digits;
  std::string lower;
  for (char c : argument) lower.push_back(static_cast<char>(tolower(static_cast<unsigned char>(c))));
  for (const char* prefix : {"windows-", "cp", ""}) {
    const std::string p(prefix);
    if (lower.compare(0, p.size(), p) == 0) {
      digits = lower.substr(p.size());
      break;
    }
  }
  if (digits.empty() || digits.size() > 5) return std::string();
  for (char c : digits) {
    if (!isdigit(static_cast<unsigned char>(c))) return std::string();
  }
  return "CP" + digits;
}

}  // namespace

bool Codepage::Parse(const std::string& given, Codepage* codepage, std::string* error) {
  const std::string name = IconvName(given);
  std::string probe;
  if (name.empty() || !platform::host::ConvertEncoding(name.c_str(), "UTF-8", "A", &probe)) {
    *error = "unknown code page '" + given + "' (give a Windows code page number such as 1252)";
    return false;
  }
  std::string ascii;
  for (int c = 1; c < 0x80; ++c) ascii.push_back(static_cast<char>(c));
  std::string converted;
  if (!platform::host::ConvertEncoding(name.c_str(), "UTF-8", ascii, &converted) || converted != ascii) {
    *error = "code page '" + given + "' does not keep the ASCII characters as they are (an EBCDIC "
             "code page?); names in a self-extractor need one that does, such as 1252";
    return false;
  }
  codepage->name_ = name;
  return true;
}

bool Codepage::FromHostName(const std::filesystem::path& component, std::string* ansi) const {
#ifdef _WIN32
  const std::wstring wide = component.wstring();
  if (wide.empty()) return false;
  const unsigned cp = static_cast<unsigned>(atoi(name_.c_str() + 2));
  BOOL used_default = FALSE;
  int n = WideCharToMultiByte(cp, WC_NO_BEST_FIT_CHARS, wide.c_str(), static_cast<int>(wide.size()),
                              nullptr, 0, nullptr, &used_default);
  if (n <= 0 || used_default) return false;
  ansi->assign(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(cp, WC_NO_BEST_FIT_CHARS, wide.c_str(), static_cast<int>(wide.size()),
                      &(*ansi)[0], n, nullptr, &used_default);
  return !used_default;
#else
  return platform::host::ConvertEncoding("UTF-8", name_.c_str(), component.string(), ansi);
#endif
}

std::string Codepage::ToDisplay(const std::string& ansi) const {
#ifdef _WIN32
  return ansi;
#else
  std::string out;
  return platform::host::ConvertEncoding(name_.c_str(), "UTF-8", ansi, &out) ? out : ansi;
#endif
}
