#include "stub_texts.h"

#include "messages.h"
#include "resource_ids.h"

namespace {

// When each message appears, for the translator; the messages themselves come from the
// stub's own table, so the template cannot drift from what the stub shows.
const char* MessageWhen(int id) {
  switch (id) {
    case IDS_ERR_CREATE_FILE:
      return "Message box: a file of the installer cannot be written to the temporary directory. "
             "The box's caption is the file's path.";
    case IDS_ERR_START_EXE:
      return "Message box: the installer (Disk1\\Setup.exe) cannot be started. The box's caption "
             "is its command line.";
    case IDS_ERR_CREATE_ADMIN:
      return "Message box: one of the installer's settings files cannot be written. The box's "
             "caption is the file's path.";
    case IDS_ERROR_TITLE:
      return "Caption of the message boxes that say the file is damaged or the temporary "
             "directory cannot be made.";
    case IDS_ERR_NOT_SEA:
      return "Message box: the program file is damaged or incomplete (a broken download).";
    case IDS_ERR_TEMP_DIR:
      return "Message box: no working directory can be made in the user's temporary directory.";
  }
  return "";
}

std::vector<StubText> MakeTexts() {
  std::vector<StubText> texts;
#define KOVSEA_TEXT(name, number, text) \
  texts.push_back(StubText{#name, text, MessageWhen(number), TextPlace::kMessage, number});
  KOVSEA_MESSAGES(KOVSEA_TEXT)
#undef KOVSEA_TEXT
  texts.push_back(StubText{"IDD_EXTRACT_PROGRESS", PROGRESS_DIALOG_CAPTION,
                           "Caption of the progress dialog shown while the files are extracted.",
                           TextPlace::kCaption, 0});
  texts.push_back(StubText{"IDC_PROMPT", PROGRESS_DIALOG_PROMPT,
                           "Text of the progress dialog, above its progress bar; wrapped onto at "
                           "most three lines.",
                           TextPlace::kPrompt, IDC_PROMPT});
  texts.push_back(StubText{"IDCANCEL", PROGRESS_DIALOG_CANCEL,
                           "The progress dialog's only button; it stops the extraction. The "
                           "character after & is its keyboard shortcut.",
                           TextPlace::kButton, 2});
  return texts;
}

// A string as a .po file spells it: quoted, with backslashes and quotes escaped.
std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out.push_back('\\');
    out.push_back(c);
  }
  return out + "\"";
}

}  // namespace

const std::vector<StubText>& StubTexts() {
  static const std::vector<StubText> texts = MakeTexts();
  return texts;
}

const StubText* FindStubText(const std::string& context) {
  for (const StubText& text : StubTexts()) {
    if (context == text.context) return &text;
  }
  return nullptr;
}

std::string TemplateText(const std::string& kovsea_version) {
  std::string out =
      "# The texts a KOV self-extractor shows, for `kovsea pack --texts FILE.po`.\n"
      "# Make a translation with: msginit -i kovsea.pot -l LANGUAGE -o LANGUAGE.po\n"
      "#\n"
      "#, fuzzy\n"
      "msgid \"\"\n"
      "msgstr \"\"\n"
      "\"Project-Id-Version: kovsea " + kovsea_version + "\\n\"\n"
      "\"PO-Revision-Date: YEAR-MO-DA HO:MI+ZONE\\n\"\n"
      "\"Last-Translator: FULL NAME <EMAIL@ADDRESS>\\n\"\n"
      "\"Language-Team: LANGUAGE <LL@li.org>\\n\"\n"
      "\"Language: \\n\"\n"
      "\"MIME-Version: 1.0\\n\"\n"
      "\"Content-Type: text/plain; charset=UTF-8\\n\"\n"
      "\"Content-Transfer-Encoding: 8bit\\n\"\n";
  for (const StubText& text : StubTexts()) {
    out += "\n#. " + std::string(text.when) + "\n";
    out += "msgctxt " + Quoted(text.context) + "\n";
    out += "msgid " + Quoted(text.english) + "\n";
    out += "msgstr \"\"\n";
  }
  return out;
}
