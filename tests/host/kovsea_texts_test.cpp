// Translations of the stub's texts: .po files read with libgettextpo and refused for what
// would show badly, the room a text takes, and the resources a translation becomes.
#include <gtest/gtest.h>

#include <iconv.h>
#include <locale.h>
#include <stdlib.h>
#include <unistd.h>
#include <wchar.h>

#include <filesystem>
#include <fstream>

#include "dialog_template.h"
#include "languages.h"
#include "resource_tree.h"
#include "stub_image.h"
#include "stub_texts.h"
#include "string_table.h"
#include "text_measure.h"
#include "translations.h"
#include "utf16.h"
#include "whole_file.h"
#include "windows_stub.h"

namespace fs = std::filesystem;

namespace {

class Translations : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/kovsea-texts-XXXXXX";
    dir = mkdtemp(tmpl);
  }
  void TearDown() override { fs::remove_all(dir); }

  // A .po file for `language` with every text translated as "T:<context>", `change` applied
  // to the entry of `context` (its msgstr replaced, or the entry's lines replaced whole when
  // `whole_entry`).
  fs::path Po(const std::string& name, const std::string& language, const std::string& context = "",
              const std::string& change = "", bool whole_entry = false) {
    std::string text = "msgid \"\"\nmsgstr \"\"\n\"Language: " + language +
                       "\\n\"\n\"Content-Type: text/plain; charset=UTF-8\\n\"\n";
    for (const StubText& t : StubTexts()) {
      std::string entry = std::string("\nmsgctxt \"") + t.context + "\"\nmsgid \"" + t.english + "\"\nmsgstr \"" +
                          "T:" + t.context + "\"\n";
      if (context == t.context) {
        entry = whole_entry ? change
                            : std::string("\nmsgctxt \"") + t.context + "\"\nmsgid \"" + t.english + "\"\nmsgstr \"" +
                                  change + "\"\n";
      }
      text += entry;
    }
    const fs::path path = dir / name;
    std::ofstream(path) << text;
    return path;
  }

  // The problems of loading `files`; "" when they load.
  std::string Problems(const std::vector<fs::path>& files, bool allow_untranslated = false) {
    std::vector<Translation> loaded;
    ::Problems problems;
    LoadTranslations(files, allow_untranslated, &loaded, &problems);
    std::string text;
    for (const Problem& p : problems) text += ProblemText(p) + "\n";
    return text;
  }

  fs::path dir;
};

TEST_F(Translations, ACompleteFileLoadsWithItsLanguage) {
  std::vector<Translation> loaded;
  ::Problems problems;
  ASSERT_TRUE(LoadTranslations({Po("de.po", "de_DE")}, false, &loaded, &problems));
  ASSERT_EQ(loaded.size(), 1u);
  EXPECT_EQ(loaded[0].language->id, 0x0407);
  EXPECT_EQ(loaded[0].texts.size(), StubTexts().size());
  EXPECT_EQ(loaded[0].texts.at("IDCANCEL"), "T:IDCANCEL");
}

