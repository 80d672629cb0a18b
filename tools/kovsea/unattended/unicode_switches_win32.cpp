// The installer's switches read again from the process's wide command line (Windows only).
#include "unicode_switches.h"

#include <windows.h>
#include <shellapi.h>

#include "command_line.h"

namespace {

// `wide` in code page `codepage`; false when a character does not convert exactly.
bool Narrow(UINT codepage, const wchar_t* wide, std::string* out) {
  BOOL used_default = FALSE;
  const bool exact_only = codepage != CP_UTF8;
  const DWORD flags = exact_only ? WC_NO_BEST_FIT_CHARS : 0;
  const int length = WideCharToMultiByte(codepage, flags, wide, -1, nullptr, 0, nullptr, exact_only ? &used_default : nullptr);
  if (length <= 0 || used_default) return false;
  out->assign(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(codepage, flags, wide, -1, &(*out)[0], length, nullptr, nullptr);
  out->resize(static_cast<size_t>(length) - 1);
  return true;
}

}  // namespace

bool UnicodeSwitches(const std::vector<std::string>& ansi, std::string* utf8) {
  utf8->clear();
  std::string narrow;
  if (ansi.empty() || Narrow(CP_ACP, GetCommandLineW(), &narrow)) return true;
  int count = 0;
  wchar_t** words = CommandLineToArgvW(GetCommandLineW(), &count);
  if (words == nullptr) return false;
  // The switches are the last words of the command line, after `--`.
  bool matched = static_cast<size_t>(count) > ansi.size();
  std::vector<std::string> switches;
  for (size_t i = 0; matched && i < ansi.size(); ++i) {
    const wchar_t* word = words[static_cast<size_t>(count) - ansi.size() + i];
    std::string as_ansi;
    const int length = WideCharToMultiByte(CP_ACP, 0, word, -1, nullptr, 0, nullptr, nullptr);
    as_ansi.assign(length > 0 ? static_cast<size_t>(length) : 1u, '\0');
    WideCharToMultiByte(CP_ACP, 0, word, -1, &as_ansi[0], length, nullptr, nullptr);
    as_ansi.resize(as_ansi.size() - 1);
    std::string in_utf8;
    matched = as_ansi == ansi[i] && Narrow(CP_UTF8, word, &in_utf8);
    switches.push_back(in_utf8);
  }
  LocalFree(words);
  if (matched) *utf8 = JoinArguments(switches);
  return matched;
}
