// The texts the stub can show, as translators see them: each with the identifier that names
// it in a .po file (its msgctxt), its English text (the msgid), when it appears, and where it
// stands, which decides how long it may be.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

enum class TextPlace {
  kMessage,  // a message box's text or caption: the box grows to fit it
  kCaption,  // the progress dialog's caption
  kPrompt,   // the progress dialog's wrapped text above the bar
  kButton,   // the progress dialog's Cancel button
};

struct StubText {
  const char* context;  // msgctxt: the resource's identifier, which never changes
  const char* english;  // msgid
  const char* when;     // the translator's comment: when the text appears
  TextPlace place;
  uint16_t id;          // the string's number, or the control's (0: the dialog's caption)
};

// Every text, messages first, in the order a template lists them.
const std::vector<StubText>& StubTexts();
// The text of `context`, or null.
const StubText* FindStubText(const std::string& context);

// A gettext template (.pot) holding every text with its comment, in UTF-8.
std::string TemplateText(const std::string& kovsea_version);