// Each refusal names the file and the entry; the fix is in the line too.
TEST_F(Translations, RefusesWhatWouldShowBadly) {
  const std::string fuzzy_entry = "\n#, fuzzy\nmsgctxt \"IDCANCEL\"\nmsgid \"&Cancel\"\nmsgstr \"&Abbrechen\"\n";
  struct Case {
    const char* language;
    const char* context;
    std::string change;
    bool whole_entry;
    const char* expected;
  } cases[] = {
      {"de", "IDCANCEL", fuzzy_entry, true, "entry \"IDCANCEL\": marked fuzzy"},
      {"de", "IDS_ERR_NOT_SEA", "", false, "entry \"IDS_ERR_NOT_SEA\": not translated"},
      {"de", "IDS_ERR_TEMP_DIR", "", true, "entry \"IDS_ERR_TEMP_DIR\": missing"},
      {"de", "IDCANCEL", "\nmsgctxt \"IDCANCEL\"\nmsgid \"Cancel\"\nmsgstr \"Abbrechen\"\n", true,
       "its msgid \"Cancel\" is not the stub's text"},
      {"de", "IDCANCEL", "\nmsgctxt \"IDOK\"\nmsgid \"OK\"\nmsgstr \"OK\"\n", true, "entry \"IDOK\": the stub has no such text"},
      {"", "", "", false, "names no language"},
      {"xx", "", "", false, "knows no Windows language for \"Language: xx\""},
      {"en_US", "", "", false, "US English, the stub's own language"},
      // Greek is shown in code page 1253, which has no Ł; Japanese in 932, which has no ä.
      {"el", "IDS_ERROR_TITLE", "Σφάλμα Łódź", false, "has 'Ł', which code page 1253 cannot spell"},
      {"ja", "IDS_ERROR_TITLE", "エラー ä", false, "has 'ä', which code page 932 cannot spell"},
      {"de", "IDCANCEL", "&Abbrechen jetzt", false, "is 15 average characters wide; the button holds 10"},
      {"ja", "IDCANCEL", "キャンセル(&C)", false, "is 13 average characters wide; the button holds 10"},
      {"de", "IDD_EXTRACT_PROGRESS", std::string(48, 'x'), false, "the dialog's caption holds 47"},
      {"de", "IDC_PROMPT", std::string(4 * 38, 'w'), false, "takes 5 lines of 37 average characters"},
      {"de", "IDC_PROMPT", "x\\n\\n\\ny", false, "takes 4 lines"},
      {"de", "IDCANCEL", "\nmsgctxt \"IDCANCEL\"\nmsgid \"&Cancel\nmsgstr \"x\"\n", true, "de.po: line"},
  };
  for (const Case& c : cases) {
    const std::string problems = Problems({Po("de.po", c.language, c.context, c.change, c.whole_entry)});
    EXPECT_NE(problems.find(c.expected), std::string::npos) << c.expected << "\ngot: " << problems;
    EXPECT_EQ(problems.rfind((dir / "de.po").string(), 0), 0u) << problems;
  }
}

TEST_F(Translations, AllowUntranslatedKeepsEnglishButNotForMissingEntries) {
  const std::string fuzzy = "\n#, fuzzy\nmsgctxt \"IDCANCEL\"\nmsgid \"&Cancel\"\nmsgstr \"&Abbrechen\"\n";
  std::vector<Translation> loaded;
  ::Problems problems;
  ASSERT_TRUE(LoadTranslations({Po("a.po", "de", "IDCANCEL", fuzzy, true)}, true, &loaded, &problems));
  EXPECT_EQ(loaded[0].texts.count("IDCANCEL"), 0u);  // English stays
  EXPECT_NE(Problems({Po("b.po", "fr", "IDCANCEL", "", true)}, true).find("missing"), std::string::npos);
}

TEST(Languages, RegionFormsMapToTheirWindowsLanguage) {
  struct Case {
    const char* header;
    int id;  // 0: unknown
  } cases[] = {{"de", 0x0407}, {"de_DE.UTF-8", 0x0407}, {"hu_HU", 0x040E}, {"de-AT", 0x0C07},
               {"pt", 0x0816}, {"pt_BR", 0x0416}, {"es_ES", 0x0C0A}, {"sr@latin", 0}, {"de_LU", 0}};
  for (const Case& c : cases) {
    const Language* language = FindLanguage(c.header);
    EXPECT_EQ(language ? language->id : 0, c.id) << c.header;
  }
}

TEST_F(Translations, TwoFilesForOneLanguageAreRefused) {
  const std::string problems = Problems({Po("de.po", "de"), Po("de_DE.po", "de_DE.UTF-8"), Po("ja.po", "ja")});
  EXPECT_NE(problems.find("de_DE.po: is de-DE, as " + (dir / "de.po").string() + " is"), std::string::npos) << problems;
  EXPECT_EQ(problems.find("ja.po"), std::string::npos) << problems;
}

