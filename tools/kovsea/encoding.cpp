#include "encoding.h"

#include <ctype.h>
#include <stdlib.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include "host_files.h"

namespace {

#ifdef _WIN32
unsigned CodepageNumber(const std::string& name) { return static_cast<unsigned>(atoi(name.c_str() + 2)); }
#else
bool Iconv(const std::string& from, const std::string& to, const std::string& in, std::string* out) {
  return platform::host::ConvertEncoding(from.c_str(), to.c_str(), in, out);
}
#endif

}  // namespace

std::string CodepageName(const std::string& argument) {
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

bool HostNameToAnsi(const std::filesystem::path& component, const std::string& codepage,
                    std::string* ansi) {
#ifdef _WIN32
  const std::wstring wide = component.wstring();
  if (wide.empty()) return false;
  const unsigned cp = CodepageNumber(codepage);
  BOOL used_default = FALSE;
  int n = WideCharToMultiByte(cp, WC_NO_BEST_FIT_CHARS, wide.c_str(), static_cast<int>(wide.size()),
                              nullptr, 0, nullptr, &used_default);
  if (n <= 0 || used_default) return false;
  ansi->assign(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(cp, WC_NO_BEST_FIT_CHARS, wide.c_str(), static_cast<int>(wide.size()),
                      &(*ansi)[0], n, nullptr, &used_default);
  return !used_default;
#else
  return Iconv("UTF-8", codepage, component.string(), ansi);
#endif
}

std::string AnsiToDisplay(const std::string& ansi, const std::string& codepage) {
#ifdef _WIN32
  (void)codepage;
  return ansi;
#else
  std::string out;
  return Iconv(codepage, "UTF-8", ansi, &out) ? out : ansi;
#endif
}
