#include "translations.h"

#include "host_files.h"
#include "po_file.h"
#include "stub_texts.h"
#include "text_measure.h"

namespace fs = std::filesystem;

namespace {

constexpr char kAllowHint[] = ", or pack with --allow-untranslated to show the English text for it";
constexpr char kMergeHint[] = "bring the file up to date: msgmerge -U FILE.po kovsea.pot, kovsea.pot made by kovsea texts --template";

struct FileCheck {
  const fs::path& file;
  Problems* problems;

  void Add(const std::string& what, const std::string& fix) {
    problems->push_back(Problem{file.string(), std::nullopt, what, fix});
  }
  void AddEntry(const std::string& context, const std::string& what, const std::string& fix) {
    Add("entry \"" + context + "\": " + what, fix);
  }
};

const char* PlaceName(TextPlace place) {
  switch (place) {
    case TextPlace::kCaption: return "the dialog's caption";
    case TextPlace::kPrompt: return "the dialog's text";
    case TextPlace::kButton: return "the button";
    case TextPlace::kMessage: break;
  }
  return "the message box";
}

// The first character of `utf8` that code page `codepage` cannot spell, or empty.
std::string Unspellable(const std::string& utf8, unsigned codepage) {
  const std::string target = "CP" + std::to_string(codepage);
  std::string ansi;
  if (platform::host::ConvertEncoding("UTF-8", target.c_str(), utf8, &ansi)) return std::string();
  for (size_t i = 0; i < utf8.size();) {
    size_t n = 1;
    while (i + n < utf8.size() && (static_cast<unsigned char>(utf8[i + n]) & 0xC0) == 0x80) ++n;
    const std::string one = utf8.substr(i, n);
    if (!platform::host::ConvertEncoding("UTF-8", target.c_str(), one, &ansi)) return one;
    i += n;
  }
  return utf8;
}

// Whether `text` fits its place; the problem when it does not.
void CheckRoom(const StubText& stub_text, const std::string& text, FileCheck* check) {
  if (stub_text.place == TextPlace::kMessage) return;
  const TextRoom room = RoomOf(stub_text.place);
  const int lines = WrappedLines(text, room.width);
  if (lines <= room.lines) return;
  const std::string what =
      room.lines == 1
          ? "\"" + text + "\" is " + std::to_string(TextWidth(text)) + " average characters wide; " +
                PlaceName(stub_text.place) + " holds " + std::to_string(room.width)
          : "\"" + text + "\" takes " + std::to_string(lines) + " lines of " + std::to_string(room.width) +
                " average characters; " + PlaceName(stub_text.place) + " shows " + std::to_string(room.lines);
  check->AddEntry(stub_text.context, what, "shorten it (a full-width character counts as two)");
}

void CheckEntry(const PoEntry& entry, const Language& language, bool allow_untranslated, FileCheck* check,
                Translation* translation) {
  const StubText* stub_text = FindStubText(entry.context);
  if (stub_text == nullptr || entry.plural) {
    check->AddEntry(entry.context, "the stub has no such text (msgid \"" + entry.id + "\")",
                    "remove it; the texts are those of kovsea texts --template");
    return;
  }
  if (entry.id != stub_text->english) {
    check->AddEntry(entry.context, "its msgid \"" + entry.id + "\" is not the stub's text \"" +
                                       stub_text->english + "\"",
                    kMergeHint);
    return;
  }
  if (entry.text.empty() || entry.fuzzy) {
    if (!allow_untranslated) {
      check->AddEntry(entry.context, entry.text.empty() ? "not translated" : "marked fuzzy (not yet reviewed)",
                      entry.text.empty() ? std::string("translate it") + kAllowHint
                                         : std::string("review it and remove the fuzzy flag") + kAllowHint);
    }
    return;
  }
  if (TextWidth(entry.text) < 0) {
    check->AddEntry(entry.context, "its text is not valid UTF-8", "save the file as UTF-8");
    return;
  }
  const std::string bad = Unspellable(entry.text, language.codepage);
  if (!bad.empty()) {
    check->AddEntry(entry.context,
                    "\"" + entry.text + "\" has '" + bad + "', which code page " + std::to_string(language.codepage) +
                        " cannot spell (Windows shows " + language.tag + " texts in it)",
                    "write it with characters of code page " + std::to_string(language.codepage));
    return;
  }
  const size_t before = check->problems->size();
  CheckRoom(*stub_text, entry.text, check);
  if (check->problems->size() == before) translation->texts[entry.context] = entry.text;
}

}  // namespace

bool LoadTranslations(const std::vector<fs::path>& files, bool allow_untranslated,
                      std::vector<Translation>* translations, Problems* problems) {
  const size_t before = problems->size();
  std::map<uint16_t, fs::path> seen;
  for (const fs::path& file : files) {
    FileCheck check{file, problems};
    PoFile po;
    if (!ReadPoFile(file, &po, problems)) continue;
    const Language* language = FindLanguage(po.language);
    if (po.language.empty()) {
      check.Add("names no language", "set its header's Language: field (Language: de, say)");
      continue;
    }
    if (language == nullptr) {
      check.Add("kovsea knows no Windows language for \"Language: " + po.language + "\"",
                "give a language as gettext names it: de, fr, ja, pt_BR, zh_CN, ...");
      continue;
    }
    if (language->id == 0x0409) {
      check.Add("is US English, the stub's own language", "leave it out; the stub's texts are its English");
      continue;
    }
    const auto earlier = seen.find(language->id);
    if (earlier != seen.end()) {
      check.Add(std::string("is ") + language->tag + ", as " + earlier->second.string() + " is",
                "give one file per language");
      continue;
    }
    seen[language->id] = file;
    Translation translation;
    translation.file = file;
    translation.language = language;
    std::map<std::string, bool> present;
    for (const PoEntry& entry : po.entries) {
      present[entry.context] = true;
      CheckEntry(entry, *language, allow_untranslated, &check, &translation);
    }
    for (const StubText& text : StubTexts()) {
      if (!present.count(text.context)) check.AddEntry(text.context, "missing", kMergeHint);
    }
    translations->push_back(translation);
  }
  return problems->size() == before;
}