TEST(TextMeasure, CountsAverageCharactersAndWrapsAsAStaticControl) {
  EXPECT_EQ(TextWidth("&Cancel"), 6);
  EXPECT_EQ(TextWidth("Save && quit"), 11);
  EXPECT_EQ(TextWidth("キャンセル"), 10);
  EXPECT_EQ(TextWidth("\xff"), -1);
  const struct {
    std::string text;
    int lines;  // wrapped to the prompt's 37 average characters
  } wrapped[] = {
      {FindStubText("IDC_PROMPT")->english, 3},
      {std::string(37, 'a') + " b", 2},
      {std::string(37, 'a'), 1},                        // a word that fills the line exactly
      {std::string(18, 'a') + " " + std::string(18, 'b'), 1},  // two words that fill it exactly
      {std::string(75, 'a'), 3},                        // a word longer than a line breaks
      {std::string(74, 'a'), 2},
      {"あいうえおかきくけこさしすせそたちつてと", 2},  // 40 units, no blanks needed
  };
  ASSERT_EQ(RoomOf(TextPlace::kPrompt).width, 37);
  for (const auto& w : wrapped) EXPECT_EQ(WrappedLines(w.text, 37), w.lines) << w.text;
  // Every English text fits its own room.
  for (const StubText& t : StubTexts()) {
    if (t.place == TextPlace::kMessage) continue;
    const TextRoom room = RoomOf(t.place);
    EXPECT_LE(WrappedLines(t.english, room.width), room.lines) << t.context;
  }
}

// Which characters count twice: those glibc's wcwidth (from Unicode's East Asian Width) gives
// two columns, the independent reader of what fonts draw full width.
TEST(TextMeasure, FullWidthCharactersAreTheOnesWcwidthCountsTwice) {
  const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
  ASSERT_NE(utf8, static_cast<locale_t>(0));
  const locale_t was = uselocale(utf8);
  // Latin, Cyrillic, Thai, hangul jamo and syllables (first and last), kana, an ideograph,
  // full-width and half-width forms, an ideograph beyond the BMP.
  for (const char* c : {"a", "\xc3\xa9", "\xd0\x96", "\xe0\xb8\x81", "\xe1\x84\x80", "\xea\xb0\x80", "\xed\x9e\xa3",
                        "\xea\xb8\x80", "\xe3\x81\x82", "\xe3\x82\xa2", "\xe6\xbc\xa2", "\xef\xbc\xa1",
                        "\xef\xbd\xb1", "\xef\xbf\xa6", "\xf0\xa0\x80\x8b"}) {
    wchar_t wide[2] = {};
    ASSERT_EQ(mbstowcs(wide, c, 2), 1u) << c;
    EXPECT_EQ(TextWidth(c), wcwidth(wide[0])) << c;
  }
  uselocale(was);
  freelocale(utf8);
}

// The code page each language is shown in spells a word of that language, as iconv converts it.
TEST(Languages, EachCodePageSpellsItsLanguage) {
  const struct {
    const char* language;
    const char* word;
  } cases[] = {
      {"ko", "취소"},      {"ja", "キャンセル"}, {"zh_CN", "取消"},   {"zh_TW", "取消"}, {"zh_HK", "取消"},
      {"ru", "Отмена"},    {"el", "Άκυρο"},      {"he", "ביטול"},     {"ar", "إلغاء"},   {"th", "ยกเลิก"},
      {"tr", "İptal"},     {"pl", "Łódź"},       {"cs", "Zrušit"},    {"lt", "Atšaukti"}, {"de", "Grüße"},
  };
  for (const auto& c : cases) {
    const Language* language = FindLanguage(c.language);
    ASSERT_NE(language, nullptr) << c.language;
    const std::string codepage = "CP" + std::to_string(language->codepage);
    const iconv_t cd = iconv_open(codepage.c_str(), "UTF-8");
    ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1)) << codepage;
    std::string in = c.word;
    char out[64];
    char* from = &in[0];
    char* to = out;
    size_t from_left = in.size();
    size_t to_left = sizeof out;
    EXPECT_NE(iconv(cd, &from, &from_left, &to, &to_left), static_cast<size_t>(-1))
        << c.language << ": code page " << language->codepage << " cannot spell " << c.word;
    iconv_close(cd);
  }
}

TEST(StringTable, BlocksRoundTripAndACutBlockIsRefused) {
  pe::StringBlock block;
  block.strings[7] = u"Grüße";
  block.strings[15] = u"x";
  const std::string bytes = pe::BuildStringBlock(block);
  EXPECT_EQ(bytes.size(), 16u * 2 + 2 * 6);
  pe::StringBlock back;
  Problem problem;
  ASSERT_TRUE(pe::ParseStringBlock(bytes, &back, &problem));
  EXPECT_EQ(back.strings[7], u"Grüße");
  EXPECT_EQ(back.strings[15], u"x");
  EXPECT_FALSE(pe::ParseStringBlock(bytes.substr(0, bytes.size() - 1), &back, &problem));
  EXPECT_EQ(pe::StringBlockName(5084), 318);
}

