// A translator's .po file, read with GNU gettext's libgettextpo: its language, and each
// message with where it stands. The Windows build of kovsea has no libgettextpo and reads
// none (ReadPoFile refuses there).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "problem.h"

struct PoEntry {
  std::string context;  // msgctxt ("" when there is none)
  std::string id;       // msgid, UTF-8
  std::string text;     // msgstr, UTF-8; empty when untranslated
  bool fuzzy = false;
  bool plural = false;  // the entry has a msgid_plural, which no stub text has
};

struct PoFile {
  std::string language;  // the header's "Language:" value, as written
  std::vector<PoEntry> entries;  // in file order; the header and obsolete entries left out
};

// Reads `path`; false with `problems` ("FILE: line N: what", as libgettextpo says it) when it cannot be read or is
// not a well-formed .po file. Texts in another charset than UTF-8 are converted to it.
bool ReadPoFile(const std::filesystem::path& path, PoFile* po, Problems* problems);
