// The languages a self-extractor's texts can be given in: a .po file's "Language:" value
// (ll or ll_CC, as gettext spells it) mapped to the Windows language id its resources carry,
// the ANSI code page Windows shows that language's texts in, and the tag people read.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

struct Language {
  const char* po_name;  // "de", "pt_BR"
  uint16_t id;          // the Windows language id (0x0407)
  uint16_t codepage;    // the language's ANSI code page (1252)
  const char* tag;      // "de-DE"
};

// The language a "Language:" header value names ("de", "de_DE", "de_DE.UTF-8", "de-DE"),
// or null when it names none this table knows.
const Language* FindLanguage(const std::string& header_value);
// The language of a Windows language id, or null.
const Language* LanguageById(uint16_t id);
// A language id as people read it: "de-DE (0x0407)", or "0x0407" when unknown.
std::string DescribeLanguage(uint16_t id);
// Languages as a list shows them: "en-US (0x0409), de-DE (0x0407)", or "none".
std::string LanguagesText(const std::vector<uint16_t>& ids);
// Languages as JSON: [{"id": 1033, "tag": "en-US"}, ...], the tag null when unknown.
std::string LanguagesJson(const std::vector<uint16_t>& ids);