// The stub's own template, translated: caption, prompt and button replaced, everything else
// (styles, positions, the icon by ordinal, the progress bar) byte for byte as before.
TEST(StubTranslation, TheStubsDialogAndMessagesInGerman) {
  std::string stub;
  ASSERT_TRUE(test::WindowsStubBuilt());
  ASSERT_TRUE(ReadWholeFile(KOVSEA_STUB, &stub));
  char tmpl[] = "/tmp/kovsea-texts-XXXXXX";
  const fs::path dir = mkdtemp(tmpl);
  std::string po = "msgid \"\"\nmsgstr \"\"\n\"Language: de\\n\"\n\"Content-Type: text/plain; charset=UTF-8\\n\"\n";
  for (const StubText& t : StubTexts()) {
    const std::string text = std::string(t.context) == "IDCANCEL" ? "&Abbrechen"
                             : std::string(t.context) == "IDS_ERR_NOT_SEA" ? ""
                                                                            : "Ü " + std::string(t.context);
    po += std::string("\nmsgctxt \"") + t.context + "\"\nmsgid \"" + t.english + "\"\nmsgstr \"" + text + "\"\n";
  }
  std::ofstream(dir / "de.po") << po;
  PackOptions options;
  options.stub = KOVSEA_STUB;
  options.texts = {dir / "de.po"};
  options.allow_untranslated = true;
  std::string prepared;
  Problems problems;
  ASSERT_TRUE(PrepareStub(options, &prepared, &problems)) << (problems.empty() ? "" : ProblemText(problems[0]));
  fs::remove_all(dir);
  EXPECT_EQ(StubLanguages(prepared), (std::vector<uint16_t>{0x0407, 0x0409}));

  pe::ResourceTree tree;
  Problem problem;
  ASSERT_TRUE(pe::ReadResources(prepared, &tree, &problem));
  auto& dialogs = tree[pe::ResourceId::Number(pe::kTypeDialog)][pe::ResourceId::Number(1020)];
  pe::DialogTexts german, english;
  ASSERT_TRUE(pe::ReadDialogTexts(dialogs[0x0407], &german, &problem));
  ASSERT_TRUE(pe::ReadDialogTexts(dialogs[0x0409], &english, &problem));
  EXPECT_EQ(Utf8(*german.caption), "Ü IDD_EXTRACT_PROGRESS");
  EXPECT_EQ(Utf8(german.controls.at(2)), "&Abbrechen");
  EXPECT_EQ(Utf8(german.controls.at(200)), "Ü IDC_PROMPT");
  EXPECT_EQ(german.controls.at(1010), english.controls.at(1010));
  EXPECT_EQ(german.typeface, english.typeface);
  // Put the English texts back into the German copy: the very bytes of the English template.
  std::string back;
  ASSERT_TRUE(pe::RewriteDialog(dialogs[0x0407], english, &back, &problem));
  EXPECT_EQ(back, dialogs[0x0409]);

  auto& blocks = tree[pe::ResourceId::Number(pe::kTypeString)][pe::ResourceId::Number(318)];
  pe::StringBlock de, en;
  ASSERT_TRUE(pe::ParseStringBlock(blocks[0x0407], &de, &problem));
  ASSERT_TRUE(pe::ParseStringBlock(blocks[0x0409], &en, &problem));
  EXPECT_EQ(Utf8(de.strings[5082 % 16]), "Ü IDS_ERROR_TITLE");
  EXPECT_EQ(de.strings[5084 % 16], en.strings[5084 % 16]);  // untranslated: English kept
  EXPECT_EQ(Utf8(en.strings[5084 % 16]), "This is not a valid KOV SEA file!");
}

TEST(DialogTemplate, ACutTemplateIsRefused) {
  pe::DialogTexts texts;
  Problem problem;
  EXPECT_FALSE(pe::ReadDialogTexts(std::string("\x01\x00\xff\xff", 4), &texts, &problem));
  EXPECT_FALSE(pe::ReadDialogTexts(std::string(40, '\0'), &texts, &problem));
}

}  // namespace
