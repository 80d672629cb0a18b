// Translations of the stub's texts, read from translators' .po files and checked for
// everything that would show badly at the user's site: a text the file lacks or the stub
// does not have, one not yet translated or still fuzzy, a language kovsea cannot map to
// Windows or given twice, a character the language's ANSI code page cannot spell (the stub
// shows its texts through the ANSI functions), and a caption, prompt or button text longer
// than the dialog's room for it (text_measure.h).
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "languages.h"
#include "problem.h"

struct Translation {
  std::filesystem::path file;
  const Language* language = nullptr;
  // The translated texts by context (stub_texts.h), UTF-8. A text left out keeps the stub's
  // English, which only --allow-untranslated permits.
  std::map<std::string, std::string> texts;
};

// Reads and checks every file, reporting every problem of every file at once; false when
// there is one, and then `translations` is not to be used.
bool LoadTranslations(const std::vector<std::filesystem::path>& files, bool allow_untranslated,
                      std::vector<Translation>* translations, Problems* problems);
